// Playback on its own, without a window: the real sequencer rendering to a
// file through FluidSynth's `file` driver, the start measure of a hand-made
// timeline, and where the cursor falls.

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "MidiBuilder.h"
#include "MidiSequencer.h"
#include "Playback.h"
#include "WindowTestSupport.h"

using korvalin::TScoreTimeline;
using korvalin::test::MidiBuilder;

namespace {

constexpr int HangMs = 30000;

// Three 4/4 measures of 480 ticks a beat, numbered from 1.
TScoreTimeline ThreeMeasures() {
    TScoreTimeline timeline;
    timeline.Ppqn = 480;
    for (int i = 0; i < 3; ++i) timeline.Measures.push_back({std::to_string(i + 1), i * 1920, 1920});
    return timeline;
}

}  // namespace

class TPlaybackTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TPlayback> FPlayback;
    int FSequencersMade = 0;

    QString WriteMidi(int notes) const {
        MidiBuilder midi(1, 480);
        auto& track = midi.Track().Tempo(0, 500000);
        for (int i = 0; i < notes; ++i) track.Note(0, 240, 0, 60 + i % 12);
        track.End();
        const auto bytes = midi.Bytes();
        const QString path = FDir->filePath(QStringLiteral("play.mid"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write test file");
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        return path;
    }

private slots:
    void init() {
        FDir = std::make_unique<QTemporaryDir>();
        FSequencersMade = 0;
        FPlayback = std::make_unique<TPlayback>(
            [this] {
                ++FSequencersMade;
                korvalin::TSequencerOptions options;
                options.AudioDriver = QStringLiteral("file");
                options.AudioFileName = FDir->filePath(QStringLiteral("render.wav"));
                return options;
            },
            nullptr);
    }
    void cleanup() {
        FPlayback.reset();
        FDir.reset();
    }

    void theStartMeasureStaysInsideTheScoreShown() {
        QCOMPARE(FPlayback->StartTick(), std::int64_t{0});
        QVERIFY(!FPlayback->SetStartMeasure(0));  // no score shown yet
        FPlayback->ScoreShown(ThreeMeasures());
        QVERIFY(FPlayback->SetStartMeasure(2));
        QCOMPARE(FPlayback->StartTick(), std::int64_t{3840});
        QCOMPARE(FPlayback->StartNumber(), QStringLiteral("3"));
        QVERIFY(!FPlayback->SetStartMeasure(3));
        QVERIFY(!FPlayback->SetStartMeasure(-1));
        QCOMPARE(FPlayback->StartMeasure(), std::size_t{2});
        // The first measure is the start: no number to tell.
        QVERIFY(FPlayback->SetStartMeasure(0));
        QCOMPARE(FPlayback->StartNumber(), QString());
        QCOMPARE(FPlayback->MeasureNumber(0), QStringLiteral("1"));
        FPlayback->SetStartMeasure(1);
        // A new score, or none, starts from the beginning again.
        FPlayback->ScoreShown(ThreeMeasures());
        QCOMPARE(FPlayback->StartMeasure(), std::size_t{0});
        FPlayback->SetStartMeasure(1);
        FPlayback->ScoreCleared();
        QCOMPARE(FPlayback->StartTick(), std::int64_t{0});
        QCOMPARE(FPlayback->MeasureNumber(0), QString());
    }

    void aPlayIsOpenUntilStoppedOrFinished() {
        QSignalSpy notified(FPlayback.get(), &TPlayback::Notified);
        QVERIFY(!FPlayback->Stop());
        QVERIFY(!FPlayback->Finish());
        QCOMPARE(FPlayback->Play(WriteMidi(400), 0).Stage, TPlayback::TStage::psPlaying);
        QVERIFY(FPlayback->IsOpen());
        QCOMPARE(FSequencersMade, 1);

        FPlayback->Pause();
        QVERIFY(FPlayback->IsPaused());
        QCOMPARE(FPlayback->Resume(), static_cast<int>(korvalin::srOk));
        QVERIFY(!FPlayback->IsPaused());

        QVERIFY(FPlayback->Stop());
        QVERIFY(!FPlayback->IsOpen());
        QVERIFY(!FPlayback->IsPaused());

        // A short file plays to its end; the sequencer says so and Finish closes it.
        QCOMPARE(FPlayback->Play(WriteMidi(2), 0).Stage, TPlayback::TStage::psPlaying);
        QCOMPARE(FSequencersMade, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!notified.isEmpty() && notified.last().at(0).toInt() == korvalin::ncSuccessful,
                                 HangMs);
        QVERIFY(FPlayback->Finish());
        QVERIFY(!FPlayback->IsOpen());
        QVERIFY(!FPlayback->Finish());
    }

    void aFileTheSequencerCannotOpenLeavesNothingOpen() {
        const auto result = FPlayback->Play(FDir->filePath(QStringLiteral("missing.mid")), 0);
        QCOMPARE(result.Stage, TPlayback::TStage::psOpenFailed);
        QVERIFY(result.Code != korvalin::srOk);
        QVERIFY(!FPlayback->IsOpen());
    }

    void aReleasedSequencerIsMadeAgainForTheNextPlay() {
        QCOMPARE(FPlayback->Play(WriteMidi(400), 0).Stage, TPlayback::TStage::psPlaying);
        FPlayback->ReleaseSequencer();
        QVERIFY(!FPlayback->IsOpen());
        QVERIFY(FPlayback->Sequencer() == nullptr);
        QCOMPARE(FPlayback->Play(WriteMidi(400), 0).Stage, TPlayback::TStage::psPlaying);
        QCOMPARE(FSequencersMade, 2);
        FPlayback->Stop();
    }

    void theCursorCountsFromTheStartMeasureAfterTheLeadIn() {
        FPlayback->ScoreShown(ThreeMeasures());
        FPlayback->SetStartMeasure(1);
        QCOMPARE(FPlayback->Play(WriteMidi(400), 240).Stage, TPlayback::TStage::psPlaying);
        // Within the lead-in the cursor waits at the start measure.
        QCOMPARE(FPlayback->PositionAt(100).Measure, std::size_t{1});
        QCOMPARE(FPlayback->PositionAt(100).Fraction, 0.0);
        // Half a measure after the lead-in: halfway through the second measure.
        QCOMPARE(FPlayback->PositionAt(240 + 960).Measure, std::size_t{1});
        QCOMPARE(FPlayback->PositionAt(240 + 960).Fraction, 0.5);
        QCOMPARE(FPlayback->PositionAt(240 + 1920).Measure, std::size_t{2});
        FPlayback->Stop();
    }

    void theCursorFollowsOnlyAnOpenPlayWithAPage() {
        QSignalSpy moved(FPlayback.get(), &TPlayback::CursorMoved);
        QSignalSpy hidden(FPlayback.get(), &TPlayback::CursorHidden);
        FPlayback->ScoreShown(ThreeMeasures());
        FPlayback->Follow(true);  // nothing plays
        QCOMPARE(FPlayback->Play(WriteMidi(400), 0).Stage, TPlayback::TStage::psPlaying);
        FPlayback->Follow(false);  // no page to show it on
        QTest::qWait(200);
        QVERIFY(moved.isEmpty());
        FPlayback->Follow(true);
        QTRY_VERIFY_WITH_TIMEOUT(!moved.isEmpty(), HangMs);
        QVERIFY(hidden.isEmpty());
        FPlayback->Stop();
        FPlayback->Follow(true);
        QCOMPARE(hidden.size(), 1);
    }
};

KORVALIN_WINDOW_TEST_MAIN(TPlaybackTest)
#include "PlaybackTest.moc"
