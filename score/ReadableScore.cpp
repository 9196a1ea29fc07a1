// Readable notation, whole: the measure map of the score, then each part
// through the steps of ReadableSteps.h, one after the other, and into its
// measures (ReadableMeasures.cpp), which the engraving finishes staff by staff.

#include "ReadableScore.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "LiteralScore.h"
#include "ReadableSteps.h"
#include "ScoreQuantize.h"

namespace korvalin {
namespace {

TReadableStaves StavesOf(const TMidiTrack& track) {
    const TReadableStaves staves = ClassifyTrack(track);
    // A clef the user chose keeps a pitched part on one staff in that clef.
    if (staves == TReadableStaves::rsGrand && track.ClefMode != TClefMode::cmAuto) return TReadableStaves::rsSingle;
    return staves;
}

// The track's notes on the grid, in score units, by start and then pitch.
// One key sounds once at a time in writing: a repeated note at the same
// moment is kept once (the longer), and a note still held when its key is
// struck again ends there. Two voices meeting on one key strike it twice at
// once, and the file keeps the first strike with no length: that is a
// unison, both notes are written, the first as long as the second.
std::vector<TPartNote> QuantisedNotes(const TMidiTrack& track, const TUnitScale& scale) {
    std::vector<TPartNote> notes;
    notes.reserve(track.Notes().size());
    for (const auto& note : track.Notes()) {
        TPartNote& part = notes.emplace_back();
        const TPlacedSpan placed = PlaceProvisionally(note.StartTick, note.EndTick, scale);
        part.Start = placed.Start;
        part.End = placed.End;
        part.RawStart = note.StartTick;
        part.RawEnd = note.EndTick;
        part.Pitch = note.Pitch & 127;
    }
    SortNearlySorted(notes, [](const TPartNote& a, const TPartNote& b) {
        if (a.Start != b.Start) return a.Start < b.Start;
        return a.Pitch != b.Pitch ? a.Pitch < b.Pitch : a.End > b.End;
    });
    std::array<std::int64_t, 128> lastOfKey;
    lastOfKey.fill(-1);
    std::vector<std::pair<std::size_t, std::size_t>> unisons;  // (the note, the one it sounds with), as kept
    std::size_t kept = 0;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const auto key = static_cast<std::size_t>(notes[i].Pitch);
        if (lastOfKey[key] >= 0) {
            const auto heldAt = static_cast<std::size_t>(lastOfKey[key]);
            TPartNote& held = notes[heldAt];
            if (held.Start != notes[i].Start) {
                held.End = std::min(held.End, notes[i].Start);
                for (auto it = unisons.rbegin(); it != unisons.rend() && it->second == heldAt; ++it)
                    notes[it->first].End = held.End;
            } else if (notes[i].RawStart == held.RawStart &&
                       (notes[i].RawEnd == notes[i].RawStart) != (held.RawEnd == held.RawStart)) {
                (held.RawEnd == held.RawStart ? held : notes[i]).End = std::max(held.End, notes[i].End);
                unisons.emplace_back(kept, heldAt);
                notes[kept++] = notes[i];
                continue;
            } else if (std::llabs(held.RawStart - notes[i].RawStart) * 32 < scale.TicksPerStep) {
                // Strikes played apart that the grid puts together stay, for the
                // tuplets to part again; what they leave together is one note.
                continue;
            }
        }
        lastOfKey[key] = static_cast<std::int64_t>(kept);
        notes[kept++] = notes[i];
    }
    notes.resize(kept);
    return notes;
}

class TReadablePart {
public:
    TReadablePart(TScorePart& part, const TMeasureMap& map, TNoteElementBudget& budget)
        : FPart(part), FMap(map), FBudget(budget) {}

