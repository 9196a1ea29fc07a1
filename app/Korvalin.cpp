#include <QApplication>

#include "MainForm.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvalin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Korvalin"));
    QApplication::setApplicationVersion(QStringLiteral(KORVALIN_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Velthane"));

    TfrmMain frmMain;
    frmMain.show();
    return QApplication::exec();
}
