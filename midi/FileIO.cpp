#include "FileIO.h"

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

TAtomicFile::TAtomicFile(const std::string& fileName) : FFileName(fileName) {
    if (fileName.empty()) ThrowFileError("Cannot write file", fileName, ENOENT);
    FMode = ModeForTarget(fileName);
    FTempName = FolderOf(fileName) + "/." + BaseNameOf(fileName) + ".XXXXXX";
    FFd = ::mkstemp(FTempName.data());
    if (FFd < 0) ThrowFileError("Cannot write file", fileName, errno);
}

TAtomicFile::~TAtomicFile() {
    if (FFd < 0) return;
    ::close(FFd);
    ::unlink(FTempName.c_str());
}

void TAtomicFile::Fail(int err) {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
    ::unlink(FTempName.c_str());
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
        ::unlink(FTempName.c_str());
        ThrowFileError("Cannot write file", FFileName, err);
    }
    if (::rename(FTempName.c_str(), FFileName.c_str()) != 0) {
        const int err = errno;
        ::unlink(FTempName.c_str());
        ThrowFileError("Cannot write file", FFileName, err);
    }
}

void WriteFileAtomically(const std::string& fileName, std::span<const std::uint8_t> bytes) {
    TAtomicFile file(fileName);
    file.Write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    file.Commit();
}

void WriteFileAtomically(const std::string& fileName, std::string_view text) {
    WriteFileAtomically(fileName, std::span<const std::uint8_t>(
                                      reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace korvalin
