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

namespace korvalin {

namespace {

using TByteList = std::vector<std::uint8_t>;

constexpr std::uint64_t kMaxDelta = 0x0FFFFFFF;
constexpr std::uint8_t kPercussionChannel = 9;

void WriteBytes(TByteList& out, std::span<const std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void WriteWord(TByteList& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void WriteDWord(TByteList& out, std::uint32_t value) {
    WriteWord(out, static_cast<std::uint16_t>(value >> 16));
    WriteWord(out, static_cast<std::uint16_t>(value));
}

// Any 32-bit value, 1 to 5 bytes of seven bits, most significant group first.
void WriteVarLength(TByteList& out, std::uint32_t value) {
    int shift = 28;
    while (shift > 0 && (value >> shift) == 0) shift -= 7;
    for (; shift > 0; shift -= 7) out.push_back(static_cast<std::uint8_t>(0x80 | ((value >> shift) & 0x7F)));
    out.push_back(static_cast<std::uint8_t>(value & 0x7F));
}

void WriteTextMeta(TByteList& out, std::uint8_t type, const std::string& text) {
    // A name longer than a meta event can say is cut; no real name comes near.
    const std::size_t length = std::min<std::size_t>(text.size(), std::numeric_limits<std::uint32_t>::max());
    WriteBytes(out, std::array<std::uint8_t, 3>{0x00, 0xFF, type});
    WriteVarLength(out, static_cast<std::uint32_t>(length));
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
}

void WriteChunk(TByteList& out, std::span<const std::uint8_t> data) {
    WriteBytes(out, std::array<std::uint8_t, 4>{'M', 'T', 'r', 'k'});
    WriteDWord(out, static_cast<std::uint32_t>(data.size()));
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
    return static_cast<std::uint32_t>(std::min(distance, kMaxDelta));
}

}  // namespace

std::vector<std::uint8_t> BuildConductorTrack(const TMidiFile& midi) {
    TByteList out;
    if (!midi.Title.empty()) WriteTextMeta(out, 0x03, midi.Title);

    const std::uint32_t microseconds =
        midi.TempoMicroseconds == 0 ? 500000u : std::min<std::uint32_t>(midi.TempoMicroseconds, 0xFFFFFFu);
    WriteBytes(out, std::array<std::uint8_t, 7>{0x00, 0xFF, 0x51, 0x03, static_cast<std::uint8_t>(microseconds >> 16),
                                                static_cast<std::uint8_t>(microseconds >> 8),
                                                static_cast<std::uint8_t>(microseconds)});
    WriteBytes(out, std::array<std::uint8_t, 8>{0x00, 0xFF, 0x58, 0x04,
                                                Limit<std::uint8_t>(midi.TimeNumerator, 1, 255),
                                                TimeSignatureExponent(midi.TimeDenominator), 0x18, 0x08});
    WriteBytes(out, std::array<std::uint8_t, 6>{0x00, 0xFF, 0x59, 0x02,
                                                static_cast<std::uint8_t>(midi.KeyFifths & 0xFF),
                                                static_cast<std::uint8_t>(midi.KeyMinor ? 1 : 0)});
    WriteBytes(out, std::array<std::uint8_t, 4>{0x00, 0xFF, 0x2F, 0x00});
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
        const std::array<std::uint8_t, 3> noteOn{static_cast<std::uint8_t>(0x90 | channel), pitch, velocity};
        const std::array<std::uint8_t, 3> noteOff{static_cast<std::uint8_t>(0x80 | channel), pitch, 0};
        events.push_back(std::make_unique<TPlaybackEvent>(note.StartTick, 2, noteOn));
        events.push_back(
            std::make_unique<TPlaybackEvent>(NoteOffTick(note, {channel, pitch, note.StartTick}, soundingStarts), 1, noteOff));
    }
    // Stable, so notes of one tick and kind keep the model's order.
    std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) {
        return a->Tick != b->Tick ? a->Tick < b->Tick : a->Order < b->Order;
    });

    TByteList out;
    WriteTextMeta(out, 0x03, track.ExportName);
    const auto program = Limit<std::uint8_t>(std::max(track.ProgramNumber, 0), 0, 127);
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        if (!channelUsed[channel] || channel == kPercussionChannel) continue;
        WriteBytes(out, std::array<std::uint8_t, 3>{0x00, static_cast<std::uint8_t>(0xC0 | channel), program});
    }
    std::int64_t previous = 0;
    for (const auto& event : events) {
        WriteVarLength(out, DeltaBetween(previous, event->Tick));
        WriteBytes(out, event->Data);
        previous = event->Tick;
    }
    WriteBytes(out, std::array<std::uint8_t, 4>{0x00, 0xFF, 0x2F, 0x00});
    return out;
}

std::vector<std::uint8_t> BuildPartPlaybackMidi(const TMidiFile* midi, const TMidiTrack* track) {
    if (midi == nullptr || track == nullptr) throw EArgumentNilException("Не выбрана MIDI-дорожка.");
    TByteList out{'M', 'T', 'h', 'd'};
    WriteDWord(out, 6);
    WriteWord(out, 1);
    WriteWord(out, 2);
    WriteWord(out, static_cast<std::uint16_t>(midi->PPQN & 0xFFFF));
    WriteChunk(out, BuildConductorTrack(*midi));
    WriteChunk(out, BuildNoteTrack(*track));
    return out;
}

void WritePartPlaybackMidi(const TMidiFile* midi, const TMidiTrack* track, const std::string& fileName) {
    const std::vector<std::uint8_t> bytes = BuildPartPlaybackMidi(midi, track);
    WriteFileAtomically(fileName, bytes);
}

}  // namespace korvalin
