// The readings of a beat and their costs: how far a reading moves the played
// onsets and ends, how many onsets it merges, and how unusual it is.

#include "ReadableTupletReadings.h"

#include <algorithm>
#include <cmath>

namespace korvalin {
namespace {

// Merging two onsets that were played apart loses a note's own place.
constexpr double kMergePenalty = 0.3;
// An end tells less than an onset: players release notes loosely.
constexpr double kEndWeight = 0.5;
// A 32nd on the binary grid is itself unusual.
constexpr double kFineBinaryPenalty = 0.03;
// How far from its points (in its own parts) a tuplet may find an onset.
constexpr double kTupletReach = 0.25;
constexpr double kRejected = 1e300;

// Onsets the binary grid places within this much (in beats, all together)
// are plain, whatever the ends say.
constexpr double kPlainOnsets = 0.04;

bool IsPowerOfTwo(TScoreTime value) { return value > 0 && (value & (value - 1)) == 0; }

}  // namespace

bool PlainType(TScoreTime unitsPerWhole, TScoreTime value, TNoteType& type) {
    if (value <= 0 || unitsPerWhole % value != 0 || !IsPowerOfTwo(unitsPerWhole / value)) return false;
    int k = 0;
    for (TScoreTime q = unitsPerWhole / value; q > 1; q /= 2) ++k;
    if (k > 8) return false;
    type = static_cast<TNoteType>(static_cast<int>(TNoteType::ntWhole) + k);
    return true;
}

double ReadingCost(const TPoints& points, const TWindow& window, const TReading& reading, double penaltyScale,
                   bool onsetsOnly) {
    const double part = static_cast<double>(window.Length) / window.Parts;
    const auto beat = static_cast<double>(window.Beat);
    double cost = reading.Penalty * penaltyScale;
    std::int64_t previous = -1;
    for (const double at : points.Onsets) {
        const std::int64_t k = SnapToPoint(at, part, window.Parts);
        const double error = std::abs(at - static_cast<double>(k) * part);
        // A tuplet must place every onset close to its own points: a free
        // performance near no grid is not read as one.
        if (reading.Divisions > 0 && error > part * kTupletReach) return kRejected;
        cost += error / beat;
        if (k == previous) cost += kMergePenalty;
        if (reading.Divisions == 0 && window.Parts >= 8 && k % 2 != 0) cost += kFineBinaryPenalty;
        previous = k;
    }
    if (onsetsOnly) return cost;
    for (const double at : points.Ends)
        cost += kEndWeight * std::abs(at - static_cast<double>(SnapToPoint(at, part, window.Parts)) * part) / beat;
    return cost;
}

bool WindowOf(const TReading& reading, TScoreTime beat, TScoreTime step, TScoreTime unitsPerWhole, TWindow& window) {
    TNoteType type{};
    if (!PlainType(unitsPerWhole, beat, type) || beat < step) return false;
    window.Beat = beat;
    window.Length = beat * reading.Beats;
    if (reading.Divisions == 0) {
        if (beat % step != 0) return false;
        window.Parts = static_cast<std::int32_t>(beat / step);
        return true;
    }
    const TScoreTime written = beat >> reading.NormalHalvings;
    if (written < step || written << reading.NormalHalvings != beat || window.Length % reading.Divisions != 0)
        return false;
    window.Parts = reading.Divisions;
    return true;
}

void ReadingBeats(const TMeter& meter, TScoreTime unitsPerWhole, std::vector<TBeatInput>& beats) {
    beats.clear();
    TNoteType type{};
    for (const TScoreTime start : meter.BeatStarts) {
        const TScoreTime length = meter.BeatLengthAt(start);
        const bool compound =
            !PlainType(unitsPerWhole, length, type) && length % 3 == 0 && PlainType(unitsPerWhole, length / 3, type);
        const int parts = compound ? 3 : 1;
        for (int k = 0; k < parts; ++k) {
            TBeatInput& beat = beats.emplace_back();
            beat.Length = length / parts;
            beat.Start = start + k * beat.Length;
            beat.Third = compound;
        }
    }
}

std::size_t BeatHolding(const std::vector<TBeatInput>& beats, TScoreTime offset) {
    const auto after = std::upper_bound(beats.begin(), beats.end(), offset,
                                        [](TScoreTime at, const TBeatInput& beat) { return at < beat.Start; });
    return after == beats.begin() ? 0 : static_cast<std::size_t>(after - beats.begin() - 1);
}

std::vector<std::int32_t> ChooseReadings(const std::vector<TBeatInput>& beats, TScoreTime step,
                                         TScoreTime unitsPerWhole, double penaltyScale) {
    const std::size_t n = beats.size();
    std::vector<double> single(n, 0.0);
    std::vector<std::int32_t> singleChoice(n, 0);
    std::vector<double> pair(n, 1e300);
    for (std::size_t b = 0; b < n; ++b) {
        const TBeatInput& beat = beats[b];
        TWindow window;
        const bool plain = WindowOf(kReadings[0], beat.Length, step, unitsPerWhole, window);
        if (!plain || beat.Points.Onsets.empty()) continue;  // nothing to decide
        single[b] = ReadingCost(beat.Points, window, kReadings[0], penaltyScale);
        if (ReadingCost(beat.Points, window, kReadings[0], penaltyScale, true) <= kPlainOnsets) continue;
        for (std::size_t r = 1; r < kReadings.size(); ++r) {
            if (r == kPairReading || !WindowOf(kReadings[r], beat.Length, step, unitsPerWhole, window)) continue;
            const double cost = ReadingCost(beat.Points, window, kReadings[r], penaltyScale);
            if (cost < single[b]) {
                single[b] = cost;
                singleChoice[b] = static_cast<std::int32_t>(r);
            }
        }
        // Three eighths in the time of two cross the compound beat's own parts.
        if (!beat.Third && b + 1 < n && beats[b + 1].Length == beat.Length &&
            beats[b + 1].Start == beat.Start + beat.Length &&
            WindowOf(kReadings[kPairReading], beat.Length, step, unitsPerWhole, window)) {
            TPoints both = beat.Points;
            for (const double at : beats[b + 1].Points.Onsets)
                both.Onsets.push_back(at + static_cast<double>(beat.Length));
            for (const double at : beats[b + 1].Points.Ends) both.Ends.push_back(at + static_cast<double>(beat.Length));
            pair[b] = ReadingCost(both, window, kReadings[kPairReading], penaltyScale);
        }
    }
    // The cheapest way through the measure, by single beats and pairs.
    std::vector<double> best(n + 1, 0.0);
    std::vector<bool> tookPair(n + 1, false);
    for (std::size_t b = 1; b <= n; ++b) {
        best[b] = best[b - 1] + single[b - 1];
        if (b >= 2 && best[b - 2] + pair[b - 2] < best[b]) {
            best[b] = best[b - 2] + pair[b - 2];
            tookPair[b] = true;
        }
    }
    std::vector<std::int32_t> chosen(n, 0);
    for (std::size_t b = n; b > 0;) {
        if (tookPair[b]) {
            chosen[b - 2] = static_cast<std::int32_t>(kPairReading);
            chosen[b - 1] = -1;
            b -= 2;
        } else {
            chosen[b - 1] = singleChoice[b - 1];
            b -= 1;
        }
    }
    return chosen;
}

void ClusterOnsets(const std::vector<double>& sorted, double beat, std::vector<double>& means,
                   std::vector<std::size_t>& of) {
    means.clear();
    of.assign(sorted.size(), 0);
    std::size_t first = 0;
    double sum = 0.0;
    for (std::size_t i = 0; i <= sorted.size(); ++i) {
        if (i < sorted.size() && i > first && sorted[i] - sorted[first] <= kSameOnset * beat) {
            sum += sorted[i];
            of[i] = means.size();
            continue;
        }
        if (i > first) means.push_back(sum / static_cast<double>(i - first));
        if (i == sorted.size()) break;
        first = i;
        sum = sorted[i];
        of[i] = means.size();
    }
}

}  // namespace korvalin
