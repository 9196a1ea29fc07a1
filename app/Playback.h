// Playback for the window: the sequencer (made at the first play), whether a
// play is open or paused, where in the score shown the next play starts, and
// the cursor that follows the play through that score. What the user is told
// about it is the window's business.

#pragma once

#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "ScoreTimeline.h"

class QTimer;

namespace korvalin {
class MidiSequencer;
struct TSequencerOptions;
}  // namespace korvalin

class TPlayback : public QObject {
    Q_OBJECT

public:
    // How the sequencer reaches the synthesizer and the sound card, asked at
    // each new sequencer.
    using TOptions = std::function<korvalin::TSequencerOptions()>;

    TPlayback(TOptions options, QObject* parent);

    // --- Where the next play starts ---
    // The score just sent to the viewer is the one positions refer to; the
    // next play starts from its beginning.
    void ScoreShown(const korvalin::TScoreTimeline& timeline);
    void ScoreCleared() { ScoreShown({}); }
    const korvalin::TScoreTimeline& ShownTimeline() const { return FShownTimeline; }
    // The next play starts at a measure of the score shown (an index); false,
    // changing nothing, for one outside it.
    bool SetStartMeasure(int measure);
    std::size_t StartMeasure() const { return FStartMeasure; }
    // The tick of the file where the next play starts.
    std::int64_t StartTick() const;
    // The number of the measure the next play starts at; empty from the start.
    QString StartNumber() const;
    // A measure's number as written; empty outside the score shown.
    QString MeasureNumber(std::size_t measure) const;

    // --- The play ---
    enum class TStage { psPlaying, psOpenFailed, psPlayFailed };
    struct TStartResult {
        TStage Stage = TStage::psPlaying;
        int Code = 0;  // the sequencer's result when it failed
    };
    // Plays a file prepared from StartTick() on with leadIn ticks of silence first.
    TStartResult Play(const QString& preparedFile, std::int64_t leadIn);
    // Stops and closes the play; false when none was open.
    bool Stop();
    // The sequencer ended the play: closes it; false when none was open (a
    // late notification).
    bool Finish();
    bool IsOpen() const { return FOpen; }
    bool IsPaused() const;
    void Pause();
    // The sequencer's result.
    int Resume();
    // Lets the sequencer go, so that the next play makes a new one (it loads
    // its SoundFont once).
    void ReleaseSequencer();
    // Null before the first play.
    korvalin::MidiSequencer* Sequencer() const { return FSequencer; }

    // --- The cursor ---
    // Where in the score shown the sequencer's tick of the play falls.
    korvalin::TScorePosition PositionAt(int sequencerTick) const;
    // Follows an open play with the cursor while the score shown has measures
    // and there is a page to show it; otherwise takes the cursor away.
    void Follow(bool canShow);

signals:
    // The sequencer's end of a play, as it reports it.
    void Notified(int code, int deviceId);
    // The cursor moved; it is only reported when it moved.
    void CursorMoved(std::size_t measure, double fraction);
    void CursorHidden();

private:
    void MoveCursor();

    TOptions FOptions;
    korvalin::MidiSequencer* FSequencer = nullptr;
    bool FOpen = false;
    korvalin::TScoreTimeline FShownTimeline;
    std::size_t FStartMeasure = 0;
    // Where the open play started, and its lead-in, in ticks.
    std::int64_t FPlayStartTick = 0;
    std::int64_t FPlayLeadIn = 0;
    QTimer* FCursorTimer;
    // The cursor's last place, so that the page hears only of a move.
    std::size_t FCursorMeasure = static_cast<std::size_t>(-1);
    double FCursorFraction = -1.0;
};
