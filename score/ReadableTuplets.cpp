// Tuplets of the readable notation. Each beat of each voice is read on the
// binary grid and on the tuplet grids the grid's value allows (triplets of
// eighths, quarters and sixteenths, quintuplets, septuplets); a reading costs
// how far it moves the played onsets and ends, how many onsets it merges,
// and how unusual it is. The simplest reading wins unless another explains
// the playing clearly better, so straight or slightly uneven playing stays
// plain. The decision is taken on the ticks as played: the binary grid would
// already have destroyed a triplet.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <span>

#include "ReadableSteps.h"
#include "ReadableTupletReadings.h"
#include "ScoreQuantize.h"
#include "ScoreReport.h"

namespace korvalin {

namespace {

class TTupletPlacer {
public:
    TTupletPlacer(std::vector<TPartNote>& notes, const TMeasureMap& map, const TUnitScale& scale, bool withEnds,
                  bool asPerformed)
        : FNotes(notes), FMap(map), FScale(scale), FWithEnds(withEnds), FPerformed(asPerformed),
          FUnitsPerTick(static_cast<double>(scale.UnitsPerStep) / static_cast<double>(scale.TicksPerStep)) {}

    std::vector<TTupletSpan> Place() {
        std::map<std::pair<std::int32_t, std::int32_t>, std::vector<std::size_t>> lines;
        for (std::size_t i = 0; i < FNotes.size(); ++i) lines[{FNotes[i].Staff, FNotes[i].Voice}].push_back(i);
        for (auto& [key, line] : lines) PlaceLine(key.first, key.second, line);
        // The tuplets may have parted strikes of one key that the binary grid
        // had put together; those it did not part are one note.
        std::stable_sort(FNotes.begin(), FNotes.end(), [](const TPartNote& a, const TPartNote& b) {
            return a.Start != b.Start ? a.Start < b.Start : a.Pitch < b.Pitch;
        });
        std::size_t kept = 0;
        for (std::size_t i = 0; i < FNotes.size(); ++i) {
            const TPartNote& last = FNotes[kept > 0 ? kept - 1 : 0];
            if (kept > 0 && last.Start == FNotes[i].Start && last.Pitch == FNotes[i].Pitch &&
                last.Staff == FNotes[i].Staff && last.Voice == FNotes[i].Voice) {
                FNotes[kept - 1].End = std::max(FNotes[kept - 1].End, FNotes[i].End);
                continue;
            }
            FNotes[kept++] = FNotes[i];
        }
        FNotes.resize(kept);
        std::sort(FSpans.begin(), FSpans.end(), [](const TTupletSpan& a, const TTupletSpan& b) {
            if (a.Staff != b.Staff) return a.Staff < b.Staff;
            return a.Voice != b.Voice ? a.Voice < b.Voice : a.Start < b.Start;
        });
        return std::move(FSpans);
    }

private:
    double Units(std::int64_t tick) const { return static_cast<double>(tick) * FUnitsPerTick; }

