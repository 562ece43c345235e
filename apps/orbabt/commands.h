// The commands of the command-line host. Each returns the process's exit status; an Error
// raised inside reaches main, which prints it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orba::apps {

struct InitDbOptions {
    std::string file;
    int branch = 1;
    int orders = 20;
    int notices = 20;
    int returns = 10;
    int lines = 5;
    uint64_t seed = 1;
};
int RunInitDb(const InitDbOptions& options);

// Prints the ERP schema script, for SQLite or in PostgreSQL's types, for a database
// administrator who creates a branch database by hand.
int RunSchema(bool postgresql);
int RunSql(const std::string& db, const std::string& sql, bool json);

struct InvokeOptions {
    std::string prog_id;
    std::string member;
    std::vector<std::string> args;
    std::string db;
    bool show_args = false;
};
int RunInvoke(const InvokeOptions& options);

int RunRequest(const std::vector<int>& types, const std::string& output);
int RunPackage(const std::string& db, const std::string& requests, const std::string& to_number,
               const std::string& to_name, const std::string& output, bool pretty = false);
// Saves the bills of a list at its receiving branch and writes the receipt that answers it
// (beside the list when `receipt_file` is empty).
int RunUnpackage(const std::string& db, const std::string& list_file, const std::string& receipt_file);
// Marks at the sending branch the bills a receipt acknowledges; a transmission list is
// refused unless `without_receipt`, which marks every bill of it.
int RunMark(const std::string& db, const std::string& file, bool without_receipt);

// Each sample branch addresses its bills to the three other branches of the group, in a
// mix of statuses, so about a sixth of them is ready to go from A to B.
// Opens the browse window over `db` in send or download mode and writes what was chosen:
// a send list (transmission-list envelope) or a download request; to standard output when
// `output` is empty. Returns 2 when nothing was chosen.
struct BrowseOptions {
    std::string db;
    std::string mode = "send";
    std::string output;
};
int RunBrowse(const BrowseOptions& options);

struct DemoOptions {
    std::string dir = "demo";
    // The two branch databases (a file path or a server URI); by default two files in dir.
    std::string a;
    std::string b;
    int orders = 60;
    int notices = 40;
    int returns = 30;
    int lines = 8;
};
int RunDemo(const DemoOptions& options);

}  // namespace orba::apps
