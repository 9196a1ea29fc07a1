// korvalin-cli transpose: the window's new key and tempo as a command,
// written as a new MIDI file.

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "CliCommand.h"
#include "MidiParser.h"
#include "MidiTransposer.h"

namespace korvalin::cli {
namespace {

constexpr std::int32_t kMinTempo = 20;
constexpr std::int32_t kMaxTempo = 400;

std::optional<std::int32_t> ParseWhole(const std::string& text) {
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

std::string Folded(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string KeysOfMode(bool minor) {
    std::string list;
    for (std::int32_t fifths = -7; fifths <= 7; ++fifths) {
        if (!list.empty()) list += ", ";
        list += KeyNameFromFifths(fifths, minor);
    }
    return list;
}

// The fifths of a key named in the file's mode; the window offers no other keys.
std::int32_t FifthsOfKeyName(const std::string& name, bool minor) {
    const std::string wanted = Folded(name);
    for (std::int32_t fifths = -7; fifths <= 7; ++fifths) {
        if (Folded(KeyNameFromFifths(fifths, minor)) == wanted) return fifths;
    }
    const char* mode = minor ? "minor" : "major";
    throw EUsageError("\"" + name + "\" is not a " + mode + " key; the file is in " + mode +
                      ", so the new key is one of: " + KeysOfMode(minor));
}

std::string Signed(std::int32_t value) {
    std::string text = std::to_string(value);
    if (value > 0) text.insert(text.begin(), '+');
    return text;
}

struct TTransposeArguments {
    std::vector<std::string> Files;
    std::vector<std::string> Keys;
    std::vector<std::string> Fifths;
    std::vector<std::string> Tempos;
};

int RunTranspose(const CLI::App& parser, const TTransposeArguments& args) {
    if (const auto unknown = FirstUnknownOption(parser))
        throw EUsageError("unknown option " + *unknown);
    const auto& files = args.Files;
    if (args.Keys.size() + args.Fifths.size() > 1) throw EUsageError("give the new key once, with --key or --fifths");
    std::optional<std::string> keyName;
    if (!args.Keys.empty()) keyName = args.Keys.front();
    std::optional<std::int32_t> fifthsOption;
    if (!args.Fifths.empty()) {
        fifthsOption = ParseWhole(args.Fifths.front());
        if (!fifthsOption || *fifthsOption < -7 || *fifthsOption > 7)
            throw EUsageError("--fifths must be a whole number from -7 to 7");
    }
    std::optional<std::int32_t> tempoOption;
    for (const std::string& text : args.Tempos) {
        tempoOption = ParseWhole(text);
        if (!tempoOption || *tempoOption < kMinTempo || *tempoOption > kMaxTempo)
            throw EUsageError("--tempo must be a whole number of BPM from 20 to 400");
    }
    if (files.size() != 2) throw EUsageError("give the source and the target MIDI file");
    if (!keyName && !fifthsOption) throw EUsageError("give the new key with --key or --fifths");

    TMidiFile midi;
    midi.LoadFromFile(files[0]);
    if (!midi.HasKeySignature && !midi.KeyWasEstimated) throw std::runtime_error("Could not determine the original key.");

    const std::int32_t newFifths = keyName ? FifthsOfKeyName(*keyName, midi.KeyMinor) : *fifthsOption;
    std::int32_t tempo = 0;
    if (tempoOption) {
        tempo = *tempoOption;
    } else {
        tempo = WholeTempo(midi.TempoBPM);
        if (tempo < kMinTempo || tempo > kMaxTempo)
            throw EUsageError("the file's tempo of " + std::to_string(tempo) +
                              " BPM is outside 20..400; give --tempo");
    }

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
    parser.add_option("--key", args->Keys, "the new key, in the file's mode, by name")
        ->type_name("\"F# minor\"")
        ->allow_extra_args(false);
    parser.add_option("--fifths", args->Fifths, "the new key as fifths, -7 (7 flats) to 7 (7 sharps)")
        ->type_name("F")
        ->allow_extra_args(false);
    parser.add_option("--tempo", args->Tempos, "the new tempo, 20 to 400 (default: the file's own)")
        ->type_name("BPM")
        ->allow_extra_args(false);
    return [&parser, args] { return RunTranspose(parser, *args); };
}

const CommandRegistrar registrar({"transpose", "transpose IN.mid OUT.mid (--key \"F# minor\" | --fifths F) [--tempo BPM]",
                                  "Moves a MIDI file to a new key of the same mode and a new whole tempo, as the "
                                  "window's Save MIDI does.",
                                  DefineTranspose});

}  // namespace
}  // namespace korvalin::cli
