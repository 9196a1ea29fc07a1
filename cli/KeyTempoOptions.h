#pragma once

// The new key and tempo of a file, as the window's new-key panel offers them:
// a key of the file's own mode (by name or as fifths) and a whole tempo of
// 20..400 BPM. Shared by the commands that rewrite or play a file that way.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "MidiParser.h"

namespace korvalin::cli {

class TKeyTempoOptions {
public:
    // Declares --key, --fifths and --tempo on a command's parser.
    void AddTo(CLI::App& parser);
    // Checks what the options say on their own, before any file is read;
    // throws EUsageError with the option's own message.
    void Resolve();

    bool HasKey() const { return FKeyName.has_value() || FFifths.has_value(); }
    bool HasTempo() const { return FTempo.has_value(); }

    // The new key as fifths for a loaded file: a name is read in the file's
    // mode. Without a key option, the file's own key.
    std::int32_t NewFifths(const TMidiFile& midi) const;
    // The new tempo: the option, else the file's own whole tempo (an
    // EUsageError when that is outside 20..400).
    std::int32_t NewTempo(const TMidiFile& midi) const;

private:
    std::vector<std::string> FKeys;
    std::vector<std::string> FFifthsTexts;
    std::vector<std::string> FTempoTexts;

    std::optional<std::string> FKeyName;
    std::optional<std::int32_t> FFifths;
    std::optional<std::int32_t> FTempo;
};

// "+3", "0", "-2".
std::string Signed(std::int32_t value);

}  // namespace korvalin::cli
