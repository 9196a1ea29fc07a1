// The as-played quantisation: note starts and ends on the grid, notes of the
// same span gathered into chords.

#include "ScoreQuantize.h"

#include <algorithm>

namespace korvalin {

TChordList CollectChords(const TMidiTrack& track, std::int64_t step) {
    struct TQuantNote {
        std::int64_t Start;
        std::int64_t End;
        std::int32_t Pitch;
    };
    std::vector<TQuantNote> notes;
    notes.reserve(track.Notes().size());
    for (const auto& note : track.Notes()) {
        const TQuantSpan span = QuantizeNote(note, step);
        notes.push_back({span.Start, span.End, note.Pitch});
    }
    // One sort puts every chord together, in score order, with its pitches
    // ascending: cheaper than collecting spans in a hash table and sorting again.
    SortNearlySorted(notes, [](const TQuantNote& a, const TQuantNote& b) {
        if (a.Start != b.Start) return a.Start < b.Start;
        if (a.End != b.End) return a.End > b.End;
        return a.Pitch < b.Pitch;
    });
    TChordList chords;
    chords.Pitches.reserve(notes.size());
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const TQuantNote& note = notes[i];
        const bool sameSpan = i > 0 && notes[i - 1].Start == note.Start && notes[i - 1].End == note.End;
        if (!sameSpan) {
            chords.Events.push_back({note.Start, note.End, static_cast<std::uint32_t>(chords.Pitches.size()), 0});
        } else if (notes[i - 1].Pitch == note.Pitch) {
            continue;
        }
        chords.Pitches.push_back(note.Pitch);
        ++chords.Events.back().PitchCount;
    }
    return chords;
}

std::int64_t QuantizedScoreEnd(std::span<const TMidiTrack* const> tracks, std::int64_t step) {
    std::int64_t scoreEnd = 0;
    for (const TMidiTrack* track : tracks)
        for (const auto& note : track->Notes()) scoreEnd = std::max(scoreEnd, QuantizeNote(note, step).End);
    return scoreEnd;
}

}  // namespace korvalin
