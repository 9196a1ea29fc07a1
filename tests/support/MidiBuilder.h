#pragma once

// Builds Standard MIDI File bytes in a test, so each case shows its bytes.
//
//   MidiBuilder midi(1, 480);
//   midi.Track().Tempo(0, 500000).NoteOn(0, 0, 60, 100).NoteOff(480, 0, 60).End();
//   auto bytes = midi.Bytes();

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace korvalin::test {

using Bytes = std::vector<std::uint8_t>;

inline void PutVarLen(Bytes& out, std::uint32_t value) {
    std::uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0 && n < 5);
    while (n > 1) out.push_back(static_cast<std::uint8_t>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

inline void PutU16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

inline void PutU32(Bytes& out, std::uint32_t v) {
    PutU16(out, v >> 16);
    PutU16(out, v & 0xFFFF);
}

// The events of one track chunk. Every event takes a delta time; Raw appends
// bytes exactly as given, for running status, broken events and the like.
class TrackBuilder {
public:
    TrackBuilder& Raw(std::initializer_list<std::uint8_t> bytes) {
        FData.insert(FData.end(), bytes.begin(), bytes.end());
        return *this;
    }
    TrackBuilder& RawBytes(const Bytes& bytes) {
        FData.insert(FData.end(), bytes.begin(), bytes.end());
        return *this;
    }
    TrackBuilder& Delta(std::uint32_t delta) {
        PutVarLen(FData, delta);
        return *this;
    }
    TrackBuilder& Event(std::uint32_t delta, std::initializer_list<std::uint8_t> bytes) {
        return Delta(delta).Raw(bytes);
    }
    TrackBuilder& NoteOn(std::uint32_t delta, int channel, int pitch, int velocity) {
        return Event(delta, {static_cast<std::uint8_t>(0x90 | channel), static_cast<std::uint8_t>(pitch),
                             static_cast<std::uint8_t>(velocity)});
    }
    TrackBuilder& NoteOff(std::uint32_t delta, int channel, int pitch, int velocity = 64) {
        return Event(delta, {static_cast<std::uint8_t>(0x80 | channel), static_cast<std::uint8_t>(pitch),
                             static_cast<std::uint8_t>(velocity)});
    }
    // A note of the given length starting `delta` after the previous event.
    TrackBuilder& Note(std::uint32_t delta, std::uint32_t length, int channel, int pitch, int velocity = 80) {
        return NoteOn(delta, channel, pitch, velocity).NoteOff(length, channel, pitch);
    }
    TrackBuilder& Program(std::uint32_t delta, int channel, int program) {
        return Event(delta, {static_cast<std::uint8_t>(0xC0 | channel), static_cast<std::uint8_t>(program)});
    }
    TrackBuilder& Meta(std::uint32_t delta, std::uint8_t type, const Bytes& data) {
        Delta(delta).Raw({0xFF, type});
        PutVarLen(FData, static_cast<std::uint32_t>(data.size()));
        return RawBytes(data);
    }
    TrackBuilder& Text(std::uint32_t delta, std::uint8_t type, const std::string& text) {
        return Meta(delta, type, Bytes(text.begin(), text.end()));
    }
    TrackBuilder& Name(const std::string& text, std::uint32_t delta = 0) { return Text(delta, 0x03, text); }
    TrackBuilder& Instrument(const std::string& text, std::uint32_t delta = 0) { return Text(delta, 0x04, text); }
    TrackBuilder& Tempo(std::uint32_t delta, std::uint32_t microseconds) {
        return Meta(delta, 0x51,
                    {static_cast<std::uint8_t>(microseconds >> 16), static_cast<std::uint8_t>(microseconds >> 8),
                     static_cast<std::uint8_t>(microseconds)});
    }
    TrackBuilder& TimeSig(std::uint32_t delta, int numerator, int denominatorPower) {
        return Meta(delta, 0x58,
                    {static_cast<std::uint8_t>(numerator), static_cast<std::uint8_t>(denominatorPower), 24, 8});
    }
    TrackBuilder& KeySig(std::uint32_t delta, int fifths, bool minor) {
        return Meta(
            delta, 0x59,
            {static_cast<std::uint8_t>(static_cast<std::int8_t>(fifths)), static_cast<std::uint8_t>(minor ? 1 : 0)});
    }
    TrackBuilder& SysEx(std::uint32_t delta, const Bytes& data) {
        Delta(delta).Raw({0xF0});
        PutVarLen(FData, static_cast<std::uint32_t>(data.size()));
        return RawBytes(data);
    }
    TrackBuilder& End(std::uint32_t delta = 0) { return Event(delta, {0xFF, 0x2F, 0x00}); }

    const Bytes& Data() const { return FData; }

private:
    Bytes FData;
};

// A whole file: the MThd header and the track chunks in order.
class MidiBuilder {
public:
    explicit MidiBuilder(int format = 1, int division = 480) : FFormat(format), FDivision(division) {}

    TrackBuilder& Track() {
        FTracks.emplace_back();
        return FTracks.back();
    }
    // Overrides the counted number of tracks written in the header.
    MidiBuilder& TrackCount(int count) {
        FTrackCount = count;
        return *this;
    }
    // Appends an arbitrary chunk (any identifier) after the tracks built so far.
    MidiBuilder& Chunk(const std::string& id, const korvalin::test::Bytes& data) {
        FExtra.push_back({FTracks.size(), id, data});
        return *this;
    }

    korvalin::test::Bytes Bytes() const { return Build(); }

private:
    struct ExtraChunk {
        std::size_t after;
        std::string id;
        korvalin::test::Bytes data;
    };

    korvalin::test::Bytes Build() const {
        korvalin::test::Bytes out{'M', 'T', 'h', 'd'};
        PutU32(out, 6);
        PutU16(out, static_cast<std::uint32_t>(FFormat));
        PutU16(out, static_cast<std::uint32_t>(FTrackCount >= 0 ? FTrackCount : static_cast<int>(FTracks.size())));
        PutU16(out, static_cast<std::uint32_t>(FDivision));
        auto putChunk = [&out](const std::string& id, const korvalin::test::Bytes& data) {
            out.insert(out.end(), id.begin(), id.end());
            PutU32(out, static_cast<std::uint32_t>(data.size()));
            out.insert(out.end(), data.begin(), data.end());
        };
        for (std::size_t i = 0; i <= FTracks.size(); ++i) {
            for (const auto& extra : FExtra)
                if (extra.after == i) putChunk(extra.id, extra.data);
            if (i < FTracks.size()) putChunk("MTrk", FTracks[i].Data());
        }
        return out;
    }

    int FFormat;
    int FDivision;
    int FTrackCount = -1;
    std::vector<TrackBuilder> FTracks;
    std::vector<ExtraChunk> FExtra;
};

}  // namespace korvalin::test
