#pragma once

// How one or two beats of played onsets read: on the binary grid or as one of
// the tuplets the grid's value allows, each reading with its cost. Tuplet
// placement and the choice of a part's grid both weigh beats this way.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "ReadableSteps.h"

namespace korvalin {

// One way to read a window of one or two beats: `Divisions` equal parts of it.
struct TReading {
    std::int32_t Divisions = 0;  // 0: the binary grid
    std::int32_t Beats = 1;
    std::uint8_t Actual = 0;
    std::uint8_t Normal = 0;
    std::int32_t NormalHalvings = 0;  // the written value: the beat halved this many times
    double Penalty = 0.0;             // in beats of error a reading must save to be chosen
};

constexpr std::array<TReading, 6> kReadings = {{
    {0, 1, 0, 0, 0, 0.0},   // binary
    {3, 1, 3, 2, 1, 0.06},  // eighth triplet
    {6, 1, 6, 4, 2, 0.10},  // sextuplet of sixteenths
    {5, 1, 5, 4, 2, 0.14},  // quintuplet
    {7, 1, 7, 4, 2, 0.16},  // septuplet
    {3, 2, 3, 2, 0, 0.06},  // quarter triplet over two beats
}};
constexpr std::size_t kPairReading = 5;

// The onsets (played close together: one chord) and the ends of a window, in
// units from its start.
struct TPoints {
    std::vector<double> Onsets;  // ascending
    std::vector<double> Ends;
};

struct TWindow {
    TScoreTime Length = 0;
    TScoreTime Beat = 0;
    std::int32_t Parts = 0;
};

// One beat of a measure and the points played in it. A compound beat (a
// dotted value) is read as its three parts: a triplet in 6/8 divides an
// eighth, as a triplet in 2/4 divides a quarter.
struct TBeatInput {
    TScoreTime Start = 0;  // from the measure start
    TScoreTime Length = 0;
    bool Third = false;  // a third of a compound beat
    TPoints Points;
};

// A free performance is uneven by rubato far more often than by tuplets: a
// tuplet must explain its beat this many times more clearly there.
constexpr double kPerformedPenaltyScale = 2.0;

// Onsets closer than this part of a beat were meant together (a chord played
// a little spread).
constexpr double kSameOnset = 1.0 / 16.0;

// The point of the window `reading` puts a place on: the nearest, the
// window's end (the next beat) included.
inline std::int64_t SnapToPoint(double at, double part, std::int32_t parts) {
    const auto k = static_cast<std::int64_t>(std::llround(at / part));
    return std::clamp<std::int64_t>(k, 0, parts);
}

// The note type of a plain (undotted) value of `value` units, when it is one.
bool PlainType(TScoreTime unitsPerWhole, TScoreTime value, TNoteType& type);
// `penaltyScale` weighs the readings' own penalties.
double ReadingCost(const TPoints& points, const TWindow& window, const TReading& reading, double penaltyScale,
                   bool onsetsOnly = false);
// The window of `reading` over beats of `beat` units on a grid of `step`; false
// when the reading does not apply (finer than the grid, or not whole units).
bool WindowOf(const TReading& reading, TScoreTime beat, TScoreTime step, TScoreTime unitsPerWhole, TWindow& window);
// The beats of `meter` as the readings take them, without points.
void ReadingBeats(const TMeter& meter, TScoreTime unitsPerWhole, std::vector<TBeatInput>& beats);
// The beat of `beats` that holds `offset` from the measure start.
std::size_t BeatHolding(const std::vector<TBeatInput>& beats, TScoreTime offset);
// The chosen reading of each beat of a measure; a two-beat reading is held by
// its first beat, and its second beat holds -1.
std::vector<std::int32_t> ChooseReadings(const std::vector<TBeatInput>& beats, TScoreTime step,
                                         TScoreTime unitsPerWhole, double penaltyScale);
// The `sorted` onsets (as played), gathered into chords: each onset's chord
// number, and the chords' mean places.
void ClusterOnsets(const std::vector<double>& sorted, double beat, std::vector<double>& means,
                   std::vector<std::size_t>& of);

}  // namespace korvalin
