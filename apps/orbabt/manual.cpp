// Writing man(7) pages and a bash completion script from the parsed-command definitions.
#include "apps/orbabt/manual.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

namespace orba::apps {

namespace {

// Text for a page: backslashes written as the escape that prints one, and a line that would
// start with a control character ('.' or '\'') kept as text.
std::string Roff(std::string_view text) {
    std::string out;
    bool line_start = true;
    for (char c : text) {
        if (line_start && (c == '.' || c == '\'')) out += "\\&";
        if (c == '\\') {
            out += "\\e";
        } else {
            out += c;
        }
        line_start = c == '\n';
    }
    return out;
}

// An option's name as typed (hyphens that groff keeps as hyphens): "\-o, \-\-output".
std::string RoffName(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c == '-') {
            out += "\\-";
        } else if (c == ',') {
            out += ", ";
        } else {
            out += c;
        }
    }
    return out;
}

// The options a page lists: those the command shows in its help (a hidden option has no
// group), positional arguments apart.
std::vector<const CLI::Option*> ShownOptions(const CLI::App& command, bool positional) {
    return command.get_options([&](const CLI::Option* o) {
        return !o->get_group().empty() && o->nonpositional() != positional;
    });
}

// What an option's value is called: "TEXT", "UINT" (the range it is checked against is in the
// description), nothing for a flag.
std::string ValueName(const CLI::Option& option) {
    if (option.get_expected_min() == 0) return {};
    std::string name = option.get_type_name();
    if (auto colon = name.find(':'); colon != std::string::npos) name.erase(colon);
    return name.empty() ? std::string("VALUE") : name;
}

std::string OptionItem(const CLI::Option& option) {
    std::string item = fmt::format(".TP\n\\fB{}\\fR", RoffName(option.get_name(false, true)));
    if (const std::string value = ValueName(option); !value.empty()) item += fmt::format(" \\fI{}\\fR", Roff(value));
    if (option.get_items_expected_max() > 1) item += " ...";
    item += '\n' + Roff(option.get_description());
    if (option.get_required()) item += " (required)";
    if (!option.get_default_str().empty()) item += fmt::format(" (default: {})", Roff(option.get_default_str()));
    return item + '\n';
}

std::string Synopsis(const CLI::App& command) {
    std::string text = fmt::format(".SY \"orbabt {}\"\n", Roff(command.get_name()));
    for (const CLI::Option* o : ShownOptions(command, false)) {
        if (o->get_name(false, true) == "-h,--help") continue;
        const std::string value = ValueName(*o);
        const std::string shown = fmt::format("\\fB{}\\fR{}", RoffName(o->get_name()),
                                              value.empty() ? std::string() : " \\fI" + Roff(value) + "\\fR");
        text += o->get_required() ? shown + '\n' : fmt::format("[{}]\n", shown);
    }
    for (const CLI::Option* o : ShownOptions(command, true)) {
        const std::string shown = fmt::format("\\fI{}\\fR{}", Roff(o->get_name(true)),
                                              o->get_items_expected_max() > 1 ? " ..." : "");
        text += o->get_required() ? shown + '\n' : fmt::format("[{}]\n", shown);
    }
    return text + ".YS\n";
}

std::string Header(std::string_view title, std::string_view version, std::string_view date) {
    return fmt::format(".TH {} 1 \"{}\" \"orbabt {}\" \"OrbaBillTransmit\"\n", title, Roff(date), Roff(version));
}

constexpr std::string_view kExitStatus =
    ".SH EXIT STATUS\n"
    ".TP\n0\nThe command did what it was asked.\n"
    ".TP\n1\nIt failed, or a bill was refused, not saved or left unmarked; standard error says which, and "
    "where.\n"
    ".TP\n2\n\\fBbrowse\\fR: nothing was chosen, and no file was written.\n"
    ".TP\nother\nThe command line itself was wrong (an unknown option, a missing or invalid value); the message "
    "says which.\n";

std::string CommandPage(const CLI::App& command, std::string_view version, std::string_view date) {
    const std::string name = command.get_name();
    std::string upper = "ORBABT\\-" + RoffName(name);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string page = Header(upper, version, date);
    page += fmt::format(".SH NAME\norbabt\\-{} \\- {}\n", RoffName(name), Roff(command.get_description()));
    page += ".SH SYNOPSIS\n" + Synopsis(command);
    page += ".SH DESCRIPTION\n" + Roff(command.get_description()) + ".\n";
    if (!command.get_footer().empty()) page += ".PP\n" + Roff(command.get_footer()) + '\n';
    if (auto positional = ShownOptions(command, true); !positional.empty()) {
        page += ".SH ARGUMENTS\n";
        for (const CLI::Option* o : positional) {
            page += fmt::format(".TP\n\\fI{}\\fR\n{}{}\n", Roff(o->get_name(true)), Roff(o->get_description()),
                                o->get_required() ? " (required)" : "");
        }
    }
    page += ".SH OPTIONS\n";
    for (const CLI::Option* o : ShownOptions(command, false)) page += OptionItem(*o);
    page += kExitStatus;
    page += ".SH SEE ALSO\n\\fBorbabt\\fR(1)\n";
    return page;
}

