#include "MusicXmlExporter.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <initializer_list>
#include <limits>
#include <queue>
#include <unordered_map>
#include <utility>
#include <vector>

#include "FileIO.h"

namespace korvalin {
namespace {

const char* const kMsgNoTracks = "Select at least one musical track";
const char* const kMsgGrid = "The selected quantization grid is incompatible with this MIDI file";
const char* const kMsgTimeSignature = "Invalid time signature";
const char* const kMsgNoNotes = "The selected track contains no notes";
const char* const kMsgTooLarge = "The score is too large to notate";

// The growing document

// Decimal text of an integer, built on the stack; it lives until the end of the
// full expression that uses it, which is all a line needs.
class TNumber {
public:
    explicit TNumber(std::int64_t value)
        : FLength(static_cast<std::size_t>(std::to_chars(FBuffer, FBuffer + sizeof FBuffer, value).ptr - FBuffer)) {}
    operator std::string_view() const { return {FBuffer, FLength}; }

private:
    char FBuffer[24] = {};
    std::size_t FLength;
};

// The whole document in one buffer of CR LF lines, and the number of <note>
// elements so far. The export runs twice: first through a counting document
// that keeps no text, so an oversized score is refused before any text exists
// and the real buffer is allocated once at its final size.
class TDocument {
public:
    // Starts as a counting document: it measures the text and keeps none of it.
    explicit TDocument(std::int64_t maxNoteElements) : FMaxNoteElements(maxNoteElements) {}

    // Turns into a writing document, its buffer sized by what was counted.
    void StartWriting() {
        FCountOnly = false;
        FNoteElements = 0;
        FText.reserve(FSize);
    }

    void Line(std::size_t spaces, std::initializer_list<std::string_view> pieces) {
        if (FCountOnly) {
            FSize += spaces + 2;
            for (const auto piece : pieces) FSize += piece.size();
            return;
        }
        FText.append(spaces, ' ');
        for (const auto piece : pieces) FText.append(piece);
        FText.append("\r\n");
    }

    // Every note and rest passes here; counting stops at the first element
    // past the limit, so even an absurd score costs little to refuse.
    void CountNoteElement() {
        if (++FNoteElements > FMaxNoteElements) throw EMusicXmlError(kMsgTooLarge);
    }

    std::string Take() { return std::move(FText); }

private:
    bool FCountOnly = true;
    std::int64_t FMaxNoteElements;
    std::size_t FSize = 0;
    std::string FText;
    std::int64_t FNoteElements = 0;
};

// Quantisation and chord events

// One chord (or single note) after quantisation: every pitch that sounds over
// exactly this span.
struct TQuantEvent {
    std::int64_t StartTick = 0;
    std::int64_t EndTick = 0;
    std::vector<std::int32_t> Pitches;
};

std::int64_t QuantizeTick(std::int64_t value, std::int64_t step) {
    if (step <= 0) return value;
    return ((value + step / 2) / step) * step;
}

struct TSpan {
    std::int64_t Start;
    std::int64_t End;
};

// Start and end are rounded independently; a note that collapses keeps one step.
TSpan QuantizeNote(const TMidiNote& note, std::int64_t step) {
    const std::int64_t start = QuantizeTick(note.StartTick, step);
    std::int64_t end = QuantizeTick(note.EndTick, step);
    if (end <= start) end = start + step;
    return {start, end};
}

struct TSpanHash {
    std::size_t operator()(const std::pair<std::int64_t, std::int64_t>& span) const noexcept {
        std::uint64_t h = static_cast<std::uint64_t>(span.first) * 0x9E3779B97F4A7C15ULL;
        h ^= static_cast<std::uint64_t>(span.second) + 0x7F4A7C159E3779B9ULL + (h << 6) + (h >> 2);
        return static_cast<std::size_t>(h ^ (h >> 31));
    }
};

// Notes of any channel and velocity that share their quantised span become one
// chord event; a repeated pitch in a chord is kept once.
void CollectChordEvents(const TMidiTrack& track, std::vector<TQuantEvent>& events, std::int64_t step) {
    std::unordered_map<std::pair<std::int64_t, std::int64_t>, std::size_t, TSpanHash> eventOfSpan;
    eventOfSpan.reserve(track.Notes().size());
    for (const auto& note : track.Notes()) {
        const TSpan span = QuantizeNote(note, step);
        const auto [it, added] = eventOfSpan.try_emplace({span.Start, span.End}, events.size());
        if (added) events.push_back(TQuantEvent{span.Start, span.End, {}});
        auto& pitches = events[it->second].Pitches;
        if (std::find(pitches.begin(), pitches.end(), note.Pitch) == pitches.end()) pitches.push_back(note.Pitch);
    }
}

// Voices

// A succession of chord events that never overlap; its number is its position + 1.
struct TVoice {
    std::vector<const TQuantEvent*> Events;  // owned by the part's event list
    std::int64_t LastEnd = 0;
};

// First fit by voice number in logarithmic time: a minimum tree over the voices'
// LastEnd. A plain scan would make a track with thousands of overlapping notes
// quadratic.
class TFreeVoiceFinder {
public:
    // The first voice whose LastEnd <= tick, or the number of voices when none is free.
    std::size_t FirstFreeAt(std::int64_t tick) const {
        if (FCount == 0 || FTree[1] > tick) return FCount;
        std::size_t node = 1;
        while (node < FLeaves) node = FTree[2 * node] <= tick ? 2 * node : 2 * node + 1;
        return node - FLeaves;
    }

