#include "hostkit/dialect/sql_dialect_pg.h"

#include <fmt/format.h>

#include <unordered_map>

#include "hostkit/dialect/sql_tokenizer.h"

namespace orba::hostkit {

namespace {

// Lower-case name -> first spelling of it among the names of `text`.
void CollectNames(std::string_view text, std::unordered_map<std::string, std::string>& names) {
    for (const SqlToken& t : TokenizeSql(text)) {
        if (!t.IsName()) continue;
        std::string written(t.text);
        if (t.kind == SqlTokenKind::kQuotedName) written = written.substr(1, written.size() - 2);
        names.emplace(NormalizedName(t), std::move(written));
    }
}

// The plain (unquoted) name of the column whose type starts at token `type`, or nothing.
std::string ColumnBefore(const std::vector<SqlToken>& tokens, size_t type) {
    while (type > 0) {
        const SqlToken& t = tokens[--type];
        if (t.IsTrivia()) continue;
        if (t.kind == SqlTokenKind::kWord) return std::string(t.text);
        break;
    }
    return {};
}

// The last token of the operand that starts after `from` (blanks skipped): a literal, a name
// with its qualifiers (a.b), or a parenthesised expression. tokens.size() when it is none of
// these, and the operand is then passed on as written.
size_t PatternEnd(const std::vector<SqlToken>& tokens, size_t from) {
    size_t i = from;
    while (i < tokens.size() && tokens[i].IsTrivia()) ++i;
    if (i >= tokens.size()) return tokens.size();
    if (tokens[i].kind == SqlTokenKind::kString) return i;
    if (tokens[i].IsSymbol("(")) {
        for (int depth = 0; i < tokens.size(); ++i) {
            if (tokens[i].IsSymbol("(")) ++depth;
            if (tokens[i].IsSymbol(")") && --depth == 0) return i;
        }
        return tokens.size();
    }
    if (!tokens[i].IsName()) return tokens.size();
    while (i + 2 < tokens.size() && tokens[i + 1].IsSymbol(".") && tokens[i + 2].IsName()) i += 2;
    // A name followed by "(" is a function call: its arguments are part of the operand.
    if (i + 1 < tokens.size() && tokens[i + 1].IsSymbol("(")) return PatternEnd(tokens, i + 1);
    return i;
}

}  // namespace

std::vector<TranslatedStatement> TranslateBatchForPostgres(std::string_view batch, const ColumnCatalogue& catalogue) {
    std::vector<TranslatedStatement> statements = TranslateBatch(batch, catalogue);
    for (TranslatedStatement& s : statements) s.sqlite = RenderForPostgres(s.sqlite);
    return statements;
}

namespace {

// Words that end a FROM list at its own parenthesis depth.
constexpr std::string_view kFromEnds[] = {"WHERE", "GROUP", "HAVING", "ORDER", "UNION", "EXCEPT", "INTERSECT",
                                          "LIMIT", "OFFSET", "WINDOW", "FOR", "OPTION", "RETURNING"};

bool EndsFrom(const SqlToken& t) {
    if (t.IsSymbol(";")) return true;
    for (std::string_view w : kFromEnds) {
        if (t.kind == SqlTokenKind::kWord && t.IsKeyword(w)) return true;
    }
    return false;
}

// One FROM list being read: the positions of its commas and whether it joins with JOIN.
struct FromList {
    int depth;
    std::vector<size_t> commas;
    bool joins = false;
};

}  // namespace

std::string RenderForPostgres(std::string_view translated) {
    const std::vector<SqlToken> tokens = TokenizeSql(translated);
    // Outer joins come out of the dialect layer as "a, b, c LEFT JOIN d ON a.x = d.y". SQLite
    // reads a comma as a join of the same rank as JOIN, so the ON may name any table before
    // it; the server ranks JOIN above the comma and would let it see c alone. In a FROM list
    // that has a JOIN the commas become CROSS JOIN, which the server reads left to right.
    std::vector<char> cross(tokens.size(), 0);
    std::vector<FromList> open;
    int depth = 0;
    auto close_list = [&] {
        if (open.back().joins) {
            for (size_t c : open.back().commas) cross[c] = 1;
        }
        open.pop_back();
    };
    for (size_t i = 0; i < tokens.size(); ++i) {
        const SqlToken& t = tokens[i];
        if (t.IsTrivia()) continue;
        if (t.IsSymbol("(")) {
            ++depth;
            continue;
        }
        if (t.IsSymbol(")")) {
            while (!open.empty() && open.back().depth >= depth) close_list();
            --depth;
            continue;
        }
        const bool here = !open.empty() && open.back().depth == depth;
        if (here && EndsFrom(t)) {
            close_list();
        } else if (here && t.IsSymbol(",")) {
            open.back().commas.push_back(i);
        } else if (here && t.kind == SqlTokenKind::kWord && t.IsKeyword("JOIN")) {
            open.back().joins = true;
        }
        if (t.kind == SqlTokenKind::kWord && t.IsKeyword("FROM")) open.push_back({depth, {}, false});
    }
    while (!open.empty()) close_list();

    std::string out;
    out.reserve(translated.size());
    size_t like_pattern_end = tokens.size();  // the last token of the pattern of the LIKE just passed
    for (size_t i = 0; i < tokens.size(); ++i) {
        const SqlToken& t = tokens[i];
        if (t.kind == SqlTokenKind::kWord && t.IsKeyword("LIKE")) {
            // The host database's LIKE ignores letter case. The server's LIKE refuses the text
            // collation (which ignores case in comparisons), so it matches case-insensitively
            // under the default collation instead, given to the pattern.
            out += "ILIKE";
            like_pattern_end = PatternEnd(tokens, i + 1);
            continue;
        }
        if (cross[i]) {
            out += " CROSS JOIN";
            if (i + 1 < tokens.size() && !tokens[i + 1].IsTrivia()) out += ' ';
        } else if (t.kind != SqlTokenKind::kQuotedName) {
            out += t.text;
        } else {
            // Names compare without regard to case, and the server keeps unquoted names in
            // lower case: a quoted name is passed on in lower case.
            out += '"';
            for (char c : NormalizedName(t)) {
                if (c == '"') out += '"';
                out += c;
            }
            out += '"';
        }
        if (i == like_pattern_end) out += " COLLATE \"default\"";
    }
    return out;
}

NameSpellings::NameSpellings(std::string_view script) { CollectNames(script, names_); }

const std::string* NameSpellings::Find(const std::string& folded) const {
    const auto it = names_.find(folded);
    return it == names_.end() ? nullptr : &it->second;
}

std::vector<std::string> FieldNamesAsWritten(const std::vector<std::string>& folded, std::string_view statement,
                                             const NameSpellings& known) {
    std::unordered_map<std::string, std::string> written;
    CollectNames(statement, written);
    std::vector<std::string> names;
    names.reserve(folded.size());
    for (const std::string& f : folded) {
        if (auto it = written.find(f); it != written.end()) {
            names.push_back(it->second);
        } else if (const std::string* spelt = known.Find(f)) {
            names.push_back(*spelt);
        } else {
            names.push_back(f);
        }
    }
    return names;
}

std::string ScriptInServerTypes(std::string_view script,
                                std::initializer_list<std::pair<std::string_view, std::string_view>> types,
                                std::string_view collation) {
    return ScriptInServerTypes(script, TypeNames(types.begin(), types.size()), collation);
}

std::string ScriptInServerTypes(std::string_view script, TypeNames types, std::string_view collation) {
    std::string out;
    const std::vector<SqlToken> tokens = TokenizeSql(script);
    for (size_t i = 0; i < tokens.size(); ++i) {
        const SqlToken& t = tokens[i];
        if (t.kind != SqlTokenKind::kWord) {
            out += t.text;
            continue;
        }
        if (t.IsKeyword("VARCHAR") || t.IsKeyword("NVARCHAR")) {
            // The server's blank-padded text ignores trailing blanks in comparisons, as the
            // host database does, yet keeps and returns them; the collation adds letter case.
            // Its length limit would pad every value, so the limit is a check of the length
            // without trailing blanks, named after the column so that a breach says which.
            out += "BPCHAR COLLATE ";
            out += collation;
            const std::string column = ColumnBefore(tokens, i);
            size_t j = i + 1;
            while (j < tokens.size() && tokens[j].IsTrivia()) ++j;
            if (j < tokens.size() && tokens[j].IsSymbol("(")) {
                std::string limit;
                while (++j < tokens.size() && !tokens[j].IsSymbol(")")) {
                    if (!tokens[j].IsTrivia()) limit += tokens[j].text;
                }
                i = j;
                if (!column.empty() && !limit.empty() &&
                    limit.find_first_not_of("0123456789") == std::string::npos) {
                    out += fmt::format(" CONSTRAINT \"{} holds at most {} characters\" CHECK (length({}) <= {})",
                                       column, limit, column, limit);
                }
            }
            // What follows without a blank ("VARCHAR(5)NOT NULL") must not run into the name.
            if (i + 1 < tokens.size() && tokens[i + 1].kind == SqlTokenKind::kWord) out += ' ';
            continue;
        }
        bool renamed = false;
        for (const auto& [word, server_type] : types) {
            if (t.IsKeyword(word)) {
                out += server_type;
                renamed = true;
                break;
            }
        }
        if (!renamed) out += t.text;
    }
    return out;
}

}  // namespace orba::hostkit
