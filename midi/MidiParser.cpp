// The loader: a Standard MIDI File read into tracks of paired notes with the
// file's tempo, meter, key and texts; anything malformed is refused with a message.

#include "MidiParser.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "FileIO.h"
#include "MidiEvents.h"

namespace korvalin {

namespace {

using Bytes = std::span<const std::uint8_t>;

std::uint32_t ReadU16BE(Bytes data, std::size_t& pos) {
    if (data.size() - pos < 2) throw EMidiError("Unexpected end of MIDI file");
    pos += 2;
    return ReadBigEndian(data, pos - 2, 2);
}

std::uint32_t ReadU32BE(Bytes data, std::size_t& pos) {
    if (data.size() - pos < 4) throw EMidiError("Unexpected end of MIDI file");
    pos += 4;
    return ReadBigEndian(data, pos - 4, 4);
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(Bytes text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::uint8_t b = text[i];
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        std::uint32_t min = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1, cp = b & 0x1Fu, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, cp = b & 0x0Fu, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, cp = b & 0x07u, min = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i <= extra) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const std::uint8_t c = text[i + k];
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3Fu);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

// Windows-1251, the fall-back for meta texts that are not UTF-8 (most such
// files come from Russian Windows sequencers). 0x98 is undefined there.
constexpr std::array<std::uint16_t, 128> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

std::string DecodeMetaText(Bytes data, std::size_t pos, std::size_t length) {
    const Bytes text = data.subspan(pos, length);
    if (IsValidUtf8(text)) return std::string(text.begin(), text.end());
    std::string out;
    out.reserve(text.size() * 2);
    for (const std::uint8_t b : text) AppendUtf8(out, b < 0x80 ? b : kCp1251High[b - 0x80u]);
    return out;
}

std::string Format(const char* pattern, std::int64_t value) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, pattern, static_cast<long long>(value));
    return buffer;
}

// One sounding note per channel and key: its start tick (-1 for none) and velocity.
struct TPendingNotes {
    std::array<std::int64_t, 16 * 128> Start;
    std::array<std::int32_t, 16 * 128> Velocity;
    TPendingNotes() {
        Start.fill(-1);
        Velocity.fill(0);
    }
};

// The loader's words for what the event reader found wrong.
[[noreturn]] void FailTrack(TMidiFault fault) {
    switch (fault) {
        case TMidiFault::mfVarLenTruncated: throw EMidiError("Unexpected end of variable-length MIDI value");
        case TMidiFault::mfVarLenTooLong: throw EMidiError("Invalid variable-length MIDI value");
        case TMidiFault::mfRunningStatus: throw EMidiError("Invalid MIDI running status");
        case TMidiFault::mfMetaType: throw EMidiError("Invalid MIDI meta event");
        case TMidiFault::mfMetaLength: throw EMidiError("Invalid MIDI meta-event length");
        case TMidiFault::mfSysExLength: throw EMidiError("Invalid SysEx length");
        case TMidiFault::mfChannelData:
        case TMidiFault::mfNone: break;
    }
    throw EMidiError("Incomplete MIDI channel event");
}

constexpr std::array<double, 12> kMajorProfile = {6.35, 2.23, 3.48, 2.33, 4.38, 4.09,
                                                  2.52, 5.19, 2.39, 3.66, 2.29, 2.88};
constexpr std::array<double, 12> kMinorProfile = {6.33, 2.68, 3.52, 5.38, 2.60, 3.53,
                                                  2.54, 4.75, 3.98, 2.69, 3.34, 3.17};
constexpr std::array<std::int32_t, 12> kMajorFifths = {0, 7, 2, -3, 4, -1, 6, 1, -4, 3, -2, 5};
constexpr std::array<std::int32_t, 12> kMinorFifths = {-3, 4, -1, 6, 1, -4, 3, -2, 5, 0, 7, 2};

}  // namespace

std::int32_t TMidiTrack::MinPitch() const {
    if (FNotes.empty()) return -1;
    return std::min_element(FNotes.begin(), FNotes.end(),
                            [](const TMidiNote& a, const TMidiNote& b) { return a.Pitch < b.Pitch; })
        ->Pitch;
}

std::int32_t TMidiTrack::MaxPitch() const {
    if (FNotes.empty()) return -1;
    return std::max_element(FNotes.begin(), FNotes.end(),
                            [](const TMidiNote& a, const TMidiNote& b) { return a.Pitch < b.Pitch; })
        ->Pitch;
}

void TMidiFile::Reset() {
    FTracks.clear();
    Title.clear();
    TempoBPM = 120.0;
    TempoMicroseconds = 500000;
    HasTempo = false;
    TimeNumerator = 4;
    TimeDenominator = 4;
    KeyFifths = 0;
    KeyMinor = false;
    HasKeySignature = false;
    KeyWasEstimated = false;
    TimeSignatureChanges.clear();
    KeyChanges.clear();
    TempoChanges.clear();
}

