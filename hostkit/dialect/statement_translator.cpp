// The translation of one statement as a whole: its significant tokens, the checks that apply
// to every statement, and which planning step each kind of statement goes through.
#include "hostkit/dialect/statement_translator.h"

#include <algorithm>

namespace orba::hostkit::dialect {
namespace {

constexpr std::string_view kEmptyInList = "empty IN () list";
constexpr std::string_view kTooDeep = "more than 200 nested parentheses or sub-selects";
constexpr std::string_view kTextPlus =
    "+ next to a text literal (string concatenation or conversion; SQLite's + only adds numbers)";

// Sub-selects and parenthesised expressions are translated recursively; beyond this depth a
// statement is refused rather than run out of stack. The account database server refuses
// far shallower nesting itself.
constexpr std::size_t kMostNesting = 200;

const Words kSetOperators = {"UNION", "EXCEPT", "INTERSECT"};

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

}  // namespace

StatementTranslator::StatementTranslator(std::string_view batch,
                                         const std::vector<SqlToken>& tokens, TokenRange range,
                                         const ColumnCatalogue& catalogue)
    : batch_(batch), tokens_(tokens), range_(range), catalogue_(catalogue) {
    for (std::size_t i = range.begin; i < range.end; ++i) {
        if (!tokens[i].IsTrivia()) sig_.push_back(i);
    }
    MatchParentheses();
    deleted_.assign(sig_.size(), 0);
}

// Pairs each parenthesis with its partner in match_; refuses nesting beyond kMostNesting.
void StatementTranslator::MatchParentheses() {
    match_.assign(sig_.size(), kNone);
    std::vector<std::size_t> open;
    for (std::size_t k = 0; k < sig_.size(); ++k) {
        if (Sym(k, "(")) {
            if (open.size() >= kMostNesting)
                Refuse(kTooDeep, {k >= 8 ? k - 8 : 0, std::min(k + 8, sig_.size())});
            open.push_back(k);
        } else if (Sym(k, ")") && !open.empty()) {
            match_[open.back()] = k;
            match_[k] = open.back();
            open.pop_back();
        }
    }
}

TranslatedStatement StatementTranslator::Translate() {
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

std::string_view StatementTranslator::TextOf(std::size_t b, std::size_t e) const {
    if (b >= e || b >= sig_.size()) return {};
    e = std::min(e, sig_.size());
    const SqlToken& last = Tok(e - 1);
    return batch_.substr(Tok(b).offset, last.offset + last.text.size() - Tok(b).offset);
}

void StatementTranslator::Refuse(std::string_view construct, Range r) const {
    ThrowNotTranslatable(construct, TextOf(r.b, r.e));
}

void StatementTranslator::RefuseAround(std::string_view construct, std::size_t k) const {
    Refuse(construct, {k >= 3 ? k - 3 : 0, std::min(k + 4, sig_.size())});
}

// The host rejects `IN ()`, while SQLite would quietly match nothing: a statement that
// failed before must not start to succeed.
void StatementTranslator::RefuseEmptyInLists() const {
    for (std::size_t k = 0; k + 2 < sig_.size(); ++k) {
        if (Kw(k, "IN") && Sym(k + 1, "(") && Sym(k + 2, ")"))
            Refuse(kEmptyInList, {k >= 2 ? k - 2 : 0, k + 3});
    }
}

// In the host dialect 'a' + 'b' joins texts and '1' + 1 converts the text to a number;
// SQLite's + turns any text into a number. Which one a + next to a text literal means
// depends on the other side's type, which the layer does not know, so it refuses.
void StatementTranslator::RefuseTextPlus() const {
    const auto is_text = [&](std::size_t k) {
        return k < sig_.size() && Tok(k).kind == SqlTokenKind::kString;
    };
    for (std::size_t k = 0; k < sig_.size(); ++k) {
        if (Sym(k, "+") && ((k > 0 && is_text(k - 1)) || is_text(k + 1)))
            Refuse(kTextPlus, {k >= 2 ? k - 2 : 0, std::min(k + 3, sig_.size())});
    }
}

// Returns whether the statement yields rows.
bool StatementTranslator::PlanStatement(std::size_t b, std::size_t e) {
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
void StatementTranslator::PlanQuery(std::size_t b, std::size_t e) {
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

}  // namespace orba::hostkit::dialect
