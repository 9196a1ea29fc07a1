// The recent-files history of the window: a real TfrmMain on the offscreen
// platform, its settings file in a folder of its own for every test (APPDATA),
// its question answered by a subclass. The menu is built and its actions are
// triggered directly instead of running it as a modal pop-up.

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include "MainForm.h"
#include "RecentFiles.h"
#include "StandInViewer.h"
#include "WindowTestSupport.h"
#include "MidiBuilder.h"
#include "MusicXmlExporter.h"
#include "SettingsIni.h"

using korvalin::TRecentEntry;
using korvalin::test::Bytes;
using korvalin::test::MidiBuilder;

namespace {

// The history is not the engine's business: the viewer is a stand-in.
class THistoryForm : public TfrmMain {
public:
    THistoryForm() : TfrmMain(nullptr, TStandInViewer::Factory()) {}
    using TfrmMain::FSourceMidiFile;

    QStringList Shown;
    QStringList Questions;
    bool Answer = false;

protected:
    void ShowMessage(TMessageKind, const QString& text) override { Shown.append(text); }
    bool AskQuestion(const QString& text) override {
        Questions.append(text);
        return Answer;
    }
    QString AskOpenFileName(const TFileDialog&) override { return {}; }
    QString AskSaveFileName(const TFileDialog&) override { return SaveAnswer; }

public:
    QString SaveAnswer;
};

Bytes OnePart() {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).End();
    midi.Track().Name("Flute").Note(0, 480, 0, 72).End();
    return midi.Bytes();
}

// A melody played without a click: beats of about 0.5 s that drift off the
// file's grid, so readable notation reads it for its beat.
Bytes PlayedFreely() {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).End();
    auto& piano = midi.Track().Name("Piano");
    const std::uint32_t gaps[] = {0, 37, 11, 53, 23, 41, 7, 29};
    for (int i = 0; i < 36; ++i) piano.Note(gaps[i % 8], 400, 0, (i % 3 == 0 ? 60 : 67) + i % 5);
    piano.End();
    return midi.Bytes();
}

}  // namespace

class TMainFormHistoryTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FFiles;
    std::unique_ptr<QTemporaryDir> FAppData;
    std::unique_ptr<QTemporaryDir> FTemp;
    std::unique_ptr<korvalin::test::TTemporaryFolderScope> FTempScope;
    QByteArray FOldAppData;
    std::unique_ptr<THistoryForm> FForm;

    // A small MIDI file below the test's file folder (sub-folders are created).
    QString WriteMidi(const QString& relative, const Bytes& bytes = OnePart()) {
        const QString path = FFiles->filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write test file");
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        return path;
    }
    QString Missing(const QString& relative) const { return FFiles->filePath(relative); }
    QString SettingsFile() const { return FAppData->filePath(QStringLiteral("Velthane/Korvalin/settings.ini")); }
    std::vector<TRecentEntry> Stored() const {
        return korvalin::LoadRecentEntries(QFile::encodeName(SettingsFile()).toStdString());
    }
    static TRecentEntry Entry(const QString& path, bool saved) { return {path.toStdString(), saved}; }
    void Open(const QString& path) {
        FForm->OpenMidiFile(path, QString());
        QVERIFY2(FForm->Shown.isEmpty(), qPrintable(FForm->Shown.join(QLatin1Char('|'))));
        QCOMPARE(FForm->FSourceMidiFile, path);
    }
    QList<QAction*> MenuActions() {
        FForm->BuildRecentMenu();
        return FForm->History().Menu()->actions();
    }
    QAction* MenuAction(const QString& text) {
        for (QAction* action : MenuActions())
            if (action->text() == text) return action;
        qWarning("no menu item %s", qPrintable(text));
        return nullptr;
    }
    void SetEnglish() {
        FForm->rbEnglish->click();
        QVERIFY(FForm->rbEnglish->isChecked());
    }

