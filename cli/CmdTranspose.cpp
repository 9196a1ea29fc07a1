// korvalin-cli transpose: the window's new key and tempo as a command,
// written as a new MIDI file.

#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CliCommand.h"
#include "KeyTempoOptions.h"
#include "MidiParser.h"
#include "MidiTransposer.h"

namespace korvalin::cli {
namespace {

struct TTransposeArguments {
    std::vector<std::string> Files;
    TKeyTempoOptions KeyTempo;
};

int RunTranspose(const CLI::App& parser, TTransposeArguments& args) {
    if (const auto unknown = FirstUnknownOption(parser)) throw EUsageError("unknown option " + *unknown);
    const auto& files = args.Files;
    args.KeyTempo.Resolve();
    if (files.size() != 2) throw EUsageError("give the source and the target MIDI file");
    if (!args.KeyTempo.HasKey()) throw EUsageError("give the new key with --key or --fifths");

    TMidiFile midi;
    midi.LoadFromFile(files[0]);
    if (!midi.HasKeySignature && !midi.KeyWasEstimated)
        throw std::runtime_error("Could not determine the original key.");

    const std::int32_t newFifths = args.KeyTempo.NewFifths(midi);
    const std::int32_t tempo = args.KeyTempo.NewTempo(midi);

    const std::int32_t semitones = TranspositionSemitones(midi.KeyFifths, newFifths, midi.KeyMinor);
    TransposeMidiFile(files[0], files[1], semitones, newFifths, midi.KeyMinor, tempo);

    std::cout << "shift: " << Signed(semitones) << " semitones (" << KeyNameFromFifths(midi.KeyFifths, midi.KeyMinor)
              << (midi.HasKeySignature ? "" : ", estimated") << " -> " << KeyNameFromFifths(newFifths, midi.KeyMinor)
              << ")\ntempo: " << tempo << " BPM\nwritten: " << files[1] << '\n';
    return 0;
}

TCommandRunner DefineTranspose(CLI::App& parser) {
    auto args = std::make_shared<TTransposeArguments>();
    parser.add_option("FILE", args->Files, "the source and the target MIDI file")->type_name("");
    args->KeyTempo.AddTo(parser);
    return [&parser, args] { return RunTranspose(parser, *args); };
}

const CommandRegistrar registrar({"transpose",
                                  "transpose IN.mid OUT.mid (--key \"F# minor\" | --fifths F) [--tempo BPM]",
                                  "Moves a MIDI file to a new key of the same mode and a new whole tempo, as the "
                                  "window's Save MIDI does.",
                                  DefineTranspose});

}  // namespace
}  // namespace korvalin::cli
