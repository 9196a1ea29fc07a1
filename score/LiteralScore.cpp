// The as-played notation: chords cut at the bar lines only and written with
// the largest values first. Its output is pinned byte for byte by the goldens.

#include "LiteralScore.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <queue>
#include <string>
#include <utility>
#include <vector>

#include "ScoreQuantize.h"
#include "ScoreSpelling.h"
#include "ScoreVoices.h"

namespace korvalin {
namespace {

// One written note value.
struct TNoteValue {
    std::int64_t Duration = 0;
    TNoteType Type = TNoteType::ntQuarter;
    bool Dotted = false;
};

// Plain and single-dotted values from the whole note down, largest first; a
// dotted value is 3q div n, and values that come out at 0 ticks are left out.
std::vector<TNoteValue> BuildDurationTable(std::int32_t ppqn) {
    const std::int64_t q = ppqn;
    const TNoteValue rows[] = {
        {4 * q, TNoteType::ntWhole, false},  {3 * q, TNoteType::ntHalf, true},
        {2 * q, TNoteType::ntHalf, false},   {3 * q / 2, TNoteType::ntQuarter, true},
        {q, TNoteType::ntQuarter, false},    {3 * q / 4, TNoteType::ntEighth, true},
        {q / 2, TNoteType::ntEighth, false}, {3 * q / 8, TNoteType::nt16th, true},
        {q / 4, TNoteType::nt16th, false},   {3 * q / 16, TNoteType::nt32nd, true},
        {q / 8, TNoteType::nt32nd, false},   {q / 16, TNoteType::nt64th, false},
    };
    std::vector<TNoteValue> table;
    for (const auto& row : rows)
        if (row.Duration > 0) table.push_back(row);
    return table;
}

// The largest value that fits; a remainder shorter than every value is written
// as the last value with the true remaining length.
TNoteValue PickDuration(const std::vector<TNoteValue>& table, std::int64_t remaining) {
    for (const auto& row : table)
        if (row.Duration <= remaining) return row;
    TNoteValue last = table.back();
    last.Duration = remaining;
    return last;
}

// Whether any event of the voice, from event `from` on, sounds inside [ms, me).
bool VoiceHasEventIn(const TChordList& chords, const TVoice& voice, std::size_t from, std::int64_t ms,
                     std::int64_t me) {
    for (std::size_t i = from; i < voice.Events.size(); ++i) {
        const TChordEvent& event = chords.Events[voice.Events[i]];
        if (event.StartTick >= me) return false;
        if (event.EndTick > ms) return true;
    }
    return false;
}

// Where each voice stands as the measures are filled in order: the first of
// its events that has not ended yet, and (for voices after the first) the next
// measure it reaches into. With this a measure costs only the voices written in
// it, not every voice of the part, so long scores with many voices stay linear.
class TVoiceSchedule {
public:
    TVoiceSchedule(const TChordList& chords, const std::vector<TVoice>& voices, std::int64_t measureLength)
        : FChords(chords), FVoices(voices), FMeasureLength(measureLength), FNextEvent(voices.size(), 0) {
        for (std::size_t v = 1; v < voices.size(); ++v) Enqueue(v, 0);
    }

    std::size_t& NextEvent(std::size_t voice) { return FNextEvent[voice]; }

    // The voices after the first that reach into measure `index` (0-based), by number.
    void TakeVoicesReaching(std::int64_t index, std::vector<std::size_t>& out) {
        out.clear();
        while (!FQueue.empty() && FQueue.top().first <= index) {
            out.push_back(FQueue.top().second);
            FQueue.pop();
        }
    }

    // Puts a voice back after measure `index` was filled, if it has events left.
    void Requeue(std::size_t voice, std::int64_t index) { Enqueue(voice, index + 1); }

private:
    void Enqueue(std::size_t voice, std::int64_t earliest) {
        const auto& events = FVoices[voice].Events;
        const std::size_t next = FNextEvent[voice];
        if (next >= events.size()) return;
        FQueue.emplace(std::max(earliest, FChords.Events[events[next]].StartTick / FMeasureLength), voice);
    }

