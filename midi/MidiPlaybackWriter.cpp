// The file that plays one part alone: the conductor track and that track's
// notes, rebuilt from the model.

#include "MidiPlaybackWriter.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <set>
#include <tuple>

#include "FileIO.h"
#include "MidiEvents.h"

namespace korvalin {

namespace {

using TByteList = std::vector<std::uint8_t>;

void WriteBytes(TByteList& out, std::span<const std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void WriteTextMeta(TByteList& out, std::uint8_t type, const std::string& text) {
    // A name longer than a meta event can say is cut; no real name comes near.
    const std::size_t length = std::min<std::size_t>(text.size(), kMaxVarLen);
    const auto bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    WriteMetaEvent(out, 0, type, std::span<const std::uint8_t>(bytes, length));
}

void WriteChunk(TByteList& out, std::span<const std::uint8_t> data) {
    WriteBytes(out, std::array<std::uint8_t, 4>{'M', 'T', 'r', 'k'});
    WriteBigEndian(out, static_cast<std::uint32_t>(data.size()), 4);
    WriteBytes(out, data);
}

template <typename T>
T Limit(std::int64_t value, T low, T high) {
    return static_cast<T>(std::clamp<std::int64_t>(value, low, high));
}

std::uint8_t TimeSignatureExponent(std::int32_t denominator) {
    std::int32_t value = std::max(denominator, 1);
    std::uint8_t exponent = 0;
    while (value > 1 && exponent < 7) {
        value /= 2;
        ++exponent;
    }
    return exponent;
}

using TNoteStart = std::tuple<std::uint8_t, std::uint8_t, std::int64_t>;  // channel, pitch, tick

// A note of no length is made to sound for one tick, unless a longer note of
// the same channel and pitch starts at that very tick: the one-tick note-off
// would then cut that note short, as real files with a repeated note-on show.
// Left at its own tick, the note-off sorts before both note-ons and ends nothing.
std::int64_t NoteOffTick(const TMidiNote& note, const TNoteStart& start, const std::set<TNoteStart>& soundingStarts) {
    if (note.EndTick > note.StartTick) return note.EndTick;
    if (soundingStarts.contains(start)) return note.StartTick;
    return note.StartTick == std::numeric_limits<std::int64_t>::max() ? note.StartTick : note.StartTick + 1;
}

// Distance from the previous event's tick, exact even across the sign of the
// 64-bit range, limited to what a delta time can hold.
std::uint32_t DeltaBetween(std::int64_t previous, std::int64_t tick) {
    if (tick <= previous) return 0;
    const std::uint64_t distance = static_cast<std::uint64_t>(tick) - static_cast<std::uint64_t>(previous);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(distance, kMaxVarLen));
}

}  // namespace

std::vector<std::uint8_t> BuildConductorTrack(const TMidiFile& midi) {
    TByteList out;
    if (!midi.Title.empty()) WriteTextMeta(out, kMetaTrackName, midi.Title);

    const std::uint32_t microseconds =
        midi.TempoMicroseconds == 0 ? 500000u : std::min<std::uint32_t>(midi.TempoMicroseconds, 0xFFFFFFu);
    WriteMetaEvent(out, 0, kMetaTempo, TempoData(microseconds));
    WriteMetaEvent(out, 0, kMetaTimeSignature,
                   std::array<std::uint8_t, 4>{Limit<std::uint8_t>(midi.TimeNumerator, 1, 255),
                                               TimeSignatureExponent(midi.TimeDenominator), 0x18, 0x08});
    WriteMetaEvent(out, 0, kMetaKeySignature, KeySignatureData(midi.KeyFifths, midi.KeyMinor));
    WriteMetaEvent(out, 0, kMetaEndOfTrack, {});
    return out;
}

std::vector<std::uint8_t> BuildNoteTrack(const TMidiTrack& track) {
    std::vector<std::unique_ptr<TPlaybackEvent>> events;
    events.reserve(track.Notes().size() * 2);
    std::array<bool, 16> channelUsed{};

    const auto channelOf = [](const TMidiNote& note) { return Limit<std::uint8_t>(note.Channel, 0, 15); };
    const auto pitchOf = [](const TMidiNote& note) { return static_cast<std::uint8_t>(note.Pitch & 0xFF); };
    std::set<TNoteStart> soundingStarts;
    for (const TMidiNote& note : track.Notes()) {
        if (note.EndTick > note.StartTick) soundingStarts.emplace(channelOf(note), pitchOf(note), note.StartTick);
    }

    for (const TMidiNote& note : track.Notes()) {
        const auto channel = channelOf(note);
        channelUsed[channel] = true;
        const auto velocity = Limit<std::uint8_t>(note.Velocity, 1, 127);
        const auto pitch = pitchOf(note);
        const std::array<std::uint8_t, 3> noteOn{static_cast<std::uint8_t>(kStatusNoteOn | channel), pitch, velocity};
        const std::array<std::uint8_t, 3> noteOff{static_cast<std::uint8_t>(kStatusNoteOff | channel), pitch, 0};
        events.push_back(std::make_unique<TPlaybackEvent>(note.StartTick, 2, noteOn));
        events.push_back(std::make_unique<TPlaybackEvent>(
            NoteOffTick(note, {channel, pitch, note.StartTick}, soundingStarts), 1, noteOff));
    }
    // Stable, so notes of one tick and kind keep the model's order.
    std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) {
        return a->Tick != b->Tick ? a->Tick < b->Tick : a->Order < b->Order;
    });

    TByteList out;
    WriteTextMeta(out, kMetaTrackName, track.ExportName);
    const auto program = Limit<std::uint8_t>(std::max(track.ProgramNumber, 0), 0, 127);
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        if (!channelUsed[channel] || channel == kDrumChannel) continue;
        WriteEvent(out, 0,
                   std::array<std::uint8_t, 2>{static_cast<std::uint8_t>(kStatusProgramChange | channel), program});
    }
    std::int64_t previous = 0;
    for (const auto& event : events) {
        WriteEvent(out, DeltaBetween(previous, event->Tick), event->Data);
        previous = event->Tick;
    }
    WriteMetaEvent(out, 0, kMetaEndOfTrack, {});
    return out;
}

std::vector<std::uint8_t> BuildPartPlaybackMidi(const TMidiFile* midi, const TMidiTrack* track) {
    if (midi == nullptr || track == nullptr) throw EArgumentNilException("Не выбрана MIDI-дорожка.");
    TByteList out{'M', 'T', 'h', 'd'};
    WriteBigEndian(out, 6, 4);
    WriteBigEndian(out, 1, 2);
    WriteBigEndian(out, 2, 2);
    WriteBigEndian(out, static_cast<std::uint32_t>(midi->PPQN & 0xFFFF), 2);
    WriteChunk(out, BuildConductorTrack(*midi));
    WriteChunk(out, BuildNoteTrack(*track));
    return out;
}

void WritePartPlaybackMidi(const TMidiFile* midi, const TMidiTrack* track, const std::string& fileName) {
    const std::vector<std::uint8_t> bytes = BuildPartPlaybackMidi(midi, track);
    WriteFileAtomically(fileName, bytes);
}

}  // namespace korvalin
