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

void WriteFileAtomically(const std::string& fileName, std::span<const std::uint8_t> bytes,
                         TTempFileRegistry* registry) {
    if (fileName.empty()) ThrowFileError("Cannot write file", fileName, ENOENT);
    const mode_t mode = ModeForTarget(fileName);
    std::string tempName = FolderOf(fileName) + "/." + BaseNameOf(fileName) + ".XXXXXX";
    const auto lockRegistry = [&] {
        return registry != nullptr ? std::unique_lock(registry->FLock) : std::unique_lock<std::mutex>();
    };
    // Whether the temporary name is still ours to remove: a closed registry has removed it already.
    const auto forget = [&] {
        if (registry == nullptr) return true;
        const auto lock = lockRegistry();
        const auto it = std::find(registry->FNames.begin(), registry->FNames.end(), tempName);
        if (it == registry->FNames.end()) return false;
        registry->FNames.erase(it);
        return true;
    };

    int created = -1;
    int createError = 0;
    {
        const auto lock = lockRegistry();
        if (registry != nullptr && registry->FClosed) ThrowFileError("Cannot write file", fileName, EINTR);
        created = ::mkstemp(tempName.data());
        createError = errno;
        if (created >= 0 && registry != nullptr) registry->FNames.push_back(tempName);
    }
    FdGuard fd(created);
    if (fd.Get() < 0) ThrowFileError("Cannot write file", fileName, createError);

    auto fail = [&](int err) {
        if (fd.Get() >= 0) ::close(fd.Release());
        if (forget()) ::unlink(tempName.c_str());
        ThrowFileError("Cannot write file", fileName, err);
    };

    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        done += static_cast<std::size_t>(put);
    }
    if (::fchmod(fd.Get(), mode) != 0) fail(errno);
    if (::fsync(fd.Get()) != 0) fail(errno);
    if (::close(fd.Release()) != 0) fail(errno);

    // Renamed under the registry's lock, so a Close never removes a name that
    // has just become the target.
    const auto lock = lockRegistry();
    if (registry != nullptr && registry->FClosed) ThrowFileError("Cannot write file", fileName, EINTR);
    if (::rename(tempName.c_str(), fileName.c_str()) != 0) {
        const int err = errno;
        ::unlink(tempName.c_str());
        if (registry != nullptr) std::erase(registry->FNames, tempName);
        ThrowFileError("Cannot write file", fileName, err);
    }
    if (registry != nullptr) std::erase(registry->FNames, tempName);
}

void WriteFileAtomically(const std::string& fileName, std::string_view text, TTempFileRegistry* registry) {
    WriteFileAtomically(fileName,
                        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                        registry);
}

}  // namespace korvalin
