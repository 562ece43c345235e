// Reading a statement's token ranges for the planning steps: scanning at parenthesis depth 0,
// splitting lists and conditions, FROM items and the column references that name them.
#include "hostkit/dialect/statement_translator.h"

namespace orba::hostkit::dialect {
namespace {

constexpr std::string_view kUnqualifiedColumn =
    "column without table name in a WHERE clause with outer joins (*= or =*)";

// Words of a condition that are not column names: operators, literals and type names.
// clang-format off
const Words kNonColumnWords = {
    "AND", "OR", "NOT", "NULL", "IS", "IN", "LIKE", "ESCAPE", "BETWEEN", "EXISTS", "CASE", "WHEN",
    "THEN", "ELSE", "END", "ANY", "ALL", "SOME", "TRUE", "FALSE", "AS", "COLLATE",
    "INT", "INTEGER", "BIGINT", "SMALLINT", "TINYINT", "BIT", "DECIMAL", "NUMERIC", "MONEY",
    "SMALLMONEY", "FLOAT", "REAL", "DATE", "DATETIME", "SMALLDATETIME", "CHAR", "NCHAR", "VARCHAR",
    "NVARCHAR", "TEXT", "NTEXT", "CURRENT_TIMESTAMP", "CURRENT_DATE", "CURRENT_TIME"};
// clang-format on

}  // namespace

std::size_t StatementTranslator::FindTopLevel(std::size_t b, std::size_t e, Words words) const {
    for (std::size_t k = b; k < e; ++k) {
        if (Sym(k, "(")) {
            k = match_[k];
            continue;
        }
        if (AnyKw(k, words)) return k;
    }
    return kNone;
}

// The outer-join operators that belong to this level, not to a sub-select within it.
std::vector<std::size_t> StatementTranslator::OwnOuterJoinOps(std::size_t b, std::size_t e) const {
    std::vector<std::size_t> ops;
    for (std::size_t k = b; k < e; ++k) {
        if (IsSubselectOpen(k)) {
            k = match_[k];
        } else if (IsOuterJoinOp(k)) {
            ops.push_back(k);
        }
    }
    return ops;
}

void StatementTranslator::RefuseOwnOuterJoinOps(std::size_t b, std::size_t e,
                                                std::string_view construct) const {
    auto ops = OwnOuterJoinOps(b, e);
    if (!ops.empty()) RefuseAround(construct, ops.front());
}

// Splits at depth-0 commas; the separators are returned too.
std::vector<Range> StatementTranslator::SplitCommas(std::size_t b, std::size_t e,
                                                    std::vector<std::size_t>& separators) const {
    std::vector<Range> parts;
    std::size_t start = b;
    for (std::size_t k = b; k < e; ++k) {
        if (Sym(k, "(")) {
            k = match_[k];
        } else if (Sym(k, ",")) {
            parts.push_back({start, k});
            separators.push_back(k);
            start = k + 1;
        }
    }
    parts.push_back({start, e});
    return parts;
}

// Splits a condition into its top-level AND terms. The AND of BETWEEN ... AND and those
// inside CASE ... END do not split.
std::vector<Range> StatementTranslator::SplitAnd(std::size_t b, std::size_t e,
                                                 std::vector<std::size_t>& separators) const {
    std::vector<Range> parts;
    std::size_t start = b;
    int case_depth = 0;
    bool between = false;
    for (std::size_t k = b; k < e; ++k) {
        if (Sym(k, "(")) {
            k = match_[k];
        } else if (Kw(k, "CASE")) {
            ++case_depth;
        } else if (Kw(k, "END") && case_depth > 0) {
            --case_depth;
        } else if (case_depth == 0 && Kw(k, "BETWEEN")) {
            between = true;
        } else if (case_depth == 0 && Kw(k, "AND")) {
            if (between) {
                between = false;
                continue;
            }
            parts.push_back({start, k});
            separators.push_back(k);
            start = k + 1;
        }
    }
    parts.push_back({start, e});
    return parts;
}

bool StatementTranslator::HasTopLevelOr(std::size_t b, std::size_t e) const {
    int case_depth = 0;
    for (std::size_t k = b; k < e; ++k) {
        if (Sym(k, "(")) {
            k = match_[k];
        } else if (Kw(k, "CASE")) {
            ++case_depth;
        } else if (Kw(k, "END") && case_depth > 0) {
            --case_depth;
        } else if (case_depth == 0 && Kw(k, "OR")) {
            return true;
        }
    }
    return false;
}

// Leaves the removed parts of a separated list out, with separators such that the parts
// that stay are joined exactly as they were.
void StatementTranslator::RemoveFromList(const std::vector<Range>& parts,
                                         const std::vector<std::size_t>& separators,
                                         const std::vector<char>& removed,
                                         std::vector<Range>& deletions) {
    bool kept_before = false;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (removed[i]) {
            deletions.push_back(parts[i]);
        } else {
            kept_before = true;
        }
        // separators[i] stands between parts i and i+1: it stays only between two kept parts.
        if (i < separators.size()) {
            const bool keep = kept_before && !removed[i + 1];
            if (!keep) deletions.push_back({separators[i], separators[i] + 1});
        }
    }
}

void StatementTranslator::Delete(Range r) {
    for (std::size_t k = r.b; k < r.e; ++k) deleted_[k] = 1;
}

