// The host's local system database: a SQLite file opened through the data-access provider
// of the 4.0 connection-string form, and the utility library's application object that says
// in which directory the file is sought.
#pragma once

#include <string>
#include <string_view>

#include "platform/db_connection.h"
#include "platform/dispatch.h"

namespace orba::hostkit {

inline constexpr std::string_view kLocalDbProviderName = "Microsoft.Jet.OLEDB.4.0";
inline constexpr std::string_view kUtilityAppProgId = "Varnick.Application";

// Opens the file named under "Data Source" as a database (it must exist and be one) and
// returns the complete connection string. Raises an Error naming the file otherwise.
std::string OpenLocalSystemDatabase(const platform::ConnectionRequest& request);

// Installs the provider above in this process.
void RegisterLocalDatabaseProvider();
void UnregisterLocalDatabaseProvider();

// The directory in which the local system database is sought, for a component installed in
// `component_dir`: the component's own directory, always ending with "/". Raises an Error
// (kPathNotFound) when the directory does not exist.
std::string SystemDirectoryFor(std::string_view component_dir);

// The utility library's application object: GetSystemDir(component directory).
class UtilityApp : public platform::Dispatchable<UtilityApp> {
public:
    static const platform::MemberTable<UtilityApp>& Members();
};

}  // namespace orba::hostkit
