// The recent-files history: the settings file, the list of entries and the
// pop-up menu under btnRecent.

#include "RecentFiles.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QMenu>

#include <exception>
#include <string>
#include <utility>
#include <vector>

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

QString Localized(bool english, const QString& russian, const QString& englishText) {
    return english ? englishText : russian;
}

}  // namespace

TRecentFiles::TRecentFiles(QString settingsFile, QWidget* menuParent)
    : QObject(menuParent), FSettingsFile(std::move(settingsFile)), FMenu(new QMenu(menuParent)) {
    FMenu->setObjectName(QStringLiteral("FRecentMenu"));
    FMenu->setToolTipsVisible(true);
}

void TRecentFiles::Load() {
    FEntries.clear();
    // Entries are taken as they are: a duplicate or a vanished file stays until
    // the user cleans the list.
    const std::vector<korvalin::TRecentEntry> entries =
        korvalin::LoadRecentEntries(QFile::encodeName(FSettingsFile).toStdString());
    for (const korvalin::TRecentEntry& entry : entries)
        FEntries.append((entry.Saved ? kSavedPrefix : kOpenedPrefix) + QString::fromStdString(entry.Path));
}

void TRecentFiles::Save() const {
    try {
        std::vector<korvalin::TRecentEntry> entries;
        entries.reserve(static_cast<std::size_t>(FEntries.size()));
        for (int i = 0; i < FEntries.size(); ++i) entries.push_back({Path(i).toStdString(), Saved(i)});
        korvalin::SaveRecentEntries(QFile::encodeName(FSettingsFile).toStdString(), entries);
    } catch (const std::exception&) {
        // The history is a convenience: when it cannot be stored the list in
        // memory still serves this run, and a message would only interrupt.
    }
}

void TRecentFiles::Add(const QString& path, bool saved) {
    if (path.isEmpty()) return;
    for (int i = static_cast<int>(FEntries.size()) - 1; i >= 0; --i) {
        if (!SamePathIgnoringAsciiCase(Path(i), path)) continue;
        // A file the program once wrote keeps that mark when it is opened again.
        if (Saved(i)) saved = true;
        FEntries.removeAt(i);
    }
    FEntries.prepend((saved ? kSavedPrefix : kOpenedPrefix) + path);
    while (FEntries.size() > korvalin::MaxRecentFiles) FEntries.removeLast();
    Save();
}

QString TRecentFiles::Path(int index) const {
    if (index < 0 || index >= FEntries.size()) return {};
    const QString& entry = FEntries[index];
    if (entry.size() <= 2 || entry[1] != QLatin1Char('\t')) return {};
    return entry.mid(2);
}

bool TRecentFiles::Saved(int index) const {
    if (index < 0 || index >= FEntries.size()) return false;
    const QString& entry = FEntries[index];
    return !entry.isEmpty() && entry[0] == QLatin1Char('S');
}

void TRecentFiles::RemoveUnavailable() {
    for (int i = static_cast<int>(FEntries.size()) - 1; i >= 0; --i)
        if (!FileExists(Path(i))) FEntries.removeAt(i);
    Save();
}

void TRecentFiles::Clear() {
    FEntries.clear();
    Save();
}

void TRecentFiles::BuildMenu(bool english) {
    FMenu->clear();

    bool anyMissing = false;
    if (FEntries.isEmpty()) {
        QAction* empty =
            FMenu->addAction(Localized(english, QStringLiteral("(список пуст)"), QStringLiteral("(list is empty)")));
        empty->setEnabled(false);
    }
    for (int i = 0; i < FEntries.size(); ++i) {
        const QString path = Path(i);
        const bool exists = FileExists(path);
        anyMissing = anyMissing || !exists;
        const QString savedMark =
            Saved(i) ? Localized(english, QStringLiteral("[Сохранён] "), QStringLiteral("[Saved] ")) : QString();
        const QString missingMark =
            exists ? QString()
                   : Localized(english, QStringLiteral(" (файл не найден)"), QStringLiteral(" (file not found)"));
        // One pass of arg(), so that a "%1" inside a file name stays as it is.
        QString caption =
            QStringLiteral("%1. %2%3 \u2014 %4%5")
                .arg(QString::number(i + 1), savedMark, QFileInfo(path).fileName(), FolderName(path), missingMark);
        caption.replace(QLatin1Char('&'), QStringLiteral("&&"));

        QAction* item = FMenu->addAction(caption);
        item->setToolTip(path);
        item->setData(i);
        item->setEnabled(exists);
        connect(item, &QAction::triggered, this, [this, item] { emit ItemChosen(item); });
    }

    FMenu->addSeparator();

    QAction* removeUnavailable = FMenu->addAction(
        Localized(english, QStringLiteral("Удалить недоступные"), QStringLiteral("Remove unavailable")));
    removeUnavailable->setEnabled(anyMissing);
    connect(removeUnavailable, &QAction::triggered, this,
            [this, removeUnavailable] { emit RemoveUnavailableChosen(removeUnavailable); });

    QAction* clearHistory =
        FMenu->addAction(Localized(english, QStringLiteral("Очистить историю"), QStringLiteral("Clear history")));
    clearHistory->setEnabled(!FEntries.isEmpty());
    connect(clearHistory, &QAction::triggered, this, [this, clearHistory] { emit ClearChosen(clearHistory); });
}

QString TRecentFiles::ChosenFile(const QAction* item) const {
    // The tag names the entry. Should the list have changed under the open menu
    // (a file dropped on the window meanwhile), the item still opens the file
    // it shows, which its hint holds.
    const QString shown = item->toolTip();
    QString path = Path(item->data().toInt());
    if (path != shown) path = shown;
    // A file that vanished after the menu was opened is passed over silently:
    // the menu already told the user what was there.
    return FileExists(path) ? path : QString();
}
