// Window tests of Save audio and the choice of SoundFont: a real TfrmMain on
// the offscreen platform, rendering for real through FluidSynth.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <memory>
#include <vector>

#include "AudioProbe.h"
#include "MainForm.h"
#include "StandInViewer.h"
#include "MidiBuilder.h"
#include "MidiSequencer.h"
#include "SoundFonts.h"
#include "WavReader.h"
#include "WindowTestSupport.h"

using korvalin::test::Bytes;
using korvalin::test::MidiBuilder;

namespace {

// Audio files are not the engine's business: the viewer is a stand-in.
class TTestForm : public TfrmMain {
public:
    TTestForm() : TfrmMain(nullptr, TStandInViewer::Factory()) {}
    using TfrmMain::FSoundFontFile;
    using TfrmMain::SequencerOptions;

    QStringList Shown;
    QStringList SaveAnswers;
    QStringList OpenAnswers;
    QList<TFileDialog> SaveDialogs;

protected:
    void ShowMessage(TMessageKind, const QString& text) override { Shown.append(text); }
    bool AskQuestion(const QString&) override { return false; }
    QString AskOpenFileName(const TFileDialog&) override {
        return OpenAnswers.isEmpty() ? QString() : OpenAnswers.takeFirst();
    }
    QString AskSaveFileName(const TFileDialog& dialog) override {
        SaveDialogs.append(dialog);
        return SaveAnswers.isEmpty() ? QString() : SaveAnswers.takeFirst();
    }
};

// One flute note (its fundamental is the spectrum's peak) of `seconds` at
// 120 BPM in A minor.
Bytes Flute(int seconds, int pitch = 69) {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).KeySig(0, 0, true).End();
    midi.Track()
        .Name("Flute")
        .Program(0, 0, 73)
        .Note(0, static_cast<std::uint32_t>(960 * seconds), 0, pitch, 100)
        .End();
    return midi.Bytes();
}

// The strongest frequency half a second into a WAV file.
double PitchHz(const QString& wav) {
    const auto render = korvalin::test::ReadWav(wav);
    if (!render) return 0;
    std::vector<double> mono;
    const auto first = static_cast<std::size_t>(render->Rate) / 2;
    for (std::size_t f = first; f < first + static_cast<std::size_t>(render->Rate) / 2 && f < render->Frames(); ++f)
        mono.push_back(render->Samples[f * static_cast<std::size_t>(render->Channels)]);
    return korvalin::test::PeakFrequency(mono, render->Rate);
}

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write test file");
    file.write(bytes);
}

}  // namespace

class TMainFormAudioTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FFiles;
    std::unique_ptr<QTemporaryDir> FRun;
    std::unique_ptr<QTemporaryDir> FSettings;
    std::unique_ptr<korvalin::test::TTemporaryFolderScope> FTempScope;
    std::unique_ptr<TTestForm> FForm;
    int FTestCount = 0;

    QString WriteMidi(const QString& name, const Bytes& bytes) {
        const QString path = FFiles->filePath(name);
        WriteFile(path, QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
        return path;
    }

private slots:
    void initTestCase() {
        FRun = std::make_unique<QTemporaryDir>();
        QVERIFY(FRun->isValid());
        if (korvalin::DefaultSoundFontFile().empty()) QSKIP("no General MIDI SoundFont installed");
    }

    void cleanupTestCase() { FRun.reset(); }

    void init() {
        FFiles = std::make_unique<QTemporaryDir>();
        FSettings = std::make_unique<QTemporaryDir>();
        qputenv("APPDATA", QFile::encodeName(FSettings->path()));
        const QString temp = FRun->filePath(QStringLiteral("temp-%1").arg(++FTestCount));
        QVERIFY(QDir().mkpath(temp));
        FTempScope = std::make_unique<korvalin::test::TTemporaryFolderScope>(temp);
        FForm = std::make_unique<TTestForm>();
        FForm->rbEnglish->click();
    }

    void cleanup() {
        FForm.reset();
        FTempScope.reset();
        FSettings.reset();
        FFiles.reset();
    }

    void savesTheOriginalAndTheNewKeyAsPlayed() {
        TTestForm& f = *FForm;
        QVERIFY(!f.btnSaveAudio->isEnabled());
        // A5: five semitones down the flute still sounds its fundamental strongest.
        f.OpenMidiFile(WriteMidi("flute.mid", Flute(3, 81)), QString());
        QVERIFY(f.btnSaveAudio->isEnabled());

        const QString original = FFiles->filePath(QStringLiteral("original.flac"));
        f.SaveAnswers << original;
        f.actSaveAudioOriginal->trigger();
        QCOMPARE(f.SaveDialogs.last().FileName, QStringLiteral("flute.wav"));
        QVERIFY2(f.Shown.isEmpty(), qPrintable(f.Shown.join(QLatin1Char('\n'))));
        const auto seconds = korvalin::test::SoxiSeconds(QFile::encodeName(original).toStdString());
        QVERIFY(seconds.has_value());
        QVERIFY2(std::abs(*seconds - 4.0) < 4.0 * 0.02, qPrintable(QString::number(*seconds)));
        QVERIFY(f.lblStatus->text().startsWith(QStringLiteral("Audio saved: ")));

        // E minor is the nearest move from A minor, five semitones down; at 60 BPM, twice as long.
        f.cbNewKey->setCurrentIndex(f.cbNewKey->findText(QStringLiteral("E minor")));
        f.edtNewTempo->setText(QStringLiteral("60"));
        const QString moved = FFiles->filePath(QStringLiteral("moved.wav"));
        f.SaveAnswers << moved;
        f.actSaveAudioTransposed->trigger();
        QCOMPARE(f.SaveDialogs.last().FileName, QStringLiteral("flute_60BPM_E-minor.wav"));
        QVERIFY2(f.Shown.isEmpty(), qPrintable(f.Shown.join(QLatin1Char('\n'))));
        const QString plain = FFiles->filePath(QStringLiteral("plain.wav"));
        f.SaveAnswers << plain;
        f.actSaveAudioOriginal->trigger();
        const double from = PitchHz(plain);
        const double to = PitchHz(moved);
        QVERIFY2(std::abs(from - 880.0) < 880.0 * 0.01, qPrintable(QString::number(from)));
        // In semitones, within a third of one (the SoundFont's samples are tuned each a little apart).
        QVERIFY2(std::abs(12 * std::log2(to / from) + 5.0) < 0.3,
                 qPrintable(QStringLiteral("%1 Hz to %2 Hz").arg(from).arg(to)));
        QVERIFY(std::abs(korvalin::test::SoxiSeconds(QFile::encodeName(moved).toStdString()).value_or(0) - 7.0) < 0.14);
    }

    void aCancelOrAWrongNameLeavesTheExistingFileAsItWas() {
        TTestForm& f = *FForm;
        // Long enough that the cancel comes while the rendering runs.
        f.OpenMidiFile(WriteMidi("long.mid", Flute(600)), QString());
        const QString target = FFiles->filePath(QStringLiteral("kept.ogg"));
        WriteFile(target, "the user's old file");
        const QStringList before = QDir(FFiles->path()).entryList(QDir::Files);

        bool cancelled = false;
        QTimer driver;
        connect(&driver, &QTimer::timeout, this, [&] {
            if (auto* progress = f.findChild<QProgressDialog*>(QStringLiteral("AudioProgress"));
                progress != nullptr && progress->value() > 0 && !cancelled) {
                cancelled = true;
                progress->cancel();
            }
        });
        driver.start(10);
        f.SaveAnswers << target;
        f.actSaveAudioOriginal->trigger();
        driver.stop();
        QVERIFY(cancelled);
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Writing the audio was cancelled."));
        QVERIFY(f.Shown.isEmpty());
        QVERIFY(f.findChild<QProgressDialog*>(QStringLiteral("AudioProgress")) == nullptr);

        f.SaveAnswers << FFiles->filePath(QStringLiteral("kept.mp3"));
        f.actSaveAudioOriginal->trigger();
        QCOMPARE(f.Shown.size(), 1);
        QVERIFY(f.Shown.last().contains(QStringLiteral(".wav, .flac or .ogg")));

        QCOMPARE(ReadText(target), QStringLiteral("the user's old file"));
        QCOMPARE(QDir(FFiles->path()).entryList(QDir::Files), before);
    }

    void aChosenSoundFontIsCheckedUsedAndRemembered() {
        TTestForm& f = *FForm;
        QVERIFY(f.FSoundFontFile.isEmpty());
        const QString text = FFiles->filePath(QStringLiteral("text.sf2"));
        WriteFile(text, "not a SoundFont");
        f.OpenAnswers << text;
        f.btnSoundFont->click();
        const auto other = f.findChild<QAction*>(QStringLiteral("actOtherSoundFont"));
        QVERIFY(other != nullptr);
        other->trigger();
        QCOMPARE(f.Shown.size(), 1);
        QVERIFY(f.Shown.last().startsWith(QStringLiteral("The SoundFont was not changed.\nThis is not a SoundFont")));
        QVERIFY(f.FSoundFontFile.isEmpty());
        QVERIFY(!QFileInfo::exists(TfrmMain::SettingsFileName()));

        // A copy of the installed SoundFont under a name of its own.
        const QString copy = FFiles->filePath(QStringLiteral("mine.sf2"));
        QVERIFY(QFile::copy(QString::fromStdString(korvalin::DefaultSoundFontFile()), copy));
        QVERIFY(f.ChooseSoundFont(copy));
        QCOMPARE(f.FSoundFontFile, copy);
        QCOMPARE(f.SequencerOptions().SoundFontFile, copy);
        QVERIFY(f.btnSoundFont->toolTip().contains(copy));

        // The next window starts with it; once it is gone, with the default again.
        FForm = std::make_unique<TTestForm>();
        QCOMPARE(FForm->FSoundFontFile, copy);
        QVERIFY(QFile::remove(copy));
        FForm = std::make_unique<TTestForm>();
        QVERIFY(FForm->FSoundFontFile.isEmpty());
    }
};

KORVALIN_WINDOW_TEST_MAIN(TMainFormAudioTest)
#include "MainFormAudioTest.moc"
