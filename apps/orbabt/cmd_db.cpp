// init-db, schema, sql and invoke: the commands that make or show one account database, or
// call one component; each with its options.
#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <memory>

#include "apps/orbabt/commands.h"
#include "apps/orbabt/host_setup.h"
#include "host/shared_connection.h"
#include "host/variant_dictionary.h"
#include "host/variant_vector.h"
#include "host/variant_json.h"
#include "hostkit/app_connection.h"
#include "hostkit/schema.h"
#include "hostkit/database.h"
#include "hostkit/sample_data.h"
#include "hostkit/save_data.h"
#include "platform/error.h"
#include "platform/recordset.h"
#include "platform/registry.h"

namespace orba::apps {

using platform::Error;
using platform::ErrorCode;
using platform::Ref;
using platform::RecordSet;
using platform::Variant;

namespace {

// Columns a terminal gives a character: East Asian wide characters take two.
size_t DisplayWidth(std::string_view s) {
    size_t width = 0;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = c;
        size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (n > 1 && i + n <= s.size()) {
            cp = c & (0xFF >> (n + 1));
            for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                          (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                          (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                          (cp >= 0xFFE0 && cp <= 0xFFE6);
        width += wide ? 2 : 1;
        i += n;
    }
    return width;
}

std::string CellText(const Variant& v) { return v.IsNull() ? "NULL" : v.ToText(); }

void PrintTable(RecordSet& rows) {
    const size_t n = rows.FieldCount();
    std::vector<std::vector<std::string>> cells;
    std::vector<size_t> widths(n);
    std::vector<std::string> header;
    for (size_t c = 0; c < n; ++c) {
        header.push_back(rows.Field(c).name);
        widths[c] = DisplayWidth(header.back());
    }
    for (; !rows.Eof(); rows.MoveNext()) {
        std::vector<std::string> row;
        for (size_t c = 0; c < n; ++c) {
            row.push_back(CellText(rows.Value(c)));
            widths[c] = std::max(widths[c], DisplayWidth(row.back()));
        }
        cells.push_back(std::move(row));
    }
    auto print_row = [&](const std::vector<std::string>& row) {
        std::string line;
        for (size_t c = 0; c < n; ++c) {
            if (c) line += " | ";
            line += row[c];
            if (c + 1 < n) line.append(widths[c] - DisplayWidth(row[c]), ' ');
        }
        std::cout << line << "\n";
    };
    print_row(header);
    std::string rule;
    for (size_t c = 0; c < n; ++c) rule += (c ? "-+-" : "") + std::string(widths[c], '-');
    std::cout << rule << "\n";
    for (const auto& row : cells) print_row(row);
    std::cout << fmt::format("({} row{})\n", cells.size(), cells.size() == 1 ? "" : "s");
}

// A record set as a list of row records, so it can be written in the JSON form.
Ref<host::VariantVector> RowsOf(RecordSet& rows) {
    auto list = platform::MakeRef<host::VariantVector>();
    for (; !rows.Eof(); rows.MoveNext()) {
        auto row = platform::MakeRef<host::VariantDictionary>();
        for (size_t c = 0; c < rows.FieldCount(); ++c) row->Put(rows.Field(c).name, rows.Value(c));
        list->Add(Variant(row));
    }
    return list;
}

// The JSON form of a call's result; a record set prints as its rows from where it stands.
std::string ResultJson(const Variant& result) {
    if (result.IsObject() && result.AsObject()) {
        if (auto rows = platform::RefCast<RecordSet>(result.AsObject())) {
            return rows->IsOpen() ? host::ToJson(Variant(RowsOf(*rows))) : "{\"$recordset\": \"closed\"}";
        }
    }
    return host::ToJson(result);
}

struct InitDbOptions {
    std::string file;
    int branch = 1;
    int orders = 20;
    int notices = 20;
    int returns = 10;
    int lines = 5;
    uint64_t seed = 1;
};

int RunInitDb(const InitDbOptions& options) {
    hostkit::SampleOptions sample;
    sample.branch = options.branch;
    sample.orders = options.orders;
    sample.notices = options.notices;
    sample.returns = options.returns;
    sample.lines = options.lines;
    sample.seed = options.seed;
    const std::string created = hostkit::CreateSampleDatabase(options.file, sample);
    std::cout << fmt::format("Created {} for branch {}: {} purchase orders, {} delivery notices, {} return notices\n",
                             created, options.branch, options.orders, options.notices, options.returns);
    return 0;
}

// Prints the ERP schema script, for SQLite or in PostgreSQL's types, for a database
// administrator who creates a branch database by hand.
int RunSchema(bool postgresql) {
    std::cout << (postgresql ? hostkit::ErpSchemaForPostgres() : std::string(hostkit::kErpSchemaSql));
    // On a server an administrator may make the tables of received bills too, so that the
    // clerks' account needs no right to create tables; a file gets them on its first saving.
    if (postgresql) {
        std::cout << hostkit::ReceivedSchemaForServer(hostkit::kReceivedSchema)
                  << hostkit::ReceivedSchemaForServer(hostkit::kSentSchema);
    }
    return 0;
}

struct SqlOptions {
    std::string db;
    std::string sql;
    bool json = false;
    bool explain = false;
};

int RunSql(const SqlOptions& options) {
    const std::unique_ptr<hostkit::Database> database = UseDatabase(options.db);
    if (options.explain) {
        // What the database would be given, statement by statement, in its own dialect.
        for (const hostkit::TranslatedStatement& statement : database->Translate(options.sql)) {
            std::cout << statement.sqlite << "\n;\n";
        }
        return 0;
    }
    auto connection = platform::MakeRef<hostkit::AppConnection>();
    Ref<RecordSet> rows = connection->Execute(options.sql);
    if (!rows->IsOpen()) {
        std::cout << "Done.\n";
        return 0;
    }
    if (options.json) {
        for (; !rows->Eof(); rows->MoveNext()) {
            auto row = platform::MakeRef<host::VariantDictionary>();
            for (size_t c = 0; c < rows->FieldCount(); ++c) row->Put(rows->Field(c).name, rows->Value(c));
            std::cout << host::ToJson(Variant(row), -1) << "\n";
        }
    } else {
        PrintTable(*rows);
    }
    return 0;
}

struct InvokeOptions {
    std::string prog_id;
    std::string member;
    std::vector<std::string> args;
    std::string db;
    bool show_args = false;
};

int RunInvoke(const InvokeOptions& options) {
    std::vector<Variant> args;
    for (size_t i = 0; i < options.args.size(); ++i) {
        try {
            args.push_back(host::FromJson(options.args[i]));
        } catch (const Error& e) {
            throw Error(ErrorCode::kBadInput,
                        fmt::format("Argument {} ({}) is not in the runtime's JSON form: {}", i + 1, options.args[i],
                                    e.Description()));
        }
    }
    if (!options.db.empty()) {
        UseDatabase(options.db);
        // As a BillTrans object does while it lives: bill data access reads through it.
        host::SetSharedConnection(platform::CreateObject(host::kAppConnectionProgId));
    }
    Ref<platform::Object> target = platform::CreateObject(options.prog_id);
    const platform::MessageWatch failures;  // a component that traps its failure shows it
    Variant result = platform::CallByName(target, options.member, platform::CallKind::kMethod, args);
    std::cout << ResultJson(result) << "\n";
    if (options.show_args) {
        for (size_t i = 0; i < args.size(); ++i) std::cout << fmt::format("arg {}: {}\n", i + 1, ResultJson(args[i]));
    }
    host::SetSharedConnection({});
    return failures.Count() == 0 ? 0 : 1;
}

}  // namespace

void AddInitDbCommand(CLI::App& app, CommandContext& context) {
    auto init = std::make_shared<InitDbOptions>();
    auto* command = app.add_subcommand("init-db", "Create a sample branch database");
    command->add_option("file", init->file, "The new database file, or the URI of an empty PostgreSQL database")
        ->required();
    command->add_option("--branch", init->branch, "This branch's number in the sample group (1-4)")->required();
    command->add_option("--orders", init->orders, "Purchase orders")->check(CLI::NonNegativeNumber);
    command->add_option("--notices", init->notices, "Delivery notices")->check(CLI::NonNegativeNumber);
    command->add_option("--returns", init->returns, "Return notices")->check(CLI::NonNegativeNumber);
    command->add_option("--lines", init->lines, "Most lines per bill")->check(CLI::PositiveNumber);
    command->add_option("--seed", init->seed, "Seed of the generator");
    command->callback([&context, init] { context.Choose([init] { return RunInitDb(*init); }); });
}

void AddSchemaCommand(CLI::App& app, CommandContext& context) {
    auto postgresql = std::make_shared<bool>(false);
    auto* command =
        app.add_subcommand("schema", "Print the ERP schema script (SQLite, or PostgreSQL with --postgresql)");
    command->add_flag("--postgresql", *postgresql, "The script in PostgreSQL's types");
    command->callback([&context, postgresql] { context.Choose([postgresql] { return RunSchema(*postgresql); }); });
}

void AddSqlCommand(CLI::App& app, CommandContext& context) {
    auto sql = std::make_shared<SqlOptions>();
    auto* command = app.add_subcommand("sql", "Run a batch of SQL (the host's dialect) and print the rows");
    command->add_option("--db", sql->db, "Account database")->required();
    command->add_option("sql", sql->sql, "The SQL text")->required();
    command->add_flag("--json", sql->json, "Print one JSON object per row");
    command->add_flag("--explain", sql->explain,
                      "Print the statements as translated for this database, without running them");
    context.AddTraceOption(*command);
    command->callback([&context, sql] {
        context.Choose([sql] { return RunSql(*sql); }, {{"the account database", sql->db}});
    });
}

void AddInvokeCommand(CLI::App& app, CommandContext& context) {
    auto invoke = std::make_shared<InvokeOptions>();
    auto* command = app.add_subcommand("invoke", "Create a component by identifier and call a member by name");
    command->add_option("progid", invoke->prog_id, "Programmatic identifier")->required();
    command->add_option("member", invoke->member, "Member name")->required();
    // The call's arguments are JSON texts taken as they stand: a list such as
    // [{"BillID":"A1"}] must reach the JSON reader whole, not be split at its commas.
    command->allow_extras();
    command->footer("ARG ...: the call's arguments, each in the runtime's JSON form, e.g. '\"12,15\"' false");
    command->add_option("--db", invoke->db,
                        "Account database (sets the login properties and the shared connection)");
    command->add_flag("--show-args", invoke->show_args, "Print the arguments after the call (by-reference results)");
    context.AddTraceOption(*command);
    command->callback([&context, invoke, command] {
        invoke->args = command->remaining();
        context.Choose([invoke] { return RunInvoke(*invoke); }, {{"the account database", invoke->db}});
    });
}

}  // namespace orba::apps
