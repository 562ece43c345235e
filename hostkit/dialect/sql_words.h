// Keyword lists and keyword matching shared by the steps of the dialect layer (splitting a
// batch, planning a statement).
#pragma once

#include <algorithm>
#include <initializer_list>
#include <string_view>

#include "hostkit/dialect/sql_tokenizer.h"

namespace orba::hostkit::dialect {

using Words = std::initializer_list<std::string_view>;

// Keywords at which a new statement may begin even without a separator.
inline const Words kStatementKeywords = {"SELECT", "INSERT", "UPDATE", "DELETE"};

inline bool IsAnyKeyword(const SqlToken& token, Words words) {
    return std::any_of(words.begin(), words.end(),
                       [&](std::string_view w) { return token.IsKeyword(w); });
}

}  // namespace orba::hostkit::dialect
