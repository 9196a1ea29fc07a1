// When a file was played freely, and how its notes move onto the beats found.
// A file entered in a sequencer or a notation program has its onsets on its
// grid; a recorded performance has most of them anywhere, under one default
// tempo that has nothing to do with the music. The re-timed file gives every
// beat the same number of ticks, each note placed between the beats around it
// in proportion to when it sounded, so the readable steps see the beats as
// they would see an entered score's.

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "PerformanceStage.h"

namespace korvalin {
namespace {

// More than this share of the onsets off every grid of the file: played freely.
constexpr double kFreeShare = 0.25;
// The points of the beat an entered score uses, tuplets included.
constexpr std::size_t kFewPointsOfTheBeat = 32;
// Notes that start this close together are one onset.
constexpr double kTogether = 0.035;
constexpr std::int32_t kPpqn = 480;
// A tempo mark changes when the tempo of the next bars stays this far from it.
constexpr double kLastingChange = 1.15;
constexpr std::size_t kTempoBars = 6;
// The slowest and fastest tempo reported: over runs of this many bars.
constexpr std::size_t kRangeBars = 2;
// What one performance can be: at most three hours from its first note to its
// last, with an onset every few seconds on average. Notes scattered more
// thinly than that (a recorder left running, a damaged file) have no beat to
// follow, and the search for one would cost time in proportion to the silence.
constexpr double kLongestPerformance = 3.0 * 3600.0;
constexpr double kSparsestOnsets = 3.0;

// Seconds at each tick through the file's tempo map.
class TTickClock {
public:
    explicit TTickClock(const TMidiFile& midi) : FPpqn(std::max(1, midi.PPQN)) {
        std::vector<TTempoChange> changes = midi.TempoChanges;
        std::stable_sort(changes.begin(), changes.end(),
                         [](const TTempoChange& a, const TTempoChange& b) { return a.Tick < b.Tick; });
        FSegments.push_back({0, 0.0, midi.TempoMicroseconds > 0 ? midi.TempoMicroseconds : 500000u});
        if (!changes.empty() && changes.front().Tick <= 0) FSegments.back().Micros = changes.front().Microseconds;
        for (const auto& change : changes) {
            if (change.Tick <= 0 || change.Microseconds == 0) continue;
            const TSegment& last = FSegments.back();
            FSegments.push_back({change.Tick, Seconds(change.Tick, last), change.Microseconds});
        }
    }
    double operator()(std::int64_t tick) const {
        const auto it = std::upper_bound(FSegments.begin(), FSegments.end(), tick,
                                         [](std::int64_t t, const TSegment& s) { return t < s.Tick; });
        return Seconds(tick, it == FSegments.begin() ? FSegments.front() : *(it - 1));
    }

