#pragma once

// The bytes of Standard MIDI Files, read and written in one place: the loader,
// the rewriter, the playback preparer and the part playback writer all walk
// the same variable-length quantities, running status and meta events. The
// reader only finds faults; each caller words them in its own messages.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace korvalin {

// Status bytes. The channel kinds carry their channel in the low four bits.
constexpr std::uint8_t kStatusNoteOff = 0x80;
constexpr std::uint8_t kStatusNoteOn = 0x90;
constexpr std::uint8_t kStatusProgramChange = 0xC0;
constexpr std::uint8_t kStatusChannelPressure = 0xD0;
constexpr std::uint8_t kStatusSysEx = 0xF0;  // also where the system statuses begin
constexpr std::uint8_t kStatusSysExEscape = 0xF7;
constexpr std::uint8_t kStatusMeta = 0xFF;

// Meta-event types.
constexpr std::uint8_t kMetaTrackName = 0x03;
constexpr std::uint8_t kMetaInstrumentName = 0x04;
constexpr std::uint8_t kMetaEndOfTrack = 0x2F;
constexpr std::uint8_t kMetaTempo = 0x51;
constexpr std::uint8_t kMetaTimeSignature = 0x58;
constexpr std::uint8_t kMetaKeySignature = 0x59;

// General MIDI's drums (its channel 10), counted from 0 as the files store it.
constexpr std::int32_t kDrumChannel = 9;

// The most a variable-length quantity of four bytes holds: 28 bits.
constexpr std::uint32_t kMaxVarLen = 0x0FFFFFFF;

enum class TMidiFault : std::uint8_t {
    mfNone,
    mfVarLenTruncated,  // the data ends inside a variable-length quantity
    mfVarLenTooLong,    // a quantity goes on to a fifth byte
    mfRunningStatus,    // a data byte where no running status applies
    mfMetaType,         // the data ends before a meta event's type
    mfMetaLength,       // a meta event longer than the data left
    mfSysExLength,      // a system-exclusive event longer than the data left
    mfChannelData,      // the data ends inside a channel event
};

// A variable-length quantity: its value and its size in bytes, or its fault.
struct TVarLen {
    std::uint32_t Value = 0;
    std::size_t Length = 0;
    TMidiFault Fault = TMidiFault::mfNone;
};

// Reads the quantity at data[pos], of at most four bytes. Running into the end
// of the data is judged before the length, so four continued bytes and nothing
// after them are truncated, not too long.
[[gnu::always_inline]] inline TVarLen ReadVarLen(std::span<const std::uint8_t> data, std::size_t pos) noexcept {
    TVarLen result;
    for (std::size_t i = 0;; ++i) {
        if (pos >= data.size() || i >= data.size() - pos) {
            result.Fault = TMidiFault::mfVarLenTruncated;
            return result;
        }
        if (i == 4) {
            result.Fault = TMidiFault::mfVarLenTooLong;
            return result;
        }
        const std::uint8_t byte = data[pos + i];
        result.Value = result.Value << 7 | (byte & 0x7Fu);
        if ((byte & 0x80) == 0) {
            result.Length = i + 1;
            return result;
        }
    }
}

// One event of a track chunk, as TMidiEventReader found it.
struct TMidiEvent {
    std::size_t Start = 0;  // where its delta time begins
    std::uint32_t Delta = 0;
    std::uint8_t Status = 0;  // a data byte first: the running status
    std::uint8_t MetaType = 0;
    // Meta and system-exclusive events: their data; channel events (and the
    // stray system bytes read like them): their one or two data bytes.
    std::size_t DataPos = 0;
    std::size_t DataLength = 0;
    TMidiFault Fault = TMidiFault::mfNone;

    std::uint8_t Kind() const { return Status & 0xF0; }
    std::int32_t Channel() const { return Status & 0x0F; }
    bool IsMeta() const { return Status == kStatusMeta; }
    bool IsSysEx() const { return Status == kStatusSysEx || Status == kStatusSysExEscape; }
};

