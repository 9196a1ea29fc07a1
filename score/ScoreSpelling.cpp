// The as-played notation's pitch names (sharps only) and its one clef per part.

#include "ScoreSpelling.h"

namespace korvalin {

TSpelledPitch SpellPitchWithSharps(std::int32_t pitch) {
    static constexpr std::int8_t kSteps[12] = {0, 0, 1, 1, 2, 3, 3, 4, 4, 5, 5, 6};
    static constexpr std::int8_t kAlters[12] = {0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0};
    // Floor division keeps a pitch outside 0..127 from indexing outside the table.
    const std::int32_t pitchClass = ((pitch % 12) + 12) % 12;
    const std::int32_t octave = (pitch - pitchClass) / 12 - 1;
    return {kSteps[pitchClass], kAlters[pitchClass], WrittenOctave(octave)};
}

std::string_view ChooseClefSign(const TMidiTrack& track) {
    if (track.ClefMode == TClefMode::cmTreble) return "G";
    if (track.ClefMode == TClefMode::cmBass) return "F";
    const auto& notes = track.Notes();
    if (notes.empty()) return "G";
    std::int64_t sum = 0;
    for (const auto& note : notes) sum += note.Pitch;
    return sum / static_cast<std::int64_t>(notes.size()) < 60 ? "F" : "G";
}

}  // namespace korvalin
