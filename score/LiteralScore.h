#pragma once

// The transcription as played: every chord cut at the barlines only, written
// with the largest note values first, voices as the notes overlap, sharps only,
// one clef, the file's one key and time signature.

#include <cstdint>
#include <span>
#include <string_view>

#include "MidiParser.h"
#include "ScoreBudget.h"
#include "ScoreModel.h"

namespace korvalin {

// MeasureLength in ticks; 0 for a time base or time signature that cannot make
// a positive measure (including a denominator of 0, which would divide by zero).
std::int64_t LiteralMeasureLength(const TMidiFile& midi);

// Fills `score` with one part per track (all with notes), `measureCount`
// measures each, counting every note and rest against `budget`.
void BuildLiteralScore(TScore& score, const TMidiFile& midi, std::span<const TMidiTrack* const> tracks,
                       std::int64_t step, std::int64_t measureCount, TNoteElementBudget& budget);

// Three decimals and a point, whatever the user's locale.
std::string FormatTempo(double bpm);

}  // namespace korvalin
