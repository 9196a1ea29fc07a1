// korvalin-cli info: what the window shows for a file, as text or as JSON.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "CliCommand.h"
#include "MidiParser.h"

namespace korvalin::cli {
namespace {

struct TInfoOptions {
    bool Json = false;
    bool Notes = false;
    std::string FileName;
};

TInfoOptions ParseInfoArguments(const std::vector<std::string>& args) {
    TInfoOptions options;
    bool haveFile = false;
    bool optionsEnded = false;
    for (const auto& arg : args) {
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "--json") {
            options.Json = true;
        } else if (!optionsEnded && arg == "--notes") {
            options.Notes = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            throw EUsageError("unknown option \"" + arg + "\"");
        } else if (haveFile) {
            throw EUsageError("only one FILE is allowed");
        } else {
            options.FileName = arg;
            haveFile = true;
        }
    }
    if (!haveFile) throw EUsageError("FILE is missing");
    if (options.Notes && !options.Json) throw EUsageError("--notes needs --json");
    return options;
}

// The window's Clef column for a track; a freshly loaded file is all automatic.
std::string ClefDisplayName(TClefMode mode) {
    switch (mode) {
        case TClefMode::cmTreble:
            return "Treble";
        case TClefMode::cmBass:
            return "Bass";
        default:
            return "Automatic";
    }
}

// Part names come from the file; a control character in one must not reach the
// terminal as a command, nor break the tab-separated columns.
std::string PrintableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out += (byte < 0x20 || byte == 0x7F) ? '?' : c;
    }
    return out;
}

void PrintText(const TMidiFile& midi) {
    int parts = 0;
    int serviceTracks = 0;
    for (const auto& track : midi.Tracks()) (track->Notes().empty() ? serviceTracks : parts) += 1;

    if (midi.HasTempo) {
        char tempo[64];
        std::snprintf(tempo, sizeof tempo, "%.1f", midi.TempoBPM);
        std::cout << "Tempo: " << tempo << " BPM\n";
    } else {
        std::cout << "Tempo: not specified\n";
    }
    if (midi.HasKeySignature)
        std::cout << "Key: " << midi.KeyName() << " (from file)\n";
    else if (midi.KeyWasEstimated)
        std::cout << "Key: " << midi.KeyName() << " (estimated from notes)\n";
    else
        std::cout << "Key: not detected\n";
    std::cout << "Format " << midi.MidiFormat << " \u00B7 PPQN " << midi.PPQN << " \u00B7 time " << midi.TimeNumerator
              << '/' << midi.TimeDenominator << " \u00B7 parts: " << parts << " \u00B7 service tracks: "
              << serviceTracks << '\n';

    if (parts == 0) return;
    std::cout << "#\tPart\tNotes\tRange\tClef\n";
    for (const auto& track : midi.Tracks()) {
        if (track->Notes().empty()) continue;
        std::cout << track->Index << '\t' << PrintableText(track->ExportName) << '\t' << track->Notes().size()
                  << '\t' << PitchName(track->MinPitch()) << " \u2013 " << PitchName(track->MaxPitch()) << '\t'
                  << ClefDisplayName(track->ClefMode) << '\n';
    }
}

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = at(i);
    std::size_t length = 0;
    std::uint32_t low = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        low = 0x80;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = 0x800;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = 0x10000;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (at(i + k) & 0x3Fu);
    }
    if (code < low || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

// A JSON string: quotes, backslashes and every control character escaped; a
// byte that is not valid UTF-8 becomes U+FFFD so the document always parses.
void WriteJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += text[i++];
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
            ++i;
        } else if (const auto length = Utf8SequenceLength(text, i); length > 0) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    out += '"';
}

