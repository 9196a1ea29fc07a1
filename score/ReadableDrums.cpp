// Drums in the readable notation: each General MIDI drum sound in the place
// drum-set notation gives it on a five-line percussion staff, hands in the
// upper voice with stems up, feet in the lower one with stems down, and each
// hit lasting until the next one of its voice, at most a beat.

#include <algorithm>
#include <string>

#include "ReadableSteps.h"

namespace korvalin {
namespace {

struct TDrumSound {
    std::int32_t Key;
    const char* Name;
    char Step;  // display step letter
    std::int8_t Octave;
    TNotehead Notehead;
};

// Kick F4, snare C5, toms from E5 down to F4, hi-hats G5 (pedal D4), crash
// A5, ride F5; the Latin instruments of the map where they collide least.
constexpr TDrumSound kDrumMap[] = {
    {35, "Acoustic Bass Drum", 'E', 4, TNotehead::nhNormal},
    {36, "Bass Drum 1", 'F', 4, TNotehead::nhNormal},
    {37, "Side Stick", 'C', 5, TNotehead::nhX},
    {38, "Acoustic Snare", 'C', 5, TNotehead::nhNormal},
    {39, "Hand Clap", 'B', 4, TNotehead::nhX},
    {40, "Electric Snare", 'C', 5, TNotehead::nhNormal},
    {41, "Low Floor Tom", 'F', 4, TNotehead::nhNormal},
    {42, "Closed Hi-Hat", 'G', 5, TNotehead::nhX},
    {43, "High Floor Tom", 'G', 4, TNotehead::nhNormal},
    {44, "Pedal Hi-Hat", 'D', 4, TNotehead::nhX},
    {45, "Low Tom", 'A', 4, TNotehead::nhNormal},
    {46, "Open Hi-Hat", 'G', 5, TNotehead::nhCircleX},
    {47, "Low-Mid Tom", 'B', 4, TNotehead::nhNormal},
    {48, "Hi-Mid Tom", 'D', 5, TNotehead::nhNormal},
    {49, "Crash Cymbal 1", 'A', 5, TNotehead::nhX},
    {50, "High Tom", 'E', 5, TNotehead::nhNormal},
    {51, "Ride Cymbal 1", 'F', 5, TNotehead::nhX},
    {52, "Chinese Cymbal", 'C', 6, TNotehead::nhX},
    {53, "Ride Bell", 'F', 5, TNotehead::nhDiamond},
    {54, "Tambourine", 'E', 5, TNotehead::nhX},
    {55, "Splash Cymbal", 'B', 5, TNotehead::nhX},
    {56, "Cowbell", 'E', 5, TNotehead::nhTriangle},
    {57, "Crash Cymbal 2", 'B', 5, TNotehead::nhX},
    {58, "Vibraslap", 'D', 5, TNotehead::nhX},
    {59, "Ride Cymbal 2", 'E', 5, TNotehead::nhX},
    {60, "Hi Bongo", 'E', 5, TNotehead::nhNormal},
    {61, "Low Bongo", 'D', 5, TNotehead::nhNormal},
    {62, "Mute Hi Conga", 'C', 5, TNotehead::nhX},
    {63, "Open Hi Conga", 'C', 5, TNotehead::nhNormal},
    {64, "Low Conga", 'B', 4, TNotehead::nhNormal},
    {65, "High Timbale", 'A', 4, TNotehead::nhNormal},
    {66, "Low Timbale", 'G', 4, TNotehead::nhNormal},
    {67, "High Agogo", 'E', 5, TNotehead::nhTriangle},
    {68, "Low Agogo", 'D', 5, TNotehead::nhTriangle},
    {69, "Cabasa", 'F', 5, TNotehead::nhX},
    {70, "Maracas", 'F', 5, TNotehead::nhX},
    {71, "Short Whistle", 'A', 5, TNotehead::nhNormal},
    {72, "Long Whistle", 'A', 5, TNotehead::nhNormal},
    {73, "Short Guiro", 'C', 5, TNotehead::nhX},
    {74, "Long Guiro", 'C', 5, TNotehead::nhX},
    {75, "Claves", 'E', 5, TNotehead::nhX},
    {76, "Hi Wood Block", 'E', 5, TNotehead::nhTriangle},
    {77, "Low Wood Block", 'D', 5, TNotehead::nhTriangle},
    {78, "Mute Cuica", 'B', 4, TNotehead::nhX},
    {79, "Open Cuica", 'B', 4, TNotehead::nhNormal},
    {80, "Mute Triangle", 'A', 5, TNotehead::nhTriangle},
    {81, "Open Triangle", 'A', 5, TNotehead::nhTriangle},
};

std::int8_t StepOfLetter(char letter) {
    constexpr std::string_view kLetters = "CDEFGAB";
    return static_cast<std::int8_t>(kLetters.find(letter));
}

const TDrumSound* FindSound(std::int32_t key) {
    for (const auto& sound : kDrumMap)
        if (sound.Key == key) return &sound;
    return nullptr;
}

}  // namespace

bool IsFootDrum(std::int32_t pitch) { return pitch == 35 || pitch == 36 || pitch == 44; }

void MapDrums(std::vector<TPartNote>& notes, TScorePart& part, std::int32_t partNumber) {
    std::vector<std::int32_t> keys;
    for (const auto& note : notes) keys.push_back(note.Pitch);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    const std::string prefix = "P" + std::to_string(partNumber) + "-I";
    for (const std::int32_t key : keys) {
        const TDrumSound* sound = FindSound(key);
        TScoreInstrument& instrument = part.Instruments.emplace_back();
        instrument.Id = prefix + std::to_string(key + 1);
        // Keys outside the map are still named, and played on their own key.
        instrument.Name = sound != nullptr ? sound->Name : "Percussion " + std::to_string(key);
        instrument.MidiChannel = kDrumChannel + 1;  // 1-based in MusicXML
        instrument.MidiUnpitched = key + 1;
    }
    for (auto& note : notes) {
        const auto index = std::lower_bound(keys.begin(), keys.end(), note.Pitch) - keys.begin();
        const TDrumSound* sound = FindSound(note.Pitch);
        note.Instrument = static_cast<std::int32_t>(index);
        note.Staff = 1;
        note.Voice = IsFootDrum(note.Pitch) ? 1 : 0;
        note.Spelled = sound != nullptr ? TSpelledPitch{StepOfLetter(sound->Step), 0, sound->Octave}
                                        : TSpelledPitch{StepOfLetter('B'), 0, 4};
        note.Notehead = sound != nullptr ? sound->Notehead : TNotehead::nhNormal;
    }
}

void SetDrumDurations(std::vector<TPartNote>& notes, const TMeasureMap& map) {
    std::sort(notes.begin(), notes.end(), [](const TPartNote& a, const TPartNote& b) {
        if (a.Voice != b.Voice) return a.Voice < b.Voice;
        return a.Start != b.Start ? a.Start < b.Start : a.Pitch < b.Pitch;
    });
    std::size_t hint = 0;
    for (std::size_t i = 0; i < notes.size();) {
        std::size_t j = i;
        while (j < notes.size() && notes[j].Voice == notes[i].Voice && notes[j].Start == notes[i].Start) ++j;
        const TScoreTime at = notes[i].Start;
        const TMeasureSlot& measure = map.Measures[map.IndexAt(at, hint)];
        const TScoreTime offset = at - measure.Start;
        TScoreTime end = measure.Start + measure.Meter.BeatAt(offset) + measure.Meter.BeatLengthAt(offset);
        if (j < notes.size() && notes[j].Voice == notes[i].Voice) end = std::min(end, notes[j].Start);
        for (std::size_t k = i; k < j; ++k) notes[k].End = std::max(end, at + 1);
        i = j;
    }
}

}  // namespace korvalin
