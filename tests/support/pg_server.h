// A throwaway PostgreSQL server for the test suites: a fresh cluster in a temporary folder,
// reachable only through a Unix socket in that folder, started on first use and stopped and
// removed when the test program ends. Tests ask it for fresh, empty databases.
#pragma once

#include <string>
#include <string_view>
#include <vector>
#include <sys/types.h>

namespace orba::testing {

class PgServer {
public:
    // The server of this test program, started on first use. Raises std::runtime_error with
    // a plain reason (no server programs installed, initdb or start failed with its log)
    // so that every test that needs it fails rather than being skipped.
    static PgServer& Shared();

    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // Makes an empty database (a schema of its own in the server's test database, named
    // `prefix`_n) and returns the URI that reaches it.
    std::string NewDatabase(std::string_view prefix = "branch");
    // A database holding the empty ERP schema: one handed back by an earlier test when there
    // is one, else a new one. Making the schema is most of what a test on the server costs.
    std::string TakeErpDatabase();
    // Hands back a database taken with TakeErpDatabase: its rows are removed and tables the
    // test added are dropped, and the next test gets it as new.
    void ReturnErpDatabase(const std::string& uri);
    // The URI of a database of this server by name.
    std::string Uri(std::string_view database) const;
    const std::string& Folder() const { return folder_; }

private:
    PgServer();
    void Start();
    void Stop();

    std::string bin_dir_;
    std::string folder_;
    pid_t server_pid_ = -1;
    int next_database_ = 0;
    std::vector<std::string> free_erp_databases_;
};

// The folder of the server programs (initdb, postgres): $ORBA_PG_BIN when set, else the
// newest /usr/lib/postgresql/<version>/bin that holds them; empty when there is none.
std::string FindPgBinDir();

}  // namespace orba::testing
