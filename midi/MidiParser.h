// The MIDI model (TMidiFile, its tracks and notes) and its loader.

#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "MidiEvents.h"

namespace korvalin {

// Raised by the loader for every file it refuses; the message is the whole story.
class EMidiError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TClefMode : std::int32_t { cmAuto = 0, cmTreble = 1, cmBass = 2 };

// One played note: a note-on paired with the event that ended it.
struct TMidiNote {
    std::int64_t StartTick = 0;
    std::int64_t EndTick = 0;
    std::int32_t Pitch = 0;
    std::int32_t Velocity = 0;
    std::int32_t Channel = 0;
};

// One track chunk of a file. Notes are kept by value: nothing refers to a
// single note, and a million-note file should not cost a million allocations.
class TMidiTrack {
public:
    std::int32_t Index = 0;
    std::string Name;
    std::string ExportName;
    std::string InstrumentName;
    std::int32_t ProgramNumber = -1;
    TClefMode ClefMode = TClefMode::cmAuto;

    // Notes in the order of their ending events, not of their starts.
    const std::vector<TMidiNote>& Notes() const { return FNotes; }
    void AddNote(const TMidiNote& note) { FNotes.push_back(note); }

    // Lowest / highest pitch; -1 when the track has no notes.
    std::int32_t MinPitch() const;
    std::int32_t MaxPitch() const;

private:
    std::vector<TMidiNote> FNotes;
};

// A time-signature, key-signature or tempo event as it stands in the file, at
// its tick; the file-wide fields above keep their own rules (the last time
// signature, the first key and tempo), these lists keep every one.
struct TTimeSignatureChange {
    std::int64_t Tick = 0;
    std::int32_t Numerator = 4;
    std::int32_t Denominator = 4;
};

struct TKeySignatureChange {
    std::int64_t Tick = 0;
    std::int32_t Fifths = 0;
    bool Minor = false;
};

struct TTempoChange {
    std::int64_t Tick = 0;
    std::uint32_t Microseconds = 500000;
};

// A loaded Standard MIDI File: every track chunk, and the file-wide values.
class TMidiFile {
public:
    std::int32_t MidiFormat = 0;
    std::int32_t PPQN = 0;
    double TempoBPM = 120.0;
    std::uint32_t TempoMicroseconds = 500000;
    bool HasTempo = false;
    std::int32_t TimeNumerator = 4;
    std::int32_t TimeDenominator = 4;
    std::int32_t KeyFifths = 0;
    bool KeyMinor = false;
    bool HasKeySignature = false;
    bool KeyWasEstimated = false;
    std::string Title;
    // Every change in tick order; among equal ticks, in the order read.
    std::vector<TTimeSignatureChange> TimeSignatureChanges;
    std::vector<TKeySignatureChange> KeyChanges;
    std::vector<TTempoChange> TempoChanges;

    // Reads the whole file, then parses it; replaces what this object held.
    void LoadFromFile(const std::string& fileName);
    // Parses a file image already in memory; the same rules as LoadFromFile.
    void LoadFromBytes(std::span<const std::uint8_t> data);

    // English key name when the key was read or estimated, else "не определена".
    std::string KeyName() const;

    const std::vector<std::unique_ptr<TMidiTrack>>& Tracks() const { return FTracks; }

private:
    void Reset();
    void ParseTrack(std::span<const std::uint8_t> data, TMidiTrack& track);
    void EstimateKey();

    std::vector<std::unique_ptr<TMidiTrack>> FTracks;
};

// "C4" for 60, "C-1" for 0, "G9" for 127; "-" outside 0..127.
std::string PitchName(std::int32_t pitch);
// English key name, fifths clamped to -7..7: "F# minor", "Bb major".
std::string KeyNameFromFifths(std::int32_t fifths, bool minor);
// Pitch class 0..11 of the key's tonic; fifths not clamped.
std::int32_t TonicPitchClass(std::int32_t fifths, bool minor);
// Semitones from the old key's tonic to the new one's (same mode), the nearest
// move in -6..6; a move of exactly six keeps the sign of the raw difference.
std::int32_t TranspositionSemitones(std::int32_t oldFifths, std::int32_t newFifths, bool minor);
// A tempo in BPM as the whole number offered to the user: halves go to the even neighbour.
std::int32_t WholeTempo(double bpm);

}  // namespace korvalin
