#include "hostkit/sql_dialect.h"

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <map>
#include <set>
#include <utility>

#include "hostkit/sql_tokenizer.h"
#include "platform/error.h"

namespace orba::hostkit {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// What the layer refuses, named the way the error message shows it.
constexpr std::string_view kUnbalancedParenthesis = "unbalanced parenthesis";
constexpr std::string_view kOuterJoinUnderOr = "outer join operator (*= or =*) under OR";
constexpr std::string_view kOuterJoinUnderNot = "outer join operator (*= or =*) under NOT";
constexpr std::string_view kOuterJoinOperands =
    "outer join operator (*= or =*) whose sides are not columns of two different tables of its "
    "FROM list";
constexpr std::string_view kOuterJoinOutsideWhere =
    "outer join operator (*= or =*) outside the WHERE clause of a SELECT";
constexpr std::string_view kOuterJoinWithJoinSyntax =
    "outer join operator (*= or =*) together with JOIN syntax in the same FROM";
constexpr std::string_view kOuterJoinTwoPreserved =
    "table outer-joined (*= or =*) to two different preserved tables";
constexpr std::string_view kOuterJoinCycle =
    "outer joins (*= or =*) that make tables optional to each other";
constexpr std::string_view kOptionalTableReferenced =
    "outer-joined (optional) table used in a WHERE condition other than its outer join";
constexpr std::string_view kUnqualifiedColumn =
    "column without table name in a WHERE clause with outer joins (*= or =*)";
constexpr std::string_view kStarWithReorder =
    "SELECT * where outer-joined tables stand before preserved ones in FROM";
constexpr std::string_view kDuplicateFromName =
    "two tables with the same name or alias in one FROM";
constexpr std::string_view kUnsupportedFromItem =
    "table source in FROM that is not 'table [AS] alias'";
constexpr std::string_view kOuterJoinInUpdate = "outer join in an UPDATE ... FROM";
constexpr std::string_view kUpdateQualifiedTarget =
    "UPDATE target that is not a single name, with FROM";
constexpr std::string_view kUpdateTargetNotInFrom =
    "UPDATE target alias that does not occur in its FROM";
constexpr std::string_view kUpdateDerivedTarget = "UPDATE target that is a derived table";
constexpr std::string_view kUpdateSetOtherTable =
    "SET column of a table other than the UPDATE target";
constexpr std::string_view kUpdateSetNotColumn = "SET item that is not 'column = value'";
constexpr std::string_view kEmptyInList = "empty IN () list";
constexpr std::string_view kTooDeep = "more than 200 nested parentheses or sub-selects";
constexpr std::string_view kTextPlus =
    "+ next to a text literal (string concatenation or conversion; SQLite's + only adds numbers)";

// Sub-selects and parenthesised expressions are translated recursively; beyond this depth a
// statement is refused rather than run out of stack. The account database server refuses
// far shallower nesting itself.
constexpr std::size_t kMostNesting = 200;

constexpr std::string_view kLeftJoin = " LEFT JOIN ";
constexpr std::string_view kOn = " ON ";
constexpr std::string_view kAnd = " AND ";
constexpr std::string_view kAs = " AS ";
constexpr std::string_view kWhere = " WHERE ";

using Words = std::initializer_list<std::string_view>;

// Keywords at which a new statement may begin even without a separator.
const Words kStatementKeywords = {"SELECT", "INSERT", "UPDATE", "DELETE"};
// After these a statement keyword continues the current statement (UNION SELECT,
// CREATE VIEW v AS SELECT, FOR UPDATE, ON DELETE, GRANT SELECT, UPDATE ...).
const Words kContinuingWords = {"UNION", "ALL",   "EXCEPT", "INTERSECT", "AS",    "FOR",    "OF",
                                "ON",    "AFTER", "BEFORE", "INSTEAD",   "GRANT", "REVOKE", "DENY"};
const Words kSetOperators = {"UNION", "EXCEPT", "INTERSECT"};
const Words kClausesAfterFrom = {"WHERE",  "GROUP",  "HAVING", "ORDER",     "FOR",
                                 "OPTION", "WINDOW", "UNION",  "INTERSECT", "EXCEPT"};
const Words kClausesAfterWhere = {"GROUP",  "HAVING", "ORDER",     "FOR",   "OPTION",
                                  "WINDOW", "UNION",  "INTERSECT", "EXCEPT"};
const Words kJoinWords = {"JOIN",  "INNER", "LEFT",  "RIGHT",  "FULL",
                          "CROSS", "OUTER", "APPLY", "NATURAL"};
const Words kOuterJoinWords = {"LEFT", "RIGHT", "FULL", "OUTER"};
// Words of a condition that are not column names: operators, literals and type names.
// clang-format off
const Words kNonColumnWords = {
    "AND", "OR", "NOT", "NULL", "IS", "IN", "LIKE", "ESCAPE", "BETWEEN", "EXISTS", "CASE", "WHEN",
    "THEN", "ELSE", "END", "ANY", "ALL", "SOME", "TRUE", "FALSE", "AS", "COLLATE",
    "INT", "INTEGER", "BIGINT", "SMALLINT", "TINYINT", "BIT", "DECIMAL", "NUMERIC", "MONEY",
    "SMALLMONEY", "FLOAT", "REAL", "DATE", "DATETIME", "SMALLDATETIME", "CHAR", "NCHAR", "VARCHAR",
    "NVARCHAR", "TEXT", "NTEXT", "CURRENT_TIMESTAMP", "CURRENT_DATE", "CURRENT_TIME"};
// clang-format on

bool IsAnyKeyword(const SqlToken& token, Words words) {
    return std::any_of(words.begin(), words.end(),
                       [&](std::string_view w) { return token.IsKeyword(w); });
}

bool IsWordByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '@' || c == '#' || c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

void TrimBlanks(std::string& s) {
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
    };
    std::size_t b = 0;
    while (b < s.size() && blank(s[b])) ++b;
    std::size_t e = s.size();
    while (e > b && blank(s[e - 1])) --e;
    s = s.substr(b, e - b);
}

