#pragma once

// The chosen tracks of a MIDI file as a file of their own, for playing or
// rendering some parts only.

#include <cstdint>
#include <span>
#include <vector>

#include "MidiErrors.h"
#include "MidiParser.h"

namespace korvalin {

// The file's bytes with only the chosen track chunks among those that hold
// notes; chunks without notes (tempo, meter, controllers of a conductor track)
// all stay, so the chosen parts keep the timing they had. `midi` is the same
// bytes loaded; an index the file does not have, or one without notes, is an
// ERangeError, as is an empty choice.
std::vector<std::uint8_t> KeepTrackChunks(std::span<const std::uint8_t> bytes, const TMidiFile& midi,
                                          std::span<const std::int32_t> indexes);

}  // namespace korvalin
