#include "MidiSequencer.h"

#include "MidiBuilder.h"
#include "WavReader.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

namespace korvalin {
namespace {

using test::MidiBuilder;

// Long enough to tell a hang from a slow machine; never a performance bound.
constexpr int HangMs = 30000;

// 120 BPM at 480 ticks per quarter: 480 ticks are half a second.
constexpr int Ppqn = 480;
constexpr int Tempo = 500000;

// Silence for `quietTicks`, then one note of `noteTicks` on an organ, which
// holds its sound for as long as the note lasts.
test::Bytes QuietStart(std::uint32_t quietTicks, std::uint32_t noteTicks, int pitch = 60) {
    MidiBuilder midi(0, Ppqn);
    midi.Track().Tempo(0, Tempo).Program(0, 0, 19).Note(quietTicks, noteTicks, 0, pitch, 100).End();
    return midi.Bytes();
}

// `count` organ notes of `noteTicks` each, one straight after the other.
test::Bytes NoteRun(int count, std::uint32_t noteTicks) {
    MidiBuilder midi(0, Ppqn);
    auto& track = midi.Track().Tempo(0, Tempo).Program(0, 0, 19);
    for (int i = 0; i < count; ++i) track.Note(0, noteTicks, 0, 60 + (i % 2) * 7, 100);
    track.End();
    return midi.Bytes();
}

// One rendered file of 16-bit samples, read from the RIFF chunks libsndfile wrote.
using korvalin::test::ReadWav;
using korvalin::test::TRender;

// About -50 dBFS: FluidSynth's silence is dither of a step or two, and a held
// organ note peaks near 1100 at the synthesizer's default gain.
constexpr int Audible = 100;
// Above an organ note's fading tail, below the note itself.
constexpr int Loud = 500;

class SequencerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FDir.isValid()); }

    QString Path(const QString& name) const { return FDir.filePath(name); }

    QString WriteMidi(const QString& name, const test::Bytes& bytes) const {
        QFile file(Path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        return file.fileName();
    }

    TSequencerOptions FileOutput(const QString& audioName = QStringLiteral("out.wav")) const {
        TSequencerOptions options;
        options.AudioDriver = QStringLiteral("file");
        options.AudioFileName = Path(audioName);
        return options;
    }

    // Lets queued calls run for a while, for checking that nothing more arrives.
    static void Idle(int ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    QTemporaryDir FDir;
};

// Without a choice the desktop's sound server comes first, then ALSA; a
// server that cannot be reached is passed over, never reported as in use.
TEST_F(SequencerTest, TheDesktopsDriverIsTriedFirstAndAnUnreachableOneIsPassedOver) {
    const QStringList order = MidiSequencer::AudioDriverCandidates(QString());
    ASSERT_FALSE(order.isEmpty());
    if (order.contains(QStringLiteral("pulseaudio"))) {
        EXPECT_EQ(order.first(), QStringLiteral("pulseaudio"));
    }
    if (order.contains(QStringLiteral("alsa"))) {
        EXPECT_EQ(order.indexOf(QStringLiteral("alsa")), order.contains(QStringLiteral("pulseaudio")) ? 1 : 0);
    }
    EXPECT_EQ(MidiSequencer::AudioDriverCandidates(QStringLiteral("file")), QStringList{QStringLiteral("file")});

    const QByteArray oldServer = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", QFile::encodeName(QStringLiteral("unix:") + Path(QStringLiteral("no-server"))));
    MidiSequencer sequencer;
    const int opened = sequencer.Open(WriteMidi("quiet.mid", QuietStart(960, 480)));
    if (oldServer.isEmpty()) qunsetenv("PULSE_SERVER");
    else qputenv("PULSE_SERVER", oldServer);
    if (opened == srOk) {
        EXPECT_NE(sequencer.AudioDriverInUse(), QStringLiteral("pulseaudio"));
        EXPECT_TRUE(order.contains(sequencer.AudioDriverInUse()));
    } else {
        EXPECT_EQ(opened, srNoAudioOutput);
        EXPECT_TRUE(sequencer.AudioDriverInUse().isEmpty());
    }
}

TEST_F(SequencerTest, PlaysToTheEndAndNotifiesSuccessAfterTheFilesLength) {
    // One second of silence, then half a second of sound.
    const QString midi = WriteMidi("quiet.mid", QuietStart(960, 480));
    MidiSequencer sequencer(FileOutput());
    QSignalSpy spy(&sequencer, &MidiSequencer::Notify);

    ASSERT_EQ(sequencer.Open(midi), srOk);
    const int device = sequencer.DeviceId();
    EXPECT_NE(device, 0);
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(sequencer.Play(), srOk);

    ASSERT_TRUE(spy.wait(HangMs));
    // The player renders in real time, so the end cannot come before the music has played.
    EXPECT_GE(clock.elapsed(), 1350);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy[0][0].toInt(), ncSuccessful);
    EXPECT_EQ(spy[0][1].toInt(), device);
    EXPECT_TRUE(sequencer.IsOpen());
    EXPECT_EQ(sequencer.Close(), srOk);
    EXPECT_FALSE(sequencer.IsOpen());
    EXPECT_EQ(sequencer.DeviceId(), 0);
}

