// UPDATE alias ... FROM: SQLite names the updated table after UPDATE and leaves it out of
// FROM, so the target moves there, with its join conditions moved to WHERE.
#include <utility>

#include "hostkit/dialect/statement_translator.h"

namespace orba::hostkit::dialect {
namespace {

constexpr std::string_view kUpdateQualifiedTarget =
    "UPDATE target that is not a single name, with FROM";
constexpr std::string_view kUpdateTargetNotInFrom =
    "UPDATE target alias that does not occur in its FROM";
constexpr std::string_view kUpdateDerivedTarget = "UPDATE target that is a derived table";
constexpr std::string_view kUpdateSetOtherTable =
    "SET column of a table other than the UPDATE target";
constexpr std::string_view kUpdateSetNotColumn = "SET item that is not 'column = value'";

constexpr std::string_view kAs = " AS ";
constexpr std::string_view kWhere = " WHERE ";

const Words kOuterJoinWords = {"LEFT", "RIGHT", "FULL", "OUTER"};

}  // namespace

// UPDATE alias SET alias.col=... FROM table alias [JOIN ...] WHERE ... becomes
// UPDATE table AS alias SET col=... FROM <the others> WHERE (<its join>) AND (<where>).
void StatementTranslator::PlanUpdate(std::size_t b, std::size_t e) {
    RefuseOwnOuterJoinOps(b, e, kOuterJoinInUpdate);
    UpdateClauses c;
    if (!LocateUpdateClauses(b, e, c)) return;  // a plain UPDATE table SET ... runs as it is

    std::vector<std::size_t> commas;
    const std::vector<Range> groups = SplitCommas(c.from + 1, c.from_end, commas);
    std::vector<std::vector<JoinedItem>> chains;
    for (const Range& g : groups) chains.push_back(ParseJoinChain(g.b, g.e));
    const UpdateTarget target = FindUpdateTarget(chains, c);

    // Conditions that name the target cannot stay in SQLite's FROM (the target is not part
    // of it); as all joins here are inner joins, moving them to WHERE keeps the meaning.
    UpdateEdits edits;
    DetachTarget(groups, commas, chains[target.group], target, c.from, edits);
    MoveTargetConditions(chains, target, c.target, edits);
    // SET targets lose the alias: SQLite wants bare column names there.
    UnqualifySetColumns(c, edits.deletions);

    replace_[b + 1] = TargetText(chains[target.group][target.pos].item);
    std::string conditions;
    for (const Range& cond : edits.moved) {
        if (!conditions.empty()) conditions += kAnd;
        conditions += "(" + Render(cond.b, cond.e) + ")";
    }
    for (const Range& r : edits.deletions) Delete(r);
    if (!conditions.empty()) AddMovedConditions(conditions, c);
}

// Finds SET, FROM and WHERE of the UPDATE in [b, e); false when it has no FROM (or no SET)
// and so needs no rewriting. An UPDATE ... FROM must name its target by a single name.
bool StatementTranslator::LocateUpdateClauses(std::size_t b, std::size_t e,
                                              UpdateClauses& c) const {
    c.update = b;
    c.end = e;
    c.set = FindTopLevel(b + 1, e, {"SET"});
    if (c.set == kNone) return false;
    c.from = FindTopLevel(c.set + 1, e, {"FROM"});
    if (c.from == kNone) return false;
    c.where = FindTopLevel(c.from + 1, e, {"WHERE"});
    c.from_end = FindTopLevel(c.from + 1, e, {"WHERE", "OPTION"});
    if (c.from_end == kNone) c.from_end = e;
    if (c.set != b + 2 || !Name(b + 1)) Refuse(kUpdateQualifiedTarget, {b, c.set});
    c.target = NormalizedName(Tok(b + 1));
    return true;
}

// Where the UPDATE's target stands among the join chains of its FROM. It must stand there
// exactly once, as a table rather than a sub-select.
UpdateTarget StatementTranslator::FindUpdateTarget(
    const std::vector<std::vector<JoinedItem>>& chains, const UpdateClauses& c) const {
    std::size_t group = kNone;
    std::size_t pos = kNone;
    for (std::size_t g = 0; g < chains.size(); ++g) {
        for (std::size_t p = 0; p < chains[g].size(); ++p) {
            if (chains[g][p].item.exposed != c.target) continue;
            if (group != kNone) Refuse(kDuplicateFromName, {c.from, c.from_end});
            group = g;
            pos = p;
        }
    }
    if (group == kNone) Refuse(kUpdateTargetNotInFrom, {c.update, c.from_end});
    const FromItem& item = chains[group][pos].item;
    if (item.name.e == item.name.b) Refuse(kUpdateDerivedTarget, item.range);
    return {group, pos};
}

// Leaves the target out of FROM, moving its own join condition to WHERE. When the target
// comes first in a chain of joins, the table after it takes its place and gives up its join
// keywords and condition.
void StatementTranslator::DetachTarget(const std::vector<Range>& groups,
                                       const std::vector<std::size_t>& commas,
                                       const std::vector<JoinedItem>& chain, UpdateTarget target,
                                       std::size_t from, UpdateEdits& edits) const {
    if (chain.size() == 1) {
        std::vector<char> removed(groups.size(), 0);
        removed[target.group] = 1;
        RemoveFromList(groups, commas, removed, edits.deletions);
        if (groups.size() == 1) edits.deletions.push_back({from, from + 1});
    } else if (target.pos > 0) {
        edits.deletions.push_back(chain[target.pos].Whole());
        if (chain[target.pos].on != kNone) edits.moved.push_back(chain[target.pos].cond);
    } else {
        const JoinedItem& next = chain[1];
        edits.deletions.push_back(chain[target.pos].item.range);
        edits.deletions.push_back({next.join_begin, next.item.range.b});
        if (next.on != kNone) {
            edits.deletions.push_back({next.on, next.cond.e});
            edits.moved.push_back(next.cond);
        }
    }
}

// Moves to WHERE the join conditions of the other tables that name the target, leaving out
// those DetachTarget has dealt with: the target's own and, when the target comes first in its
// chain, that of the table after it.
void StatementTranslator::MoveTargetConditions(const std::vector<std::vector<JoinedItem>>& chains,
                                               UpdateTarget target, const std::string& target_name,
                                               UpdateEdits& edits) const {
    const std::set<std::string> target_names{target_name};
    for (std::size_t g = 0; g < chains.size(); ++g) {
        for (std::size_t p = 0; p < chains[g].size(); ++p) {
            const JoinedItem& j = chains[g][p];
            const bool handled =
                g == target.group && (p == target.pos || (target.pos == 0 && p == 1));
            if (handled || j.on == kNone || !References(j.cond, target_names)) continue;
            edits.deletions.push_back({j.on, j.cond.e});
            edits.moved.push_back(j.cond);
        }
    }
}

// `alias.column = value` items of SET lose their alias; an alias other than the target's, or
// an item that is not `column = value`, is refused.
void StatementTranslator::UnqualifySetColumns(const UpdateClauses& c,
                                              std::vector<Range>& deletions) const {
    std::vector<std::size_t> set_commas;
    for (const Range& a : SplitCommas(c.set + 1, c.from, set_commas)) {
        if (a.b + 3 < a.e && Name(a.b) && Sym(a.b + 1, ".") && Name(a.b + 2) && Sym(a.b + 3, "=")) {
            if (NormalizedName(Tok(a.b)) != c.target) Refuse(kUpdateSetOtherTable, a);
            deletions.push_back({a.b, a.b + 2});
        } else if (!(a.b + 1 < a.e && Name(a.b) && Sym(a.b + 1, "="))) {
            Refuse(kUpdateSetNotColumn, a);
        }
    }
}

// The target as it is written after UPDATE: `table AS alias`.
std::string StatementTranslator::TargetText(const FromItem& target) {
    std::string text = Render(target.name.b, target.name.e);
    if (target.alias != kNone) {
        text += kAs;
        text += RenderToken(target.alias);
    }
    return text;
}

// Puts the moved join `conditions` in front of the WHERE condition, or makes them the WHERE
// clause when there is none.
void StatementTranslator::AddMovedConditions(const std::string& conditions,
                                             const UpdateClauses& c) {
    if (c.where != kNone && c.where + 1 < c.end) {
        std::size_t where_end = FindTopLevel(c.where + 1, c.end, {"OPTION"});
        if (where_end == kNone) where_end = c.end;
        before_[c.where + 1] += conditions + std::string(kAnd) + "(";
        after_[where_end - 1] += ")";
    } else {
        std::size_t anchor = c.from_end - 1;
        while (deleted_[anchor]) --anchor;
        after_[anchor] += std::string(kWhere) + conditions;
    }
}

// The first depth-0 join keyword or ON in [b, e), or e.
std::size_t StatementTranslator::NextJoinBoundary(std::size_t b, std::size_t e) const {
    for (std::size_t k = b; k < e; ++k) {
        if (Sym(k, "(")) {
            k = match_[k];
        } else if (IsJoinWord(k) || Kw(k, "ON")) {
            return k;
        }
    }
    return e;
}

// The tables of one comma-separated part of an UPDATE's FROM: the first table and those
// inner-joined to it. Outer and natural joins are refused.
std::vector<JoinedItem> StatementTranslator::ParseJoinChain(std::size_t b, std::size_t e) const {
    std::vector<JoinedItem> chain;
    std::size_t k = NextJoinBoundary(b, e);
    if (Kw(k, "ON") && k < e) Refuse(kUnsupportedFromItem, {b, e});
    chain.push_back({ParseFromItem(b, k)});
    while (k < e) {
        JoinedItem j;
        j.join_begin = k;
        bool outer = false;
        while (k < e && IsJoinWord(k) && !Kw(k, "JOIN"))
            outer = outer || AnyKw(k++, kOuterJoinWords);
        if (outer) Refuse(kOuterJoinInUpdate, {j.join_begin, e});
        if (!Kw(k, "JOIN") || k >= e || Kw(j.join_begin, "NATURAL"))
            Refuse(kUnsupportedFromItem, {j.join_begin, e});
        const std::size_t item_begin = ++k;
        k = NextJoinBoundary(item_begin, e);
        j.item = ParseFromItem(item_begin, k);
        if (k < e && Kw(k, "ON")) {
            j.on = k;
            k = NextJoinBoundary(k + 1, e);
            j.cond = {j.on + 1, k};
        }
        chain.push_back(std::move(j));
    }
    return chain;
}

}  // namespace orba::hostkit::dialect
