#pragma once

// The score as a musician would write it for reading: spelled by key, keyboard
// parts on a grand staff, drums on a percussion staff, independent lines in
// voices, notes and rests cut so that the beat shows.

#include <cstdint>
#include <span>
#include <string_view>

#include "MidiParser.h"
#include "ScoreBudget.h"
#include "ScoreModel.h"

namespace korvalin {

// How readable notation writes a track: "single", "grand" or "percussion"
// (with the automatic clef; a forced clef keeps a pitched part on one staff).
std::string_view ReadableStavesName(const TMidiTrack& track);

// Fills `score` with one part per track (all with notes) up to the quantised
// `scoreEndTick`, counting every note and rest against `budget`.
void BuildReadableScore(TScore& score, const TMidiFile& midi, std::span<const TMidiTrack* const> tracks,
                        std::int32_t grid, std::int64_t scoreEndTick, TNoteElementBudget& budget);

}  // namespace korvalin
