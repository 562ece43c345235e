// orbabt: the command-line host of OrbaBillTransmit. Makes sample branch databases, runs
// SQL through the host connection, calls any component by name, and runs each step of a
// bill exchange between two branch databases, or all of them at once (demo).
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <csignal>
#include <iostream>

#include "apps/orbabt/commands.h"
#include "apps/orbabt/host_setup.h"
#include "apps/orbabt/safe_file.h"
#include "hostkit/app_connection.h"
#include "platform/error.h"
#include "platform/printable_text.h"

int main(int argc, char** argv) {
    using namespace orba::apps;
    CLI::App app{"orbabt: moves bills between the account databases of related branches"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("orbabt ") + ORBA_VERSION, "Print the version and exit");
    std::string trace_file;
    uint64_t max_input_mb = kDefaultInputLimitMb;
    auto add_trace = [&](CLI::App* command) {
        command->add_option("--trace-sql", trace_file,
                            "Append every SQL text handed to the database, each followed by a line GO");
    };
    auto add_input_limit = [&](CLI::App* command) {
        command->add_option("--max-input-mb", max_input_mb, "Largest input file read, in MB")
            ->check(CLI::Range(uint64_t{1}, uint64_t{1} << 30))
            ->capture_default_str();
    };
    std::function<int()> run;

    InitDbOptions init;
    auto* init_db = app.add_subcommand("init-db", "Create a sample branch database");
    init_db->add_option("file", init.file, "The new database file, or the URI of an empty PostgreSQL database")->required();
    init_db->add_option("--branch", init.branch, "This branch's number in the sample group (1-4)")->required();
    init_db->add_option("--orders", init.orders, "Purchase orders")->check(CLI::NonNegativeNumber);
    init_db->add_option("--notices", init.notices, "Delivery notices")->check(CLI::NonNegativeNumber);
    init_db->add_option("--returns", init.returns, "Return notices")->check(CLI::NonNegativeNumber);
    init_db->add_option("--lines", init.lines, "Most lines per bill")->check(CLI::PositiveNumber);
    init_db->add_option("--seed", init.seed, "Seed of the generator");
    init_db->callback([&] { run = [&] { return RunInitDb(init); }; });

    bool schema_postgresql = false;
    auto* schema = app.add_subcommand("schema", "Print the ERP schema script (SQLite, or PostgreSQL with --postgresql)");
    schema->add_flag("--postgresql", schema_postgresql, "The script in PostgreSQL's types");
    schema->callback([&] { run = [&] { return RunSchema(schema_postgresql); }; });

    std::string db, sql_text;
    bool json = false;
    auto* sql = app.add_subcommand("sql", "Run a batch of SQL (the host's dialect) and print the rows");
    sql->add_option("--db", db, "Account database")->required();
    sql->add_option("sql", sql_text, "The SQL text")->required();
    sql->add_flag("--json", json, "Print one JSON object per row");
    add_trace(sql);
    sql->callback([&] { run = [&] { return RunSql(db, sql_text, json); }; });

    InvokeOptions invoke;
    auto* inv = app.add_subcommand("invoke", "Create a component by identifier and call a member by name");
    inv->add_option("progid", invoke.prog_id, "Programmatic identifier")->required();
    inv->add_option("member", invoke.member, "Member name")->required();
    // The call's arguments are JSON texts taken as they stand: a list such as
    // [{"BillID":"A1"}] must reach the JSON reader whole, not be split at its commas.
    inv->allow_extras();
    inv->footer("ARG ...: the call's arguments, each in the runtime's JSON form, e.g. '\"12,15\"' false");
    inv->add_option("--db", invoke.db, "Account database (sets the login properties and the shared connection)");
    inv->add_flag("--show-args", invoke.show_args, "Print the arguments after the call (by-reference results)");
    add_trace(inv);
    inv->callback([&] {
        invoke.args = inv->remaining();
        run = [&] { return RunInvoke(invoke); };
    });

    std::vector<int> types;
    std::string output;
    auto* request = app.add_subcommand("request", "Write a download request for bill types");
    request->add_option("--types", types, "Bill type codes (501, 502, 503)")->delimiter(',')->required();
    request->add_option("-o,--output", output, "Request file to write")->required();
    request->callback([&] { run = [&] { return RunRequest(types, output); }; });

    std::string requests_file, to_number, to_name;
    auto* package = app.add_subcommand("package", "Package the requested bills for a related branch");
    package->add_option("--db", db, "Account database of the supplying branch")->required();
    package->add_option("--requests", requests_file, "Download request file")->required();
    package->add_option("--to", to_number, "Number of the receiving branch")->required();
    package->add_option("--to-name", to_name, "Name of the receiving branch")->required();
    package->add_option("-o,--output", output, "Transmission list file to write")->required();
    bool pretty = false;
    package->add_flag("--pretty", pretty, "Write the list indented, for people to read (compact by default)");
    add_trace(package);
    add_input_limit(package);
    package->callback([&] { run = [&] { return RunPackage(db, requests_file, to_number, to_name, output, pretty); }; });

    std::string list_file, receipt_file;
    auto* unpackage = app.add_subcommand("unpackage", "Save the bills of a transmission list and write a receipt");
    unpackage->add_option("--db", db, "Account database of the receiving branch")->required();
    unpackage->add_option("list", list_file, "Transmission list file")->required();
    unpackage->add_option("-o,--output", receipt_file,
                          "Receipt file to write (default: beside the list, LIST.receipt.json)");
    add_trace(unpackage);
    add_input_limit(unpackage);
    unpackage->callback([&] { run = [&] { return RunUnpackage(db, list_file, receipt_file); }; });

    bool without_receipt = false;
    auto* mark = app.add_subcommand("mark", "Mark the bills a receipt acknowledges as transmitted");
    mark->add_option("--db", db, "Account database of the supplying branch")->required();
    mark->add_option("receipt", list_file, "Receipt file written by unpackage at the receiving branch")->required();
    mark->add_flag("--without-receipt", without_receipt,
                   "Take a transmission list instead and mark every bill of it, saved at the receiver or not");
    add_trace(mark);
    add_input_limit(mark);
    mark->callback([&] { run = [&] { return RunMark(db, list_file, without_receipt); }; });

    BrowseOptions browse;
    auto* browse_cmd = app.add_subcommand("browse", "Open the browse window and write what was chosen");
    browse_cmd->add_option("--db", browse.db, "Account database of this branch")->required();
    browse_cmd->add_option("--mode", browse.mode, "send: choose bills to send; download: choose bill types to fetch")
        ->required()
        ->check(CLI::IsMember({"send", "download"}));
    browse_cmd->add_option("-o,--output", browse.output,
                           "File to write (a send list for unpackage, or a download request for package); "
                           "standard output when not given");
    add_trace(browse_cmd);
    browse_cmd->callback([&] { run = [&] { return RunBrowse(browse); }; });

    DemoOptions demo;
    auto* demo_cmd = app.add_subcommand("demo", "A full exchange between two sample branch databases");
    demo_cmd->add_option("--dir", demo.dir, "Folder of the two databases and the transport files");
    demo_cmd->add_option("--a", demo.a, "Branch A's database: a file or a postgresql:// URI (default DIR/branch-a.db)");
    demo_cmd->add_option("--b", demo.b, "Branch B's database: a file or a postgresql:// URI (default DIR/branch-b.db)");
    demo_cmd->add_option("--orders", demo.orders, "Purchase orders per branch database")->check(CLI::NonNegativeNumber);
    demo_cmd->add_option("--notices", demo.notices, "Delivery notices per branch database")->check(CLI::NonNegativeNumber);
    demo_cmd->add_option("--returns", demo.returns, "Return notices per branch database")->check(CLI::NonNegativeNumber);
    demo_cmd->add_option("--lines", demo.lines, "Most lines per bill")->check(CLI::PositiveNumber);
    add_trace(demo_cmd);
    demo_cmd->callback([&] { run = [&] { return RunDemo(demo); }; });

    CLI11_PARSE(app, argc, argv);
    try {
        // A file-size limit (ulimit -f) makes a write fail with "File too large" instead of
        // killing the process, so the half-written temporary file is removed.
        std::signal(SIGXFSZ, SIG_IGN);
        SetInputLimitMb(max_input_mb);
        if (!trace_file.empty()) {
            // The trace is appended to: never to the database or a file the command reads.
            RequireSeparateOutput(trace_file, "--trace-sql",
                                  {{"the account database", db},
                                   {"the account database", browse.db},
                                   {"the account database", invoke.db},
                                   {"branch A's database", demo.a},
                                   {"branch B's database", demo.b},
                                   {"the download request", requests_file},
                                   {"the input file", list_file}});
        }
        InitHost();
        if (!trace_file.empty()) orba::hostkit::SetSqlTraceFile(trace_file);
        return run ? run() : 0;
    } catch (const orba::platform::Error& e) {
        std::cerr << "orbabt: " << orba::platform::ForTerminal(e.Description()) << std::endl;
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "orbabt: " << orba::platform::ForTerminal(e.what()) << std::endl;
        return 1;
    }
}
