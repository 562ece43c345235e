// Splits Transact-SQL text into tokens that keep their exact original text, so the dialect
// layer can rewrite a few constructs and reproduce everything else character for character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orba::hostkit {

enum class SqlTokenKind {
    kBlank,         // spaces, tabs, CR, LF
    kLineComment,   // -- up to the end of the line (the line break is not part of it)
    kBlockComment,  // /* ... */, nested ones included as the host dialect allows
    kWord,          // keyword, name, variable (@x) or temporary table (#x)
    kQuotedName,    // [name] or "name"
    kString,        // 'text' with '' inside, or N'text'
    kNumber,
    kSymbol,  // punctuation and operators, *= and =* among them
};

struct SqlToken {
    SqlTokenKind kind;
    std::string_view text;  // a view into the tokenized text
    std::size_t offset;     // where the token starts in the tokenized text

    // Blanks and comments: they separate tokens but carry no meaning.
    bool IsTrivia() const noexcept {
        return kind == SqlTokenKind::kBlank || kind == SqlTokenKind::kLineComment ||
               kind == SqlTokenKind::kBlockComment;
    }
    bool IsSymbol(std::string_view symbol) const noexcept {
        return kind == SqlTokenKind::kSymbol && text == symbol;
    }
    // Keywords are compared without regard to letter case; `upper` is given in capitals.
    bool IsKeyword(std::string_view upper) const noexcept;
    bool IsName() const noexcept {
        return kind == SqlTokenKind::kWord || kind == SqlTokenKind::kQuotedName;
    }
};

// Throws platform::Error (kSqlNotTranslatable) for an unterminated string, quoted name or
// block comment, naming the construct and where it starts.
std::vector<SqlToken> TokenizeSql(std::string_view text);

// The name a word or quoted-name token stands for, unquoted and in lower case, so names can
// be compared the way the host database compares them (without regard to case).
std::string NormalizedName(const SqlToken& token);

// Raises the dialect layer's refusal: platform::Error with kSqlNotTranslatable, naming the
// construct and quoting a short excerpt of the text where it stands.
[[noreturn]] void ThrowNotTranslatable(std::string_view construct, std::string_view text);

}  // namespace orba::hostkit