TEST_F(SequencerTest, RenderIsSilentThroughTheQuietStartAndSoundsAfterIt) {
    const QString midi = WriteMidi("quiet.mid", QuietStart(960, 480));
    MidiSequencer sequencer(FileOutput());
    QSignalSpy spy(&sequencer, &MidiSequencer::Notify);

    QElapsedTimer beforePlay;
    beforePlay.start();
    ASSERT_EQ(sequencer.Open(midi), srOk);
    ASSERT_EQ(sequencer.Play(), srOk);
    // The audio output starts inside Open, so at most this much was rendered before the play.
    const double renderedBeforePlay = static_cast<double>(beforePlay.elapsed()) / 1000.0;
    ASSERT_TRUE(spy.wait(HangMs));
    ASSERT_EQ(sequencer.Close(), srOk);

    const auto render = ReadWav(Path("out.wav"));
    ASSERT_TRUE(render.has_value());
    EXPECT_EQ(render->Rate, 44100);
    EXPECT_EQ(render->Channels, 2);
    const auto onset = render->FirstFrameAtLeast(Audible);
    ASSERT_TRUE(onset.has_value()) << "nothing audible was rendered";
    EXPECT_GE(render->Seconds(*onset), 0.99);
    EXPECT_LE(render->Seconds(*onset), 1.0 + renderedBeforePlay + 0.1);
    // The note is loud for most of its half second, then the file ends.
    const auto last = render->LastFrameAtLeast(Audible);
    ASSERT_TRUE(last.has_value());
    EXPECT_GE(render->Seconds(*last - *onset), 0.4);
    EXPECT_LE(render->Seconds(*last - *onset), 2.0);
    int peak = 0;
    for (std::size_t f = *onset; f <= *last; ++f) peak = std::max(peak, render->PeakOfFrame(f));
    EXPECT_GE(peak, Loud);
}

TEST_F(SequencerTest, StopNotifiesAbortedOnceAndTheEndOfTheFileChangesNothing) {
    const QString midi = WriteMidi("long.mid", QuietStart(0, 960));
    MidiSequencer sequencer(FileOutput());
    QSignalSpy spy(&sequencer, &MidiSequencer::Notify);
    ASSERT_EQ(sequencer.Open(midi), srOk);
    ASSERT_EQ(sequencer.Play(), srOk);
    Idle(300);
    ASSERT_EQ(spy.count(), 0);

    EXPECT_EQ(sequencer.Stop(), srOk);
    EXPECT_EQ(spy.count(), 0) << "a notification is posted, never delivered inside the call";
    ASSERT_TRUE(spy.wait(HangMs));
    EXPECT_EQ(spy[0][0].toInt(), ncAborted);
    EXPECT_EQ(spy[0][1].toInt(), sequencer.DeviceId());
    // Well past where the file would have ended: nothing else comes.
    Idle(1500);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(sequencer.Stop(), srOk);
    Idle(100);
    EXPECT_EQ(spy.count(), 1);
}

