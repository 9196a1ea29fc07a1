// Moving a MIDI file to a new key and tempo.

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "MidiErrors.h"

namespace korvalin {

// Whether any key-signature or tempo event of the file has been rewritten so
// far; RewriteTrack only ever sets these.
struct TRewriteFlags {
    bool KeyWritten = false;
    bool TempoWritten = false;
};

// Microseconds per quarter note for a whole tempo of 20..400 BPM, rounded to
// the nearest microsecond; ERangeError outside that range.
std::uint32_t TempoToMicroseconds(std::int32_t tempo);

// Rewrites SourceFile into DestFile: every note but those of channel 9 moved by
// Semitones, every key signature set to NewFifths/Minor, every tempo set to
// Tempo BPM; a key signature and a tempo are added to the first track when the
// file has none. The source is read whole first, so DestFile may name it; the
// target is replaced atomically and only when the whole rewrite succeeded.
void TransposeMidiFile(const std::string& sourceFile, const std::string& destFile, std::int32_t semitones,
                       std::int32_t newFifths, bool minor, std::int32_t tempo);

// The in-memory rewrite behind TransposeMidiFile: the new file's bytes.
std::vector<std::uint8_t> TransposeMidiBytes(std::span<const std::uint8_t> source, std::int32_t semitones,
                                             std::int32_t newFifths, bool minor, std::int32_t tempo);

// Rewrites one track chunk's data in place and gives back where events added
// to the track belong: at its end-of-track event, else at the end of its events.
std::size_t RewriteTrack(std::span<std::uint8_t> data, std::int32_t semitones, std::int32_t newFifths, bool minor,
                         std::int32_t tempo, TRewriteFlags& flags);

// Insert a key-signature (6 bytes) or tempo (7 bytes) event with delta time 0
// at pos, which is first limited to the length of the data.
void InsertKeySignature(std::vector<std::uint8_t>& data, std::size_t pos, std::int32_t newFifths, bool minor);
void InsertTempo(std::vector<std::uint8_t>& data, std::size_t pos, std::int32_t tempo);

}  // namespace korvalin
