// Preparing a MIDI file for playback.

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "MidiErrors.h"
#include "MidiEvents.h"

namespace korvalin {

// A variable-length quantity read by ReadDeltaTime: its value and its size in bytes.
struct TDeltaTime {
    std::uint32_t Value = 0;
    std::size_t Length = 0;
};

// Writes the copy of SourceFile that playback opens: every non-empty MTrk
// chunk starts a sixteenth note (a quarter of the division) later. The source
// is read whole first; DestFile is replaced atomically.
void PreparePlaybackMidi(const std::string& sourceFile, const std::string& destFile);

// The in-memory preparation behind PreparePlaybackMidi: the copy's bytes.
std::vector<std::uint8_t> PreparePlaybackBytes(std::span<const std::uint8_t> source);

// Ticks of lead-in for a header division word: division / 4, at least 1;
// 24 for SMPTE timing.
std::uint32_t PlaybackLeadIn(std::uint16_t division);

// Reads a variable-length quantity of at most 4 bytes at pos, never at or
// beyond end; EReadError "Invalid MIDI delta time." when it does not fit.
TDeltaTime ReadDeltaTime(std::span<const std::uint8_t> data, std::size_t pos, std::size_t end);

}  // namespace korvalin