TEST_F(SequencerTest, CloseDiscardsWhatIsStillQueuedForTheClosedDevice) {
    // The window stops and closes in one go, and may open the next file at
    // once: nothing of the closed device may reach it afterwards.
    const QString first = WriteMidi("first.mid", QuietStart(0, 480));
    const QString second = WriteMidi("second.mid", QuietStart(0, 2400));
    MidiSequencer sequencer(FileOutput());
    QSignalSpy spy(&sequencer, &MidiSequencer::Notify);

    ASSERT_EQ(sequencer.Open(first), srOk);
    ASSERT_EQ(sequencer.Play(), srOk);
    Idle(100);
    sequencer.Stop();
    sequencer.Close();
    ASSERT_EQ(sequencer.Open(second), srOk);
    const int secondDevice = sequencer.DeviceId();
    ASSERT_EQ(sequencer.Play(), srOk);
    Idle(1000);
    EXPECT_EQ(spy.count(), 0);

    sequencer.Stop();
    ASSERT_TRUE(spy.wait(HangMs));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy[0][0].toInt(), ncAborted);
    EXPECT_EQ(spy[0][1].toInt(), secondDevice);
    sequencer.Close();
}

TEST_F(SequencerTest, PlayWhilePlayingSupersedesTheEarlierNotifyAndPlaysOn) {
    const QString midi = WriteMidi("short.mid", QuietStart(0, 480));
    MidiSequencer sequencer(FileOutput());
    QSignalSpy spy(&sequencer, &MidiSequencer::Notify);
    ASSERT_EQ(sequencer.Open(midi), srOk);
    ASSERT_EQ(sequencer.Play(), srOk);
    ASSERT_EQ(sequencer.Play(), srOk);

    ASSERT_TRUE(spy.wait(HangMs));
    EXPECT_EQ(spy[0][0].toInt(), ncSuperseded);
    if (spy.count() < 2) {
        ASSERT_TRUE(spy.wait(HangMs));
    }
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy[1][0].toInt(), ncSuccessful);
}

TEST_F(SequencerTest, PlayAfterStopGoesOnFromWhereItStopped) {
    // One second of short organ notes (a note that had begun before the stop
    // is not struck again), stopped after about 0.4 s and played on after a pause.
    const QString midi = WriteMidi("run.mid", NoteRun(8, 120));
    MidiSequencer sequencer(FileOutput());
    QSignalSpy spy(&sequencer, &MidiSequencer::Notify);
    ASSERT_EQ(sequencer.Open(midi), srOk);
    ASSERT_EQ(sequencer.Play(), srOk);
    Idle(400);
    sequencer.Stop();
    ASSERT_TRUE(spy.wait(HangMs));
    ASSERT_EQ(spy[0][0].toInt(), ncAborted);
    Idle(500);

    ASSERT_EQ(sequencer.Play(), srOk);
    ASSERT_TRUE(spy.wait(HangMs));
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy[1][0].toInt(), ncSuccessful);
    sequencer.Close();

    const auto render = ReadWav(Path("out.wav"));
    ASSERT_TRUE(render.has_value());
    const auto spans = render->Spans(Loud);
    ASSERT_EQ(spans.size(), 2u) << "the pause is silent";
    const double before = spans[0].second - spans[0].first;
    const double after = spans[1].second - spans[1].first;
    // Played on, the two parts make up the one second; played again from the
    // start, the second part alone would last a second.
    EXPECT_LT(after, 0.85);
    EXPECT_GT(before + after, 0.8);
    EXPECT_LT(before + after, 1.2);
}

