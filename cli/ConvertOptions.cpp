// The same choices give the same bytes as the window's Export: the tracks
// become parts in file order, and the target name is passed as the window
// passes it, so a file without a title is named after the output file in both.

#include "ConvertOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

#include "CliCommand.h"
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

// Splits "I=VALUE" at the first "=" and reads I.
std::pair<std::int32_t, std::string_view> SplitAssignment(std::string_view text, std::string_view option) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) throw EUsageError(std::string(option) + " wants I=VALUE");
    return {ParseTrackIndex(text.substr(0, eq), option), text.substr(eq + 1)};
}

TMidiTrack& TrackByIndex(const TMidiFile& midi, std::int32_t index, std::string_view option) {
    for (const auto& track : midi.Tracks())
        if (track->Index == index) return *track;
    throw EUsageError(std::string(option) + ": the file has no track " + std::to_string(index));
}

}  // namespace

std::vector<std::int32_t> ParseTrackList(const std::vector<std::string>& texts, std::string_view option) {
    std::vector<std::int32_t> indexes;
    for (std::string_view rest : texts) {
        while (true) {
            const auto comma = rest.find(',');
            indexes.push_back(ParseTrackIndex(rest.substr(0, comma), option));
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    return indexes;
}

void TConvertOptions::AddTo(CLI::App& parser) {
    parser
        .add_option("--grid", FGridText,
                    "quantisation grid: 8, 16 or 32 (default 16); with --notation readable also auto, each "
                    "part's own grid chosen from how it was played")
        ->type_name("8|16|32|auto")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    parser
        .add_option("--notation", FNotationText,
                    "how the score is written: literal, as played (the default), or readable, as a "
                    "musician writes it for reading")
        ->type_name("literal|readable")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    FTracksOption = parser
                        .add_option("--tracks", FTrackTexts,
                                    "the tracks to notate, by the # column of `info` (default: every track "
                                    "with notes); parts follow the file's order")
                        ->type_name("I,J,...")
                        ->allow_extra_args(false);
    parser.add_option("--clef", FClefTexts, "the clef of track I (repeatable)")
        ->type_name("I=auto|treble|bass")
        ->allow_extra_args(false);
    parser.add_option("--name", FNameTexts, "the part name of track I (repeatable)")
        ->type_name("I=TEXT")
        ->allow_extra_args(false);
    parser
        .add_option("--timing", FTimingText,
                    "with --notation readable: auto (the default) finds the beat, the bar lines, the meter and "
                    "the key of a file played freely, off its own grid; file keeps the file's own tick timing")
        ->type_name("auto|file")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    parser
        .add_option("--meter", FMeterText,
                    "with --notation readable: the meter of a file played freely, instead of the one found")
        ->type_name("N/D")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    parser
        .add_option("--first-beat", FFirstBeatText,
                    "with --notation readable: where the first downbeat of a file played freely sounds, in "
                    "seconds, and optionally the tempo there in beats a minute")
        ->type_name("SECONDS[:BPM]")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

void TConvertOptions::Resolve() {
    FExport.AutoGrid = FGridText == "auto";
    if (FGridText == "8") FGrid = 8;
    else if (FGridText == "16" || FExport.AutoGrid) FGrid = 16;
    else if (FGridText == "32") FGrid = 32;
    else throw EUsageError("--grid must be 8, 16, 32 or auto");
    if (FNotationText == "literal") FExport.Notation = TNotationMode::nmLiteral;
    else if (FNotationText == "readable") FExport.Notation = TNotationMode::nmReadable;
    else throw EUsageError("--notation must be literal or readable");
    // The literal transcription is exact on the grid it is given.
    if (FExport.AutoGrid && FExport.Notation != TNotationMode::nmReadable)
        throw EUsageError("--grid auto needs --notation readable");
    FExport.Performance = {};
    if (FTimingText == "file") FExport.Performance.Timing = TPerformanceTiming::ptFile;
    else if (FTimingText != "auto") throw EUsageError("--timing must be auto or file");
    if (!FMeterText.empty() && !ParseMeterCorrection(FMeterText, FExport.Performance))
        throw EUsageError("--meter must be a time signature such as 3/4 or 6/8");
    if (!FFirstBeatText.empty() && !ParseFirstBeatCorrection(FFirstBeatText, FExport.Performance))
        throw EUsageError("--first-beat must be SECONDS or SECONDS:BPM (a tempo of 20 to 400)");
    const bool corrected = FExport.Performance.HasCorrection();
    if ((corrected || FTimingText != "auto") && FExport.Notation != TNotationMode::nmReadable)
        throw EUsageError("--timing, --meter and --first-beat need --notation readable");
    if (corrected && FExport.Performance.Timing == TPerformanceTiming::ptFile)
        throw EUsageError("--meter and --first-beat correct the timing found in the file: not with --timing file");

    FTracks.reset();
    if (FTracksOption != nullptr && FTracksOption->count() > 0) {
        FTracks = ParseTrackList(FTrackTexts, "--tracks");
    }
    FClefs.clear();
    for (const std::string& text : FClefTexts) {
        const auto [index, mode] = SplitAssignment(text, "--clef");
        if (mode == "auto") FClefs.emplace_back(index, TClefMode::cmAuto);
        else if (mode == "treble") FClefs.emplace_back(index, TClefMode::cmTreble);
        else if (mode == "bass") FClefs.emplace_back(index, TClefMode::cmBass);
        else throw EUsageError("--clef: the clef must be auto, treble or bass");
    }
    FNames.clear();
    for (const std::string& text : FNameTexts) {
        const auto [index, name] = SplitAssignment(text, "--name");
        FNames.emplace_back(index, std::string(name));
    }
}

std::vector<const TMidiTrack*> TConvertOptions::ApplyTo(TMidiFile& midi) const {
    for (const auto& [index, mode] : FClefs) TrackByIndex(midi, index, "--clef").ClefMode = mode;
    for (const auto& [index, name] : FNames) TrackByIndex(midi, index, "--name").ExportName = name;

    // The window lists only tracks with notes, ticked, in file order.
    std::vector<const TMidiTrack*> tracks;
    if (FTracks) {
        std::vector<const TMidiTrack*> chosen;
        for (const std::int32_t index : *FTracks) chosen.push_back(&TrackByIndex(midi, index, "--tracks"));
        for (const auto& track : midi.Tracks())
            if (std::find(chosen.begin(), chosen.end(), track.get()) != chosen.end()) tracks.push_back(track.get());
    } else {
        for (const auto& track : midi.Tracks())
            if (!track->Notes().empty()) tracks.push_back(track.get());
    }
    return tracks;
}

TConvertedScore TConvertOptions::Convert(const std::string& input, const std::string& output,
                                         TConversionReport* report) const {
    TMidiFile midi;
    midi.LoadFromFile(input);
    const auto tracks = ApplyTo(midi);
    TConvertedScore score;
    TExportOptions options = FExport;
    options.Report = report;
    score.Text = BuildMusicXmlText(midi, tracks, output, FGrid, options);
    score.Parts = static_cast<std::int64_t>(tracks.size());
    for (const TMidiTrack* track : tracks) score.Notes += static_cast<std::int64_t>(track->Notes().size());
    std::int64_t measures = 0;
    for (auto at = score.Text.find("<measure "); at != std::string::npos; at = score.Text.find("<measure ", at + 9))
        ++measures;
    score.Measures = score.Parts > 0 ? measures / score.Parts : 0;
    return score;
}

}  // namespace korvalin::cli
