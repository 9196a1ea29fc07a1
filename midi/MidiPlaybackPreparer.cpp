// The copy of a file that playback opens, every track starting a little late
// so that the synthesizer is ready for the first note.

#include "MidiPlaybackPreparer.h"

#include <algorithm>
#include <cstring>

#include "FileIO.h"
#include "MidiEvents.h"

namespace korvalin {

namespace {

std::int32_t ReadSigned32(std::span<const std::uint8_t> data, std::size_t offset) {
    return static_cast<std::int32_t>(ReadBigEndian(data, offset, 4));
}

}  // namespace

std::uint32_t PlaybackLeadIn(std::uint16_t division) {
    if ((division & 0x8000) != 0) return 24;
    return std::max<std::uint32_t>(division / 4u, 1u);
}

TDeltaTime ReadDeltaTime(std::span<const std::uint8_t> data, std::size_t pos, std::size_t end) {
    const TVarLen delta = ReadVarLen(data.first(std::min(end, data.size())), pos);
    if (delta.Fault != TMidiFault::mfNone) throw EReadError("Invalid MIDI delta time.");
    return {delta.Value, delta.Length};
}

std::vector<std::uint8_t> PreparePlaybackBytes(std::span<const std::uint8_t> source) {
    if (source.size() < 14 || std::memcmp(source.data(), "MThd", 4) != 0)
        throw EReadError("This is not a Standard MIDI File.");
    const std::int32_t headerLength = ReadSigned32(source, 4);
    if (headerLength < 6 || static_cast<std::uint64_t>(headerLength) > source.size() - 8)
        throw EReadError("Invalid MIDI header.");
    const auto headerEnd = 8 + static_cast<std::size_t>(headerLength);
    const std::uint32_t leadIn = PlaybackLeadIn(static_cast<std::uint16_t>(ReadBigEndian(source, 12, 2)));

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
            const std::uint32_t delayed = first.Value > kMaxVarLen - leadIn ? kMaxVarLen : first.Value + leadIn;
            std::vector<std::uint8_t> newDelta;
            WriteVarLen(newDelta, delayed);
            WriteBigEndian(
                out, static_cast<std::uint32_t>(static_cast<std::size_t>(length) - first.Length + newDelta.size()), 4);
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
