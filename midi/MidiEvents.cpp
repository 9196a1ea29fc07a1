// The one writer of variable-length numbers and events, and the helpers for
// the data of tempo and key-signature events.

#include "MidiEvents.h"

namespace korvalin {

void WriteVarLen(std::vector<std::uint8_t>& out, std::uint32_t value) {
    value &= kMaxVarLen;
    int shift = 21;
    while (shift > 0 && (value >> shift) == 0) shift -= 7;
    for (; shift > 0; shift -= 7) out.push_back(static_cast<std::uint8_t>(0x80 | ((value >> shift) & 0x7F)));
    out.push_back(static_cast<std::uint8_t>(value & 0x7F));
}

void WriteEvent(std::vector<std::uint8_t>& out, std::uint32_t delta, std::span<const std::uint8_t> bytes) {
    WriteVarLen(out, delta);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void WriteMetaEvent(std::vector<std::uint8_t>& out, std::uint32_t delta, std::uint8_t type,
                    std::span<const std::uint8_t> data) {
    WriteVarLen(out, delta);
    out.push_back(kStatusMeta);
    out.push_back(type);
    WriteVarLen(out, static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
}

std::array<std::uint8_t, 3> TempoData(std::uint32_t microseconds) {
    return {static_cast<std::uint8_t>(microseconds >> 16), static_cast<std::uint8_t>(microseconds >> 8),
            static_cast<std::uint8_t>(microseconds)};
}

std::uint32_t TempoFromData(std::span<const std::uint8_t, 3> data) {
    return std::uint32_t{data[0]} << 16 | std::uint32_t{data[1]} << 8 | data[2];
}

std::array<std::uint8_t, 2> KeySignatureData(std::int32_t fifths, bool minor) {
    return {static_cast<std::uint8_t>(fifths & 0xFF), static_cast<std::uint8_t>(minor ? 1 : 0)};
}

std::uint32_t ReadBigEndian(std::span<const std::uint8_t> data, std::size_t pos, std::size_t bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) value = value << 8 | data[pos + i];
    return value;
}

void WriteBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, std::size_t bytes) {
    for (std::size_t i = bytes; i-- > 0;) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace korvalin