    void SetLastEnd(std::size_t voice, std::int64_t lastEnd) {
        while (voice >= FLeaves) Grow();
        FCount = std::max(FCount, voice + 1);
        std::size_t node = voice + FLeaves;
        FTree[node] = lastEnd;
        for (node /= 2; node >= 1; node /= 2) FTree[node] = std::min(FTree[2 * node], FTree[2 * node + 1]);
    }

private:
    static constexpr std::int64_t kBusyForever = std::numeric_limits<std::int64_t>::max();

    void Grow() {
        const std::size_t leaves = FLeaves == 0 ? 8 : FLeaves * 2;
        std::vector<std::int64_t> tree(2 * leaves, kBusyForever);
        for (std::size_t i = 0; i < FCount; ++i) tree[leaves + i] = FTree[FLeaves + i];
        for (std::size_t node = leaves - 1; node >= 1; --node)
            tree[node] = std::min(tree[2 * node], tree[2 * node + 1]);
        FTree = std::move(tree);
        FLeaves = leaves;
    }

    std::vector<std::int64_t> FTree;  // 1-based heap layout; leaves start at FLeaves
    std::size_t FLeaves = 0;
    std::size_t FCount = 0;
};

// Fills `events` with the track's chord events in score order and lays them
// into voices: each event goes to the first voice that is free at its start.
std::vector<TVoice> BuildVoices(const TMidiTrack& track, std::vector<TQuantEvent>& events, std::int64_t step) {
    std::vector<TVoice> voices;
    CollectChordEvents(track, events, step);
    // Longest first among equal starts, so voice 1 carries the sustained line.
    std::sort(events.begin(), events.end(), [](const TQuantEvent& a, const TQuantEvent& b) {
        return a.StartTick != b.StartTick ? a.StartTick < b.StartTick : a.EndTick > b.EndTick;
    });
    TFreeVoiceFinder finder;
    for (auto& event : events) {
        std::sort(event.Pitches.begin(), event.Pitches.end());
        const std::size_t voice = finder.FirstFreeAt(event.StartTick);
        if (voice == voices.size()) voices.emplace_back();
        voices[voice].Events.push_back(&event);
        voices[voice].LastEnd = event.EndTick;
        finder.SetLastEnd(voice, event.EndTick);
    }
    return voices;
}

// Measures, note values, rests and ties

// One written note value.
struct TDurationSpec {
    std::int64_t Duration = 0;
    std::string_view NoteType;
    bool Dotted = false;
};

// Plain and single-dotted values from the whole note down, largest first; a
// dotted value is 3q div n, and values that come out at 0 ticks are left out.
std::vector<TDurationSpec> BuildDurationTable(std::int32_t ppqn) {
    const std::int64_t q = ppqn;
    const TDurationSpec rows[] = {
        {4 * q, "whole", false},      {3 * q, "half", true},       {2 * q, "half", false},
        {3 * q / 2, "quarter", true}, {q, "quarter", false},       {3 * q / 4, "eighth", true},
        {q / 2, "eighth", false},     {3 * q / 8, "16th", true},   {q / 4, "16th", false},
        {3 * q / 16, "32nd", true},   {q / 8, "32nd", false},      {q / 16, "64th", false},
    };
    std::vector<TDurationSpec> table;
    for (const auto& row : rows)
        if (row.Duration > 0) table.push_back(row);
    return table;
}

// The largest value that fits; a remainder shorter than every value is written
// as the last value with the true remaining length.
TDurationSpec PickDuration(const std::vector<TDurationSpec>& table, std::int64_t remaining) {
    for (const auto& row : table)
        if (row.Duration <= remaining) return row;
    TDurationSpec last = table.back();
    last.Duration = remaining;
    return last;
}

// MeasureLength in ticks; 0 for a time base or time signature that cannot make
// a positive measure (including a denominator of 0, which would divide by zero).
std::int64_t MeasureLength(const TMidiFile& midi) {
    if (midi.PPQN <= 0 || midi.TimeNumerator <= 0 || midi.TimeDenominator <= 0) return 0;
    return std::int64_t{midi.PPQN} * 4 * midi.TimeNumerator / midi.TimeDenominator;
}

// Pitch spelling and clef choice

struct TSpelledPitch {
    std::string_view Step;
    std::int32_t Alter = 0;
    std::int32_t Octave = 0;
};

constexpr std::string_view kSteps[12] = {"C", "C", "D", "D", "E", "F", "F", "G", "G", "A", "A", "B"};
constexpr std::int32_t kAlters[12] = {0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0};

// Sharps only, whatever the key: showing accidentals is the renderer's business.
TSpelledPitch SpellPitch(std::int32_t pitch) {
    // Floor division keeps a pitch outside 0..127 from indexing outside the table.
    const std::int32_t pitchClass = ((pitch % 12) + 12) % 12;
    const std::int32_t octave = (pitch - pitchClass) / 12 - 1;
    // MusicXML has no octave below 0: MIDI 0..11 (octave -1) would make the
    // document invalid, and readers that check refuse the whole score. These
    // keys lie below every instrument's range (a piano starts at 21), so they
    // are written an octave up: every note stays, and the score stays readable.
    return {kSteps[pitchClass], kAlters[pitchClass], std::clamp(octave, 0, 9)};
}

// The user's choice, else by the mean pitch of the notes as loaded (every note
// counts once, before quantisation and chord merging).
std::string_view ChooseClefSign(const TMidiTrack& track) {
    if (track.ClefMode == TClefMode::cmTreble) return "G";
    if (track.ClefMode == TClefMode::cmBass) return "F";
    const auto& notes = track.Notes();
    if (notes.empty()) return "G";
    std::int64_t sum = 0;
    for (const auto& note : notes) sum += note.Pitch;
    return sum / static_cast<std::int64_t>(notes.size()) < 60 ? "F" : "G";
}

// Writing notes, rests and measures

void WriteRests(TDocument& doc, std::int64_t voiceNumber, const std::vector<TDurationSpec>& table,
                std::int64_t length) {
    while (length > 0) {
        const TDurationSpec spec = PickDuration(table, length);
        doc.CountNoteElement();
        doc.Line(6, {"<note>"});
        doc.Line(8, {"<rest/>"});
        doc.Line(8, {"<duration>", TNumber(spec.Duration), "</duration>"});
        doc.Line(8, {"<voice>", TNumber(voiceNumber), "</voice>"});
        doc.Line(8, {"<type>", spec.NoteType, "</type>"});
        if (spec.Dotted) doc.Line(8, {"<dot/>"});
        doc.Line(6, {"</note>"});
        length -= spec.Duration;
    }
}

void WriteChordNotes(TDocument& doc, const TQuantEvent& event, const TDurationSpec& spec, bool tieStart,
                     bool tieStop, std::int64_t voiceNumber) {
    bool first = true;
    for (const std::int32_t pitch : event.Pitches) {
        const TSpelledPitch spelled = SpellPitch(pitch);
        doc.CountNoteElement();
        doc.Line(6, {"<note>"});
        if (!first) doc.Line(8, {"<chord/>"});
        doc.Line(8, {"<pitch>"});
        doc.Line(10, {"<step>", spelled.Step, "</step>"});
        if (spelled.Alter != 0) doc.Line(10, {"<alter>", TNumber(spelled.Alter), "</alter>"});
        doc.Line(10, {"<octave>", TNumber(spelled.Octave), "</octave>"});
        doc.Line(8, {"</pitch>"});
        doc.Line(8, {"<duration>", TNumber(spec.Duration), "</duration>"});
        if (tieStop) doc.Line(8, {"<tie type=\"stop\"/>"});
        if (tieStart) doc.Line(8, {"<tie type=\"start\"/>"});
        doc.Line(8, {"<voice>", TNumber(voiceNumber), "</voice>"});
        doc.Line(8, {"<type>", spec.NoteType, "</type>"});
        if (spec.Dotted) doc.Line(8, {"<dot/>"});
        if (tieStop || tieStart) {
            doc.Line(8, {"<notations>"});
            if (tieStop) doc.Line(10, {"<tied type=\"stop\"/>"});
            if (tieStart) doc.Line(10, {"<tied type=\"start\"/>"});
            doc.Line(8, {"</notations>"});
        }
        doc.Line(6, {"</note>"});
        first = false;
    }
}

// The piece of an event inside one measure, as a chain of tied values chosen
// largest first; events are cut at barlines only, never at beats.
void WriteEventSegment(TDocument& doc, const TQuantEvent& event, std::int64_t voiceNumber,
                       const std::vector<TDurationSpec>& table, std::int64_t segStart, std::int64_t segEnd) {
    std::int64_t remaining = segEnd - segStart;
    bool first = true;
    while (remaining > 0) {
        const TDurationSpec spec = PickDuration(table, remaining);
        const bool more = remaining > spec.Duration;
        const bool tieStop = event.StartTick < segStart || !first;
        const bool tieStart = event.EndTick > segEnd || more;
        WriteChordNotes(doc, event, spec, tieStart, tieStop, voiceNumber);
        remaining -= spec.Duration;
        first = false;
    }
}

// Whether any event of the voice, from event `from` on, sounds inside [ms, me).
bool VoiceHasEventIn(const TVoice& voice, std::size_t from, std::int64_t ms, std::int64_t me) {
    for (std::size_t i = from; i < voice.Events.size(); ++i) {
        if (voice.Events[i]->StartTick >= me) return false;
        if (voice.Events[i]->EndTick > ms) return true;
    }
    return false;
}

// Where each voice stands as the measures are written in order: the first of
// its events that has not ended yet, and (for voices after the first) the next
// measure it reaches into. With this a measure costs only the voices written in
// it, not every voice of the part, so long scores with many voices stay linear.
class TVoiceSchedule {
public:
    TVoiceSchedule(const std::vector<TVoice>& voices, std::int64_t measureLength)
        : FVoices(voices), FMeasureLength(measureLength), FNextEvent(voices.size(), 0) {
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

    // Puts a voice back after measure `index` was written, if it has events left.
    void Requeue(std::size_t voice, std::int64_t index) { Enqueue(voice, index + 1); }

private:
    void Enqueue(std::size_t voice, std::int64_t earliest) {
        const auto& events = FVoices[voice].Events;
        const std::size_t next = FNextEvent[voice];
        if (next >= events.size()) return;
        FQueue.emplace(std::max(earliest, events[next]->StartTick / FMeasureLength), voice);
    }

    using TEntry = std::pair<std::int64_t, std::size_t>;  // measure index, voice
    const std::vector<TVoice>& FVoices;
    std::int64_t FMeasureLength;
    std::vector<std::size_t> FNextEvent;
    std::priority_queue<TEntry, std::vector<TEntry>, std::greater<>> FQueue;
};

// Voice 1 in every measure, every other voice in the measures it touches; each
// written voice fills the whole measure with rests around its events, so the
// step back between voices is always the full measure.
void WriteMeasureVoices(TDocument& doc, const std::vector<TVoice>& voices, const std::vector<TDurationSpec>& table,
                        std::int64_t ms, std::int64_t me, std::int64_t measureLength, TVoiceSchedule& schedule,
                        std::vector<std::size_t>& scratch) {
    std::int64_t written = 0;
    const auto writeVoice = [&](std::size_t v) {
        if (written > 0) {
            doc.Line(6, {"<backup>"});
            doc.Line(8, {"<duration>", TNumber(measureLength), "</duration>"});
            doc.Line(6, {"</backup>"});
        }
        ++written;
        const auto voiceNumber = static_cast<std::int64_t>(v) + 1;
        const auto& events = voices[v].Events;
        std::size_t& next = schedule.NextEvent(v);
        std::int64_t cursor = ms;
        for (std::size_t i = next; i < events.size(); ++i) {
            const TQuantEvent& event = *events[i];
            if (event.EndTick <= ms) continue;
            if (event.StartTick >= me) break;
            const std::int64_t segStart = std::max(ms, event.StartTick);
            const std::int64_t segEnd = std::min(me, event.EndTick);
            if (segStart > cursor) WriteRests(doc, voiceNumber, table, segStart - cursor);
            WriteEventSegment(doc, event, voiceNumber, table, segStart, segEnd);
            cursor = segEnd;
        }
        if (cursor < me) WriteRests(doc, voiceNumber, table, me - cursor);
    };
    const auto passMeasure = [&](std::size_t v) {
        std::size_t& next = schedule.NextEvent(v);
        while (next < voices[v].Events.size() && voices[v].Events[next]->EndTick <= me) ++next;
    };

    writeVoice(0);
    passMeasure(0);
    const std::int64_t index = ms / measureLength;
    schedule.TakeVoicesReaching(index, scratch);
    for (const std::size_t v : scratch) {
        if (VoiceHasEventIn(voices[v], schedule.NextEvent(v), ms, me)) writeVoice(v);
        passMeasure(v);
        schedule.Requeue(v, index);
    }
}

// The document frame

// XML 1.0 cannot carry these characters at all, not even as references, so one
// of them in a track name would make the whole document unreadable. Bytes that
// are not UTF-8 go the same way, for the same reason.
std::string DropCharactersXmlForbids(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07u;
        }
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) valid = false;
            code = (code << 6) | (c & 0x3Fu);
        }
        if (valid) {
            const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
            const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
            const bool forbidden =
                (code < 0x20 && code != 0x09 && code != 0x0A && code != 0x0D) || code == 0xFFFE || code == 0xFFFF;
            if (!overlong && !surrogate && code <= 0x10FFFF && !forbidden) out.append(text.substr(i, length));
            i += length;
        } else {
            ++i;
        }
    }
    return out;
}

