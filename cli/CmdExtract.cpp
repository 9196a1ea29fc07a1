// korvalin-cli extract: one track of a file saved alone as a new MIDI file,
// the window's one-part playback file.

#include <charconv>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CliCommand.h"
#include "MidiParser.h"
#include "MidiPlaybackWriter.h"

namespace korvalin::cli {
namespace {

int RunExtract(const CLI::App& parser, const std::vector<std::string>& args) {
    if (const auto unknown = FirstUnknownOption(parser)) throw EUsageError("unknown option " + *unknown);
    if (args.size() != 3) throw EUsageError("give the source file, the track index and the target file");
    const std::string& indexText = args[1];
    std::int32_t index = 0;
    const auto [ptr, ec] = std::from_chars(indexText.data(), indexText.data() + indexText.size(), index);
    if (ec != std::errc() || ptr != indexText.data() + indexText.size() || indexText.empty() || index < 1)
        throw EUsageError("INDEX must be a track number from 1 (the # column of the track list)");

    TMidiFile midi;
    midi.LoadFromFile(args[0]);
    const TMidiTrack* chosen = nullptr;
    for (const auto& track : midi.Tracks()) {
        if (track->Index == index) chosen = track.get();
    }
    if (chosen == nullptr)
        throw std::runtime_error("The file has no track " + std::to_string(index) + "; it has " +
                                 std::to_string(midi.Tracks().size()) + ".");
    // Only tracks with notes are parts one can choose to play.
    if (chosen->Notes().empty()) throw std::runtime_error("Track " + std::to_string(index) + " has no notes.");

    WritePartPlaybackMidi(&midi, chosen, args[2]);
    std::cout << "track " << index << " \"" << chosen->ExportName << "\": " << chosen->Notes().size()
              << " notes\nwritten: " << args[2] << '\n';
    return 0;
}

TCommandRunner DefineExtract(CLI::App& parser) {
    auto args = std::make_shared<std::vector<std::string>>();
    parser.add_option("ARG", *args, "the source MIDI file, the track number (the # column of `info`), the target file")
        ->type_name("");
    return [&parser, args] { return RunExtract(parser, *args); };
}

const CommandRegistrar registrar({"extract", "extract IN.mid INDEX OUT.mid",
                                  "Writes one track of a MIDI file as a MIDI file of its own, as the window plays a "
                                  "single part.",
                                  DefineExtract});

}  // namespace
}  // namespace korvalin::cli
