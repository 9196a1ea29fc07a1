// Measures of the readable notation: the part's notes, with the staff, voice,
// spelling and place the steps gave them, written out measure by measure as
// chords and rests of written values, tied across bar lines and beats.

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "LiteralScore.h"
#include "ReadableSteps.h"
#include "ScoreBudget.h"
#include "StaffGeometry.h"

namespace korvalin {
namespace {

// The chords of one voice of one staff, in time order.
struct TLineChord {
    TScoreTime Start = 0;
    TScoreTime End = 0;
    std::uint32_t First = 0;  // into the part's ordered note list
    std::uint32_t Count = 0;
    std::int32_t Phrase = 0;
};

struct TLine {
    std::int32_t Staff = 1;
    std::int32_t Voice = 0;
    std::vector<TLineChord> Chords;
    std::size_t Next = 0;  // the first chord not over before the measure being filled
    std::span<const TTupletSpan> Tuplets;
    std::size_t NextTuplet = 0;
};

class TMeasureWriter {
public:
    TMeasureWriter(TScorePart& part, const TMeasureMap& map, const TPartStages& stages,
                   const std::vector<std::pair<TScoreTime, double>>* tempos, TNoteElementBudget& budget)
        : FPart(part), FMap(map), FBudget(budget), FPercussion(stages.Percussion), FNotes(stages.Notes),
          FTuplets(stages.Tuplets), FClefs(stages.Clefs), FTempos(tempos) {}

    void Write() {
        BuildLines();
        FCarried.assign(static_cast<std::size_t>(FPart.Staves), {});
        FPart.Measures.resize(FMap.Measures.size());
        for (std::size_t m = 0; m < FMap.Measures.size(); ++m) FillMeasure(m);
    }

private:
    void BuildLines() {
        // The notes by line (staff and voice), each line in time order, and
        // the notes of a chord from the lowest on the staff: the notes come
        // in time order already, so the lines are counted out, not sorted.
        const auto lineOf = [](const TPartNote& note) {
            return static_cast<std::size_t>((note.Staff - 1) * kVoicesPerStaff +
                                            std::min(note.Voice, kVoicesPerStaff - 1));
        };
        std::vector<std::uint32_t> firstOfLine(2 * kVoicesPerStaff + 1, 0);
        for (const auto& note : FNotes) ++firstOfLine[lineOf(note) + 1];
        for (std::size_t l = 1; l < firstOfLine.size(); ++l) firstOfLine[l] += firstOfLine[l - 1];
        FOrder.resize(FNotes.size());
        for (std::size_t i = 0; i < FNotes.size(); ++i)
            FOrder[firstOfLine[lineOf(FNotes[i])]++] = static_cast<std::uint32_t>(i);
        const auto byPlace = [&](std::uint32_t a, std::uint32_t b) {
            const TPartNote& x = FNotes[a];
            const TPartNote& y = FNotes[b];
            return Diatonic(x.Spelled) != Diatonic(y.Spelled) ? Diatonic(x.Spelled) < Diatonic(y.Spelled)
                                                              : x.Pitch < y.Pitch;
        };
        for (std::size_t i = 0; i < FOrder.size();) {
            std::size_t j = i + 1;
            while (j < FOrder.size() && lineOf(FNotes[FOrder[j]]) == lineOf(FNotes[FOrder[i]]) &&
                   FNotes[FOrder[j]].Start == FNotes[FOrder[i]].Start)
                ++j;
            if (j - i > 1)
                std::sort(FOrder.begin() + static_cast<std::ptrdiff_t>(i),
                          FOrder.begin() + static_cast<std::ptrdiff_t>(j), byPlace);
            i = j;
        }
        // Every staff has its first voice, notes or not: it carries the rests.
        for (std::int32_t staff = 1; staff <= FPart.Staves; ++staff) FLines.push_back({staff, 0, {}, 0, {}, 0});
        for (std::size_t i = 0; i < FOrder.size();) {
            const TPartNote& first = FNotes[FOrder[i]];
            std::size_t j = i;
            TScoreTime end = first.End;
            while (j < FOrder.size() && FNotes[FOrder[j]].Staff == first.Staff &&
                   FNotes[FOrder[j]].Voice == first.Voice && FNotes[FOrder[j]].Start == first.Start) {
                end = std::max(end, FNotes[FOrder[j]].End);
                ++j;
            }
            const auto voice = std::min(first.Voice, kVoicesPerStaff - 1);
            auto line = std::find_if(FLines.begin(), FLines.end(),
                                     [&](const TLine& l) { return l.Staff == first.Staff && l.Voice == voice; });
            if (line == FLines.end()) {
                FLines.push_back({first.Staff, voice, {}, 0, {}, 0});
                line = FLines.end() - 1;
            }
            line->Chords.push_back(
                {first.Start, end, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j - i), 0});
            i = j;
        }
        std::sort(FLines.begin(), FLines.end(), [](const TLine& a, const TLine& b) {
            return a.Staff != b.Staff ? a.Staff < b.Staff : a.Voice < b.Voice;
        });
        // The tuplets come by staff, voice and time: each line takes its run.
        for (auto& line : FLines) {
            const auto of = [&](const TTupletSpan& t) {
                return std::pair(t.Staff, std::min(t.Voice, kVoicesPerStaff - 1)) < std::pair(line.Staff, line.Voice);
            };
            const auto first = std::partition_point(FTuplets.begin(), FTuplets.end(), of);
            auto last = first;
            while (last != FTuplets.end() && last->Staff == line.Staff &&
                   std::min(last->Voice, kVoicesPerStaff - 1) == line.Voice)
                ++last;
            line.Tuplets = std::span<const TTupletSpan>(FTuplets.data() + (first - FTuplets.begin()),
                                                        static_cast<std::size_t>(last - first));
        }
        // A lower voice's phrase: chords no more than half a bar apart. Inside
        // it its silences are rests; around it nothing is shown.
        for (auto& line : FLines) {
            std::size_t hint = 0;
            for (std::size_t c = 1; c < line.Chords.size(); ++c) {
                const TScoreTime gap = line.Chords[c].Start - line.Chords[c - 1].End;
                const TMeasureSlot& slot = FMap.Measures[FMap.IndexAt(line.Chords[c - 1].End, hint)];
                line.Chords[c].Phrase = line.Chords[c - 1].Phrase + (gap * 2 > slot.Length ? 1 : 0);
            }
        }
    }

