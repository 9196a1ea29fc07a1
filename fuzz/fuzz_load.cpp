// libFuzzer target for the MIDI loader: any bytes either load into a model that
// keeps its promises or are refused with EMidiError; anything else is a fault.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "MidiParser.h"

namespace {

// A broken promise is as much a finding as a crash, so it aborts.
void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckModel(const korvalin::TMidiFile& file, std::span<const std::uint8_t> data) {
    Check(!(file.HasKeySignature && file.KeyWasEstimated));
    if (!file.HasKeySignature && !file.KeyWasEstimated) Check(file.KeyFifths == 0 && !file.KeyMinor);
    if (file.HasTempo) Check(file.TempoMicroseconds > 0 && file.TempoMicroseconds <= 0xFFFFFF);
    Check(!file.KeyName().empty());
    const std::size_t counted = static_cast<std::size_t>(data[10]) << 8 | data[11];
    Check(file.Tracks().size() == counted);
    for (std::size_t i = 0; i < file.Tracks().size(); ++i) {
        const auto& track = *file.Tracks()[i];
        Check(track.Index == static_cast<std::int32_t>(i + 1));
        Check(!track.Name.empty() && track.ExportName == track.Name);
        Check(track.Notes().size() <= data.size());
        std::int32_t lo = 128;
        std::int32_t hi = -1;
        for (const auto& note : track.Notes()) {
            Check(note.StartTick >= 0 && note.EndTick >= note.StartTick);
            Check(note.Pitch >= 0 && note.Pitch <= 127);
            Check(note.Velocity >= 1 && note.Velocity <= 255);
            Check(note.Channel >= 0 && note.Channel <= 15);
            lo = note.Pitch < lo ? note.Pitch : lo;
            hi = note.Pitch > hi ? note.Pitch : hi;
        }
        Check(track.MinPitch() == (track.Notes().empty() ? -1 : lo));
        Check(track.MaxPitch() == (track.Notes().empty() ? -1 : hi));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::span<const std::uint8_t> data(bytes, size);
    // The same object loaded twice: the second load must not see the first.
    korvalin::TMidiFile file;
    for (int round = 0; round < 2; ++round) {
        try {
            file.LoadFromBytes(data);
        } catch (const korvalin::EMidiError&) {
            continue;
        }
        CheckModel(file, data);
    }
    return 0;
}
