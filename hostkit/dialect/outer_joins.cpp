// SELECT blocks with the old outer-join operators (*= and =*): the predicates are sorted out
// of WHERE and the optional tables are joined to their preserved ones with LEFT JOIN ... ON.
#include <algorithm>
#include <utility>

#include "hostkit/dialect/statement_translator.h"

namespace orba::hostkit::dialect {
namespace {

constexpr std::string_view kOuterJoinUnderOr = "outer join operator (*= or =*) under OR";
constexpr std::string_view kOuterJoinUnderNot = "outer join operator (*= or =*) under NOT";
constexpr std::string_view kOuterJoinOperands =
    "outer join operator (*= or =*) whose sides are not columns of two different tables of its "
    "FROM list";
constexpr std::string_view kOuterJoinWithJoinSyntax =
    "outer join operator (*= or =*) together with JOIN syntax in the same FROM";
constexpr std::string_view kOuterJoinTwoPreserved =
    "table outer-joined (*= or =*) to two different preserved tables";
constexpr std::string_view kOuterJoinCycle =
    "outer joins (*= or =*) that make tables optional to each other";
constexpr std::string_view kOptionalTableReferenced =
    "outer-joined (optional) table used in a WHERE condition other than its outer join";
constexpr std::string_view kRestrictionOfTwoOptional =
    "condition that names two outer-joined (optional) tables; the server's manuals call its meaning "
    "ambiguous";
constexpr std::string_view kRestrictionTiedToLaterTable =
    "condition on an outer-joined (optional) table that ties it to a table joined after it";
constexpr std::string_view kRestrictionInOr =
    "condition on an outer-joined (optional) table in an OR with other tables; the server's manuals "
    "call its meaning ambiguous";
constexpr std::string_view kRestrictionWithSubselect =
    "condition on an outer-joined (optional) table with a sub-select";
constexpr std::string_view kStarWithReorder =
    "SELECT * where outer-joined tables stand before preserved ones in FROM";

constexpr std::string_view kLeftJoin = " LEFT JOIN ";
constexpr std::string_view kOn = " ON ";

const Words kClausesAfterFrom = {"WHERE",  "GROUP",  "HAVING", "ORDER",     "FOR",
                                 "OPTION", "WINDOW", "UNION",  "INTERSECT", "EXCEPT"};
const Words kClausesAfterWhere = {"GROUP",  "HAVING", "ORDER",     "FOR",   "OPTION",
                                  "WINDOW", "UNION",  "INTERSECT", "EXCEPT"};

}  // namespace

// One SELECT block: rewrites its old-style outer joins into LEFT JOINs.
void StatementTranslator::PlanSelect(std::size_t b, std::size_t e) {
    const std::vector<std::size_t> ops = OwnOuterJoinOps(b, e);
    if (ops.empty()) return;
    const SelectClauses c = LocateOuterJoinClauses(b, e, ops);
    std::vector<std::size_t> commas;
    const std::vector<Range> parts = SplitCommas(c.from + 1, c.where, commas);
    const std::vector<FromItem> items = ParseFromList(parts, {c.from, c.where});

    ResolveBareColumns({c.where + 1, c.where_end}, items);
    // The outer joins first (which tables are optional, in which order they are joined),
    // then the conditions again: one that restricts an optional table alone goes into its ON.
    OuterJoinAnalysis joins_only;
    AnalyzeConditions(c.where + 1, c.where_end, items, joins_only);
    const std::vector<std::size_t> preserved_of = PreservedOf(items.size(), joins_only.predicates);
    const std::vector<std::size_t> order = JoinOrder(preserved_of, {c.where, c.where_end});
    OuterJoinAnalysis analysis;
    analysis.restricts = [&](Range t) { return RestrictedTable(t, items, preserved_of, order); };
    const bool where_emptied = AnalyzeConditions(c.where + 1, c.where_end, items, analysis);
    CheckConditionsThatStay(items, preserved_of, analysis.kept);
    bool reordered = false;
    for (std::size_t i = 0; i < order.size(); ++i) reordered = reordered || order[i] != i;
    if (reordered && HasBareStar(b + 1, c.from)) Refuse(kStarWithReorder, {b, c.where});

    // The joins are written out before any token is marked as left out.
    const std::string joins = LeftJoins(order, preserved_of, items, analysis);
    std::size_t last_preserved = 0;
    std::vector<char> removed(items.size(), 0);
    for (std::size_t i = 0; i < items.size(); ++i) {
        removed[i] = preserved_of[i] != kNone;
        if (!removed[i]) last_preserved = i;
    }
    after_[items[last_preserved].range.e - 1] += joins;
    std::vector<Range> deletions = std::move(analysis.deletions);
    RemoveFromList(parts, commas, removed, deletions);
    if (where_emptied) deletions.push_back({c.where, c.where_end});
    for (const Range& r : deletions) Delete(r);
}

// Finds FROM and WHERE of a SELECT block with outer-join operators `ops`, and refuses the
// block when an operator stands outside WHERE or the FROM list is not a plain list of tables.
SelectClauses StatementTranslator::LocateOuterJoinClauses(
    std::size_t b, std::size_t e, const std::vector<std::size_t>& ops) const {
    const std::size_t from = FindTopLevel(b + 1, e, {"FROM"});
    const std::size_t where = from == kNone ? kNone : FindTopLevel(from + 1, e, {"WHERE"});
    if (where == kNone) RefuseAround(kOuterJoinOutsideWhere, ops.front());
    const std::size_t from_end = FindTopLevel(from + 1, e, kClausesAfterFrom);
    std::size_t where_end = FindTopLevel(where + 1, e, kClausesAfterWhere);
    if (where_end == kNone) where_end = e;
    for (std::size_t op : ops) {
        if (op < where || op >= where_end) RefuseAround(kOuterJoinOutsideWhere, op);
    }
    if (from_end != where) Refuse(kUnsupportedFromItem, {from, where});
    if (FindTopLevel(from + 1, where, kJoinWords) != kNone ||
        FindTopLevel(from + 1, where, {"ON"}) != kNone) {
        Refuse(kOuterJoinWithJoinSyntax, {from, where});
    }
    return {from, where, where_end};
}

// The tables of a comma-separated FROM list; two with the same exposed name are refused.
std::vector<FromItem> StatementTranslator::ParseFromList(const std::vector<Range>& parts,
                                                         Range from_list) const {
    std::vector<FromItem> items;
    for (const Range& part : parts) {
        items.push_back(ParseFromItem(part.b, part.e));
        if (!items.back().exposed.empty() &&
            FindItem(items, items.back().exposed) != items.size() - 1) {
            Refuse(kDuplicateFromName, from_list);
        }
    }
    return items;
}

// For each of `count` FROM items the preserved table it hangs on, or kNone for a preserved
// table. Each optional table hangs on exactly one preserved table.
std::vector<std::size_t> StatementTranslator::PreservedOf(
    std::size_t count, const std::vector<OuterPredicate>& predicates) const {
    std::vector<std::size_t> preserved_of(count, kNone);
    for (const OuterPredicate& p : predicates) {
        if (preserved_of[p.optional] != kNone && preserved_of[p.optional] != p.preserved) {
            Refuse(kOuterJoinTwoPreserved, p.range);
        }
        preserved_of[p.optional] = p.preserved;
    }
    return preserved_of;
}

// The order the FROM items are written in: preserved tables first, in their order; then each
// optional table once the table it hangs on stands to its left, since an ON may only name
// tables to its left. Tables that hang on each other in a circle are refused.
std::vector<std::size_t> StatementTranslator::JoinOrder(
    const std::vector<std::size_t>& preserved_of, Range where) const {
    std::vector<std::size_t> order;
    std::vector<char> placed(preserved_of.size(), 0);
    for (std::size_t i = 0; i < preserved_of.size(); ++i) {
        if (preserved_of[i] == kNone) {
            order.push_back(i);
            placed[i] = 1;
        }
    }
    while (order.size() < preserved_of.size()) {
        bool progress = false;
        for (std::size_t i = 0; i < preserved_of.size(); ++i) {
            if (!placed[i] && placed[preserved_of[i]]) {
                order.push_back(i);
                placed[i] = 1;
                progress = true;
            }
        }
        if (!progress) Refuse(kOuterJoinCycle, where);
    }
    return order;
}

// The WHERE conditions that stay may not name an optional table (that would undo the outer
// join) and must name the table of every column.
void StatementTranslator::CheckConditionsThatStay(const std::vector<FromItem>& items,
                                                  const std::vector<std::size_t>& preserved_of,
                                                  const std::vector<Range>& kept) const {
    std::set<std::string> optional_names;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (preserved_of[i] != kNone) optional_names.insert(items[i].exposed);
    }
    for (const Range& r : kept) {
        if (References(r, optional_names)) Refuse(kOptionalTableReferenced, r);
        RequireQualifiedColumns(r);
    }
}

