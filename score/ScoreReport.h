#pragma once

// What the readable notation did with each part, so that a user can see why
// the score looks as it does: how far the grid moved the notes, the tuplets it
// found, the voices and staves, and the grid it chose.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace korvalin {

struct TPartReport {
    std::string Name;
    std::int64_t Notes = 0;       // as played
    std::int64_t NotesMoved = 0;  // written elsewhere than played
    std::int64_t LargestMoveTicks = 0;
    double LargestMoveQuarters = 0.0;
    std::map<std::string, std::int64_t> Tuplets;  // by kind ("eighth triplet", "quintuplet", ...)
    std::vector<std::int32_t> VoicesPerStaff;
    std::int32_t Staves = 1;
    std::int32_t Grid = 16;   // 8, 16 or 32: a note value's denominator
    bool GridChosen = false;  // the automatic grid chose it
};

// What the performance stage found in a file played freely.
struct TPerformanceReport {
    bool Used = false;           // false: the file's own timing was kept
    std::string Meter;           // "3/4"
    std::int32_t KeyFifths = 0;  // of the opening key
    bool KeyMinor = false;
    std::int32_t KeyChanges = 0;
    double SlowestBpm = 0.0;  // of the counted beat
    double FastestBpm = 0.0;
    double Confidence = 0.0;  // 0..1
    double FirstDownbeatSeconds = 0.0;
    std::vector<double> BeatSeconds;  // the tempo curve: every beat's time
};

struct TConversionReport {
    std::vector<TPartReport> Parts;
    double PickupQuarters = 0.0;        // the length of the opening pickup; 0: none
    std::int64_t FirstMeasureTick = 0;  // where the first measure begins in the file
    TPerformanceReport Performance;
};

// "eighth triplet", "quarter triplet", "sextuplet", ... for a tuplet's ratio and value.
std::string TupletKindName(std::int32_t actual, std::int32_t normal, std::string_view normalType);

}  // namespace korvalin
