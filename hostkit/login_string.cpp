#include "hostkit/login_string.h"

#include <fmt/format.h>

#include "hostkit/pg_db.h"
#include "hostkit/share_props.h"
#include "platform/dispatch.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;

namespace {

// Characters that end or open a value of the login property string.
constexpr std::string_view kPathBreakers = ";{}";

std::string_view TrimBlanks(std::string_view s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

std::optional<std::string> FindLoginValue(std::string_view props, std::string_view key) {
    while (!props.empty()) {
        size_t eq = props.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        std::string_view name = TrimBlanks(props.substr(0, eq));
        std::string_view rest = TrimBlanks(props.substr(eq + 1));
        std::string_view value;
        if (!rest.empty() && rest.front() == '{') {
            size_t close = rest.find('}');
            value = rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
            size_t semi = close == std::string_view::npos ? std::string_view::npos : rest.find(';', close);
            props = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
        } else {
            size_t semi = rest.find(';');
            value = rest.substr(0, semi);
            props = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
        }
        if (platform::EqualsIgnoreCase(name, key)) return std::string(TrimBlanks(value));
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

std::string CurrentLoginProperties() {
    return SharedPropertyStore::Instance().Get(SharedPropertyStore::CurrentProcessId(), "PropsString").ToText();
}

std::string MakeLoginProperties(std::string_view database_path, std::string_view user_name, int user_id) {
    // The path stands between braces after "Data Source=": a ';' or a brace in it would end the
    // value early and blanks at either end are trimmed by every reader, so the string would
    // lead to another file. Such a path is refused rather than written.
    const bool outer_blank = !database_path.empty() && (TrimBlanks(database_path).size() != database_path.size());
    if (database_path.find_first_of(kPathBreakers) != std::string_view::npos || outer_blank) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The account database path '{}' cannot be written into the login properties: "
                                "it holds ';', '{{' or '}}', or begins or ends with a blank",
                                ShownLocation(database_path)));
    }
    return fmt::format("{}={{{}={}}};UserName={};UserID={}", kAccountDbKey, kDataSourceKey, database_path, user_name,
                       user_id);
}

}  // namespace orba::hostkit
