// The translation of one statement of a batch: the token-range types and helpers its steps
// share (analysis, outer-join and UPDATE ... FROM planning, rendering), for the dialect
// layer's own files only.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/dialect/batch_split.h"
#include "hostkit/dialect/sql_dialect.h"
#include "hostkit/dialect/sql_tokenizer.h"
#include "hostkit/dialect/sql_words.h"

namespace orba::hostkit::dialect {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// What the layer refuses in more than one step, named the way the error message shows it.
constexpr std::string_view kOuterJoinOutsideWhere =
    "outer join operator (*= or =*) outside the WHERE clause of a SELECT";
constexpr std::string_view kDuplicateFromName =
    "two tables with the same name or alias in one FROM";
constexpr std::string_view kUnsupportedFromItem =
    "table source in FROM that is not 'table [AS] alias'";
constexpr std::string_view kOuterJoinInUpdate = "outer join in an UPDATE ... FROM";

constexpr std::string_view kAnd = " AND ";

inline const Words kJoinWords = {"JOIN",  "INNER", "LEFT",  "RIGHT",  "FULL",
                                 "CROSS", "OUTER", "APPLY", "NATURAL"};

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

// A WHERE condition on one outer-joined (optional) table alone, with constants or columns
// of tables joined before it: it restricts that table before the join, so it goes into the
// table's ON clause.
struct InnerRestriction {
    Range range;
    std::size_t optional;
};

struct OuterJoinAnalysis {
    std::vector<OuterPredicate> predicates;
    std::vector<InnerRestriction> restrictions;
    std::vector<Range> kept;       // WHERE conditions that stay in WHERE
    std::vector<Range> deletions;  // tokens to leave out of WHERE
    // Set once the joins are known: the optional table a condition restricts, or kNone when
    // it stays in WHERE.
    std::function<std::size_t(Range)> restricts;
};

// Where the clauses of a SELECT with outer-join operators stand.
struct SelectClauses {
    std::size_t from;
    std::size_t where;
    std::size_t where_end;  // the first token after the WHERE condition
};

// Where the clauses of an UPDATE ... FROM stand, and the table it updates.
struct UpdateClauses {
    std::size_t update;  // the UPDATE keyword
    std::size_t set;
    std::size_t from;
    std::size_t where;     // kNone without WHERE
    std::size_t from_end;  // the first token after the FROM list
    std::size_t end;       // the end of the statement
    std::string target;    // the name written after UPDATE, normalized
};

// The table an UPDATE ... FROM updates: the join chain of its FROM that holds it, and where.
struct UpdateTarget {
    std::size_t group;  // index of the comma-separated join chain
    std::size_t pos;    // index within that chain
};

// The edits an UPDATE ... FROM gets besides its target: tokens left out, and the join
// conditions that move to WHERE, in the order they are written there.
struct UpdateEdits {
    std::vector<Range> moved;
    std::vector<Range> deletions;
};

// Translates one statement. Significant tokens (not blanks or comments) are addressed by
// their index in sig_; the rewrites are recorded as edits on those tokens and applied when
// the statement is written out, with the original blanks and comments between them.
//
// The members are defined by step: statement_translator.cpp (the statement as a whole),
// statement_analysis.cpp (scanning token ranges, FROM items, column references),
// outer_joins.cpp (SELECT with *= and =*), update_from.cpp (UPDATE ... FROM) and render.cpp
// (writing the statement out with its edits).
class StatementTranslator {
  public:
    StatementTranslator(std::string_view batch, const std::vector<SqlToken>& tokens,
                        TokenRange range, const ColumnCatalogue& catalogue = {});

    bool Empty() const { return sig_.empty(); }

    TranslatedStatement Translate();

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

    std::string_view TextOf(std::size_t b, std::size_t e) const;
    [[noreturn]] void Refuse(std::string_view construct, Range r) const;
    [[noreturn]] void RefuseAround(std::string_view construct, std::size_t k) const;

    // ---- the statement as a whole (statement_translator.cpp) ----
    void MatchParentheses();
    void RefuseEmptyInLists() const;
    void RefuseTextPlus() const;
    bool PlanStatement(std::size_t b, std::size_t e);
    void PlanQuery(std::size_t b, std::size_t e);

