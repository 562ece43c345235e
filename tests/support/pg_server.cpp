#include "support/pg_server.h"

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "hostkit/database.h"
#include "hostkit/db/postgres/pg_db.h"
#include "hostkit/schema/erp_schema.h"
#include "hostkit/schema.h"

namespace orba::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char* kServerUser = "postgres";
// The database that holds the tests' schemas.
constexpr const char* kSharedDatabase = "orba_tests";

// The account the server runs under: the server refuses to run as root, so a test run as
// root hands the cluster to the "postgres" account.
struct RunAs {
    bool change = false;
    uid_t uid = 0;
    gid_t gid = 0;
};

RunAs ServerAccount() {
    RunAs as;
    if (geteuid() != 0) return as;
    const passwd* pw = getpwnam(kServerUser);
    if (!pw) {
        throw std::runtime_error("The tests run as root, and the PostgreSQL server refuses root, but there is no "
                                 "'postgres' account to run it under (install postgresql-15: scripts/install-deps)");
    }
    as.change = true;
    as.uid = pw->pw_uid;
    as.gid = pw->pw_gid;
    return as;
}

// Starts `argv` with its output appended to `log`, as the server account; returns its pid.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& log, const RunAs& as) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("Cannot start a process for the test database server");
    if (pid == 0) {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            close(fd);
        }
        // The server's own process group, so a test's signals do not reach it.
        setpgid(0, 0);
        if (as.change && (setgroups(0, nullptr) != 0 || setgid(as.gid) != 0 || setuid(as.uid) != 0)) _exit(126);
        // A test program that dies without stopping its server takes the server with it
        // (set after the change of account, which clears it).
        prctl(PR_SET_PDEATHSIG, SIGINT);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::string Tail(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    if (text.size() > 2000) text = "..." + text.substr(text.size() - 2000);
    return text;
}

}  // namespace

std::string FindPgBinDir() {
    if (const char* env = std::getenv("ORBA_PG_BIN"); env && *env) return env;
    std::string best;
    int best_version = -1;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        const fs::path bin = entry.path() / "bin";
        if (!fs::exists(bin / "initdb") || !fs::exists(bin / "postgres")) continue;
        const int version = std::atoi(entry.path().filename().c_str());
        if (version > best_version) {
            best_version = version;
            best = bin.string();
        }
    }
    return best;
}

PgServer& PgServer::Shared() {
    static PgServer server;
    return server;
}

PgServer::PgServer() {
    bin_dir_ = FindPgBinDir();
    if (bin_dir_.empty()) {
        throw std::runtime_error("No PostgreSQL server programs (initdb, postgres) were found in "
                                 "/usr/lib/postgresql/*/bin or $ORBA_PG_BIN: install postgresql-15 "
                                 "(scripts/install-deps) to run the server-database tests");
    }
    Start();
}

PgServer::~PgServer() { Stop(); }

