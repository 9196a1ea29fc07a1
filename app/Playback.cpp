// The sequencer's plays, where they start in the score shown, and the cursor
// that follows them.

#include "Playback.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>

#include "MidiSequencer.h"

namespace {

// 25 moves a second: smooth to the eye, and each is one short script call.
constexpr int kCursorIntervalMs = 40;
constexpr std::size_t kNoMeasure = static_cast<std::size_t>(-1);

}  // namespace

TPlayback::TPlayback(TOptions options, QObject* parent)
    : QObject(parent), FOptions(std::move(options)), FCursorTimer(new QTimer(this)) {
    FCursorTimer->setInterval(kCursorIntervalMs);
    connect(FCursorTimer, &QTimer::timeout, this, &TPlayback::MoveCursor);
}

void TPlayback::ScoreShown(const korvalin::TScoreTimeline& timeline) {
    FShownTimeline = timeline;
    FStartMeasure = 0;
    FCursorMeasure = kNoMeasure;
}

bool TPlayback::SetStartMeasure(int measure) {
    if (measure < 0 || static_cast<std::size_t>(measure) >= FShownTimeline.Measures.size()) return false;
    FStartMeasure = static_cast<std::size_t>(measure);
    return true;
}

std::int64_t TPlayback::StartTick() const {
    return FStartMeasure > 0 ? korvalin::MeasureStartTick(FShownTimeline, FStartMeasure) : 0;
}

QString TPlayback::StartNumber() const { return FStartMeasure == 0 ? QString() : MeasureNumber(FStartMeasure); }

QString TPlayback::MeasureNumber(std::size_t measure) const {
    if (measure >= FShownTimeline.Measures.size()) return {};
    return QString::fromStdString(FShownTimeline.Measures[measure].Number);
}

TPlayback::TStartResult TPlayback::Play(const QString& preparedFile, std::int64_t leadIn) {
    Stop();
    FPlayStartTick = StartTick();
    FPlayLeadIn = leadIn;
    if (FSequencer == nullptr) {
        FSequencer = new korvalin::MidiSequencer(FOptions(), this);
        // Directly: Close drops what is still queued for the closed device,
        // and a second queued hop would let such a notification through.
        connect(FSequencer, &korvalin::MidiSequencer::Notify, this, &TPlayback::Notified, Qt::DirectConnection);
    }
    // The path goes to the sequencer as it is: no command string has to be
    // quoted here, so nothing is taken out of it.
    const int opened = FSequencer->Open(preparedFile);
    if (opened != korvalin::srOk) return {TStage::psOpenFailed, opened};
    FOpen = true;
    const int played = FSequencer->Play();
    if (played != korvalin::srOk) {
        FSequencer->Close();
        FOpen = false;
        return {TStage::psPlayFailed, played};
    }
    return {};
}

bool TPlayback::Stop() {
    if (!FOpen) return false;
    if (FSequencer != nullptr) {
        FSequencer->Stop();
        FSequencer->Close();
    }
    FOpen = false;
    return true;
}

bool TPlayback::Finish() {
    if (!FOpen) return false;
    FSequencer->Close();
    FOpen = false;
    return true;
}

bool TPlayback::IsPaused() const { return FOpen && FSequencer != nullptr && FSequencer->IsPaused(); }

void TPlayback::Pause() {
    if (FOpen) FSequencer->Pause();
}

int TPlayback::Resume() { return FOpen ? FSequencer->Resume() : static_cast<int>(korvalin::srOk); }

void TPlayback::ReleaseSequencer() {
    Stop();
    if (FSequencer == nullptr) return;
    FSequencer->disconnect(this);
    FSequencer->deleteLater();
    FSequencer = nullptr;
}

korvalin::TScorePosition TPlayback::PositionAt(int sequencerTick) const {
    // The played copy starts a lead-in later, and at the start measure's tick.
    const std::int64_t fileTick = std::max<std::int64_t>(0, sequencerTick - FPlayLeadIn) + FPlayStartTick;
    return korvalin::PositionAtTick(FShownTimeline, fileTick);
}

void TPlayback::Follow(bool canShow) {
    const bool follow = FOpen && !FShownTimeline.Measures.empty() && canShow;
    if (follow && !FCursorTimer->isActive()) {
        FCursorMeasure = kNoMeasure;
        FCursorTimer->start();
    } else if (!follow && FCursorTimer->isActive()) {
        FCursorTimer->stop();
        FCursorMeasure = kNoMeasure;
        emit CursorHidden();
    }
}

void TPlayback::MoveCursor() {
    if (!FOpen || FSequencer == nullptr) return;
    const int tick = FSequencer->CurrentTick();
    if (tick < 0) return;
    const korvalin::TScorePosition position = PositionAt(tick);
    if (position.Measure == FCursorMeasure && std::abs(position.Fraction - FCursorFraction) < 0.005) return;
    FCursorMeasure = position.Measure;
    FCursorFraction = position.Fraction;
    emit CursorMoved(position.Measure, position.Fraction);
}
