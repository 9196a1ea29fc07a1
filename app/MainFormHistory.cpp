// Where the window meets its recent-files history: the settings file's place,
// the Recent button and what the menu's commands do to the window.

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>

#include "MainForm.h"
#include "RecentFiles.h"
#include "SettingsIni.h"

QString TfrmMain::SettingsFileName() {
    QString roaming = qEnvironmentVariable("APPDATA");
    if (roaming.isEmpty()) roaming = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QFile::decodeName(
        QByteArray::fromStdString(korvalin::SettingsFilePath(QFile::encodeName(roaming).toStdString())));
}

void TfrmMain::CreateHistory() {
    FHistory = new TRecentFiles(SettingsFileName(), this);
    connect(FHistory, &TRecentFiles::ItemChosen, this,
            [this](QAction* item) { Guarded([this, item] { RecentItemClick(item); }); });
    connect(FHistory, &TRecentFiles::RemoveUnavailableChosen, this,
            [this](QAction* item) { Guarded([this, item] { RemoveUnavailableClick(item); }); });
    connect(FHistory, &TRecentFiles::ClearChosen, this,
            [this](QAction* item) { Guarded([this, item] { ClearHistoryClick(item); }); });
    FHistory->Load();
}

void TfrmMain::btnRecentClick() {
    BuildRecentMenu();
    FHistory->Menu()->popup(btnRecent->mapToGlobal(QPoint(0, btnRecent->height())));
}

void TfrmMain::BuildRecentMenu() { FHistory->BuildMenu(FEnglish); }

void TfrmMain::RecentItemClick(QAction* item) {
    const QString path = FHistory->ChosenFile(item);
    if (!path.isEmpty()) OpenMidiFile(path, QString());
}

void TfrmMain::RemoveUnavailableClick(QAction*) {
    FHistory->RemoveUnavailable();
    lblStatus->setText(Localized(QStringLiteral("Недоступные файлы удалены из истории."),
                                 QStringLiteral("Unavailable files were removed from history.")));
}

void TfrmMain::ClearHistoryClick(QAction*) {
    if (!AskQuestion(Localized(QStringLiteral("Очистить всю историю MIDI-файлов?"),
                               QStringLiteral("Clear the entire MIDI file history?"))))
        return;
    FHistory->Clear();
    lblStatus->setText(
        Localized(QStringLiteral("История файлов очищена."), QStringLiteral("File history was cleared.")));
}