    // `tempos` (the first part's): the tempo of the file and each change, by place.
    // `staves` as the score's plan has it; `homeClef` the clef a single staff
    // leans to ("G" or "F"; empty: its notes choose).
    void Build(const TMidiTrack& track, TReadableStaves staves, std::string_view homeClef, const TUnitScale& scale,
               std::int32_t partNumber, const std::vector<std::pair<TScoreTime, double>>* tempos, TPartReport* report) {
        FPercussion = staves == TReadableStaves::rsPercussion;
        FPart.Name = ReadablePartName(track);
        FPart.Abbreviation = PartAbbreviation(FPart.Name, staves);
        FPart.Staves = staves == TReadableStaves::rsGrand ? 2 : 1;
        FNotes = QuantisedNotes(track, scale);
        const TScoreTime quarter = scale.UnitsPerWhole / 4;
        if (FPercussion) {
            MapDrums(FNotes, FPart, partNumber);
            FTuplets = PlaceTuplets(FNotes, FMap, scale, false, false);
            SetDrumDurations(FNotes, FMap);
            FitEndsToTuplets(FNotes, FTuplets);
        } else {
            if (FPart.Staves == 2) SplitHands(FNotes, quarter);
            const bool performed = PlayedOffTheGrid(track, scale);
            for (std::int32_t staff = 1; staff <= FPart.Staves; ++staff)
                AssignVoices(FNotes, staff, FMap, scale.UnitsPerStep, quarter, performed);
            FTuplets = PlaceTuplets(FNotes, FMap, scale, true, performed);
            SpellNotes(FNotes, FMap);
        }
        if (report != nullptr) Report(track, scale, *report);
        ChooseAllClefs(track, homeClef);
        WriteMeasures(FPart, FMap, {FNotes, FTuplets, FClefs, FPercussion}, tempos, FBudget);
    }

private:
    void Report(const TMidiTrack& track, const TUnitScale& scale, TPartReport& report) const {
        report.Name = FPart.Name;
        report.Notes = static_cast<std::int64_t>(track.Notes().size());
        report.Staves = FPart.Staves;
        report.Grid = static_cast<std::int32_t>(scale.UnitsPerWhole / scale.UnitsPerStep);
        const double ticksPerUnit = static_cast<double>(scale.TicksPerStep) / static_cast<double>(scale.UnitsPerStep);
        double largest = 0.0;
        for (const auto& note : FNotes) {
            const double move =
                std::abs(static_cast<double>(note.Start) * ticksPerUnit - static_cast<double>(note.RawStart));
            if (move > 1e-6) ++report.NotesMoved;
            largest = std::max(largest, move);
        }
        report.LargestMoveTicks = std::llround(largest);
        report.LargestMoveQuarters =
            largest * 4.0 / (static_cast<double>(scale.TicksPerStep) * static_cast<double>(report.Grid));
        for (const auto& tuplet : FTuplets)
            ++report.Tuplets[TupletKindName(tuplet.Actual, tuplet.Normal, NoteTypeName(tuplet.NormalType))];
        report.VoicesPerStaff.assign(static_cast<std::size_t>(FPart.Staves), 0);
        for (const auto& note : FNotes) {
            auto& voices = report.VoicesPerStaff[static_cast<std::size_t>(std::clamp(note.Staff, 1, FPart.Staves) - 1)];
            voices = std::max(voices, std::min(note.Voice, kVoicesPerStaff - 1) + 1);
        }
    }

    void ChooseAllClefs(const TMidiTrack& track, std::string_view homeClef) {
        FClefs.assign(static_cast<std::size_t>(FPart.Staves), {});
        if (FPercussion) {
            FClefs[0].assign(FMap.Measures.size(), "percussion");
        } else if (FPart.Staves == 2) {
            FClefs[0] = ChooseClefs(FNotes, 1, FMap, "G");
            FClefs[1] = ChooseClefs(FNotes, 2, FMap, "F");
        } else if (track.ClefMode == TClefMode::cmTreble || track.ClefMode == TClefMode::cmBass) {
            FClefs[0].assign(FMap.Measures.size(), track.ClefMode == TClefMode::cmBass ? "F" : "G");
        } else {
            FClefs[0] = ChooseClefs(FNotes, 1, FMap, homeClef);
        }
    }

    TScorePart& FPart;
    const TMeasureMap& FMap;
    TNoteElementBudget& FBudget;
    bool FPercussion = false;
    std::vector<TPartNote> FNotes;
    std::vector<TTupletSpan> FTuplets;
    std::vector<std::vector<std::string_view>> FClefs;
};

}  // namespace