// Block comments may nest in the host dialect but not in SQLite: inner delimiters are broken
// up so SQLite sees one comment of the same extent.
std::string CommentForSqlite(std::string_view comment) {
    std::string_view inner = comment.substr(2, comment.size() - 4);
    if (inner.find("/*") == std::string_view::npos && inner.find("*/") == std::string_view::npos) {
        return std::string(comment);
    }
    std::string out = "/*";
    for (std::size_t i = 0; i < inner.size(); ++i) {
        out += inner[i];
        if (i + 1 < inner.size() && ((inner[i] == '/' && inner[i + 1] == '*') ||
                                     (inner[i] == '*' && inner[i + 1] == '/'))) {
            out += ' ';
        }
    }
    return out + "*/";
}

struct TokenRange {
    std::size_t begin;  // indices into the batch's token list
    std::size_t end;
};

// Where one statement of a batch ends and the next begins: at ';' and where a statement
// keyword at parenthesis depth 0 cannot continue the current statement.
class BatchSplitter {
  public:
    BatchSplitter(std::string_view batch, const std::vector<SqlToken>& tokens)
        : batch_(batch), tokens_(tokens) {}

    std::vector<TokenRange> Split() {
        std::vector<TokenRange> ranges;
        std::size_t start = 0;
        int depth = 0;
        for (std::size_t i = 0; i < tokens_.size(); ++i) {
            const SqlToken& t = tokens_[i];
            if (t.IsTrivia()) continue;
            if (depth == 0 && body_depth_ == 0 && t.IsSymbol(";")) {
                ranges.push_back({start, i});
                start = i + 1;
                Reset();
                continue;
            }
            if (depth == 0 && lead_ != nullptr && IsAnyKeyword(t, kStatementKeywords) &&
                StartsNewStatement(t)) {
                ranges.push_back({start, i});
                start = i;
                Reset();
            }
            if (t.IsSymbol("(")) {
                ++depth;
            } else if (t.IsSymbol(")") && --depth < 0) {
                ThrowNotTranslatable(kUnbalancedParenthesis, batch_.substr(t.offset));
            }
            if (lead_ == nullptr) {
                lead_ = &t;
            } else if (depth == 0) {
                Track(t);
            }
            prev_ = &t;
        }
        if (depth != 0)
            ThrowNotTranslatable(kUnbalancedParenthesis, batch_.substr(tokens_[start].offset));
        ranges.push_back({start, tokens_.size()});
        return ranges;
    }

  private:
    void Reset() {
        lead_ = prev_ = nullptr;
        insert_has_source_ = with_has_main_ = trigger_ = false;
        body_depth_ = 0;
    }

