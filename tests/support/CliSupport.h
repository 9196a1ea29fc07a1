#pragma once

// Small helpers for tests that run the built command-line tool through the shell.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

}  // namespace korvalin::test