TEST_F(SequencerTest, PauseLetsTheSoundingNoteGoAndResumeLosesNoNote) {
    // Six organ notes of a quarter second, a quarter second apart; paused in
    // the third note for most of a second.
    MidiBuilder midi(0, Ppqn);
    auto& track = midi.Track().Tempo(0, Tempo).Program(0, 0, 19);
    for (int i = 0; i < 6; ++i) track.Note(i == 0 ? 0 : 240, 240, 0, 60 + 2 * i, 100);
    track.End();
    MidiSequencer sequencer(FileOutput());
    QSignalSpy spy(&sequencer, &MidiSequencer::Notify);
    ASSERT_EQ(sequencer.Open(WriteMidi("steps.mid", midi.Bytes())), srOk);
    EXPECT_EQ(sequencer.Pause(), srOk) << "nothing plays: nothing to pause";
    EXPECT_FALSE(sequencer.IsPaused());
    ASSERT_EQ(sequencer.Play(), srOk);
    Idle(1100);
    ASSERT_EQ(sequencer.Pause(), srOk);
    EXPECT_TRUE(sequencer.IsPaused());
    const int pausedAt = sequencer.CurrentTick();
    EXPECT_GT(pausedAt, 960);
    Idle(800);
    EXPECT_EQ(spy.count(), 0) << "a pause is not the end of the play";
    EXPECT_EQ(sequencer.CurrentTick(), pausedAt);

    ASSERT_EQ(sequencer.Resume(), srOk);
    EXPECT_FALSE(sequencer.IsPaused());
    ASSERT_TRUE(spy.wait(HangMs));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy[0][0].toInt(), ncSuccessful);
    sequencer.Close();

    const auto render = ReadWav(Path("out.wav"));
    ASSERT_TRUE(render.has_value());
    const auto spans = render->Spans(Loud);
    ASSERT_EQ(spans.size(), 6u) << "every note sounds once, the paused one only up to the pause";
    // The pause is silent: the note sounding at it was let go.
    EXPECT_GT(spans[3].first - spans[2].second, 0.7);
    // The notes after the pause keep their timing and nothing hangs on after the last.
    EXPECT_NEAR(spans[4].first - spans[3].first, 0.5, 0.08);
    EXPECT_LT(spans[5].second - spans[5].first, 0.4);
}

TEST_F(SequencerTest, ClosingMidNoteLeavesNothingSoundingForTheNextFile) {
    const QString held = WriteMidi("held.mid", QuietStart(0, 4800));
    const QString quiet = WriteMidi("quiet.mid", QuietStart(960, 240, 72));
    MidiSequencer sequencer(FileOutput());
    QSignalSpy spy(&sequencer, &MidiSequencer::Notify);

    ASSERT_EQ(sequencer.Open(held), srOk);
    ASSERT_EQ(sequencer.Play(), srOk);
    Idle(300);
    sequencer.Stop();
    sequencer.Close();

    // The same synthesizer plays the next file into a fresh output file.
    ASSERT_EQ(sequencer.Open(quiet), srOk);
    ASSERT_EQ(sequencer.Play(), srOk);
    ASSERT_TRUE(spy.wait(HangMs));
    EXPECT_EQ(spy.last()[0].toInt(), ncSuccessful);
    sequencer.Close();

    const auto render = ReadWav(Path("out.wav"));
    ASSERT_TRUE(render.has_value());
    const auto onset = render->FirstFrameAtLeast(Audible);
    ASSERT_TRUE(onset.has_value());
    EXPECT_GE(render->Seconds(*onset), 0.99) << "the stopped organ note sounded on";
}

