// How the commands of orbabt join the program: each command's file declares its options and
// what it runs; main adds them all, and checks and applies the options they share once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "exchange/input_file.h"
#include "exchange/output_guard.h"

namespace CLI {
class App;
}

namespace orba::apps {

using namespace orba::exchange;

// What the commands share: the options several of them take, and the command chosen on the
// command line with the files it reads.
class CommandContext {
public:
    // --trace-sql, for a command that reaches a database.
    void AddTraceOption(CLI::App& command);
    // --max-input-mb, for a command that reads transport files or a service's answers.
    void AddInputLimitOption(CLI::App& command);

    // Called by a command once it was parsed: `run` runs it and returns the exit status;
    // `inputs` are its database and the files it reads, which --trace-sql must not name.
    void Choose(std::function<int()> run, std::vector<CommandInput> inputs = {});

    const std::string& TraceFile() const { return trace_file_; }
    uint64_t MaxInputMb() const { return max_input_mb_; }
    const std::vector<CommandInput>& Inputs() const { return inputs_; }
    // Runs the chosen command; 0 when there is none.
    int Run() const { return run_ ? run_() : 0; }

private:
    std::string trace_file_;
    uint64_t max_input_mb_ = kDefaultInputLimitMb;
    std::function<int()> run_;
    std::vector<CommandInput> inputs_;
};

// --allow-shared-key, for a command that takes a private key (--key, or a sync file's "key").
void AddAllowSharedKeyFlag(CLI::App& command, bool& allow);

// Each adds its command to `app`. main adds them in the order `orbabt --help` lists them.
// cmd_db.cpp:
void AddInitDbCommand(CLI::App& app, CommandContext& context);
void AddSchemaCommand(CLI::App& app, CommandContext& context);
void AddSqlCommand(CLI::App& app, CommandContext& context);
void AddInvokeCommand(CLI::App& app, CommandContext& context);
// cmd_exchange.cpp:
void AddRequestCommand(CLI::App& app, CommandContext& context);
void AddPackageCommand(CLI::App& app, CommandContext& context);
void AddUnpackageCommand(CLI::App& app, CommandContext& context);
void AddMarkCommand(CLI::App& app, CommandContext& context);
// cmd_browse.cpp:
void AddBrowseCommand(CLI::App& app, CommandContext& context);
// cmd_demo.cpp:
void AddDemoCommand(CLI::App& app, CommandContext& context);

}  // namespace orba::apps
