// The copy of a file that playback opens, every track starting a little late
// so that the synthesizer is ready for the first note.

#include "MidiPlaybackPreparer.h"

#include <algorithm>
#include <cstring>

#include "FileIO.h"

namespace korvalin {

namespace {

constexpr std::uint32_t kMaxDelta = 0x0FFFFFFF;

std::int32_t ReadSigned32(std::span<const std::uint8_t> data, std::size_t offset) {
    const std::uint32_t value = static_cast<std::uint32_t>(data[offset]) << 24 |
                                static_cast<std::uint32_t>(data[offset + 1]) << 16 |
                                static_cast<std::uint32_t>(data[offset + 2]) << 8 | data[offset + 3];
    return static_cast<std::int32_t>(value);
}

void PutDWord(std::vector<std::uint8_t>& out, std::uint64_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace

std::uint32_t PlaybackLeadIn(std::uint16_t division) {
    if ((division & 0x8000) != 0) return 24;
    return std::max<std::uint32_t>(division / 4u, 1u);
}

TDeltaTime ReadDeltaTime(std::span<const std::uint8_t> data, std::size_t pos, std::size_t end) {
    end = std::min(end, data.size());
    TDeltaTime delta;
    for (std::size_t i = 0; i < 4; ++i) {
        if (pos >= end || i >= end - pos) break;
        const std::uint8_t byte = data[pos + i];
        delta.Value = delta.Value << 7 | (byte & 0x7Fu);
        if ((byte & 0x80) == 0) {
            delta.Length = i + 1;
            return delta;
        }
    }
    throw EReadError("Invalid MIDI delta time.");
}

void WriteVarLen(std::vector<std::uint8_t>& out, std::uint32_t value) {
    value &= kMaxDelta;
    int shift = 21;
    while (shift > 0 && (value >> shift) == 0) shift -= 7;
    for (; shift > 0; shift -= 7) out.push_back(static_cast<std::uint8_t>(0x80 | ((value >> shift) & 0x7F)));
    out.push_back(static_cast<std::uint8_t>(value & 0x7F));
}

std::vector<std::uint8_t> PreparePlaybackBytes(std::span<const std::uint8_t> source) {
    if (source.size() < 14 || std::memcmp(source.data(), "MThd", 4) != 0)
        throw EReadError("This is not a Standard MIDI File.");
    const std::int32_t headerLength = ReadSigned32(source, 4);
    if (headerLength < 6 || static_cast<std::uint64_t>(headerLength) > source.size() - 8)
        throw EReadError("Invalid MIDI header.");
    const auto headerEnd = 8 + static_cast<std::size_t>(headerLength);
    const std::uint32_t leadIn = PlaybackLeadIn(static_cast<std::uint16_t>(source[12] << 8 | source[13]));

    std::vector<std::uint8_t> out;
    out.reserve(source.size() + 64);
    out.insert(out.end(), source.begin(), source.begin() + static_cast<std::ptrdiff_t>(headerEnd));

    std::size_t pos = headerEnd;
    while (source.size() - pos >= 8) {
        const std::int32_t length = ReadSigned32(source, pos + 4);
        const std::size_t dataStart = pos + 8;
        if (length < 0 || static_cast<std::uint64_t>(length) > source.size() - dataStart)
            throw EReadError("Invalid MIDI chunk.");
        const std::size_t dataEnd = dataStart + static_cast<std::size_t>(length);
        out.insert(out.end(), source.begin() + static_cast<std::ptrdiff_t>(pos),
                   source.begin() + static_cast<std::ptrdiff_t>(pos + 4));

        if (std::memcmp(source.data() + pos, "MTrk", 4) == 0 && length > 0) {
            const TDeltaTime first = ReadDeltaTime(source, dataStart, dataEnd);
            const std::uint32_t delayed = first.Value > kMaxDelta - leadIn ? kMaxDelta : first.Value + leadIn;
            std::vector<std::uint8_t> newDelta;
            WriteVarLen(newDelta, delayed);
            PutDWord(out, static_cast<std::uint64_t>(length) - first.Length + newDelta.size());
            out.insert(out.end(), newDelta.begin(), newDelta.end());
            out.insert(out.end(), source.begin() + static_cast<std::ptrdiff_t>(dataStart + first.Length),
                       source.begin() + static_cast<std::ptrdiff_t>(dataEnd));
        } else {
            out.insert(out.end(), source.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                       source.begin() + static_cast<std::ptrdiff_t>(dataEnd));
        }
        pos = dataEnd;
    }
    // Fewer than 8 stray bytes at the end: kept, since nothing here judges them.
    out.insert(out.end(), source.begin() + static_cast<std::ptrdiff_t>(pos), source.end());
    return out;
}

void PreparePlaybackMidi(const std::string& sourceFile, const std::string& destFile) {
    const std::vector<std::uint8_t> source = ReadWholeFile(sourceFile);
    const std::vector<std::uint8_t> prepared = PreparePlaybackBytes(source);
    WriteFileAtomically(destFile, prepared);
}

}  // namespace korvalin