void PgServer::Start() {
    char pattern[] = "/tmp/orba-pg-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("Cannot make a temporary folder for the test database server");
    folder_ = pattern;
    const RunAs as = ServerAccount();
    if (as.change && chown(folder_.c_str(), as.uid, as.gid) != 0) {
        throw std::runtime_error("Cannot hand the folder " + folder_ + " to the 'postgres' account");
    }
    const std::string data = folder_ + "/data";
    const std::string log = folder_ + "/server.log";
    const int init = WaitFor(Spawn({bin_dir_ + "/initdb", "-D", data, "-U", "postgres", "-A", "trust", "-E", "UTF8",
                                    "--no-locale", "-N"},
                                   log, as));
    if (init != 0) {
        throw std::runtime_error("initdb failed (status " + std::to_string(init) + ") for the test database server:\n" +
                                 Tail(log));
    }
    // Only a Unix socket in the folder: nothing listens on the network, and several test
    // programs can run their servers side by side.
    server_pid_ = Spawn({bin_dir_ + "/postgres", "-D", data, "-k", folder_, "-c", "listen_addresses=", "-F", "-c",
                         "full_page_writes=off", "-c", "synchronous_commit=off", "-c", "max_connections=40"},
                        log, as);
    const std::string probe = Uri("postgres");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (PQping(probe.c_str()) != PQPING_OK) {
        int status = 0;
        if (waitpid(server_pid_, &status, WNOHANG) == server_pid_) {
            server_pid_ = -1;
            throw std::runtime_error("The test database server stopped while starting:\n" + Tail(log));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            Stop();
            throw std::runtime_error("The test database server did not start within a minute:\n" + Tail(log));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    PGconn* conn = PQconnectdb(probe.c_str());
    PGresult* r = PQexec(conn, (std::string("CREATE DATABASE ") + kSharedDatabase + " ENCODING 'UTF8'").c_str());
    const bool made = PQresultStatus(r) == PGRES_COMMAND_OK;
    std::string error = made ? "" : PQresultErrorMessage(r);
    PQclear(r);
    PQfinish(conn);
    if (!made) {
        Stop();
        throw std::runtime_error("The test database server cannot make its database: " + error);
    }
}

void PgServer::Stop() {
    if (server_pid_ > 0) {
        kill(server_pid_, SIGINT);  // fast shutdown: open sessions are ended
        WaitFor(server_pid_);
        server_pid_ = -1;
    }
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
        folder_.clear();
    }
}

std::string PgServer::Uri(std::string_view database) const {
    return "postgresql:///" + std::string(database) + "?host=" + folder_ + "&user=postgres";
}

std::string PgServer::NewDatabase(std::string_view prefix) {
    // A fresh schema in one shared database stands for a fresh database: making a schema
    // takes a fraction of the time a new database takes, and a connection that has it as
    // its search path sees nothing else.
    const std::string name = std::string(prefix) + "_" + std::to_string(++next_database_);
    PGconn* conn = PQconnectdb(Uri(kSharedDatabase).c_str());
    std::string error;
    if (PQstatus(conn) != CONNECTION_OK) {
        error = PQerrorMessage(conn);
    } else {
        PGresult* r = PQexec(conn, ("CREATE SCHEMA " + name).c_str());
        if (PQresultStatus(r) != PGRES_COMMAND_OK) error = PQresultErrorMessage(r);
        PQclear(r);
    }
    PQfinish(conn);
    if (!error.empty()) throw std::runtime_error("Cannot make the test database " + name + ": " + error);
    return Uri(kSharedDatabase) + "&options=-csearch_path%3D" + name;
}

std::string PgServer::TakeErpDatabase() {
    if (!free_erp_databases_.empty()) {
        std::string uri = std::move(free_erp_databases_.back());
        free_erp_databases_.pop_back();
        return uri;
    }
    std::string uri = NewDatabase("branch");
    hostkit::CreateErpSchema(*hostkit::OpenDatabase(uri));
    return uri;
}

void PgServer::ReturnErpDatabase(const std::string& uri) {
    try {
        hostkit::PgDatabase db(uri);
        // A connection a test left inside a transaction would hold its tables; such a
        // database is given up rather than waited for.
        db.Exec("SET lock_timeout = '5s'");
        // Tables of the schema are emptied; any other table a test made is dropped.
        std::string lower_schema = hostkit::ErpSchemaForPostgres();
        for (char& c : lower_schema) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string empty, drop;
        hostkit::PgResult tables =
            db.Query("SELECT tablename FROM pg_catalog.pg_tables WHERE schemaname = current_schema()");
        for (int r = 0; r < tables.Rows(); ++r) {
            const std::string name(tables.Text(r, 0));
            const bool ours = lower_schema.find("create table " + name + " ") != std::string::npos;
            std::string& list = ours ? empty : drop;
            list += (list.empty() ? "" : ", ") + name;
        }
        if (!drop.empty()) db.Exec("DROP TABLE " + drop + " CASCADE");
        if (!empty.empty()) db.Exec("TRUNCATE " + empty);
        free_erp_databases_.push_back(uri);
    } catch (const std::exception&) {
        // A database that cannot be cleaned is not used again.
    }
}

}  // namespace orba::testing
