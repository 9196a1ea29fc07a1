// Where the bars begin over the found beats, and in what meter. Each beat has
// an accent from what the player does there: notes start together, long notes
// start, the bass enters, the harmony changes. The downbeats are the beats
// that repeat the strongest accents every two, three or four beats, the
// familiar accent-periodicity reading of meter (after H. C. Longuet-Higgins
// and C. S. Lee, "The Rhythmic Interpretation of Monophonic Music", Music
// Perception 1(4), 1984, and D. Temperley, "The Cognition of Basic Musical
// Structures", MIT Press 2001, ch. 2). Whether a beat divides into two or
// three tells a simple meter from a compound one.

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <optional>
#include <vector>

#include "PerformanceStage.h"

namespace korvalin {
namespace {

// How clear bars of three must be against bars of four (or two) before the
// bars take three. Four's contrast comes out higher by itself: its strongest
// of four phases is the mean of fewer beats than three's strongest of three.
// So three wins a little below four's figure (on free piano performances,
// 0.85 is where the written meter is right most often).
constexpr double kThreeClearer = 0.85;
// Four beats a bar rather than two when bars of four stand out this much
// more clearly than bars of two.
constexpr double kFourOverTwo = 1.1;
// A beat divides in three when its thirds hold this much more than its halves
// and quarters, over enough notes.
constexpr double kThirdsClearer = 1.4;
constexpr double kThirdsShare = 0.15;
constexpr double kPlaceTolerance = 0.06;  // of a beat
// Beats a stretch when the meter is judged stretch by stretch (two, three and
// four divide it), and the price of moving the bar line, in mean accents.
constexpr std::size_t kStretch = 24;
constexpr double kSkipPrice = 2.0;
// A held beat found twice costs more: taking it wrongly puts a whole passage
// half a beat off.
constexpr double kHeldPrice = 4.0;

using TChroma = std::array<double, 12>;

double Similarity(const TChroma& a, const TChroma& b) {
    double dot = 0.0, na = 0.0, nb = 0.0;
    for (std::size_t k = 0; k < 12; ++k) {
        dot += a[k] * b[k];
        na += a[k] * a[k];
        nb += b[k] * b[k];
    }
    return na > 0.0 && nb > 0.0 ? dot / std::sqrt(na * nb) : 1.0;
}

// The accent of every beat, each kind of evidence scaled to a mean of one.
std::vector<double> BeatAccents(std::span<const TPlayedNote> notes, const TBeatTrack& beats) {
    const std::vector<double>& times = beats.Times;
    const std::size_t count = times.size();
    std::vector<double> starts(count, 0.0), longs(count, 0.0), bass(count, 0.0), change(count, 0.0);
    std::vector<TChroma> chroma(count, TChroma{});
    std::vector<std::int32_t> pitches;
    for (const auto& note : notes)
        if (!note.Drum) pitches.push_back(note.Pitch);
    std::int32_t low = 48;
    if (!pitches.empty()) {
        std::nth_element(pitches.begin(), pitches.begin() + static_cast<std::ptrdiff_t>(pitches.size() / 4),
                         pitches.end());
        low = pitches[pitches.size() / 4];
    }
    for (const auto& note : notes) {
        // The beat the note starts nearest to, and whether it is near enough.
        const auto after =
            static_cast<std::size_t>(std::lower_bound(times.begin(), times.end(), note.Start) - times.begin());
        std::size_t b = std::min(after, count - 1);
        if (after > 0 && (after == count || note.Start - times[after - 1] < times[after] - note.Start)) b = after - 1;
        const double period = b + 1 < count ? times[b + 1] - times[b] : (b > 0 ? times[b] - times[b - 1] : 0.5);
        const double length = std::min(note.End - note.Start, 4.0 * period);
        if (std::abs(note.Start - times[b]) <= std::min(0.08, period / 6.0)) {
            starts[b] += 1.0;
            longs[b] += length / period;
            if (!note.Drum && note.Pitch <= low) bass[b] += length / period;
        }
        // Its sound, beat by beat, for the harmony.
        if (note.Drum) continue;
        const std::size_t from = after > 0 ? after - 1 : 0;
        for (std::size_t k = from; k < count && times[k] < note.End; ++k) {
            const double end = k + 1 < count ? times[k + 1] : times[k] + period;
            const double overlap = std::min(end, note.End) - std::max(times[k], note.Start);
            if (overlap > 0.0) chroma[k][static_cast<std::size_t>(note.Pitch % 12)] += overlap;
        }
    }
    for (std::size_t b = 1; b < count; ++b) change[b] = 1.0 - Similarity(chroma[b], chroma[b - 1]);
    const auto scaled = [](std::vector<double>& v) {
        const double mean =
            std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(std::max<std::size_t>(1, v.size()));
        if (mean > 0.0)
            for (double& x : v) x /= mean;
    };
    scaled(starts);
    scaled(longs);
    scaled(bass);
    scaled(change);
    std::vector<double> accents(count);
    for (std::size_t b = 0; b < count; ++b) accents[b] = 0.5 * starts[b] + longs[b] + bass[b] + 1.5 * change[b];
    return accents;
}

// How clearly bars of `period` beats stand out, stretch by stretch: the
// strongest phase's mean accent over the stretch's mean, so that a bar line
// that moves (a held beat, a skipped one) does not hide the meter.
double BarContrast(const std::vector<double>& accents, std::size_t period) {
    double sum = 0.0;
    std::size_t stretches = 0;
    for (std::size_t from = 0; from + kStretch <= accents.size(); from += kStretch / 2) {
        double mean = 0.0;
        for (std::size_t b = from; b < from + kStretch; ++b) mean += accents[b] / static_cast<double>(kStretch);
        double best = 0.0;
        for (std::size_t phase = 0; phase < period; ++phase) {
            double at = 0.0;
            std::size_t n = 0;
            for (std::size_t b = from + phase; b < from + kStretch; b += period, ++n) at += accents[b];
            best = std::max(best, at / static_cast<double>(n));
        }
        if (mean > 0.0) sum += best / mean - 1.0;
        ++stretches;
    }
    return stretches > 0 ? sum / static_cast<double>(stretches) : 0.0;
}

// The counted beat of every found beat, by Viterbi decoding over the place in
// the bar in half beats: each found beat moves one count on, and a half count
// (a held beat found twice) or two counts (a beat the tracker missed) at a
// price. A beat at the bar's start earns its accent over the mean.
std::vector<double> CountBeats(const std::vector<double>& accents, std::size_t perBar, double mean,
                               std::optional<std::size_t> forcedDownbeat) {
    const std::size_t states = 2 * perBar;
    const std::size_t count = accents.size();
    constexpr double kNone = -1e300;
    std::vector<double> score(states, kNone), next(states);
    std::vector<std::uint8_t> from(count * states, 0);  // by beat, then state
    const auto earn = [&](std::size_t b, std::size_t state) {
        double value = state == 0 ? accents[b] - mean : 0.0;
        if (forcedDownbeat && b == *forcedDownbeat) value += state == 0 ? 1e6 : 0.0;
        return value;
    };
    // The piece may open anywhere in a bar, but on a whole beat.
    for (std::size_t state = 0; state < states; state += 2) score[state] = earn(0, state);
    const std::size_t steps[] = {2, 1, 4};
    const double prices[] = {0.0, kHeldPrice * mean, kSkipPrice * mean};
    for (std::size_t b = 1; b < count; ++b) {
        std::fill(next.begin(), next.end(), kNone);
        for (std::size_t state = 0; state < states; ++state) {
            if (score[state] <= kNone) continue;
            for (std::uint8_t k = 0; k < 3; ++k) {
                const std::size_t to = (state + steps[k]) % states;
                const double value = score[state] - prices[k];
                if (value > next[to]) {
                    next[to] = value;
                    from[b * states + to] = static_cast<std::uint8_t>(state * 3 + k);
                }
            }
        }
        for (std::size_t state = 0; state < states; ++state)
            if (next[state] > kNone) next[state] += earn(b, state);
        score.swap(next);
    }
    std::size_t state = static_cast<std::size_t>(std::max_element(score.begin(), score.end()) - score.begin());
    std::vector<std::size_t> path(count);
    std::vector<std::size_t> step(count, 2);
    for (std::size_t b = count; b-- > 0;) {
        path[b] = state;
        if (b == 0) break;
        step[b] = steps[from[b * states + state] % 3];
        state = from[b * states + state] / 3;
    }
    // Half counts from the first beat, then 0 at the first downbeat.
    std::vector<double> counts(count, 0.0);
    double at = static_cast<double>(path[0]);
    for (std::size_t b = 0; b < count; ++b) {
        if (b > 0) at += static_cast<double>(step[b]);
        counts[b] = at / 2.0;
    }
    const double firstBar = std::ceil(counts[0] / static_cast<double>(perBar) - 1e-9) * static_cast<double>(perBar);
    for (double& c : counts) c -= firstBar;
    return counts;
}

// Whether the notes between beats fall on their thirds rather than halves.
bool BeatsDivideInThree(std::span<const TPlayedOnset> onsets, const TBeatTrack& beats) {
    const std::vector<double>& times = beats.Times;
    double thirds = 0.0, halves = 0.0, inside = 0.0;
    std::size_t b = 0;
    for (const auto& onset : onsets) {
        while (b + 1 < times.size() && times[b + 1] <= onset.Seconds) ++b;
        if (b + 1 >= times.size() || onset.Seconds < times[b]) continue;
        const double place = (onset.Seconds - times[b]) / (times[b + 1] - times[b]);
        if (place < 0.1 || place > 0.9) continue;
        inside += 1.0;
        const auto near = [&](double at) { return std::abs(place - at) <= kPlaceTolerance; };
        if (near(1.0 / 3.0) || near(2.0 / 3.0)) thirds += 1.0;
        else if (near(0.5) || near(0.25) || near(0.75)) halves += 1.0;
    }
    return inside > 0.0 && thirds > kThirdsClearer * halves && thirds >= kThirdsShare * inside;
}

}  // namespace

TFoundMeter FindMeter(std::span<const TPlayedNote> notes, std::span<const TPlayedOnset> onsets, const TBeatTrack& beats,
                      const TPerformanceOptions& options) {
    TFoundMeter meter;
    if (beats.Times.size() < 2) return meter;
    const std::vector<double> accents = BeatAccents(notes, beats);
    const double mean = std::accumulate(accents.begin(), accents.end(), 0.0) / static_cast<double>(accents.size());

    if (options.MeterBeats > 0) {
        meter.Beats = options.MeterBeats;
        meter.BeatType = options.MeterBeatType;
        meter.Compound = options.MeterBeatType >= 8 && options.MeterBeats % 3 == 0 && options.MeterBeats > 3;
        meter.BeatsPerBar = meter.Compound ? options.MeterBeats / 3 : options.MeterBeats;
    } else {
        meter.Compound = BeatsDivideInThree(onsets, beats);
        const double two = BarContrast(accents, 2);
        const double three = BarContrast(accents, 3);
        const double four = BarContrast(accents, 4);
        if (three > kThreeClearer * std::max(two, four)) meter.BeatsPerBar = 3;
        else if (four > kFourOverTwo * two) meter.BeatsPerBar = 4;
        else meter.BeatsPerBar = 2;
        meter.Beats = meter.Compound ? 3 * meter.BeatsPerBar : meter.BeatsPerBar;
        meter.BeatType = meter.Compound ? 8 : 4;
        meter.Confidence = std::clamp(std::max({two, three, four}), 0.0, 1.0);
    }
    const auto perBar = static_cast<std::size_t>(std::max(1, meter.BeatsPerBar));
    std::optional<std::size_t> forced;
    if (options.FirstBeatSeconds) {
        // The user's downbeat: the beat nearest to it.
        std::size_t nearest = 0;
        for (std::size_t b = 1; b < beats.Times.size(); ++b)
            if (std::abs(beats.Times[b] - *options.FirstBeatSeconds) <
                std::abs(beats.Times[nearest] - *options.FirstBeatSeconds))
                nearest = b;
        forced = nearest;
        if (options.MeterBeats > 0) meter.Confidence = 1.0;
    }
    meter.Counts = CountBeats(accents, perBar, mean, forced);
    meter.FirstDownbeat = 0;
    while (meter.FirstDownbeat + 1 < meter.Counts.size() && meter.Counts[meter.FirstDownbeat] < 0.0)
        ++meter.FirstDownbeat;
    return meter;
}

}  // namespace korvalin
