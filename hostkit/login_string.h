// How the host kit's components read the login property string they are given: find a key's
// value (braces allow ";" and "=" inside) and the account database named under "AcctDB".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orba::hostkit {

inline constexpr std::string_view kAccountDbKey = "AcctDB";
inline constexpr std::string_view kDataSourceKey = "Data Source";

// The value under `key` (case ignored), without its braces; empty when absent.
std::optional<std::string> FindLoginValue(std::string_view props, std::string_view key);

// The path of the account database: `AcctDB={Data Source=<path>}`. Raises an Error that says
// what is missing.
std::string AccountDatabasePath(std::string_view props);

// The login property string of this process, from the shared property store (kept by the
// store's component, which defines this).
std::string CurrentLoginProperties();

// The login property string a host builds for an account database file. Raises an Error
// (kBadInput) for a path the string cannot carry: one holding ';', '{' or '}', or beginning or
// ending with a blank.
std::string MakeLoginProperties(std::string_view database_path, std::string_view user_name = "orbabt",
                                int user_id = 1);

}  // namespace orba::hostkit
