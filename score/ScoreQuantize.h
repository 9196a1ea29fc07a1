#pragma once

// Quantisation: every note start and end moves to the nearest point of the
// grid, and notes of one track that then share their span become one chord.

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "MidiParser.h"

namespace korvalin {

struct TQuantSpan {
    std::int64_t Start;
    std::int64_t End;
};

// One chord (or single note) after quantisation: every pitch that sounds over
// exactly this span, as a range of its list's pitches.
struct TChordEvent {
    std::int64_t StartTick = 0;
    std::int64_t EndTick = 0;
    std::uint32_t FirstPitch = 0;
    std::uint32_t PitchCount = 0;
};

// The chords of one track in score order: by start, the longest first among
// equal starts; each chord's pitches ascending, each pitch once.
struct TChordList {
    std::vector<TChordEvent> Events;
    std::vector<std::int32_t> Pitches;

    std::span<const std::int32_t> PitchesOf(const TChordEvent& event) const {
        return {Pitches.data() + event.FirstPitch, event.PitchCount};
    }
};

// The grid point for a tick: the nearest, an exact half going up; an odd step
// truncates its half first. A step of 0 or less leaves the tick as it is.
inline std::int64_t QuantizeTick(std::int64_t value, std::int64_t step) {
    if (step <= 0) return value;
    return ((value + step / 2) / step) * step;
}

// Start and end are rounded independently; a note that collapses keeps one step.
inline TQuantSpan QuantizeNote(const TMidiNote& note, std::int64_t step) {
    const std::int64_t start = QuantizeTick(note.StartTick, step);
    std::int64_t end = QuantizeTick(note.EndTick, step);
    if (end <= start) end = start + step;
    return {start, end};
}

// A track's notes stand in the order of their endings, which is nearly the
// order of their starts: insertion sort finishes such a list in about one
// pass. A list far from sorted goes to the general sort instead.
template <typename T, typename Less>
void SortNearlySorted(std::vector<T>& items, Less less) {
    std::size_t moves = 0;
    const std::size_t budget = items.size() + 64;
    for (std::size_t i = 1; i < items.size(); ++i) {
        if (!less(items[i], items[i - 1])) continue;
        T item = items[i];
        std::size_t j = i;
        while (j > 0 && less(item, items[j - 1])) {
            items[j] = items[j - 1];
            --j;
            if (++moves > budget) {
                items[j] = item;
                std::sort(items.begin(), items.end(), less);
                return;
            }
        }
        items[j] = item;
    }
}

// Notes of any channel and velocity that share their quantised span become one
// chord; a repeated pitch in a chord is kept once.
TChordList CollectChords(const TMidiTrack& track, std::int64_t step);

// The latest quantised end of any note of the tracks; 0 when none has notes.
std::int64_t QuantizedScoreEnd(std::span<const TMidiTrack* const> tracks, std::int64_t step);

}  // namespace korvalin
