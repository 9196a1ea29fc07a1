// How a command of korvalin-cli is declared: its usage, its parser, what runs
// it, and the usage error that main reports with exit status 2.

#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace korvalin::cli {

// Wrong usage of a command: main prints the message and the usage text, exit 2.
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What runs a command once its arguments are parsed; returns the exit status.
// Refusals of the core propagate as exceptions and become exit status 1 with
// the message on standard error.
using TCommandRunner = std::function<int()>;

// One sub-command of korvalin-cli. Define declares the command's options on
// its own parser (a CLI::App that accepts unknown arguments, so the command can
// name them in its own words) and returns the runner bound to them.
struct TCliCommand {
    std::string Name;
    std::string Usage;        // one line per form, without the program name
    std::string Description;  // what the command does, for its --help
    std::function<TCommandRunner(CLI::App&)> Define;
};

// Each command's source registers itself with a file-scope registrar:
//   const CommandRegistrar registrar({"info", "info [--json] FILE", "...", DefineInfo});
std::vector<TCliCommand>& Commands();

struct CommandRegistrar {
    explicit CommandRegistrar(TCliCommand command) { Commands().push_back(std::move(command)); }
};

// The first argument the parser did not know that looks like an option ("--"
// ends the options and is not one).
std::optional<std::string> FirstUnknownOption(const CLI::App& parser);

}  // namespace korvalin::cli
