// korvalin-cli: parses the command line, runs the chosen command and turns
// what it throws into a message and an exit status.

#include <algorithm>
#include <exception>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CliCommand.h"

namespace korvalin::cli {

std::vector<TCliCommand>& Commands() {
    static std::vector<TCliCommand> commands;
    return commands;
}

std::optional<std::string> FirstUnknownOption(const CLI::App& parser) {
    for (const auto& arg : parser.remaining())
        if (arg != "--" && arg.size() > 1 && arg[0] == '-') return arg;
    return std::nullopt;
}

}  // namespace korvalin::cli

namespace {

using korvalin::cli::TCliCommand;

constexpr const char* kVersion = KORVALIN_VERSION;

// Each form of a command's usage on its own line, the first after `lead`.
void PrintForms(std::ostream& out, const std::string& usage, const std::string& lead, const std::string& indent) {
    std::size_t start = 0;
    bool first = true;
    while (start < usage.size()) {
        const auto end = usage.find('\n', start);
        out << (first ? lead : indent) << "korvalin-cli " << usage.substr(start, end - start) << '\n';
        first = false;
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

void PrintUsage(std::ostream& out) {
    auto commands = korvalin::cli::Commands();
    std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
    out << "usage: korvalin-cli COMMAND [ARGS...]\n"
           "       korvalin-cli --help | --version\n"
           "       korvalin-cli COMMAND --help\n\ncommands:\n";
    for (const auto& command : commands) PrintForms(out, command.Usage, "  ", "  ");
}

// A command's --help: its own usage forms in place of the parser's generic line.
class TCommandHelp : public CLI::Formatter {
public:
    explicit TCommandHelp(std::string usage) : FUsage(std::move(usage)) {}
    std::string make_usage(const CLI::App* app, std::string) const override {
        std::ostringstream out;
        PrintForms(out, FUsage, "usage: ", "       ");
        out << '\n' << app->get_description() << '\n';
        return out.str();
    }
    std::string make_description(const CLI::App*) const override { return {}; }

private:
    std::string FUsage;
};

int UsageError(const TCliCommand& command, const std::string& message) {
    std::cerr << "korvalin-cli " << command.Name << ": " << message << '\n';
    PrintForms(std::cerr, command.Usage, "usage: ", "       ");
    return 2;
}

int RunCommand(const TCliCommand& command, int argc, char** argv) {
    CLI::App parser(command.Description, "korvalin-cli " + command.Name);
    parser.formatter(std::make_shared<TCommandHelp>(command.Usage));
    parser.allow_extras();
    const auto run = command.Define(parser);
    try {
        // The parser takes its first argument for the program's name; here that is the command's.
        parser.parse(argc - 1, argv + 1);
    } catch (const CLI::CallForHelp&) {
        std::cout << parser.help();
        return 0;
    } catch (const CLI::ArgumentMismatch& e) {
        // The usual case, an option given last without its value, in the tool's own words.
        const std::string last = argv[argc - 1];
        const CLI::Option* option = parser.get_option_no_throw(last);
        if (option != nullptr && option->get_type_size() > 0) return UsageError(command, last + " needs a value");
        return UsageError(command, e.what());
    } catch (const CLI::ParseError& e) {
        return UsageError(command, e.what());
    }
    try {
        return run();
    } catch (const korvalin::cli::EUsageError& e) {
        return UsageError(command, e.what());
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(std::cerr);
        return 2;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h") {
        PrintUsage(std::cout);
        return 0;
    }
    if (first == "--version") {
        std::cout << "korvalin-cli " << kVersion << '\n';
        return 0;
    }
    const auto& commands = korvalin::cli::Commands();
    const auto it =
        std::find_if(commands.begin(), commands.end(), [&](const auto& command) { return command.Name == first; });
    if (it == commands.end()) {
        std::cerr << "korvalin-cli: unknown command \"" << first << "\"\n";
        PrintUsage(std::cerr);
        return 2;
    }
    return RunCommand(*it, argc, argv);
}