    void Track(const SqlToken& t) {
        if (lead_->IsKeyword("INSERT") && (t.IsKeyword("SELECT") || t.IsKeyword("VALUES")))
            insert_has_source_ = true;
        if (lead_->IsKeyword("WITH") && IsAnyKeyword(t, kStatementKeywords)) with_has_main_ = true;
        if (lead_->IsKeyword("CREATE") && t.IsKeyword("TRIGGER")) trigger_ = true;
        // A trigger body holds whole statements, with their ';', up to its END.
        if (trigger_ && (t.IsKeyword("BEGIN") || (body_depth_ > 0 && t.IsKeyword("CASE")))) {
            ++body_depth_;
        } else if (body_depth_ > 0 && t.IsKeyword("END")) {
            --body_depth_;
        }
    }

    bool StartsNewStatement(const SqlToken& t) const {
        if (body_depth_ > 0) return false;
        if (prev_ != nullptr && (prev_->IsSymbol(",") || IsAnyKeyword(*prev_, kContinuingWords)))
            return false;
        if (lead_->IsKeyword("WITH") && !with_has_main_) return false;
        if (t.IsKeyword("SELECT") && lead_->IsKeyword("INSERT") && !insert_has_source_)
            return false;
        return true;
    }

    std::string_view batch_;
    const std::vector<SqlToken>& tokens_;
    const SqlToken* lead_ = nullptr;  // the statement's first token
    const SqlToken* prev_ = nullptr;  // the last token that is not a blank or comment
    bool insert_has_source_ = false;  // an INSERT has reached its SELECT or VALUES
    bool with_has_main_ = false;      // a WITH has reached the statement it prefixes
    bool trigger_ = false;
    int body_depth_ = 0;
};

struct Range {
    std::size_t b;  // indices into the statement's significant tokens
    std::size_t e;
};

// One table source of a FROM list: `name [AS] alias` or `(sub-select) [AS] alias`.
struct FromItem {
    Range range;
    Range name;                 // the table name tokens (empty for a derived table)
    std::size_t alias = kNone;  // the alias token, if any
    std::string exposed;        // the name the rest of the statement uses for it
};

// One table of an UPDATE's FROM, with how it is joined to those before it.
struct JoinedItem {
    FromItem item;
    std::size_t join_begin = kNone;  // first join keyword (none for the first table)
    std::size_t on = kNone;          // the ON keyword, if any
    Range cond{0, 0};                // the ON condition
    Range Whole() const {
        return {join_begin == kNone ? item.range.b : join_begin,
                on == kNone ? item.range.e : cond.e};
    }
};

// A `a.x *= b.y` (or `a.x =* b.y`) predicate: its text, operator and the two tables.
struct OuterPredicate {
    Range range;
    std::size_t op;
    std::size_t preserved;  // index into the FROM items
    std::size_t optional;
};

struct OuterJoinAnalysis {
    std::vector<OuterPredicate> predicates;
    std::vector<Range> kept;       // WHERE conditions that stay in WHERE
    std::vector<Range> deletions;  // tokens to leave out of WHERE
};

// Translates one statement. Significant tokens (not blanks or comments) are addressed by
// their index in sig_; the rewrites are recorded as edits on those tokens and applied when
// the statement is written out, with the original blanks and comments between them.
class StatementTranslator {
  public:
    StatementTranslator(std::string_view batch, const std::vector<SqlToken>& tokens,
                        TokenRange range)
        : batch_(batch), tokens_(tokens), range_(range) {
        for (std::size_t i = range.begin; i < range.end; ++i) {
            if (!tokens[i].IsTrivia()) sig_.push_back(i);
        }
        match_.assign(sig_.size(), kNone);
        std::vector<std::size_t> open;
        for (std::size_t k = 0; k < sig_.size(); ++k) {
            if (Sym(k, "(")) {
                if (open.size() >= kMostNesting) Refuse(kTooDeep, {k >= 8 ? k - 8 : 0, std::min(k + 8, sig_.size())});
                open.push_back(k);
            } else if (Sym(k, ")") && !open.empty()) {
                match_[open.back()] = k;
                match_[k] = open.back();
                open.pop_back();
            }
        }
        deleted_.assign(sig_.size(), 0);
    }

    bool Empty() const { return sig_.empty(); }

    TranslatedStatement Translate() {
        TranslatedStatement out;
        const SqlToken& first = tokens_[range_.begin];
        const SqlToken& last = tokens_[range_.end - 1];
        out.source =
            std::string(batch_.substr(first.offset, last.offset + last.text.size() - first.offset));
        TrimBlanks(out.source);
        RefuseEmptyInLists();
        RefuseTextPlus();
        out.is_query = PlanStatement(0, sig_.size());
        out.sqlite = TriviaText(range_.begin, sig_.front()) + Render(0, sig_.size()) +
                     TriviaText(sig_.back() + 1, range_.end);
        TrimBlanks(out.sqlite);
        return out;
    }

