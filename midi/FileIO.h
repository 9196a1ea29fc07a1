#pragma once

#include <cstdint>
#include <mutex>
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

// The temporary files of atomic writes in flight, for a program that may be
// stopped by a signal: Close removes them, so a stopped program leaves every
// target as it was, and no write that sees the registry closed renames or
// starts a file. Safe to use from several threads at once.
class TTempFileRegistry {
public:
    void Close();

private:
    friend void WriteFileAtomically(const std::string&, std::span<const std::uint8_t>, TTempFileRegistry*);
    std::mutex FLock;
    std::vector<std::string> FNames;
    bool FClosed = false;
};

// Reads a whole file into memory.
std::vector<std::uint8_t> ReadWholeFile(const std::string& fileName);

// Writes a whole file through a temporary file in the target's folder that is
// renamed over the target, so the target is either the old file or the new one.
// With a registry, the temporary file is known to it while it exists.
void WriteFileAtomically(const std::string& fileName, std::span<const std::uint8_t> bytes,
                         TTempFileRegistry* registry = nullptr);
void WriteFileAtomically(const std::string& fileName, std::string_view text, TTempFileRegistry* registry = nullptr);

}  // namespace korvalin
