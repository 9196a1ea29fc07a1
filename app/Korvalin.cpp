// The program's entry: the command line (--help, --version, a file to open),
// the application object and the main window.

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QIcon>
#include <QTimer>
#include <QUrl>

#include <string_view>

#include "MainForm.h"

namespace {

void DescribeCommandLine(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Turns a MIDI file into sheet music (MusicXML), plays it and moves it to a new key.\n"
                       "Превращает MIDI-файл в ноты (MusicXML), проигрывает его и переносит в другую тональность."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("A MIDI file to open (.mid, .midi)."),
                                 QStringLiteral("[FILE.mid]"));
}

// --help and --version are answered before the window system starts, so they
// work without a display (over ssh, in a build script).
bool AsksForHelpOrVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") break;
        if (arg == "-h" || arg == "-?" || arg == "--help" || arg == "--help-all" || arg == "-v" || arg == "--version")
            return true;
    }
    return false;
}

// A file manager may hand over a file:// address instead of a path.
QString LocalFileName(const QString& argument) {
    const QUrl url(argument);
    return url.isLocalFile() ? url.toLocalFile() : argument;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("Korvalin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVALIN_VERSION));
    QCoreApplication::setOrganizationName(QStringLiteral("Velthane"));

    if (AsksForHelpOrVersion(argc, argv)) {
        const QCoreApplication console(argc, argv);
        QCommandLineParser parser;
        DescribeCommandLine(parser);
        parser.process(console);  // prints the help or the version and ends the program
        return 0;
    }

    // The score view's web engine shares its graphics contexts with the window.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    // No display name: Qt would append it to every window title ("Korvalin
    // 0.5.0 — Korvalin"); message boxes take the application name instead.
    // The window belongs to the menu entry of the same name (task bars group and
    // decorate windows by it).
    QGuiApplication::setDesktopFileName(QStringLiteral(KORVALIN_APP_ID));
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);

    QCommandLineParser parser;
    DescribeCommandLine(parser);
    parser.process(application);
    QStringList files;
    for (const QString& argument : parser.positionalArguments()) files << LocalFileName(argument);

    TfrmMain frmMain;
    frmMain.show();
    // Opened once the window is up, so a refusal's message box has the window behind it.
    if (!files.isEmpty()) QTimer::singleShot(0, &frmMain, [&frmMain, files] { frmMain.OpenCommandLineFiles(files); });
    return QApplication::exec();
}
