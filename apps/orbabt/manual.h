// Manual pages and bash completion written from the program's own command line, so that they
// list exactly the commands and options orbabt parses.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace orba::apps {

struct ManualPage {
    std::string file_name;  // "orbabt.1", "orbabt-package.1"
    std::string text;       // the page in man(7) markup
};

// The page of the program (orbabt.1: its commands, options and exit statuses) followed by one
// page per command (orbabt-COMMAND.1: synopsis, description, options). `version` and `date`
// go into each page's footer.
std::vector<ManualPage> ManualPages(const CLI::App& program, std::string_view version, std::string_view date);

// A bash completion script for the program: its commands, and each command's options.
std::string BashCompletion(const CLI::App& program);

}  // namespace orba::apps