    void PlaceLine(std::int32_t staff, std::int32_t voice, const std::vector<std::size_t>& line) {
        // Where an end was moved by the voices (to the next note, over a
        // lifted hand), it follows that note wherever the tuplets put it.
        std::vector<TScoreTime> oldStarts(line.size());
        for (std::size_t k = 0; k < line.size(); ++k) oldStarts[k] = FNotes[line[k]].Start;
        std::vector<std::int64_t> follows(line.size(), -1);
        std::vector<double> ends(line.size());
        std::vector<bool> moved(line.size(), false);
        std::vector<TQuantSpan> binary(line.size());
        for (std::size_t k = 0; k < line.size(); ++k) {
            TPartNote& note = FNotes[line[k]];
            const TQuantSpan played = QuantizeNote(TMidiNote{note.RawStart, note.RawEnd, 0, 0, 0}, FScale.TicksPerStep);
            // The end on its own: a note the grid collapses gets its length below.
            binary[k] = {FScale.FromTick(played.Start),
                         FScale.FromTick(QuantizeTick(note.RawEnd, FScale.TicksPerStep))};
            ends[k] = Units(note.RawEnd);
            // An end other than the one placed from the played times was moved
            // since, by a new strike of its key or by the voices.
            if (note.End == PlaceProvisionally(note.RawStart, note.RawEnd, FScale).End) continue;
            moved[k] = true;
            ends[k] = static_cast<double>(note.End);
            const auto it =
                std::lower_bound(oldStarts.begin() + static_cast<std::ptrdiff_t>(k), oldStarts.end(), note.End);
            if (it != oldStarts.end() && *it == note.End) follows[k] = it - oldStarts.begin();
        }
        // Outside the tuplets every note goes back to the binary grid.
        for (std::size_t k = 0; k < line.size(); ++k) FNotes[line[k]].Start = binary[k].Start;
        const std::size_t firstSpan = FSpans.size();
        std::size_t hint = 0;
        for (std::size_t i = 0; i < line.size();) {
            const std::size_t m = FMap.IndexAt(oldStarts[i], hint);
            const TMeasureSlot& slot = FMap.Measures[m];
            std::size_t j = i;
            while (j < line.size() && oldStarts[j] < slot.Start + slot.Length) ++j;
            j = std::max(j, i + 1);  // a note placed past the last bar goes with it
            PlaceMeasure(slot, staff, voice, line, oldStarts, ends, i, j);
            i = j;
        }
        // Ends inside a tuplet move onto its points; an end that follows a note
        // goes with it; and a voice's chords follow one another, as before.
        const std::span<const TTupletSpan> spans(FSpans.data() + firstSpan, FSpans.size() - firstSpan);
        std::vector<TScoreTime> newStarts(line.size());
        for (std::size_t k = 0; k < line.size(); ++k) newStarts[k] = FNotes[line[k]].Start;
        std::sort(newStarts.begin(), newStarts.end());
        for (std::size_t k = 0; k < line.size(); ++k) {
            TPartNote& note = FNotes[line[k]];
            const auto next = std::upper_bound(newStarts.begin(), newStarts.end(), note.Start);
            const auto target = static_cast<TScoreTime>(std::llround(ends[k]));
            if (follows[k] >= 0) {
                note.End = FNotes[line[static_cast<std::size_t>(follows[k])]].Start;
            } else if (const TTupletSpan* span = SpanHolding(spans, target); span != nullptr) {
                const TScoreTime part = (span->End - span->Start) / span->Actual;
                const double at = ends[k] - static_cast<double>(span->Start);
                note.End = span->Start + SnapToPoint(at, static_cast<double>(part), span->Actual) * part;
            } else if (moved[k]) {
                const TScoreTime step = FScale.UnitsPerStep;
                note.End = (note.End + step / 2) / step * step;
            } else {
                note.End = binary[k].End;
            }
            if (note.End <= note.Start) {
                const TTupletSpan* span = SpanHolding(spans, note.Start + 1);
                note.End =
                    note.Start + (span != nullptr ? (span->End - span->Start) / span->Actual : FScale.UnitsPerStep);
            }
            if (next != newStarts.end()) note.End = std::min(note.End, *next);
        }
    }

    // The tuplet that holds `at` strictly inside, or at its start.
    static const TTupletSpan* SpanHolding(std::span<const TTupletSpan> spans, TScoreTime at) {
        const auto it = std::upper_bound(spans.begin(), spans.end(), at,
                                         [](TScoreTime t, const TTupletSpan& s) { return t <= s.Start; });
        if (it == spans.begin()) return nullptr;
        const TTupletSpan& span = *(it - 1);
        return at > span.Start && at < span.End ? &span : nullptr;
    }

