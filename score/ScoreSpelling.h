#pragma once

// Naming pitches on the staff, and the clef a part is written in.

#include <cstdint>
#include <string_view>

#include "MidiParser.h"

namespace korvalin {

struct TSpelledPitch {
    std::int8_t Step = 0;  // 0 = C ... 6 = B
    std::int8_t Alter = 0;
    std::int8_t Octave = 4;
};

// MusicXML has octaves 0 to 9 only. MIDI keys 0..11 lie below every
// instrument's range (a piano starts at 21), so they are written an octave up:
// every note stays, and the score stays readable.
inline std::int8_t WrittenOctave(std::int32_t octave) {
    return static_cast<std::int8_t>(octave < 0 ? 0 : octave > 9 ? 9 : octave);
}

// Sharps only, whatever the key: the transcription as played leaves showing
// accidentals to the renderer.
TSpelledPitch SpellPitchWithSharps(std::int32_t pitch);

// The user's choice, else by the mean pitch of the notes as loaded (every note
// counts once, before quantisation and chord merging): "G" or "F".
std::string_view ChooseClefSign(const TMidiTrack& track);

}  // namespace korvalin
