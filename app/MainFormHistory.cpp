// The recent-files history: the settings file, the list of entries and the
// pop-up menu under btnRecent.

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>

#include <exception>
#include <string>
#include <vector>

#include "MainForm.h"
#include "SettingsIni.h"

namespace {

const QString kSavedPrefix = QStringLiteral("S\t");
const QString kOpenedPrefix = QStringLiteral("O\t");

// Paths compare like file names on Windows as far as ASCII goes: "a.mid" and
// "A.MID" are one file; other letters must match exactly.
bool SamePathIgnoringAsciiCase(const QString& a, const QString& b) {
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a[i].unicode();
        char16_t y = b[i].unicode();
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
        if (x != y) return false;
    }
    return true;
}

// A file, not a folder, that is there now.
bool FileExists(const QString& path) {
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

// The last component of the file's folder; for a file in the root folder,
// which has no name of its own, the folder path itself.
QString FolderName(const QString& path) {
    const QString folder = QFileInfo(path).path();
    const QString name = QFileInfo(folder).fileName();
    return name.isEmpty() ? folder : name;
}

}  // namespace

QString TfrmMain::SettingsFileName() {
    QString roaming = qEnvironmentVariable("APPDATA");
    if (roaming.isEmpty()) roaming = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QFile::decodeName(
        QByteArray::fromStdString(korvalin::SettingsFilePath(QFile::encodeName(roaming).toStdString())));
}

void TfrmMain::LoadRecentFiles() {
    FRecentFiles.clear();
    // Entries are taken as they are: a duplicate or a vanished file stays until
    // the user cleans the list.
    const std::vector<korvalin::TRecentEntry> entries =
        korvalin::LoadRecentEntries(QFile::encodeName(SettingsFileName()).toStdString());
    for (const korvalin::TRecentEntry& entry : entries)
        FRecentFiles.append((entry.Saved ? kSavedPrefix : kOpenedPrefix) + QString::fromStdString(entry.Path));
}

void TfrmMain::SaveRecentFiles() {
    try {
        std::vector<korvalin::TRecentEntry> entries;
        entries.reserve(static_cast<std::size_t>(FRecentFiles.size()));
        for (int i = 0; i < FRecentFiles.size(); ++i)
            entries.push_back({RecentFilePath(i).toStdString(), RecentFileSaved(i)});
        korvalin::SaveRecentEntries(QFile::encodeName(SettingsFileName()).toStdString(), entries);
    } catch (const std::exception&) {
        // The history is a convenience: when it cannot be stored the list in
        // memory still serves this run, and a message would only interrupt.
    }
}

void TfrmMain::AddRecentFile(const QString& path, bool saved) {
    if (path.isEmpty()) return;
    for (int i = static_cast<int>(FRecentFiles.size()) - 1; i >= 0; --i) {
        if (!SamePathIgnoringAsciiCase(RecentFilePath(i), path)) continue;
        // A file the program once wrote keeps that mark when it is opened again.
        if (RecentFileSaved(i)) saved = true;
        FRecentFiles.removeAt(i);
    }
    FRecentFiles.prepend((saved ? kSavedPrefix : kOpenedPrefix) + path);
    while (FRecentFiles.size() > korvalin::MaxRecentFiles) FRecentFiles.removeLast();
    SaveRecentFiles();
}

QString TfrmMain::RecentFilePath(int index) const {
    if (index < 0 || index >= FRecentFiles.size()) return {};
    const QString& entry = FRecentFiles[index];
    if (entry.size() <= 2 || entry[1] != QLatin1Char('\t')) return {};
    return entry.mid(2);
}

bool TfrmMain::RecentFileSaved(int index) const {
    if (index < 0 || index >= FRecentFiles.size()) return false;
    const QString& entry = FRecentFiles[index];
    return !entry.isEmpty() && entry[0] == QLatin1Char('S');
}

