#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvalin::cli {

// Wrong usage of a command: main prints the message and the usage text, exit 2.
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One sub-command of korvalin-cli. Run gets the arguments after the command
// name and returns the exit status; refusals of the core propagate as
// exceptions and become exit status 1 with the message on standard error.
struct TCliCommand {
    std::string Name;
    std::string Usage;  // one line per form, without the program name
    std::function<int(const std::vector<std::string>&)> Run;
};

// Each command's source registers itself with a file-scope registrar:
//   static const CommandRegistrar reg({"info", "info [--json] FILE", RunInfo});
std::vector<TCliCommand>& Commands();

struct CommandRegistrar {
    explicit CommandRegistrar(TCliCommand command) { Commands().push_back(std::move(command)); }
};

}  // namespace korvalin::cli
