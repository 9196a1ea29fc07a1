// The key of a performance from its pitch content: how long each pitch class
// sounds, more on the beats and most on the downbeats, correlated with key
// profiles as in Krumhansl's key-finding algorithm ("Cognitive Foundations of
// Musical Pitch", 1990). The profiles are D. Temperley's, counted from the
// pieces of a harmony textbook ("What's Key for Key? The Krumhansl-Schmuckler
// Key-Finding Algorithm Reconsidered", Music Perception 17(1), 1999): they
// weigh the third of the key more than the listeners' profiles of Krumhansl
// and Kessler do, and so tell a minor key from its relative or parallel major
// more often (on free piano performances: 88% of opening keys right, against
// 83% with Krumhansl and Kessler's).
// A written score changes its key signature rarely, for a long section in
// another key: a change is taken only where a key holds clearly for many bars.

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "PerformanceStage.h"

namespace korvalin {
namespace {

using TProfile = std::array<double, 12>;

constexpr TProfile kMajor{0.748, 0.060, 0.488, 0.082, 0.670, 0.460, 0.096, 0.715, 0.104, 0.366, 0.057, 0.400};
constexpr TProfile kMinor{0.712, 0.084, 0.474, 0.618, 0.049, 0.460, 0.105, 0.747, 0.404, 0.067, 0.133, 0.330};
// The opening and the close of a piece are in its key almost always.
constexpr std::size_t kFramingBars = 4;
constexpr double kFramingWeight = 2.0;
// A section in another key: this many bars, each window this much clearer.
constexpr std::size_t kSectionBars = 24;
constexpr std::size_t kWindowBars = 8;
constexpr double kSectionMargin = 0.15;

struct TKeyChoice {
    std::int32_t Tonic = 0;  // pitch class
    bool Minor = false;
    double Fit = -2.0;
};

double Correlation(const TProfile& weights, const TProfile& profile, std::int32_t tonic) {
    double mw = 0.0, mp = 0.0;
    for (std::size_t k = 0; k < 12; ++k) {
        mw += weights[k] / 12.0;
        mp += profile[k] / 12.0;
    }
    double num = 0.0, dw = 0.0, dp = 0.0;
    for (std::size_t k = 0; k < 12; ++k) {
        const double w = weights[(k + static_cast<std::size_t>(tonic)) % 12] - mw;
        const double p = profile[k] - mp;
        num += w * p;
        dw += w * w;
        dp += p * p;
    }
    return dw > 0.0 && dp > 0.0 ? num / std::sqrt(dw * dp) : -1.0;
}

TKeyChoice BestKey(const TProfile& weights) {
    TKeyChoice best;
    for (std::int32_t tonic = 0; tonic < 12; ++tonic)
        for (const bool minor : {false, true}) {
            const double fit = Correlation(weights, minor ? kMinor : kMajor, tonic);
            if (fit > best.Fit) best = {tonic, minor, fit};
        }
    return best;
}

// The key signature of a key: sharps positive, flats negative; six either
// way is written with flats.
std::int32_t FifthsOf(const TKeyChoice& key) {
    const std::int32_t major = key.Minor ? (key.Tonic + 3) % 12 : key.Tonic;
    const std::int32_t fifths = major * 7 % 12;
    return fifths >= 6 ? fifths - 12 : fifths;
}

}  // namespace

std::vector<TFoundKey> FindKeys(std::span<const TPlayedNote> notes, const TBeatTrack& beats, const TFoundMeter& meter) {
    const std::vector<double>& times = beats.Times;
    if (times.size() < 2) return {TFoundKey{}};
    const auto perBar = static_cast<std::size_t>(std::max(1, meter.BeatsPerBar));
    const std::size_t bars =
        static_cast<std::size_t>(std::max(0.0, meter.Counts.back()) / static_cast<double>(perBar)) + 3;
    // Bar 0 holds the pickup, bar 1 the first full bar.
    const auto barOf = [&](std::size_t b) {
        return static_cast<std::size_t>(std::max(0.0, std::floor(meter.Counts[b] / static_cast<double>(perBar)) + 1.0));
    };
    // The weight of each pitch class in each bar (counted from the first downbeat).
    std::vector<TProfile> byBar(bars, TProfile{});
    for (const auto& note : notes) {
        if (note.Drum) continue;
        const auto after =
            static_cast<std::size_t>(std::lower_bound(times.begin(), times.end(), note.Start) - times.begin());
        std::size_t b = std::min(after, times.size() - 1);
        if (after > 0 && (after == times.size() || note.Start - times[after - 1] < times[after] - note.Start))
            b = after - 1;
        const double period = b + 1 < times.size() ? times[b + 1] - times[b] : times[b] - times[b - 1];
        const double beatsLong = std::min(4.0, (note.End - note.Start) / std::max(1e-3, period));
        const bool onBeat = std::abs(note.Start - times[b]) <= std::min(0.08, period / 6.0);
        const double inBar = std::fmod(meter.Counts[b], static_cast<double>(perBar));
        const double accent = !onBeat ? 1.0 : (std::abs(inBar) < 1e-9 ? 2.0 : 1.5);
        const std::size_t bar = barOf(b);
        byBar[std::min(bar, bars - 1)][static_cast<std::size_t>(note.Pitch % 12)] += beatsLong * accent;
    }
    std::size_t lastBar = 0;
    for (std::size_t bar = 0; bar < bars; ++bar)
        for (const double w : byBar[bar])
            if (w > 0.0) lastBar = bar;
    TProfile whole{};
    for (std::size_t bar = 0; bar <= lastBar; ++bar) {
        const bool framing = bar < kFramingBars || bar + kFramingBars > lastBar;
        for (std::size_t k = 0; k < 12; ++k) whole[k] += byBar[bar][k] * (framing ? kFramingWeight : 1.0);
    }
    const TKeyChoice home = BestKey(whole);
    std::vector<TFoundKey> keys{{0, FifthsOf(home), home.Minor}};

    // Sections in another key: windows of bars whose own key fits clearly
    // better than the current one, for long enough.
    TKeyChoice current = home;
    std::size_t runStart = 0, run = 0;
    TKeyChoice runKey;
    for (std::size_t bar = 0; bar + kWindowBars <= lastBar + 1; ++bar) {
        TProfile window{};
        for (std::size_t k = bar; k < bar + kWindowBars; ++k)
            for (std::size_t p = 0; p < 12; ++p) window[p] += byBar[k][p];
        const TKeyChoice local = BestKey(window);
        const double currentFit = Correlation(window, current.Minor ? kMinor : kMajor, current.Tonic);
        const bool other = FifthsOf(local) != FifthsOf(current) && local.Fit - currentFit >= kSectionMargin;
        if (other && run > 0 && FifthsOf(local) == FifthsOf(runKey)) {
            ++run;
        } else if (other) {
            run = 1;
            runStart = bar;
            runKey = local;
        } else {
            run = 0;
        }
        if (run > 0 && run + kWindowBars - 1 >= kSectionBars) {
            current = runKey;
            std::size_t from = 0;
            while (from + 1 < times.size() && barOf(from) < runStart) ++from;
            keys.push_back({from, FifthsOf(runKey), runKey.Minor});
            run = 0;
        }
    }
    return keys;
}

}  // namespace korvalin