    void PlaceMeasure(const TMeasureSlot& slot, std::int32_t staff, std::int32_t voice,
                      const std::vector<std::size_t>& line, const std::vector<TScoreTime>& oldStarts,
                      const std::vector<double>& ends, std::size_t first, std::size_t last) {
        // Played freely, the uneven thirds of a compound beat are rubato far
        // more often than triplets of their own.
        if (FPerformed && slot.Meter.Compound) return;
        const TScoreTime scoreEnd = FMap.Measures.back().Start + FMap.Measures.back().Length;
        ReadingBeats(slot.Meter, FMap.UnitsPerWhole, FBeats);
        // Onsets by the beat their binary place falls in; ends of the notes
        // around, where they fall inside a beat.
        std::vector<std::vector<std::size_t>> byBeat(FBeats.size());
        for (std::size_t k = first; k < last; ++k) {
            byBeat[BeatHolding(FBeats, oldStarts[k] - slot.Start)].push_back(k);
        }
        const std::size_t from = first >= 8 ? first - 8 : 0;
        for (std::size_t k = from; k < last; ++k) {
            const double at = ends[k] - static_cast<double>(slot.Start);
            for (auto& beat : FBeats)
                if (at > static_cast<double>(beat.Start) && at < static_cast<double>(beat.Start + beat.Length))
                    beat.Points.Ends.push_back(at - static_cast<double>(beat.Start));
        }
        std::vector<std::vector<std::size_t>> chordOf(FBeats.size());
        for (std::size_t b = 0; b < FBeats.size(); ++b) {
            auto& members = byBeat[b];
            std::sort(members.begin(), members.end(), [&](std::size_t x, std::size_t y) {
                return FNotes[line[x]].RawStart < FNotes[line[y]].RawStart;
            });
            std::vector<double> places;
            for (const std::size_t k : members)
                places.push_back(Units(FNotes[line[k]].RawStart) - static_cast<double>(slot.Start + FBeats[b].Start));
            ClusterOnsets(places, static_cast<double>(FBeats[b].Length), FBeats[b].Points.Onsets, chordOf[b]);
        }
        for (auto& beat : FBeats) {
            auto& beatEnds = beat.Points.Ends;
            std::sort(beatEnds.begin(), beatEnds.end());
            const double near = kSameOnset * static_cast<double>(beat.Length);
            beatEnds.erase(
                std::unique(beatEnds.begin(), beatEnds.end(), [&](double a, double b) { return b - a <= near; }),
                beatEnds.end());
            if (!FWithEnds) beatEnds.clear();
        }
        const std::vector<std::int32_t> chosen =
            ChooseReadings(FBeats, FScale.UnitsPerStep, FMap.UnitsPerWhole, FPerformed ? kPerformedPenaltyScale : 1.0);
        for (std::size_t b = 0; b < FBeats.size(); ++b) {
            if (chosen[b] <= 0) continue;
            const TReading& reading = kReadings[static_cast<std::size_t>(chosen[b])];
            TWindow window;
            WindowOf(reading, FBeats[b].Length, FScale.UnitsPerStep, FMap.UnitsPerWhole, window);
            const TScoreTime part = window.Length / window.Parts;
            const TScoreTime start = slot.Start + FBeats[b].Start;
            std::vector<std::pair<std::size_t, TScoreTime>> placed;
            for (std::size_t w = b; w < b + static_cast<std::size_t>(reading.Beats); ++w) {
                const double shift = static_cast<double>(FBeats[w].Start - FBeats[b].Start);
                for (std::size_t i = 0; i < byBeat[w].size(); ++i) {
                    const double at = FBeats[w].Points.Onsets[chordOf[w][i]] + shift;
                    placed.emplace_back(line[byBeat[w][i]],
                                        start + SnapToPoint(at, static_cast<double>(part), window.Parts) * part);
                }
            }
            // At the very end of the score there is no next beat to move to: plain it stays.
            if (std::any_of(placed.begin(), placed.end(), [&](const auto& p) { return p.second >= scoreEnd; }))
                continue;
            for (const auto& [note, at] : placed) FNotes[note].Start = at;
            TTupletSpan& span = FSpans.emplace_back();
            span.Start = start;
            span.End = start + window.Length;
            span.Staff = staff;
            span.Voice = voice;
            span.Actual = reading.Actual;
            span.Normal = reading.Normal;
            PlainType(FMap.UnitsPerWhole, FBeats[b].Length >> reading.NormalHalvings, span.NormalType);
        }
    }

