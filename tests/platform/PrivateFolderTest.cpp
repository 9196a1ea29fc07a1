// The user's private folder for temporary files: which folder is trusted, and
// what the files written there come out as.
#include "PrivateFolder.h"

#include "FileIO.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace korvalin::test {
namespace {

mode_t ModeOf(const QString& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st.st_mode & 07777;
}

// TMPDIR points at a shared folder of the test's own (open to all, as /tmp
// is) and XDG_RUNTIME_DIR at what a case gives, both put back afterwards.
class PrivateFolder : public ::testing::Test {
protected:
    PrivateFolder() : FOldTmpDir(qgetenv("TMPDIR")), FOldRuntime(qgetenv("XDG_RUNTIME_DIR")) {
        FShared = QDir(FRoot.path()).canonicalPath();
        ::chmod(QFile::encodeName(FShared).constData(), 01777);
        qputenv("TMPDIR", QFile::encodeName(FShared));
        qunsetenv("XDG_RUNTIME_DIR");
        FOwn = FShared + QStringLiteral("/Korvalin-%1").arg(::geteuid());
    }
    ~PrivateFolder() override {
        qputenv("TMPDIR", FOldTmpDir);
        if (FOldRuntime.isEmpty()) qunsetenv("XDG_RUNTIME_DIR");
        else qputenv("XDG_RUNTIME_DIR", FOldRuntime);
    }

    QString MakeFolder(const QString& name, mode_t mode) const {
        const QString path = FShared + QLatin1Char('/') + name;
        EXPECT_EQ(::mkdir(QFile::encodeName(path).constData(), 0700), 0);
        EXPECT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
        return path;
    }

    // What the program gets must be the user's own and closed to others, and
    // never the folder that failed.
    void ExpectFreshPrivateFolderBesides(const QString& refused) const {
        const TPrivateFolder folder = OpenPrivateFolder();
        EXPECT_NE(folder.Path, refused);
        EXPECT_TRUE(folder.Fresh);
        EXPECT_TRUE(folder.Path.startsWith(FOwn + QLatin1Char('-'))) << folder.Path.toStdString();
        EXPECT_TRUE(IsPrivateFolder(folder.Path));
        EXPECT_EQ(ModeOf(folder.Path), 0700u);
    }

    QTemporaryDir FRoot;
    QString FShared;
    QString FOwn;
    QByteArray FOldTmpDir;
    QByteArray FOldRuntime;
};

TEST_F(PrivateFolder, IsMadeOnceInTheTemporaryFolderAndKeptClosed) {
    const TPrivateFolder first = OpenPrivateFolder();
    EXPECT_EQ(first.Path, FOwn);
    EXPECT_FALSE(first.Fresh);
    EXPECT_EQ(ModeOf(FOwn), 0700u);

    // Our own folder that others could read is closed again, not replaced.
    ::chmod(QFile::encodeName(FOwn).constData(), 0755);
    EXPECT_EQ(OpenPrivateFolder().Path, FOwn);
    EXPECT_EQ(ModeOf(FOwn), 0700u);
}

TEST_F(PrivateFolder, UsesThePrivateRuntimeFolderAndDistrustsAnOpenOne) {
    const QString runtime = MakeFolder(QStringLiteral("runtime"), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime + QStringLiteral("/.")));
    EXPECT_EQ(OpenPrivateFolder().Path, runtime);

    ::chmod(QFile::encodeName(runtime).constData(), 0777);
    EXPECT_EQ(OpenPrivateFolder().Path, FOwn);
}

TEST_F(PrivateFolder, AFolderOthersCanWriteToIsNeverUsed) {
    MakeFolder(QFileInfo(FOwn).fileName(), 0777);
    ExpectFreshPrivateFolderBesides(FOwn);
    EXPECT_EQ(ModeOf(FOwn), 0777u);  // left alone: it may not be ours to fix
}

TEST_F(PrivateFolder, ALinkPlantedUnderOurNameIsNeverFollowed) {
    const QString target = MakeFolder(QStringLiteral("elsewhere"), 0700);
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(FOwn).constData()), 0);
    ExpectFreshPrivateFolderBesides(FOwn);
    EXPECT_TRUE(QFileInfo(FOwn).isSymLink());
}

TEST_F(PrivateFolder, AFolderOfSomeoneElseIsNeverUsed) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can give a folder to another user";
    const QString planted = MakeFolder(QFileInfo(FOwn).fileName(), 0700);
    ASSERT_EQ(::chown(QFile::encodeName(planted).constData(), 65534, 65534), 0);
    ExpectFreshPrivateFolderBesides(planted);

    const QString runtime = MakeFolder(QStringLiteral("runtime"), 0700);
    ASSERT_EQ(::chown(QFile::encodeName(runtime).constData(), 65534, 65534), 0);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    EXPECT_NE(OpenPrivateFolder().Path, runtime);
}

TEST_F(PrivateFolder, FilesWrittenUnderThePrivateModeAreTheOwnersAlone) {
    const mode_t oldMask = ::umask(022);
    const QString fresh = FShared + QStringLiteral("/fresh.mid");
    const QString existing = FShared + QStringLiteral("/existing.mid");
    WriteFileAtomically(existing.toStdString(), std::string_view("old"));
    ASSERT_EQ(ModeOf(existing), 0644u);
    {
        const TPrivateFileMode freshMode(fresh);
        WriteFileAtomically(fresh.toStdString(), std::string_view("new"));
        const TPrivateFileMode existingMode(existing);
        WriteFileAtomically(existing.toStdString(), std::string_view("new"));
    }
    EXPECT_EQ(ModeOf(fresh), 0600u);
    EXPECT_EQ(ModeOf(existing), 0600u);
    // The program's other files are made as before.
    const QString later = FShared + QStringLiteral("/later.musicxml");
    WriteFileAtomically(later.toStdString(), std::string_view("x"));
    EXPECT_EQ(ModeOf(later), 0644u);
    ::umask(oldMask);
}

}  // namespace
}  // namespace korvalin::test
