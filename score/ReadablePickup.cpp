// Where the bar lines fall. A file may start its music with an upbeat: either
// in a bar of its own, after rests that fill the bar up to it, or at the very
// start with every bar line of the file falling after the music's downbeats.
// The accents of the music tell the downbeat: notes gather on strong beats,
// long notes start there. The bar lines move only when the accents leave no
// doubt; a file whose bar lines agree with its music is left as it is.

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

#include "ReadableSteps.h"
#include "ScoreQuantize.h"

namespace korvalin {
namespace {

// How much better another placement of the bar lines must explain the long
// notes, and all onsets, than the file's own before the bar lines move; and
// how much better it may explain the onsets before a late start is taken for
// music that begins after a rest rather than a pickup.
constexpr double kLongNotesClearlyBetter = 1.5;
constexpr double kOnsetsBetter = 1.1;
constexpr double kOnsetsDisagree = 1.25;
// Music played freely has no bar lines to find: more than this share of its
// onsets off every grid.
constexpr std::size_t kFreeShareDivisor = 4;
// The accents of this many bars at least are weighed before bar lines move.
constexpr TScoreTime kFewestBars = 4;
constexpr std::size_t kFewestLongNotes = 8;

// The weight of each place in a bar, by the grid's steps: the downbeat, the
// other strong beats, the beats, their halves (thirds in compound meters),
// their quarters.
std::vector<double> AccentWeights(const TMeter& meter, TScoreTime step) {
    std::vector<double> weights(static_cast<std::size_t>(meter.Length / step), 0.0);
    const auto contains = [](const std::vector<TScoreTime>& starts, TScoreTime at) {
        return std::binary_search(starts.begin(), starts.end(), at);
    };
    for (std::size_t i = 0; i < weights.size(); ++i) {
        const TScoreTime at = static_cast<TScoreTime>(i) * step;
        const TScoreTime inBeat = at - meter.BeatAt(at);
        const TScoreTime beat = meter.BeatLengthAt(at);
        const TScoreTime part = beat % 3 == 0 && (meter.Compound || beat % 2 != 0) ? beat / 3 : beat / 2;
        if (at == 0) weights[i] = 4.0;
        else if (contains(meter.GroupStarts, at)) weights[i] = 3.0;
        else if (inBeat == 0) weights[i] = 2.0;
        else if (part > 0 && inBeat % part == 0) weights[i] = 1.0;
        else if (part > 1 && part % 2 == 0 && inBeat % (part / 2) == 0) weights[i] = 0.5;
    }
    return weights;
}

}  // namespace

bool OnSomeGrid(std::int64_t tick, std::int64_t ppqn, std::int64_t ticksPerStep) {
    const std::int64_t tolerance = std::max<std::int64_t>(1, ticksPerStep / 10);
    const auto near = [&](std::int64_t step) {
        if (step <= 0) return false;
        const std::int64_t remainder = tick % step;
        return std::min(remainder, step - remainder) <= tolerance;
    };
    return near(ticksPerStep) || (ticksPerStep % 3 == 0 && near(ticksPerStep * 2 / 3)) ||
           (ppqn % 3 == 0 && near(ppqn / 3)) || (ppqn % 6 == 0 && near(ppqn / 6));
}

TMeasureStart FindMeasureStart(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks,
                               const TUnitScale& scale) {
    std::int64_t firstTick = std::numeric_limits<std::int64_t>::max();
    std::size_t notes = 0, free = 0;
    for (const TMidiTrack* track : tracks)
        for (const auto& note : track->Notes()) {
            firstTick = std::min(firstTick, note.StartTick);
            ++notes;
            if (!OnSomeGrid(note.StartTick, midi.PPQN, scale.TicksPerStep)) ++free;
        }
    if (notes == 0 || free * kFreeShareDivisor > notes) return {};
    // A first note off the binary grid (a triplet's last note, or played freely) is not placed here.
    const std::int64_t firstOnGrid = QuantizeTick(firstTick, scale.TicksPerStep);
    if (std::llabs(firstOnGrid - firstTick) * 10 > scale.TicksPerStep) return {};
    const TScoreTime first = scale.FromTick(firstOnGrid);

    // The bar lines of the file around the first note: from the last change of
    // meter at or before it, in that meter, up to the next change.
    const std::vector<TMeterChange> changes = ReadableMeterChanges(midi, scale);
    TScoreTimeSignature time = OpeningSignature(midi, changes);
    TScoreTime origin = 0;
    std::size_t next = 0;
    for (; next < changes.size() && changes[next].At <= first; ++next) {
        origin = changes[next].At;
        time = changes[next].Time;
    }
    const TMeter meter = MakeMeter(time.Beats, time.BeatType, scale.UnitsPerWhole);
    const TScoreTime step = scale.UnitsPerStep;
    const TScoreTime length = meter.Length;
    if (step <= 0 || length % step != 0 || length / step < 2) return {};
    // The next change that cuts or changes the file's bars ends what is weighed.
    TScoreTime limit = std::numeric_limits<TScoreTime>::max();
    for (; next < changes.size() && limit == std::numeric_limits<TScoreTime>::max(); ++next)
        if ((changes[next].At - origin) % length != 0 || changes[next].Time.Beats != time.Beats ||
            changes[next].Time.BeatType != time.BeatType)
            limit = changes[next].At;

    // The accents, by place in the bar: where notes start, and apart, where
    // long notes start (a drum's length says nothing).
    const auto places = static_cast<std::size_t>(length / step);
    std::vector<double> onsets(places, 0.0), longOnsets(places, 0.0);
    const TScoreTime longNote = meter.BeatLengthAt(0);
    TScoreTime last = first;
    std::size_t longNotes = 0;
    for (const TMidiTrack* track : tracks) {
        TScoreTime lastLong = -1;  // a chord's long notes count once
        for (const auto& note : track->Notes()) {
            const TQuantSpan span = QuantizeNote(note, scale.TicksPerStep);
            const TScoreTime at = scale.FromTick(span.Start);
            if (at < origin || at >= limit) continue;
            last = std::max(last, at);
            const auto place = static_cast<std::size_t>((at - origin) % length / step);
            onsets[place] += 1.0;
            if (note.Channel != kDrumChannel && scale.FromTick(span.End) - at >= longNote && at != lastLong) {
                longOnsets[place] += 1.0;
                ++longNotes;
                lastLong = at;
            }
        }
    }
    const std::vector<double> weights = AccentWeights(meter, step);
    // How well bar lines `shift` places after the file's explain the accents.
    const auto fit = [&](const std::vector<double>& accents, std::size_t shift) {
        double sum = 0.0;
        for (std::size_t i = 0; i < places; ++i) sum += accents[i] * weights[(i + places - shift) % places];
        return sum;
    };
    const auto bestShift = [&](const std::vector<double>& accents) {
        std::size_t best = 0;
        for (std::size_t shift = 1; shift < places; ++shift)
            if (fit(accents, shift) > fit(accents, best)) best = shift;
        return best;
    };
    // Both the onsets and the long notes must point to the same bar lines,
    // clearly better than the file's, over enough music.
    const std::size_t best = bestShift(longOnsets);
    const std::size_t bestForOnsets = bestShift(onsets);
    // Notes are placed on the file's beats and their triplets before the
    // measures are known: bar lines move by whole beats (in compound meters,
    // by their thirds), never by part of one.
    const TScoreTime movable = meter.Compound ? meter.BeatLengthAt(0) / 3 : scale.UnitsPerWhole / 4;
    TScoreTime phase = 0;
    if (best != 0 && static_cast<TScoreTime>(best) * step % movable == 0 && longNotes >= kFewestLongNotes &&
        bestForOnsets == best && fit(longOnsets, best) >= kLongNotesClearlyBetter * fit(longOnsets, 0) &&
        fit(onsets, best) >= kOnsetsBetter * fit(onsets, 0)) {
        // Bar lines that move must move for the whole piece, and on enough music.
        if (limit != std::numeric_limits<TScoreTime>::max() || last - first < kFewestBars * length) return {};
        phase = static_cast<TScoreTime>(best) * step;
    } else if (fit(onsets, bestForOnsets) >= kOnsetsDisagree * fit(onsets, 0)) {
        return {};  // the music's accents disagree with the file's bar lines, but not clearly enough to move them
    }
    const TScoreTime bar = origin + phase + FloorDiv(first - origin - phase, length) * length;
    const TScoreTime pickup = bar + length - first;
    if (bar == first) return phase == 0 ? TMeasureStart{} : TMeasureStart{first, 0};
    // Where the file's own bar lines stay, only an upbeat of at most half a bar
    // is one: a later start is music that begins after a rest.
    if (phase == 0 && (pickup * 2 > length || bar + length > limit)) return {};
    return {first, pickup};
}

}  // namespace korvalin
