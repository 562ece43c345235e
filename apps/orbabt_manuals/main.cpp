// orbabt_manuals DIR DATE: writes orbabt's manual pages (DIR/man1/*.1) and its bash completion
// (DIR/completion/orbabt) from the command line the program parses. Run by the build.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "apps/orbabt/command_line.h"
#include "apps/orbabt/manual.h"

namespace {

void Write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: orbabt_manuals DIR DATE\n";
        return 2;
    }
    try {
        CLI::App app{orba::apps::kProgramSummary};
        orba::apps::CommandContext context;
        orba::apps::DefineCommandLine(app, context);
        const std::filesystem::path dir = argv[1];
        for (const auto& page : orba::apps::ManualPages(app, ORBA_VERSION, argv[2])) {
            Write(dir / "man1" / page.file_name, page.text);
        }
        Write(dir / "completion" / "orbabt", orba::apps::BashCompletion(app));
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "orbabt_manuals: " << e.what() << '\n';
        return 1;
    }
}