    void FillMeasure(std::size_t m) {
        const TMeasureSlot& slot = FMap.Measures[m];
        TScoreMeasure& measure = FPart.Measures[m];
        // A pickup is measure 0: the first full measure is the first counted.
        measure.Number = std::to_string(FMap.Measures.front().Implicit ? m : m + 1);
        measure.Start = slot.Start;
        measure.Length = slot.Length;
        measure.Implicit = slot.Implicit;
        if (m == 0) {
            measure.WriteDivisions = true;
            measure.WriteStaves = FPart.Staves > 1;
        }
        if (slot.KeyChanged && !FPercussion) {
            measure.HasKey = true;
            measure.Key = slot.Key;
        }
        if (slot.TimeChanged) {
            measure.HasTime = true;
            measure.Time = slot.Time;
        }
        for (std::int32_t staff = 1; staff <= FPart.Staves; ++staff) {
            const std::string_view clef = FClefs[static_cast<std::size_t>(staff - 1)][m];
            if (m > 0 && clef == FClefs[static_cast<std::size_t>(staff - 1)][m - 1]) continue;
            const std::int32_t line = ClefSignLine(clef);
            measure.Clefs.push_back({FPart.Staves > 1 ? staff : 0, clef, line});
        }
        if (FTempos != nullptr) AddTempos(slot, measure);

        measure.FirstVoice = static_cast<std::uint32_t>(FPart.Voices.size());
        for (std::int32_t staff = 1; staff <= FPart.Staves; ++staff) {
            const std::size_t firstVoice = FPart.Voices.size();
            for (auto& line : FLines)
                if (line.Staff == staff) FillVoice(line, slot);
            FinishStaff(FPart, firstVoice, slot, FClefs[static_cast<std::size_t>(staff - 1)][m], FPercussion,
                        FCarried[static_cast<std::size_t>(staff - 1)]);
        }
        measure.VoiceCount = static_cast<std::uint32_t>(FPart.Voices.size()) - measure.FirstVoice;
    }

    // The tempo changes inside the measure, each where it happens; one that
    // shows what the last mark shows is not repeated.
    void AddTempos(const TMeasureSlot& slot, TScoreMeasure& measure) {
        const auto& tempos = *FTempos;
        while (FNextTempo < tempos.size() && tempos[FNextTempo].first < slot.Start + slot.Length) {
            const auto& [at, bpm] = tempos[FNextTempo++];
            // Of several changes at one place of the grid, the last one holds.
            if (FNextTempo < tempos.size() && tempos[FNextTempo].first == at) continue;
            TScoreTempo mark = Tempo(slot, bpm);
            mark.Offset = std::max<TScoreTime>(0, at - slot.Start);
            if (FShownTempo && FShownTempo->PerMinute == mark.PerMinute && FShownTempo->BeatUnit == mark.BeatUnit &&
                FShownTempo->BeatUnitDot == mark.BeatUnitDot)
                continue;
            FShownTempo = mark;
            measure.Tempos.push_back(std::move(mark));
        }
    }

