#pragma once

// Where the measures of a written score lie in the MIDI file it was written
// from, so that a playback position can be shown in the score and a play can
// start at a measure.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ScoreModel.h"

namespace korvalin {

// From the ticks a score was written in to the ticks of the file it was
// written from, piecewise linear between matching points in increasing order;
// with no points, the two are the same. A score written on the beats found in
// a performance has measures as even as written, played as long as the player
// took.
struct TTickMap {
    std::vector<std::int64_t> Written;
    std::vector<std::int64_t> File;

    std::int64_t operator()(std::int64_t written) const;
    // The written tick sounding at the file's tick.
    std::int64_t Back(std::int64_t file) const;
};

struct TTimelineMeasure {
    std::string Number;          // as written
    std::int64_t StartTick = 0;  // in the written ticks
    std::int64_t LengthTicks = 0;
    // The time signature in force, and for a pickup the ticks a full measure
    // of it has before the pickup starts, so that its beats count as the end
    // of a full measure (a one-beat pickup in 4/4 is beat 4).
    std::int32_t Beats = 4;
    std::int32_t BeatType = 4;
    std::int64_t MissingTicks = 0;
};

struct TScoreTimeline {
    std::int64_t Ppqn = 480;
    std::vector<TTimelineMeasure> Measures;
    TTickMap PlayedTicks;  // the written ticks to the file's
};

// A playback position in the score. Measure indexes Measures; Beat counts from
// 1 (2.5 is halfway through the second beat); Fraction is how far through the
// measure, 0 .. 1.
struct TScorePosition {
    std::size_t Measure = 0;
    double Beat = 1.0;
    double Fraction = 0.0;
};

// The measures of the score's first part (every part has the same bar lines),
// with the score's units turned into ticks at `ppqn`, which `playedTicks`
// turns into the file's.
TScoreTimeline MakeScoreTimeline(const TScore& score, std::int64_t ppqn, TTickMap playedTicks = {});

// The measure and beat sounding at the file's `tick`: before the first
// measure, its start; after the last, the end of the last. An empty timeline
// gives measure 0, beat 1.
TScorePosition PositionAtTick(const TScoreTimeline& timeline, std::int64_t tick);

// Where a measure starts, in the file's ticks; an index past the end gives the end of the score.
std::int64_t MeasureStartTick(const TScoreTimeline& timeline, std::size_t measure);

}  // namespace korvalin
