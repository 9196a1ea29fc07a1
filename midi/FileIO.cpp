// Reading whole files and writing them atomically: a temporary file in the
// target's folder, flushed, then renamed over the target.

#include "FileIO.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvalin {

namespace {

[[noreturn]] void ThrowFileError(std::string_view what, const std::string& fileName, int err) {
    throw EFileError(std::string(what) + " \"" + fileName + "\": " + std::strerror(err));
}

class FdGuard {
public:
    explicit FdGuard(int fd) : FFd(fd) {}
    ~FdGuard() {
        if (FFd >= 0) ::close(FFd);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int Get() const { return FFd; }
    int Release() {
        const int fd = FFd;
        FFd = -1;
        return fd;
    }

private:
    int FFd;
};

std::string FolderOf(const std::string& fileName) {
    const auto slash = fileName.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return fileName.substr(0, slash);
}

std::string BaseNameOf(const std::string& fileName) {
    const auto slash = fileName.find_last_of('/');
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

// The mode a newly created file would get, so a replaced file keeps its own
// mode and a new one gets the usual 0666 less the umask, not mkstemp's 0600.
mode_t ModeForTarget(const std::string& fileName) {
    struct stat st {};
    if (::stat(fileName.c_str(), &st) == 0) return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

std::vector<std::uint8_t> ReadWholeFile(const std::string& fileName) {
    FdGuard fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) ThrowFileError("Cannot open file", fileName, errno);
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) ThrowFileError("Cannot read file", fileName, errno);
    if (S_ISDIR(st.st_mode)) ThrowFileError("Cannot read file", fileName, EISDIR);

    std::vector<std::uint8_t> data;
    if (st.st_size > 0) data.reserve(static_cast<std::size_t>(st.st_size));
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            ThrowFileError("Cannot read file", fileName, errno);
        }
        if (got == 0) break;
        data.insert(data.end(), buffer, buffer + got);
    }
    return data;
}

void TTempFileRegistry::Close() {
    const std::lock_guard lock(FLock);
    FClosed = true;
    for (const auto& name : FNames) ::unlink(name.c_str());
    FNames.clear();
}

TAtomicFile::TAtomicFile(const std::string& fileName, TTempFileRegistry* registry)
    : FFileName(fileName), FRegistry(registry) {
    if (fileName.empty()) ThrowFileError("Cannot write file", fileName, ENOENT);
    FMode = ModeForTarget(fileName);
    FTempName = FolderOf(fileName) + "/." + BaseNameOf(fileName) + ".XXXXXX";
    if (FRegistry == nullptr) {
        FFd = ::mkstemp(FTempName.data());
        if (FFd < 0) ThrowFileError("Cannot write file", fileName, errno);
        return;
    }
    // Made and registered in one step, so a Close never misses a temporary file.
    const std::lock_guard lock(FRegistry->FLock);
    if (FRegistry->FClosed) ThrowFileError("Cannot write file", fileName, EINTR);
    FFd = ::mkstemp(FTempName.data());
    if (FFd < 0) ThrowFileError("Cannot write file", fileName, errno);
    FRegistry->FNames.push_back(FTempName);
}

TAtomicFile::~TAtomicFile() {
    if (FFd < 0) return;
    ::close(FFd);
    RemoveTemp();
}

void TAtomicFile::RemoveTemp() {
    if (FRegistry != nullptr) {
        const std::lock_guard lock(FRegistry->FLock);
        const auto it = std::find(FRegistry->FNames.begin(), FRegistry->FNames.end(), FTempName);
        if (it == FRegistry->FNames.end()) return;
        FRegistry->FNames.erase(it);
    }
    ::unlink(FTempName.c_str());
}

void TAtomicFile::Fail(int err) {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
    RemoveTemp();
    ThrowFileError("Cannot write file", FFileName, err);
}

void TAtomicFile::Write(std::string_view piece) {
    std::size_t done = 0;
    while (done < piece.size()) {
        const ssize_t put = ::write(FFd, piece.data() + done, piece.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            Fail(errno);
        }
        done += static_cast<std::size_t>(put);
    }
}

void TAtomicFile::Commit() {
    if (::fchmod(FFd, static_cast<mode_t>(FMode)) != 0) Fail(errno);
    if (::fsync(FFd) != 0) Fail(errno);
    const int fd = FFd;
    FFd = -1;
    if (::close(fd) != 0) {
        const int err = errno;
        RemoveTemp();
        ThrowFileError("Cannot write file", FFileName, err);
    }
    // Renamed under the registry's lock, so a Close never removes a name that
    // has just become the target, nor lets a stopped program add one.
    std::unique_lock<std::mutex> lock;
    if (FRegistry != nullptr) {
        lock = std::unique_lock(FRegistry->FLock);
        if (FRegistry->FClosed) ThrowFileError("Cannot write file", FFileName, EINTR);
        std::erase(FRegistry->FNames, FTempName);
    }
    if (::rename(FTempName.c_str(), FFileName.c_str()) != 0) {
        const int err = errno;
        ::unlink(FTempName.c_str());
        ThrowFileError("Cannot write file", FFileName, err);
    }
}

void WriteFileAtomically(const std::string& fileName, std::span<const std::uint8_t> bytes,
                         TTempFileRegistry* registry) {
    TAtomicFile file(fileName, registry);
    file.Write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    file.Commit();
}

void WriteFileAtomically(const std::string& fileName, std::string_view text, TTempFileRegistry* registry) {
    WriteFileAtomically(fileName,
                        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                        registry);
}

}  // namespace korvalin
