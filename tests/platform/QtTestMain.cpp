#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Listing the tests (ctest's discovery at build time) needs no display and no
// web engine; running them needs a QApplication.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();

    // The web engine keeps writing its profile for a while after a view is
    // gone, so the tests' folders live in one folder that is removed only
    // after the engine has shut down with the application.
    QTemporaryDir root;
    if (!root.isValid()) return 2;
    qputenv("TMPDIR", QFile::encodeName(root.path()));

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    int result = 0;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