void TMidiFile::LoadFromFile(const std::string& fileName) {
    Reset();
    const std::vector<std::uint8_t> data = ReadWholeFile(fileName);
    LoadFromBytes(data);
}

void TMidiFile::LoadFromBytes(std::span<const std::uint8_t> data) {
    Reset();
    if (data.size() < 14) throw EMidiError("The file is too short to be a MIDI file");
    if (data[0] != 'M' || data[1] != 'T' || data[2] != 'h' || data[3] != 'd')
        throw EMidiError("MThd header was not found");

    std::size_t pos = 4;
    const auto headerLength = static_cast<std::int32_t>(ReadU32BE(data, pos));
    if (headerLength < 6) throw EMidiError("Invalid MIDI header length");
    MidiFormat = static_cast<std::int32_t>(ReadU16BE(data, pos));
    const std::uint32_t trackCount = ReadU16BE(data, pos);
    const std::uint32_t division = ReadU16BE(data, pos);
    PPQN = static_cast<std::int32_t>(division);
    if ((division & 0x8000u) != 0) throw EMidiError("SMPTE time division is not supported in this version");

    // A header longer than the file leaves no room for any chunk; the chunk
    // check below then reports it, as for any other missing chunk.
    const std::uint64_t firstChunk = 8 + static_cast<std::uint64_t>(headerLength);
    pos = firstChunk > data.size() ? data.size() : static_cast<std::size_t>(firstChunk);

    for (std::uint32_t n = 1; n <= trackCount; ++n) {
        if (data.size() - pos < 8) throw EMidiError("MIDI track header is missing");
        const bool isTrack = data[pos] == 'M' && data[pos + 1] == 'T' && data[pos + 2] == 'r' && data[pos + 3] == 'k';
        pos += 4;
        const std::uint32_t length = ReadU32BE(data, pos);
        if (!isTrack || length > data.size() - pos) throw EMidiError(Format("Invalid MIDI track %lld", n));
        const Bytes chunk = data.subspan(pos, length);
        pos += length;

        auto track = std::make_unique<TMidiTrack>();
        track->Index = static_cast<std::int32_t>(n);
        ParseTrack(chunk, *track);
        if (track->Name.empty()) track->Name = Format("Track %lld", track->Index);
        track->ExportName = track->Name;
        if (n == 1 && Title.empty()) Title = track->Name;
        FTracks.push_back(std::move(track));
    }

    // Tracks run side by side: their changes are put into one time order.
    const auto byTick = [](const auto& a, const auto& b) { return a.Tick < b.Tick; };
    std::stable_sort(TimeSignatureChanges.begin(), TimeSignatureChanges.end(), byTick);
    std::stable_sort(KeyChanges.begin(), KeyChanges.end(), byTick);
    std::stable_sort(TempoChanges.begin(), TempoChanges.end(), byTick);

    if (!HasKeySignature) EstimateKey();
}

void TMidiFile::ParseTrack(std::span<const std::uint8_t> data, TMidiTrack& track) {
    auto pending = std::make_unique<TPendingNotes>();
    std::int64_t tick = 0;

    auto complete = [&](std::size_t slot, std::int32_t pitch, std::int32_t channel) {
        track.AddNote({pending->Start[slot], tick, pitch, pending->Velocity[slot], channel});
        pending->Start[slot] = -1;
        pending->Velocity[slot] = 0;
    };

    TMidiEventReader reader(data);
    TMidiEvent event;
    while (reader.Next(event)) {
        if (event.Fault != TMidiFault::mfNone) FailTrack(event.Fault);
        // At most 0x0FFFFFFF per event and fewer events than bytes: no overflow.
        tick += event.Delta;

        if (event.IsMeta()) {
            const std::size_t pos = event.DataPos;
            const std::size_t length = event.DataLength;
            const std::uint8_t* meta = data.data() + pos;
            switch (event.MetaType) {
                case kMetaTrackName: track.Name = DecodeMetaText(data, pos, length); break;
                case kMetaInstrumentName: track.InstrumentName = DecodeMetaText(data, pos, length); break;
                case kMetaTempo:
                    if (length == 3) {
                        const std::uint32_t value = TempoFromData(data.subspan(pos).first<3>());
                        if (value != 0) TempoChanges.push_back({tick, value});
                        if (value != 0 && !HasTempo) {
                            TempoMicroseconds = value;
                            TempoBPM = 60000000.0 / static_cast<double>(value);
                            HasTempo = true;
                        }
                    }
                    break;
                case kMetaTimeSignature:
                    if (length >= 2) {
                        TimeNumerator = meta[0];
                        // 2^31 does not fit; a huge power stays a power of two
                        // so the exporter refuses it as an invalid signature.
                        TimeDenominator = std::int32_t{1} << std::min<int>(meta[1], 30);
                        TimeSignatureChanges.push_back({tick, TimeNumerator, TimeDenominator});
                    }
                    break;
                case kMetaKeySignature:
                    if (length >= 2) KeyChanges.push_back({tick, static_cast<std::int8_t>(meta[0]), meta[1] != 0});
                    if (length >= 2 && !HasKeySignature) {
                        KeyFifths = static_cast<std::int8_t>(meta[0]);
                        KeyMinor = meta[1] != 0;
                        HasKeySignature = true;
                    }
                    break;
                default: break;
            }
            if (event.MetaType == kMetaEndOfTrack) break;
            continue;
        }
        if (event.IsSysEx()) continue;

        const int kind = event.Kind();
        const int channel = event.Channel();
        const std::uint8_t data1 = data[event.DataPos];
        const std::uint8_t data2 = event.DataLength > 1 ? data[event.DataPos + 1] : 0;

        if (kind == kStatusNoteOn || kind == kStatusNoteOff) {
            // A key number of 128 or more has no slot; such an event changes nothing.
            if (data1 >= 128) continue;
            const std::size_t slot = static_cast<std::size_t>(channel) * 128 + data1;
            if (kind == kStatusNoteOn && data2 > 0) {
                if (pending->Start[slot] >= 0) complete(slot, data1, channel);
                pending->Start[slot] = tick;
                pending->Velocity[slot] = data2;
            } else if (pending->Start[slot] >= 0) {
                complete(slot, data1, channel);
            }
        } else if (kind == kStatusProgramChange) {
            if (track.ProgramNumber < 0) track.ProgramNumber = data1;
        }
    }
}

