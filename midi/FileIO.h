#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace korvalin {

// A file-system failure; the message names the path and the system's reason.
class EFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a whole file into memory.
std::vector<std::uint8_t> ReadWholeFile(const std::string& fileName);

// Writes a whole file through a temporary file in the target's folder that is
// renamed over the target, so the target is either the old file or the new one.
void WriteFileAtomically(const std::string& fileName, std::span<const std::uint8_t> bytes);
void WriteFileAtomically(const std::string& fileName, std::string_view text);

}  // namespace korvalin
