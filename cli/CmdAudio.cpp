// korvalin-cli audio: what the window's ▶ plays, written as an audio file.
// FluidSynth renders it here, without Qt, so the tool still starts at once.

#include <iomanip>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "AudioFileRenderer.h"
#include "CliCommand.h"
#include "ConvertOptions.h"
#include "FileIO.h"
#include "KeyTempoOptions.h"
#include "MidiParser.h"
#include "MidiTrackSelection.h"
#include "MidiTransposer.h"
#include "SoundFonts.h"
#include "StopSignals.h"

namespace korvalin::cli {
namespace {

struct TAudioArguments {
    std::vector<std::string> Files;
    TKeyTempoOptions KeyTempo;
    std::vector<std::string> TrackTexts;
    CLI::Option* TracksOption = nullptr;
    std::string SoundFont;
};

int RunAudio(const CLI::App& parser, TAudioArguments& args) {
    if (const auto unknown = FirstUnknownOption(parser)) throw EUsageError("unknown option " + *unknown);
    args.KeyTempo.Resolve();
    std::vector<std::int32_t> tracks;
    if (args.TracksOption->count() > 0) tracks = ParseTrackList(args.TrackTexts, "--tracks");
    if (args.Files.size() != 2) throw EUsageError("give the MIDI file and the audio file");
    const std::string& target = args.Files[1];
    if (!AudioFileTypeOf(target)) throw EUsageError("the audio file's name must end in .wav, .flac or .ogg");

    SilenceFluidSynthLog();
    std::vector<std::uint8_t> bytes = ReadWholeFile(args.Files[0]);
    TMidiFile midi;
    midi.LoadFromBytes(bytes);
    std::string what = "the file as it is";
    if (args.KeyTempo.HasKey() || args.KeyTempo.HasTempo()) {
        if (args.KeyTempo.HasKey() && !midi.HasKeySignature && !midi.KeyWasEstimated)
            throw std::runtime_error("Could not determine the original key.");
        const std::int32_t newFifths = args.KeyTempo.NewFifths(midi);
        const std::int32_t tempo = args.KeyTempo.NewTempo(midi);
        const std::int32_t semitones = TranspositionSemitones(midi.KeyFifths, newFifths, midi.KeyMinor);
        bytes = TransposeMidiBytes(bytes, semitones, newFifths, midi.KeyMinor, tempo);
        midi.LoadFromBytes(bytes);
        what = KeyNameFromFifths(newFifths, midi.KeyMinor) + " (" + Signed(semitones) + " semitones), " +
               std::to_string(tempo) + " BPM";
    }
    if (!tracks.empty()) bytes = KeepTrackChunks(bytes, midi, tracks);

    // Ctrl+C removes the half-written audio; the target stays as it was.
    TTempFileRegistry tempFiles;
    const TStopSignals stop([&tempFiles] { tempFiles.Close(); });
    TAudioRenderOptions options;
    options.SoundFontFile = args.SoundFont;
    options.TempFiles = &tempFiles;
    const TAudioRenderResult result = RenderMidiToAudioFile(bytes, target, options);
    std::cout << "music: " << what << "\nlength: " << std::fixed << std::setprecision(2) << result.Seconds
              << " s\nwritten: " << target << '\n';
    return 0;
}

TCommandRunner DefineAudio(CLI::App& parser) {
    auto args = std::make_shared<TAudioArguments>();
    parser.add_option("FILE", args->Files, "the MIDI file and the audio file (.wav, .flac or .ogg)")->type_name("");
    args->KeyTempo.AddTo(parser);
    args->TracksOption = parser
                             .add_option("--tracks", args->TrackTexts,
                                         "only these tracks' notes, by the # column of `info` (default: all)")
                             ->type_name("I,J,...")
                             ->allow_extra_args(false);
    parser
        .add_option("--soundfont", args->SoundFont,
                    "the SoundFont (.sf2 or .sf3) to play with (default: the "
                    "system's General MIDI SoundFont)")
        ->type_name("FILE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    return [&parser, args] { return RunAudio(parser, *args); };
}

const CommandRegistrar registrar({"audio",
                                  "audio IN.mid OUT.wav|OUT.flac|OUT.ogg [--key \"F# minor\" | --fifths F] "
                                  "[--tempo BPM] [--tracks I,J,...] [--soundfont FILE]",
                                  "Writes what the window's play button plays as a WAV, FLAC or Ogg Vorbis file (by "
                                  "the target's extension), with a new key and tempo as the window's \"With new "
                                  "settings\" plays it, rendered by FluidSynth faster than real time.",
                                  DefineAudio});

}  // namespace
}  // namespace korvalin::cli
