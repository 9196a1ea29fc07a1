// Where playback starts and where it is: a click on a measure of the score
// shown sets the start of the next play, and a cursor in the score follows
// the play that is open.

#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include "MainForm.h"
#include "MidiSequencer.h"
#include "WebViewHost.h"

namespace {

// 25 moves a second: smooth to the eye, and each is one short script call.
constexpr int kCursorIntervalMs = 40;

}  // namespace

void TfrmMain::ScoreShown() {
    FShownTimeline = FBuiltTimeline;
    FStartMeasure = 0;
    FCursorMeasure = static_cast<std::size_t>(-1);
}

void TfrmMain::ScoreCleared() {
    FShownTimeline = {};
    FBuiltTimeline = {};
    FStartMeasure = 0;
    FCursorMeasure = static_cast<std::size_t>(-1);
}

void TfrmMain::MeasureClicked(int measure) {
    if (measure < 0 || static_cast<std::size_t>(measure) >= FShownTimeline.Measures.size()) return;
    FStartMeasure = static_cast<std::size_t>(measure);
    if (FViewerHost != nullptr) FViewerHost->ShowPlaybackStart(FStartMeasure);
    const QString number = QString::fromStdString(FShownTimeline.Measures[FStartMeasure].Number);
    ShowStatus([this, number] {
        return Localized(QStringLiteral("Следующее воспроизведение начнётся с такта %1."),
                         QStringLiteral("The next play starts at measure %1."))
            .arg(number);
    });
}

std::int64_t TfrmMain::PlayStartTick() const {
    return FStartMeasure > 0 ? korvalin::MeasureStartTick(FShownTimeline, FStartMeasure) : 0;
}

QString TfrmMain::PlayStartNumber() const {
    if (FStartMeasure == 0 || FStartMeasure >= FShownTimeline.Measures.size()) return {};
    return QString::fromStdString(FShownTimeline.Measures[FStartMeasure].Number);
}

void TfrmMain::FollowPlayback() {
    if (FCursorTimer == nullptr) {
        FCursorTimer = new QTimer(this);
        FCursorTimer->setInterval(kCursorIntervalMs);
        connect(FCursorTimer, &QTimer::timeout, this, [this] { Guarded([this] { MoveCursor(); }); });
    }
    const bool follow = FPlaybackOpen && !FShownTimeline.Measures.empty() && FViewerHost != nullptr;
    if (follow && !FCursorTimer->isActive()) {
        FCursorMeasure = static_cast<std::size_t>(-1);
        FCursorTimer->start();
    } else if (!follow && FCursorTimer->isActive()) {
        FCursorTimer->stop();
        FCursorMeasure = static_cast<std::size_t>(-1);
        if (FViewerHost != nullptr) FViewerHost->HidePlaybackCursor();
    }
}

void TfrmMain::MoveCursor() {
    if (!FPlaybackOpen || FSequencer == nullptr || FViewerHost == nullptr) return;
    const int tick = FSequencer->CurrentTick();
    if (tick < 0) return;
    // The played copy starts a lead-in later, and at the start measure's tick.
    const std::int64_t fileTick = std::max<std::int64_t>(0, tick - FPlayLeadIn) + FPlayStartTick;
    const korvalin::TScorePosition position = korvalin::PositionAtTick(FShownTimeline, fileTick);
    if (position.Measure == FCursorMeasure && std::abs(position.Fraction - FCursorFraction) < 0.005) return;
    FCursorMeasure = position.Measure;
    FCursorFraction = position.Fraction;
    FViewerHost->ShowPlaybackCursor(position.Measure, position.Fraction);
}
