// Voices of one staff in the readable notation: notes that start together and
// end nearly together are one chord; a note that only overlaps the next one
// as played (legato) ends where the next begins; lines that really overlap
// go into voices, the upper one first, and keep their voice while they last.
// Two lines in different rhythms (triplets against straight eighths) meet on
// every beat and part a moment later: there each goes on in its own rhythm,
// and that, not the nearly equal ends, tells them apart.

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "ReadableSteps.h"

namespace korvalin {
namespace {

constexpr std::int32_t kMostVoices = 4;
// A line moves by steps: a whole tone at most, in semitones.
constexpr std::int32_t kLineStep = 2;

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

// A note or chord as a line sees it: its time and its middle pitch.
struct TLineSpan {
    TScoreTime Start = 0;
    TScoreTime End = 0;
    std::int32_t Pitch = 0;
};

// Where the lines of one staff go on: the onsets of its notes, by time.
class TStaffOnsets {
public:
    TStaffOnsets(const std::vector<TPartNote>& notes, const std::vector<std::size_t>& staffNotes, TScoreTime step,
                 TScoreTime unitsPerQuarter)
        : FNotes(notes), FStaffNotes(staffNotes), FStep(step), FApart(unitsPerQuarter / 8) {}

    // Whether a time is on the binary grid; the provisional places put an
    // onset between its points only for a triplet.
    bool OnGrid(TScoreTime at) const { return at % FStep == 0; }

    // Whether `a` and `b`, starting together, are two lines in different
    // rhythms (one in triplets, one straight): each goes on at an onset of its
    // own, nearer to it in pitch than to the other, and ends nearer its own
    // onset than the other's. The notes of a chord go on together, however
    // loosely they are released, and so do lines in one rhythm.
    bool Parting(const TLineSpan& a, const TLineSpan& b) const {
        if (a.End == b.End) return false;  // neither could end nearer its own onset
        const TScoreTime first = NextOnset(a, b.Pitch);
        const TScoreTime second = NextOnset(b, a.Pitch);
        if (first < 0 || second < 0 || !Apart(first, second)) return false;
        return std::abs(a.End - first) < std::abs(a.End - second) && std::abs(b.End - second) < std::abs(b.End - first);
    }

    // Whether `line`, overlapped by the onset of `other`, only sounds beside
    // it: it goes on at an onset of its own in the other rhythm, a step of
    // that rhythm on, and ends nearer that onset than the other's.
    bool GoesOnBeside(const TLineSpan& line, const TLineSpan& other) const {
        const TScoreTime own = NextOnset(line, other.Pitch);
        return own >= 0 && Apart(own, other.Start) && Apart(line.Start, other.Start) &&
               OnGrid(own - line.Start) == OnGrid(own) && std::abs(line.End - own) < std::abs(line.End - other.Start);
    }

private:
    // Whether two onsets keep different rhythms, one on the binary grid and
    // one off it, and lie apart as a triplet and a straight note do (a sixth
    // of a beat); closer, they are one chord played a little spread.
    bool Apart(TScoreTime first, TScoreTime second) const {
        return OnGrid(first) != OnGrid(second) && std::abs(first - second) >= FApart;
    }

    // Where the line of `span` goes on: the first later onset nearer to it
    // than to `away`, while the note lasts at least half the way there and
    // overlaps it by a grid step at most; -1 for none.
    TScoreTime NextOnset(const TLineSpan& span, std::int32_t away) const {
        auto it = std::upper_bound(FStaffNotes.begin(), FStaffNotes.end(), span.Start,
                                   [&](TScoreTime t, std::size_t n) { return t < FNotes[n].Start; });
        // A dense cluster says nothing of lines; a few notes are enough to look at.
        for (int seen = 0; it != FStaffNotes.end() && seen < kLooked; ++it, ++seen) {
            const TPartNote& next = FNotes[*it];
            if (next.Start - span.Start > 2 * (span.End - span.Start)) break;
            if (std::abs(next.Pitch - span.Pitch) >= std::abs(next.Pitch - away)) continue;
            return span.End - next.Start <= FStep ? next.Start : -1;
        }
        return -1;
    }

