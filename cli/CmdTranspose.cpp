#include <algorithm>
#include <cctype>
#include <charconv>
#include <iostream>
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

int RunTranspose(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    std::optional<std::string> keyName;
    std::optional<std::int32_t> fifthsOption;
    std::optional<std::int32_t> tempoOption;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takesValue = arg == "--key" || arg == "--fifths" || arg == "--tempo";
        if (!takesValue) {
            if (arg.size() > 1 && arg.starts_with("--")) throw EUsageError("unknown option " + arg);
            files.push_back(arg);
            continue;
        }
        if (i + 1 >= args.size()) throw EUsageError(arg + " needs a value");
        const std::string& value = args[++i];
        if (arg == "--key") {
            if (keyName || fifthsOption) throw EUsageError("give the new key once, with --key or --fifths");
            keyName = value;
        } else if (arg == "--fifths") {
            if (keyName || fifthsOption) throw EUsageError("give the new key once, with --key or --fifths");
            fifthsOption = ParseWhole(value);
            if (!fifthsOption || *fifthsOption < -7 || *fifthsOption > 7)
                throw EUsageError("--fifths must be a whole number from -7 to 7");
        } else {
            tempoOption = ParseWhole(value);
            if (!tempoOption || *tempoOption < kMinTempo || *tempoOption > kMaxTempo)
                throw EUsageError("--tempo must be a whole number of BPM from 20 to 400");
        }
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

const CommandRegistrar registrar({"transpose", "transpose IN.mid OUT.mid (--key \"F# minor\" | --fifths F) [--tempo BPM]",
                                  RunTranspose});

}  // namespace
}  // namespace korvalin::cli
