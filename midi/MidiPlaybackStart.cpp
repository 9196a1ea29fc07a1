// Cuts a MIDI file so that it plays from a tick: what was set before it
// (tempo, programs, controllers) takes effect at once, notes held across it
// sound from it, and nothing that ended before it is played.

#include "MidiPlaybackStart.h"

#include <array>
#include <cstring>
#include <utility>

#include "FileIO.h"
#include "MidiErrors.h"
#include "MidiEvents.h"
#include "MidiPlaybackPreparer.h"

namespace korvalin {

namespace {

// Data bytes after a channel status byte.
std::size_t ChannelDataLength(std::uint8_t status) {
    const std::uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

// One event of a track as it will be written: its new tick and its bytes with
// the status byte always present.
struct TTimedEvent {
    std::int64_t Tick;
    std::vector<std::uint8_t> Bytes;
};

// Moves one track. Notes are followed per channel and key, counting how many
// are sounding, so that a note-off whose note-on was dropped is dropped too.
std::vector<std::uint8_t> MoveTrack(std::span<const std::uint8_t> data, std::int64_t startTick) {
    std::vector<TTimedEvent> events;
    // Note-ons before the start, waiting to learn whether they last past it.
    std::array<std::vector<std::size_t>, 16 * 128> before{};
    std::array<int, 16 * 128> sounding{};
    std::int64_t tick = 0;
    std::uint8_t running = 0;
    std::size_t pos = 0;
    const auto at = [&data](std::size_t index) {
        if (index >= data.size()) throw EReadError("Invalid MIDI event.");
        return data[index];
    };
    while (pos < data.size()) {
        const TDeltaTime delta = ReadDeltaTime(data, pos, data.size());
        pos += delta.Length;
        tick += delta.Value;
        std::uint8_t status = at(pos);
        if (status < 0x80) {
            if (running == 0) throw EReadError("Invalid MIDI running status.");
            status = running;
        } else {
            ++pos;
        }
        std::vector<std::uint8_t> bytes{status};
        std::size_t length = 0;
        if (status >= 0xF0) {
            running = 0;
            if (status == 0xFF) {
                bytes.push_back(at(pos));
                ++pos;
            }
            if (status == 0xFF || status == 0xF0 || status == 0xF7) {
                const TDeltaTime size = ReadDeltaTime(data, pos, data.size());
                bytes.insert(bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(pos),
                             data.begin() + static_cast<std::ptrdiff_t>(pos + size.Length));
                pos += size.Length;
                length = size.Value;
            } else {
                throw EReadError("Invalid MIDI event.");
            }
        } else {
            running = status;
            length = ChannelDataLength(status);
        }
        if (length > data.size() - pos) throw EReadError("Invalid MIDI event.");
        bytes.insert(bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(pos),
                     data.begin() + static_cast<std::ptrdiff_t>(pos + length));
        pos += length;

        const std::uint8_t kind = status & 0xF0;
        const bool isNoteOn = kind == 0x90 && bytes[2] > 0;
        const bool isNoteOff = kind == 0x80 || (kind == 0x90 && bytes[2] == 0);
        if (isNoteOn || isNoteOff) {
            const std::size_t key = static_cast<std::size_t>(status & 0x0F) * 128 + (bytes[1] & 0x7Fu);
            // A note that ends where the play starts does not sound there.
            if (tick < startTick || (isNoteOff && tick == startTick && !before[key].empty())) {
                // Before the start a note only matters if it is still sounding there.
                if (isNoteOn) {
                    before[key].push_back(events.size());
                    events.push_back({-1, std::move(bytes)});
                } else if (!before[key].empty()) {
                    events[before[key].front()].Tick = -2;  // ended: dropped
                    before[key].erase(before[key].begin());
                }
                continue;
            }
            if (!before[key].empty()) {
                // Notes held across the start sound from it.
                for (const std::size_t held : before[key]) events[held].Tick = 0;
                sounding[key] += static_cast<int>(before[key].size());
                before[key].clear();
            }
            if (isNoteOn) {
                ++sounding[key];
            } else if (sounding[key] == 0) {
                continue;
            } else {
                --sounding[key];
            }
            events.push_back({tick - startTick, std::move(bytes)});
            continue;
        }
        if (status == 0xFF && bytes[1] == 0x2F) {
            events.push_back({std::max<std::int64_t>(0, tick - startTick), std::move(bytes)});
            break;
        }
        events.push_back({std::max<std::int64_t>(0, tick - startTick), std::move(bytes)});
    }
    // A note-on still waiting was never ended before the start: it sounds on
    // at the start, as it would have.
    for (std::size_t key = 0; key < before.size(); ++key)
        for (const std::size_t held : before[key]) events[held].Tick = 0;

    std::vector<std::uint8_t> out;
    out.reserve(data.size());
    std::int64_t last = 0;
    for (const TTimedEvent& event : events) {
        if (event.Tick < 0) continue;
        WriteVarLen(out, static_cast<std::uint32_t>(event.Tick - last));
        last = event.Tick;
        out.insert(out.end(), event.Bytes.begin(), event.Bytes.end());
    }
    return out;
}

}  // namespace

std::vector<std::uint8_t> PlaybackFromTick(std::span<const std::uint8_t> source, std::int64_t startTick) {
    if (source.size() < 14 || std::memcmp(source.data(), "MThd", 4) != 0)
        throw EReadError("This is not a Standard MIDI File.");
    const std::uint32_t headerLength = ReadBigEndian(source, 4, 4);
    if (headerLength < 6 || headerLength > source.size() - 8) throw EReadError("Invalid MIDI header.");
    if (startTick <= 0) return {source.begin(), source.end()};
    const std::size_t headerEnd = 8 + static_cast<std::size_t>(headerLength);

    std::vector<std::uint8_t> out(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(headerEnd));
    std::size_t pos = headerEnd;
    while (source.size() - pos >= 8) {
        const std::uint32_t length = ReadBigEndian(source, pos + 4, 4);
        const std::size_t dataStart = pos + 8;
        if (length > source.size() - dataStart) throw EReadError("Invalid MIDI chunk.");
        const std::size_t dataEnd = dataStart + length;
        out.insert(out.end(), source.begin() + static_cast<std::ptrdiff_t>(pos),
                   source.begin() + static_cast<std::ptrdiff_t>(pos + 4));
        if (std::memcmp(source.data() + pos, "MTrk", 4) == 0) {
            const std::vector<std::uint8_t> moved = MoveTrack(source.subspan(dataStart, length), startTick);
            WriteBigEndian(out, static_cast<std::uint32_t>(moved.size()), 4);
            out.insert(out.end(), moved.begin(), moved.end());
        } else {
            out.insert(out.end(), source.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                       source.begin() + static_cast<std::ptrdiff_t>(dataEnd));
        }
        pos = dataEnd;
    }
    return out;
}

void PreparePlaybackMidiFrom(const std::string& sourceFile, const std::string& destFile, std::int64_t startTick) {
    const std::vector<std::uint8_t> source = ReadWholeFile(sourceFile);
    const std::vector<std::uint8_t> moved = PlaybackFromTick(source, startTick);
    WriteFileAtomically(destFile, PreparePlaybackBytes(moved));
}

}  // namespace korvalin
