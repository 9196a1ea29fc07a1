// Voices of one staff in the readable notation: notes that start together and
// end nearly together are one chord; a note that only overlaps the next one
// as played (legato) ends where the next begins; lines that really overlap
// go into voices, the upper one first, and keep their voice while they last.

#include <algorithm>
#include <limits>

#include "ReadableSteps.h"

namespace korvalin {
namespace {

constexpr std::int32_t kMostVoices = 4;

struct TChord {
    TScoreTime Start = 0;
    TScoreTime End = 0;
    std::int32_t Top = 0;
    std::int32_t Bottom = 0;
    std::vector<std::size_t> Notes;
    std::int32_t Voice = -1;
    std::int32_t Previous = -1;  // the chord before it in its voice
    bool Trimmed = false;        // ends where the staff's next chord begins
};

// Chords of one staff: by start, and among equal starts the highest first.
std::vector<TChord> BuildChords(std::vector<TPartNote>& notes, const std::vector<std::size_t>& staffNotes,
                                TScoreTime step) {
    std::vector<TChord> chords;
    for (std::size_t i = 0; i < staffNotes.size();) {
        std::size_t j = i;
        while (j < staffNotes.size() && notes[staffNotes[j]].Start == notes[staffNotes[i]].Start) ++j;
        // Longest first, then notes whose end is within a grid step join it.
        std::vector<std::size_t> group(staffNotes.begin() + static_cast<std::ptrdiff_t>(i),
                                       staffNotes.begin() + static_cast<std::ptrdiff_t>(j));
        std::sort(group.begin(), group.end(), [&](std::size_t a, std::size_t b) {
            return notes[a].End != notes[b].End ? notes[a].End > notes[b].End : notes[a].Pitch > notes[b].Pitch;
        });
        const std::size_t firstChord = chords.size();
        for (std::size_t k = 0; k < group.size();) {
            TChord chord;
            chord.Start = notes[group[k]].Start;
            const TScoreTime longest = notes[group[k]].End;
            std::size_t m = k;
            while (m < group.size() && notes[group[m]].End >= longest - step) ++m;
            chord.End = notes[group[m - 1]].End;
            chord.Top = std::numeric_limits<std::int32_t>::min();
            chord.Bottom = std::numeric_limits<std::int32_t>::max();
            for (std::size_t n = k; n < m; ++n) {
                chord.Notes.push_back(group[n]);
                chord.Top = std::max(chord.Top, notes[group[n]].Pitch);
                chord.Bottom = std::min(chord.Bottom, notes[group[n]].Pitch);
            }
            chords.push_back(std::move(chord));
            k = m;
        }
        std::sort(chords.begin() + static_cast<std::ptrdiff_t>(firstChord), chords.end(),
                  [](const TChord& a, const TChord& b) { return a.Top > b.Top; });
        i = j;
    }
    return chords;
}

// A chord that reaches a little into the next onset was held over as played;
// written, it ends where the next begins.
void TrimLegatoOverlaps(std::vector<TChord>& chords, TScoreTime step, TScoreTime unitsPerQuarter) {
    for (std::size_t c = 0; c < chords.size(); ++c) {
        TChord& chord = chords[c];
        std::size_t n = c + 1;
        while (n < chords.size() && chords[n].Start == chord.Start) ++n;
        if (n >= chords.size() || chords[n].Start >= chord.End) continue;
        const TScoreTime overlap = chord.End - chords[n].Start;
        const TScoreTime tolerance = std::max(step, std::min(unitsPerQuarter, (chord.End - chord.Start) / 4));
        if (overlap <= tolerance) {
            chord.End = chords[n].Start;
            chord.Trimmed = true;
        }
    }
}

// A player lifts the hand a little before the next note; a copyist writes the
// note to the next one of its voice instead of adding a short rest. A silence
// of half the time between the notes or more is a rest the music means.
void CloseArticulationGaps(std::vector<TChord>& chords, TScoreTime step, TScoreTime unitsPerQuarter) {
    std::vector<std::int32_t> last(kMostVoices, -1);
    for (std::size_t c = 0; c < chords.size(); ++c) {
        const TChord& chord = chords[c];
        if (chord.Voice < 0 || chord.Notes.empty()) continue;
        const std::int32_t previous = last[static_cast<std::size_t>(chord.Voice)];
        last[static_cast<std::size_t>(chord.Voice)] = static_cast<std::int32_t>(c);
        if (previous < 0) continue;
        TChord& before = chords[static_cast<std::size_t>(previous)];
        if (before.Trimmed) continue;  // it already ends where the music goes on
        const TScoreTime gap = chord.Start - before.End;
        const TScoreTime between = chord.Start - before.Start;
        if (gap <= 0 || gap > unitsPerQuarter) continue;
        if (gap * 5 <= between * 2 || (gap <= step && gap * 2 < between)) before.End = chord.Start;
    }
}

class TVoiceLayer {
public:
    explicit TVoiceLayer(std::vector<TChord>& chords) : FChords(chords) {}

