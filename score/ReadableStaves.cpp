// Staves of the readable notation: which parts take a grand staff or a drum
// staff, which hand plays each note of a keyboard part, and the clef of every
// measure of a staff.

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <queue>
#include <string>
#include <utility>

#include "ReadableSteps.h"
#include "StaffGeometry.h"

namespace korvalin {
namespace {

// Where the clefs meet: G3 and up sit well in the treble clef, G4 and down in the bass clef.
constexpr std::size_t kTrebleFloor = 55, kBassCeiling = 67;
// Two tracks read as the two hands of one keyboard when the upper's middle
// note lies this many semitones above the lower's, this share of each sits in
// its own clef, and they play together over this share of the shorter one.
constexpr double kHandsApart = 7.0, kHandInItsClef = 0.7, kHandsTogether = 0.5;

// General MIDI programs written on two staves: pianos, celesta, organs,
// accordions and the harp.
bool IsKeyboardProgram(std::int32_t program) {
    return (program >= 0 && program <= 8) || (program >= 16 && program <= 21) || program == 23 || program == 46;
}

bool NameSuggestsKeyboard(const TMidiTrack& track) {
    static constexpr std::string_view kWords[] = {
        "piano",    "klavier", "pno",  "keyboard",  "organ",      "orgel", "harpsichord", "cembalo",
        "clavi",    "celesta", "harp", "accordion", "фортепиано", "рояль", "пианино",     "орган",
        "клавесин", "челеста", "арфа", "аккордеон", "баян",       "клавиш"};
    for (const std::string* text : {&track.Name, &track.InstrumentName}) {
        const std::string lower = LowercaseName(*text);
        for (const auto word : kWords)
            if (lower.find(word) != std::string::npos) return true;
    }
    return false;
}

// The share of note-ons at which the notes sounding together span two octaves or more.
double ShareOfWideMoments(const std::vector<TMidiNote>& notes) {
    std::vector<std::size_t> order(notes.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return notes[a].StartTick < notes[b].StartTick; });
    std::array<std::int32_t, 128> count{};
    std::array<std::uint64_t, 2> sounding{};
    using TEnd = std::pair<std::int64_t, std::int32_t>;
    std::priority_queue<TEnd, std::vector<TEnd>, std::greater<>> ends;
    std::size_t wide = 0;
    for (const std::size_t i : order) {
        const TMidiNote& note = notes[i];
        while (!ends.empty() && ends.top().first <= note.StartTick) {
            const std::int32_t p = ends.top().second;
            ends.pop();
            if (--count[static_cast<std::size_t>(p)] == 0)
                sounding[static_cast<std::size_t>(p) / 64] &= ~(std::uint64_t{1} << (p % 64));
        }
        const std::int32_t p = note.Pitch & 127;
        if (count[static_cast<std::size_t>(p)]++ == 0)
            sounding[static_cast<std::size_t>(p) / 64] |= std::uint64_t{1} << (p % 64);
        ends.emplace(std::max(note.EndTick, note.StartTick + 1), p);
        const int low = sounding[0] != 0 ? __builtin_ctzll(sounding[0]) : 64 + __builtin_ctzll(sounding[1]);
        const int high = sounding[1] != 0 ? 127 - __builtin_clzll(sounding[1]) : 63 - __builtin_clzll(sounding[0]);
        if (high - low >= 24) ++wide;
    }
    return notes.empty() ? 0.0 : static_cast<double>(wide) / static_cast<double>(notes.size());
}

// What a note costs to read in a clef: its ledger lines, more steeply past two.
double ReadingCost(const TPartNote& note, std::string_view clef) {
    const int lines = LedgerLines(Diatonic(note.Spelled), clef);
    return lines + (lines > 2 ? 2.0 * (lines - 2) : 0.0);
}

// Where a track sits and when it plays, for telling the two hands of one
// keyboard apart from two instruments.
struct TTrackSpread {
    double Median = 0;
    double TrebleShare = 0;  // of notes from G3 up
    double BassShare = 0;    // of notes up to G4
    std::int64_t First = 0, Last = 0;
    bool Pitched = false;
};

TTrackSpread SpreadOf(const TMidiTrack& track) {
    TTrackSpread spread;
    const auto& notes = track.Notes();
    if (notes.empty()) return spread;
    std::array<std::size_t, 128> count{};
    std::size_t drums = 0;
    spread.First = std::numeric_limits<std::int64_t>::max();
    spread.Last = std::numeric_limits<std::int64_t>::min();
    for (const auto& note : notes) {
        ++count[static_cast<std::size_t>(note.Pitch & 127)];
        drums += note.Channel == kDrumChannel ? 1 : 0;
        spread.First = std::min(spread.First, note.StartTick);
        spread.Last = std::max(spread.Last, std::max(note.EndTick, note.StartTick));
    }
    const double size = static_cast<double>(notes.size());
    std::size_t seen = 0, high = 0, low = 0;
    bool medianFound = false;
    for (std::size_t p = 0; p < count.size(); ++p) {
        seen += count[p];
        if (!medianFound && static_cast<double>(seen) * 2 >= size) {
            spread.Median = static_cast<double>(p);
            medianFound = true;
        }
        high += p >= kTrebleFloor ? count[p] : 0;
        low += p <= kBassCeiling ? count[p] : 0;
    }
    spread.TrebleShare = static_cast<double>(high) / size;
    spread.BassShare = static_cast<double>(low) / size;
    spread.Pitched = drums * 2 <= notes.size();
    return spread;
}

// A track may be one hand of a keyboard when its sound is a keyboard's: a
// keyboard program, or none at all (General MIDI then plays a piano) unless
// its name says it is another instrument.
bool MayBeAHand(const TMidiTrack& track) {
    if (track.ProgramNumber >= 0) return IsKeyboardProgram(track.ProgramNumber);
    return NameSuggestsKeyboard(track) || !NamesAnInstrument(track.Name);
}

}  // namespace

