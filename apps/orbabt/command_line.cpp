// The commands of orbabt, added in the order `orbabt --help` lists them.
#include "apps/orbabt/command_line.h"

#include <CLI/CLI.hpp>

#include "apps/orbabt/net/service.h"
#include "apps/orbabt/net/transfer.h"

namespace orba::apps {

void DefineCommandLine(CLI::App& app, CommandContext& context) {
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("orbabt ") + ORBA_VERSION, "Print the version and exit");
    for (auto add : {AddInitDbCommand, AddSchemaCommand, AddSqlCommand, AddInvokeCommand, AddRequestCommand,
                     AddPackageCommand, AddUnpackageCommand, AddMarkCommand, AddBrowseCommand, AddDemoCommand,
                     net::AddServeCommand, net::AddPullCommand, net::AddPushCommand, net::AddSyncCommand,
                     net::AddStatusCommand}) {
        add(app, context);
    }
}

}  // namespace orba::apps
