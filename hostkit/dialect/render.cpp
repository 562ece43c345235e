// Writing a planned statement out in SQLite's dialect: its tokens with the planned edits
// applied and the original blanks and comments between them.
#include <utility>

#include "hostkit/dialect/statement_translator.h"

namespace orba::hostkit::dialect {
namespace {

bool IsWordByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '@' || c == '#' || c == '$' || static_cast<unsigned char>(c) >= 0x80;
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

}  // namespace

std::string StatementTranslator::RenderQuery(std::size_t b, std::size_t e) {
    PlanStatement(b, e);
    return Render(b, e);
}

// Blanks and comments between two token positions of the batch.
std::string StatementTranslator::TriviaText(std::size_t from, std::size_t to) const {
    std::string out;
    for (std::size_t i = from; i < to; ++i) {
        const SqlToken& t = tokens_[i];
        out +=
            t.kind == SqlTokenKind::kBlockComment ? CommentForSqlite(t.text) : std::string(t.text);
    }
    return out;
}

std::string StatementTranslator::RenderToken(std::size_t k) const {
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
std::string StatementTranslator::Render(std::size_t b, std::size_t e) {
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
                trivia.assign(1, ' ');  // not = " ", on which g++ 12 wrongly warns (-Wrestrict)
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
            out += RenderSubselect(k);
        } else {
            out += RenderToken(k);
        }
        if (auto it = after_.find(last); it != after_.end()) out += it->second;
        k = last;
    }
    return out;
}

// A parenthesised sub-select, planned and written out as a statement of its own.
std::string StatementTranslator::RenderSubselect(std::size_t open) {
    const std::size_t close = match_[open];
    std::string out(Tok(open).text);
    out += TriviaBetween(open, open + 1);
    out += RenderQuery(open + 1, close);
    out += TriviaBetween(close - 1, close);
    out += Tok(close).text;
    return out;
}

}  // namespace orba::hostkit::dialect