std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

// The target's name without its folder and without its extension.
std::string_view TitleFromFileName(std::string_view fileName) {
    const auto slash = fileName.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
    return name;
}

// ExportName without blanks and control characters at its ends; the track's
// own name when nothing is left.
std::string_view PartName(const TMidiTrack& track) {
    std::string_view name = track.ExportName;
    const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    while (!name.empty() && isBlank(name.front())) name.remove_prefix(1);
    while (!name.empty() && isBlank(name.back())) name.remove_suffix(1);
    return name.empty() ? std::string_view(track.Name) : name;
}

// Three decimals and a point, whatever the user's locale: to_chars never looks at it.
std::string FormatTempo(double bpm) {
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, bpm, std::chars_format::fixed, 3);
    return std::string(buffer, result.ptr);
}

void WriteAttributes(TDocument& doc, const TMidiFile& midi, std::string_view clefSign) {
    doc.Line(6, {"<attributes>"});
    doc.Line(8, {"<divisions>", TNumber(midi.PPQN), "</divisions>"});
    doc.Line(8, {"<key>"});
    doc.Line(10, {"<fifths>", TNumber(midi.KeyFifths), "</fifths>"});
    doc.Line(10, {midi.KeyMinor ? "<mode>minor</mode>" : "<mode>major</mode>"});
    doc.Line(8, {"</key>"});
    doc.Line(8, {"<time>"});
    doc.Line(10, {"<beats>", TNumber(midi.TimeNumerator), "</beats>"});
    doc.Line(10, {"<beat-type>", TNumber(midi.TimeDenominator), "</beat-type>"});
    doc.Line(8, {"</time>"});
    doc.Line(8, {"<clef>"});
    doc.Line(10, {"<sign>", clefSign, "</sign>"});
    doc.Line(10, {clefSign == "F" ? "<line>4</line>" : "<line>2</line>"});
    doc.Line(8, {"</clef>"});
    doc.Line(6, {"</attributes>"});
}

