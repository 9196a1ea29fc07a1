// Measures, meters and note values of the readable notation: where the bars
// fall as the time signature changes, how each meter divides, and how a note
// or rest is cut into values that let a player see the beat.

#include <algorithm>
#include <limits>
#include <numeric>

#include "MusicXmlExporter.h"
#include "ReadableSteps.h"
#include "ScoreQuantize.h"

namespace korvalin {
namespace {

constexpr int kNoBoundary = std::numeric_limits<int>::max();
constexpr std::int32_t kLongestBeatType = 64;
constexpr TScoreTime kTupletUnit = 3 * 5 * 7;
// The share of a piece's bars in which the meter of a short opening bar may
// come back and the bar still be taken for a pickup.
constexpr double kPickupMeterReturns = 0.25;

bool IsReadableSignature(std::int32_t beats, std::int32_t beatType) {
    return beats >= 1 && beats <= 99 && beatType >= 1 && beatType <= kLongestBeatType &&
           (beatType & (beatType - 1)) == 0;
}

// The note value of `duration` units, plain or with one dot; false when there is none.
bool Representable(TScoreTime unitsPerWhole, TScoreTime duration, TNoteType& type, std::uint8_t& dots) {
    for (int k = 0; k <= 8; ++k) {
        if (unitsPerWhole % (TScoreTime{1} << k) != 0) break;
        const TScoreTime value = unitsPerWhole >> k;
        if (duration == value || (value % 2 == 0 && duration == value + value / 2)) {
            type = static_cast<TNoteType>(static_cast<int>(TNoteType::ntWhole) + k);
            dots = duration == value ? 0 : 1;
            return true;
        }
    }
    return false;
}

bool Contains(const std::vector<TScoreTime>& sorted, TScoreTime value) {
    return std::binary_search(sorted.begin(), sorted.end(), value);
}

class TMeterView {
public:
    explicit TMeterView(const TMeter& meter) : FMeter(meter) {}

    // 0 the measure start, 1 a group, 2 a beat, 3 and more ever finer parts of a beat.
    int Strength(TScoreTime p) const {
        if (p == 0) return 0;
        if (Contains(FMeter.GroupStarts, p)) return 1;
        if (Contains(FMeter.BeatStarts, p)) return 2;
        const TScoreTime start = FMeter.BeatAt(p);
        TScoreTime part = FirstPart(FMeter.BeatLengthAt(p));
        for (int level = 3; part > 0; ++level) {
            if ((p - start) % part == 0) return level;
            if (part % 2 != 0) break;
            part /= 2;
        }
        return kNoBoundary;
    }

    // The strongest boundary strictly inside (s, e), and every position of that strength there.
    int StrongestInside(TScoreTime s, TScoreTime e, std::vector<TScoreTime>& at) const {
        at.clear();
        for (const TScoreTime g : FMeter.GroupStarts)
            if (g > s && g < e) at.push_back(g);
        if (!at.empty()) return 1;
        for (const TScoreTime b : FMeter.BeatStarts)
            if (b > s && b < e) at.push_back(b);
        if (!at.empty()) return 2;
        const TScoreTime start = FMeter.BeatAt(s);
        TScoreTime part = FirstPart(FMeter.BeatLengthAt(s));
        for (int level = 3; part > 0; ++level) {
            for (TScoreTime m = start + ((s - start) / part + 1) * part; m < e; m += part) at.push_back(m);
            if (!at.empty()) return level;
            if (part % 2 != 0) break;
            part /= 2;
        }
        return kNoBoundary;
    }

    bool Triple(TScoreTime offset) const { return FMeter.Compound || IsThreeParts(FMeter.BeatLengthAt(offset)); }

    bool OnBeat(TScoreTime p) const { return p == FMeter.Length || Strength(p) <= 2; }

