// File input and output for the whole program: whole-file reads, atomic
// writes, and the file-system error that carries the system's reason.

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

class TAtomicFile;

// The temporary files of atomic writes in flight, for a program that may be
// stopped by a signal: Close removes them, so a stopped program leaves every
// target as it was, and no write that sees the registry closed renames or
// starts a file. Safe to use from several threads at once.
class TTempFileRegistry {
public:
    void Close();

private:
    friend class TAtomicFile;
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

// A file written in pieces the same way: the pieces go to a temporary file in
// the target's folder, and only Commit puts it in the target's place. Without
// Commit (a failure on the way) the temporary file is removed and the target
// stays as it was.
class TAtomicFile {
public:
    explicit TAtomicFile(const std::string& fileName, TTempFileRegistry* registry = nullptr);
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    void Write(std::string_view piece);
    // Where the pieces go, for an encoder that opens the file by its name: it
    // must write into this file in place, never replace it.
    const std::string& TempName() const { return FTempName; }
    // Flushes the file to the disk and renames it over the target.
    void Commit();

private:
    [[noreturn]] void Fail(int err);
    // Removes the temporary file unless a closed registry has removed it already
    // (its name may since belong to another file).
    void RemoveTemp();

    std::string FFileName;
    std::string FTempName;
    unsigned FMode = 0;
    int FFd = -1;
    TTempFileRegistry* FRegistry = nullptr;
};

}  // namespace korvalin