  private:
    // ---- token access ----
    const SqlToken& Tok(std::size_t k) const { return tokens_[sig_[k]]; }
    bool Kw(std::size_t k, std::string_view upper) const {
        return k < sig_.size() && Tok(k).IsKeyword(upper);
    }
    bool AnyKw(std::size_t k, Words words) const {
        return k < sig_.size() && IsAnyKeyword(Tok(k), words);
    }
    bool Sym(std::size_t k, std::string_view s) const {
        return k < sig_.size() && Tok(k).IsSymbol(s);
    }
    bool Name(std::size_t k) const { return k < sig_.size() && Tok(k).IsName(); }
    bool IsOuterJoinOp(std::size_t k) const { return Sym(k, "*=") || Sym(k, "=*"); }
    bool IsSubselectOpen(std::size_t k) const {
        return Sym(k, "(") && (Kw(k + 1, "SELECT") || Kw(k + 1, "WITH"));
    }
    // LEFT( and RIGHT( are the string functions, not joins.
    bool IsJoinWord(std::size_t k) const { return AnyKw(k, kJoinWords) && !Sym(k + 1, "("); }

    std::string_view TextOf(std::size_t b, std::size_t e) const {
        if (b >= e || b >= sig_.size()) return {};
        e = std::min(e, sig_.size());
        const SqlToken& last = Tok(e - 1);
        return batch_.substr(Tok(b).offset, last.offset + last.text.size() - Tok(b).offset);
    }
    [[noreturn]] void Refuse(std::string_view construct, Range r) const {
        ThrowNotTranslatable(construct, TextOf(r.b, r.e));
    }
    [[noreturn]] void RefuseAround(std::string_view construct, std::size_t k) const {
        Refuse(construct, {k >= 3 ? k - 3 : 0, std::min(k + 4, sig_.size())});
    }