bool PlayedAsTwoHands(const TMidiTrack& upper, const TMidiTrack& lower) {
    if (upper.Notes().empty() || lower.Notes().empty()) return false;
    if (AreTwoHands(upper.Name, lower.Name)) return true;
    if (!MayBeAHand(upper) || !MayBeAHand(lower)) return false;
    // Two hands play one sound: two different programs are two instruments.
    if (upper.ProgramNumber >= 0 && lower.ProgramNumber >= 0 && upper.ProgramNumber != lower.ProgramNumber)
        return false;
    const TTrackSpread high = SpreadOf(upper), low = SpreadOf(lower);
    if (!high.Pitched || !low.Pitched) return false;
    // The right hand sits mostly in the treble clef and the left in the bass,
    // a fifth or more apart, and both play through most of the same stretch.
    if (high.Median < low.Median + kHandsApart || high.TrebleShare < kHandInItsClef || low.BassShare < kHandInItsClef)
        return false;
    const std::int64_t shared = std::min(high.Last, low.Last) - std::max(high.First, low.First);
    const std::int64_t shorter = std::min(high.Last - high.First, low.Last - low.First);
    return shorter > 0 && static_cast<double>(shared) >= kHandsTogether * static_cast<double>(shorter);
}

TReadableStaves ClassifyTrack(const TMidiTrack& track) {
    const auto& notes = track.Notes();
    if (notes.empty()) return TReadableStaves::rsSingle;
    std::size_t drums = 0, high = 0, low = 0;
    for (const auto& note : notes) {
        drums += note.Channel == kDrumChannel ? 1 : 0;
        high += note.Pitch >= 55 ? 1 : 0;  // G3 and up sit well in the treble clef
        low += note.Pitch <= 67 ? 1 : 0;   // G4 and down in the bass clef
    }
    if (drums * 2 > notes.size()) return TReadableStaves::rsPercussion;
    // A part that sits in one clef keeps one staff, whatever its instrument:
    // a melody played on a piano sound, one hand of a piano on a track of its own.
    const double size = static_cast<double>(notes.size());
    if (static_cast<double>(high) >= 0.95 * size || static_cast<double>(low) >= 0.95 * size)
        return TReadableStaves::rsSingle;
    // One hand on a track of its own reads on one staff, even where it reaches
    // into the other clef: the other hand's track is its second staff.
    if (NamesOneHand(track.Name)) return TReadableStaves::rsSingle;
    if (IsKeyboardProgram(track.ProgramNumber) || (track.ProgramNumber < 0 && NameSuggestsKeyboard(track)))
        return TReadableStaves::rsGrand;
    return ShareOfWideMoments(notes) >= 0.2 ? TReadableStaves::rsGrand : TReadableStaves::rsSingle;
}

