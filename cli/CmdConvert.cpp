// korvalin-cli convert: the window's Export as a command. The same choices give
// the same bytes: the tracks become parts in file order (the order of the
// window's track list), and the target name is passed as the window passes it,
// so a file without a title is named after the output file in both.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "CliCommand.h"
#include "MidiParser.h"
#include "MusicXmlExporter.h"

namespace korvalin::cli {
namespace {

std::int32_t ParseTrackIndex(std::string_view text, std::string_view option) {
    std::int32_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
        throw EUsageError(std::string(option) + ": \"" + std::string(text) + "\" is not a track number");
    return value;
}

TMidiTrack& TrackByIndex(const TMidiFile& midi, std::int32_t index, std::string_view option) {
    for (const auto& track : midi.Tracks())
        if (track->Index == index) return *track;
    throw EUsageError(std::string(option) + ": the file has no track " + std::to_string(index));
}

// Splits "I=VALUE" at the first "=".
std::pair<std::string_view, std::string_view> SplitAssignment(std::string_view text, std::string_view option) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) throw EUsageError(std::string(option) + " wants I=VALUE");
    return {text.substr(0, eq), text.substr(eq + 1)};
}

int RunConvert(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    std::int32_t grid = 16;
    std::vector<std::string> trackList;
    bool tracksGiven = false;
    std::vector<std::string> clefs;
    std::vector<std::string> names;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw EUsageError(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--grid") {
            const std::string& text = value();
            if (text == "8") grid = 8;
            else if (text == "16") grid = 16;
            else if (text == "32") grid = 32;
            else throw EUsageError("--grid must be 8, 16 or 32");
        } else if (arg == "--tracks") {
            tracksGiven = true;
            std::string_view rest = value();
            while (true) {
                const auto comma = rest.find(',');
                trackList.emplace_back(rest.substr(0, comma));
                if (comma == std::string_view::npos) break;
                rest.remove_prefix(comma + 1);
            }
        } else if (arg == "--clef") {
            clefs.push_back(value());
        } else if (arg == "--name") {
            names.push_back(value());
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw EUsageError("unknown option " + arg);
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) throw EUsageError("wants an input MIDI file and an output MusicXML file");

    TMidiFile midi;
    midi.LoadFromFile(files[0]);

    for (const std::string& clef : clefs) {
        const auto [index, mode] = SplitAssignment(clef, "--clef");
        TMidiTrack& track = TrackByIndex(midi, ParseTrackIndex(index, "--clef"), "--clef");
        if (mode == "auto") track.ClefMode = TClefMode::cmAuto;
        else if (mode == "treble") track.ClefMode = TClefMode::cmTreble;
        else if (mode == "bass") track.ClefMode = TClefMode::cmBass;
        else throw EUsageError("--clef: the clef must be auto, treble or bass");
    }
    for (const std::string& name : names) {
        const auto [index, text] = SplitAssignment(name, "--name");
        TrackByIndex(midi, ParseTrackIndex(index, "--name"), "--name").ExportName = std::string(text);
    }

    // The window lists only tracks with notes, ticked, in file order.
    std::vector<const TMidiTrack*> tracks;
    if (tracksGiven) {
        std::vector<const TMidiTrack*> chosen;
        for (const std::string& text : trackList)
            chosen.push_back(&TrackByIndex(midi, ParseTrackIndex(text, "--tracks"), "--tracks"));
        for (const auto& track : midi.Tracks())
            if (std::find(chosen.begin(), chosen.end(), track.get()) != chosen.end()) tracks.push_back(track.get());
    } else {
        for (const auto& track : midi.Tracks())
            if (!track->Notes().empty()) tracks.push_back(track.get());
    }

    BuildMusicXml(midi, tracks, files[1], grid);
    return 0;
}

const CommandRegistrar registrar({"convert",
                                  "convert IN.mid OUT.musicxml [--grid 8|16|32] [--tracks I,J,...] "
                                  "[--clef I=auto|treble|bass]... [--name I=TEXT]...",
                                  RunConvert});

}  // namespace
}  // namespace korvalin::cli