    // ---- scanning at parenthesis depth 0 ----
    std::size_t FindTopLevel(std::size_t b, std::size_t e, Words words) const {
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
    std::vector<std::size_t> OwnOuterJoinOps(std::size_t b, std::size_t e) const {
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
    bool HasOwnOuterJoinOp(Range r) const { return !OwnOuterJoinOps(r.b, r.e).empty(); }
    void RefuseOwnOuterJoinOps(std::size_t b, std::size_t e, std::string_view construct) const {
        auto ops = OwnOuterJoinOps(b, e);
        if (!ops.empty()) RefuseAround(construct, ops.front());
    }

    // Splits at depth-0 commas; the separators are returned too.
    std::vector<Range> SplitCommas(std::size_t b, std::size_t e,
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
    std::vector<Range> SplitAnd(std::size_t b, std::size_t e,
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

    bool HasTopLevelOr(std::size_t b, std::size_t e) const {
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
    static void RemoveFromList(const std::vector<Range>& parts,
                               const std::vector<std::size_t>& separators,
                               const std::vector<char>& removed, std::vector<Range>& deletions) {
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

    void Delete(Range r) {
        for (std::size_t k = r.b; k < r.e; ++k) deleted_[k] = 1;
    }

    // ---- FROM items and column references ----
    FromItem ParseFromItem(std::size_t b, std::size_t e) const {
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
    std::string QualifierOf(Range r) const {
        const std::size_t n = r.e - r.b;
        if (n < 3 || n % 2 == 0) return {};
        for (std::size_t k = r.b; k < r.e; ++k) {
            const bool ok = (k - r.b) % 2 == 0 ? Name(k) : Sym(k, ".");
            if (!ok) return {};
        }
        return NormalizedName(Tok(r.e - 3));
    }

    static std::size_t FindItem(const std::vector<FromItem>& items, const std::string& name) {
        if (name.empty()) return kNone;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].exposed == name) return i;
        }
        return kNone;
    }

    bool References(Range r, const std::set<std::string>& names) const {
        for (std::size_t k = r.b; k + 1 < r.e; ++k) {
            if (Name(k) && Sym(k + 1, ".") && names.count(NormalizedName(Tok(k))) != 0) return true;
        }
        return false;
    }

    // Without the schema a bare column cannot be told apart from a column of an outer-joined
    // table, so conditions that stay beside outer joins must name their tables.
    void RequireQualifiedColumns(Range r) const {
        for (std::size_t k = r.b; k < r.e; ++k) {
            if (IsSubselectOpen(k)) {
                k = match_[k];
                continue;
            }
            const SqlToken& t = Tok(k);
            if (!t.IsName() || (t.kind == SqlTokenKind::kWord && t.text.front() == '@')) continue;
            if (t.kind == SqlTokenKind::kWord && IsAnyKeyword(t, kNonColumnWords)) continue;
            if (Sym(k + 1, "(") || Sym(k + 1, ".")) continue;
            if (k > r.b && (Sym(k - 1, ".") || Kw(k - 1, "AS") || Kw(k - 1, "COLLATE"))) continue;
            Refuse(kUnqualifiedColumn, r);
        }
    }

    // ---- planning: decide the edits ----

    // The host rejects `IN ()`, while SQLite would quietly match nothing: a statement that
    // failed before must not start to succeed.
    void RefuseEmptyInLists() const {
        for (std::size_t k = 0; k + 2 < sig_.size(); ++k) {
            if (Kw(k, "IN") && Sym(k + 1, "(") && Sym(k + 2, ")"))
                Refuse(kEmptyInList, {k >= 2 ? k - 2 : 0, k + 3});
        }
    }

    // In the host dialect 'a' + 'b' joins texts and '1' + 1 converts the text to a number;
    // SQLite's + turns any text into a number. Which one a + next to a text literal means
    // depends on the other side's type, which the layer does not know, so it refuses.
    void RefuseTextPlus() const {
        const auto is_text = [&](std::size_t k) { return k < sig_.size() && Tok(k).kind == SqlTokenKind::kString; };
        for (std::size_t k = 0; k < sig_.size(); ++k) {
            if (Sym(k, "+") && ((k > 0 && is_text(k - 1)) || is_text(k + 1)))
                Refuse(kTextPlus, {k >= 2 ? k - 2 : 0, std::min(k + 3, sig_.size())});
        }
    }

    // Returns whether the statement yields rows.
    bool PlanStatement(std::size_t b, std::size_t e) {
        if (!planned_.insert(b).second) return false;
        if (Kw(b, "SELECT") || Sym(b, "(")) {
            PlanQuery(b, e);
            std::size_t k = b;
            while (Sym(k, "(")) ++k;
            return Kw(k, "SELECT");
        }
        if (Kw(b, "WITH")) {
            const std::size_t main = FindTopLevel(b + 1, e, kStatementKeywords);
            RefuseOwnOuterJoinOps(b, main == kNone ? e : main, kOuterJoinOutsideWhere);
            return main != kNone && PlanStatement(main, e);
        }
        if (Kw(b, "UPDATE")) {
            PlanUpdate(b, e);
            return false;
        }
        if (Kw(b, "INSERT")) {
            const std::size_t select = FindTopLevel(b + 1, e, {"SELECT"});
            RefuseOwnOuterJoinOps(b, select == kNone ? e : select, kOuterJoinOutsideWhere);
            if (select != kNone) PlanQuery(select, e);
            return false;
        }
        RefuseOwnOuterJoinOps(b, e, kOuterJoinOutsideWhere);
        return false;
    }

    // A query expression: SELECT blocks joined by UNION [ALL], EXCEPT or INTERSECT.
    void PlanQuery(std::size_t b, std::size_t e) {
        std::size_t start = b;
        for (std::size_t k = b; k <= e; ++k) {
            if (k < e && Sym(k, "(")) {
                k = match_[k];
                continue;
            }
            if (k == e || AnyKw(k, kSetOperators)) {
                if (Kw(start, "SELECT")) {
                    PlanSelect(start, k);
                } else {
                    RefuseOwnOuterJoinOps(start, k, kOuterJoinOutsideWhere);
                }
                start = Kw(k + 1, "ALL") ? k + 2 : k + 1;
            }
        }
    }

    // One SELECT block: rewrites its old-style outer joins into LEFT JOINs.
    void PlanSelect(std::size_t b, std::size_t e) {
        const std::vector<std::size_t> ops = OwnOuterJoinOps(b, e);
        if (ops.empty()) return;
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

        std::vector<std::size_t> commas;
        const std::vector<Range> parts = SplitCommas(from + 1, where, commas);
        std::vector<FromItem> items;
        for (const Range& part : parts) {
            items.push_back(ParseFromItem(part.b, part.e));
            if (!items.back().exposed.empty() &&
                FindItem(items, items.back().exposed) != items.size() - 1) {
                Refuse(kDuplicateFromName, {from, where});
            }
        }

        OuterJoinAnalysis analysis;
        const bool where_emptied = AnalyzeConditions(where + 1, where_end, items, analysis);

        // Each optional table hangs on exactly one preserved table.
        std::vector<std::size_t> preserved_of(items.size(), kNone);
        for (const OuterPredicate& p : analysis.predicates) {
            if (preserved_of[p.optional] != kNone && preserved_of[p.optional] != p.preserved) {
                Refuse(kOuterJoinTwoPreserved, p.range);
            }
            preserved_of[p.optional] = p.preserved;
        }
        // Preserved tables first, in their order; then each optional table once the table it
        // hangs on stands to its left, since an ON may only name tables to its left.
        std::vector<std::size_t> order;
        std::vector<char> placed(items.size(), 0);
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (preserved_of[i] == kNone) {
                order.push_back(i);
                placed[i] = 1;
            }
        }
        while (order.size() < items.size()) {
            bool progress = false;
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (!placed[i] && placed[preserved_of[i]]) {
                    order.push_back(i);
                    placed[i] = 1;
                    progress = true;
                }
            }
            if (!progress) Refuse(kOuterJoinCycle, {where, where_end});
        }

        std::set<std::string> optional_names;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (preserved_of[i] != kNone) optional_names.insert(items[i].exposed);
        }
        for (const Range& r : analysis.kept) {
            if (References(r, optional_names)) Refuse(kOptionalTableReferenced, r);
            RequireQualifiedColumns(r);
        }
        bool reordered = false;
        for (std::size_t i = 0; i < order.size(); ++i) reordered = reordered || order[i] != i;
        if (reordered && HasBareStar(b + 1, from)) Refuse(kStarWithReorder, {b, where});

        // The joins are written out before any token is marked as left out.
        std::string joins;
        for (std::size_t i : order) {
            if (preserved_of[i] == kNone) continue;
            std::string conditions;
            for (const OuterPredicate& p : analysis.predicates) {
                if (p.optional != i) continue;
                replace_[p.op] = "=";
                if (!conditions.empty()) conditions += kAnd;
                conditions += Render(p.range.b, p.range.e);
            }
            joins += kLeftJoin;
            joins += Render(items[i].range.b, items[i].range.e);
            joins += kOn;
            joins += conditions;
        }
        std::size_t last_preserved = 0;
        std::vector<char> removed(items.size(), 0);
        for (std::size_t i = 0; i < items.size(); ++i) {
            removed[i] = preserved_of[i] != kNone;
            if (!removed[i]) last_preserved = i;
        }
        after_[items[last_preserved].range.e - 1] += joins;
        std::vector<Range> deletions = std::move(analysis.deletions);
        RemoveFromList(parts, commas, removed, deletions);
        if (where_emptied) deletions.push_back({where, where_end});
        for (const Range& r : deletions) Delete(r);
    }

    // A `*` standing for all columns (not `t.*`, not a multiplication).
    bool HasBareStar(std::size_t b, std::size_t e) const {
        for (std::size_t k = b; k < e; ++k) {
            if (Sym(k, "(")) {
                k = match_[k];
            } else if (Sym(k, "*") && !(k > b && Sym(k - 1, ".")) &&
                       (k + 1 == e || Sym(k + 1, ","))) {
                return true;
            }
        }
        return false;
    }

    // Sorts the top-level AND terms of a WHERE (or of a parenthesised AND group within it)
    // into outer-join predicates and conditions that stay. Returns true when every term is
    // an outer-join predicate, so the caller leaves the whole range out.
    bool AnalyzeConditions(std::size_t b, std::size_t e, const std::vector<FromItem>& items,
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
                analysis.kept.push_back(t);
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

    OuterPredicate ParseOuterPredicate(Range t, const std::vector<FromItem>& items) const {
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

    // UPDATE alias SET alias.col=... FROM table alias [JOIN ...] WHERE ... becomes
    // UPDATE table AS alias SET col=... FROM <the others> WHERE (<its join>) AND (<where>).
    void PlanUpdate(std::size_t b, std::size_t e) {
        RefuseOwnOuterJoinOps(b, e, kOuterJoinInUpdate);
        const std::size_t set = FindTopLevel(b + 1, e, {"SET"});
        if (set == kNone) return;
        const std::size_t from = FindTopLevel(set + 1, e, {"FROM"});
        if (from == kNone) return;  // a plain UPDATE table SET ... runs as it is
        const std::size_t where = FindTopLevel(from + 1, e, {"WHERE"});
        std::size_t from_end = FindTopLevel(from + 1, e, {"WHERE", "OPTION"});
        if (from_end == kNone) from_end = e;
        if (set != b + 2 || !Name(b + 1)) Refuse(kUpdateQualifiedTarget, {b, set});
        const std::string target = NormalizedName(Tok(b + 1));

        std::vector<std::size_t> commas;
        const std::vector<Range> groups = SplitCommas(from + 1, from_end, commas);
        std::vector<std::vector<JoinedItem>> chains;
        for (const Range& g : groups) chains.push_back(ParseJoinChain(g.b, g.e));

        std::size_t group = kNone;
        std::size_t pos = kNone;
        for (std::size_t g = 0; g < chains.size(); ++g) {
            for (std::size_t p = 0; p < chains[g].size(); ++p) {
                if (chains[g][p].item.exposed != target) continue;
                if (group != kNone) Refuse(kDuplicateFromName, {from, from_end});
                group = g;
                pos = p;
            }
        }
        if (group == kNone) Refuse(kUpdateTargetNotInFrom, {b, from_end});
        const FromItem& target_item = chains[group][pos].item;
        if (target_item.name.e == target_item.name.b)
            Refuse(kUpdateDerivedTarget, target_item.range);

        // Conditions that name the target cannot stay in SQLite's FROM (the target is not part
        // of it); as all joins here are inner joins, moving them to WHERE keeps the meaning.
        std::vector<Range> moved;
        std::vector<Range> deletions;
        std::vector<JoinedItem>& chain = chains[group];
        std::vector<char> handled(chain.size(), 0);
        handled[pos] = 1;
        if (chain.size() == 1) {
            std::vector<char> removed(groups.size(), 0);
            removed[group] = 1;
            RemoveFromList(groups, commas, removed, deletions);
            if (groups.size() == 1) deletions.push_back({from, from + 1});
        } else if (pos > 0) {
            deletions.push_back(chain[pos].Whole());
            if (chain[pos].on != kNone) moved.push_back(chain[pos].cond);
        } else {
            // The table after the target becomes the first one and gives up its join keywords.
            JoinedItem& next = chain[1];
            deletions.push_back(target_item.range);
            deletions.push_back({next.join_begin, next.item.range.b});
            if (next.on != kNone) {
                deletions.push_back({next.on, next.cond.e});
                moved.push_back(next.cond);
            }
            handled[1] = 1;
        }
        std::set<std::string> target_names{target};
        for (std::size_t g = 0; g < chains.size(); ++g) {
            for (std::size_t p = 0; p < chains[g].size(); ++p) {
                const JoinedItem& j = chains[g][p];
                if ((g == group && handled[p]) || j.on == kNone ||
                    !References(j.cond, target_names))
                    continue;
                deletions.push_back({j.on, j.cond.e});
                moved.push_back(j.cond);
            }
        }

        // SET targets lose the alias: SQLite wants bare column names there.
        std::vector<std::size_t> set_commas;
        for (const Range& a : SplitCommas(set + 1, from, set_commas)) {
            if (a.b + 3 < a.e && Name(a.b) && Sym(a.b + 1, ".") && Name(a.b + 2) &&
                Sym(a.b + 3, "=")) {
                if (NormalizedName(Tok(a.b)) != target) Refuse(kUpdateSetOtherTable, a);
                deletions.push_back({a.b, a.b + 2});
            } else if (!(a.b + 1 < a.e && Name(a.b) && Sym(a.b + 1, "="))) {
                Refuse(kUpdateSetNotColumn, a);
            }
        }

        std::string target_text = Render(target_item.name.b, target_item.name.e);
        if (target_item.alias != kNone) {
            target_text += kAs;
            target_text += RenderToken(target_item.alias);
        }
        replace_[b + 1] = target_text;
        std::string conditions;
        for (const Range& c : moved) {
            if (!conditions.empty()) conditions += kAnd;
            conditions += "(" + Render(c.b, c.e) + ")";
        }
        for (const Range& r : deletions) Delete(r);
        if (conditions.empty()) return;
        if (where != kNone && where + 1 < e) {
            std::size_t where_end = FindTopLevel(where + 1, e, {"OPTION"});
            if (where_end == kNone) where_end = e;
            before_[where + 1] += conditions + std::string(kAnd) + "(";
            after_[where_end - 1] += ")";
        } else {
            std::size_t anchor = from_end - 1;
            while (deleted_[anchor]) --anchor;
            after_[anchor] += std::string(kWhere) + conditions;
        }
    }

    // The first depth-0 join keyword or ON in [b, e), or e.
    std::size_t NextJoinBoundary(std::size_t b, std::size_t e) const {
        for (std::size_t k = b; k < e; ++k) {
            if (Sym(k, "(")) {
                k = match_[k];
            } else if (IsJoinWord(k) || Kw(k, "ON")) {
                return k;
            }
        }
        return e;
    }

    std::vector<JoinedItem> ParseJoinChain(std::size_t b, std::size_t e) const {
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

    // ---- writing out ----
    std::string RenderQuery(std::size_t b, std::size_t e) {
        PlanStatement(b, e);
        return Render(b, e);
    }

    // Blanks and comments between two token positions of the batch.
    std::string TriviaText(std::size_t from, std::size_t to) const {
        std::string out;
        for (std::size_t i = from; i < to; ++i) {
            const SqlToken& t = tokens_[i];
            out += t.kind == SqlTokenKind::kBlockComment ? CommentForSqlite(t.text)
                                                         : std::string(t.text);
        }
        return out;
    }
    std::string TriviaBetween(std::size_t k1, std::size_t k2) const {
        return TriviaText(sig_[k1] + 1, sig_[k2]);
    }

    std::string RenderToken(std::size_t k) const {
        const SqlToken& t = Tok(k);
        // N'text' is a Unicode literal in the host dialect; every SQLite text is Unicode.
        if (t.kind == SqlTokenKind::kString && t.text.front() != '\'')
            return std::string(t.text.substr(1));
        // SQLite's [name] has no ]] escape: such names are written in double quotes instead.
        if (t.kind == SqlTokenKind::kQuotedName && t.text.front() == '[' &&
            t.text.find("]]") != std::string_view::npos) {
            std::string out = "\"";
            for (std::size_t i = 1; i + 1 < t.text.size(); ++i) {
                if (t.text[i] == ']') ++i;
                if (t.text[i] == '"') out += '"';
                out += t.text[i];
            }
            return out + "\"";
        }
        return std::string(t.text);
    }

    // Writes the tokens of [b, e) with the edits applied. Where tokens are left out, one of
    // the blanks around them stays: the one after them, or the one before when that is empty.
    std::string Render(std::size_t b, std::size_t e) {
        std::string out;
        bool gap = false;
        std::string gap_trivia;  // the blanks before the first token left out
        for (std::size_t k = b; k < e; ++k) {
            if (deleted_[k]) {
                if (!gap && k > b) gap_trivia = TriviaBetween(k - 1, k);
                gap = true;
                continue;
            }
            if (k > b) {
                std::string trivia = TriviaBetween(k - 1, k);
                if (gap && trivia.empty()) trivia = std::move(gap_trivia);
                if (gap && trivia.empty() && !out.empty() && IsWordByte(out.back()) &&
                    IsWordByte(Tok(k).text.front())) {
                    trivia = " ";
                }
                out += trivia;
            }
            gap = false;
            gap_trivia.clear();
            if (auto it = before_.find(k); it != before_.end()) out += it->second;
            std::size_t last = k;
            if (auto it = replace_.find(k); it != replace_.end()) {
                out += it->second;
            } else if (IsSubselectOpen(k)) {
                last = match_[k];
                out += Tok(k).text;
                out += TriviaBetween(k, k + 1);
                out += RenderQuery(k + 1, last);
                out += TriviaBetween(last - 1, last);
                out += Tok(last).text;
            } else {
                out += RenderToken(k);
            }
            if (auto it = after_.find(last); it != after_.end()) out += it->second;
            k = last;
        }
        return out;
    }

    std::string_view batch_;
    const std::vector<SqlToken>& tokens_;
    TokenRange range_;
    std::vector<std::size_t> sig_;    // batch token index of each significant token
    std::vector<std::size_t> match_;  // the partner of each parenthesis
    std::vector<char> deleted_;
    std::map<std::size_t, std::string> replace_;
    std::map<std::size_t, std::string> before_;
    std::map<std::size_t, std::string> after_;
    std::set<std::size_t> planned_;  // statements and sub-selects already planned, by first token
};

}  // namespace

std::vector<TranslatedStatement> TranslateBatch(std::string_view batch) {
    const std::vector<SqlToken> tokens = TokenizeSql(batch);
    std::vector<TranslatedStatement> statements;
    for (const TokenRange& range : BatchSplitter(batch, tokens).Split()) {
        StatementTranslator translator(batch, tokens, range);
        if (translator.Empty()) continue;
        statements.push_back(translator.Translate());
    }
    return statements;
}

}  // namespace orba::hostkit
