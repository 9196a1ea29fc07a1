// The --key, --fifths and --tempo options that transpose and audio share.

#include "KeyTempoOptions.h"

#include <cctype>
#include <charconv>

#include "CliCommand.h"

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

}  // namespace

void TKeyTempoOptions::AddTo(CLI::App& parser) {
    parser.add_option("--key", FKeys, "the new key, in the file's mode, by name")
        ->type_name("\"F# minor\"")
        ->allow_extra_args(false);
    parser.add_option("--fifths", FFifthsTexts, "the new key as fifths, -7 (7 flats) to 7 (7 sharps)")
        ->type_name("F")
        ->allow_extra_args(false);
    parser.add_option("--tempo", FTempoTexts, "the new tempo, 20 to 400 (default: the file's own)")
        ->type_name("BPM")
        ->allow_extra_args(false);
}

void TKeyTempoOptions::Resolve() {
    if (FKeys.size() + FFifthsTexts.size() > 1) throw EUsageError("give the new key once, with --key or --fifths");
    FKeyName.reset();
    FFifths.reset();
    FTempo.reset();
    if (!FKeys.empty()) FKeyName = FKeys.front();
    if (!FFifthsTexts.empty()) {
        FFifths = ParseWhole(FFifthsTexts.front());
        if (!FFifths || *FFifths < -7 || *FFifths > 7)
            throw EUsageError("--fifths must be a whole number from -7 to 7");
    }
    for (const std::string& text : FTempoTexts) {
        FTempo = ParseWhole(text);
        if (!FTempo || *FTempo < kMinTempo || *FTempo > kMaxTempo)
            throw EUsageError("--tempo must be a whole number of BPM from 20 to 400");
    }
}

std::int32_t TKeyTempoOptions::NewFifths(const TMidiFile& midi) const {
    if (FKeyName) return FifthsOfKeyName(*FKeyName, midi.KeyMinor);
    if (FFifths) return *FFifths;
    return midi.KeyFifths;
}

std::int32_t TKeyTempoOptions::NewTempo(const TMidiFile& midi) const {
    if (FTempo) return *FTempo;
    const std::int32_t tempo = WholeTempo(midi.TempoBPM);
    if (tempo < kMinTempo || tempo > kMaxTempo)
        throw EUsageError("the file's tempo of " + std::to_string(tempo) + " BPM is outside 20..400; give --tempo");
    return tempo;
}

std::string Signed(std::int32_t value) {
    std::string text = std::to_string(value);
    if (value > 0) text.insert(text.begin(), '+');
    return text;
}

}  // namespace korvalin::cli
