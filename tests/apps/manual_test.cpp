// The manual pages and the completion are written from the command line the program parses:
// every command has its page, every option it shows is on that page and in the completion,
// and text that would read as markup is kept as text.
#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include "apps/orbabt/command_line.h"
#include "apps/orbabt/manual.h"

namespace orba::apps {
namespace {

// A name as a page writes it, its hyphens escaped.
std::string OnPage(const std::string& name) {
    std::string shown;
    for (char c : name) shown += c == '-' ? std::string("\\-") : std::string(1, c);
    return shown;
}

TEST(ManualTest, EveryCommandAndShownOptionIsOnItsPageAndCompleted) {
    CLI::App app{kProgramSummary};
    CommandContext context;
    DefineCommandLine(app, context);
    const std::vector<ManualPage> pages = ManualPages(app, "1.2.3", "2026-12-10");
    const std::string completion = BashCompletion(app);
    const auto commands = app.get_subcommands([](const CLI::App* c) { return !c->get_group().empty(); });
    ASSERT_EQ(pages.size(), commands.size() + 1);
    EXPECT_NE(pages[0].text.find("orbabt 1.2.3"), std::string::npos);
    for (size_t i = 0; i < commands.size(); ++i) {
        const std::string& page = pages[i + 1].text;
        EXPECT_EQ(pages[i + 1].file_name, "orbabt-" + commands[i]->get_name() + ".1");
        EXPECT_NE(pages[0].text.find("orbabt\\-" + OnPage(commands[i]->get_name())), std::string::npos);
        for (const CLI::Option* o : commands[i]->get_options()) {
            for (const std::string& name : o->get_lnames()) {
                const std::string shown = OnPage("--" + name);
                // Hidden options (no group) stay out of both.
                EXPECT_EQ(page.find(shown) != std::string::npos, !o->get_group().empty()) << name;
                const bool completed = completion.find(" --" + name + ' ') != std::string::npos ||
                                       completion.find(" --" + name + '"') != std::string::npos ||
                                       completion.find("\"--" + name + ' ') != std::string::npos;
                EXPECT_EQ(completed, !o->get_group().empty())
                    << commands[i]->get_name() << " --" << name;
            }
        }
    }
}

TEST(ManualTest, TextThatLooksLikeMarkupStaysText) {
    CLI::App app{"test"};
    CLI::App* command = app.add_subcommand("cmd", "Runs a \\n thing");
    std::string value;
    command->add_option("--path", value, "A path\n.so /etc/passwd\n'x");
    const std::string page = ManualPages(app, "1", "d")[1].text;
    EXPECT_NE(page.find("Runs a \\en thing"), std::string::npos);
    EXPECT_NE(page.find("\n\\&.so /etc/passwd\n\\&'x"), std::string::npos);
    EXPECT_EQ(page.find("\n.so"), std::string::npos);
}

}  // namespace
}  // namespace orba::apps
