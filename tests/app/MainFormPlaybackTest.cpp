// Window tests of the new-key panel and of playback: a real TfrmMain on the
// offscreen platform, playing for real through FluidSynth's `file` driver.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "MainForm.h"
#include "Playback.h"
#include "RecentFiles.h"
#include "WindowTestSupport.h"
#include "MidiBuilder.h"
#include "MidiSequencer.h"
#include "PulseServer.h"
#include "WavReader.h"

using korvalin::test::Bytes;
using korvalin::test::MidiBuilder;

namespace {

// Long enough to tell a hang from a slow machine; never a performance bound.
constexpr int HangMs = 30000;

class TTestForm : public TfrmMain {
public:
    using TfrmMain::FDroppedMidiFile;
    using TfrmMain::FEnglish;
    using TfrmMain::FMidi;
    using TfrmMain::FPlaybackTempFile;
    using TfrmMain::FPreparedPlaybackFile;
    using TfrmMain::FPreviewFile;
    using TfrmMain::FSourceMidiFile;
    using TfrmMain::FTransposedTempFile;
    using TfrmMain::TMessageKind;

    struct TShown {
        TMessageKind Kind;
        QString Text;
    };
    QList<TShown> Shown;
    QStringList SaveAnswers;
    QList<TFileDialog> SaveDialogs;
    korvalin::TSequencerOptions Options;

protected:
    void ShowMessage(TMessageKind kind, const QString& text) override { Shown.append({kind, text}); }
    bool AskQuestion(const QString&) override { return false; }
    QString AskOpenFileName(const TFileDialog&) override { return {}; }
    QString AskSaveFileName(const TFileDialog& dialog) override {
        SaveDialogs.append(dialog);
        return SaveAnswers.isEmpty() ? QString() : SaveAnswers.takeFirst();
    }
    korvalin::TSequencerOptions SequencerOptions() const override { return Options; }
};

// A conductor track with tempo and key, and two parts.
Bytes Duet(int fifths, bool minor, std::uint32_t microsecondsPerQuarter = 500000) {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, microsecondsPerQuarter).TimeSig(0, 4, 2).KeySig(0, fifths, minor).End();
    midi.Track().Name("Flute").Note(0, 480, 0, 72).Note(0, 480, 0, 76).End();
    midi.Track().Name("Cello").Note(0, 960, 1, 48).End();
    return midi.Bytes();
}

// One organ note of `ticks` at 120 BPM (480 ticks are half a second).
Bytes Organ(std::uint32_t ticks, int pitch = 60) {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).KeySig(0, 0, false).End();
    midi.Track().Name("Organ").Program(0, 0, 19).Note(0, ticks, 0, pitch, 100).End();
    return midi.Bytes();
}

// The 16-bit frames of a WAV file the `file` driver wrote.
using korvalin::test::ReadWav;

// About -50 dBFS: above FluidSynth's dither, far below a held organ note.
constexpr int Audible = 100;

}  // namespace

class TMainFormPlaybackTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FFiles;
    // The web engine writes its data folder into the temporary folder of each
    // window even after the window has gone, so those folders live under one
    // folder of the run, removed when the run is over.
    std::unique_ptr<QTemporaryDir> FRun;
    int FTestCount = 0;
    std::unique_ptr<QDir> FTemp;
    std::unique_ptr<QTemporaryDir> FAudio;
    std::unique_ptr<korvalin::test::TTemporaryFolderScope> FTempScope;
    std::unique_ptr<TTestForm> FForm;

    QString WriteMidi(const QString& name, const Bytes& bytes) {
        const QString path = FFiles->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write test file");
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        return path;
    }
    QString AudioFile() const { return FAudio->filePath(QStringLiteral("render.wav")); }
    void SetEnglish() {
        FForm->rbEnglish->click();
        QVERIFY(FForm->FEnglish);
    }
    void SelectKey(const QString& name) {
        const int index = FForm->cbNewKey->findText(name);
        QVERIFY2(index >= 0, qPrintable(name));
        FForm->cbNewKey->setCurrentIndex(index);
    }
    // The four playback buttons, in the order PlayAll, PlayTrack, PlayTransposed, Stop.
    QList<bool> Buttons() const {
        return {FForm->btnPlayAll->isEnabled(), FForm->btnPlayTrack->isEnabled(), FForm->btnPlayTransposed->isEnabled(),
                FForm->btnStop->isEnabled()};
    }
    static void Idle(int ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    // The value of a script expression, read back from the score view's page.
    QVariant Eval(const QString& script) {
        std::optional<QVariant> result;
        FForm->EdgeBrowser()->page()->runJavaScript(script, [&result](const QVariant& value) { result = value; });
        QElapsedTimer clock;
        clock.start();
        while (!result && clock.elapsed() < HangMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return result.value_or(QVariant());
    }
    static QString ReadText(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // Temporary files are made readable and writable by their owner only.
    static bool OwnerOnly(const QString& path) {
        return QFile::permissions(path) ==
               (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
    }
    static korvalin::TMidiFile Load(const QString& path) {
        korvalin::TMidiFile midi;
        midi.LoadFromFile(QFile::encodeName(path).toStdString());
        return midi;
    }

private slots:
    void initTestCase() {
        FRun = std::make_unique<QTemporaryDir>();
        QVERIFY(FRun->isValid());
    }

    void cleanupTestCase() {
        Idle(500);
        FRun.reset();
    }

    void init() {
        FFiles = std::make_unique<QTemporaryDir>();
        const QString temp = FRun->filePath(QStringLiteral("temp-%1").arg(++FTestCount));
        QVERIFY(QDir().mkpath(temp));
        FTemp = std::make_unique<QDir>(temp);
        FAudio = std::make_unique<QTemporaryDir>();
        FTempScope = std::make_unique<korvalin::test::TTemporaryFolderScope>(FTemp->path());
        FForm = std::make_unique<TTestForm>();
        FForm->Options.AudioDriver = QStringLiteral("file");
        FForm->Options.AudioFileName = AudioFile();
    }

    void cleanup() {
        FForm.reset();
        FTempScope.reset();
        FAudio.reset();
        FTemp.reset();
        FFiles.reset();
    }

    // --- The new-key panel ---

    void aMinorFileOffersTheFifteenMinorKeys() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi("e.mid", Duet(1, true)), QString());
        QVERIFY(f.pnlMidiSettings->isEnabled());
        const QStringList minorKeys{"Ab minor", "Eb minor", "Bb minor", "F minor",  "C minor",
                                    "G minor",  "D minor",  "A minor",  "E minor",  "B minor",
                                    "F# minor", "C# minor", "G# minor", "D# minor", "A# minor"};
        QCOMPARE(f.cbNewKey->count(), 15);
        for (int i = 0; i < 15; ++i) QCOMPARE(f.cbNewKey->itemText(i), minorKeys[i]);
        QCOMPARE(f.cbNewKey->currentText(), QStringLiteral("E minor"));
    }

    void shiftIsTheNearestMoveBetweenTheTonics_data() {
        QTest::addColumn<int>("fileFifths");
        QTest::addColumn<bool>("minor");
        QTest::addColumn<QString>("newKey");
        QTest::addColumn<int>("newFifths");
        QTest::addColumn<int>("semitones");
        QTest::newRow("E minor to G minor") << 1 << true << "G minor" << -2 << 3;
        QTest::newRow("E minor to D minor") << 1 << true << "D minor" << -1 << -2;
        QTest::newRow("E minor to itself") << 1 << true << "E minor" << 1 << 0;
        QTest::newRow("C major to B major") << 0 << false << "B major" << 5 << -1;
        QTest::newRow("C major to Db major") << 0 << false << "Db major" << -5 << 1;
        QTest::newRow("C major to Cb major") << 0 << false << "Cb major" << -7 << -1;
        QTest::newRow("C major to F# major") << 0 << false << "F# major" << 6 << 6;
        QTest::newRow("C major to Gb major") << 0 << false << "Gb major" << -6 << 6;
        QTest::newRow("F# major to C major") << 6 << false << "C major" << 0 << -6;
    }

    void shiftIsTheNearestMoveBetweenTheTonics() {
        QFETCH(int, fileFifths);
        QFETCH(bool, minor);
        QFETCH(QString, newKey);
        QFETCH(int, newFifths);
        QFETCH(int, semitones);
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi("song.mid", Duet(fileFifths, minor)), QString());
        SelectKey(newKey);
        f.edtNewTempo->setText(QStringLiteral("90"));
        int fifths = 99;
        int tempo = 0;
        int shift = 99;
        QVERIFY(f.ReadNewKeyAndTempo(fifths, tempo, shift));
        QVERIFY(f.Shown.isEmpty());
        QCOMPARE(fifths, newFifths);
        QCOMPARE(tempo, 90);
        QCOMPARE(shift, semitones);
    }

    void tempoField_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("accepted");  // 0: refused
        QTest::newRow("19") << "19" << 0;
        QTest::newRow("20") << "20" << 20;
        QTest::newRow("400") << "400" << 400;
        QTest::newRow("401") << "401" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("text") << "fast" << 0;
        QTest::newRow("a fraction") << "96.5" << 0;
        QTest::newRow("blanks around") << " 96 " << 96;
        QTest::newRow("a tab and a line break") << "\t96\r\n" << 96;
        QTest::newRow("too big for a number") << "99999999999999999999" << 0;
    }

    void tempoField() {
        QFETCH(QString, text);
        QFETCH(int, accepted);
        TTestForm& f = *FForm;
        SetEnglish();
        f.show();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.OpenMidiFile(WriteMidi("song.mid", Duet(0, false)), QString());
        f.btnOpen->setFocus();
        f.edtNewTempo->setText(text);
        int fifths = 0;
        int tempo = 0;
        int shift = 0;
        const bool ok = f.ReadNewKeyAndTempo(fifths, tempo, shift);
        if (accepted != 0) {
            QVERIFY(ok);
            QCOMPARE(tempo, accepted);
            QVERIFY(f.Shown.isEmpty());
            return;
        }
        QVERIFY(!ok);
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkInformation);
        QCOMPARE(f.Shown[0].Text, QStringLiteral("Enter a tempo from 20 to 400 BPM."));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.edtNewTempo));
    }

    void theTempoFieldTakesDigitsOnly() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi("song.mid", Duet(0, false)), QString());
        f.edtNewTempo->clear();
        QTest::keyClicks(f.edtNewTempo, QStringLiteral("1a2 -3.4"));
        QCOMPARE(f.edtNewTempo->text(), QStringLiteral("1234"));
    }

    void withoutAKeySelectedNothingIsRewritten() {
        TTestForm& f = *FForm;
        SetEnglish();
        f.OpenMidiFile(WriteMidi("song.mid", Duet(0, false)), QString());
        f.cbNewKey->setCurrentIndex(-1);
        f.SaveAnswers << f.FTransposedTempFile;
        f.btnSaveMidiClick();
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Text, QStringLiteral("Could not determine the original key."));
        QVERIFY(f.SaveDialogs.isEmpty());
        QVERIFY(!QFileInfo::exists(f.FTransposedTempFile));
    }

    void proposedTempoRoundsHalvesToTheEvenNeighbour_data() {
        QTest::addColumn<double>("bpm");
        QTest::addColumn<QString>("proposed");
        QTest::newRow("95.5") << 95.5 << "96";
        QTest::newRow("96.5") << 96.5 << "96";
        QTest::newRow("62.5") << 62.5 << "62";
        QTest::newRow("119.6") << 119.6 << "120";
    }

    void proposedTempoRoundsHalvesToTheEvenNeighbour() {
        QFETCH(double, bpm);
        QFETCH(QString, proposed);
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi("song.mid", Duet(0, false)), QString());
        f.FMidi->TempoBPM = bpm;
        f.FillNewKeyControls();
        QCOMPARE(f.edtNewTempo->text(), proposed);
    }

    void aFileAtAnExactHalfTempoProposesTheEvenWholeTempo() {
        // 320000 microseconds per quarter is exactly 187.5 BPM.
        FForm->OpenMidiFile(WriteMidi("song.mid", Duet(0, false, 320000)), QString());
        QCOMPARE(FForm->FMidi->TempoBPM, 187.5);
        QCOMPARE(FForm->edtNewTempo->text(), QStringLiteral("188"));
    }

    void aFileWithoutAKeyLeavesThePanelDisabled() {
        TTestForm& f = *FForm;
        MidiBuilder midi(1, 96);
        midi.Track().Tempo(0, 500000).End();
        f.OpenMidiFile(WriteMidi("silent.mid", midi.Bytes()), QString());
        QVERIFY(!f.FMidi->HasKeySignature);
        QVERIFY(!f.FMidi->KeyWasEstimated);
        QVERIFY(!f.pnlMidiSettings->isEnabled());
        QCOMPARE(f.cbNewKey->currentIndex(), -1);
        QVERIFY(!f.btnPlayTransposed->isEnabled());
    }

    void suggestedNames_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<int>("fileFifths");
        QTest::addColumn<bool>("minor");
        QTest::addColumn<QString>("newKey");
        QTest::addColumn<QString>("tempo");
        QTest::addColumn<QString>("suggested");
        QTest::newRow("F# major") << "song.mid"
                                  << "" << 0 << false << "F# major"
                                  << "140"
                                  << "song_140BPM_F-sharp-major.mid";
        QTest::newRow("D minor") << "song.mid"
                                 << "" << 1 << true << "D minor"
                                 << "96"
                                 << "song_96BPM_D-minor.mid";
        QTest::newRow("Bb major, two dots") << "my.song.midi"
                                            << "" << 0 << false << "Bb major"
                                            << "60"
                                            << "my.song_60BPM_Bb-major.mid";
        QTest::newRow("display name") << "Korvalin-drop-1.mid"
                                      << "waltz.mid" << 3 << true << "C# minor"
                                      << "200"
                                      << "waltz_200BPM_C-sharp-minor.mid";
        QTest::newRow("percent signs in the name") << "a%2%1.mid"
                                                   << "" << -1 << true << "D minor"
                                                   << "96"
                                                   << "a%2%1_96BPM_D-minor.mid";
        QTest::newRow("nothing left of the name") << ".mid"
                                                  << "" << 0 << false << "C major"
                                                  << "120"
                                                  << "Korvalin_120BPM_C-major.mid";
    }

    void suggestedNames() {
        QFETCH(QString, fileName);
        QFETCH(QString, displayName);
        QFETCH(int, fileFifths);
        QFETCH(bool, minor);
        QFETCH(QString, newKey);
        QFETCH(QString, tempo);
        QFETCH(QString, suggested);
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi(fileName, Duet(fileFifths, minor)), displayName);
        SelectKey(newKey);
        f.edtNewTempo->setText(tempo);
        f.btnSaveMidi->click();
        QCOMPARE(f.SaveDialogs.size(), 1);
        QCOMPARE(f.SaveDialogs[0].FileName, suggested);
        QCOMPARE(f.SaveDialogs[0].DefaultExt, QStringLiteral("mid"));
        QVERIFY(f.SaveDialogs[0].OverwritePrompt);
        QCOMPARE(f.SaveDialogs[0].InitialDir, QFileInfo(f.FSourceMidiFile).absolutePath());
        // Cancelled: nothing is written, nothing is said.
        QVERIFY(f.Shown.isEmpty());
        QCOMPARE(QDir(FFiles->path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void aDroppedFileNeverProposesTheTemporaryFolder() {
        TTestForm& f = *FForm;
        const QString own = WriteMidi("own.mid", Duet(0, false));
        // A score-view drop loads its temporary copy under the dropped name.
        f.FDroppedMidiFile = QDir(FTemp->path()).filePath(QStringLiteral("Korvalin-drop.mid"));
        QVERIFY(QFile::copy(own, f.FDroppedMidiFile));
        f.OpenMidiFile(f.FDroppedMidiFile, QStringLiteral("dropped.mid"));
        f.btnSaveMidi->click();
        QCOMPARE(f.SaveDialogs.last().FileName, QStringLiteral("dropped_120BPM_C-major.mid"));
        QVERIFY(f.SaveDialogs.last().InitialDir.isEmpty());

        // After a file of the user's own, the folder stays where it was.
        f.OpenMidiFile(own, QString());
        f.btnSaveMidi->click();
        QCOMPARE(f.SaveDialogs.last().InitialDir, FFiles->path());
        f.OpenMidiFile(f.FDroppedMidiFile, QStringLiteral("dropped.mid"));
        f.btnSaveMidi->click();
        QCOMPARE(f.SaveDialogs.last().InitialDir, FFiles->path());
        QVERIFY(f.Shown.isEmpty());
    }

    void savingWritesTheNewFileAndLeavesTheWindowAsItWas() {
        TTestForm& f = *FForm;
        SetEnglish();
        const QString source = WriteMidi("song.mid", Duet(0, false));
        f.OpenMidiFile(source, QString());
        const QString keyLabel = f.lblKeySignature->text();
        SelectKey(QStringLiteral("D major"));
        f.edtNewTempo->setText(QStringLiteral("96"));
        const QString target = FFiles->filePath(QStringLiteral("song_96BPM_D-major.mid"));
        f.SaveAnswers << target;
        f.btnSaveMidi->click();

        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkInformation);
        QCOMPARE(f.Shown[0].Text, "MIDI saved successfully:\n" + target);
        QCOMPARE(f.lblStatus->text(), "New MIDI saved: " + target);
        const korvalin::TMidiFile saved = Load(target);
        QCOMPARE(saved.KeyFifths, 2);
        QVERIFY(!saved.KeyMinor);
        QCOMPARE(saved.TempoBPM, 96.0);
        QCOMPARE(saved.Tracks()[1]->Notes()[0].Pitch, 74);
        QCOMPARE(f.FSourceMidiFile, source);
        QCOMPARE(f.edtFileName->text(), source);
        QCOMPARE(f.lblKeySignature->text(), keyLabel);
        // The new file heads the history as a saved one, above the opened source.
        QCOMPARE(f.History().Path(0), target);
        QVERIFY(f.History().Saved(0));
        QCOMPARE(f.History().Path(1), source);
        QVERIFY(!f.History().Saved(1));
    }

    void savingOverTheSourceFileKeepsShowingTheOldContent() {
        TTestForm& f = *FForm;
        SetEnglish();
        const QString source = WriteMidi("song.mid", Duet(1, true));
        f.OpenMidiFile(source, QString());
        SelectKey(QStringLiteral("G minor"));
        f.edtNewTempo->setText(QStringLiteral("80"));
        f.SaveAnswers << source;
        f.btnSaveMidi->click();

        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Text, "MIDI saved successfully:\n" + source);
        const korvalin::TMidiFile saved = Load(source);
        QCOMPARE(saved.KeyFifths, -2);
        QVERIFY(saved.KeyMinor);
        QCOMPARE(saved.TempoBPM, 80.0);
        QCOMPARE(saved.Tracks()[1]->Notes()[0].Pitch, 75);  // C5 up a minor third
        // The window still shows the file as it was loaded.
        QCOMPARE(f.FMidi->KeyFifths, 1);
        QCOMPARE(f.FMidi->TempoBPM, 120.0);
        QCOMPARE(f.lblKeySignature->text(), QStringLiteral("Key: E minor (from file)"));
        QCOMPARE(f.lvTracks->topLevelItem(0)->text(3), QStringLiteral("C5 – E5"));
        QCOMPARE(f.cbNewKey->currentText(), QStringLiteral("G minor"));
        QCOMPARE(f.edtNewTempo->text(), QStringLiteral("80"));
    }

    void aFailedSaveIsReportedAndWritesNothing() {
        TTestForm& f = *FForm;
        SetEnglish();
        f.OpenMidiFile(WriteMidi("song.mid", Duet(0, false)), QString());
        const QString status = f.lblStatus->text();
        const QString target = FFiles->filePath(QStringLiteral("no-such-folder/new.mid"));
        f.SaveAnswers << target;
        f.btnSaveMidi->click();
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkError);
        QVERIFY2(f.Shown[0].Text.startsWith(QStringLiteral("Could not save MIDI:\n")), qPrintable(f.Shown[0].Text));
        QVERIFY(f.Shown[0].Text.size() > QStringLiteral("Could not save MIDI:\n").size());
        QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(f.lblStatus->text(), status);
    }

    void russianTextsOfTheSave() {
        TTestForm& f = *FForm;
        const QString source = WriteMidi("song.mid", Duet(0, false));
        f.OpenMidiFile(source, QString());
        const QString target = FFiles->filePath(QStringLiteral("new.mid"));
        f.SaveAnswers << target;
        f.btnSaveMidi->click();
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Text, "MIDI успешно сохранён:\n" + target);
        QCOMPARE(f.lblStatus->text(), "Новый MIDI сохранён: " + target);
        f.edtNewTempo->setText(QStringLiteral("500"));
        f.btnSaveMidi->click();
        QCOMPARE(f.Shown.last().Text, QStringLiteral("Введите темп от 20 до 400 BPM."));
    }

    // --- The transposed preview ---

    void theTransposedPreviewShowsTheTickedPartsInTheNewKey() {
        TTestForm& f = *FForm;
        SetEnglish();
        f.OpenMidiFile(WriteMidi("song.mid", Duet(1, true)), QString());
        // The user's name and clef for the flute; the cello is left out.
        f.edtPartName->setText(QStringLiteral("Melody"));
        f.cbClef->setCurrentIndex(static_cast<int>(korvalin::TClefMode::cmBass));
        f.lvTracks->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
        SelectKey(QStringLiteral("G minor"));
        f.edtNewTempo->setText(QStringLiteral("80"));
        QTRY_VERIFY_WITH_TIMEOUT(f.FViewerReady(), HangMs);
        f.btnPreviewTransposed->click();

        QVERIFY(f.Shown.isEmpty());
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Showing transposed score: 80 BPM · G minor"));
        const QString xml = ReadText(f.FPreviewFile);
        QCOMPARE(xml.count(QStringLiteral("<score-part ")), 1);
        QVERIFY(xml.contains(QStringLiteral("<part-name>Melody</part-name>")));
        QVERIFY(OwnerOnly(f.FPreviewFile));
        QVERIFY(!xml.contains(QStringLiteral("Cello")));
        QVERIFY(!xml.contains(QStringLiteral("Flute")));
        QVERIFY(xml.contains(QStringLiteral("<fifths>-2</fifths>")));
        QVERIFY(xml.contains(QStringLiteral("<mode>minor</mode>")));
        QVERIFY(xml.contains(QStringLiteral("<sign>F</sign>")));
        QVERIFY(!xml.contains(QStringLiteral("<sign>G</sign>")));
        // C5 and E5 a minor third up, spelt with sharps as every score is.
        QVERIFY(xml.contains(
            QRegularExpression(QStringLiteral("<step>D</step>\\s*<alter>1</alter>\\s*<octave>5</octave>"))));
        QVERIFY(xml.contains(QRegularExpression(QStringLiteral("<step>G</step>\\s*<octave>5</octave>"))));

        // The page drew it, in the window's language: the one part, under
        // the new tempo.
        QTRY_COMPARE_WITH_TIMEOUT(Eval(QStringLiteral("document.getElementById('message').textContent")).toString(),
                                  QStringLiteral("The score is ready."), HangMs);
        const QString drawn =
            Eval(
                QStringLiteral("Array.from(document.querySelectorAll('#score svg')).map(s => s.textContent).join('|')"))
                .toString();
        QVERIFY2(drawn.contains(QStringLiteral("= 80")), qPrintable(drawn));
        // One staff of one measure, and a key signature of two accidentals.
        QCOMPARE(Eval(QStringLiteral("document.querySelectorAll('#score svg .vf-measure').length")).toInt(), 1);
        QCOMPARE(Eval(QStringLiteral("[...document.querySelectorAll('#score svg .vf-keysignature')]"
                                     ".map(k => k.querySelectorAll('path').length).join(',')"))
                     .toString(),
                 QStringLiteral("2"));

        // The loaded file, its rows and the user's settings are as they were.
        QCOMPARE(f.FMidi->KeyFifths, 1);
        QCOMPARE(f.lvTracks->topLevelItem(0)->text(1), QStringLiteral("Melody"));
        QCOMPARE(f.lvTracks->topLevelItem(0)->text(3), QStringLiteral("C5 – E5"));
        QCOMPARE(f.lvTracks->topLevelItem(1)->checkState(0), Qt::Unchecked);
        QCOMPARE(f.lblKeySignature->text(), QStringLiteral("Key: E minor (from file)"));
    }

    void theTransposedPreviewRefusesWhatItCannotShow() {
        TTestForm& f = *FForm;
        SetEnglish();
        const QString path = WriteMidi("song.mid", Duet(0, false));
        f.OpenMidiFile(path, QString());
        f.btnSelectNone->click();
        f.btnPreviewTransposed->click();
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkInformation);
        QCOMPARE(f.Shown[0].Text, QStringLiteral("Select at least one musical track."));
        QVERIFY(!QFileInfo::exists(f.FPreviewFile));

        f.btnSelectAll->click();
        f.edtNewTempo->setText(QStringLiteral("10"));
        f.btnPreviewTransposed->click();
        QCOMPARE(f.Shown.size(), 2);
        QCOMPARE(f.Shown[1].Text, QStringLiteral("Enter a tempo from 20 to 400 BPM."));

        f.edtNewTempo->setText(QStringLiteral("100"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("RIFF not a MIDI file");
        }
        const QString status = f.lblStatus->text();
        f.btnPreviewTransposed->click();
        QCOMPARE(f.Shown.size(), 3);
        QCOMPARE(f.Shown[2].Kind, TTestForm::TMessageKind::mkError);
        QVERIFY2(f.Shown[2].Text.startsWith(QStringLiteral("Could not show the transposed score:\n")),
                 qPrintable(f.Shown[2].Text));
        QCOMPARE(f.lblStatus->text(), status);
        QVERIFY(!QFileInfo::exists(f.FPreviewFile));
    }

    // --- Playback ---

    void buttonsFollowTheState() {
        TTestForm& f = *FForm;
        SetEnglish();
        const QList<bool> closedWithFile{true, true, true, false};
        const QList<bool> playing{false, false, false, true};
        QCOMPARE(Buttons(), (QList<bool>{false, false, false, false}));

        const QString path = WriteMidi("long.mid", Organ(9600));
        f.OpenMidiFile(path, QString());
        QCOMPARE(Buttons(), closedWithFile);

        f.btnPlayAll->click();
        QVERIFY(f.Shown.isEmpty());
        QVERIFY(f.Playback().IsOpen());
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Playing: entire MIDI file"));
        QCOMPARE(Buttons(), playing);

        f.btnStop->click();
        QVERIFY(!f.Playback().IsOpen());
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Playback stopped."));
        QCOMPARE(Buttons(), closedWithFile);
        // The stopped device's end changes nothing.
        Idle(1000);
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Playback stopped."));
        QCOMPARE(Buttons(), closedWithFile);

        // Stop when nothing plays says nothing.
        f.lblStatus->setText(QStringLiteral("unchanged"));
        f.btnStopClick();
        QCOMPARE(f.lblStatus->text(), QStringLiteral("unchanged"));

        // A file deleted since it was loaded: clicking does nothing, the next
        // refresh disables the button.
        QVERIFY(QFile::remove(path));
        f.btnPlayAll->click();
        QVERIFY(!f.Playback().IsOpen());
        QVERIFY(f.Shown.isEmpty());
        QCOMPARE(f.lblStatus->text(), QStringLiteral("unchanged"));
        f.UpdatePlaybackButtons();
        QCOMPARE(Buttons(), (QList<bool>{false, true, true, false}));

        // A failed load leaves nothing to play.
        f.OpenMidiFile(path, QString());
        QCOMPARE(Buttons(), (QList<bool>{false, false, false, false}));
    }

    void aPlayThatEndsReportsItsEndAndSoundsAfterTheLeadIn() {
        TTestForm& f = *FForm;
        SetEnglish();
        // Half a second of organ at 120 BPM.
        f.OpenMidiFile(WriteMidi("short.mid", Organ(480)), QString());
        f.btnPlayAll->click();
        QVERIFY(f.Playback().IsOpen());
        QTRY_COMPARE_WITH_TIMEOUT(f.lblStatus->text(), QStringLiteral("Playback finished."), HangMs);
        QVERIFY(!f.Playback().IsOpen());
        QCOMPARE(Buttons(), (QList<bool>{true, true, true, false}));
        QVERIFY(f.Shown.isEmpty());

        // The device played the prepared copy: a sixteenth (0.125 s) of
        // silence, then the note.
        const auto render = ReadWav(AudioFile());
        QVERIFY(render.has_value());
        const auto onsetFrame = render->FirstFrameAtLeast(Audible);
        const auto lastFrame = render->LastFrameAtLeast(Audible);
        QVERIFY(onsetFrame.has_value() && lastFrame.has_value());
        const double onset = render->Seconds(*onsetFrame);
        const double last = render->Seconds(*lastFrame);
        QVERIFY2(onset >= 0.12, qPrintable(QString::number(onset)));
        QVERIFY2(onset <= 0.5, qPrintable(QString::number(onset)));
        QVERIFY2(last - onset >= 0.4, qPrintable(QString::number(last - onset)));
    }

    // On a desktop the window plays through the sound server: a server of the
    // test's own, with a null sink whose monitor is recorded.
    void aPlayReachesTheDesktopsSoundServer() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        korvalin::test::TPulseServer server(folder.path());
        if (!server.Started())
            QSKIP(qPrintable(QStringLiteral("PulseAudio could not be started here: ") + server.Error()));
        struct TRestore {
            QByteArray Old = qgetenv("PULSE_SERVER");
            ~TRestore() { Old.isEmpty() ? qunsetenv("PULSE_SERVER") : qputenv("PULSE_SERVER", Old); }
        } restore;
        qputenv("PULSE_SERVER", server.Address());
        TTestForm& f = *FForm;
        f.Options = {};
        SetEnglish();
        QVERIFY(server.StartRecording());
        f.OpenMidiFile(WriteMidi("short.mid", Organ(480)), QString());
        f.btnPlayAll->click();
        QVERIFY(f.Shown.isEmpty());
        QVERIFY(f.Playback().IsOpen());
        QCOMPARE(f.Playback().Sequencer()->AudioDriverInUse(), QStringLiteral("pulseaudio"));
        QTRY_COMPARE_WITH_TIMEOUT(f.lblStatus->text(), QStringLiteral("Playback finished."), HangMs);
        const int peak = server.StopRecordingAndPeak();
        QVERIFY2(peak >= Audible, qPrintable(QString::number(peak)));
    }

    void playingWithNewSettingsPlaysTheRewrittenFile() {
        TTestForm& f = *FForm;
        SetEnglish();
        f.OpenMidiFile(WriteMidi("song.mid", Duet(1, true)), QString());
        SelectKey(QStringLiteral("D minor"));
        f.edtNewTempo->setText(QStringLiteral("96"));
        f.btnPlayTransposed->click();
        QVERIFY(f.Shown.isEmpty());
        QVERIFY(f.Playback().IsOpen());
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Playing: 96 BPM · D minor"));

        const korvalin::TMidiFile rewritten = Load(f.FTransposedTempFile);
        QCOMPARE(rewritten.KeyFifths, -1);
        QVERIFY(rewritten.KeyMinor);
        QCOMPARE(rewritten.TempoBPM, 96.0);
        QCOMPARE(rewritten.Tracks()[1]->Notes()[0].Pitch, 70);
        // The device opened the prepared copy of the rewritten file.
        const korvalin::TMidiFile prepared = Load(f.FPreparedPlaybackFile);
        QCOMPARE(prepared.Tracks()[1]->Notes()[0].StartTick, std::int64_t{120});
        QCOMPARE(prepared.Tracks()[1]->Notes()[0].Pitch, 70);
        QVERIFY(OwnerOnly(f.FTransposedTempFile));
        QVERIFY(OwnerOnly(f.FPreparedPlaybackFile));
        // The loaded file is left as it was.
        QCOMPARE(f.FMidi->KeyFifths, 1);
        f.btnStop->click();
    }

    void playingWithNewSettingsInRussianAndItsRefusals() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi("song.mid", Duet(0, false)), QString());
        SelectKey(QStringLiteral("F# major"));
        f.edtNewTempo->setText(QStringLiteral("140"));
        f.btnPlayTransposed->click();
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Воспроизведение: 140 BPM · F# major"));
        f.btnStop->click();
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Воспроизведение остановлено."));

        f.edtNewTempo->setText(QString());
        f.btnPlayTransposed->click();
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Text, QStringLiteral("Введите темп от 20 до 400 BPM."));
        QVERIFY(!f.Playback().IsOpen());
    }

    void aRewriteThatFailsIsReportedOnItsOwnPath() {
        TTestForm& f = *FForm;
        SetEnglish();
        const QString path = WriteMidi("song.mid", Duet(0, false));
        f.OpenMidiFile(path, QString());
        // Changed on disk since it was loaded: the rewriter refuses it.
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("MThd not a MIDI file");
        }
        f.btnPlayTransposed->click();
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkError);
        QVERIFY2(f.Shown[0].Text.startsWith(QStringLiteral("Could not prepare the MIDI for playback:\n")),
                 qPrintable(f.Shown[0].Text));
        QVERIFY(!f.Playback().IsOpen());

        f.btnPlayAll->click();
        QCOMPARE(f.Shown.size(), 2);
        QVERIFY2(f.Shown[1].Text.startsWith(QStringLiteral("Could not prepare MIDI for playback:\n")),
                 qPrintable(f.Shown[1].Text));
        QVERIFY(!f.Playback().IsOpen());
        QCOMPARE(Buttons(), (QList<bool>{true, true, true, false}));
    }

    void anOpenThatFailsLeavesThePlayerClosed() {
        TTestForm& f = *FForm;
        SetEnglish();
        f.Options.SoundFontFile = FFiles->filePath(QStringLiteral("missing.sf2"));
        f.OpenMidiFile(WriteMidi("song.mid", Duet(0, false)), QString());
        const QString status = f.lblStatus->text();
        f.btnPlayAll->click();
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkError);
        QCOMPARE(f.Shown[0].Text,
                 "Could not open MIDI for playback:\n" + korvalin::MidiSequencer::ErrorText(korvalin::srNoSoundFont));
        QVERIFY(!f.Playback().IsOpen());
        QCOMPARE(f.lblStatus->text(), status);
        QCOMPARE(Buttons(), (QList<bool>{true, true, true, false}));
    }

    void theSelectedPartPlaysAlone() {
        TTestForm& f = *FForm;
        SetEnglish();
        f.OpenMidiFile(WriteMidi("song.mid", Duet(0, false)), QString());
        f.lvTracks->setCurrentItem(f.lvTracks->topLevelItem(1));
        f.edtPartName->setText(QStringLiteral("Bass line"));
        f.btnPlayTrackClick();
        QVERIFY(f.Shown.isEmpty());
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Playing: part \"Bass line\""));
        const korvalin::TMidiFile part = Load(f.FPlaybackTempFile);
        int withNotes = 0;
        for (const auto& track : part.Tracks())
            if (!track->Notes().empty()) ++withNotes;
        QCOMPARE(withNotes, 1);
        QVERIFY(OwnerOnly(f.FPlaybackTempFile));
        f.btnStop->click();

        f.rbRussian->click();
        f.btnPlayTrackClick();
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Воспроизведение: партия «Bass line»"));
        f.btnStop->click();

        f.lvTracks->clearSelection();
        f.btnPlayTrackClick();
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkInformation);
        QCOMPARE(f.Shown[0].Text, QStringLiteral("Выберите одну партию в списке дорожек."));
    }

    void endNotifications_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("status");
        QTest::newRow("successful") << int{korvalin::ncSuccessful} << "Playback finished.";
        QTest::newRow("failure") << int{korvalin::ncFailure} << "An error occurred during MIDI playback.";
        QTest::newRow("aborted") << int{korvalin::ncAborted} << "Playing: entire MIDI file";
        QTest::newRow("superseded") << int{korvalin::ncSuperseded} << "Playing: entire MIDI file";
    }

    void endNotifications() {
        QFETCH(int, code);
        QFETCH(QString, status);
        TTestForm& f = *FForm;
        SetEnglish();
        f.OpenMidiFile(WriteMidi("long.mid", Organ(9600)), QString());
        f.btnPlayAll->click();
        QVERIFY(f.Playback().IsOpen());
        f.MMMciNotify(code, 0);
        QVERIFY(!f.Playback().IsOpen());
        QCOMPARE(f.lblStatus->text(), status);
        QCOMPARE(Buttons(), (QList<bool>{true, true, true, false}));
        // Once closed, a late notification is ignored.
        f.lblStatus->setText(QStringLiteral("later"));
        f.MMMciNotify(korvalin::ncSuccessful, 0);
        QCOMPARE(f.lblStatus->text(), QStringLiteral("later"));
        Idle(300);
        QCOMPARE(f.lblStatus->text(), QStringLiteral("later"));
    }

    void openingAnotherFileStopsWithoutAStatusMessage() {
        TTestForm& f = *FForm;
        SetEnglish();
        f.OpenMidiFile(WriteMidi("long.mid", Organ(9600)), QString());
        f.btnPlayAll->click();
        QVERIFY(f.Playback().IsOpen());
        f.OpenMidiFile(WriteMidi("song.mid", Duet(0, false)), QString());
        QVERIFY(!f.Playback().IsOpen());
        QVERIFY(f.Shown.isEmpty());
        const QString loaded = QStringLiteral("Format 1 · PPQN 480 · time 4/4 · parts: 2 · service tracks: 1");
        QCOMPARE(f.lblStatus->text(), loaded);
        QCOMPARE(Buttons(), (QList<bool>{true, true, true, false}));
        Idle(1000);
        QCOMPARE(f.lblStatus->text(), loaded);

        // The next play starts afresh.
        f.btnPlayAll->click();
        QVERIFY(f.Playback().IsOpen());
        QTRY_COMPARE_WITH_TIMEOUT(f.lblStatus->text(), QStringLiteral("Playback finished."), HangMs);
    }

    void closingTheWindowWhilePlayingStopsAndDeletesTheTemporaryFiles() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi("long.mid", Organ(9600)), QString());
        SelectKey(QStringLiteral("D major"));
        f.btnPlayTransposed->click();
        QVERIFY(f.Playback().IsOpen());
        QVERIFY(QFileInfo::exists(f.FPreparedPlaybackFile));
        QVERIFY(QFileInfo::exists(f.FTransposedTempFile));
        Idle(500);
        QElapsedTimer clock;
        clock.start();
        FForm.reset();
        QVERIFY(clock.elapsed() < HangMs);
        QCOMPARE(QDir(FTemp->path()).entryList(QDir::Files).size(), 0);

        // The sound ended with the window, long before the ten-second note would have.
        const auto render = ReadWav(AudioFile());
        QVERIFY(render.has_value());
        const auto lastFrame = render->LastFrameAtLeast(Audible);
        QVERIFY(lastFrame.has_value());
        QVERIFY2(render->Seconds(*lastFrame) < 5.0, qPrintable(QString::number(render->Seconds(*lastFrame))));
    }
};

KORVALIN_WINDOW_TEST_MAIN(TMainFormPlaybackTest)
#include "MainFormPlaybackTest.moc"
