// The recent-files history: its entries, newest first, kept in the settings
// file, and the pop-up menu that lists them. The window owns one and decides
// what a chosen entry does; the history knows nothing of the window.

#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QAction;
class QMenu;
class QWidget;

class TRecentFiles : public QObject {
    Q_OBJECT

public:
    // settingsFile is read and written on every change; the menu is a child of menuParent.
    TRecentFiles(QString settingsFile, QWidget* menuParent);

    // Entries as stored: "S\t" + path for a file the program saved, "O\t" +
    // path for one the user opened.
    const QStringList& Entries() const { return FEntries; }
    QMenu* Menu() const { return FMenu; }

    // Reads the history from the settings file; any failure leaves it empty.
    void Load();
    // Writes the history to the settings file; a failure is ignored.
    void Save() const;
    // Puts a file at the top (once, keeping a saved mark it had) and saves.
    void Add(const QString& path, bool saved);
    // The path of an entry, or empty for an index outside the list or a malformed entry.
    QString Path(int index) const;
    // Whether an entry is a file the program saved rather than one the user opened.
    bool Saved(int index) const;
    // Drops the entries whose file is not there now, and saves.
    void RemoveUnavailable();
    void Clear();
    // Rebuilds the menu from the list in the given language, checking every file anew.
    void BuildMenu(bool english);
    // The file a menu item stands for, or empty when that file is gone.
    QString ChosenFile(const QAction* item) const;

signals:
    void ItemChosen(QAction* item);
    void RemoveUnavailableChosen(QAction* item);
    void ClearChosen(QAction* item);

private:
    QString FSettingsFile;
    QStringList FEntries;
    QMenu* FMenu;
};