std::string_view ReadableStavesName(const TMidiTrack& track) {
    switch (StavesOf(track)) {
        case TReadableStaves::rsGrand: return "grand";
        case TReadableStaves::rsPercussion: return "percussion";
        case TReadableStaves::rsSingle: break;
    }
    return "single";
}

void BuildReadableScore(TScore& score, const TMidiFile& midi, std::span<const TMidiTrack* const> tracks,
                        std::int32_t grid, std::int64_t scoreEndTick, TNoteElementBudget& budget,
                        const TExportOptions& options) {
    const TUnitScale scale = MakeUnitScale(midi, grid);
    // Every measure of every part holds at least one note or rest.
    const std::int64_t measureLimit = budget.Limit() / static_cast<std::int64_t>(tracks.size());
    const TMeasureStart start = FindMeasureStart(midi, tracks, scale);
    const TMeasureMap map = BuildMeasureMap(midi, scale, scale.FromTick(scoreEndTick), measureLimit, start);
    if (options.Report != nullptr) {
        const TMeasureSlot& first = map.Measures.front();
        options.Report->FirstMeasureTick = first.Start / scale.UnitsPerStep * scale.TicksPerStep;
        if (first.Implicit)
            options.Report->PickupQuarters =
                static_cast<double>(first.Length) * 4.0 / static_cast<double>(scale.UnitsPerWhole);
    }
    score.UnitsPerQuarter = scale.UnitsPerWhole / 4;
    score.KeepUnitAsDivisions = false;
    score.Parts.reserve(tracks.size());
    std::vector<std::pair<TScoreTime, double>> tempos{{0, midi.TempoBPM}};
    for (const auto& change : midi.TempoChanges)
        if (change.Tick > 0 && change.Microseconds > 0)
            tempos.emplace_back(scale.FromTick(QuantizeTick(change.Tick, scale.TicksPerStep)),
                                60'000'000.0 / change.Microseconds);
    // Each track takes the staves it needs alone, except that the two hands
    // of one keyboard kept on two tracks read as one instrument: a staff
    // each, braced, the right hand's leaning to the treble clef.
    std::vector<TReadableStaves> staves(tracks.size());
    std::vector<std::string_view> homeClefs(tracks.size());
    for (std::size_t p = 0; p < tracks.size(); ++p) staves[p] = StavesOf(*tracks[p]);
    for (std::size_t p = 0; p + 1 < tracks.size(); ++p) {
        const auto pitched = [](TReadableStaves s) { return s != TReadableStaves::rsPercussion; };
        if (!pitched(staves[p]) || !pitched(staves[p + 1])) continue;
        if (!PlayedAsTwoHands(*tracks[p], *tracks[p + 1]) &&
            !AreTwoHands(ReadablePartName(*tracks[p]), ReadablePartName(*tracks[p + 1])))
            continue;
        staves[p] = staves[p + 1] = TReadableStaves::rsSingle;
        homeClefs[p] = "G";
        homeClefs[p + 1] = "F";
        score.PartGroups.push_back({p, p + 1, "brace"});
        ++p;
    }
    for (std::size_t p = 0; p < tracks.size(); ++p) {
        TUnitScale partScale = scale;
        if (options.AutoGrid) {
            const std::int32_t chosen = ChooseGrid(*tracks[p], map, midi.PPQN);
            partScale.TicksPerStep = std::int64_t{midi.PPQN} * 4 / chosen;
            partScale.UnitsPerStep = scale.UnitsPerWhole / chosen;
        }
        TPartReport* report = nullptr;
        if (options.Report != nullptr) {
            report = &options.Report->Parts.emplace_back();
            report->GridChosen = options.AutoGrid;
        }
        TScorePart& part = score.Parts.emplace_back();
        TReadablePart(part, map, budget)
            .Build(*tracks[p], staves[p], homeClefs[p], partScale, static_cast<std::int32_t>(p) + 1,
                   p == 0 ? &tempos : nullptr, report);
    }
}

}  // namespace korvalin