void TMidiFile::EstimateKey() {
    std::array<double, 12> weight{};
    std::int64_t counted = 0;
    for (const auto& track : FTracks) {
        for (const TMidiNote& note : track->Notes()) {
            if (note.Channel == kDrumChannel) continue;
            const std::int64_t duration = std::max<std::int64_t>(note.EndTick - note.StartTick, 1);
            const auto pitchClass = static_cast<std::size_t>(((note.Pitch % 12) + 12) % 12);
            weight[pitchClass] += std::sqrt(static_cast<double>(duration));
            ++counted;
        }
    }
    if (counted == 0) return;

    double best = -1.0;
    bool bestMinor = false;
    std::size_t bestTonic = 0;
    for (const bool minor : {false, true}) {
        const auto& profile = minor ? kMinorProfile : kMajorProfile;
        for (std::size_t tonic = 0; tonic < 12; ++tonic) {
            double score = 0.0;
            for (std::size_t p = 0; p < 12; ++p) score += weight[p] * profile[(p + 12 - tonic) % 12];
            if (score > best) {
                best = score;
                bestMinor = minor;
                bestTonic = tonic;
            }
        }
    }
    KeyMinor = bestMinor;
    KeyFifths = bestMinor ? kMinorFifths[bestTonic] : kMajorFifths[bestTonic];
    KeyWasEstimated = true;
}

std::string TMidiFile::KeyName() const {
    if (HasKeySignature || KeyWasEstimated) return KeyNameFromFifths(KeyFifths, KeyMinor);
    return "не определена";
}

std::string PitchName(std::int32_t pitch) {
    static constexpr const char* kNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    if (pitch < 0 || pitch > 127) return "-";
    return std::string(kNames[pitch % 12]) + std::to_string(pitch / 12 - 1);
}

std::string KeyNameFromFifths(std::int32_t fifths, bool minor) {
    static constexpr const char* kMajor[15] = {"Cb major", "Gb major", "Db major", "Ab major", "Eb major",
                                               "Bb major", "F major",  "C major",  "G major",  "D major",
                                               "A major",  "E major",  "B major",  "F# major", "C# major"};
    static constexpr const char* kMinor[15] = {"Ab minor", "Eb minor", "Bb minor", "F minor",  "C minor",
                                               "G minor",  "D minor",  "A minor",  "E minor",  "B minor",
                                               "F# minor", "C# minor", "G# minor", "D# minor", "A# minor"};
    const auto row = static_cast<std::size_t>(std::clamp(fifths, -7, 7) + 7);
    return minor ? kMinor[row] : kMajor[row];
}

std::int32_t TonicPitchClass(std::int32_t fifths, bool minor) {
    // Wide arithmetic: the fifths of a key signature are read unclamped.
    std::int64_t remainder = (7 * std::int64_t{fifths} + (minor ? 9 : 0)) % 12;
    if (remainder < 0) remainder += 12;
    return static_cast<std::int32_t>(remainder);
}

std::int32_t TranspositionSemitones(std::int32_t oldFifths, std::int32_t newFifths, bool minor) {
    std::int32_t shift = TonicPitchClass(newFifths, minor) - TonicPitchClass(oldFifths, minor);
    while (shift > 6) shift -= 12;
    while (shift < -6) shift += 12;
    return shift;
}

std::int32_t WholeTempo(double bpm) {
    if (!(bpm == bpm)) return 0;
    const double rounded = std::nearbyint(std::clamp(bpm, -2147483648.0, 2147483647.0));
    return static_cast<std::int32_t>(rounded);
}

}  // namespace korvalin