FromItem StatementTranslator::ParseFromItem(std::size_t b, std::size_t e) const {
    FromItem item;
    item.range = {b, e};
    std::size_t k = b;
    if (Sym(k, "(")) {
        if (!IsSubselectOpen(k) || match_[k] >= e) Refuse(kUnsupportedFromItem, {b, e});
        k = match_[k] + 1;
        item.name = {k, k};
    } else {
        if (!Name(k)) Refuse(kUnsupportedFromItem, {b, e});
        ++k;
        while (k + 1 < e && Sym(k, ".") && Name(k + 1)) k += 2;
        item.name = {b, k};
    }
    if (k < e && Kw(k, "AS")) ++k;
    if (k < e && Name(k)) item.alias = k++;
    if (k != e) Refuse(kUnsupportedFromItem, {b, e});
    if (item.alias != kNone) {
        item.exposed = NormalizedName(Tok(item.alias));
    } else if (item.name.e > item.name.b) {
        item.exposed = NormalizedName(Tok(item.name.e - 1));
    }
    return item;
}

// The table part of a `table.column` (or `schema.table.column`) reference that makes up
// the whole range; empty when the range is something else.
std::string StatementTranslator::QualifierOf(Range r) const {
    const std::size_t n = r.e - r.b;
    if (n == 1) {
        if (auto it = resolved_.find(r.b); it != resolved_.end()) return it->second;
    }
    if (n < 3 || n % 2 == 0) return {};
    for (std::size_t k = r.b; k < r.e; ++k) {
        const bool ok = (k - r.b) % 2 == 0 ? Name(k) : Sym(k, ".");
        if (!ok) return {};
    }
    return NormalizedName(Tok(r.e - 3));
}

std::size_t StatementTranslator::FindItem(const std::vector<FromItem>& items,
                                          const std::string& name) {
    if (name.empty()) return kNone;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].exposed == name) return i;
    }
    return kNone;
}

bool StatementTranslator::References(Range r, const std::set<std::string>& names) const {
    for (std::size_t k = r.b; k < r.e; ++k) {
        if (k + 1 < r.e && Name(k) && Sym(k + 1, ".") && names.count(NormalizedName(Tok(k))) != 0) return true;
        if (auto it = resolved_.find(k); it != resolved_.end() && names.count(it->second) != 0) return true;
    }
    return false;
}

// A column name standing without its table at `k` (not a variable, keyword, function, alias
// or collation name); `b` is where the condition begins.
bool StatementTranslator::IsBareColumn(std::size_t k, std::size_t b) const {
    const SqlToken& t = Tok(k);
    if (!t.IsName() || (t.kind == SqlTokenKind::kWord && t.text.front() == '@')) return false;
    if (t.kind == SqlTokenKind::kWord && IsAnyKeyword(t, kNonColumnWords)) return false;
    if (Sym(k + 1, "(") || Sym(k + 1, ".")) return false;
    if (k > b && (Sym(k - 1, ".") || Kw(k - 1, "AS") || Kw(k - 1, "COLLATE"))) return false;
    return true;
}

// Without the schema a bare column cannot be told apart from a column of an outer-joined
// table, so conditions that stay beside outer joins must name their tables.
void StatementTranslator::RequireQualifiedColumns(Range r) const {
    for (std::size_t k = r.b; k < r.e; ++k) {
        if (IsSubselectOpen(k)) {
            k = match_[k];
            continue;
        }
        if (!IsBareColumn(k, r.b) || resolved_.count(k) != 0) continue;
        Refuse(kUnqualifiedColumn, r);
    }
}

// Gives each column written without its table in a WHERE with outer joins the one table of
// the FROM list whose catalogue holds it; a name two tables hold is refused as the server
// refuses it. Without a catalogue, or for a name no table holds, the column stays as it is
// (and is refused where a table must be known).
void StatementTranslator::ResolveBareColumns(Range where, const std::vector<FromItem>& items) {
    if (!catalogue_) return;
    std::vector<std::set<std::string>> columns(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].name.e <= items[i].name.b) continue;  // a derived table: its columns are not known here
        for (std::string column : catalogue_(NormalizedName(Tok(items[i].name.e - 1)))) {
            for (char& c : column) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            columns[i].insert(std::move(column));
        }
    }
    for (std::size_t k = where.b; k < where.e; ++k) {
        if (IsSubselectOpen(k)) {
            k = match_[k];
            continue;
        }
        if (!IsBareColumn(k, where.b)) continue;
        const SqlToken& t = Tok(k);
        const std::string name = NormalizedName(t);  // lower case already
        std::vector<std::size_t> holders;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (columns[i].count(name) != 0) holders.push_back(i);
        }
        if (holders.size() > 1) {
            Refuse(std::string("ambiguous column name '") + std::string(t.text) + "' (in " +
                       items[holders[0]].exposed + " and " + items[holders[1]].exposed + ")",
                   {k, k + 1});
        }
        if (holders.size() == 1) {
            const FromItem& holder = items[holders[0]];
            const SqlToken& named = Tok(holder.alias != kNone ? holder.alias : holder.name.e - 1);
            resolved_[k] = holder.exposed;
            before_[k] += (named.kind == SqlTokenKind::kWord ? std::string(named.text) : '"' + holder.exposed + '"') + ".";
        }
    }
}

}  // namespace orba::hostkit::dialect