    using TEntry = std::pair<std::int64_t, std::size_t>;  // measure index, voice
    const TChordList& FChords;
    const std::vector<TVoice>& FVoices;
    std::int64_t FMeasureLength;
    std::vector<std::size_t> FNextEvent;
    std::priority_queue<TEntry, std::vector<TEntry>, std::greater<>> FQueue;
};

// Fills the measures of one part.
class TLiteralPartFiller {
public:
    TLiteralPartFiller(TScorePart& part, const TChordList& chords, const std::vector<TVoice>& voices,
                       std::int64_t measureLength, TNoteElementBudget& budget, std::int32_t ppqn)
        : FPart(part), FChords(chords), FVoices(voices), FMeasureLength(measureLength), FBudget(budget),
          FTable(BuildDurationTable(ppqn)), FSchedule(chords, voices, measureLength) {}

    // Voice 1 in every measure, every other voice in the measures it touches;
    // each written voice fills the whole measure with rests around its events.
    void FillMeasure(TScoreMeasure& measure) {
        const std::int64_t ms = measure.Start;
        const std::int64_t me = ms + FMeasureLength;
        measure.FirstVoice = static_cast<std::uint32_t>(FPart.Voices.size());
        FillVoice(0, ms, me);
        PassMeasure(0, me);
        const std::int64_t index = ms / FMeasureLength;
        FSchedule.TakeVoicesReaching(index, FScratch);
        for (const std::size_t v : FScratch) {
            if (VoiceHasEventIn(FChords, FVoices[v], FSchedule.NextEvent(v), ms, me)) FillVoice(v, ms, me);
            PassMeasure(v, me);
            FSchedule.Requeue(v, index);
        }
        measure.VoiceCount = static_cast<std::uint32_t>(FPart.Voices.size()) - measure.FirstVoice;
    }

private:
    void FillVoice(std::size_t v, std::int64_t ms, std::int64_t me) {
        TScoreVoice& voice = FPart.Voices.emplace_back();
        voice.Number = static_cast<std::int32_t>(v) + 1;
        voice.FirstEvent = static_cast<std::uint32_t>(FPart.Events.size());
        const auto& events = FVoices[v].Events;
        std::int64_t cursor = ms;
        for (std::size_t i = FSchedule.NextEvent(v); i < events.size(); ++i) {
            const TChordEvent& event = FChords.Events[events[i]];
            if (event.EndTick <= ms) continue;
            if (event.StartTick >= me) break;
            const std::int64_t segStart = std::max(ms, event.StartTick);
            const std::int64_t segEnd = std::min(me, event.EndTick);
            if (segStart > cursor) AddRests(cursor - ms, segStart - cursor);
            AddEventSegment(event, segStart, segEnd, ms);
            cursor = segEnd;
        }
        if (cursor < me) AddRests(cursor - ms, me - cursor);
        FPart.Voices.back().EventCount = static_cast<std::uint32_t>(FPart.Events.size()) - voice.FirstEvent;
    }

    void PassMeasure(std::size_t v, std::int64_t me) {
        std::size_t& next = FSchedule.NextEvent(v);
        const auto& events = FVoices[v].Events;
        while (next < events.size() && FChords.Events[events[next]].EndTick <= me) ++next;
    }

    // A note, chord or rest of one written value; its heads follow it.
    TScoreEvent& AddEvent(std::int64_t offset, const TNoteValue& value, std::size_t heads) {
        FBudget.Take(heads == 0 ? 1 : static_cast<std::int64_t>(heads));
        TScoreEvent& event = FPart.Events.emplace_back();
        event.Offset = offset;
        event.Duration = value.Duration;
        event.Type = value.Type;
        event.Dots = value.Dotted ? 1 : 0;
        event.FirstHead = static_cast<std::uint32_t>(FPart.Heads.size());
        event.HeadCount = static_cast<std::uint32_t>(heads);
        return event;
    }

    void AddRests(std::int64_t offset, std::int64_t length) {
        while (length > 0) {
            const TNoteValue value = PickDuration(FTable, length);
            AddEvent(offset, value, 0);
            offset += value.Duration;
            length -= value.Duration;
        }
    }