    std::vector<TPartNote>& FNotes;
    const TMeasureMap& FMap;
    const TUnitScale& FScale;
    bool FWithEnds;
    bool FPerformed;
    double FUnitsPerTick;
    std::vector<TBeatInput> FBeats;
    std::vector<TTupletSpan> FSpans;
};

}  // namespace

TPlacedSpan PlaceProvisionally(std::int64_t startTick, std::int64_t endTick, const TUnitScale& scale) {
    const TQuantSpan span = QuantizeNote(TMidiNote{startTick, endTick, 0, 0, 0}, scale.TicksPerStep);
    const TScoreTime step = scale.UnitsPerStep;
    const TScoreTime quarter = scale.UnitsPerWhole / 4;
    // The finest triplet the grid allows: of sixteenths, of eighths, or of quarters.
    TScoreTime third = quarter * 2 / 3;
    if (quarter / 4 >= step) third = quarter / 6;
    else if (quarter / 2 >= step) third = quarter / 3;
    const double unitsPerTick = static_cast<double>(step) / static_cast<double>(scale.TicksPerStep);
    const auto nearest = [&](std::int64_t tick, TScoreTime onGrid) {
        const double at = static_cast<double>(tick) * unitsPerTick;
        const TScoreTime triplet = static_cast<TScoreTime>(std::llround(at / static_cast<double>(third))) * third;
        return std::abs(at - static_cast<double>(triplet)) < std::abs(at - static_cast<double>(onGrid)) ? triplet
                                                                                                        : onGrid;
    };
    TPlacedSpan out;
    out.Start = nearest(startTick, scale.FromTick(span.Start));
    out.End = nearest(endTick, scale.FromTick(span.End));
    if (out.End <= out.Start) out.End = out.Start + std::min(step, third);
    return out;
}

void FitEndsToTuplets(std::vector<TPartNote>& notes, std::span<const TTupletSpan> spans) {
    for (auto& note : notes) {
        const auto first = std::partition_point(spans.begin(), spans.end(), [&](const TTupletSpan& t) {
            return std::pair(t.Staff, t.Voice) < std::pair(note.Staff, note.Voice) ||
                   (t.Staff == note.Staff && t.Voice == note.Voice && t.End <= note.End);
        });
        if (first == spans.end() || first->Staff != note.Staff || first->Voice != note.Voice) continue;
        if (note.End <= first->Start) continue;
        const TScoreTime part = (first->End - first->Start) / first->Actual;
        const TScoreTime end = first->Start + (note.End - first->Start) / part * part;
        note.End = end > note.Start ? end : note.Start + part;
    }
}

std::vector<TTupletSpan> PlaceTuplets(std::vector<TPartNote>& notes, const TMeasureMap& map, const TUnitScale& scale,
                                      bool withEnds, bool asPerformed) {
    return TTupletPlacer(notes, map, scale, withEnds, asPerformed).Place();
}

bool SplitTupletValues(const TTupletSpan& span, TScoreTime measureStart, TScoreTime start, TScoreTime end,
                       std::vector<TWrittenValue>& out) {
    const TScoreTime part = (span.End - span.Start) / span.Actual;
    const TScoreTime from = measureStart + start - span.Start;
    const TScoreTime to = measureStart + end - span.Start;
    if (part <= 0 || from % part != 0 || to % part != 0 || from < 0 || to > span.End - span.Start) return false;
    // Parts of the tuplet as written values: one, two, three (dotted), four, six (dotted).
    struct TPiece {
        std::int64_t Parts;
        int Longer;  // how many values longer than the tuplet's own
        std::uint8_t Dots;
    };
    static constexpr TPiece kPieces[] = {{6, 2, 1}, {4, 2, 0}, {3, 1, 1}, {2, 1, 0}, {1, 0, 0}};
    std::int64_t at = from / part;
    const std::int64_t stop = to / part;
    while (at < stop) {
        for (const TPiece& piece : kPieces) {
            const int type = static_cast<int>(span.NormalType) - piece.Longer;
            if (at + piece.Parts > stop || type < static_cast<int>(TNoteType::ntWhole)) continue;
            TWrittenValue& value = out.emplace_back();
            value.Offset = span.Start - measureStart + at * part;
            value.Duration = piece.Parts * part;
            value.Type = static_cast<TNoteType>(type);
            value.Dots = piece.Dots;
            value.Tuplet.Actual = span.Actual;
            value.Tuplet.Normal = span.Normal;
            value.Tuplet.NormalType = span.NormalType;
            value.Tuplet.Start = at == 0;
            at += piece.Parts;
            value.Tuplet.Stop = at * part == span.End - span.Start;
            break;
        }
    }
    return true;
}

std::string TupletKindName(std::int32_t actual, std::int32_t normal, std::string_view normalType) {
    if (actual == 3 && normal == 2) return std::string(normalType) + " triplet";
    if (actual == 6 && normal == 4) return "sextuplet";
    if (actual == 5 && normal == 4) return "quintuplet";
    if (actual == 7 && normal == 4) return "septuplet";
    return std::to_string(actual) + ":" + std::to_string(normal) + " " + std::string(normalType);
}

}  // namespace korvalin
