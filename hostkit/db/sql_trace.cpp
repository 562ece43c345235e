#include "hostkit/sql_trace.h"

#include <fstream>
#include <mutex>

namespace orba::hostkit {

namespace {
std::mutex g_trace_mutex;
std::string g_trace_path;
}  // namespace

void SetSqlTraceFile(const std::string& path) {
    std::lock_guard lock(g_trace_mutex);
    g_trace_path = path;
}

void TraceSql(std::string_view sql) {
    std::lock_guard lock(g_trace_mutex);
    if (g_trace_path.empty()) return;
    std::ofstream out(g_trace_path, std::ios::binary | std::ios::app);
    out << sql;
    if (sql.empty() || sql.back() != '\n') out << '\n';
    out << "GO\n";
}

}  // namespace orba::hostkit
