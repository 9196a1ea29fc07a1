// The rewriter: a MIDI file copied event by event with its notes and key
// signatures moved to a new key and its tempo events set to a new tempo.

#include "MidiTransposer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "FileIO.h"
#include "MidiEvents.h"

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
    return ReadBigEndian(data, offset, 2);
}

std::uint32_t ReadDWord(std::span<const std::uint8_t> data, std::size_t offset) {
    if (data.size() < 4 || offset > data.size() - 4) throw EReadError("Повреждён MIDI-файл.");
    return ReadBigEndian(data, offset, 4);
}

// The rewriter's words for what the event reader found wrong.
[[noreturn]] void FailTrack(TMidiFault fault) {
    switch (fault) {
        case TMidiFault::mfVarLenTruncated: throw EReadError("Повреждено MIDI-событие.");
        case TMidiFault::mfVarLenTooLong: throw EReadError("Некорректная MIDI-длительность.");
        case TMidiFault::mfRunningStatus: throw EReadError("Некорректный running status в MIDI.");
        case TMidiFault::mfMetaType: throw EReadError("Повреждено метасобытие MIDI.");
        case TMidiFault::mfMetaLength: throw EReadError("Повреждена длина метасобытия MIDI.");
        case TMidiFault::mfSysExLength: throw EReadError("Повреждено SysEx-событие MIDI.");
        case TMidiFault::mfChannelData:
        case TMidiFault::mfNone: break;
    }
    throw EReadError("Оборвано MIDI-событие.");
}

// An event of delta time 0 in its own bytes, to be inserted into a track.
std::vector<std::uint8_t> MetaEventAtZero(std::uint8_t type, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> event;
    WriteMetaEvent(event, 0, type, data);
    return event;
}

}  // namespace

std::uint32_t TempoToMicroseconds(std::int32_t tempo) {
    if (tempo < kMinTempo || tempo > kMaxTempo) throw ERangeError("Темп должен быть от 20 до 400 BPM.");
    const auto bpm = static_cast<std::uint32_t>(tempo);
    return (60'000'000u + bpm / 2) / bpm;
}

std::size_t RewriteTrack(std::span<std::uint8_t> data, std::int32_t semitones, std::int32_t newFifths, bool minor,
                         std::int32_t tempo, TRewriteFlags& flags) {
    const std::array<std::uint8_t, 3> tempoData = TempoData(TempoToMicroseconds(tempo));
    const std::array<std::uint8_t, 2> keyData = KeySignatureData(newFifths, minor);

    TMidiEventReader reader(data);
    TMidiEvent event;
    while (reader.Next(event)) {
        if (event.Fault != TMidiFault::mfNone) FailTrack(event.Fault);
        const auto at = data.begin() + static_cast<std::ptrdiff_t>(event.DataPos);
        if (event.IsMeta()) {
            if (event.MetaType == kMetaKeySignature && event.DataLength >= 2) {
                std::copy(keyData.begin(), keyData.end(), at);
                flags.KeyWritten = true;
            } else if (event.MetaType == kMetaTempo && event.DataLength == 3) {
                std::copy(tempoData.begin(), tempoData.end(), at);
                flags.TempoWritten = true;
            } else if (event.MetaType == kMetaEndOfTrack) {
                // Whatever follows the end of the track is copied, never read.
                return event.Start;
            }
        } else if (!event.IsSysEx()) {
            // Stray system bytes 0xF1..0xFE come here too; only notes move.
            const std::uint8_t kind = event.Kind();
            if ((kind == kStatusNoteOff || kind == kStatusNoteOn) && event.Channel() != kDrumChannel) {
                const std::int64_t note = static_cast<std::int64_t>(*at) + semitones;
                if (note < 0 || note > 127)
                    throw ERangeError("После транспонирования одна из нот выходит за диапазон MIDI 0..127.");
                *at = static_cast<std::uint8_t>(note);
            }
        }
    }
    // A delta time with no event after it: anything added to this track has
    // to go before it, or the dangling delta would swallow its first byte.
    return event.Start;
}

void InsertKeySignature(std::vector<std::uint8_t>& data, std::size_t pos, std::int32_t newFifths, bool minor) {
    const std::vector<std::uint8_t> event = MetaEventAtZero(kMetaKeySignature, KeySignatureData(newFifths, minor));
    const auto at = data.begin() + static_cast<std::ptrdiff_t>(std::min(pos, data.size()));
    data.insert(at, event.begin(), event.end());
}

void InsertTempo(std::vector<std::uint8_t>& data, std::size_t pos, std::int32_t tempo) {
    const std::vector<std::uint8_t> event = MetaEventAtZero(kMetaTempo, TempoData(TempoToMicroseconds(tempo)));
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
        WriteBigEndian(out, static_cast<std::uint32_t>(track.Data.size()), 4);
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