// " LEFT JOIN table ON predicates" for each optional table, in join order; the outer-join
// operators of the predicates become plain '='.
std::string StatementTranslator::LeftJoins(const std::vector<std::size_t>& order,
                                           const std::vector<std::size_t>& preserved_of,
                                           const std::vector<FromItem>& items,
                                           const OuterJoinAnalysis& analysis) {
    std::string joins;
    for (std::size_t i : order) {
        if (preserved_of[i] == kNone) continue;
        std::string conditions;
        for (const OuterPredicate& p : analysis.predicates) {
            if (p.optional != i) continue;
            // assign() rather than = "=": g++ 12 warns (-Wrestrict) wrongly on the latter here.
            replace_[p.op].assign(1, '=');
            if (!conditions.empty()) conditions += kAnd;
            conditions += Render(p.range.b, p.range.e);
        }
        for (const InnerRestriction& r : analysis.restrictions) {
            if (r.optional == i) conditions += std::string(kAnd) + Render(r.range.b, r.range.e);
        }
        joins += kLeftJoin;
        joins += Render(items[i].range.b, items[i].range.e);
        joins += kOn;
        joins += conditions;
    }
    return joins;
}

// The optional table that condition `t` restricts, or kNone when it names none (it stays in
// WHERE). Refused: a condition naming two optional tables, one that names a table joined
// after its optional table, one with an OR that names other tables too, one with a
// sub-select, and one with a column whose table it does not name.
std::size_t StatementTranslator::RestrictedTable(Range t, const std::vector<FromItem>& items,
                                                 const std::vector<std::size_t>& preserved_of,
                                                 const std::vector<std::size_t>& order) const {
    std::set<std::size_t> named;
    bool has_or = false, has_subselect = false;
    for (std::size_t k = t.b; k < t.e; ++k) {
        has_subselect = has_subselect || IsSubselectOpen(k);
        has_or = has_or || Kw(k, "OR");
        if (k + 1 < t.e && Name(k) && Sym(k + 1, ".")) {
            const std::size_t item = FindItem(items, NormalizedName(Tok(k)));
            if (item != kNone) named.insert(item);
        }
        if (auto it = resolved_.find(k); it != resolved_.end()) named.insert(FindItem(items, it->second));
    }
    std::size_t optional = kNone;
    for (std::size_t item : named) {
        if (preserved_of[item] == kNone) continue;
        if (optional != kNone) Refuse(kRestrictionOfTwoOptional, t);
        optional = item;
    }
    if (optional == kNone) return kNone;
    if (has_subselect) Refuse(kRestrictionWithSubselect, t);
    if (has_or && named.size() > 1) Refuse(kRestrictionInOr, t);
    const auto position = [&order](std::size_t item) { return std::find(order.begin(), order.end(), item); };
    for (std::size_t item : named) {
        if (position(item) > position(optional)) Refuse(kRestrictionTiedToLaterTable, t);
    }
    RequireQualifiedColumns(t);
    return optional;
}

