// Finding or making a folder nobody but the user can reach, checked on open
// handles so that it cannot be swapped under us.

#include "PrivateFolder.h"

#include "FileIO.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace korvalin {

namespace {

[[noreturn]] void ThrowFileError(const char* what, const QString& path, int err) {
    throw EFileError(std::string(what) + " \"" + path.toStdString() + "\": " + std::strerror(err));
}

class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() {
        if (FFd >= 0) ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

bool OwnedAndClosedToOthers(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Opens the folder without following a link in its place, checks it on the
// open handle (so it cannot be swapped between check and use) and takes the
// read and search rights of others away from a folder that passes.
bool ClaimFolder(const QString& path) {
    const TFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Get() < 0) return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !OwnedAndClosedToOthers(st)) return false;
    if ((st.st_mode & 07777) != 0700 && ::fchmod(fd.Get(), 0700) != 0) return false;
    return true;
}

QString Canonical(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

}  // namespace

bool IsPrivateFolder(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && OwnedAndClosedToOthers(st);
}

TPrivateFolder OpenPrivateFolder() {
    // The session's runtime folder is made private by the system; it is still
    // checked, since the variable may point anywhere.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        const QString canonical = QFileInfo(runtime).canonicalFilePath();
        if (!canonical.isEmpty() && IsPrivateFolder(canonical)) return {canonical, false};
    }

    // The shared temporary folder: anyone may create names in it, so a folder
    // found under our name may have been planted by someone else.
    // Qt gives no path at all for a TMPDIR that does not exist; the folder
    // must not end up at the root of the file system.
    const QString temporary = QDir::tempPath();
    const QString leaf = QStringLiteral("/Korvalin-%1").arg(::geteuid());
    if (temporary.isEmpty()) ThrowFileError("Cannot create folder", qEnvironmentVariable("TMPDIR") + leaf, ENOENT);
    const QString own = Canonical(temporary) + leaf;
    const QByteArray ownName = QFile::encodeName(own);
    if (::mkdir(ownName.constData(), 0700) != 0 && errno != EEXIST) ThrowFileError("Cannot create folder", own, errno);
    if (ClaimFolder(own)) return {own, false};

    // Never the folder that failed: a new one with a name nobody can foresee.
    QByteArray pattern = ownName + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        ThrowFileError("Cannot create folder", own + QStringLiteral("-XXXXXX"), errno);
    return {QFile::decodeName(pattern), true};
}

TPrivateFileMode::TPrivateFileMode(const QString& fileName) : FOldMask(::umask(077)) {
    struct stat st {};
    const QByteArray name = QFile::encodeName(fileName);
    if (::lstat(name.constData(), &st) != 0 || (st.st_mode & 077) == 0) return;
    // A link in the file's place is replaced by the writer, not followed.
    if (S_ISLNK(st.st_mode)) return;
    if (::chmod(name.constData(), 0600) != 0) {
        const int err = errno;
        ::umask(static_cast<mode_t>(FOldMask));
        ThrowFileError("Cannot protect file", fileName, err);
    }
}

TPrivateFileMode::~TPrivateFileMode() { ::umask(static_cast<mode_t>(FOldMask)); }

}  // namespace korvalin
