// Playback ticks to measures and beats of the written score, and back.

#include "ScoreTimeline.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace korvalin {

namespace {

// Compound meters (6/8, 9/8, 12/8) beat in dotted notes, three to a beat.
std::int64_t BeatTicks(const TTimelineMeasure& measure, std::int64_t ppqn) {
    const std::int64_t unit = ppqn * 4 / std::max(1, measure.BeatType);
    const bool compound = measure.BeatType >= 8 && measure.Beats > 3 && measure.Beats % 3 == 0;
    return std::max<std::int64_t>(1, compound ? unit * 3 : unit);
}

// `at` on the line through the points (from, to), extended along its end pieces.
std::int64_t MapThrough(const std::vector<std::int64_t>& from, const std::vector<std::int64_t>& to, std::int64_t at) {
    const std::size_t n = std::min(from.size(), to.size());
    if (n == 0) return at;
    if (n == 1) return to.front() + at - from.front();
    const auto end = from.begin() + static_cast<std::ptrdiff_t>(n);
    const auto after = static_cast<std::size_t>(std::upper_bound(from.begin(), end, at) - from.begin());
    const std::size_t i = std::clamp<std::size_t>(after, 1, n - 1) - 1;
    const std::int64_t span = from[i + 1] - from[i];
    if (span <= 0) return to[i];
    const double slope = static_cast<double>(to[i + 1] - to[i]) / static_cast<double>(span);
    // Never before the start of either.
    return std::max<std::int64_t>(0,
                                  std::llround(static_cast<double>(to[i]) + static_cast<double>(at - from[i]) * slope));
}

}  // namespace

std::int64_t TTickMap::operator()(std::int64_t written) const { return MapThrough(Written, File, written); }

std::int64_t TTickMap::Back(std::int64_t file) const { return MapThrough(File, Written, file); }

TScoreTimeline MakeScoreTimeline(const TScore& score, std::int64_t ppqn, TTickMap playedTicks) {
    TScoreTimeline timeline;
    timeline.Ppqn = ppqn;
    timeline.PlayedTicks = std::move(playedTicks);
    if (score.Parts.empty()) return timeline;
    const auto ticks = [&score, ppqn](TScoreTime units) {
        return units * ppqn / std::max<TScoreTime>(1, score.UnitsPerQuarter);
    };
    TScoreTimeSignature time;
    const std::vector<TScoreMeasure>& measures = score.Parts.front().Measures;
    timeline.Measures.reserve(measures.size());
    for (std::size_t i = 0; i < measures.size(); ++i) {
        const TScoreMeasure& measure = measures[i];
        if (measure.HasTime) {
            time = measure.Time;
        } else if (i == 0) {
            // Without a written signature the first measure's length is the meter.
            time = {};
        }
        TTimelineMeasure& entry = timeline.Measures.emplace_back();
        entry.Number = measure.Number;
        entry.StartTick = ticks(measure.Start);
        entry.LengthTicks = ticks(measure.Length);
        entry.Beats = time.Beats;
        entry.BeatType = time.BeatType;
        const std::int64_t full = ppqn * 4 * time.Beats / std::max(1, time.BeatType);
        if (measure.Implicit && i == 0 && entry.LengthTicks < full) entry.MissingTicks = full - entry.LengthTicks;
    }
    return timeline;
}

TScorePosition PositionAtTick(const TScoreTimeline& timeline, std::int64_t fileTick) {
    TScorePosition position;
    const std::int64_t tick = timeline.PlayedTicks.Back(fileTick);
    const std::vector<TTimelineMeasure>& measures = timeline.Measures;
    if (measures.empty()) return position;
    // The last measure starting at or before the tick.
    const auto after = std::upper_bound(measures.begin(), measures.end(), tick,
                                        [](std::int64_t t, const TTimelineMeasure& m) { return t < m.StartTick; });
    if (after == measures.begin()) {
        position.Beat = static_cast<double>(measures.front().MissingTicks) /
                            static_cast<double>(BeatTicks(measures.front(), timeline.Ppqn)) +
                        1.0;
        return position;
    }
    position.Measure = static_cast<std::size_t>(after - measures.begin()) - 1;
    const TTimelineMeasure& measure = measures[position.Measure];
    const std::int64_t offset = std::min(tick - measure.StartTick, measure.LengthTicks);
    position.Fraction =
        measure.LengthTicks > 0 ? static_cast<double>(offset) / static_cast<double>(measure.LengthTicks) : 0.0;
    position.Beat =
        static_cast<double>(offset + measure.MissingTicks) / static_cast<double>(BeatTicks(measure, timeline.Ppqn)) +
        1.0;
    return position;
}

std::int64_t MeasureStartTick(const TScoreTimeline& timeline, std::size_t measure) {
    if (timeline.Measures.empty()) return 0;
    if (measure < timeline.Measures.size()) return timeline.PlayedTicks(timeline.Measures[measure].StartTick);
    const TTimelineMeasure& last = timeline.Measures.back();
    return timeline.PlayedTicks(last.StartTick + last.LengthTicks);
}

}  // namespace korvalin