    // A metronome mark by the beat of the opening meter: a dotted quarter in 6/8.
    TScoreTempo Tempo(const TMeasureSlot& slot, double bpm) const {
        TScoreTempo mark;
        // A pickup's first beat may be partial: the beat is the full meter's.
        const TMeter meter =
            slot.Implicit ? MakeMeter(slot.Time.Beats, slot.Time.BeatType, FMap.UnitsPerWhole) : slot.Meter;
        const TScoreTime beat = meter.Compound ? meter.BeatLengthAt(0) : FMap.UnitsPerWhole / 4;
        TNoteType type = TNoteType::ntQuarter;
        std::uint8_t dots = 0;
        for (int k = 0; k <= 8; ++k) {
            const TScoreTime value = FMap.UnitsPerWhole >> k;
            if (value == beat || value + value / 2 == beat) {
                type = static_cast<TNoteType>(static_cast<int>(TNoteType::ntWhole) + k);
                dots = value == beat ? 0 : 1;
                break;
            }
        }
        const double perBeat = bpm * static_cast<double>(FMap.UnitsPerWhole) / (4.0 * static_cast<double>(beat));
        mark.BeatUnit = type;
        mark.BeatUnitDot = dots > 0;
        mark.PerMinute = std::to_string(static_cast<long long>(std::llround(perBeat)));
        mark.Sound = FormatTempo(bpm);
        return mark;
    }

    void FillVoice(TLine& line, const TMeasureSlot& slot) {
        const TScoreTime ms = slot.Start;
        const TScoreTime me = slot.Start + slot.Length;
        auto& chords = line.Chords;
        while (line.Next < chords.size() && chords[line.Next].End <= ms) ++line.Next;
        const bool sounds = line.Next < chords.size() && chords[line.Next].Start < me;
        if (!sounds && line.Voice != 0) return;
        TScoreVoice& voice = FPart.Voices.emplace_back();
        voice.Number = (line.Staff - 1) * kVoicesPerStaff + line.Voice + 1;
        voice.Staff = line.Staff;
        voice.FirstEvent = static_cast<std::uint32_t>(FPart.Events.size());
        if (!sounds && slot.Implicit) {
            // A silent pickup shows rests of its own length, not a whole bar's rest.
            AddRests(line, slot, ms, me, false);
        } else if (!sounds) {
            FBudget.Take(1);
            TScoreEvent& rest = FPart.Events.emplace_back();
            rest.Duration = slot.Length;
            rest.MeasureRest = true;
            rest.HasType = false;
            rest.FirstHead = static_cast<std::uint32_t>(FPart.Heads.size());
        } else {
            TScoreTime cursor = ms;
            std::size_t c = line.Next;
            for (; c < chords.size() && chords[c].Start < me; ++c) {
                const TScoreTime from = std::max({ms, chords[c].Start, cursor});
                const TScoreTime to = std::min(me, chords[c].End);
                if (to <= from) continue;
                if (from > cursor) AddRests(line, slot, cursor, from, Hidden(line, c));
                AddChord(line, slot, chords[c], from, to);
                cursor = to;
            }
            if (cursor < me) AddRests(line, slot, cursor, me, Hidden(line, c));
        }
        FPart.Voices.back().EventCount =
            static_cast<std::uint32_t>(FPart.Events.size()) - FPart.Voices.back().FirstEvent;
    }

    // A silence of a lower voice shows as rests only inside one of its phrases.
    bool Hidden(const TLine& line, std::size_t after) const {
        if (line.Voice == 0) return false;
        if (after == 0 || after >= line.Chords.size()) return true;
        return line.Chords[after - 1].Phrase != line.Chords[after].Phrase;
    }