    static constexpr int kLooked = 16;

    const std::vector<TPartNote>& FNotes;
    const std::vector<std::size_t>& FStaffNotes;  // by start
    TScoreTime FStep;
    TScoreTime FApart;  // onsets this far apart or more were played apart
};

TLineSpan SpanOf(const TPartNote& note) { return {note.Start, note.End, note.Pitch}; }

// Chords of one staff: by start, and among equal starts the highest first.
std::vector<TChord> BuildChords(std::vector<TPartNote>& notes, const std::vector<std::size_t>& staffNotes,
                                TScoreTime step, const TStaffOnsets& onsets) {
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
        // Notes of another line that end inside the window stay for a chord of their own.
        std::vector<std::size_t> left;
        for (std::size_t k = 0; k < group.size();) {
            TChord chord;
            chord.Start = notes[group[k]].Start;
            const TPartNote& longest = notes[group[k]];
            std::size_t m = k;
            left.clear();
            for (; m < group.size() && notes[group[m]].End >= longest.End - step; ++m) {
                // One key struck twice at once (a unison of two voices) is two chords.
                const bool unison = std::any_of(chord.Notes.begin(), chord.Notes.end(),
                                                [&](std::size_t n) { return notes[n].Pitch == notes[group[m]].Pitch; });
                if (m > k && (unison || onsets.Parting(SpanOf(longest), SpanOf(notes[group[m]])))) {
                    left.push_back(group[m]);
                    continue;
                }
                chord.Notes.push_back(group[m]);
            }
            chord.End = notes[chord.Notes.back()].End;
            chord.Top = std::numeric_limits<std::int32_t>::min();
            chord.Bottom = std::numeric_limits<std::int32_t>::max();
            for (const std::size_t n : chord.Notes) {
                chord.Top = std::max(chord.Top, notes[n].Pitch);
                chord.Bottom = std::min(chord.Bottom, notes[n].Pitch);
            }
            chords.push_back(std::move(chord));
            // What was left comes next, still longest first.
            std::copy(left.begin(), left.end(), group.begin() + static_cast<std::ptrdiff_t>(m - left.size()));
            k = m - left.size();
        }
        std::sort(chords.begin() + static_cast<std::ptrdiff_t>(firstChord), chords.end(),
                  [](const TChord& a, const TChord& b) { return a.Top > b.Top; });
        i = j;
    }
    return chords;
}

// A chord that reaches a little into the next onset was held over as played;
// written, it ends where the next begins.
// The next onset may be the other line's, in its own rhythm, while this one
// goes on where it ends: then the two only sound together.
void TrimLegatoOverlaps(std::vector<TChord>& chords, TScoreTime step, TScoreTime unitsPerQuarter,
                        const TStaffOnsets& onsets) {
    for (std::size_t c = 0; c < chords.size(); ++c) {
        TChord& chord = chords[c];
        std::size_t n = c + 1;
        while (n < chords.size() && chords[n].Start == chord.Start) ++n;
        if (n >= chords.size() || chords[n].Start >= chord.End) continue;
        const TChord& next = chords[n];
        if (onsets.GoesOnBeside({chord.Start, chord.End, (chord.Top + chord.Bottom) / 2},
                                {next.Start, next.End, (next.Top + next.Bottom) / 2}))
            continue;
        const TScoreTime overlap = chord.End - next.Start;
        const TScoreTime tolerance = std::max(step, std::min(unitsPerQuarter, (chord.End - chord.Start) / 4));
        if (overlap <= tolerance) {
            chord.End = next.Start;
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

// The chord before and after each chord in its voice, by index; -1 for none.
void LinkVoices(const std::vector<TChord>& chords, std::vector<std::int32_t>& previous,
                std::vector<std::int32_t>& next) {
    previous.assign(chords.size(), -1);
    next.assign(chords.size(), -1);
    std::vector<std::int32_t> last(kMostVoices, -1);
    for (std::size_t c = 0; c < chords.size(); ++c) {
        if (chords[c].Voice < 0 || chords[c].Notes.empty()) continue;
        auto& before = last[static_cast<std::size_t>(chords[c].Voice)];
        if (before >= 0) {
            next[static_cast<std::size_t>(before)] = static_cast<std::int32_t>(c);
            previous[c] = before;
        }
        before = static_cast<std::int32_t>(c);
    }
}

// A note played detached (staccato) sounds about half its written value and
// leaves the rest of it silent: written, it takes that value back when the
// silence after it is at least as long as the note. Only values up to a
// quarter as played: a half note played as a quarter is far more often meant.
// The written value starts on a multiple of itself in the measure, and off the
// beat it stays inside its beat; a value that neither divides the beat nor
// spans whole beats (a quarter in 6/8) is not one a copyist writes there.
void RestoreDetachedValues(std::vector<TChord>& chords, const TMeasureMap& map, TScoreTime unitsPerQuarter) {
    const TScoreTime longestPlayed = unitsPerQuarter;
    std::vector<std::int32_t> previous, next;
    LinkVoices(chords, previous, next);
    std::size_t hint = 0;
    for (std::size_t c = 0; c < chords.size(); ++c) {
        TChord& chord = chords[c];
        if (chord.Voice < 0 || chord.Notes.empty() || chord.Trimmed) continue;
        const TScoreTime played = chord.End - chord.Start;
        const TScoreTime written = 2 * played;
        if (played <= 0 || played > longestPlayed) continue;
        if (next[c] >= 0 && chords[static_cast<std::size_t>(next[c])].Start < chord.Start + written) continue;
        const TMeasureSlot& slot = map.Measures[map.IndexAt(chord.Start, hint)];
        const TScoreTime offset = chord.Start - slot.Start;
        if (offset % written != 0 || offset + written > slot.Length) continue;
        const TScoreTime beat = slot.Meter.BeatAt(offset);
        const TScoreTime beatLength = slot.Meter.BeatLengthAt(offset);
        if (beatLength % written != 0 && written % beatLength != 0) continue;
        if (beat != offset && offset + written > beat + beatLength) continue;
        chord.End = chord.Start + written;
    }
}

// Chords taken out of others join the staff's chords in their order: by
// start, the highest first. (Their places before are no longer needed.)
void InsertInOrder(std::vector<TChord>& chords, std::vector<TChord> added) {
    if (added.empty()) return;
    chords.insert(chords.end(), std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
    std::stable_sort(chords.begin(), chords.end(), [](const TChord& x, const TChord& y) {
        return x.Start != y.Start ? x.Start < y.Start : x.Top > y.Top;
    });
}

// Two lines that both run on without a break and then move together are
// still two voices: a chord of two notes that follows both without a rest
// gives its lower note to the lower line, as a fugue's voices are written.
// An octave is one line doubled, and a fuller chord is harmony, not lines.
void KeepLinesApart(std::vector<TChord>& chords, const std::vector<TPartNote>& notes) {
    std::vector<TScoreTime> lastEnd(kMostVoices, -1);
    std::vector<std::size_t> lastSize(kMostVoices, 0);
    std::vector<TChord> added;
    for (TChord& chord : chords) {
        if (chord.Voice < 0 || chord.Notes.empty()) continue;
        if (chord.Voice == 0 && chord.Notes.size() == 2 && lastEnd[0] == chord.Start && lastEnd[1] == chord.Start &&
            lastSize[1] == 1) {
            const bool firstLower = notes[chord.Notes[0]].Pitch < notes[chord.Notes[1]].Pitch;
            const std::size_t low = chord.Notes[firstLower ? 0 : 1], high = chord.Notes[firstLower ? 1 : 0];
            if ((notes[high].Pitch - notes[low].Pitch) % 12 != 0) {
                TChord& lower = added.emplace_back(chord);
                lower.Notes = {low};
                lower.Voice = 1;
                lower.Top = lower.Bottom = notes[low].Pitch;
                chord.Notes = {high};
                chord.Top = chord.Bottom = notes[high].Pitch;
                lastEnd[1] = lower.End;
            }
        }
        lastEnd[static_cast<std::size_t>(chord.Voice)] = chord.End;
        lastSize[static_cast<std::size_t>(chord.Voice)] = chord.Notes.size();
    }
    InsertInOrder(chords, std::move(added));
}

// A line of single notes running on in equal values whose note on the beat
// tops a chord goes on as a line: the rest of the chord is the lower voice,
// where that voice is free. A line that only turns back (a trill) does not.
void SplitRunningTop(std::vector<TChord>& chords, const std::vector<TPartNote>& notes) {
    std::vector<std::int32_t> previous, next;
    LinkVoices(chords, previous, next);
    const auto lineGoesOn = [&](const TChord& before, const TChord& chord, const TChord& after) {
        const TScoreTime length = chord.End - chord.Start;
        return before.Notes.size() == 1 && after.Notes.size() == 1 && before.End == chord.Start &&
               after.Start == chord.End && before.End - before.Start == length && after.End - after.Start == length &&
               std::abs(before.Top - chord.Top) <= kLineStep && std::abs(after.Top - chord.Top) <= kLineStep &&
               before.Top != after.Top;
    };
    TScoreTime lowerEnd = std::numeric_limits<TScoreTime>::min();
    std::vector<TChord> added;
    for (std::size_t c = 0; c < chords.size(); ++c) {
        TChord& chord = chords[c];
        if (chord.Voice == 1) lowerEnd = std::max(lowerEnd, chord.End);
        if (chord.Voice != 0 || chord.Notes.size() < 2 || previous[c] < 0 || next[c] < 0 || lowerEnd > chord.Start)
            continue;
        if (!lineGoesOn(chords[static_cast<std::size_t>(previous[c])], chord,
                        chords[static_cast<std::size_t>(next[c])]))
            continue;
        bool lowerStarts = false;
        for (std::size_t k = c + 1; k < chords.size() && chords[k].Start < chord.End; ++k)
            lowerStarts = lowerStarts || chords[k].Voice == 1;
        if (lowerStarts) continue;
        const std::size_t top =
            *std::max_element(chord.Notes.begin(), chord.Notes.end(),
                              [&](std::size_t a, std::size_t b) { return notes[a].Pitch < notes[b].Pitch; });
        TChord& lower = added.emplace_back(chord);
        lower.Voice = 1;
        lower.Notes.erase(std::find(lower.Notes.begin(), lower.Notes.end(), top));
        lower.Top = std::numeric_limits<std::int32_t>::min();
        for (const std::size_t n : lower.Notes) lower.Top = std::max(lower.Top, notes[n].Pitch);
        chord.Notes = {top};
        chord.Bottom = chord.Top;
        lowerEnd = chord.End;
    }
    InsertInOrder(chords, std::move(added));
}

class TVoiceLayer {
public:
    TVoiceLayer(std::vector<TChord>& chords, const TMeasureMap& map, const TStaffOnsets& onsets)
        : FChords(chords), FMap(map), FOnsets(onsets) {}

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
    // When both lines end here, the lower one goes on so only where it has run
    // on without a break beside the upper one in another rhythm (straight
    // notes against triplets), and only inside a measure: on a bar line a
    // single line is the first voice again.
    std::int32_t ContinuingVoice(const TChord& chord) {
        if (FLast.size() < 2 || FLast[1] < 0 || End(1) != chord.Start) return 0;
        if (FLast[0] >= 0 && End(0) == chord.Start && !LowerLineGoesOn(chord.Start)) return 0;
        const TChord& lower = FChords[static_cast<std::size_t>(FLast[1])];
        if (FLast[0] < 0) return 1;
        const TChord& upper = FChords[static_cast<std::size_t>(FLast[0])];
        return std::abs(chord.Top - lower.Top) < std::abs(chord.Top - upper.Top) ? 1 : 0;
    }

    bool LowerLineGoesOn(TScoreTime at) {
        const TChord& lower = FChords[static_cast<std::size_t>(FLast[1])];
        if (lower.Previous < 0 || FChords[static_cast<std::size_t>(lower.Previous)].End != lower.Start) return false;
        if (InTriplets(0) == InTriplets(1)) return false;
        return FMap.Measures[FMap.IndexAt(at, FHint)].Start != at;
    }

    // Whether the voice's last two chords include one off the binary grid.
    bool InTriplets(std::int32_t voice) const {
        const TChord& last = FChords[static_cast<std::size_t>(FLast[static_cast<std::size_t>(voice)])];
        if (!FOnsets.OnGrid(last.Start)) return true;
        return last.Previous >= 0 && !FOnsets.OnGrid(FChords[static_cast<std::size_t>(last.Previous)].Start);
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
    const TMeasureMap& FMap;
    const TStaffOnsets& FOnsets;
    std::size_t FHint = 0;            // the measure of the last chord asked about
    std::vector<std::int32_t> FLast;  // per voice, its last chord; -1 for none
};

}  // namespace

bool PlayedOffTheGrid(const TMidiTrack& track, const TUnitScale& scale) {
    // Triplets entered on their own grid are as exact as the straight notes.
    std::size_t off = 0;
    for (const auto& note : track.Notes())
        off += OnSomeGrid(note.StartTick, scale.TicksPerQuarter, scale.TicksPerStep) &&
                       OnSomeGrid(note.EndTick, scale.TicksPerQuarter, scale.TicksPerStep)
                   ? 0u
                   : 1u;
    return off * 5 > track.Notes().size();
}

void AssignVoices(std::vector<TPartNote>& notes, std::int32_t staff, const TMeasureMap& map, TScoreTime step,
                  TScoreTime unitsPerQuarter, bool asPerformed) {
    // The notes come by start and pitch; the staff's are taken highest first at each start.
    std::vector<std::size_t> staffNotes;
    for (std::size_t i = 0; i < notes.size(); ++i)
        if (notes[i].Staff == staff) staffNotes.push_back(i);
    for (std::size_t i = 0; i < staffNotes.size();) {
        std::size_t j = i + 1;
        while (j < staffNotes.size() && notes[staffNotes[j]].Start == notes[staffNotes[i]].Start) ++j;
        std::reverse(staffNotes.begin() + static_cast<std::ptrdiff_t>(i),
                     staffNotes.begin() + static_cast<std::ptrdiff_t>(j));
        i = j;
    }
    const TStaffOnsets onsets(notes, staffNotes, step, unitsPerQuarter);
    std::vector<TChord> chords = BuildChords(notes, staffNotes, step, onsets);
    TrimLegatoOverlaps(chords, step, unitsPerQuarter, onsets);
    TVoiceLayer layer(chords, map, onsets);
    for (std::size_t c = 0; c < chords.size(); ++c) layer.Place(c);
    SplitRunningTop(chords, notes);
    KeepLinesApart(chords, notes);
    if (asPerformed) CloseArticulationGaps(chords, step, unitsPerQuarter);
    else RestoreDetachedValues(chords, map, unitsPerQuarter);
    for (const TChord& chord : chords)
        for (const std::size_t n : chord.Notes) {
            notes[n].Voice = chord.Voice;
            notes[n].End = chord.End;
        }
}

}  // namespace korvalin