    bool Allowed(TScoreTime s, TScoreTime e, bool rest, TNoteType& type, std::uint8_t& dots) const {
        if (!Representable(FMeter.UnitsPerWhole, e - s, type, dots)) return false;
        std::vector<TScoreTime> inside;
        const int crossed = StrongestInside(s, e, inside);
        const int start = Strength(s);
        const TScoreTime duration = e - s;
        const TScoreTime beat = FMeter.BeatLengthAt(s);
        const bool triple = Triple(s);
        if (rest) {
            if (dots > 0) {
                // A dotted rest is a whole beat of three parts, or two at the start of a group.
                if (!triple || start > 2 || !OnBeat(e) || crossed < 2) return false;
                return duration == beat || FMeter.GroupAt(s) == s;
            }
            TScoreTime anchor = 0;
            TScoreTime limit = FMeter.Length;
            if (duration <= beat) {
                anchor = FMeter.BeatAt(s);
                limit = anchor + beat;
            } else if (duration <= FMeter.GroupLengthAt(s)) {
                anchor = FMeter.GroupAt(s);
                limit = anchor + FMeter.GroupLengthAt(s);
            }
            return (s - anchor) % duration == 0 && e <= limit;
        }
        if (crossed >= 3) return true;  // inside one beat the beams show it
        if (crossed == 2) {
            if (start <= 2) return !triple || OnBeat(e);
            // eighth - quarter - eighth: a beat-long note from the middle of a beat
            return !triple && start == 3 && duration == beat;
        }
        // crossing a group: from the start of the measure, or the syncopation
        // quarter - half - quarter centred on the group boundary
        if (s == 0) return !triple || OnBeat(e);
        return !triple && inside.size() == 1 && start <= 2 && duration == 2 * beat && s + duration / 2 == inside[0];
    }

private:
    // A beat of three plain values (a dotted quarter), whatever else the unit divides into.
    bool IsThreeParts(TScoreTime beatLength) const {
        if (beatLength % 3 != 0 || FMeter.UnitsPerWhole % (beatLength / 3) != 0) return false;
        const TScoreTime parts = FMeter.UnitsPerWhole / (beatLength / 3);
        return (parts & (parts - 1)) == 0;
    }

    TScoreTime FirstPart(TScoreTime beatLength) const {
        return FMeter.Compound || IsThreeParts(beatLength) ? beatLength / 3 : beatLength / 2;
    }

