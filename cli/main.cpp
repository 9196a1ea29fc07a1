#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "CliCommand.h"

namespace korvalin::cli {

std::vector<TCliCommand>& Commands() {
    static std::vector<TCliCommand> commands;
    return commands;
}

}  // namespace korvalin::cli

namespace {

constexpr const char* kVersion = "0.5.0";

void PrintUsage(std::ostream& out) {
    auto commands = korvalin::cli::Commands();
    std::sort(commands.begin(), commands.end(),
              [](const auto& a, const auto& b) { return a.Name < b.Name; });
    out << "usage: korvalin-cli COMMAND [ARGS...]\n"
           "       korvalin-cli --help | --version\n\ncommands:\n";
    for (const auto& command : commands) {
        std::string usage = command.Usage;
        std::size_t start = 0;
        while (start < usage.size()) {
            const auto end = usage.find('\n', start);
            out << "  korvalin-cli " << usage.substr(start, end - start) << '\n';
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    using korvalin::cli::Commands;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        PrintUsage(std::cerr);
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        PrintUsage(std::cout);
        return 0;
    }
    if (args[0] == "--version") {
        std::cout << "korvalin-cli " << kVersion << '\n';
        return 0;
    }
    const auto& commands = Commands();
    const auto it = std::find_if(commands.begin(), commands.end(),
                                 [&](const auto& command) { return command.Name == args[0]; });
    if (it == commands.end()) {
        std::cerr << "korvalin-cli: unknown command \"" << args[0] << "\"\n";
        PrintUsage(std::cerr);
        return 2;
    }
    try {
        return it->Run(std::vector<std::string>(args.begin() + 1, args.end()));
    } catch (const korvalin::cli::EUsageError& e) {
        std::cerr << "korvalin-cli " << it->Name << ": " << e.what() << "\nusage: korvalin-cli " << it->Usage
                  << '\n';
        return 2;
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
}