void WriteTempoDirection(TDocument& doc, double bpm) {
    const std::string tempo = FormatTempo(bpm);
    doc.Line(6, {"<direction placement=\"above\">"});
    doc.Line(8, {"<direction-type><metronome>"});
    doc.Line(10, {"<beat-unit>quarter</beat-unit>"});
    doc.Line(10, {"<per-minute>", tempo, "</per-minute>"});
    doc.Line(8, {"</metronome></direction-type>"});
    doc.Line(8, {"<sound tempo=\"", tempo, "\"/>"});
    doc.Line(6, {"</direction>"});
}

// One ticked track made ready for writing: its chord events (which the voices
// point into), its voices, note values and clef.
struct TPart {
    const TMidiTrack* Track = nullptr;
    std::vector<TQuantEvent> Events;
    std::vector<TVoice> Voices;
    std::vector<TDurationSpec> Table;
    std::string_view ClefSign;
};

void PreparePart(TPart& part, const TMidiFile& midi, const TMidiTrack& track, std::int64_t step) {
    part.Track = &track;
    part.Voices = BuildVoices(track, part.Events, step);
    if (part.Voices.empty()) throw EMusicXmlError(kMsgNoNotes);
    part.Table = BuildDurationTable(midi.PPQN);
    if (MeasureLength(midi) <= 0) throw EMusicXmlError(kMsgTimeSignature);
    part.ClefSign = ChooseClefSign(track);
}

