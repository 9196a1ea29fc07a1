// The rewriter: a MIDI file copied event by event with its notes and key
// signatures moved to a new key and its tempo events set to a new tempo.

#include "MidiTransposer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "FileIO.h"

namespace korvalin {

namespace {

constexpr std::int32_t kMinTempo = 20;
constexpr std::int32_t kMaxTempo = 400;
constexpr std::uint64_t kMaxChunkLength = 0xFFFFFFFFu;

bool HasTag(std::span<const std::uint8_t> data, std::size_t pos, const char (&tag)[5]) {
    return data.size() >= 4 && pos <= data.size() - 4 && std::memcmp(data.data() + pos, tag, 4) == 0;
}

std::uint32_t ReadWord(std::span<const std::uint8_t> data, std::size_t offset) {
    if (data.size() < 2 || offset > data.size() - 2) throw EReadError("Повреждён заголовок MIDI.");
    return static_cast<std::uint32_t>(data[offset]) << 8 | data[offset + 1];
}

std::uint32_t ReadDWord(std::span<const std::uint8_t> data, std::size_t offset) {
    if (data.size() < 4 || offset > data.size() - 4) throw EReadError("Повреждён MIDI-файл.");
    return static_cast<std::uint32_t>(data[offset]) << 24 | static_cast<std::uint32_t>(data[offset + 1]) << 16 |
           static_cast<std::uint32_t>(data[offset + 2]) << 8 | data[offset + 3];
}

// A delta time or a length: at most four bytes of seven bits each.
std::uint32_t ReadVarLen(std::span<const std::uint8_t> data, std::size_t& pos) {
    std::uint32_t value = 0;
    for (int count = 1;; ++count) {
        if (pos >= data.size()) throw EReadError("Повреждено MIDI-событие.");
        const std::uint8_t byte = data[pos++];
        if (count > 4) throw EReadError("Некорректная MIDI-длительность.");
        value = value << 7 | (byte & 0x7Fu);
        if ((byte & 0x80) == 0) return value;
    }
}

void PutDWord(std::vector<std::uint8_t>& out, std::uint64_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace

std::uint32_t TempoToMicroseconds(std::int32_t tempo) {
    if (tempo < kMinTempo || tempo > kMaxTempo) throw ERangeError("Темп должен быть от 20 до 400 BPM.");
    const auto bpm = static_cast<std::uint32_t>(tempo);
    return (60'000'000u + bpm / 2) / bpm;
}

std::size_t RewriteTrack(std::span<std::uint8_t> data, std::int32_t semitones, std::int32_t newFifths, bool minor,
                         std::int32_t tempo, TRewriteFlags& flags) {
    const std::uint32_t microseconds = TempoToMicroseconds(tempo);
    const std::size_t size = data.size();
    std::size_t pos = 0;
    std::uint8_t runningStatus = 0;  // 0: none; a status byte is never 0

    while (pos < size) {
        const std::size_t eventStart = pos;
        ReadVarLen(data, pos);
        // A delta time with no event after it: anything added to this track
        // has to go before it, or the dangling delta would swallow its first byte.
        if (pos >= size) return eventStart;

        std::uint8_t status = data[pos];
        if (status >= 0x80) {
            ++pos;
            if (status < 0xF0) runningStatus = status;
        } else if (runningStatus != 0) {
            status = runningStatus;
        } else {
            throw EReadError("Некорректный running status в MIDI.");
        }

        if (status == 0xFF) {
            if (pos >= size) throw EReadError("Повреждено метасобытие MIDI.");
            const std::uint8_t type = data[pos++];
            const std::uint32_t length = ReadVarLen(data, pos);
            if (length > size - pos) throw EReadError("Повреждена длина метасобытия MIDI.");
            if (type == 0x59 && length >= 2) {
                data[pos] = static_cast<std::uint8_t>(newFifths & 0xFF);
                data[pos + 1] = minor ? 1 : 0;
                flags.KeyWritten = true;
            } else if (type == 0x51 && length == 3) {
                data[pos] = static_cast<std::uint8_t>(microseconds >> 16);
                data[pos + 1] = static_cast<std::uint8_t>(microseconds >> 8);
                data[pos + 2] = static_cast<std::uint8_t>(microseconds);
                flags.TempoWritten = true;
            } else if (type == 0x2F) {
                // Whatever follows the end of the track is copied, never read.
                return eventStart;
            }
            pos += length;
        } else if (status == 0xF0 || status == 0xF7) {
            const std::uint32_t length = ReadVarLen(data, pos);
            if (length > size - pos) throw EReadError("Повреждено SysEx-событие MIDI.");
            pos += length;
            runningStatus = 0;
        } else {
            // Channel events, and the stray system bytes 0xF1..0xFE, which real
            // files contain and which we pass over with two data bytes.
            const std::uint8_t kind = status & 0xF0;
            const std::size_t dataBytes = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            if (dataBytes > size - pos) throw EReadError("Оборвано MIDI-событие.");
            if ((kind == 0x80 || kind == 0x90) && (status & 0x0F) != 9) {
                const std::int64_t note = static_cast<std::int64_t>(data[pos]) + semitones;
                if (note < 0 || note > 127)
                    throw ERangeError("После транспонирования одна из нот выходит за диапазон MIDI 0..127.");
                data[pos] = static_cast<std::uint8_t>(note);
            }
            pos += dataBytes;
        }
    }
    return size;
}

void InsertKeySignature(std::vector<std::uint8_t>& data, std::size_t pos, std::int32_t newFifths, bool minor) {
    const std::array<std::uint8_t, 6> event{0x00, 0xFF, 0x59, 0x02, static_cast<std::uint8_t>(newFifths & 0xFF),
                                            static_cast<std::uint8_t>(minor ? 1 : 0)};
    const auto at = data.begin() + static_cast<std::ptrdiff_t>(std::min(pos, data.size()));
    data.insert(at, event.begin(), event.end());
}

void InsertTempo(std::vector<std::uint8_t>& data, std::size_t pos, std::int32_t tempo) {
    const std::uint32_t microseconds = TempoToMicroseconds(tempo);
    const std::array<std::uint8_t, 7> event{0x00, 0xFF, 0x51, 0x03, static_cast<std::uint8_t>(microseconds >> 16),
                                            static_cast<std::uint8_t>(microseconds >> 8),
                                            static_cast<std::uint8_t>(microseconds)};
    const auto at = data.begin() + static_cast<std::ptrdiff_t>(std::min(pos, data.size()));
    data.insert(at, event.begin(), event.end());
}

std::vector<std::uint8_t> TransposeMidiBytes(std::span<const std::uint8_t> source, std::int32_t semitones,
                                             std::int32_t newFifths, bool minor, std::int32_t tempo) {
    TempoToMicroseconds(tempo);
    if (source.size() < 14 || !HasTag(source, 0, "MThd")) throw EReadError("Это не Standard MIDI File.");

    const std::uint32_t headerLength = ReadDWord(source, 4);
    const std::uint32_t trackCount = ReadWord(source, 10);
    const std::uint64_t headerEnd = 8 + static_cast<std::uint64_t>(headerLength);
    // With tracks to find, a header reaching past the end already fails below;
    // without any, the header alone would be copied, and there is not enough of it.
    if (headerEnd > source.size()) {
        if (trackCount == 0) throw EReadError("Повреждён заголовок MIDI.");
        throw EReadError("Не найдена MIDI-дорожка 1.");
    }

    struct TRewrittenTrack {
        std::vector<std::uint8_t> Data;
        std::size_t InsertPos = 0;
    };
    std::vector<TRewrittenTrack> tracks;
    tracks.reserve(std::min<std::size_t>(trackCount, source.size() / 8));
    TRewriteFlags flags;

    auto pos = static_cast<std::size_t>(headerEnd);
    for (std::uint32_t n = 1; n <= trackCount; ++n) {
        if (source.size() - pos < 8 || !HasTag(source, pos, "MTrk"))
            throw EReadError("Не найдена MIDI-дорожка " + std::to_string(n) + ".");
        const std::uint32_t length = ReadDWord(source, pos + 4);
        const std::size_t dataStart = pos + 8;
        if (length > source.size() - dataStart) throw EReadError("Оборвана MIDI-дорожка.");

        TRewrittenTrack track;
        track.Data.assign(source.begin() + static_cast<std::ptrdiff_t>(dataStart),
                          source.begin() + static_cast<std::ptrdiff_t>(dataStart + length));
        track.InsertPos = RewriteTrack(track.Data, semitones, newFifths, minor, tempo, flags);
        tracks.push_back(std::move(track));
        pos = dataStart + length;
    }

    if (!tracks.empty()) {
        auto& first = tracks.front();
        if (!flags.KeyWritten) InsertKeySignature(first.Data, first.InsertPos, newFifths, minor);
        // Inserted at the same place, so it lands before the key signature.
        if (!flags.TempoWritten) InsertTempo(first.Data, first.InsertPos, tempo);
        if (first.Data.size() > kMaxChunkLength) throw EReadError("Повреждён MIDI-файл.");
    }

    std::size_t total = static_cast<std::size_t>(headerEnd);
    for (const auto& track : tracks) total += 8 + track.Data.size();
    std::vector<std::uint8_t> out;
    out.reserve(total);
    out.insert(out.end(), source.begin(), source.begin() + static_cast<std::ptrdiff_t>(headerEnd));
    for (const auto& track : tracks) {
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        PutDWord(out, track.Data.size());
        out.insert(out.end(), track.Data.begin(), track.Data.end());
    }
    return out;
}

void TransposeMidiFile(const std::string& sourceFile, const std::string& destFile, std::int32_t semitones,
                       std::int32_t newFifths, bool minor, std::int32_t tempo) {
    const std::vector<std::uint8_t> source = ReadWholeFile(sourceFile);
    const std::vector<std::uint8_t> result = TransposeMidiBytes(source, semitones, newFifths, minor, tempo);
    WriteFileAtomically(destFile, result);
}

}  // namespace korvalin