private slots:
    void init() {
        FFiles = std::make_unique<QTemporaryDir>();
        FAppData = std::make_unique<QTemporaryDir>();
        FTemp = std::make_unique<QTemporaryDir>();
        FOldAppData = qgetenv("APPDATA");
        FTempScope = std::make_unique<korvalin::test::TTemporaryFolderScope>(FTemp->path());
        qputenv("APPDATA", FAppData->path().toLocal8Bit());
        FForm = std::make_unique<THistoryForm>();
    }

    void cleanup() {
        FForm.reset();
        FTempScope.reset();
        qputenv("APPDATA", FOldAppData);
        FTemp.reset();
        FAppData.reset();
        FFiles.reset();
    }

    // --- The settings file ---

    void settingsFileLiesBelowAppData() { QCOMPARE(TfrmMain::SettingsFileName(), SettingsFile()); }

    // --- The notation choice, remembered beside the history ---

    void notationChoiceSpeaksBothLanguagesAndIsRemembered() {
        QCOMPARE(FForm->lblNotation->text(), QStringLiteral("Нотация"));
        QCOMPARE(FForm->cbNotation->currentText(), QStringLiteral("Как сыграно"));
        QCOMPARE(FForm->cbNotation->itemText(1), QStringLiteral("Для чтения"));
        QCOMPARE(FForm->SelectedNotation(), korvalin::TNotationMode::nmLiteral);
        FForm->History().Add(WriteMidi(QStringLiteral("a.mid")), false);

        FForm->cbNotation->setCurrentIndex(1);
        QCOMPARE(FForm->SelectedNotation(), korvalin::TNotationMode::nmReadable);
        SetEnglish();
        QCOMPARE(FForm->lblNotation->text(), QStringLiteral("Notation"));
        QCOMPARE(FForm->cbNotation->currentText(), QStringLiteral("Readable"));
        QCOMPARE(FForm->cbNotation->itemText(0), QStringLiteral("As played"));

        // Its own section; the history stays as it was.
        korvalin::TIniFile ini;
        ini.LoadFromFile(QFile::encodeName(SettingsFile()).toStdString());
        QCOMPARE(ini.ReadString("Notation", "Mode", ""), std::string("readable"));
        QCOMPARE(Stored().size(), std::size_t{1});

        FForm.reset();
        FForm = std::make_unique<THistoryForm>();
        QCOMPARE(FForm->SelectedNotation(), korvalin::TNotationMode::nmReadable);
        FForm->cbNotation->setCurrentIndex(0);
        QCOMPARE(korvalin::LoadNotationMode(QFile::encodeName(SettingsFile()).toStdString()), std::string("literal"));
        QCOMPARE(Stored().size(), std::size_t{1});
    }

    void switchingLanguageDoesNotStoreTheNotation() {
        SetEnglish();
        FForm->rbRussian->click();
        QVERIFY(!QFile::exists(SettingsFile()));
    }

    void theNotationChoiceReachesTheScore() {
        const QString midi = WriteMidi(QStringLiteral("tune.mid"));
        Open(midi);
        FForm->cbNotation->setCurrentIndex(1);
        const QString score = FFiles->filePath(QStringLiteral("tune.musicxml"));
        QVERIFY(FForm->WriteScoreFile(score));
        korvalin::TMidiFile file;
        file.LoadFromFile(QFile::encodeName(midi).toStdString());
        korvalin::TExportOptions options;
        options.Notation = korvalin::TNotationMode::nmReadable;
        QFile written(score);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll().toStdString(),
                 korvalin::BuildMusicXmlText(file, std::vector<const korvalin::TMidiTrack*>{file.Tracks()[1].get()},
                                             QFile::encodeName(score).toStdString(), 16, options));
    }

    void theGridOffersAutoOnlyForReadableNotationAndTheStatusSaysWhatItDid() {
        Open(WriteMidi(QStringLiteral("tune.mid")));
        QCOMPARE(FForm->cbGrid->count(), 3);
        FForm->cbNotation->setCurrentIndex(1);
        QCOMPARE(FForm->cbGrid->count(), 4);
        QCOMPARE(FForm->cbGrid->itemText(3), QStringLiteral("Авто"));
        FForm->cbGrid->setCurrentIndex(3);
        QVERIFY(FForm->ExportOptions().AutoGrid);
        SetEnglish();
        QCOMPARE(FForm->cbGrid->itemText(3), QStringLiteral("Auto"));
        QCOMPARE(FForm->cbGrid->currentIndex(), 3);

        // One quarter note: the coarsest grid holds it, and nothing moved.
        FForm->SaveAnswer = FFiles->filePath(QStringLiteral("tune.musicxml"));
        FForm->btnExportClick();
        QVERIFY2(FForm->lblStatus->text().endsWith(QStringLiteral(
                     "Readable: grid 1/8 (auto) · tuplets: 0 · notes moved: 0, by at most 0.00 of a quarter")),
                 qPrintable(FForm->lblStatus->text()));

        // As played, the grid list is the three grids again, on 1/16.
        FForm->cbNotation->setCurrentIndex(0);
        QCOMPARE(FForm->cbGrid->count(), 3);
        QCOMPARE(FForm->cbGrid->currentIndex(), 1);
        QVERIFY(!FForm->ExportOptions().AutoGrid);
        FForm->btnExportClick();
        QVERIFY(!FForm->lblStatus->text().contains(QStringLiteral("Readable")));
    }

    void theCorrectionsServeReadableNotationOnlyAndReachTheScore() {
        Open(WriteMidi(QStringLiteral("played.mid"), PlayedFreely()));
        QVERIFY(!FForm->cbMeter->isEnabled());
        FForm->cbNotation->setCurrentIndex(1);
        QVERIFY(FForm->cbMeter->isEnabled() && FForm->edtFirstBeat->isEnabled());
        SetEnglish();

        // A first beat that does not read refuses the export and writes nothing.
        const QString score = FFiles->filePath(QStringLiteral("played.musicxml"));
        FForm->SaveAnswer = score;
        FForm->edtFirstBeat->setText(QStringLiteral("0:5"));
        FForm->btnExportClick();
        QCOMPARE(FForm->Shown.size(), 1);
        QVERIFY2(FForm->Shown.front().contains(QStringLiteral("The first beat")), qPrintable(FForm->Shown.front()));
        QVERIFY(!QFile::exists(score));
        FForm->Shown.clear();

        // A meter given: the score is in it, and the status line says what was found.
        FForm->edtFirstBeat->clear();
        FForm->cbMeter->setCurrentIndex(FForm->cbMeter->findText(QStringLiteral("3/4")));
        FForm->btnExportClick();
        QVERIFY2(FForm->Shown.size() == 1 && FForm->Shown.front().startsWith(QStringLiteral("MusicXML was created")),
                 qPrintable(FForm->Shown.join(QLatin1Char('|'))));
        QVERIFY2(FForm->lblStatus->text().contains(QStringLiteral("played freely: 3/4")),
                 qPrintable(FForm->lblStatus->text()));
        QFile written(score);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll().contains("<beats>3</beats>"));

        // Another file starts from what the stage finds.
        FForm->Shown.clear();
        Open(WriteMidi(QStringLiteral("tune.mid")));
        QCOMPARE(FForm->cbMeter->currentIndex(), 0);
        QVERIFY(FForm->edtFirstBeat->text().isEmpty());
    }

    void withoutAppDataTheConfigFolderIsUsed() {
        QTemporaryDir config;
        const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        qputenv("APPDATA", QByteArray());
        const QString name = TfrmMain::SettingsFileName();
        qputenv("XDG_CONFIG_HOME", oldConfig);
        QCOMPARE(name, config.filePath(QStringLiteral("Velthane/Korvalin/settings.ini")));
    }

    void historyIsStoredAndReadByTheNextWindow() {
        const QString a = WriteMidi(QStringLiteral("a.mid"));
        const QString b = WriteMidi(QStringLiteral("b.mid"));
        Open(a);
        FForm->History().Add(b, true);
        const std::vector<TRecentEntry> expected{Entry(b, true), Entry(a, false)};
        QVERIFY(Stored() == expected);

        FForm.reset();
        FForm = std::make_unique<THistoryForm>();
        QCOMPARE(FForm->History().Entries(), QStringList({QStringLiteral("S\t") + b, QStringLiteral("O\t") + a}));
        QCOMPARE(FForm->History().Path(1), a);
        QVERIFY(FForm->History().Saved(0));
        QVERIFY(!FForm->History().Saved(1));
    }

    void anUnreadableSettingsFileGivesAnEmptyHistorySilently() {
        QDir().mkpath(QFileInfo(SettingsFile()).path());
        QFile file(SettingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\xFF\xFE[\0R\0e\0c\0e\0n\0t\0]\0", 18);
        file.close();
        FForm.reset();
        FForm = std::make_unique<THistoryForm>();
        QVERIFY(FForm->History().Entries().isEmpty());
        QVERIFY(FForm->Shown.isEmpty());
    }

    void aFailedSaveKeepsTheListInMemorySilently() {
        // APPDATA names a file, so the settings folder cannot be created.
        const QString blocker = WriteMidi(QStringLiteral("not-a-folder"));
        qputenv("APPDATA", blocker.toLocal8Bit());
        const QString a = WriteMidi(QStringLiteral("a.mid"));
        Open(a);
        QCOMPARE(FForm->History().Entries(), QStringList{QStringLiteral("O\t") + a});
        QVERIFY(FForm->Shown.isEmpty());
    }

    // --- Adding entries ---

    void onlyFilesOpenedByTheirPathAreRecorded() {
        const QString a = WriteMidi(QStringLiteral("a.mid"));
        FForm->OpenMidiFile(a, QStringLiteral("dropped.mid"));
        QCOMPARE(FForm->FSourceMidiFile, a);
        QVERIFY(FForm->History().Entries().isEmpty());

        FForm->OpenMidiFile(Missing(QStringLiteral("gone.mid")), QString());
        QVERIFY(FForm->History().Entries().isEmpty());

        FForm->History().Add(QString(), false);
        QVERIFY(FForm->History().Entries().isEmpty());
        QVERIFY(!QFileInfo::exists(SettingsFile()));
    }

    void pathsDifferingInAsciiCaseAreOneEntry() {
        // Two distinct files here, one file where the history comes from; the
        // history keeps the rule, and the later spelling.
        const QString lower = WriteMidi(QStringLiteral("Music/a.mid"));
        const QString upper = WriteMidi(QStringLiteral("music/A.MID"));
        const QString other = WriteMidi(QStringLiteral("b.mid"));
        Open(lower);
        Open(other);
        Open(upper);
        QCOMPARE(FForm->History().Entries(),
                 QStringList({QStringLiteral("O\t") + upper, QStringLiteral("O\t") + other}));
        QCOMPARE(Stored().size(), std::size_t{2});
    }

    void otherLettersKeepTheirCase() {
        const QString lower = Missing(QStringLiteral("ä.mid"));
        const QString upper = Missing(QStringLiteral("Ä.mid"));
        FForm->History().Add(lower, false);
        FForm->History().Add(upper, false);
        QCOMPARE(FForm->History().Entries(),
                 QStringList({QStringLiteral("O\t") + upper, QStringLiteral("O\t") + lower}));
    }

    void aSavedFileKeepsItsMarkWhenOpenedAgain() {
        const QString a = WriteMidi(QStringLiteral("a.mid"));
        const QString b = WriteMidi(QStringLiteral("b.mid"));
        Open(a);
        Open(b);
        FForm->History().Add(a, true);  // a new MIDI file written over an opened one
        QCOMPARE(FForm->History().Entries(), QStringList({QStringLiteral("S\t") + a, QStringLiteral("O\t") + b}));
        Open(b);
        Open(a);
        QCOMPARE(FForm->History().Entries(), QStringList({QStringLiteral("S\t") + a, QStringLiteral("O\t") + b}));
        QCOMPARE(MenuActions().at(0)->text(),
                 QStringLiteral("1. [Сохранён] a.mid — ") + QFileInfo(FFiles->path()).fileName());
        QVERIFY(Stored().at(0).Saved);
    }

    void theEleventhFilePushesOutTheOldest() {
        for (int i = 0; i < 11; ++i) FForm->History().Add(Missing(QStringLiteral("f%1.mid").arg(i)), false);
        QCOMPARE(FForm->History().Entries().size(), 10);
        QCOMPARE(FForm->History().Path(0), Missing(QStringLiteral("f10.mid")));
        QCOMPARE(FForm->History().Path(9), Missing(QStringLiteral("f1.mid")));
        QCOMPARE(Stored().size(), std::size_t{10});
        QCOMPARE(Stored().back().Path, Missing(QStringLiteral("f1.mid")).toStdString());
    }

    // --- The menu ---

    void theEmptyMenu() {
        const QList<QAction*> actions = MenuActions();
        QCOMPARE(actions.size(), 4);
        QCOMPARE(actions[0]->text(), QStringLiteral("(список пуст)"));
        QVERIFY(!actions[0]->isEnabled());
        QVERIFY(actions[1]->isSeparator());
        QCOMPARE(actions[2]->text(), QStringLiteral("Удалить недоступные"));
        QVERIFY(!actions[2]->isEnabled());
        QCOMPARE(actions[3]->text(), QStringLiteral("Очистить историю"));
        QVERIFY(!actions[3]->isEnabled());
        QVERIFY(FForm->History().Menu()->toolTipsVisible());
    }

    void itemsNameFileAndFolderAndMarkMissingFiles() {
        const QString present = WriteMidi(QStringLiteral("Bach/fugue.mid"));
        FForm->History().Add(QStringLiteral("/prelude.mid"), true);
        FForm->History().Add(Missing(QStringLiteral("Bach/gone.mid")), false);
        Open(present);

        const QList<QAction*> actions = MenuActions();
        QCOMPARE(actions.size(), 6);
        QCOMPARE(actions[0]->text(), QStringLiteral("1. fugue.mid — Bach"));
        QCOMPARE(actions[0]->toolTip(), present);
        QCOMPARE(actions[0]->data().toInt(), 0);
        QVERIFY(actions[0]->isEnabled());
        QCOMPARE(actions[1]->text(), QStringLiteral("2. gone.mid — Bach (файл не найден)"));
        QVERIFY(!actions[1]->isEnabled());
        QCOMPARE(actions[2]->text(), QStringLiteral("3. [Сохранён] prelude.mid — / (файл не найден)"));
        QCOMPARE(actions[2]->data().toInt(), 2);
        QVERIFY(actions[3]->isSeparator());
        QVERIFY(actions[4]->isEnabled());
        QVERIFY(actions[5]->isEnabled());
    }

    void anAmpersandShowsLiterally() {
        const QString path = WriteMidi(QStringLiteral("Bach & Sons/a&b %1.mid"));
        Open(path);
        QAction* item = MenuActions().at(0);
        QCOMPARE(item->text(), QStringLiteral("1. a&&b %1.mid — Bach && Sons"));
        QCOMPARE(item->toolTip(), path);
    }

    void theMenuFollowsTheLanguage() {
        FForm->History().Add(Missing(QStringLiteral("gone.mid")), true);
        SetEnglish();
        QList<QAction*> actions = MenuActions();
        QCOMPARE(actions[0]->text(),
                 QStringLiteral("1. [Saved] gone.mid — %1 (file not found)").arg(QFileInfo(FFiles->path()).fileName()));
        QCOMPARE(actions[2]->text(), QStringLiteral("Remove unavailable"));
        QCOMPARE(actions[3]->text(), QStringLiteral("Clear history"));

        FForm->History().Clear();
        QCOMPARE(MenuActions().at(0)->text(), QStringLiteral("(list is empty)"));
        FForm->rbRussian->click();
        QCOMPARE(MenuActions().at(0)->text(), QStringLiteral("(список пуст)"));
    }

    void theButtonOpensTheMenuBelowItself() {
        FForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
        QVERIFY(FForm->btnRecent->isEnabled());
        QTest::mouseClick(FForm->btnRecent, Qt::LeftButton);
        QTRY_VERIFY(FForm->History().Menu()->isVisible());
        QCOMPARE(FForm->History().Menu()->pos(), FForm->btnRecent->mapToGlobal(QPoint(0, FForm->btnRecent->height())));
        QCOMPARE(FForm->History().Menu()->actions().at(0)->text(), QStringLiteral("(список пуст)"));
        FForm->History().Menu()->hide();
    }

    // --- Menu commands ---

    void openingFromTheMenuMovesTheEntryToTheTop() {
        const QString a = WriteMidi(QStringLiteral("a.mid"));
        const QString b = WriteMidi(QStringLiteral("b.mid"));
        Open(a);
        FForm->History().Add(b, true);
        MenuActions().at(1)->trigger();
        QVERIFY(FForm->Shown.isEmpty());
        QCOMPARE(FForm->FSourceMidiFile, a);
        QCOMPARE(FForm->edtFileName->text(), a);
        QCOMPARE(FForm->History().Entries(), QStringList({QStringLiteral("O\t") + a, QStringLiteral("S\t") + b}));

        MenuActions().at(1)->trigger();
        QCOMPARE(FForm->FSourceMidiFile, b);
        QCOMPARE(FForm->History().Entries(), QStringList({QStringLiteral("S\t") + b, QStringLiteral("O\t") + a}));
        QVERIFY(Stored().at(0).Saved);
    }

    void aFileThatVanishedAfterTheMenuOpenedIsPassedOver() {
        const QString a = WriteMidi(QStringLiteral("a.mid"));
        const QString b = WriteMidi(QStringLiteral("b.mid"));
        Open(a);
        Open(b);
        FForm->lblStatus->setText(QStringLiteral("before"));
        const QList<QAction*> actions = MenuActions();
        QVERIFY(actions.at(1)->isEnabled());
        QVERIFY(QFile::remove(a));
        actions.at(1)->trigger();
        QVERIFY(FForm->Shown.isEmpty());
        QCOMPARE(FForm->FSourceMidiFile, b);
        QCOMPARE(FForm->lblStatus->text(), QStringLiteral("before"));
        QCOMPARE(FForm->History().Entries(), QStringList({QStringLiteral("O\t") + b, QStringLiteral("O\t") + a}));
    }

    void anItemOpensTheFileItShowsEvenWhenTheListChangedMeanwhile() {
        const QString a = WriteMidi(QStringLiteral("a.mid"));
        const QString b = WriteMidi(QStringLiteral("b.mid"));
        const QString c = WriteMidi(QStringLiteral("c.mid"));
        Open(a);
        Open(b);
        const QList<QAction*> actions = MenuActions();
        Open(c);  // a file dropped on the window while the menu is open
        actions.at(1)->trigger();
        QCOMPARE(FForm->FSourceMidiFile, a);
    }

    void removeUnavailable() {
        const QString a = WriteMidi(QStringLiteral("a.mid"));
        FForm->History().Add(Missing(QStringLiteral("gone1.mid")), true);
        Open(a);
        FForm->History().Add(Missing(QStringLiteral("gone2.mid")), false);
        QAction* remove = MenuAction(QStringLiteral("Удалить недоступные"));
        QVERIFY(remove != nullptr);
        QVERIFY(remove->isEnabled());
        remove->trigger();
        QCOMPARE(FForm->History().Entries(), QStringList{QStringLiteral("O\t") + a});
        QCOMPARE(FForm->lblStatus->text(), QStringLiteral("Недоступные файлы удалены из истории."));
        QVERIFY(Stored() == std::vector<TRecentEntry>{Entry(a, false)});
        QVERIFY(!MenuAction(QStringLiteral("Удалить недоступные"))->isEnabled());

        FForm->History().Add(Missing(QStringLiteral("gone3.mid")), false);
        SetEnglish();
        MenuAction(QStringLiteral("Remove unavailable"))->trigger();
        QCOMPARE(FForm->lblStatus->text(), QStringLiteral("Unavailable files were removed from history."));
    }

    void clearHistory_data() {
        QTest::addColumn<bool>("english");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("status");
        const QString ruQuestion = QStringLiteral("Очистить всю историю MIDI-файлов?");
        const QString enQuestion = QStringLiteral("Clear the entire MIDI file history?");
        QTest::newRow("Russian, yes") << false << true << QStringLiteral("Очистить историю") << ruQuestion
                                      << QStringLiteral("История файлов очищена.");
        QTest::newRow("English, yes") << true << true << QStringLiteral("Clear history") << enQuestion
                                      << QStringLiteral("File history was cleared.");
        QTest::newRow("Russian, no") << false << false << QStringLiteral("Очистить историю") << ruQuestion
                                     << QStringLiteral("before");
        QTest::newRow("English, no") << true << false << QStringLiteral("Clear history") << enQuestion
                                     << QStringLiteral("before");
    }

    void clearHistory() {
        QFETCH(bool, english);
        QFETCH(bool, answer);
        QFETCH(QString, item);
        QFETCH(QString, question);
        QFETCH(QString, status);
        const QString a = WriteMidi(QStringLiteral("a.mid"));
        Open(a);
        FForm->History().Add(Missing(QStringLiteral("gone.mid")), true);
        if (english) SetEnglish();
        FForm->lblStatus->setText(QStringLiteral("before"));
        const QStringList before = FForm->History().Entries();
        FForm->Answer = answer;

        QAction* clear = MenuAction(item);
        QVERIFY(clear != nullptr);
        clear->trigger();
        QCOMPARE(FForm->Questions, QStringList{question});
        QCOMPARE(FForm->lblStatus->text(), status);
        QVERIFY(FForm->Shown.isEmpty());
        if (answer) {
            QVERIFY(FForm->History().Entries().isEmpty());
            QVERIFY(Stored().empty());
            QFile file(SettingsFile());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(file.readAll().contains("Count=0\r\n"));
        } else {
            QCOMPARE(FForm->History().Entries(), before);
            QCOMPARE(Stored().size(), std::size_t{2});
        }
    }
};

KORVALIN_WINDOW_TEST_MAIN(TMainFormHistoryTest)
#include "MainFormHistoryTest.moc"
