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

// A file written in pieces the same way: the pieces go to a temporary file in
// the target's folder, and only Commit puts it in the target's place. Without
// Commit (a failure on the way) the temporary file is removed and the target
// stays as it was.
class TAtomicFile {
public:
    explicit TAtomicFile(const std::string& fileName);
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    void Write(std::string_view piece);
    // Flushes the file to the disk and renames it over the target.
    void Commit();

private:
    [[noreturn]] void Fail(int err);

    std::string FFileName;
    std::string FTempName;
    unsigned FMode = 0;
    int FFd = -1;
};

}  // namespace korvalin
