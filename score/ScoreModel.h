#pragma once

// The written score between the MIDI model and the MusicXML text: parts, their
// measures, the voices of each measure on their staves, and the notes, chords
// and rests of each voice with exact positions and durations. Both notations
// (as played, and for reading) fill this model; one writer turns it into text.
//
// Times are whole numbers of units, UnitsPerQuarter of them to a quarter note,
// so every position is an exact fraction of a quarter. A filler picks the unit
// so that everything it writes is whole: the file's own ticks for the literal
// transcription, a fraction of the grid for the readable one; triplets and
// other tuplets multiply the unit.
//
// Storage is flat (one array of events and one of heads per part, measures and
// voices holding index ranges), because a million-note score must not cost
// millions of small allocations.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvalin {

using TScoreTime = std::int64_t;

// Written note values, longest first; the numbers index NoteTypeName.
enum class TNoteType : std::uint8_t {
    ntBreve,
    ntWhole,
    ntHalf,
    ntQuarter,
    ntEighth,
    nt16th,
    nt32nd,
    nt64th,
    nt128th,
    nt256th
};

// MusicXML <type> text of a note value.
std::string_view NoteTypeName(TNoteType type);

enum class TAccidental : std::uint8_t { acNone, acSharp, acFlat, acNatural, acDoubleSharp, acFlatFlat };

enum class TStem : std::uint8_t { stNone, stUp, stDown };

enum class TBeam : std::uint8_t { bmNone, bmBegin, bmContinue, bmEnd, bmForwardHook, bmBackwardHook };

enum class TNotehead : std::uint8_t { nhNormal, nhX, nhCircleX, nhDiamond, nhTriangle };

// Beam levels from the eighth (index 0) down to the 256th.
inline constexpr std::size_t kBeamLevels = 6;

// One written note of a chord.
struct TScoreHead {
    std::int32_t Pitch = 0;  // the sounding MIDI key
    std::int8_t Step = 0;    // 0 = C ... 6 = B; for an unpitched note its display step
    std::int8_t Alter = 0;   // semitones, -2 ... 2
    std::int8_t Octave = 4;  // for an unpitched note its display octave
    TAccidental Accidental = TAccidental::acNone;
    bool TieStart = false;
    bool TieStop = false;
    TNotehead Notehead = TNotehead::nhNormal;
    std::int32_t Instrument = -1;  // index into the part's instruments; -1 for none
};

// A tuplet bracket over a run of events of one voice (filled by tuplet detection).
struct TScoreTuplet {
    std::uint8_t Actual = 0;  // 0: no time modification
    std::uint8_t Normal = 0;
    TNoteType NormalType = TNoteType::ntEighth;
    bool Start = false;
    bool Stop = false;
    bool Bracket = false;  // on the start: the bracket is drawn
};

// A note, a chord or a rest of one voice. A rest has no heads.
struct TScoreEvent {
    TScoreTime Offset = 0;    // from the start of the measure
    TScoreTime Duration = 0;  // what the voice advances by
    std::uint32_t FirstHead = 0;
    std::uint32_t HeadCount = 0;
    TNoteType Type = TNoteType::ntQuarter;
    std::uint8_t Dots = 0;
    bool MeasureRest = false;  // a rest that fills the whole measure, written without a value
    bool Hidden = false;       // a rest that only keeps the voice's count, written as a <forward>
    bool HasType = true;
    TStem Stem = TStem::stNone;
    // Where a rest sits, as the step (0 = C ... 6 = B) and octave of a note in
    // its place; -1: where the renderer puts it.
    std::int8_t RestStep = -1;
    std::int8_t RestOctave = 0;
    std::array<TBeam, kBeamLevels> Beams{};
    TScoreTuplet Tuplet;

    bool IsRest() const { return HeadCount == 0; }
};

// The events of one voice within one measure, in time order.
struct TScoreVoice {
    std::int32_t Number = 1;
    std::int32_t Staff = 1;
    std::uint32_t FirstEvent = 0;
    std::uint32_t EventCount = 0;
};

struct TScoreKey {
    std::int32_t Fifths = 0;
    bool Minor = false;
};

struct TScoreTimeSignature {
    std::int32_t Beats = 4;
    std::int32_t BeatType = 4;
};

struct TScoreClef {
    std::int32_t Staff = 1;
    std::string_view Sign = "G";  // "G", "F" or "percussion"
    std::int32_t Line = 2;        // 0: not written
};

// A metronome mark.
struct TScoreTempo {
    TScoreTime Offset = 0;
    TNoteType BeatUnit = TNoteType::ntQuarter;
    bool BeatUnitDot = false;
    std::string PerMinute;  // as shown
    std::string Sound;      // quarter notes per minute for playback, as written
};

// One measure of one part. The attributes written at its start are those
// marked present; the first measure normally carries them all.
struct TScoreMeasure {
    std::string Number;
    TScoreTime Start = 0;   // from the start of the score
    TScoreTime Length = 0;  // what every voice adds up to
    bool Implicit = false;  // a pickup or other measure that is not counted

    bool WriteDivisions = false;
    bool HasKey = false;
    TScoreKey Key;
    bool HasTime = false;
    TScoreTimeSignature Time;
    bool WriteStaves = false;  // the part's staff count
    std::vector<TScoreClef> Clefs;
    std::vector<TScoreTempo> Tempos;

    std::uint32_t FirstVoice = 0;
    std::uint32_t VoiceCount = 0;
};

// An instrument of a part that names its sounds (a drum kit's pieces).
struct TScoreInstrument {
    std::string Id;
    std::string Name;
    std::int32_t MidiChannel = 0;    // 1-based; 0: not written
    std::int32_t MidiUnpitched = 0;  // 1-based key; 0: not written
};

struct TScorePart {
    std::int32_t Staves = 1;  // above 1: every note names its staff
    std::string Name;
    std::string Abbreviation;  // empty: not written
    std::vector<TScoreInstrument> Instruments;
    std::vector<TScoreMeasure> Measures;
    std::vector<TScoreVoice> Voices;
    std::vector<TScoreEvent> Events;
    std::vector<TScoreHead> Heads;
};

// Parts bracketed together in the part list, as the two hands of a piano
// that a file keeps on two tracks.
struct TScorePartGroup {
    std::size_t FirstPart = 0;  // 0-based
    std::size_t LastPart = 0;
    std::string_view Symbol = "brace";
};

struct TScore {
    std::string Title;
    std::vector<TScorePartGroup> PartGroups;
    TScoreTime UnitsPerQuarter = 1;
    // The literal transcription writes its unit as the divisions, whatever
    // divides it; otherwise the writer reduces the divisions to what is needed.
    bool KeepUnitAsDivisions = true;
    std::vector<TScorePart> Parts;
};

}  // namespace korvalin