void SplitHands(std::vector<TPartNote>& notes, TScoreTime unitsPerQuarter) {
    // The notes come by start and pitch. A search over the onsets: at each, the notes below a split point go to the
    // left hand. A hand's notes at one moment must stay within reach, each hand
    // moves as little as the music lets it, the hands do not cross, and a chord
    // is split where its notes lie farthest apart. Middle C only breaks ties.
    constexpr double kRightHome = 67.0, kLeftHome = 50.0;
    struct TState {
        double Cost = 0;
        std::int32_t Previous = -1;
        double Right = kRightHome, Left = kLeftHome;
        TScoreTime RightAt = 0, LeftAt = 0;
    };
    std::vector<std::pair<std::size_t, std::size_t>> slices;  // [first, last) of notes
    for (std::size_t i = 0; i < notes.size();) {
        std::size_t j = i;
        while (j < notes.size() && notes[j].Start == notes[i].Start) ++j;
        slices.emplace_back(i, j);
        i = j;
    }
    std::vector<std::vector<TState>> states(slices.size());
    const double relaxQuarters = 16.0;
    for (std::size_t s = 0; s < slices.size(); ++s) {
        // Plain names, not a structured binding: the lambdas below capture them.
        const std::size_t first = slices[s].first;
        const std::size_t last = slices[s].second;
        const std::size_t n = last - first;
        const TScoreTime at = notes[first].Start;
        const auto pitch = [&](std::size_t k) { return static_cast<double>(notes[first + k].Pitch); };
        states[s].resize(n + 1);
        for (std::size_t split = 0; split <= n; ++split) {
            // The notes below `split` are the left hand's.
            double local = 0;
            const bool left = split > 0, right = split < n;
            const auto reach = [&](std::size_t from, std::size_t to) {
                const double span = pitch(to - 1) - pitch(from);
                const double count = static_cast<double>(to - from);
                // An octave lies under the hand; a ninth or a tenth is a stretch;
                // wider is out of reach.
                return std::max(0.0, span - 12) + (span > 16 ? 4.0 * (span - 16) : 0.0) +
                       (count > 5 ? 10.0 * (count - 5) : 0.0);
            };
            if (left) local += reach(0, split) + 0.15 * std::max(0.0, pitch(split - 1) - 60);
            if (right) local += reach(split, n) + 0.15 * std::max(0.0, 60 - pitch(split));
            if (left && right) local += 0.4 * std::max(0.0, 7 - (pitch(split) - pitch(split - 1)));
            const double rightCentre = right ? (pitch(split) + pitch(n - 1)) / 2 : 0;
            const double leftCentre = left ? (pitch(0) + pitch(split - 1)) / 2 : 0;

            TState best;
            best.Cost = std::numeric_limits<double>::infinity();
            const std::size_t previousCount = s == 0 ? 1 : states[s - 1].size();
            for (std::size_t p = 0; p < previousCount; ++p) {
                const TState from = s == 0 ? TState{} : states[s - 1][p];
                const auto relaxed = [&](double position, double home, TScoreTime since) {
                    const double quarters = static_cast<double>(at - since) / static_cast<double>(unitsPerQuarter);
                    const double weight = std::min(1.0, quarters / relaxQuarters);
                    return position + (home - position) * weight;
                };
                const double rightPos = relaxed(from.Right, kRightHome, from.RightAt);
                const double leftPos = relaxed(from.Left, kLeftHome, from.LeftAt);
                double cost = from.Cost + local;
                if (right) {
                    cost += 0.6 * std::max(0.0, std::abs(rightCentre - rightPos) - 4);
                    if (pitch(split) < leftPos - 1) cost += 3 + 0.5 * (leftPos - pitch(split));
                }
                if (left) {
                    cost += 0.6 * std::max(0.0, std::abs(leftCentre - leftPos) - 4);
                    if (pitch(split - 1) > rightPos + 1) cost += 3 + 0.5 * (pitch(split - 1) - rightPos);
                }
                if (cost < best.Cost) {
                    best.Cost = cost;
                    best.Previous = static_cast<std::int32_t>(p);
                    best.Right = right ? 0.6 * rightCentre + 0.4 * rightPos : from.Right;
                    best.RightAt = right ? at : from.RightAt;
                    best.Left = left ? 0.6 * leftCentre + 0.4 * leftPos : from.Left;
                    best.LeftAt = left ? at : from.LeftAt;
                }
            }
            states[s][split] = best;
        }
    }
    if (slices.empty()) return;
    std::size_t choice = 0;
    for (std::size_t k = 1; k < states.back().size(); ++k)
        if (states.back()[k].Cost < states.back()[choice].Cost) choice = k;
    for (std::size_t s = slices.size(); s-- > 0;) {
        // Plain names, not a structured binding: the lambdas below capture them.
        const std::size_t first = slices[s].first;
        const std::size_t last = slices[s].second;
        for (std::size_t i = first; i < last; ++i) notes[i].Staff = i - first < choice ? 2 : 1;
        choice = static_cast<std::size_t>(std::max(0, states[s][choice].Previous));
    }
}

