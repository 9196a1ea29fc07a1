#pragma once

// Small helpers for tests that run the built command-line tool through the shell.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace korvalin::test {

// One shell word for any text, quotes included.
inline std::string ShellQuoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// A whole file as bytes in a string; empty when it cannot be read.
inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct RunResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

// Runs `tool` with `args`, standard input empty; what it printed is caught in
// files of `scratch` (a folder of the test's own) and read back.
inline RunResult RunTool(const std::string& tool, const std::vector<std::string>& args,
                         const std::filesystem::path& scratch) {
    std::string command = ShellQuoted(tool);
    for (const auto& arg : args) command += " " + ShellQuoted(arg);
    const auto out = scratch / "stdout.txt";
    const auto err = scratch / "stderr.txt";
    command += " >" + ShellQuoted(out.string()) + " 2>" + ShellQuoted(err.string()) + " </dev/null";
    const int status = std::system(command.c_str());
    RunResult result;
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.Out = ReadText(out);
    result.Err = ReadText(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return result;
}

}  // namespace korvalin::test
