// What the window test programs share: their temporary folders.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace korvalin::test {

// Points the program's temporary and runtime folders (TMPDIR, XDG_RUNTIME_DIR)
// at one folder of a test, made private as the program expects of a runtime
// folder, and puts the old values back when the scope ends.
class TTemporaryFolderScope {
public:
    explicit TTemporaryFolderScope(const QString& folder)
        : FOldTmpDir(qgetenv("TMPDIR")), FHadTmpDir(qEnvironmentVariableIsSet("TMPDIR")),
          FOldRuntime(qgetenv("XDG_RUNTIME_DIR")), FHadRuntime(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("TMPDIR", QFile::encodeName(folder));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
    }
    ~TTemporaryFolderScope() {
        Restore("TMPDIR", FHadTmpDir, FOldTmpDir);
        Restore("XDG_RUNTIME_DIR", FHadRuntime, FOldRuntime);
    }
    TTemporaryFolderScope(const TTemporaryFolderScope&) = delete;
    TTemporaryFolderScope& operator=(const TTemporaryFolderScope&) = delete;

private:
    static void Restore(const char* name, bool had, const QByteArray& value) {
        if (had) qputenv(name, value);
        else qunsetenv(name);
    }

    QByteArray FOldTmpDir;
    bool FHadTmpDir;
    QByteArray FOldRuntime;
    bool FHadRuntime;
};

// Runs a window test program with every folder its tests make under one root.
// The web engine goes on writing its profile for a while after a window is
// gone, into folders a test has already removed; the root goes only after the
// application, and the engine with it, has shut down.
inline int RunWindowTests(int argc, char** argv, const std::function<int()>& run) {
    QTemporaryDir root;
    if (!root.isValid()) return 2;
    const TTemporaryFolderScope scope(root.path());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    int result = 0;
    {
        QApplication application(argc, argv);
        result = run();
    }
    return result;
}

}  // namespace korvalin::test

#define KORVALIN_WINDOW_TEST_MAIN(TestClass)                    \
    int main(int argc, char** argv) {                           \
        return korvalin::test::RunWindowTests(argc, argv, [&] { \
            TestClass test;                                     \
            return QTest::qExec(&test, argc, argv);             \
        });                                                     \
    }
