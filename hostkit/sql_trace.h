// A trace of the SQL texts handed to the account database, for a person who wants to see
// what a step sent (orbabt --trace-sql): each text followed by a line "GO".
#pragma once

#include <string>
#include <string_view>

namespace orba::hostkit {

// Appends every traced text to `path`; an empty path stops tracing.
void SetSqlTraceFile(const std::string& path);
// Appends one text to the trace file, when tracing.
void TraceSql(std::string_view sql);

}  // namespace orba::hostkit
