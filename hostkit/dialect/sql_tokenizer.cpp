#include "hostkit/dialect/sql_tokenizer.h"

#include <array>

#include "platform/error.h"
#include "platform/utf8.h"

namespace orba::hostkit {
namespace {

constexpr std::string_view kUnterminatedString = "unterminated string literal";
constexpr std::string_view kUnterminatedName = "unterminated quoted name";
constexpr std::string_view kUnterminatedComment = "unterminated block comment";
constexpr std::string_view kRefusalPrefix = "cannot translate for SQLite: ";
constexpr std::string_view kRefusalNear = " in \"";
constexpr std::size_t kExcerptLength = 60;

// Two-character operators, tried before single characters. *= and =* are the host's
// outer-join operators and must come out as one token each.
constexpr std::array<std::string_view, 11> kTwoCharSymbols = {
    "*=", "=*", "<=", ">=", "<>", "!=", "!<", "!>", "||", "<<", ">>"};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
    // Bytes of multi-byte UTF-8 characters count as letters, so names in any script work.
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           static_cast<unsigned char>(c) >= 0x80;
}
bool IsWordStart(char c) {
    return IsLetter(c) || c == '_' || c == '@' || c == '#';
}
bool IsWordChar(char c) {
    return IsWordStart(c) || IsDigit(c) || c == '$';
}
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
char ToLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Index just past a quoted run that opened at `open` (the quote character itself), where a
// doubled closing quote stands for one quote inside the run.
std::size_t SkipQuoted(std::string_view s, std::size_t open, char close,
                       std::string_view construct) {
    std::size_t i = open + 1;
    while (i < s.size()) {
        if (s[i] == close) {
            if (i + 1 < s.size() && s[i + 1] == close) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    ThrowNotTranslatable(construct, s.substr(open));
}

std::size_t SkipNumber(std::string_view s, std::size_t i) {
    if (s[i] == '0' && i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        i += 2;
        while (i < s.size() && IsHexDigit(s[i])) ++i;
        return i;
    }
    while (i < s.size() && IsDigit(s[i])) ++i;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i])) ++i;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && IsDigit(s[j])) {
            i = j;
            while (i < s.size() && IsDigit(s[i])) ++i;
        }
    }
    return i;
}

}  // namespace

bool SqlToken::IsKeyword(std::string_view upper) const noexcept {
    if (kind != SqlTokenKind::kWord || text.size() != upper.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != upper[i]) return false;
    }
    return true;
}

std::vector<SqlToken> TokenizeSql(std::string_view s) {
    std::vector<SqlToken> tokens;
    std::size_t i = 0;
    auto push = [&](SqlTokenKind kind, std::size_t start) {
        tokens.push_back({kind, s.substr(start, i - start), start});
    };
    while (i < s.size()) {
        const std::size_t start = i;
        const char c = s[i];
        const char next = i + 1 < s.size() ? s[i + 1] : '\0';
        if (IsBlank(c)) {
            while (i < s.size() && IsBlank(s[i])) ++i;
            push(SqlTokenKind::kBlank, start);
        } else if (c == '-' && next == '-') {
            while (i < s.size() && s[i] != '\r' && s[i] != '\n') ++i;
            push(SqlTokenKind::kLineComment, start);
        } else if (c == '/' && next == '*') {
            int depth = 0;
            while (i < s.size()) {
                if (s[i] == '/' && i + 1 < s.size() && s[i + 1] == '*') {
                    ++depth;
                    i += 2;
                } else if (s[i] == '*' && i + 1 < s.size() && s[i + 1] == '/') {
                    i += 2;
                    if (--depth == 0) break;
                } else {
                    ++i;
                }
            }
            if (depth != 0) ThrowNotTranslatable(kUnterminatedComment, s.substr(start));
            push(SqlTokenKind::kBlockComment, start);
        } else if (c == '\'') {
            i = SkipQuoted(s, i, '\'', kUnterminatedString);
            push(SqlTokenKind::kString, start);
        } else if ((c == 'N' || c == 'n') && next == '\'') {
            i = SkipQuoted(s, i + 1, '\'', kUnterminatedString);
            push(SqlTokenKind::kString, start);
        } else if (c == '[') {
            i = SkipQuoted(s, i, ']', kUnterminatedName);
            push(SqlTokenKind::kQuotedName, start);
        } else if (c == '"') {
            i = SkipQuoted(s, i, '"', kUnterminatedName);
            push(SqlTokenKind::kQuotedName, start);
        } else if (IsWordStart(c)) {
            while (i < s.size() && IsWordChar(s[i])) ++i;
            push(SqlTokenKind::kWord, start);
        } else if (IsDigit(c) || (c == '.' && IsDigit(next))) {
            i = SkipNumber(s, i);
            push(SqlTokenKind::kNumber, start);
        } else {
            i += 1;
            for (std::string_view two : kTwoCharSymbols) {
                if (s.substr(start, 2) == two) {
                    i = start + 2;
                    break;
                }
            }
            push(SqlTokenKind::kSymbol, start);
        }
    }
    return tokens;
}

std::string NormalizedName(const SqlToken& token) {
    std::string_view text = token.text;
    std::string out;
    if (token.kind == SqlTokenKind::kQuotedName && text.size() >= 2) {
        const char close = text.front() == '[' ? ']' : '"';
        text = text.substr(1, text.size() - 2);
        for (std::size_t i = 0; i < text.size(); ++i) {
            out += ToLower(text[i]);
            if (text[i] == close && i + 1 < text.size() && text[i + 1] == close) ++i;
        }
        return out;
    }
    for (char c : text) out += ToLower(c);
    return out;
}

void ThrowNotTranslatable(std::string_view construct, std::string_view text) {
    std::string excerpt;
    bool pending_blank = false;
    for (char c : text) {
        if (IsBlank(c)) {
            pending_blank = !excerpt.empty();
            continue;
        }
        // Cut only before the first byte of a character, so the message stays valid UTF-8.
        if (excerpt.size() >= kExcerptLength && !platform::IsUtf8Continuation(c)) {
            excerpt += "...";
            break;
        }
        if (pending_blank) excerpt += ' ';
        pending_blank = false;
        excerpt += c;
    }
    std::string message(kRefusalPrefix);
    message += construct;
    message += kRefusalNear;
    message += excerpt;
    message += '"';
    throw platform::Error(platform::ErrorCode::kSqlNotTranslatable, std::move(message));
}

}  // namespace orba::hostkit