TEST_F(SequencerTest, AFileWithoutEventsEndsWithSuccess) {
    MidiBuilder empty(1, Ppqn);
    empty.Track().End();
    const QString midi = WriteMidi("empty.mid", empty.Bytes());
    MidiSequencer sequencer(FileOutput());
    QSignalSpy spy(&sequencer, &MidiSequencer::Notify);
    ASSERT_EQ(sequencer.Open(midi), srOk);
    ASSERT_EQ(sequencer.Play(), srOk);
    ASSERT_TRUE(spy.wait(HangMs));
    EXPECT_EQ(spy[0][0].toInt(), ncSuccessful);
}

TEST_F(SequencerTest, ANoteLeftSoundingAtTheEndDoesNotKeepThePlayGoing) {
    // An organ note without its note-off sounds for ever; FluidSynth's player
    // alone would never report the end of this file.
    MidiBuilder held(0, Ppqn);
    held.Track().Tempo(0, Tempo).Program(0, 0, 19).NoteOn(0, 0, 60, 100).End(480);
    const QString midi = WriteMidi("held.mid", held.Bytes());
    MidiSequencer sequencer(FileOutput());
    QSignalSpy spy(&sequencer, &MidiSequencer::Notify);
    ASSERT_EQ(sequencer.Open(midi), srOk);
    ASSERT_EQ(sequencer.Play(), srOk);
    ASSERT_TRUE(spy.wait(HangMs));
    EXPECT_EQ(spy[0][0].toInt(), ncSuccessful);
}

TEST_F(SequencerTest, AnOutputThatStopsTakingSoundEndsThePlayWithFailure) {
    // A raw file has no header to write at open; every block written to
    // /dev/full then fails, and FluidSynth's file driver stops rendering.
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), Path("full.raw")));
    TSequencerOptions options = FileOutput(QStringLiteral("full.raw"));
    options.StallTimeoutMs = 300;
    const QString midi = WriteMidi("long.mid", QuietStart(0, 4800));
    MidiSequencer sequencer(options);
    QSignalSpy spy(&sequencer, &MidiSequencer::Notify);

    ASSERT_EQ(sequencer.Open(midi), srOk);
    ASSERT_EQ(sequencer.Play(), srOk);
    ASSERT_TRUE(spy.wait(HangMs));
    EXPECT_EQ(spy[0][0].toInt(), ncFailure);
    Idle(200);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(sequencer.Close(), srOk);
}

class SequencerOpenTest : public SequencerTest {
protected:
    QString Playable() const { return WriteMidi("ok.mid", QuietStart(0, 240)); }
};

TEST_F(SequencerOpenTest, AMissingSoundFontIsAnOpenFailureWithItsText) {
    TSequencerOptions options = FileOutput();
    options.SoundFontFile = Path("nowhere.sf2");
    MidiSequencer sequencer(options);
    EXPECT_EQ(sequencer.SoundFontFile(), QString());
    EXPECT_EQ(sequencer.Open(Playable()), srNoSoundFont);
    EXPECT_FALSE(sequencer.IsOpen());
    EXPECT_TRUE(MidiSequencer::ErrorText(srNoSoundFont).startsWith("No General MIDI SoundFont was found."));
}

TEST_F(SequencerOpenTest, ASoundFontFluidSynthCannotLoadIsAnOpenFailure) {
    TSequencerOptions options = FileOutput();
    options.SoundFontFile = WriteMidi("broken.sf2", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 's', 'f', 'b', 'k'});
    MidiSequencer sequencer(options);
    EXPECT_EQ(sequencer.Open(Playable()), srSoundFontUnusable);
    EXPECT_EQ(MidiSequencer::ErrorText(srSoundFontUnusable), "The General MIDI SoundFont could not be loaded.");
}