    void Place(std::size_t index) {
        TChord& chord = FChords[index];
        const TScoreTime at = chord.Start;
        std::vector<std::int32_t> busy;
        for (std::int32_t v = 0; v < static_cast<std::int32_t>(FLast.size()); ++v)
            if (End(v) > at) busy.push_back(v);
        if (busy.empty()) {
            Put(index, ContinuingVoice(chord));
            return;
        }
        if (busy.size() == 1) {
            const std::int32_t other = busy.front();
            TChord& sounding = FChords[static_cast<std::size_t>(FLast[static_cast<std::size_t>(other)])];
            const bool above = chord.Top + chord.Bottom > sounding.Top + sounding.Bottom;
            // The upper line belongs in the lower-numbered voice: when the
            // sounding chord could as well have been in the other voice, move it.
            if (above && other == 0 && Free(1, sounding.Start)) {
                Move(sounding, 0, 1);
                Put(index, 0);
                return;
            }
            if (!above && other == 1 && Free(0, sounding.Start)) {
                Move(sounding, 1, 0);
                Put(index, 1);
                return;
            }
        }
        for (std::int32_t v = 0; v < kMostVoices; ++v)
            if (v >= static_cast<std::int32_t>(FLast.size()) || End(v) <= at) {
                Put(index, v);
                return;
            }
        // More independent lines than a staff can show: the one that ends first
        // is cut here and its voice goes on with this chord; when every line
        // starts here too, this chord joins the one that ends nearest to it.
        std::int32_t soonest = -1;
        for (std::int32_t v = 0; v < kMostVoices; ++v) {
            const TChord& last = FChords[static_cast<std::size_t>(FLast[static_cast<std::size_t>(v)])];
            if (last.Start < at && (soonest < 0 || End(v) < End(soonest))) soonest = v;
        }
        if (soonest >= 0) {
            FChords[static_cast<std::size_t>(FLast[static_cast<std::size_t>(soonest)])].End = at;
            Put(index, soonest);
            return;
        }
        std::int32_t nearest = 0;
        for (std::int32_t v = 1; v < kMostVoices; ++v)
            if (std::abs(End(v) - chord.End) < std::abs(End(nearest) - chord.End)) nearest = v;
        TChord& host = FChords[static_cast<std::size_t>(FLast[static_cast<std::size_t>(nearest)])];
        host.Notes.insert(host.Notes.end(), chord.Notes.begin(), chord.Notes.end());
        host.Top = std::max(host.Top, chord.Top);
        host.Bottom = std::min(host.Bottom, chord.Bottom);
        chord.Notes.clear();
    }

private:
    TScoreTime End(std::int32_t voice) const {
        const std::int32_t last = FLast[static_cast<std::size_t>(voice)];
        return last < 0 ? std::numeric_limits<TScoreTime>::min() : FChords[static_cast<std::size_t>(last)].End;
    }