    // The piece of a chord inside one measure, as a chain of tied values chosen
    // largest first; chords are cut at barlines only, never at beats.
    void AddEventSegment(const TChordEvent& event, std::int64_t segStart, std::int64_t segEnd, std::int64_t ms) {
        const auto pitches = FChords.PitchesOf(event);
        std::int64_t remaining = segEnd - segStart;
        std::int64_t offset = segStart - ms;
        bool first = true;
        while (remaining > 0) {
            const TNoteValue value = PickDuration(FTable, remaining);
            const bool more = remaining > value.Duration;
            const bool tieStop = event.StartTick < segStart || !first;
            const bool tieStart = event.EndTick > segEnd || more;
            AddEvent(offset, value, pitches.size());
            for (const std::int32_t pitch : pitches) {
                const TSpelledPitch spelled = SpellPitchWithSharps(pitch);
                TScoreHead& head = FPart.Heads.emplace_back();
                head.Pitch = pitch;
                head.Step = spelled.Step;
                head.Alter = spelled.Alter;
                head.Octave = spelled.Octave;
                head.TieStart = tieStart;
                head.TieStop = tieStop;
            }
            offset += value.Duration;
            remaining -= value.Duration;
            first = false;
        }
    }

    TScorePart& FPart;
    const TChordList& FChords;
    const std::vector<TVoice>& FVoices;
    std::int64_t FMeasureLength;
    TNoteElementBudget& FBudget;
    std::vector<TNoteValue> FTable;
    TVoiceSchedule FSchedule;
    std::vector<std::size_t> FScratch;
};

// ExportName without blanks and control characters at its ends; the track's
// own name when nothing is left.
std::string_view LiteralPartName(const TMidiTrack& track) {
    std::string_view name = track.ExportName;
    const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    while (!name.empty() && isBlank(name.front())) name.remove_prefix(1);
    while (!name.empty() && isBlank(name.back())) name.remove_suffix(1);
    return name.empty() ? std::string_view(track.Name) : name;
}

}  // namespace

std::int64_t LiteralMeasureLength(const TMidiFile& midi) {
    if (midi.PPQN <= 0 || midi.TimeNumerator <= 0 || midi.TimeDenominator <= 0) return 0;
    return std::int64_t{midi.PPQN} * 4 * midi.TimeNumerator / midi.TimeDenominator;
}

std::string FormatTempo(double bpm) {
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, bpm, std::chars_format::fixed, 3);
    return std::string(buffer, result.ptr);
}

void BuildLiteralScore(TScore& score, const TMidiFile& midi, std::span<const TMidiTrack* const> tracks,
                       std::int64_t step, std::int64_t measureCount, TNoteElementBudget& budget) {
    const std::int64_t measureLength = LiteralMeasureLength(midi);
    score.UnitsPerQuarter = midi.PPQN;
    score.KeepUnitAsDivisions = true;
    score.Parts.reserve(tracks.size());
    for (std::size_t p = 0; p < tracks.size(); ++p) {
        const TMidiTrack& track = *tracks[p];
        const TChordList chords = CollectChords(track, step);
        const std::vector<TVoice> voices = BuildVoices(chords);
        TScorePart& part = score.Parts.emplace_back();
        part.Name = LiteralPartName(track);
        part.Measures.resize(static_cast<std::size_t>(measureCount));
        // Most chords fit a measure in one value; a little room for the ties and rests.
        part.Events.reserve(chords.Events.size() + chords.Events.size() / 4 + part.Measures.size());
        part.Heads.reserve(chords.Pitches.size() + chords.Pitches.size() / 4);
        TLiteralPartFiller filler(part, chords, voices, measureLength, budget, midi.PPQN);
        for (std::int64_t i = 0; i < measureCount; ++i) {
            TScoreMeasure& measure = part.Measures[static_cast<std::size_t>(i)];
            measure.Number = std::to_string(i + 1);
            measure.Start = i * measureLength;
            measure.Length = measureLength;
            if (i == 0) {
                measure.WriteDivisions = true;
                measure.HasKey = true;
                measure.Key = {midi.KeyFifths, midi.KeyMinor};
                measure.HasTime = true;
                measure.Time = {midi.TimeNumerator, midi.TimeDenominator};
                const std::string_view sign = ChooseClefSign(track);
                measure.Clefs.push_back({0, sign, sign == "F" ? 4 : 2});
                if (p == 0) {
                    const std::string tempo = FormatTempo(midi.TempoBPM);
                    measure.Tempos.push_back({0, TNoteType::ntQuarter, false, tempo, tempo});
                }
            }
            filler.FillMeasure(measure);
        }
    }
}

}  // namespace korvalin
