// The exporter's entry: checks the request, builds the score model in the
// chosen notation, and writes the document or its file.

#include "MusicXmlExporter.h"

#include <algorithm>
#include <new>
#include <utility>

#include "FileIO.h"
#include "LiteralScore.h"
#include "MusicXmlWriter.h"
#include "PerformanceStage.h"
#include "ReadableScore.h"
#include "ScoreQuantize.h"
#include "TextBuffer.h"

namespace korvalin {
namespace {

const char* const kMsgNoTracks = "Select at least one musical track";
const char* const kMsgGrid = "The selected quantization grid is incompatible with this MIDI file";
const char* const kMsgTimeSignature = "Invalid time signature";
const char* const kMsgNoNotes = "The selected track contains no notes";

// The target's name without its folder and without its extension.
std::string_view TitleFromFileName(std::string_view fileName) {
    const auto slash = fileName.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
    return name;
}

// The finest of 1/32, 1/16 and 1/8 that divides the file's quarter; the
// given grid when none does (it is refused then as ever).
std::int32_t FinestAutoGrid(std::int32_t ppqn, std::int32_t given) {
    for (const std::int32_t grid : {32, 16, 8})
        if (std::int64_t{ppqn} * 4 % grid == 0) return grid;
    return given;
}

void ReportPerformance(const TRetimedPerformance& performance, TConversionReport& report) {
    const TPerformanceAnalysis& analysis = performance.Analysis;
    TPerformanceReport& out = report.Performance;
    out.Used = true;
    out.Meter = std::to_string(analysis.Meter.Beats) + "/" + std::to_string(analysis.Meter.BeatType);
    out.KeyFifths = analysis.Keys.front().Fifths;
    out.KeyMinor = analysis.Keys.front().Minor;
    out.KeyChanges = static_cast<std::int32_t>(analysis.Keys.size()) - 1;
    out.SlowestBpm = analysis.SlowestBpm;
    out.FastestBpm = analysis.FastestBpm;
    out.Confidence = analysis.Confidence;
    out.BeatSeconds = analysis.Beats.Times;
    out.FirstDownbeatSeconds = analysis.Beats.Times[analysis.Meter.FirstDownbeat];
}

// The score, and how to follow in it what the file plays.
struct TBuiltScore {
    TScore Score;
    std::int64_t Ppqn = 480;  // of the ticks the score was written in
    TTickMap PlayedTicks;     // from those ticks to the file's
};

TBuiltScore Build(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks, std::string_view fileName,
                  std::int32_t grid, const TExportOptions& options) {
    // The input is refused in a fixed order: the tracks, the grid, the time
    // signature, then each part in turn; the size comes last, where it is known,
    // and still before any text exists.
    if (tracks.empty() || std::find(tracks.begin(), tracks.end(), nullptr) != tracks.end())
        throw EMusicXmlError(kMsgNoTracks);
    // The automatic grid may go as fine as the file allows.
    if (options.Notation == TNotationMode::nmReadable && options.AutoGrid) grid = FinestAutoGrid(midi.PPQN, grid);
    if (grid <= 0 || std::int64_t{midi.PPQN} * 4 % grid != 0) throw EMusicXmlError(kMsgGrid);
    const std::int64_t step = std::int64_t{midi.PPQN} * 4 / grid;
    const std::int64_t measureLength = LiteralMeasureLength(midi);
    if (measureLength <= 0) throw EMusicXmlError(kMsgTimeSignature);
    for (const TMidiTrack* track : tracks)
        if (track->Notes().empty()) throw EMusicXmlError(kMsgNoNotes);

    std::int64_t scoreEnd = QuantizedScoreEnd(tracks, step);
    // A part on a coarser grid may round its last note later.
    if (options.Notation == TNotationMode::nmReadable && options.AutoGrid)
        for (const std::int32_t coarser : {8, 16})
            if (coarser < grid && std::int64_t{midi.PPQN} * 4 % coarser == 0)
                scoreEnd = std::max(scoreEnd, QuantizedScoreEnd(tracks, std::int64_t{midi.PPQN} * 4 / coarser));
    // Every note of the file is a note element of the score, whatever its
    // timing: a file over the budget is refused below, without first spending
    // the search for its beats.
    std::int64_t noteCount = 0;
    for (const TMidiTrack* track : tracks) noteCount += static_cast<std::int64_t>(track->Notes().size());
    if (options.Notation == TNotationMode::nmReadable && options.Performance.Timing == TPerformanceTiming::ptAuto &&
        noteCount <= options.MaxNoteElements) {
        // A file played freely is written on the beats found in it.
        if (const auto performance = PreparePerformance(midi, tracks, options.Performance)) {
            if (options.Report != nullptr) ReportPerformance(*performance, *options.Report);
            TExportOptions retimed = options;
            retimed.Performance.Timing = TPerformanceTiming::ptFile;
            TBuiltScore built = Build(performance->File, performance->Parts, fileName, grid, retimed);
            built.PlayedTicks = performance->PlayedTicks;
            return built;
        }
    }
    TNoteElementBudget budget(options.MaxNoteElements);
    TBuiltScore built;
    built.Ppqn = midi.PPQN;
    TScore& score = built.Score;
    score.Title = midi.Title.empty() ? std::string(TitleFromFileName(fileName)) : midi.Title;
    if (options.Notation == TNotationMode::nmReadable) {
        BuildReadableScore(score, midi, tracks, grid, scoreEnd, budget, options);
        return built;
    }
    const std::int64_t measureCount = std::max<std::int64_t>(1, (scoreEnd + measureLength - 1) / measureLength);
    // Every measure of every part holds at least one note or rest.
    if (measureCount > budget.Limit() / static_cast<std::int64_t>(tracks.size()))
        throw EMusicXmlError(kMsgScoreTooLarge);
    BuildLiteralScore(score, midi, tracks, step, measureCount, budget);
    return built;
}

}  // namespace

TScore BuildScore(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks, std::string_view fileName,
                  std::int32_t grid, const TExportOptions& options) {
    return Build(midi, tracks, fileName, grid, options).Score;
}

std::string BuildMusicXmlText(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks,
                              std::string_view fileName, std::int32_t grid, const TExportOptions& options) {
    const TBuiltScore built = Build(midi, tracks, fileName, grid, options);
    const TScore& score = built.Score;
    if (options.Timeline != nullptr) *options.Timeline = MakeScoreTimeline(score, built.Ppqn, built.PlayedTicks);
    std::string text;
    // Room for the largest text the score can make is only address space
    // until it is written to, and saves copying a large document as it grows.
    try {
        text.reserve(MusicXmlSizeBound(score));
    } catch (const std::bad_alloc&) {
    }
    TTextBuffer buffer(text);
    WriteMusicXml(score, buffer);
    buffer.Flush();
    return text;
}

void BuildMusicXml(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks, const std::string& fileName,
                   std::int32_t grid, const TExportOptions& options) {
    // Every refusal comes from building the score; the file is opened after it.
    const TBuiltScore built = Build(midi, tracks, fileName, grid, options);
    const TScore& score = built.Score;
    if (options.Timeline != nullptr) *options.Timeline = MakeScoreTimeline(score, built.Ppqn, built.PlayedTicks);
    TAtomicFile file(fileName);
    TTextBuffer buffer(file);
    WriteMusicXml(score, buffer);
    buffer.Flush();
    file.Commit();
}

}  // namespace korvalin