    // Whether `voice` had nothing sounding from `since` on (before its last chord).
    bool Free(std::int32_t voice, TScoreTime since) const {
        return voice >= static_cast<std::int32_t>(FLast.size()) || End(voice) <= since;
    }

    // With nothing sounding, a line goes on in the voice it was in: the lower
    // voice keeps a line that continues straight on while the upper one rests.
    std::int32_t ContinuingVoice(const TChord& chord) const {
        if (FLast.size() < 2 || FLast[1] < 0 || End(1) != chord.Start) return 0;
        if (FLast[0] >= 0 && End(0) == chord.Start) return 0;
        const TChord& lower = FChords[static_cast<std::size_t>(FLast[1])];
        if (FLast[0] < 0) return 1;
        const TChord& upper = FChords[static_cast<std::size_t>(FLast[0])];
        return std::abs(chord.Top - lower.Top) < std::abs(chord.Top - upper.Top) ? 1 : 0;
    }

    void Move(TChord& chord, std::int32_t from, std::int32_t to) {
        const auto index = static_cast<std::int32_t>(&chord - FChords.data());
        FLast[static_cast<std::size_t>(from)] = chord.Previous;
        if (to >= static_cast<std::int32_t>(FLast.size())) FLast.resize(static_cast<std::size_t>(to) + 1, -1);
        chord.Previous = FLast[static_cast<std::size_t>(to)];
        chord.Voice = to;
        FLast[static_cast<std::size_t>(to)] = index;
    }

    void Put(std::size_t index, std::int32_t voice) {
        if (voice >= static_cast<std::int32_t>(FLast.size())) FLast.resize(static_cast<std::size_t>(voice) + 1, -1);
        TChord& chord = FChords[index];
        chord.Voice = voice;
        chord.Previous = FLast[static_cast<std::size_t>(voice)];
        FLast[static_cast<std::size_t>(voice)] = static_cast<std::int32_t>(index);
    }

    std::vector<TChord>& FChords;
    std::vector<std::int32_t> FLast;  // per voice, its last chord; -1 for none
};

}  // namespace

bool PlayedOffTheGrid(const TMidiTrack& track, std::int64_t ticksPerStep) {
    const std::int64_t tolerance = std::max<std::int64_t>(1, ticksPerStep / 10);
    const auto offGrid = [&](std::int64_t tick) {
        const std::int64_t remainder = tick % ticksPerStep;
        return std::min(remainder, ticksPerStep - remainder) > tolerance;
    };
    std::size_t off = 0;
    for (const auto& note : track.Notes()) off += offGrid(note.StartTick) || offGrid(note.EndTick) ? 1u : 0u;
    return off * 5 > track.Notes().size();
}

void AssignVoices(std::vector<TPartNote>& notes, std::int32_t staff, TScoreTime step, TScoreTime unitsPerQuarter,
                  bool asPerformed) {
    // The notes come by start and pitch; the staff's are taken highest first at each start.
    std::vector<std::size_t> staffNotes;
    for (std::size_t i = 0; i < notes.size(); ++i)
        if (notes[i].Staff == staff) staffNotes.push_back(i);
    for (std::size_t i = 0; i < staffNotes.size();) {
        std::size_t j = i + 1;
        while (j < staffNotes.size() && notes[staffNotes[j]].Start == notes[staffNotes[i]].Start) ++j;
        std::reverse(staffNotes.begin() + static_cast<std::ptrdiff_t>(i), staffNotes.begin() + static_cast<std::ptrdiff_t>(j));
        i = j;
    }
    std::vector<TChord> chords = BuildChords(notes, staffNotes, step);
    TrimLegatoOverlaps(chords, step, unitsPerQuarter);
    TVoiceLayer layer(chords);
    for (std::size_t c = 0; c < chords.size(); ++c) layer.Place(c);
    if (asPerformed) CloseArticulationGaps(chords, step, unitsPerQuarter);
    for (const TChord& chord : chords)
        for (const std::size_t n : chord.Notes) {
            notes[n].Voice = chord.Voice;
            notes[n].End = chord.End;
        }
}

}  // namespace korvalin
