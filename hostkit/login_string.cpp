#include "hostkit/login_string.h"

#include <fmt/format.h>

#include "hostkit/database.h"
#include "platform/dispatch.h"
#include "platform/error.h"
#include "platform/login_grammar.h"
#include "platform/text.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;

namespace {

// Characters that end or open a value of the login property string.
constexpr std::string_view kPathBreakers = ";{}";

// The host kit trims spaces and tabs around keys and values.
constexpr std::string_view kBlanks = " \t";

}  // namespace

std::optional<std::string> FindLoginValue(std::string_view props, std::string_view key) {
    while (auto pair = platform::NextLoginPair(props, kBlanks)) {
        if (!pair->assigned) return std::nullopt;  // text without "=" holds no pair
        if (platform::EqualsIgnoreCase(pair->key, key)) return std::string(pair->value);
    }
    return std::nullopt;
}

std::string AccountDatabasePath(std::string_view props) {
    auto account = FindLoginValue(props, kAccountDbKey);
    if (!account) {
        throw Error(ErrorCode::kNotFound,
                    fmt::format("The login properties name no account database: the key '{}' is missing", kAccountDbKey));
    }
    auto path = FindLoginValue(*account, kDataSourceKey);
    if (!path || path->empty()) {
        throw Error(ErrorCode::kNotFound,
                    fmt::format("The account database setting '{}={{{}}}' has no '{}='", kAccountDbKey, *account,
                                kDataSourceKey));
    }
    return *path;
}

std::string MakeLoginProperties(std::string_view database_path, std::string_view user_name, int user_id) {
    // The path stands between braces after "Data Source=": a ';' or a brace in it would end the
    // value early and blanks at either end are trimmed by every reader, so the string would
    // lead to another file. Such a path is refused rather than written.
    const bool outer_blank = !database_path.empty() && (platform::Trim(database_path, kBlanks).size() != database_path.size());
    if (database_path.find_first_of(kPathBreakers) != std::string_view::npos || outer_blank) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The account database path '{}' cannot be written into the login properties: "
                                "it holds ';', '{{' or '}}', or begins or ends with a blank",
                                WithoutPassword(database_path)));
    }
    return fmt::format("{}={{{}={}}};UserName={};UserID={}", kAccountDbKey, kDataSourceKey, database_path, user_name,
                       user_id);
}

}  // namespace orba::hostkit
