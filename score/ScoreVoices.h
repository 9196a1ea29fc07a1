#pragma once

// Voices as played: each chord goes to the first voice that is free when it
// starts, so a voice is a plain succession of chords that never overlap.

#include <cstdint>
#include <vector>

#include "ScoreQuantize.h"

namespace korvalin {

// A succession of chords of one track; its number is its position + 1.
struct TVoice {
    std::vector<std::uint32_t> Events;  // indexes into the track's chord list, in time order
    std::int64_t LastEnd = 0;
};

// Lays the chords (in score order) into voices, first fit by voice number.
std::vector<TVoice> BuildVoices(const TChordList& chords);

}  // namespace korvalin