std::vector<std::string_view> ChooseClefs(const std::vector<TPartNote>& notes, std::int32_t staff,
                                          const TMeasureMap& map, std::string_view preferred) {
    // Costs of every measure in each clef, then the cheapest sequence where
    // a change costs as much as several notes on many ledger lines: a clef
    // changes for a passage, not for a note.
    const std::size_t count = map.Measures.size();
    std::vector<std::array<double, 2>> cost(count, {0.0, 0.0});
    constexpr std::string_view kClefs[2] = {"G", "F"};
    std::size_t hint = 0;
    for (const auto& note : notes) {
        if (note.Staff != staff) continue;
        const std::size_t m = map.IndexAt(note.Start, hint);
        for (std::size_t c = 0; c < 2; ++c) cost[m][c] += ReadingCost(note, kClefs[c]);
    }
    if (preferred.empty()) {
        double inTreble = 0, inBass = 0;
        for (const auto& m : cost) {
            inTreble += m[0];
            inBass += m[1];
        }
        preferred = inBass < inTreble ? "F" : "G";
    }
    constexpr double kChange = 10.0, kAgainstHome = 4.0;
    std::vector<std::array<std::uint8_t, 2>> from(count);
    std::array<double, 2> total = {preferred == "G" ? 0.0 : kAgainstHome, preferred == "F" ? 0.0 : kAgainstHome};
    for (std::size_t m = 0; m < count; ++m) {
        std::array<double, 2> next{};
        for (std::size_t c = 0; c < 2; ++c) {
            const double stay = total[c];
            const double change = m == 0 ? std::numeric_limits<double>::infinity() : total[1 - c] + kChange;
            next[c] = std::min(stay, change) + cost[m][c];
            from[m][c] = static_cast<std::uint8_t>(stay <= change ? c : 1 - c);
        }
        total = next;
    }
    std::vector<std::string_view> clefs(count);
    std::size_t c = total[0] <= total[1] ? 0 : 1;
    for (std::size_t m = count; m-- > 0;) {
        clefs[m] = kClefs[c];
        c = from[m][c];
    }
    return clefs;
}

}  // namespace korvalin