    // Cuts [from, to) into written values: by the beat outside the line's
    // tuplets, by each tuplet's own values inside.
    void SplitValues(TLine& line, const TMeasureSlot& slot, TScoreTime from, TScoreTime to, bool rest) {
        FValues.clear();
        while (line.NextTuplet < line.Tuplets.size() && line.Tuplets[line.NextTuplet].End <= from) ++line.NextTuplet;
        for (std::size_t t = line.NextTuplet; from < to; ++t) {
            const TTupletSpan* span =
                t < line.Tuplets.size() && line.Tuplets[t].Start < to ? &line.Tuplets[t] : nullptr;
            const TScoreTime plainEnd = span != nullptr ? std::max(from, span->Start) : to;
            if (plainEnd > from) SplitIntoValues(slot.Meter, from - slot.Start, plainEnd - slot.Start, rest, FValues);
            from = plainEnd;
            if (span == nullptr) break;
            const TScoreTime inside = std::min(to, span->End);
            if (!SplitTupletValues(*span, slot.Start, from - slot.Start, inside - slot.Start, FValues))
                SplitIntoValues(slot.Meter, from - slot.Start, inside - slot.Start, rest, FValues);
            from = inside;
        }
    }

    void AddRests(TLine& line, const TMeasureSlot& slot, TScoreTime from, TScoreTime to, bool hidden) {
        std::size_t next = line.NextTuplet;
        while (next < line.Tuplets.size() && line.Tuplets[next].End <= from) ++next;
        const bool inTuplet = next < line.Tuplets.size() && line.Tuplets[next].Start < to;
        if (hidden && !inTuplet) {
            // Nothing is drawn, so the silence needs no values.
            FBudget.Take(1);
            TScoreEvent& rest = FPart.Events.emplace_back();
            rest.Offset = from - slot.Start;
            rest.Duration = to - from;
            rest.HasType = false;
            rest.Hidden = true;
            rest.FirstHead = static_cast<std::uint32_t>(FPart.Heads.size());
            return;
        }
        // A silence that reaches into a tuplet is part of its count: shown.
        SplitValues(line, slot, from, to, true);
        for (const auto& value : FValues) {
            FBudget.Take(1);
            // A rest inside a tuplet is part of its count and always shown.
            AddWrittenValue(value).Hidden = false;
        }
    }

    // An event of one written value, its heads (if any) to follow.
    TScoreEvent& AddWrittenValue(const TWrittenValue& value) {
        TScoreEvent& event = FPart.Events.emplace_back();
        event.Offset = value.Offset;
        event.Duration = value.Duration;
        event.Type = value.Type;
        event.Dots = value.Dots;
        event.Tuplet = value.Tuplet;
        event.FirstHead = static_cast<std::uint32_t>(FPart.Heads.size());
        return event;
    }

    void AddChord(TLine& line, const TMeasureSlot& slot, const TLineChord& chord, TScoreTime from, TScoreTime to) {
        SplitValues(line, slot, from, to, false);
        for (const auto& value : FValues) {
            FBudget.Take(chord.Count);
            const TScoreTime pieceStart = slot.Start + value.Offset;
            const TScoreTime pieceEnd = pieceStart + value.Duration;
            TScoreEvent& event = AddWrittenValue(value);
            event.HeadCount = chord.Count;
            for (std::uint32_t k = 0; k < chord.Count; ++k) {
                const TPartNote& note = FNotes[FOrder[chord.First + k]];
                TScoreHead& head = FPart.Heads.emplace_back();
                head.Pitch = note.Pitch;
                head.Step = note.Spelled.Step;
                head.Alter = note.Spelled.Alter;
                head.Octave = note.Spelled.Octave;
                head.TieStop = pieceStart > chord.Start;
                head.TieStart = pieceEnd < chord.End;
                head.Instrument = note.Instrument;
                head.Notehead = note.Notehead;
            }
        }
    }

    TScorePart& FPart;
    const TMeasureMap& FMap;
    TNoteElementBudget& FBudget;
    const bool FPercussion;
    const std::vector<TPartNote>& FNotes;
    const std::vector<TTupletSpan>& FTuplets;
    const std::vector<std::vector<std::string_view>>& FClefs;
    const std::vector<std::pair<TScoreTime, double>>* FTempos;
    std::vector<std::uint32_t> FOrder;
    std::vector<TLine> FLines;
    std::size_t FNextTempo = 0;
    std::optional<TScoreTempo> FShownTempo;
    std::vector<std::vector<std::int8_t>> FCarried;
    std::vector<TWrittenValue> FValues;
};

}  // namespace

void WriteMeasures(TScorePart& part, const TMeasureMap& map, const TPartStages& stages,
                   const std::vector<std::pair<TScoreTime, double>>* tempos, TNoteElementBudget& budget) {
    TMeasureWriter(part, map, stages, tempos, budget).Write();
}

}  // namespace korvalin
