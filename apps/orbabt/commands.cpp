// The options several commands share, declared here once for each command that takes them.
#include "apps/orbabt/commands.h"

#include <CLI/CLI.hpp>

namespace orba::apps {

void CommandContext::AddTraceOption(CLI::App& command) {
    command.add_option("--trace-sql", trace_file_,
                       "Append every SQL text handed to the database, each followed by a line GO");
}

void CommandContext::AddInputLimitOption(CLI::App& command) {
    command.add_option("--max-input-mb", max_input_mb_, "Largest input file read, in MB; for the network commands also the largest answer taken (of a "
                       "list, each bill)")
        ->check(CLI::Range(uint64_t{1}, uint64_t{1} << 30))
        ->capture_default_str();
}

void AddAllowSharedKeyFlag(CLI::App& command, bool& allow) {
    command.add_flag("--allow-shared-key", allow,
                     "Take the private key even though its group or others may read it. Only for a key that "
                     "systemd hands over as a credential (LoadCredential=): systemd lets the service's user read it "
                     "through an access list, which shows as group read, in a folder only that service may "
                     "enter. Any other key: chmod 600 it instead");
}

void CommandContext::Choose(std::function<int()> run, std::vector<CommandInput> inputs) {
    run_ = std::move(run);
    inputs_ = std::move(inputs);
}

}  // namespace orba::apps
