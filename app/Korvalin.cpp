#include <QApplication>

#include "MainForm.h"

int main(int argc, char* argv[]) {
    // The score view's web engine shares its graphics contexts with the window.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvalin"));
    // No display name: Qt would append it to every window title ("Korvalin
    // 0.5.0 — Korvalin"); message boxes take the application name instead.
    QApplication::setApplicationVersion(QStringLiteral(KORVALIN_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Velthane"));

    TfrmMain frmMain;
    frmMain.show();
    return QApplication::exec();
}