std::vector<const CLI::App*> Commands(const CLI::App& program) {
    return program.get_subcommands([](const CLI::App* c) { return !c->get_group().empty(); });
}

std::string ProgramPage(const CLI::App& program, std::string_view version, std::string_view date) {
    std::string page = Header("ORBABT", version, date);
    page += ".SH NAME\norbabt \\- moves bills between the account databases of related branches\n";
    page += ".SH SYNOPSIS\n.SY orbabt\n\\fICOMMAND\\fR [\\fIOPTIONS\\fR]\n.YS\n.SY orbabt\n\\fB\\-\\-help\\fR | "
            "\\fB\\-\\-version\\fR\n.YS\n";
    page += ".SH DESCRIPTION\n"
            "Each branch of a company group keeps its own account database. \\fBorbabt\\fR packages the purchase "
            "orders, delivery notices and return notices that one branch holds for a related branch into a "
            "transmission list, saves a received list into the receiving branch's database and answers it with a "
            "receipt, and marks at the sending branch what the receipt acknowledges. The steps run one by one on "
            "files, or all at once over HTTPS between the branches' services.\n"
            ".PP\n\\fBorbabt\\fR \\fICOMMAND\\fR \\fB\\-\\-help\\fR lists a command's options.\n";
    page += ".SH COMMANDS\n";
    for (const CLI::App* c : Commands(program)) {
        page += fmt::format(".TP\n\\fB{}\\fR\n{}; see \\fBorbabt\\-{}\\fR(1).\n", RoffName(c->get_name()),
                            Roff(c->get_description()), RoffName(c->get_name()));
    }
    page += ".SH OPTIONS\n";
    for (const CLI::Option* o : ShownOptions(program, false)) page += OptionItem(*o);
    page += kExitStatus;
    page += ".SH SEE ALSO\n";
    const auto commands = Commands(program);
    for (size_t i = 0; i < commands.size(); ++i) {
        page += fmt::format("\\fBorbabt\\-{}\\fR(1){}\n", RoffName(commands[i]->get_name()),
                            i + 1 < commands.size() ? "," : "");
    }
    return page;
}

// The long and short names a command takes, as typed.
std::string OptionWords(const CLI::App& command) {
    std::string words;
    for (const CLI::Option* o : ShownOptions(command, false)) {
        for (const std::string& n : o->get_lnames()) words += (words.empty() ? "--" : " --") + n;
        for (const std::string& n : o->get_snames()) words += (words.empty() ? "-" : " -") + n;
    }
    return words;
}

}  // namespace

std::vector<ManualPage> ManualPages(const CLI::App& program, std::string_view version, std::string_view date) {
    std::vector<ManualPage> pages{{"orbabt.1", ProgramPage(program, version, date)}};
    for (const CLI::App* c : Commands(program)) {
        pages.push_back({fmt::format("orbabt-{}.1", c->get_name()), CommandPage(*c, version, date)});
    }
    return pages;
}

std::string BashCompletion(const CLI::App& program) {
    std::string commands;
    std::string cases;
    for (const CLI::App* c : Commands(program)) {
        commands += (commands.empty() ? "" : " ") + c->get_name();
        cases += fmt::format("        {}) words=\"{}\" ;;\n", c->get_name(), OptionWords(*c));
    }
    return fmt::format(
        "# bash completion for orbabt: its commands, and each command's options. Values (files,\n"
        "# databases) are completed as file names.\n"
        "_orbabt() {{\n"
        "    local cur=${{COMP_WORDS[COMP_CWORD]}} command=\"\" words i\n"
        "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
        "        case ${{COMP_WORDS[i]}} in\n"
        "            -*) ;;\n"
        "            *) command=${{COMP_WORDS[i]}}; break ;;\n"
        "        esac\n"
        "    done\n"
        "    case $command in\n"
        "        \"\") words=\"{} {}\" ;;\n"
        "{}"
        "        *) return ;;\n"
        "    esac\n"
        "    if [[ -z $command || $cur == -* ]]; then\n"
        "        COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
        "    fi\n"
        "}}\n"
        "complete -o default -F _orbabt orbabt\n",
        commands, OptionWords(program), cases);
}

}  // namespace orba::apps
