// The beat of a free performance. The notes' onsets make an envelope in
// time; its periodicity gives the tempo the player keeps over some seconds,
// and the beats are then chosen by dynamic programming as the sequence that
// lands on strong onsets while keeping close to that local tempo: the method
// of D. P. W. Ellis, "Beat Tracking by Dynamic Programming", Journal of New
// Music Research 36(1), 2007, with the tempo allowed to drift along the piece
// (rubato, ritardando) by estimating it window by window.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <vector>

#include "PerformanceStage.h"

namespace korvalin {
namespace {

constexpr double kHop = 0.01;  // seconds per frame of the envelope
constexpr std::size_t kMostFrames = 2'000'000;
constexpr double kShortestBeat = 0.25;  // 240 beats a minute
constexpr double kLongestBeat = 1.6;    // about 38
// Players of written music keep a beat near a walking pace most of the time:
// a prior on the period, centred near 95 a minute, an octave wide.
constexpr double kPreferredBeat = 0.63;
constexpr double kPriorOctaves = 0.9;
// The local tempo: windows of this many seconds, this far apart, and how far
// the local beat may stray from the piece's.
constexpr double kWindow = 10.0;
constexpr double kWindowStep = 2.0;
constexpr double kLocalSlowest = 1.45;
constexpr double kLocalFastest = 0.7;
constexpr double kLocalOctaves = 0.25;
constexpr std::size_t kMostWindows = 2000;
// How strongly the beats keep to the local period (Ellis's "tightness").
constexpr double kTightness = 60.0;
// A beat counts as confirmed by a note this close to it.
constexpr double kConfirmed = 0.07;

double Square(double x) { return x * x; }

// Onsets as impulses with a short spread, scaled to unit deviation.
std::vector<double> Envelope(std::span<const TPlayedOnset> onsets, double hop, std::size_t frames) {
    std::vector<double> envelope(frames, 0.0);
    for (const auto& onset : onsets) {
        const auto at = static_cast<std::ptrdiff_t>(std::llround(onset.Seconds / hop));
        for (std::ptrdiff_t d = -2; d <= 2; ++d) {
            const std::ptrdiff_t f = at + d;
            if (f < 0 || f >= static_cast<std::ptrdiff_t>(frames)) continue;
            envelope[static_cast<std::size_t>(f)] += onset.Weight * (d == 0 ? 1.0 : (std::abs(d) == 1 ? 0.6 : 0.2));
        }
    }
    double sum = 0.0, squares = 0.0;
    for (const double e : envelope) {
        sum += e;
        squares += e * e;
    }
    const double n = static_cast<double>(std::max<std::size_t>(1, frames));
    const double deviation = std::sqrt(std::max(1e-12, squares / n - Square(sum / n)));
    for (double& e : envelope) e /= deviation;
    return envelope;
}

// The frames where the envelope is not zero: most of a performance's frames
// are silent, and only sounding pairs add to a correlation.
std::vector<std::size_t> SoundingFrames(const std::vector<double>& envelope) {
    std::vector<std::size_t> sounding;
    for (std::size_t f = 0; f < envelope.size(); ++f)
        if (envelope[f] != 0.0) sounding.push_back(f);
    return sounding;
}

// The autocorrelation of [from, to) for every lag of [minLag, maxLag], each
// lag normalised by the overlap it has. Summed over the sounding frames
// only, in the same order as over all frames, so the result is the same.
std::vector<double> Periodicity(const std::vector<double>& envelope, const std::vector<std::size_t>& sounding,
                                std::size_t from, std::size_t to, std::size_t minLag, std::size_t maxLag) {
    std::vector<double> result(maxLag + 1, 0.0);
    const auto first = std::lower_bound(sounding.begin(), sounding.end(), from);
    for (auto a = first; a != sounding.end() && *a < to; ++a)
        for (auto b = a + 1; b != sounding.end() && *b < to && *b - *a <= maxLag; ++b)
            if (*b - *a >= minLag) result[*b - *a] += envelope[*a] * envelope[*b];
    for (std::size_t lag = minLag; lag <= maxLag && from + lag < to; ++lag)
        result[lag] /= static_cast<double>(to - from - lag);
    return result;
}

double Prior(double lag, double centre, double octaves) {
    return std::exp(-0.5 * Square(std::log2(lag / centre) / octaves));
}

// The best lag of `strength` under a prior, refined between frames.
double BestLag(const std::vector<double>& strength, std::size_t minLag, std::size_t maxLag, double centre,
               double octaves) {
    std::size_t best = minLag;
    double bestValue = -1.0;
    for (std::size_t lag = minLag; lag <= maxLag && lag < strength.size(); ++lag) {
        // A beat's periodicity shows at its double too: half the double's weight helps.
        double value = strength[lag];
        if (2 * lag < strength.size()) value += 0.5 * strength[2 * lag];
        value *= Prior(static_cast<double>(lag), centre, octaves);
        if (value > bestValue) {
            bestValue = value;
            best = lag;
        }
    }
    return static_cast<double>(best);
}

// The beat period in frames at every frame: the piece's, then window by
// window near it, smoothed so that one odd window does not pull the beat.
std::vector<double> LocalPeriods(const std::vector<double>& envelope, double hop, double givenPeriod) {
    const std::size_t frames = envelope.size();
    const auto minLag = std::max<std::size_t>(1, static_cast<std::size_t>(kShortestBeat / hop));
    const auto maxLag = static_cast<std::size_t>(kLongestBeat / hop);
    const auto window = std::max<std::size_t>(static_cast<std::size_t>(kWindow / hop), 2 * maxLag + 1);
    // A very long file is judged on fewer windows, so its cost stays bounded.
    const auto step = std::max<std::size_t>({1, static_cast<std::size_t>(kWindowStep / hop), frames / kMostWindows});
    std::vector<std::vector<double>> windows;
    std::vector<double> whole(2 * maxLag + 1, 0.0);
    const std::vector<std::size_t> sounding = SoundingFrames(envelope);
    for (std::size_t from = 0; from < frames; from += step) {
        const std::size_t to = std::min(frames, from + window);
        windows.push_back(Periodicity(envelope, sounding, from, to, minLag, 2 * maxLag));
        for (std::size_t lag = 0; lag < whole.size(); ++lag) whole[lag] += windows.back()[lag];
        if (to == frames) break;
    }
    const double global =
        givenPeriod > 0.0 ? givenPeriod / hop : BestLag(whole, minLag, maxLag, kPreferredBeat / hop, kPriorOctaves);
    std::vector<double> local;
    for (const auto& strength : windows) {
        const auto lo = std::max(minLag, static_cast<std::size_t>(global * kLocalFastest));
        const auto hi = std::max(lo, std::min(2 * maxLag, static_cast<std::size_t>(global * kLocalSlowest)));
        local.push_back(BestLag(strength, lo, hi, global, kLocalOctaves));
    }
    // A median of five windows: a tempo held for ten seconds or so.
    std::vector<double> smooth(local.size());
    for (std::size_t w = 0; w < local.size(); ++w) {
        std::vector<double> around;
        for (std::size_t k = w >= 2 ? w - 2 : 0; k <= std::min(local.size() - 1, w + 2); ++k)
            around.push_back(local[k]);
        std::nth_element(around.begin(), around.begin() + static_cast<std::ptrdiff_t>(around.size() / 2), around.end());
        smooth[w] = around[around.size() / 2];
    }
    std::vector<double> periods(frames, global);
    for (std::size_t f = 0; f < frames; ++f) {
        // Each window speaks for its middle; between middles the period glides.
        const double position =
            (static_cast<double>(f) - static_cast<double>(window) / 2.0) / static_cast<double>(step);
        if (smooth.empty()) break;
        if (position <= 0.0) periods[f] = smooth.front();
        else if (position >= static_cast<double>(smooth.size() - 1)) periods[f] = smooth.back();
        else {
            const auto w = static_cast<std::size_t>(position);
            const double t = position - static_cast<double>(w);
            periods[f] = smooth[w] * (1.0 - t) + smooth[w + 1] * t;
        }
    }
    return periods;
}

}  // namespace

TBeatTrack TrackBeats(std::span<const TPlayedOnset> onsets, const TPerformanceOptions& options) {
    TBeatTrack track;
    if (onsets.empty()) return track;
    const double first = onsets.front().Seconds;
    const double last = onsets.back().Seconds;
    const double hop = std::max(kHop, (last + kLongestBeat) / static_cast<double>(kMostFrames));
    const auto frames = static_cast<std::size_t>((last + 2.0 * kLongestBeat) / hop) + 1;
    std::vector<double> envelope = Envelope(onsets, hop, frames);
    const double givenPeriod = options.FirstBeatBpm > 0.0 ? 60.0 / options.FirstBeatBpm : 0.0;
    const std::vector<double> periods = LocalPeriods(envelope, hop, givenPeriod);
    // The first downbeat the user placed is a beat, whatever the notes say.
    if (options.FirstBeatSeconds && *options.FirstBeatSeconds >= 0.0) {
        const std::size_t forced =
            std::min(frames - 1, static_cast<std::size_t>(std::llround(*options.FirstBeatSeconds / hop)));
        envelope[forced] += 1000.0;
    }

    // score[f]: the best sequence of beats ending with a beat at frame f.
    std::vector<double> score(frames, 0.0);
    std::vector<std::ptrdiff_t> previous(frames, -1);
    std::map<long, std::vector<double>> penalties;  // by period in frames, by distance
    const auto firstFrame = static_cast<std::size_t>(std::max(0.0, first / hop - 2.0));
    for (std::size_t f = firstFrame; f < frames; ++f) {
        const long period = std::max(2L, std::lround(periods[f]));
        auto& penalty = penalties[period];
        if (penalty.empty()) {
            penalty.assign(static_cast<std::size_t>(2 * period + 1), 0.0);
            for (std::size_t d = 1; d < penalty.size(); ++d)
                penalty[d] = -kTightness * Square(std::log(static_cast<double>(d) / static_cast<double>(period)));
        }
        double best = 0.0;
        std::ptrdiff_t from = -1;
        const auto nearest = static_cast<std::size_t>(period / 2);
        for (std::size_t d = nearest; d <= static_cast<std::size_t>(2 * period) && d <= f - firstFrame; ++d) {
            const double value = score[f - d] + penalty[d];
            if (from < 0 || value > best) {
                best = value;
                from = static_cast<std::ptrdiff_t>(f - d);
            }
        }
        if (from >= 0 && best > 0.0) {
            score[f] = envelope[f] + best;
            previous[f] = from;
        } else {
            score[f] = envelope[f];
        }
    }
    // The last beat: the best ending within a beat after the last onset.
    const auto lastFrame = std::min(frames - 1, static_cast<std::size_t>(last / hop));
    std::size_t end = lastFrame;
    const auto reach = static_cast<std::size_t>(periods[lastFrame]);
    for (std::size_t f = lastFrame >= reach ? lastFrame - reach : 0; f <= std::min(frames - 1, lastFrame + 2); ++f)
        if (score[f] > score[end]) end = f;
    for (std::ptrdiff_t f = static_cast<std::ptrdiff_t>(end); f >= 0; f = previous[static_cast<std::size_t>(f)])
        track.Times.push_back(static_cast<double>(f) * hop);
    std::reverse(track.Times.begin(), track.Times.end());
    // Snaps each beat onto the onset it stands for, from the frame's rounding.
    std::size_t o = 0, confirmed = 0;
    for (double& beat : track.Times) {
        while (o + 1 < onsets.size() && onsets[o + 1].Seconds <= beat) ++o;
        std::size_t nearest = o;
        if (o + 1 < onsets.size() && std::abs(onsets[o + 1].Seconds - beat) < std::abs(onsets[o].Seconds - beat))
            nearest = o + 1;
        if (std::abs(onsets[nearest].Seconds - beat) <= 1.5 * hop) beat = onsets[nearest].Seconds;
        if (std::abs(onsets[nearest].Seconds - beat) <= kConfirmed) ++confirmed;
    }
    for (std::size_t b = 1; b < track.Times.size(); ++b)
        track.Times[b] = std::max(track.Times[b], track.Times[b - 1] + hop);
    if (!track.Times.empty())
        track.Confidence = static_cast<double>(confirmed) / static_cast<double>(track.Times.size());
    return track;
}

}  // namespace korvalin
