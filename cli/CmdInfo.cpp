// korvalin-cli info: what the window shows for a file, as text or as JSON.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "CliCommand.h"
#include "MidiParser.h"

namespace korvalin::cli {
namespace {

struct TInfoArguments {
    bool Json = false;
    bool Notes = false;
    std::vector<std::string> Files;
};

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

using TJson = nlohmann::ordered_json;

// A whole number of BPM reads as before, without a fraction ("120", not "120.0");
// any other tempo as the shortest text that reads back as the same double.
TJson JsonTempo(double value) {
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        return static_cast<std::int64_t>(value);
    return value;
}

TJson JsonTrack(const TMidiTrack& track, bool withNotes) {
    TJson object = {
        {"index", track.Index},
        {"name", track.Name},
        {"exportName", track.ExportName},
        {"instrumentName", track.InstrumentName},
        {"programNumber", track.ProgramNumber},
        {"noteCount", track.Notes().size()},
        {"minPitch", track.MinPitch()},
        {"maxPitch", track.MaxPitch()},
    };
    if (withNotes) {
        TJson notes = TJson::array();
        for (const auto& note : track.Notes())
            notes.push_back({note.StartTick, note.EndTick, note.Pitch, note.Velocity, note.Channel});
        object["notes"] = std::move(notes);
    }
    return object;
}

TJson JsonInfo(const TMidiFile& midi, bool withNotes) {
    TJson object = {
        {"format", midi.MidiFormat},
        {"ppqn", midi.PPQN},
        {"tempoBpm", JsonTempo(midi.TempoBPM)},
        {"tempoMicroseconds", midi.TempoMicroseconds},
        {"hasTempo", midi.HasTempo},
        {"timeNumerator", midi.TimeNumerator},
        {"timeDenominator", midi.TimeDenominator},
        {"keyFifths", midi.KeyFifths},
        {"keyMinor", midi.KeyMinor},
        {"hasKeySignature", midi.HasKeySignature},
        {"keyWasEstimated", midi.KeyWasEstimated},
        {"keyName", midi.HasKeySignature || midi.KeyWasEstimated
                        ? TJson(KeyNameFromFifths(midi.KeyFifths, midi.KeyMinor))
                        : TJson(nullptr)},
        {"title", midi.Title},
    };
    TJson tracks = TJson::array();
    for (const auto& track : midi.Tracks()) tracks.push_back(JsonTrack(*track, withNotes));
    object["tracks"] = std::move(tracks);
    return object;
}

// One line; a byte that is not valid UTF-8 becomes U+FFFD so the line always parses.
std::string JsonLine(const TJson& value) {
    return value.dump(-1, ' ', false, TJson::error_handler_t::replace) + '\n';
}

int RunInfo(const CLI::App& parser, const TInfoArguments& args) {
    if (const auto unknown = FirstUnknownOption(parser)) throw EUsageError("unknown option \"" + *unknown + "\"");
    if (args.Files.empty()) throw EUsageError("FILE is missing");
    if (args.Files.size() > 1) throw EUsageError("only one FILE is allowed");
    if (args.Notes && !args.Json) throw EUsageError("--notes needs --json");
    TMidiFile midi;
    midi.LoadFromFile(args.Files.front());
    if (args.Json)
        std::cout << JsonLine(JsonInfo(midi, args.Notes));
    else
        PrintText(midi);
    std::cout.flush();
    if (!std::cout) throw std::runtime_error("Cannot write to standard output");
    return 0;
}

TCommandRunner DefineInfo(CLI::App& parser) {
    auto args = std::make_shared<TInfoArguments>();
    parser.add_option("FILE", args->Files, "the MIDI file")->type_name("");
    parser.add_flag("--json", args->Json, "print the file's values and tracks as one JSON object");
    parser.add_flag("--notes", args->Notes, "with --json: every note of every track, as [start, end, pitch, "
                                            "velocity, channel]");
    return [&parser, args] { return RunInfo(parser, *args); };
}

const CommandRegistrar kInfoCommand({"info", "info [--json [--notes]] FILE",
                                     "Shows what the window shows for a MIDI file: tempo, key, metre and the "
                                     "tracks with their notes, range and clef.",
                                     DefineInfo});

}  // namespace
}  // namespace korvalin::cli
