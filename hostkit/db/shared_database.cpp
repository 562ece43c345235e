#include "hostkit/db/shared_database.h"

#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "hostkit/db/sqlite/sqlite_backend.h"

namespace orba::hostkit {

namespace {

// One connection serves one thread at a time, so a component is handed only what its own
// thread shares.
struct Sharing {
    uint64_t id;
    std::thread::id thread;
    std::string location;  // as AbsoluteLocation gives it
    std::unique_ptr<SharedDatabase> shared;
};

std::mutex g_mutex;
std::vector<Sharing> g_sharings;  // the latest last
uint64_t g_next_id = 1;

// The same form a Database's AbsoluteLocation has: a file by its absolute, normal path.
std::string Comparable(std::string_view location) {
    if (IsServerDatabaseUri(location)) return std::string(location);
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(std::filesystem::path(location), error);
    return error ? std::string(location) : path.lexically_normal().string();
}

}  // namespace

Statement& SharedDatabase::Prepared(std::string_view sql) {
    auto it = prepared_.find(sql);
    if (it == prepared_.end()) it = prepared_.emplace(std::string(sql), db_.Prepare(sql)).first;
    return *it->second;
}

SharedDatabaseScope::SharedDatabaseScope(Database& db) {
    Sharing sharing{0, std::this_thread::get_id(), db.AbsoluteLocation(), std::make_unique<SharedDatabase>(db)};
    std::lock_guard lock(g_mutex);
    id_ = sharing.id = g_next_id++;
    g_sharings.push_back(std::move(sharing));
}

SharedDatabaseScope::~SharedDatabaseScope() {
    std::unique_ptr<SharedDatabase> ended;  // its statements are finalised outside the lock
    std::lock_guard lock(g_mutex);
    for (auto it = g_sharings.begin(); it != g_sharings.end(); ++it) {
        if (it->id != id_) continue;
        ended = std::move(it->shared);
        g_sharings.erase(it);
        break;
    }
}

SharedDatabase* FindSharedDatabase(std::string_view location, bool for_writing) {
    const std::string wanted = Comparable(location);
    const std::thread::id thread = std::this_thread::get_id();
    std::lock_guard lock(g_mutex);
    for (auto it = g_sharings.rbegin(); it != g_sharings.rend(); ++it) {
        if (it->thread != thread || it->location != wanted) continue;
        if (for_writing && IsReadOnlyFile(it->shared->Db())) continue;
        return it->shared.get();
    }
    return nullptr;
}

}  // namespace orba::hostkit