    // ---- scanning at parenthesis depth 0 (statement_analysis.cpp) ----
    std::size_t FindTopLevel(std::size_t b, std::size_t e, Words words) const;
    std::vector<std::size_t> OwnOuterJoinOps(std::size_t b, std::size_t e) const;
    bool HasOwnOuterJoinOp(Range r) const { return !OwnOuterJoinOps(r.b, r.e).empty(); }
    void RefuseOwnOuterJoinOps(std::size_t b, std::size_t e, std::string_view construct) const;
    std::vector<Range> SplitCommas(std::size_t b, std::size_t e,
                                   std::vector<std::size_t>& separators) const;
    std::vector<Range> SplitAnd(std::size_t b, std::size_t e,
                                std::vector<std::size_t>& separators) const;
    bool HasTopLevelOr(std::size_t b, std::size_t e) const;
    static void RemoveFromList(const std::vector<Range>& parts,
                               const std::vector<std::size_t>& separators,
                               const std::vector<char>& removed, std::vector<Range>& deletions);
    void Delete(Range r);

    // ---- FROM items and column references (statement_analysis.cpp) ----
    FromItem ParseFromItem(std::size_t b, std::size_t e) const;
    std::string QualifierOf(Range r) const;
    static std::size_t FindItem(const std::vector<FromItem>& items, const std::string& name);
    bool References(Range r, const std::set<std::string>& names) const;
    void RequireQualifiedColumns(Range r) const;

    // ---- SELECT with old-style outer joins (outer_joins.cpp) ----
    void PlanSelect(std::size_t b, std::size_t e);
    SelectClauses LocateOuterJoinClauses(std::size_t b, std::size_t e,
                                         const std::vector<std::size_t>& ops) const;
    std::vector<FromItem> ParseFromList(const std::vector<Range>& parts, Range from_list) const;
    std::vector<std::size_t> PreservedOf(std::size_t count,
                                         const std::vector<OuterPredicate>& predicates) const;
    std::vector<std::size_t> JoinOrder(const std::vector<std::size_t>& preserved_of,
                                       Range where) const;
    bool IsBareColumn(std::size_t k, std::size_t b) const;
    void ResolveBareColumns(Range where, const std::vector<FromItem>& items);
    void CheckConditionsThatStay(const std::vector<FromItem>& items,
                                 const std::vector<std::size_t>& preserved_of,
                                 const std::vector<Range>& kept) const;
    std::string LeftJoins(const std::vector<std::size_t>& order,
                          const std::vector<std::size_t>& preserved_of,
                          const std::vector<FromItem>& items, const OuterJoinAnalysis& analysis);
    std::size_t RestrictedTable(Range t, const std::vector<FromItem>& items,
                                const std::vector<std::size_t>& preserved_of,
                                const std::vector<std::size_t>& order) const;
    bool HasBareStar(std::size_t b, std::size_t e) const;
    bool AnalyzeConditions(std::size_t b, std::size_t e, const std::vector<FromItem>& items,
                           OuterJoinAnalysis& analysis);
    OuterPredicate ParseOuterPredicate(Range t, const std::vector<FromItem>& items) const;

    // ---- UPDATE ... FROM (update_from.cpp) ----
    void PlanUpdate(std::size_t b, std::size_t e);
    bool LocateUpdateClauses(std::size_t b, std::size_t e, UpdateClauses& c) const;
    UpdateTarget FindUpdateTarget(const std::vector<std::vector<JoinedItem>>& chains,
                                  const UpdateClauses& c) const;
    void DetachTarget(const std::vector<Range>& groups, const std::vector<std::size_t>& commas,
                      const std::vector<JoinedItem>& chain, UpdateTarget target, std::size_t from,
                      UpdateEdits& edits) const;
    void MoveTargetConditions(const std::vector<std::vector<JoinedItem>>& chains,
                              UpdateTarget target, const std::string& target_name,
                              UpdateEdits& edits) const;
    void UnqualifySetColumns(const UpdateClauses& c, std::vector<Range>& deletions) const;
    std::string TargetText(const FromItem& target);
    void AddMovedConditions(const std::string& conditions, const UpdateClauses& c);
    std::size_t NextJoinBoundary(std::size_t b, std::size_t e) const;
    std::vector<JoinedItem> ParseJoinChain(std::size_t b, std::size_t e) const;

    // ---- writing out (render.cpp) ----
    std::string RenderQuery(std::size_t b, std::size_t e);
    std::string TriviaText(std::size_t from, std::size_t to) const;
    std::string TriviaBetween(std::size_t k1, std::size_t k2) const {
        return TriviaText(sig_[k1] + 1, sig_[k2]);
    }
    std::string RenderToken(std::size_t k) const;
    std::string Render(std::size_t b, std::size_t e);
    std::string RenderSubselect(std::size_t open);

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
    ColumnCatalogue catalogue_;
    // Columns written without their table beside outer joins, and the FROM item the
    // catalogue found them in (its exposed name).
    std::map<std::size_t, std::string> resolved_;
};

}  // namespace orba::hostkit::dialect