// A `*` standing for all columns (not `t.*`, not a multiplication).
bool StatementTranslator::HasBareStar(std::size_t b, std::size_t e) const {
    for (std::size_t k = b; k < e; ++k) {
        if (Sym(k, "(")) {
            k = match_[k];
        } else if (Sym(k, "*") && !(k > b && Sym(k - 1, ".")) && (k + 1 == e || Sym(k + 1, ","))) {
            return true;
        }
    }
    return false;
}

// Sorts the top-level AND terms of a WHERE (or of a parenthesised AND group within it)
// into outer-join predicates and conditions that stay. Returns true when every term is
// an outer-join predicate, so the caller leaves the whole range out.
bool StatementTranslator::AnalyzeConditions(std::size_t b, std::size_t e,
                                            const std::vector<FromItem>& items,
                                            OuterJoinAnalysis& analysis) {
    if (!HasOwnOuterJoinOp({b, e})) {
        analysis.kept.push_back({b, e});
        return false;
    }
    if (HasTopLevelOr(b, e)) Refuse(kOuterJoinUnderOr, {b, e});
    std::vector<std::size_t> ands;
    const std::vector<Range> terms = SplitAnd(b, e, ands);
    std::vector<char> removed(terms.size(), 0);
    for (std::size_t i = 0; i < terms.size(); ++i) {
        const Range& t = terms[i];
        if (!HasOwnOuterJoinOp(t)) {
            const std::size_t restricted = analysis.restricts ? analysis.restricts(t) : kNone;
            if (restricted == kNone) {
                analysis.kept.push_back(t);
            } else {
                analysis.restrictions.push_back({t, restricted});
                removed[i] = 1;
            }
        } else if (Kw(t.b, "NOT")) {
            Refuse(kOuterJoinUnderNot, t);
        } else if (Sym(t.b, "(") && match_[t.b] == t.e - 1 && !IsSubselectOpen(t.b)) {
            removed[i] = AnalyzeConditions(t.b + 1, t.e - 1, items, analysis);
        } else {
            analysis.predicates.push_back(ParseOuterPredicate(t, items));
            removed[i] = 1;
        }
    }
    if (std::all_of(removed.begin(), removed.end(), [](char r) { return r != 0; })) return true;
    RemoveFromList(terms, ands, removed, analysis.deletions);
    return false;
}

OuterPredicate StatementTranslator::ParseOuterPredicate(Range t,
                                                        const std::vector<FromItem>& items) const {
    const std::vector<std::size_t> ops = OwnOuterJoinOps(t.b, t.e);
    if (ops.size() != 1) Refuse(kOuterJoinOperands, t);
    const std::size_t op = ops.front();
    const std::size_t left = FindItem(items, QualifierOf({t.b, op}));
    const std::size_t right = FindItem(items, QualifierOf({op + 1, t.e}));
    if (left == kNone || right == kNone || left == right) Refuse(kOuterJoinOperands, t);
    // a.x *= b.y keeps every row of a; a.x =* b.y keeps every row of b.
    if (Sym(op, "*=")) return {t, op, left, right};
    return {t, op, right, left};
}

}  // namespace orba::hostkit::dialect
