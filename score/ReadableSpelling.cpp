// Spelling of the readable notation: every pitch named as the key and the
// music around it suggest, and the accidentals a player needs to read it.
//
// Spellings are placed on the line of fifths (... Bb F C G D A E B F# ...):
// the notes of the key lie in one window of it, and a chromatic note takes the
// spelling nearest to where the music has recently been, pulled towards the
// sharp side when it leads up by a semitone and towards the flats when it
// leads down, and kept so that notes sounding together form thirds rather
// than augmented or diminished intervals.

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "ReadableSteps.h"
#include "StaffGeometry.h"

namespace korvalin {
namespace {

constexpr std::array<std::int8_t, 7> kStepOfBase = {3, 0, 4, 1, 5, 2, 6};  // base -1..5: F C G D A E B
constexpr std::array<std::int32_t, 7> kStepSemitone = {0, 2, 4, 5, 7, 9, 11};

// The spelling at a place on the line of fifths (C = 0, G = 1, F = -1).
struct TFifthsSpelling {
    std::int8_t Step;
    std::int8_t Alter;
};

TFifthsSpelling SpellingAt(std::int32_t fifths) {
    const std::int32_t alter = FloorDiv(fifths + 1, 7);
    const std::int32_t base = fifths - 7 * alter;
    return {kStepOfBase[static_cast<std::size_t>(base + 1)], static_cast<std::int8_t>(alter)};
}

// Where the pitch class sits on the line of fifths between F (-1) and A# (10).
std::int32_t NearestFifths(std::int32_t pitchClass) {
    for (std::int32_t q = -1; q <= 10; ++q)
        if (((7 * q) % 12 + 12) % 12 == pitchClass) return q;
    return 0;
}

// The written pitch for a spelling, or false when its octave is not 0..9.
bool Written(std::int32_t pitch, std::int32_t fifths, TSpelledPitch& out) {
    // Keys below C0 are written an octave up, as in the transcription as played.
    const std::int32_t shown = pitch < 12 ? pitch + 12 * ((11 - pitch) / 12 + 1) : pitch;
    const TFifthsSpelling spelling = SpellingAt(fifths);
    const std::int32_t octave =
        FloorDiv(shown - spelling.Alter - kStepSemitone[static_cast<std::size_t>(spelling.Step)], 12) - 1;
    if (octave < 0 || octave > 9 || spelling.Alter < -2 || spelling.Alter > 2) return false;
    out = {spelling.Step, spelling.Alter, static_cast<std::int8_t>(octave)};
    return true;
}

bool InKey(std::int32_t fifths, const TScoreKey& key) {
    if (fifths >= key.Fifths - 1 && fifths <= key.Fifths + 5) return true;
    // the raised sixth and seventh of a minor key
    return key.Minor && (fifths == key.Fifths + 6 || fifths == key.Fifths + 8);
}

double KeyCentre(const TScoreKey& key) { return key.Fifths + (key.Minor ? 3.0 : 2.0); }

// What the neighbours of a note in its own line say: the next or the previous
// note a semitone away.
struct TNeighbours {
    bool NextUp = false, NextDown = false, PreviousUp = false, PreviousDown = false;
    // The notes a semitone away before and after, for their letters; -1 for none.
    std::int64_t Previous = -1, Next = -1;
};

std::vector<TNeighbours> FindNeighbours(const std::vector<TPartNote>& notes) {
    // By line (staff and voice), each in time order: the notes come in time
    // order, so the lines are counted out.
    const auto lineOf = [](const TPartNote& note) {
        return static_cast<std::size_t>(note.Staff * 64 + std::min(note.Voice, 63));
    };
    std::vector<std::size_t> firstOfLine(3 * 64 + 1, 0);
    for (const auto& note : notes) ++firstOfLine[lineOf(note) + 1];
    for (std::size_t l = 1; l < firstOfLine.size(); ++l) firstOfLine[l] += firstOfLine[l - 1];
    std::vector<std::size_t> order(notes.size());
    for (std::size_t i = 0; i < notes.size(); ++i) order[firstOfLine[lineOf(notes[i])]++] = i;
    std::vector<TNeighbours> result(notes.size());
    const auto sameLine = [&](std::size_t a, std::size_t b) {
        return notes[a].Staff == notes[b].Staff && notes[a].Voice == notes[b].Voice;
    };
    // Chords of one line as runs of `order` with one start.
    std::vector<std::pair<std::size_t, std::size_t>> chords;
    for (std::size_t i = 0; i < order.size();) {
        std::size_t j = i;
        while (j < order.size() && sameLine(order[i], order[j]) && notes[order[j]].Start == notes[order[i]].Start) ++j;
        chords.emplace_back(i, j);
        i = j;
    }
    const auto find = [&](std::pair<std::size_t, std::size_t> chord, std::int32_t pitch) -> std::int64_t {
        for (std::size_t k = chord.first; k < chord.second; ++k)
            if (notes[order[k]].Pitch == pitch) return static_cast<std::int64_t>(order[k]);
        return -1;
    };
    const auto has = [&](std::pair<std::size_t, std::size_t> chord, std::int32_t pitch) {
        return find(chord, pitch) >= 0;
    };
    for (std::size_t c = 0; c < chords.size(); ++c) {
        const bool hasNext = c + 1 < chords.size() && sameLine(order[chords[c].first], order[chords[c + 1].first]);
        const bool hasPrevious = c > 0 && sameLine(order[chords[c].first], order[chords[c - 1].first]);
        for (std::size_t k = chords[c].first; k < chords[c].second; ++k) {
            const std::int32_t pitch = notes[order[k]].Pitch;
            TNeighbours& n = result[order[k]];
            if (hasNext) {
                n.NextUp = has(chords[c + 1], pitch + 1);
                n.NextDown = has(chords[c + 1], pitch - 1);
                n.Next = std::max(find(chords[c + 1], pitch + 1), find(chords[c + 1], pitch - 1));
            }
            if (hasPrevious) {
                n.PreviousUp = has(chords[c - 1], pitch + 1);
                n.PreviousDown = has(chords[c - 1], pitch - 1);
                n.Previous = std::max(find(chords[c - 1], pitch + 1), find(chords[c - 1], pitch - 1));
            }
        }
    }
    return result;
}

// The key's own alteration of each step.
std::array<std::int8_t, 7> KeyAlterations(const TScoreKey& key) {
    static constexpr std::int8_t kSharpOrder[7] = {3, 0, 4, 1, 5, 2, 6};  // F C G D A E B
    std::array<std::int8_t, 7> alter{};
    for (std::int32_t i = 0; i < std::min(7, std::abs(key.Fifths)); ++i) {
        const std::size_t step = static_cast<std::size_t>(key.Fifths > 0 ? kSharpOrder[i] : kSharpOrder[6 - i]);
        alter[step] = static_cast<std::int8_t>(key.Fifths > 0 ? 1 : -1);
    }
    return alter;
}

TAccidental AccidentalFor(std::int8_t alter) {
    switch (alter) {
        case 1: return TAccidental::acSharp;
        case -1: return TAccidental::acFlat;
        case 2: return TAccidental::acDoubleSharp;
        case -2: return TAccidental::acFlatFlat;
        default: return TAccidental::acNatural;
    }
}

}  // namespace

void SpellNotes(std::vector<TPartNote>& notes, const TMeasureMap& map) {
    // The notes come by start and pitch.
    const std::vector<TNeighbours> neighbours = FindNeighbours(notes);
    std::vector<std::size_t> order(notes.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;

    const double quarter = static_cast<double>(map.UnitsPerWhole) / 4;
    const double memory = 8 * quarter;  // recent notes fade over about two bars of 4/4
    const double anchor = 4.0;          // the key weighs as much as four quarter notes
    double weightSum = 0, fifthsSum = 0;
    TScoreTime lastAt = 0;
    TScoreKey lastKey{std::numeric_limits<std::int32_t>::min(), false};
    struct TSounding {
        TScoreTime End;
        std::int32_t Fifths;
    };
    std::vector<TSounding> sounding;
    std::vector<std::size_t> chromatic;
    std::vector<std::array<std::int32_t, 2>> choices;
    std::vector<std::int32_t> chosen(notes.size(), 0);
    std::size_t measureHint = 0;

    for (std::size_t i = 0; i < order.size();) {
        std::size_t j = i;
        while (j < order.size() && notes[order[j]].Start == notes[order[i]].Start) ++j;
        const TScoreTime at = notes[order[i]].Start;
        const TScoreKey key = map.Measures[map.IndexAt(at, measureHint)].Key;
        if (key.Fifths != lastKey.Fifths || key.Minor != lastKey.Minor) {
            weightSum = fifthsSum = 0;  // a new key starts the memory afresh
            lastKey = key;
        }
        const double fade = std::exp(-static_cast<double>(at - lastAt) / memory);
        weightSum *= fade;
        fifthsSum *= fade;
        lastAt = at;
        const double centre = (anchor * KeyCentre(key) + fifthsSum) / (anchor + weightSum);
        sounding.erase(
            std::remove_if(sounding.begin(), sounding.end(), [&](const TSounding& s) { return s.End <= at; }),
            sounding.end());

        chromatic.clear();
        choices.clear();
        for (std::size_t k = i; k < j; ++k) {
            const std::size_t n = order[k];
            const std::int32_t pitchClass = ((notes[n].Pitch % 12) + 12) % 12;
            const std::int32_t near = NearestFifths(pitchClass);
            std::array<std::int32_t, 2> options{};
            std::size_t count = 0;
            TSpelledPitch probe;
            for (const std::int32_t q : {near - 12, near, near + 12})
                if (InKey(q, key) && Written(notes[n].Pitch, q, probe)) options[count++] = q;
            if (count == 1) {
                chosen[n] = options[0];
                continue;
            }
            // Chromatic: the sharp and the flat spelling, each with one alteration at most.
            count = 0;
            for (const std::int32_t q : {near - 12, near, near + 12}) {
                const TFifthsSpelling s = SpellingAt(q);
                if (s.Alter >= -1 && s.Alter <= 1 && Written(notes[n].Pitch, q, probe) && count < 2)
                    options[count++] = q;
            }
            if (count == 0) options[count++] = near;
            if (count == 1) options[1] = options[0];
            chromatic.push_back(n);
            choices.push_back(options);
        }

        // The letter a neighbour a semitone away is written with: the previous
        // one as it was spelled, the next one if the key spells it.
        const auto letterOf = [&](std::int64_t neighbour, bool spelledAlready) -> std::int32_t {
            if (neighbour < 0) return -1;
            const TPartNote& other = notes[static_cast<std::size_t>(neighbour)];
            if (spelledAlready)
                return other.Start < at ? SpellingAt(chosen[static_cast<std::size_t>(neighbour)]).Step : -1;
            const std::int32_t near = NearestFifths(((other.Pitch % 12) + 12) % 12);
            for (const std::int32_t q : {near - 12, near, near + 12})
                if (InKey(q, key)) return SpellingAt(q).Step;
            return -1;
        };
        const auto noteCost = [&](std::size_t n, std::int32_t q, const std::array<std::int32_t, 2>& options) {
            double cost = std::abs(q - centre);
            // A semitone step is a second: G - F# - G, not G - Gb - G.
            const std::int32_t letter = SpellingAt(q).Step;
            if (letterOf(neighbours[n].Previous, true) == letter) cost += 2.0;
            if (letterOf(neighbours[n].Next, false) == letter) cost += 2.0;
            const bool sharper = q == std::max(options[0], options[1]) && options[0] != options[1];
            const bool flatter = q == std::min(options[0], options[1]) && options[0] != options[1];
            // Where the note goes weighs more than where it came from: a lower
            // neighbour E - D# - E leans on the E it returns to.
            if (flatter && neighbours[n].NextUp) cost += 3.0;
            if (sharper && neighbours[n].NextDown) cost += 3.0;
            if (flatter && neighbours[n].PreviousDown) cost += 0.75;
            if (sharper && neighbours[n].PreviousUp) cost += 0.75;
            return cost;
        };
        const auto pairCost = [](std::int32_t a, std::int32_t b) {
            const std::int32_t distance = std::abs(a - b);
            return distance > 6 ? 1.5 * (distance - 6) : 0.0;
        };
        if (chromatic.size() <= 6) {
            // Every combination of the chromatic notes of this moment, against
            // each other, the fixed notes of the moment and what still sounds.
            double best = std::numeric_limits<double>::infinity();
            std::size_t bestMask = 0;
            for (std::size_t mask = 0; mask < (std::size_t{1} << chromatic.size()); ++mask) {
                double cost = 0;
                for (std::size_t c = 0; c < chromatic.size(); ++c) {
                    const std::int32_t q = choices[c][(mask >> c) & 1];
                    cost += noteCost(chromatic[c], q, choices[c]);
                    for (std::size_t d = 0; d < c; ++d) cost += pairCost(q, choices[d][(mask >> d) & 1]);
                    for (std::size_t k = i; k < j; ++k)
                        if (std::find(chromatic.begin(), chromatic.end(), order[k]) == chromatic.end())
                            cost += pairCost(q, chosen[order[k]]);
                    for (const auto& s : sounding) cost += pairCost(q, s.Fifths);
                }
                if (cost < best - 1e-9) {
                    best = cost;
                    bestMask = mask;
                }
            }
            for (std::size_t c = 0; c < chromatic.size(); ++c) chosen[chromatic[c]] = choices[c][(bestMask >> c) & 1];
        } else {
            for (std::size_t c = 0; c < chromatic.size(); ++c) {
                const auto& options = choices[c];
                chosen[chromatic[c]] =
                    noteCost(chromatic[c], options[1], options) < noteCost(chromatic[c], options[0], options)
                        ? options[1]
                        : options[0];
            }
        }

        for (std::size_t k = i; k < j; ++k) {
            const std::size_t n = order[k];
            TSpelledPitch spelled;
            if (!Written(notes[n].Pitch, chosen[n], spelled))
                Written(notes[n].Pitch, NearestFifths(((notes[n].Pitch % 12) + 12) % 12), spelled);
            notes[n].Spelled = spelled;
            const double weight = std::min(static_cast<double>(notes[n].End - notes[n].Start), 2 * quarter) / quarter;
            weightSum += weight;
            fifthsSum += weight * chosen[n];
            sounding.push_back({notes[n].End, chosen[n]});
        }
        i = j;
    }
}

void SetAccidentals(TScorePart& part, std::span<const TScoreVoice> voices, const TScoreKey& key,
                    std::vector<std::int8_t>& carried) {
    constexpr std::int8_t kNone = std::numeric_limits<std::int8_t>::max();
    constexpr std::size_t kPlaces = 70;  // diatonic steps C0 ... B9
    if (carried.size() != kPlaces) carried.assign(kPlaces, kNone);
    const std::array<std::int8_t, 7> keyAlter = KeyAlterations(key);

    struct TPlaced {
        TScoreTime Offset;
        std::uint32_t Head;
    };
    std::vector<TPlaced> heads;
    for (const auto& voice : voices)
        for (std::uint32_t e = 0; e < voice.EventCount; ++e) {
            const TScoreEvent& event = part.Events[voice.FirstEvent + e];
            for (std::uint32_t h = 0; h < event.HeadCount; ++h) heads.push_back({event.Offset, event.FirstHead + h});
        }
    std::stable_sort(heads.begin(), heads.end(),
                     [](const TPlaced& a, const TPlaced& b) { return a.Offset < b.Offset; });

    std::array<std::int8_t, kPlaces> state;
    state.fill(kNone);
    std::array<bool, kPlaces> seen{};
    const auto place = [](const TScoreHead& head) { return static_cast<std::size_t>(Diatonic(head)); };
    for (std::size_t i = 0; i < heads.size(); ++i) {
        TScoreHead& head = part.Heads[heads[i].Head];
        const std::size_t p = place(head);
        if (p >= kPlaces) continue;
        const std::int8_t current = state[p] != kNone ? state[p] : keyAlter[static_cast<std::size_t>(head.Step)];
        if (head.TieStop) {
            seen[p] = true;  // a note tied over keeps its sign without repeating it
            continue;
        }
        // Two notes of one step sounding together at different alterations both show theirs.
        bool clash = false;
        const auto check = [&](std::size_t k) {
            const TScoreHead& other = part.Heads[heads[k].Head];
            if (place(other) == p && other.Alter != head.Alter) clash = true;
        };
        for (std::size_t k = i; k-- > 0 && heads[k].Offset == heads[i].Offset;) check(k);
        for (std::size_t k = i + 1; k < heads.size() && heads[k].Offset == heads[i].Offset; ++k) check(k);
        const bool courtesy = !seen[p] && carried[p] != kNone && carried[p] != head.Alter;
        if (head.Alter != current || clash || courtesy) head.Accidental = AccidentalFor(head.Alter);
        state[p] = head.Alter;
        seen[p] = true;
    }
    for (std::size_t p = 0; p < kPlaces; ++p)
        carried[p] = state[p] != kNone && state[p] != keyAlter[p % 7] ? state[p] : kNone;
}

}  // namespace korvalin
