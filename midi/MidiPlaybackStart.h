#pragma once

// A MIDI file cut to play from a tick, for a play that starts at a measure.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace korvalin {

// The bytes of a Standard MIDI File that plays `source` from `startTick` on,
// `startTick` ticks earlier. What sets up the sound before it (tempo, programs,
// controllers, pitch bends, system exclusives, meta events) happens at tick 0
// in the order it came, so that the sound at the start is the sound the file
// has there; a note that sounds across `startTick` starts at tick 0 for what is
// left of it; notes that ended before are dropped with their note-offs.
// A start at or before 0 returns the file unchanged. Throws EReadError on a
// malformed file.
std::vector<std::uint8_t> PlaybackFromTick(std::span<const std::uint8_t> source, std::int64_t startTick);

// PreparePlaybackMidi for a play that starts at `startTick` of the source.
void PreparePlaybackMidiFrom(const std::string& sourceFile, const std::string& destFile, std::int64_t startTick);

}  // namespace korvalin
