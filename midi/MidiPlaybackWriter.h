// Writing a MIDI file that plays one track of the model alone.

#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "MidiErrors.h"
#include "MidiParser.h"

namespace korvalin {

// One timed event of the note track while it is built.
class TPlaybackEvent {
public:
    TPlaybackEvent(std::int64_t aTick, std::int32_t aOrder, std::span<const std::uint8_t> aData)
        : Tick(aTick), Order(aOrder), Data(aData.begin(), aData.end()) {}

    std::int64_t Tick;
    std::int32_t Order;              // among events of one tick: 1 note-off, 2 note-on
    std::vector<std::uint8_t> Data;  // status and data bytes, no delta time
};

// Writes a format 1 file that plays one track of the model alone: a conductor
// track with the file's tempo, metre and key, and the track's notes. Either
// pointer null: EArgumentNilException. The file is replaced atomically.
void WritePartPlaybackMidi(const TMidiFile* midi, const TMidiTrack* track, const std::string& fileName);

// The bytes WritePartPlaybackMidi writes.
std::vector<std::uint8_t> BuildPartPlaybackMidi(const TMidiFile* midi, const TMidiTrack* track);

// Data of the conductor chunk: title, tempo, time and key signature, end of track.
std::vector<std::uint8_t> BuildConductorTrack(const TMidiFile& midi);

// Data of the note chunk: name, one program change per used channel but 9,
// the notes in time order, end of track.
std::vector<std::uint8_t> BuildNoteTrack(const TMidiTrack& track);

}  // namespace korvalin
