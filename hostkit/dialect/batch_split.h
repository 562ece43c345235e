// Splitting a batch into statements: where one statement ends and the next begins.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "hostkit/dialect/sql_tokenizer.h"

namespace orba::hostkit::dialect {

struct TokenRange {
    std::size_t begin;  // indices into the batch's token list
    std::size_t end;
};

// The statements of `batch` as ranges of its `tokens`: split at ';' and where a statement
// keyword at parenthesis depth 0 cannot continue the current statement. Throws
// platform::Error (kSqlNotTranslatable) for unbalanced parentheses.
std::vector<TokenRange> SplitBatch(std::string_view batch, const std::vector<SqlToken>& tokens);

}  // namespace orba::hostkit::dialect