TEST_F(SequencerOpenTest, AFileThePlayerRefusesIsAnOpenFailureWithItsText) {
    MidiSequencer sequencer(FileOutput());
    const QString text = WriteMidi("text.mid", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n', 0, 0});
    EXPECT_EQ(sequencer.Open(text), srFileRefused);
    EXPECT_FALSE(sequencer.IsOpen());
    EXPECT_EQ(MidiSequencer::ErrorText(srFileRefused), "The file is not a MIDI file the player can play.");

    // A track chunk that claims more bytes than the file has.
    test::Bytes truncated = QuietStart(0, 480);
    truncated.resize(truncated.size() - 6);
    EXPECT_EQ(sequencer.Open(WriteMidi("truncated.mid", truncated)), srFileRefused);
    // The refusals left nothing behind: a good file opens.
    EXPECT_EQ(sequencer.Open(Playable()), srOk);
}

TEST_F(SequencerOpenTest, AMissingMidiFileIsNotFound) {
    MidiSequencer sequencer(FileOutput());
    EXPECT_EQ(sequencer.Open(Path("absent.mid")), srFileNotFound);
    EXPECT_EQ(MidiSequencer::ErrorText(srFileNotFound), "The MIDI file was not found.");
}

TEST_F(SequencerOpenTest, NoAudioOutputIsAnOpenFailureWithItsText) {
    // The file driver cannot create its output in a folder that does not exist.
    MidiSequencer sequencer(FileOutput(QStringLiteral("absent/out.wav")));
    EXPECT_EQ(sequencer.Open(Playable()), srNoAudioOutput);
    EXPECT_FALSE(sequencer.IsOpen());
    EXPECT_EQ(MidiSequencer::ErrorText(srNoAudioOutput), "No audio output device is available.");
}

TEST_F(SequencerOpenTest, OneFileAtATimeAndCommandsNeedAnOpenFile) {
    MidiSequencer sequencer(FileOutput());
    EXPECT_EQ(sequencer.Play(), srNotOpen);
    EXPECT_EQ(sequencer.Stop(), srNotOpen);
    EXPECT_EQ(sequencer.Close(), srNotOpen);
    ASSERT_EQ(sequencer.Open(Playable()), srOk);
    const int device = sequencer.DeviceId();
    EXPECT_EQ(sequencer.Open(Playable()), srAlreadyOpen);
    EXPECT_EQ(sequencer.DeviceId(), device);
    EXPECT_EQ(sequencer.Close(), srOk);
    ASSERT_EQ(sequencer.Open(Playable()), srOk);
    EXPECT_NE(sequencer.DeviceId(), device) << "a reopened device is told apart from the closed one";
}

TEST_F(SequencerOpenTest, EveryCorpusFileOpensOrIsRefusedWithoutHarm) {
    const QDir corpus(QStringLiteral(KORVALIN_CORPUS_DIR "/midi"));
    if (!corpus.exists()) GTEST_SKIP() << "no corpus at " << KORVALIN_CORPUS_DIR;
    MidiSequencer sequencer(FileOutput());
    int opened = 0;
    int refused = 0;
    QDirIterator files(corpus.path(), {QStringLiteral("*.mid"), QStringLiteral("*.midi")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        const int result = sequencer.Open(file);
        if (result == srOk) {
            ++opened;
            EXPECT_EQ(sequencer.Close(), srOk);
        } else {
            ++refused;
            EXPECT_EQ(result, srFileRefused) << file.toStdString();
        }
    }
    // The corpus holds broken files on purpose, and far more good ones.
    EXPECT_GT(opened, 150);
    EXPECT_GT(refused, 0);
}

TEST(SequencerErrorText, EveryResultHasItsOwnTextAndUnknownCodesAreNamed) {
    QStringList texts;
    for (int result = srAlreadyOpen; result <= srPlayFailed; ++result) {
        const QString text = MidiSequencer::ErrorText(result);
        EXPECT_FALSE(text.isEmpty()) << result;
        EXPECT_FALSE(texts.contains(text)) << result;
        texts << text;
    }
    EXPECT_EQ(MidiSequencer::ErrorText(999), "MIDI playback error 999");
}

}  // namespace
}  // namespace korvalin

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
