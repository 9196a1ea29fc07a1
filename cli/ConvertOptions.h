#pragma once

// The choices of one conversion, as the window offers them: which tracks
// become parts, their clefs and names, the grid. Parsed once per command and
// applied to every file it converts (a single convert, a batch, a rendering).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "MidiParser.h"
#include "MusicXmlExporter.h"

namespace korvalin::cli {

// A score built in memory, ready to be written.
struct TConvertedScore {
    std::string Text;
    std::int64_t Parts = 0;
    std::int64_t Measures = 0;  // of each part; a partwise score's parts are equally long
    std::int64_t Notes = 0;     // the notes of the chosen tracks
};

// Track numbers given as "I,J,..." (one option or several): EUsageError,
// naming the option, for anything that is not a number.
std::vector<std::int32_t> ParseTrackList(const std::vector<std::string>& texts, std::string_view option);

class TConvertOptions {
public:
    // Declares --grid, --notation, --tracks, --clef, --name, --timing, --meter and
    // --first-beat on a command's parser.
    void AddTo(CLI::App& parser);
    // Checks what the options say on their own, before any file is read;
    // throws EUsageError with the option's own message.
    void Resolve();

    std::int32_t Grid() const { return FGrid; }
    // The exporter's choices: the notation (literal unless --notation readable).
    const TExportOptions& ExportOptions() const { return FExport; }

    // Sets the chosen clefs and names on `midi`'s tracks and returns the tracks
    // to notate, in file order (the order of the window's track list). A track
    // number the file does not have is an EUsageError.
    std::vector<const TMidiTrack*> ApplyTo(TMidiFile& midi) const;

    // Loads `input` and builds its score with these choices. `output` names
    // the work when the file has no title, as the window's Export does.
    // With `report`, readable notation says there what it did.
    TConvertedScore Convert(const std::string& input, const std::string& output,
                            TConversionReport* report = nullptr) const;

private:
    // As given on the command line.
    std::string FGridText = "16";
    std::string FNotationText = "literal";
    std::vector<std::string> FTrackTexts;
    std::vector<std::string> FClefTexts;
    std::vector<std::string> FNameTexts;
    CLI::Option* FTracksOption = nullptr;
    std::string FTimingText = "auto";
    std::string FMeterText;
    std::string FFirstBeatText;

    // Resolved.
    std::int32_t FGrid = 16;
    TExportOptions FExport;
    std::optional<std::vector<std::int32_t>> FTracks;
    std::vector<std::pair<std::int32_t, TClefMode>> FClefs;
    std::vector<std::pair<std::int32_t, std::string>> FNames;
};

}  // namespace korvalin::cli
