// The grid of a part chosen from its playing: the coarsest binary grid that,
// with the tuplets it allows, places the onsets as well as the finest does.

#include <algorithm>
#include <cmath>
#include <functional>

#include "ReadableSteps.h"
#include "ReadableTupletReadings.h"
#include "ScoreQuantize.h"

namespace korvalin {

namespace {

// A part longer than this many measures is judged on a sample of them.
constexpr std::size_t kMostMeasuresWeighed = 2048;

}  // namespace

std::vector<TGridFit> FitGrids(const TMidiTrack& track, const TMeasureMap& map, std::int64_t ppqn,
                               std::int64_t tolerance) {
    std::vector<std::int64_t> onsets;
    onsets.reserve(track.Notes().size());
    for (const auto& note : track.Notes()) onsets.push_back(note.StartTick);
    SortNearlySorted(onsets, std::less<>());
    // A long part is judged on measures spread evenly over it: how it was
    // played shows as well in every few of its measures as in all of them.
    const std::size_t stride = map.Measures.size() / kMostMeasuresWeighed + 1;
    const double unitsPerTick = static_cast<double>(map.UnitsPerWhole) / (4.0 * static_cast<double>(ppqn));
    const double tolerated = static_cast<double>(tolerance) * unitsPerTick;
    std::vector<TGridFit> fits;
    std::vector<TBeatInput> beats;
    std::vector<double> places;
    std::vector<std::size_t> chordOf;
    for (const std::int32_t grid : {8, 16, 32}) {
        if (4 * ppqn % grid != 0 || map.UnitsPerWhole % grid != 0) continue;
        const TScoreTime step = map.UnitsPerWhole / grid;
        TGridFit& fit = fits.emplace_back();
        fit.Grid = grid;
        // Where the binary grid places an onset.
        const auto placed = [&](std::int64_t tick) {
            return static_cast<TScoreTime>(
                       std::llround(static_cast<double>(tick) * unitsPerTick / static_cast<double>(step))) *
                   step;
        };
        std::size_t hint = 0;
        for (std::size_t i = 0; i < onsets.size();) {
            const std::size_t measure = map.IndexAt(placed(onsets[i]), hint);
            const TMeasureSlot& slot = map.Measures[measure];
            if (measure % stride != 0) {
                do ++i;
                while (i < onsets.size() && placed(onsets[i]) < slot.Start + slot.Length);
                continue;
            }
            ReadingBeats(slot.Meter, map.UnitsPerWhole, beats);
            std::size_t j = i;
            for (; j < onsets.size(); ++j) {
                const double at = static_cast<double>(onsets[j]) * unitsPerTick;
                const TScoreTime binary = placed(onsets[j]);
                if (binary >= slot.Start + slot.Length) break;
                const std::size_t b = BeatHolding(beats, std::max<TScoreTime>(0, binary - slot.Start));
                beats[b].Points.Onsets.push_back(at - static_cast<double>(slot.Start + beats[b].Start));
            }
            if (j == i) ++j;  // an onset the grid puts outside the score's measures
            for (auto& beat : beats) {
                places = beat.Points.Onsets;
                ClusterOnsets(places, static_cast<double>(beat.Length), beat.Points.Onsets, chordOf);
                fit.Onsets += beat.Points.Onsets.size();
            }
            const std::vector<std::int32_t> chosen = ChooseReadings(beats, step, map.UnitsPerWhole, 1.0);
            for (std::size_t b = 0; b < beats.size(); ++b) {
                if (chosen[b] < 0) continue;
                const TReading& reading = kReadings[static_cast<std::size_t>(chosen[b])];
                TWindow window;
                if (!WindowOf(reading, beats[b].Length, step, map.UnitsPerWhole, window)) {
                    // Beats the grid does not divide: the binary grid alone.
                    window.Length = beats[b].Length;
                    window.Parts = static_cast<std::int32_t>(std::max<TScoreTime>(1, beats[b].Length / step));
                }
                const double part = static_cast<double>(window.Length) / window.Parts;
                for (std::size_t w = b; w < std::min(beats.size(), b + static_cast<std::size_t>(reading.Beats)); ++w) {
                    const double shift = static_cast<double>(beats[w].Start - beats[b].Start);
                    for (const double onset : beats[w].Points.Onsets) {
                        const double at = onset + shift;
                        const double moved =
                            std::abs(at - static_cast<double>(SnapToPoint(at, part, window.Parts)) * part);
                        if (moved > tolerated) ++fit.Moved;
                        if (moved * 2 > tolerated) ++fit.Near;
                    }
                }
            }
            i = j;
        }
    }
    return fits;
}

std::int32_t ChooseGrid(const TMidiTrack& track, const TMeasureMap& map, std::int64_t ppqn) {
    // Noticeably: by more than a 64th, what no grid up to 1/32 moves a note
    // written on it.
    const std::vector<TGridFit> fits = FitGrids(track, map, ppqn, std::max<std::int64_t>(1, ppqn / 16));
    if (fits.empty()) return 16;
    const TGridFit& finest = fits.back();
    // Even the finest grid moves a good part of the onsets a little: played
    // freely, where a finer grid only writes the player's unevenness.
    if (finest.Near * 5 > finest.Onsets) {
        for (const auto& fit : fits)
            if (fit.Grid == 16) return 16;
        return finest.Grid;
    }
    const std::size_t slack = finest.Onsets / 100;
    for (const auto& fit : fits)
        if (fit.Moved <= finest.Moved + slack) return fit.Grid;
    return finest.Grid;
}

}  // namespace korvalin
