// orbabt: the command-line host of OrbaBillTransmit. Makes sample branch databases, runs
// SQL through the host connection, calls any component by name, and runs each step of a
// bill exchange between two branch databases, or all of them at once (demo).
#include <CLI/CLI.hpp>

#include <csignal>
#include <iostream>

#include "apps/orbabt/command_line.h"
#include "apps/orbabt/host_setup.h"
#include "exchange/input_file.h"
#include "exchange/output_guard.h"
#include "hostkit/app_connection.h"
#include "platform/error.h"
#include "platform/printable_text.h"

int main(int argc, char** argv) {
    using namespace orba::apps;
    using namespace orba::exchange;
    CLI::App app{kProgramSummary};
    CommandContext context;
    DefineCommandLine(app, context);

    CLI11_PARSE(app, argc, argv);
    try {
        // A file-size limit (ulimit -f) makes a write fail with "File too large" instead of
        // killing the process, so the half-written temporary file is removed.
        std::signal(SIGXFSZ, SIG_IGN);
        // A peer that closes its connection is an error to report, not a reason to die.
        std::signal(SIGPIPE, SIG_IGN);
        // The command's input limit holds for this thread while the command runs; a thread
        // that reads for it (the service's workers) sets it for itself.
        const InputLimitScope input_limit(context.MaxInputMb());
        const std::string& trace_file = context.TraceFile();
        // The trace is appended to: never to the database or a file the command reads.
        if (!trace_file.empty()) RequireSeparateOutput(trace_file, "--trace-sql", context.Inputs());
        InitHost();
        if (!trace_file.empty()) orba::hostkit::SetSqlTraceFile(trace_file);
        const ExchangeScope exchange({.progress = TerminalProgress()});
        return context.Run();
    } catch (const orba::platform::Error& e) {
        std::cerr << "orbabt: " << orba::platform::ForTerminal(e.Description()) << std::endl;
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "orbabt: " << orba::platform::ForTerminal(e.what()) << std::endl;
        return 1;
    }
}
