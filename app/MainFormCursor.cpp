// Where playback starts and where it is: a click on a measure of the score
// shown sets the start of the next play, and a cursor in the score follows
// the play that is open.

#include <QLabel>

#include "MainForm.h"
#include "MidiSequencer.h"
#include "Playback.h"
#include "ScoreViewer.h"

void TfrmMain::CreatePlayback() {
    FPlayback = new TPlayback([this] { return SequencerOptions(); }, this);
    // Directly, as the sequencer reports: a queued hop would let a
    // notification for a closed play through.
    connect(
        FPlayback, &TPlayback::Notified, this,
        [this](int code, int deviceId) { Guarded([this, code, deviceId] { MMMciNotify(code, deviceId); }); },
        Qt::DirectConnection);
    connect(FPlayback, &TPlayback::CursorMoved, this, [this](std::size_t measure, double fraction) {
        Guarded([this, measure, fraction] { FViewer->ShowPlaybackCursor(measure, fraction); });
    });
    connect(FPlayback, &TPlayback::CursorHidden, this, [this] { Guarded([this] { FViewer->HidePlaybackCursor(); }); });
}

void TfrmMain::MeasureClicked(int measure) {
    if (!FPlayback->SetStartMeasure(measure)) return;
    FViewer->ShowPlaybackStart(FPlayback->StartMeasure());
    const QString number = FPlayback->MeasureNumber(FPlayback->StartMeasure());
    ShowStatus([this, number] {
        return Localized(QStringLiteral("Следующее воспроизведение начнётся с такта %1."),
                         QStringLiteral("The next play starts at measure %1."))
            .arg(number);
    });
}

void TfrmMain::FollowPlayback() { FPlayback->Follow(FViewer->Port() != nullptr); }