void WritePart(TDocument& doc, const TMidiFile& midi, const TPart& part, std::int64_t partNumber,
               std::int64_t measureCount) {
    const std::int64_t measureLength = MeasureLength(midi);
    doc.Line(2, {"<part id=\"P", TNumber(partNumber), "\">"});
    TVoiceSchedule schedule(part.Voices, measureLength);
    std::vector<std::size_t> scratch;
    for (std::int64_t i = 1; i <= measureCount; ++i) {
        doc.Line(4, {"<measure number=\"", TNumber(i), "\">"});
        if (i == 1) {
            WriteAttributes(doc, midi, part.ClefSign);
            if (partNumber == 1) WriteTempoDirection(doc, midi.TempoBPM);
        }
        const std::int64_t ms = (i - 1) * measureLength;
        WriteMeasureVoices(doc, part.Voices, part.Table, ms, ms + measureLength, measureLength, schedule, scratch);
        doc.Line(4, {"</measure>"});
    }
    doc.Line(2, {"</part>"});
}

// The frame: declaration, work, identification, part list, then the parts.
void WriteDocument(TDocument& doc, const TMidiFile& midi, const std::vector<TPart>& parts, std::string_view fileName,
                   std::int64_t measureCount) {
    doc.Line(0, {"<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>"});
    doc.Line(0, {"<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
                 "\"http://www.musicxml.org/dtds/partwise.dtd\">"});
    doc.Line(0, {"<score-partwise version=\"4.0\">"});
    const std::string_view title = midi.Title.empty() ? TitleFromFileName(fileName) : std::string_view(midi.Title);
    doc.Line(2, {"<work><work-title>", XmlEscape(DropCharactersXmlForbids(title)), "</work-title></work>"});
    doc.Line(2, {"<identification>"});
    doc.Line(4, {"<encoding><software>Korvalin</software></encoding>"});
    doc.Line(2, {"</identification>"});
    doc.Line(2, {"<part-list>"});
    for (std::size_t i = 0; i < parts.size(); ++i) {
        doc.Line(4, {"<score-part id=\"P", TNumber(static_cast<std::int64_t>(i) + 1), "\">"});
        doc.Line(6, {"<part-name>", XmlEscape(DropCharactersXmlForbids(PartName(*parts[i].Track))), "</part-name>"});
        doc.Line(4, {"</score-part>"});
    }
    doc.Line(2, {"</part-list>"});
    for (std::size_t i = 0; i < parts.size(); ++i)
        WritePart(doc, midi, parts[i], static_cast<std::int64_t>(i) + 1, measureCount);
    doc.Line(0, {"</score-partwise>"});
}

}  // namespace

