// korvalin-cli info: what the window shows for a file, as text or as JSON.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Batch.h"
#include "CliCommand.h"
#include "JsonLine.h"
#include "StopSignals.h"
#include "MidiParser.h"
#include "ReadableScore.h"

namespace korvalin::cli {
namespace {

struct TInfoArguments {
    bool Json = false;
    bool Notes = false;
    std::vector<std::string> Files;
    TBatchOptions Batch;
};

// The window's Clef column for a track; a freshly loaded file is all automatic.
std::string ClefDisplayName(TClefMode mode) {
    switch (mode) {
        case TClefMode::cmTreble: return "Treble";
        case TClefMode::cmBass: return "Bass";
        default: return "Automatic";
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
    if (midi.HasKeySignature) std::cout << "Key: " << midi.KeyName() << " (from file)\n";
    else if (midi.KeyWasEstimated) std::cout << "Key: " << midi.KeyName() << " (estimated from notes)\n";
    else std::cout << "Key: not detected\n";
    std::cout << "Format " << midi.MidiFormat << " \u00B7 PPQN " << midi.PPQN << " \u00B7 time " << midi.TimeNumerator
              << '/' << midi.TimeDenominator << " \u00B7 parts: " << parts
              << " \u00B7 service tracks: " << serviceTracks << '\n';

    if (parts == 0) return;
    std::cout << "#\tPart\tNotes\tRange\tClef\tStaves\n";
    for (const auto& track : midi.Tracks()) {
        if (track->Notes().empty()) continue;
        std::cout << track->Index << '\t' << PrintableText(track->ExportName) << '\t' << track->Notes().size() << '\t'
                  << PitchName(track->MinPitch()) << " \u2013 " << PitchName(track->MaxPitch()) << '\t'
                  << ClefDisplayName(track->ClefMode) << '\t' << ReadableStavesName(*track) << '\n';
    }
}

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
        // How readable notation writes it: "single", "grand" or "percussion".
        {"readableStaves", std::string(ReadableStavesName(track))},
    };
    if (withNotes) {
        TJson notes = TJson::array();
        for (const auto& note : track.Notes())
            notes.push_back({note.StartTick, note.EndTick, note.Pitch, note.Velocity, note.Channel});
        object["notes"] = std::move(notes);
    }
    return object;
}

// With `file`, the object starts with the file's name, as a line of many does.
TJson JsonInfo(const TMidiFile& midi, bool withNotes, const std::string* file = nullptr) {
    TJson object = TJson::object();
    if (file != nullptr) object["file"] = *file;
    object.update(TJson{
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
    });
    TJson tracks = TJson::array();
    for (const auto& track : midi.Tracks()) tracks.push_back(JsonTrack(*track, withNotes));
    object["tracks"] = std::move(tracks);
    return object;
}

// Many files: one JSON line each, in the order they were named, whichever
// thread reads which; a file that cannot be read gets a line with its error.
int RunInfoLines(const std::vector<std::string>& args, const TInfoArguments& options) {
    const std::size_t jobs = options.Batch.Jobs();
    const auto inputs = CollectInputs(args, options.Batch.Recursive);
    TConsole console("Reading", inputs.size());
    std::mutex linesLock;
    std::vector<std::optional<std::string>> lines(inputs.size());
    std::size_t nextLine = 0;
    std::size_t failed = 0;
    const TStopSignals stopSignals([&] { console.Seize("korvalin-cli info: interrupted\n"); });

    RunParallel(inputs.size(), jobs, [&](std::size_t i) {
        std::string line;
        std::string error = inputs[i].Error;
        if (error.empty()) {
            try {
                TMidiFile midi;
                midi.LoadFromFile(inputs[i].Path);
                line = JsonLine(JsonInfo(midi, options.Notes, &inputs[i].Path));
            } catch (const std::exception& e) {
                error = e.what();
            }
        }
        if (!error.empty()) {
            line = JsonLine(TJson{{"file", inputs[i].Path}, {"error", error}});
            console.Err(inputs[i].Path + ": " + error + "\n");
        }
        const std::lock_guard lock(linesLock);
        lines[i] = std::move(line);
        if (!error.empty()) ++failed;
        for (; nextLine < lines.size() && lines[nextLine]; ++nextLine) {
            console.Out(*lines[nextLine]);
            lines[nextLine].reset();
        }
        console.Done(!error.empty());
    });
    console.Finish();
    if (failed > 0)
        console.Err("korvalin-cli info: " + std::to_string(failed) + " of " + std::to_string(inputs.size()) +
                    " files failed\n");
    return failed > 0 ? 1 : 0;
}

int RunInfo(const CLI::App& parser, const TInfoArguments& args) {
    if (const auto unknown = FirstUnknownOption(parser)) throw EUsageError("unknown option \"" + *unknown + "\"");
    if (args.Files.empty()) throw EUsageError("FILE is missing");
    // A folder alone is many files only as JSON lines; as text it stays the loader's refusal.
    std::error_code ec;
    const bool many = args.Files.size() > 1 || (args.Json && std::filesystem::is_directory(args.Files.front(), ec));
    if (many && !args.Json) throw EUsageError("only one FILE is allowed");
    if (args.Notes && !args.Json) throw EUsageError("--notes needs --json");
    if (many) return RunInfoLines(args.Files, args);
    TMidiFile midi;
    midi.LoadFromFile(args.Files.front());
    if (args.Json) std::cout << JsonLine(JsonInfo(midi, args.Notes));
    else PrintText(midi);
    std::cout.flush();
    if (!std::cout) throw std::runtime_error("Cannot write to standard output");
    return 0;
}

TCommandRunner DefineInfo(CLI::App& parser) {
    auto args = std::make_shared<TInfoArguments>();
    parser.add_option("FILE", args->Files, "the MIDI file; with --json, any number of files and folders")
        ->type_name("");
    parser.add_flag("--json", args->Json, "print the file's values and tracks as one JSON object");
    parser.add_flag("--notes", args->Notes,
                    "with --json: every note of every track, as [start, end, pitch, "
                    "velocity, channel]");
    args->Batch.AddTo(parser);
    return [&parser, args] { return RunInfo(parser, *args); };
}

const CommandRegistrar kInfoCommand({"info",
                                     "info [--json [--notes]] FILE\n"
                                     "info --json [--notes] [--jobs N] [--recursive] FILE|FOLDER...",
                                     "Shows what the window shows for a MIDI file: tempo, key, metre and the "
                                     "tracks with their notes, range and clef. With --json and several files "
                                     "or folders: one JSON line per file, starting with its \"file\" member; a "
                                     "file that cannot be read gets {\"file\", \"error\"} and exit status 1.",
                                     DefineInfo});

}  // namespace
}  // namespace korvalin::cli