void WriteJsonNumber(std::string& out, std::int64_t value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// The shortest text that reads back as the same double, whatever the locale.
void WriteJsonNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void WriteJsonBool(std::string& out, bool value) { out += value ? "true" : "false"; }

class TJsonObject {
public:
    explicit TJsonObject(std::string& out) : FOut(out) { FOut += '{'; }
    ~TJsonObject() { FOut += '}'; }
    TJsonObject(const TJsonObject&) = delete;
    TJsonObject& operator=(const TJsonObject&) = delete;

    std::string& Member(std::string_view name) {
        if (!FFirst) FOut += ',';
        FFirst = false;
        WriteJsonString(FOut, name);
        FOut += ':';
        return FOut;
    }

private:
    std::string& FOut;
    bool FFirst = true;
};

void WriteJsonTrack(std::string& out, const TMidiTrack& track, bool withNotes) {
    TJsonObject object(out);
    WriteJsonNumber(object.Member("index"), std::int64_t{track.Index});
    WriteJsonString(object.Member("name"), track.Name);
    WriteJsonString(object.Member("exportName"), track.ExportName);
    WriteJsonString(object.Member("instrumentName"), track.InstrumentName);
    WriteJsonNumber(object.Member("programNumber"), std::int64_t{track.ProgramNumber});
    WriteJsonNumber(object.Member("noteCount"), static_cast<std::int64_t>(track.Notes().size()));
    WriteJsonNumber(object.Member("minPitch"), std::int64_t{track.MinPitch()});
    WriteJsonNumber(object.Member("maxPitch"), std::int64_t{track.MaxPitch()});
    if (!withNotes) return;
    auto& notes = object.Member("notes");
    notes += '[';
    bool first = true;
    for (const auto& note : track.Notes()) {
        if (!first) notes += ',';
        first = false;
        notes += '[';
        WriteJsonNumber(notes, note.StartTick);
        notes += ',';
        WriteJsonNumber(notes, note.EndTick);
        notes += ',';
        WriteJsonNumber(notes, std::int64_t{note.Pitch});
        notes += ',';
        WriteJsonNumber(notes, std::int64_t{note.Velocity});
        notes += ',';
        WriteJsonNumber(notes, std::int64_t{note.Channel});
        notes += ']';
    }
    notes += ']';
}

std::string BuildJson(const TMidiFile& midi, bool withNotes) {
    std::string out;
    {
        TJsonObject object(out);
        WriteJsonNumber(object.Member("format"), std::int64_t{midi.MidiFormat});
        WriteJsonNumber(object.Member("ppqn"), std::int64_t{midi.PPQN});
        WriteJsonNumber(object.Member("tempoBpm"), midi.TempoBPM);
        WriteJsonNumber(object.Member("tempoMicroseconds"), std::int64_t{midi.TempoMicroseconds});
        WriteJsonBool(object.Member("hasTempo"), midi.HasTempo);
        WriteJsonNumber(object.Member("timeNumerator"), std::int64_t{midi.TimeNumerator});
        WriteJsonNumber(object.Member("timeDenominator"), std::int64_t{midi.TimeDenominator});
        WriteJsonNumber(object.Member("keyFifths"), std::int64_t{midi.KeyFifths});
        WriteJsonBool(object.Member("keyMinor"), midi.KeyMinor);
        WriteJsonBool(object.Member("hasKeySignature"), midi.HasKeySignature);
        WriteJsonBool(object.Member("keyWasEstimated"), midi.KeyWasEstimated);
        auto& keyName = object.Member("keyName");
        if (midi.HasKeySignature || midi.KeyWasEstimated)
            WriteJsonString(keyName, KeyNameFromFifths(midi.KeyFifths, midi.KeyMinor));
        else
            keyName += "null";
        WriteJsonString(object.Member("title"), midi.Title);
        auto& tracks = object.Member("tracks");
        tracks += '[';
        bool first = true;
        for (const auto& track : midi.Tracks()) {
            if (!first) tracks += ',';
            first = false;
            WriteJsonTrack(tracks, *track, withNotes);
        }
        tracks += ']';
    }
    out += '\n';
    return out;
}

int RunInfo(const std::vector<std::string>& args) {
    const auto options = ParseInfoArguments(args);
    TMidiFile midi;
    midi.LoadFromFile(options.FileName);
    if (options.Json)
        std::cout << BuildJson(midi, options.Notes);
    else
        PrintText(midi);
    std::cout.flush();
    if (!std::cout) throw std::runtime_error("Cannot write to standard output");
    return 0;
}

const CommandRegistrar kInfoCommand({"info", "info [--json [--notes]] FILE", RunInfo});

}  // namespace
}  // namespace korvalin::cli
