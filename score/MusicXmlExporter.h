// Turning chosen tracks of a MIDI file into a MusicXML 4.0 score.

#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "MidiParser.h"
#include "PerformanceOptions.h"
#include "ScoreBudget.h"
#include "ScoreModel.h"
#include "ScoreReport.h"
#include "ScoreTimeline.h"

namespace korvalin {

// The most <note> elements (notes and rests together) one document may hold.
inline constexpr std::int64_t kMaxScoreNoteElements = 2'000'000;

// How the score is written: as played (the exact transcription, the default),
// or as a musician would write it for reading.
enum class TNotationMode { nmLiteral, nmReadable };

// Everything an export may be asked besides the tracks and the grid.
struct TExportOptions {
    TNotationMode Notation = TNotationMode::nmLiteral;
    // A score of more notes and rests than this is refused before any text is
    // built (a smaller limit lets the fuzzer explore quickly).
    std::int64_t MaxNoteElements = kMaxScoreNoteElements;
    // Readable notation only: each part's grid chosen from how it was played
    // (the coarsest that keeps the onsets close), the grid given a fallback.
    bool AutoGrid = false;
    // Readable notation only: filled with what it did, part by part.
    TConversionReport* Report = nullptr;
    // Readable notation only: whether a file played freely is first read for
    // its beat, meter and key, and the user's corrections to what is found.
    TPerformanceOptions Performance;
    // Filled with where the written measures lie in the file's ticks.
    TScoreTimeline* Timeline = nullptr;
};

// The score model of `tracks` (one part each, in the order given), after the
// same checks and refusals as the document. `fileName` names the work when the
// file has no title.
TScore BuildScore(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks, std::string_view fileName,
                  std::int32_t grid, const TExportOptions& options = {});

// Builds the whole MusicXML 4.0 partwise document in memory and returns its
// bytes (UTF-8, CR LF line ends).
std::string BuildMusicXmlText(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks,
                              std::string_view fileName, std::int32_t grid, const TExportOptions& options = {});

// The same with only the size limit changed.
inline std::string BuildMusicXmlText(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks,
                                     std::string_view fileName, std::int32_t grid, std::int64_t maxNoteElements) {
    TExportOptions options;
    options.MaxNoteElements = maxNoteElements;
    return BuildMusicXmlText(midi, tracks, fileName, grid, options);
}

// Builds the document and writes it to `fileName` in one piece; a refusal
// (EMusicXmlError) or a failed write (EFileError) leaves the old file as it was.
void BuildMusicXml(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks, const std::string& fileName,
                   std::int32_t grid, const TExportOptions& options = {});

}  // namespace korvalin