    // The tick sounding at `seconds`: the inverse, within the file's tempo map.
    std::int64_t TickAt(double seconds) const {
        const auto it = std::upper_bound(FSegments.begin(), FSegments.end(), seconds,
                                         [](double t, const TSegment& s) { return t < s.At; });
        const TSegment& from = it == FSegments.begin() ? FSegments.front() : *(it - 1);
        return from.Tick + std::llround((seconds - from.At) * 1e6 * FPpqn / std::max(1u, from.Micros));
    }

private:
    struct TSegment {
        std::int64_t Tick = 0;
        double At = 0.0;
        std::uint32_t Micros = 500000;
    };
    double Seconds(std::int64_t tick, const TSegment& from) const {
        return from.At + static_cast<double>(tick - from.Tick) * from.Micros / 1e6 / FPpqn;
    }
    std::int32_t FPpqn;
    std::vector<TSegment> FSegments;
};

double Median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

// The beat period of every whole bar from the first downbeat.
std::vector<double> BarPeriods(const TBeatTrack& beats, const TFoundMeter& meter) {
    std::vector<double> bars;
    const double perBar = meter.BeatsPerBar;
    const double last = meter.Counts.back();
    for (double bar = 0.0; bar + perBar <= last; bar += perBar)
        bars.push_back((TimeOfCount(beats, meter, bar + perBar) - TimeOfCount(beats, meter, bar)) / perBar);
    return bars;
}

// Between the two points of a piecewise line around `x`, and beyond them
// along the nearest piece.
double Interpolate(const std::vector<double>& xs, const std::vector<double>& ys, double x) {
    const std::size_t n = std::min(xs.size(), ys.size());
    if (n < 2) return x;
    const auto after = static_cast<std::size_t>(
        std::upper_bound(xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(n), x) - xs.begin());
    const std::size_t i = std::clamp<std::size_t>(after, 1, n - 1) - 1;
    return ys[i] + (x - xs[i]) * (ys[i + 1] - ys[i]) / (xs[i + 1] - xs[i]);
}

}  // namespace

double CountAt(const TBeatTrack& beats, const TFoundMeter& meter, double seconds) {
    return Interpolate(beats.Times, meter.Counts, seconds);
}

double TimeOfCount(const TBeatTrack& beats, const TFoundMeter& meter, double count) {
    return Interpolate(meter.Counts, beats.Times, count);
}

bool FollowsItsGrid(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks) {
    const std::int64_t ppqn = std::max(1, midi.PPQN);
    // The finest grid an entered score uses: 1/32 notes and the triplets of 1/16 notes.
    const std::int64_t step = std::max<std::int64_t>(1, ppqn / 8);
    const std::int64_t tolerance = std::max<std::int64_t>(1, ppqn / 48);
    const auto near = [&](std::int64_t tick, std::int64_t grid) {
        if (grid <= 0) return false;
        const std::int64_t r = ((tick % grid) + grid) % grid;
        return std::min(r, grid - r) <= tolerance;
    };
    // A sequencer may place every note a little after the grid (a fixed
    // delay): the grid is taken where most onsets fall around it.
    std::vector<std::size_t> residues(static_cast<std::size_t>(step), 0);
    std::size_t onsets = 0;
    for (const TMidiTrack* track : tracks)
        for (const auto& note : track->Notes()) {
            ++residues[static_cast<std::size_t>(((note.StartTick % step) + step) % step)];
            ++onsets;
        }
    std::int64_t offset = 0;
    std::size_t best = 0;
    for (std::int64_t o = 0; o < step; ++o) {
        std::size_t around = 0;
        for (std::int64_t d = -tolerance; d <= tolerance; ++d)
            around += residues[static_cast<std::size_t>(((o + d) % step + step) % step)];
        if (around > best) {
            best = around;
            offset = o;
        }
    }
    std::size_t free = 0;
    for (const TMidiTrack* track : tracks)
        for (const auto& note : track->Notes()) {
            const std::int64_t tick = note.StartTick - offset;
            if (!near(tick, step) && !(ppqn % 6 == 0 && near(tick, ppqn / 6))) ++free;
        }
    if (static_cast<double>(free) <= kFreeShare * static_cast<double>(onsets)) return true;
    // Quintuplets, septuplets and the like lie off those grids, but an entered
    // score still places its onsets on a few points of the beat only, where a
    // performance spreads them over all of them.
    std::vector<std::size_t> inBeat(static_cast<std::size_t>(ppqn), 0);
    for (const TMidiTrack* track : tracks)
        for (const auto& note : track->Notes())
            ++inBeat[static_cast<std::size_t>(((note.StartTick % ppqn) + ppqn) % ppqn)];
    const std::size_t points = std::min(inBeat.size(), kFewPointsOfTheBeat);
    std::partial_sort(inBeat.begin(), inBeat.begin() + static_cast<std::ptrdiff_t>(points), inBeat.end(),
                      std::greater<>());
    std::size_t onFew = 0;
    for (std::size_t k = 0; k < points; ++k) onFew += inBeat[k];
    return static_cast<double>(onsets - onFew) <= kFreeShare * static_cast<double>(onsets);
}

std::vector<TPlayedNote> NotesInSeconds(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks) {
    const TTickClock clock(midi);
    std::vector<TPlayedNote> notes;
    for (const TMidiTrack* track : tracks)
        for (const auto& note : track->Notes())
            notes.push_back({clock(note.StartTick), clock(std::max(note.EndTick, note.StartTick)), note.Pitch & 127,
                             note.Velocity, note.Channel == kDrumChannel});
    std::stable_sort(notes.begin(), notes.end(),
                     [](const TPlayedNote& a, const TPlayedNote& b) { return a.Start < b.Start; });
    return notes;
}

std::vector<TPlayedOnset> GroupOnsets(std::span<const TPlayedNote> notes) {
    std::vector<TPlayedOnset> onsets;
    for (const auto& note : notes) {
        if (onsets.empty() || note.Start - onsets.back().Seconds > kTogether)
            onsets.push_back({note.Start, 0.0, 0.0, 127, 0});
        TPlayedOnset& onset = onsets.back();
        const double length = std::clamp(note.End - note.Start, 0.0, 2.0);
        // A loud or long note marks the rhythm more than a soft passing one.
        onset.Weight += (0.5 + std::clamp(note.Velocity, 1, 127) / 127.0) * (0.5 + length);
        onset.Longest = std::max(onset.Longest, length);
        onset.Lowest = std::min(onset.Lowest, note.Pitch);
        ++onset.Notes;
    }
    return onsets;
}

bool HasABeatToFollow(std::span<const TPlayedOnset> onsets) {
    if (onsets.size() < 2) return false;
    const double span = onsets.back().Seconds - onsets.front().Seconds;
    return span <= kLongestPerformance && span <= kSparsestOnsets * static_cast<double>(onsets.size());
}

std::unique_ptr<TRetimedPerformance> PreparePerformance(const TMidiFile& midi,
                                                        std::span<const TMidiTrack* const> tracks,
                                                        const TPerformanceOptions& options) {
    if (options.Timing == TPerformanceTiming::ptFile || tracks.empty()) return nullptr;
    if (!options.HasCorrection() && FollowsItsGrid(midi, tracks)) return nullptr;
    const std::vector<TPlayedNote> notes = NotesInSeconds(midi, tracks);
    const std::vector<TPlayedOnset> onsets = GroupOnsets(notes);
    if (!HasABeatToFollow(onsets)) return nullptr;
    auto result = std::make_unique<TRetimedPerformance>();
    TPerformanceAnalysis& analysis = result->Analysis;
    analysis.Beats = TrackBeats(onsets, options);
    if (analysis.Beats.Times.size() < 2) return nullptr;
    analysis.Meter = FindMeter(notes, onsets, analysis.Beats, options);
    analysis.Keys = FindKeys(notes, analysis.Beats, analysis.Meter);
    analysis.Confidence = (analysis.Beats.Confidence + analysis.Meter.Confidence) / 2.0;

    const TFoundMeter& meter = analysis.Meter;
    const std::vector<double>& beats = analysis.Beats.Times;
    const std::int64_t beatUnit = std::int64_t{kPpqn} * 4 / std::max(1, meter.BeatType);
    const std::int64_t perBeat = meter.Compound ? 3 * beatUnit : beatUnit;
    const std::int64_t bar = perBeat * meter.BeatsPerBar;
    double earliest = std::numeric_limits<double>::max();
    for (const auto& note : notes) earliest = std::min(earliest, CountAt(analysis.Beats, meter, note.Start));
    // Whole bars before the first downbeat hold whatever was played before it.
    const std::int64_t before = static_cast<std::int64_t>(
        std::ceil(std::max(0.0, -earliest) * static_cast<double>(perBeat) / static_cast<double>(bar)));
    const double base = static_cast<double>(before * bar);
    const auto tickAt = [&](double seconds) {
        return std::max<std::int64_t>(
            0, std::llround(base + CountAt(analysis.Beats, meter, seconds) * static_cast<double>(perBeat)));
    };

    TMidiFile& file = result->File;
    file.MidiFormat = 1;
    file.PPQN = kPpqn;
    file.Title = midi.Title;
    file.TimeNumerator = meter.Beats;
    file.TimeDenominator = meter.BeatType;
    file.TimeSignatureChanges.push_back({0, meter.Beats, meter.BeatType});
    file.HasKeySignature = true;
    file.KeyFifths = analysis.Keys.front().Fifths;
    file.KeyMinor = analysis.Keys.front().Minor;
    for (const auto& key : analysis.Keys) {
        // A key changes at a bar line.
        const double count = meter.Counts[std::min(key.FromBeat, meter.Counts.size() - 1)];
        const double barStart = std::floor(count / meter.BeatsPerBar) * meter.BeatsPerBar;
        file.KeyChanges.push_back(
            {std::llround(base + barStart * static_cast<double>(perBeat)), key.Fifths, key.Minor});
    }
    file.KeyChanges.front().Tick = 0;

    // Tempo marks: the opening bars' tempo, then a new mark only where the
    // following bars keep a clearly different one.
    const std::vector<double> periods = BarPeriods(analysis.Beats, meter);
    const double quarterPerBeat = static_cast<double>(perBeat) / kPpqn;
    const auto micros = [&](double period) {
        return static_cast<std::uint32_t>(std::llround(period * 1e6 / quarterPerBeat));
    };
    const auto medianFrom = [&](std::size_t from) {
        return Median(std::vector<double>(
            periods.begin() + static_cast<std::ptrdiff_t>(from),
            periods.begin() + static_cast<std::ptrdiff_t>(std::min(periods.size(), from + kTempoBars))));
    };
    double shown = periods.empty() ? beats[1] - beats[0] : medianFrom(0);
    file.TempoChanges.push_back({0, micros(shown)});
    for (std::size_t b = 1; b + kTempoBars <= periods.size(); ++b) {
        const double lasting = medianFrom(b);
        if (std::max(lasting / shown, shown / lasting) < kLastingChange) continue;
        shown = lasting;
        file.TempoChanges.push_back(
            {static_cast<std::int64_t>(before + static_cast<std::int64_t>(b)) * bar, micros(shown)});
        b += kTempoBars / 2;
    }
    file.TempoMicroseconds = file.TempoChanges.front().Microseconds;
    file.TempoBPM = 60e6 / file.TempoMicroseconds;
    file.HasTempo = true;
    analysis.SlowestBpm = analysis.FastestBpm = 60.0 / shown;
    for (std::size_t b = 0; b + kRangeBars <= periods.size(); ++b) {
        double sum = 0.0;
        for (std::size_t k = b; k < b + kRangeBars; ++k) sum += periods[k];
        const double bpm = 60.0 * static_cast<double>(kRangeBars) / sum;
        analysis.SlowestBpm = std::min(analysis.SlowestBpm, bpm);
        analysis.FastestBpm = std::max(analysis.FastestBpm, bpm);
    }

    const TTickClock clock(midi);
    for (std::size_t b = 0; b < beats.size() && b < meter.Counts.size(); ++b) {
        result->PlayedTicks.Written.push_back(std::llround(base + meter.Counts[b] * static_cast<double>(perBeat)));
        result->PlayedTicks.File.push_back(std::max<std::int64_t>(0, clock.TickAt(beats[b])));
    }
    for (const TMidiTrack* track : tracks) {
        auto& copy = result->Tracks.emplace_back(std::make_unique<TMidiTrack>());
        copy->Index = track->Index;
        copy->Name = track->Name;
        copy->ExportName = track->ExportName;
        copy->InstrumentName = track->InstrumentName;
        copy->ProgramNumber = track->ProgramNumber;
        copy->ClefMode = track->ClefMode;
        for (const auto& note : track->Notes()) {
            TMidiNote placed = note;
            placed.StartTick = tickAt(clock(note.StartTick));
            placed.EndTick = std::max(placed.StartTick + 1, tickAt(clock(std::max(note.EndTick, note.StartTick))));
            copy->AddNote(placed);
        }
        result->Parts.push_back(copy.get());
    }
    return result;
}

}  // namespace korvalin