void TfrmMain::btnRecentClick() {
    BuildRecentMenu();
    FRecentMenu->popup(btnRecent->mapToGlobal(QPoint(0, btnRecent->height())));
}

void TfrmMain::BuildRecentMenu() {
    FRecentMenu->clear();

    bool anyMissing = false;
    if (FRecentFiles.isEmpty()) {
        QAction* empty =
            FRecentMenu->addAction(Localized(QStringLiteral("(список пуст)"), QStringLiteral("(list is empty)")));
        empty->setEnabled(false);
    }
    for (int i = 0; i < FRecentFiles.size(); ++i) {
        const QString path = RecentFilePath(i);
        const bool exists = FileExists(path);
        anyMissing = anyMissing || !exists;
        const QString savedMark =
            RecentFileSaved(i) ? Localized(QStringLiteral("[Сохранён] "), QStringLiteral("[Saved] ")) : QString();
        const QString missingMark =
            exists ? QString() : Localized(QStringLiteral(" (файл не найден)"), QStringLiteral(" (file not found)"));
        // One pass of arg(), so that a "%1" inside a file name stays as it is.
        QString caption =
            QStringLiteral("%1. %2%3 \u2014 %4%5")
                .arg(QString::number(i + 1), savedMark, QFileInfo(path).fileName(), FolderName(path), missingMark);
        caption.replace(QLatin1Char('&'), QStringLiteral("&&"));

        QAction* item = FRecentMenu->addAction(caption);
        item->setToolTip(path);
        item->setData(i);
        item->setEnabled(exists);
        connect(item, &QAction::triggered, this, [this, item] { Guarded([this, item] { RecentItemClick(item); }); });
    }

    FRecentMenu->addSeparator();

    QAction* removeUnavailable =
        FRecentMenu->addAction(Localized(QStringLiteral("Удалить недоступные"), QStringLiteral("Remove unavailable")));
    removeUnavailable->setEnabled(anyMissing);
    connect(removeUnavailable, &QAction::triggered, this, [this, removeUnavailable] {
        Guarded([this, removeUnavailable] { RemoveUnavailableClick(removeUnavailable); });
    });

    QAction* clearHistory =
        FRecentMenu->addAction(Localized(QStringLiteral("Очистить историю"), QStringLiteral("Clear history")));
    clearHistory->setEnabled(!FRecentFiles.isEmpty());
    connect(clearHistory, &QAction::triggered, this,
            [this, clearHistory] { Guarded([this, clearHistory] { ClearHistoryClick(clearHistory); }); });
}

void TfrmMain::RecentItemClick(QAction* item) {
    // The tag names the entry. Should the list have changed under the open menu
    // (a file dropped on the window meanwhile), the item still opens the file
    // it shows, which its hint holds.
    const QString shown = item->toolTip();
    QString path = RecentFilePath(item->data().toInt());
    if (path != shown) path = shown;
    // A file that vanished after the menu was opened is passed over silently:
    // the menu already told the user what was there.
    if (FileExists(path)) OpenMidiFile(path, QString());
}

void TfrmMain::RemoveUnavailableClick(QAction*) {
    for (int i = static_cast<int>(FRecentFiles.size()) - 1; i >= 0; --i)
        if (!FileExists(RecentFilePath(i))) FRecentFiles.removeAt(i);
    SaveRecentFiles();
    lblStatus->setText(Localized(QStringLiteral("Недоступные файлы удалены из истории."),
                                 QStringLiteral("Unavailable files were removed from history.")));
}

void TfrmMain::ClearHistoryClick(QAction*) {
    if (!AskQuestion(Localized(QStringLiteral("Очистить всю историю MIDI-файлов?"),
                               QStringLiteral("Clear the entire MIDI file history?"))))
        return;
    FRecentFiles.clear();
    SaveRecentFiles();
    lblStatus->setText(
        Localized(QStringLiteral("История файлов очищена."), QStringLiteral("File history was cleared.")));
}