std::string BuildMusicXmlText(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks,
                              std::string_view fileName, std::int32_t grid, std::int64_t maxNoteElements) {
    if (tracks.empty() || std::find(tracks.begin(), tracks.end(), nullptr) != tracks.end())
        throw EMusicXmlError(kMsgNoTracks);
    if (grid <= 0 || std::int64_t{midi.PPQN} * 4 % grid != 0) throw EMusicXmlError(kMsgGrid);
    const std::int64_t step = std::int64_t{midi.PPQN} * 4 / grid;
    const std::int64_t measureLength = MeasureLength(midi);
    if (measureLength <= 0) throw EMusicXmlError(kMsgTimeSignature);

    std::int64_t scoreEnd = 0;
    for (const TMidiTrack* track : tracks)
        for (const auto& note : track->Notes()) scoreEnd = std::max(scoreEnd, QuantizeNote(note, step).End);
    const std::int64_t measureCount = std::max<std::int64_t>(1, (scoreEnd + measureLength - 1) / measureLength);
    // Every measure of every part holds at least one note or rest.
    if (measureCount > maxNoteElements / static_cast<std::int64_t>(tracks.size()))
        throw EMusicXmlError(kMsgTooLarge);

    // Parts are prepared in part order, so the first track without notes is the one reported.
    std::vector<TPart> parts(tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) PreparePart(parts[i], midi, *tracks[i], step);
    TDocument doc(maxNoteElements);
    WriteDocument(doc, midi, parts, fileName, measureCount);
    doc.StartWriting();
    WriteDocument(doc, midi, parts, fileName, measureCount);
    return doc.Take();
}

void BuildMusicXml(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks, const std::string& fileName,
                   std::int32_t grid) {
    const std::string text = BuildMusicXmlText(midi, tracks, fileName, grid);
    WriteFileAtomically(fileName, text);
}

}  // namespace korvalin