    const TMeter& FMeter;
};

void Split(const TMeterView& view, const TMeter& meter, TScoreTime s, TScoreTime e, bool rest,
           std::vector<TWrittenValue>& out) {
    TNoteType type{};
    std::uint8_t dots = 0;
    if (view.Allowed(s, e, rest, type, dots)) {
        out.push_back({s, e - s, type, dots, {}});
        return;
    }
    std::vector<TScoreTime> at;
    view.StrongestInside(s, e, at);
    if (at.empty()) {
        // No boundary left to cut at: the largest value that fits, then the rest.
        for (int k = 0; k <= 8; ++k) {
            const TScoreTime value = meter.UnitsPerWhole >> k;
            if (value <= 0) break;
            if (value <= e - s) {
                out.push_back({s, value, static_cast<TNoteType>(static_cast<int>(TNoteType::ntWhole) + k), 0, {}});
                if (s + value < e) Split(view, meter, s + value, e, rest, out);
                return;
            }
        }
        out.push_back({s, e - s, TNoteType::nt256th, 0, {}});
        return;
    }
    // A note keeps its longest first part that may stand alone (a dotted half
    // and a dotted quarter in 9/8); a rest goes from the earliest boundary.
    TScoreTime cut = at.front();
    if (!rest)
        for (auto it = at.rbegin(); it != at.rend(); ++it)
            if (view.Allowed(s, *it, false, type, dots)) {
                cut = *it;
                break;
            }
    Split(view, meter, s, cut, rest, out);
    Split(view, meter, cut, e, rest, out);
}

TScoreTime Lcm(TScoreTime a, TScoreTime b) { return a / std::gcd(a, b) * b; }

}  // namespace

namespace {

// The part of a measure that holds `offset`, among parts that start at `starts`.
std::pair<TScoreTime, TScoreTime> PartHolding(const std::vector<TScoreTime>& starts, TScoreTime measureLength,
                                              TScoreTime offset) {
    const auto it = std::upper_bound(starts.begin(), starts.end(), offset);
    const TScoreTime start = it == starts.begin() ? 0 : *(it - 1);
    return {start, (it == starts.end() ? measureLength : *it) - start};
}

}  // namespace

TScoreTime TMeter::BeatAt(TScoreTime offset) const { return PartHolding(BeatStarts, Length, offset).first; }
TScoreTime TMeter::BeatLengthAt(TScoreTime offset) const { return PartHolding(BeatStarts, Length, offset).second; }
TScoreTime TMeter::GroupAt(TScoreTime offset) const { return PartHolding(GroupStarts, Length, offset).first; }
TScoreTime TMeter::GroupLengthAt(TScoreTime offset) const { return PartHolding(GroupStarts, Length, offset).second; }

TMeter MakeMeter(std::int32_t beats, std::int32_t beatType, TScoreTime unitsPerWhole) {
    TMeter meter;
    meter.UnitsPerWhole = unitsPerWhole;
    const TScoreTime unit = unitsPerWhole / beatType;
    meter.Length = beats * unit;
    std::vector<TScoreTime> beatLengths;
    if ((beats % 3 == 0 && beats >= 6) || (beats == 3 && beatType >= 8)) {
        meter.Compound = true;
        beatLengths.assign(static_cast<std::size_t>(beats / 3), 3 * unit);
    } else if (beatType >= 8 && beats >= 5 && beats % 2 == 1) {
        // 5/8 as 3+2, 7/8 as 2+2+3, and so on: twos with one three
        if (beats == 5) beatLengths = {3 * unit, 2 * unit};
        else {
            beatLengths.assign(static_cast<std::size_t>((beats - 3) / 2), 2 * unit);
            beatLengths.push_back(3 * unit);
        }
    } else {
        beatLengths.assign(static_cast<std::size_t>(beats), unit);
    }
    TScoreTime at = 0;
    for (const TScoreTime length : beatLengths) {
        meter.BeatStarts.push_back(at);
        at += length;
    }
    // The groups whose boundary must stay visible: the middle of 4/4 and of
    // 12/8, the 3+2 of 5/4, and so on.
    const auto beatsPerGroup = [&]() -> std::size_t {
        const std::size_t count = beatLengths.size();
        if (beatType >= 8 && !meter.Compound) return count;
        if (count == 4) return 2;
        if (count == 5 || count == 6) return 3;
        if (count == 7) return 4;
        if (count >= 8) return 4;
        return count;
    }();
    meter.GroupStarts.push_back(0);
    for (std::size_t i = beatsPerGroup; i < beatLengths.size(); i += beatsPerGroup)
        meter.GroupStarts.push_back(meter.BeatStarts[i]);
    return meter;
}

TMeter PickupMeter(const TMeter& full, TScoreTime length) {
    // The pickup is the end of a bar: its beats are the bar's, moved back by
    // what is missing, and its start is where its first (maybe partial) beat begins.
    TMeter meter = full;
    meter.Length = length;
    const TScoreTime missing = full.Length - length;
    const auto shift = [&](const std::vector<TScoreTime>& starts) {
        std::vector<TScoreTime> shifted{0};
        for (const TScoreTime start : starts)
            if (start > missing) shifted.push_back(start - missing);
        return shifted;
    };
    meter.BeatStarts = shift(full.BeatStarts);
    meter.GroupStarts = shift(full.GroupStarts);
    return meter;
}

TUnitScale MakeUnitScale(const TMidiFile& midi, std::int32_t grid) {
    TUnitScale scale;
    TScoreTime units = Lcm(grid, 4);
    if (IsReadableSignature(midi.TimeNumerator, midi.TimeDenominator)) units = Lcm(units, midi.TimeDenominator);
    for (const auto& change : midi.TimeSignatureChanges)
        if (IsReadableSignature(change.Numerator, change.Denominator)) units = Lcm(units, change.Denominator);
    // Tuplets (three, five, six and seven in the time of two or four) need a
    // unit that every one of them divides.
    units *= kTupletUnit;
    scale.UnitsPerWhole = units;
    scale.TicksPerStep = std::int64_t{midi.PPQN} * 4 / grid;
    scale.UnitsPerStep = units / grid;
    scale.TicksPerQuarter = midi.PPQN;
    return scale;
}

std::vector<TMeterChange> ReadableMeterChanges(const TMidiFile& midi, const TUnitScale& scale) {
    // The loader keeps them by tick, and rounding to the grid keeps that order.
    std::vector<TMeterChange> changes;
    for (const auto& change : midi.TimeSignatureChanges)
        if (IsReadableSignature(change.Numerator, change.Denominator))
            changes.push_back({scale.FromTick(QuantizeTick(change.Tick, scale.TicksPerStep)),
                               {change.Numerator, change.Denominator}});
    return changes;
}

TScoreTimeSignature OpeningSignature(const TMidiFile& midi, std::span<const TMeterChange> changes) {
    // Without a signature at the start, MIDI's own default: 4/4.
    if (changes.empty() && IsReadableSignature(midi.TimeNumerator, midi.TimeDenominator))
        return {midi.TimeNumerator, midi.TimeDenominator};
    return {4, 4};
}

std::size_t TMeasureMap::IndexAt(TScoreTime time) const {
    const auto it = std::upper_bound(Measures.begin(), Measures.end(), time,
                                     [](TScoreTime t, const TMeasureSlot& m) { return t < m.Start; });
    return it == Measures.begin() ? 0 : static_cast<std::size_t>(it - Measures.begin()) - 1;
}

std::size_t TMeasureMap::IndexAt(TScoreTime time, std::size_t& hint) const {
    for (std::size_t m = hint; m < Measures.size() && m < hint + 2; ++m)
        if (Measures[m].Start <= time && (m + 1 == Measures.size() || time < Measures[m + 1].Start)) return hint = m;
    return hint = IndexAt(time);
}

TMeasureMap BuildMeasureMap(const TMidiFile& midi, const TUnitScale& scale, TScoreTime scoreEnd,
                            std::int64_t measureLimit, const TMeasureStart& start) {
    TMeasureMap map;
    map.UnitsPerWhole = scale.UnitsPerWhole;
    const std::vector<TMeterChange> changes = ReadableMeterChanges(midi, scale);
    TScoreTimeSignature current = OpeningSignature(midi, changes);
    std::size_t next = 0;
    TScoreTimeSignature written{0, 0};
    TScoreTime position = start.Start;
    bool firstCut = false;  // the first bar is cut short by a change of meter inside it
    const auto applyChanges = [&] {
        while (next < changes.size() && changes[next].At <= position) {
            current = changes[next].Time;
            ++next;
        }
    };
    if (start.PickupLength > 0) {
        applyChanges();
        TMeasureSlot& slot = map.Measures.emplace_back();
        slot.Start = position;
        slot.Length = start.PickupLength;
        slot.Implicit = true;
        slot.Time = written = current;
        slot.TimeChanged = true;
        slot.Meter = PickupMeter(MakeMeter(current.Beats, current.BeatType, scale.UnitsPerWhole), start.PickupLength);
        position += start.PickupLength;
    }
    while (map.Measures.empty() || position < scoreEnd) {
        applyChanges();
        TScoreTime length = current.Beats * scale.UnitsPerWhole / current.BeatType;
        TScoreTimeSignature time = current;
        if (next < changes.size() && changes[next].At < position + length) {
            // The file changes its meter inside a bar: the bar is cut there and
            // written with a signature of its own length, as a copyist would.
            length = changes[next].At - position;
            firstCut = firstCut || map.Measures.empty();
            for (std::int32_t beatType = current.BeatType; beatType <= kLongestBeatType; beatType *= 2)
                if (length * beatType % scale.UnitsPerWhole == 0) {
                    time = {static_cast<std::int32_t>(length * beatType / scale.UnitsPerWhole), beatType};
                    break;
                }
        }
        if (static_cast<std::int64_t>(map.Measures.size()) >= measureLimit) throw EMusicXmlError(kMsgScoreTooLarge);
        TMeasureSlot& slot = map.Measures.emplace_back();
        slot.Start = position;
        slot.Length = length;
        slot.Time = time;
        slot.TimeChanged = time.Beats != written.Beats || time.BeatType != written.BeatType;
        written = time;
        slot.Meter = MakeMeter(time.Beats, time.BeatType, scale.UnitsPerWhole);
        slot.Meter.Length = length;
        position += length;
    }
    // A file that writes its pickup as a bar of its own (1/4 before 4/4): the
    // short bar is the pickup of the meter that follows, written from the start.
    // A meter the file keeps coming back to is a meter of the piece, and a bar
    // the file cuts short by changing meter inside it is that change: neither
    // is a pickup. A played-out repeat brings the short bar back now and then
    // (the section's last bar and its upbeat again): still the pickup's meter.
    const auto returnsLater = [&](const TScoreTimeSignature& time) {
        std::size_t again = 0;
        for (std::size_t m = 1; m < map.Measures.size(); ++m)
            if (map.Measures[m].Time.Beats == time.Beats && map.Measures[m].Time.BeatType == time.BeatType) ++again;
        return static_cast<double>(again) > kPickupMeterReturns * static_cast<double>(map.Measures.size());
    };
    if (start.PickupLength == 0 && !firstCut && map.Measures.size() >= 2 &&
        map.Measures[0].Length < map.Measures[1].Length && map.Measures[1].TimeChanged &&
        !returnsLater(map.Measures[0].Time)) {
        TMeasureSlot& pickup = map.Measures[0];
        TMeasureSlot& first = map.Measures[1];
        pickup.Implicit = true;
        pickup.Time = first.Time;
        pickup.Meter = PickupMeter(first.Meter, pickup.Length);
        first.TimeChanged = false;
    }

    // Keys: the file's first one from the start (or the estimated one), each
    // later change from the barline nearest to it.
    TScoreKey key{std::clamp(midi.KeyFifths, -7, 7), midi.KeyMinor};
    if (!midi.KeyChanges.empty())
        key = {std::clamp(midi.KeyChanges.front().Fifths, -7, 7), midi.KeyChanges.front().Minor};
    std::size_t nextKey = 1;
    for (std::size_t i = 0; i < map.Measures.size(); ++i) {
        TMeasureSlot& slot = map.Measures[i];
        while (nextKey < midi.KeyChanges.size()) {
            const TScoreTime at = scale.FromTick(QuantizeTick(midi.KeyChanges[nextKey].Tick, scale.TicksPerStep));
            if (at >= slot.Start + slot.Length / 2) break;
            key = {std::clamp(midi.KeyChanges[nextKey].Fifths, -7, 7), midi.KeyChanges[nextKey].Minor};
            ++nextKey;
        }
        slot.KeyChanged =
            i == 0 || key.Fifths != map.Measures[i - 1].Key.Fifths || key.Minor != map.Measures[i - 1].Key.Minor;
        slot.Key = key;
    }
    return map;
}

void SplitIntoValues(const TMeter& meter, TScoreTime start, TScoreTime end, bool rest,
                     std::vector<TWrittenValue>& out) {
    if (end <= start) return;
    const TMeterView view(meter);
    Split(view, meter, start, end, rest, out);
}

void SetBeams(const TMeter& meter, std::span<TScoreEvent> events) {
    const auto levels = [](const TScoreEvent& event) {
        return static_cast<int>(event.Type) - static_cast<int>(TNoteType::ntEighth) + 1;
    };
    const auto beamable = [&](const TScoreEvent& event) {
        return !event.IsRest() && !event.Hidden && event.HasType && levels(event) >= 1;
    };
    // Runs of beamable notes within one beat; a rest or a longer note ends a run.
    std::vector<std::pair<std::size_t, std::size_t>> runs;  // [first, last)
    for (std::size_t i = 0; i < events.size(); ++i) {
        const bool onBeat = meter.BeatAt(events[i].Offset) == events[i].Offset;
        const bool extend = !runs.empty() && runs.back().second == i && !onBeat;
        if (!beamable(events[i])) continue;
        if (extend) ++runs.back().second;
        else runs.emplace_back(i, i + 1);
    }
    // In 2/4 and 4/4 four plain eighths fill two beats under one beam.
    const TScoreTime quarter = meter.UnitsPerWhole / 4;
    const auto pairOfEighths = [&](const std::pair<std::size_t, std::size_t>& run) {
        if (run.second - run.first != 2) return false;
        for (std::size_t i = run.first; i < run.second; ++i)
            if (events[i].Type != TNoteType::ntEighth || events[i].Dots != 0 || events[i].Tuplet.Actual != 0)
                return false;
        return true;
    };
    if (!meter.Compound && meter.BeatLengthAt(0) == quarter && meter.GroupLengthAt(0) == 2 * quarter) {
        std::vector<std::pair<std::size_t, std::size_t>> merged;
        for (std::size_t r = 0; r < runs.size(); ++r) {
            const bool join = r + 1 < runs.size() && runs[r].second == runs[r + 1].first && pairOfEighths(runs[r]) &&
                              pairOfEighths(runs[r + 1]) && events[runs[r].first].Offset % (2 * quarter) == 0;
            if (join) {
                merged.emplace_back(runs[r].first, runs[r + 1].second);
                ++r;
            } else {
                merged.push_back(runs[r]);
            }
        }
        runs = std::move(merged);
    }
    for (const auto& [first, last] : runs) {
        if (last - first < 2) continue;
        for (std::size_t level = 0; level < kBeamLevels; ++level) {
            for (std::size_t i = first; i < last; ++i) {
                if (levels(events[i]) <= static_cast<int>(level)) continue;
                const bool before = i > first && levels(events[i - 1]) > static_cast<int>(level);
                const bool after = i + 1 < last && levels(events[i + 1]) > static_cast<int>(level);
                TBeam beam = TBeam::bmContinue;
                if (!before && !after) beam = i == first ? TBeam::bmForwardHook : TBeam::bmBackwardHook;
                else if (!before) beam = TBeam::bmBegin;
                else if (!after) beam = TBeam::bmEnd;
                events[i].Beams[level] = beam;
            }
        }
    }
}

}  // namespace korvalin