// Walks the events of one track chunk. A channel status starts running
// status; a system-exclusive event cancels it; meta events and the other
// system bytes leave it as it was. The stray system bytes 0xF1..0xFE, which
// real files contain, are passed over with two data bytes.
class TMidiEventReader {
public:
    explicit TMidiEventReader(std::span<const std::uint8_t> data) : FData(data) {}

    // Reads the next event. False at the end of the data, and at a delta time
    // with no event after it; event.Start then says where the events end.
    // A malformed event gives true with its Fault set; reading stops there.
    [[gnu::always_inline]] bool Next(TMidiEvent& event);

private:
    bool Fail(TMidiEvent& event, TMidiFault fault) {
        FPos = FData.size();
        event.Fault = fault;
        return true;
    }

    std::span<const std::uint8_t> FData;
    std::size_t FPos = 0;
    std::uint8_t FRunningStatus = 0;  // 0: none; a status byte is never 0
};

// Inline: the loader calls it once per event of files of millions of notes.
inline bool TMidiEventReader::Next(TMidiEvent& event) {
    const std::size_t size = FData.size();
    event.Start = FPos;
    event.MetaType = 0;
    event.Fault = TMidiFault::mfNone;
    if (FPos >= size) return false;
    const TVarLen delta = ReadVarLen(FData, FPos);
    if (delta.Fault != TMidiFault::mfNone) return Fail(event, delta.Fault);
    event.Delta = delta.Value;
    FPos += delta.Length;
    if (FPos >= size) return false;

    std::uint8_t status = FData[FPos];
    if (status >= 0x80) {
        ++FPos;
        if (status < kStatusSysEx) FRunningStatus = status;
    } else if (FRunningStatus != 0) {
        status = FRunningStatus;
    } else {
        return Fail(event, TMidiFault::mfRunningStatus);
    }
    event.Status = status;

    if (status == kStatusMeta) {
        if (FPos >= size) return Fail(event, TMidiFault::mfMetaType);
        event.MetaType = FData[FPos++];
    }
    if (status == kStatusMeta || event.IsSysEx()) {
        const TVarLen length = ReadVarLen(FData, FPos);
        if (length.Fault != TMidiFault::mfNone) return Fail(event, length.Fault);
        FPos += length.Length;
        if (length.Value > size - FPos)
            return Fail(event, status == kStatusMeta ? TMidiFault::mfMetaLength : TMidiFault::mfSysExLength);
        event.DataPos = FPos;
        event.DataLength = length.Value;
        FPos += length.Value;
        if (status != kStatusMeta) FRunningStatus = 0;
        return true;
    }

    const std::uint8_t kind = status & 0xF0;
    event.DataPos = FPos;
    event.DataLength = (kind == kStatusProgramChange || kind == kStatusChannelPressure) ? 1 : 2;
    if (event.DataLength > size - FPos) return Fail(event, TMidiFault::mfChannelData);
    FPos += event.DataLength;
    return true;
}

// Appends value as a variable-length quantity of one to four bytes; only its
// low 28 bits fit, the rest is dropped.
void WriteVarLen(std::vector<std::uint8_t>& out, std::uint32_t value);

// Appends an event: its delta time, then its bytes as given (status first).
void WriteEvent(std::vector<std::uint8_t>& out, std::uint32_t delta, std::span<const std::uint8_t> bytes);

// Appends a meta event: delta time, type, the data's length and the data.
void WriteMetaEvent(std::vector<std::uint8_t>& out, std::uint32_t delta, std::uint8_t type,
                    std::span<const std::uint8_t> data);

// The data of a tempo meta event (microseconds per quarter, 24 bits) and back.
std::array<std::uint8_t, 3> TempoData(std::uint32_t microseconds);
std::uint32_t TempoFromData(std::span<const std::uint8_t, 3> data);

// The data of a key-signature meta event: fifths as a signed byte, then the mode.
std::array<std::uint8_t, 2> KeySignatureData(std::int32_t fifths, bool minor);

// Big-endian words of the file and chunk headers; the reader's caller has
// made sure the bytes are there.
std::uint32_t ReadBigEndian(std::span<const std::uint8_t> data, std::size_t pos, std::size_t bytes);
void WriteBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, std::size_t bytes);

}  // namespace korvalin
