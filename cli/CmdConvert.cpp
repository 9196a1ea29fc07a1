// korvalin-cli convert: the window's Export as a command, for one file or many.

#include <cmath>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BatchConvert.h"
#include "CliCommand.h"
#include "ConvertOptions.h"
#include "FileIO.h"
#include "JsonLine.h"
#include "ScoreReport.h"
#include "StopSignals.h"

namespace korvalin::cli {
namespace {

struct TConvertArguments {
    std::vector<std::string> Files;
    TConvertOptions Options;
    TBatchOptions Batch;
    std::string OutDir;
    std::string Report;
    CLI::Option* OutDirOption = nullptr;
    CLI::Option* ReportOption = nullptr;
};

// The conversion report of one file: what readable notation did, part by part.
std::string ReportJson(const std::string& input, const std::string& output, const TConversionReport& report) {
    TJson parts = TJson::array();
    for (const auto& part : report.Parts) {
        TJson tuplets = TJson::object();
        for (const auto& [kind, count] : part.Tuplets) tuplets[kind] = count;
        parts.push_back({{"name", part.Name},
                         {"notes", part.Notes},
                         {"notesMoved", part.NotesMoved},
                         {"largestMove", {{"ticks", part.LargestMoveTicks}, {"quarters", part.LargestMoveQuarters}}},
                         {"tuplets", tuplets},
                         {"staves", part.Staves},
                         {"voicesPerStaff", part.VoicesPerStaff},
                         {"grid", "1/" + std::to_string(part.Grid)},
                         {"gridChosen", part.GridChosen ? "auto" : "given"}});
    }
    TJson document = {{"input", input},
                      {"output", output},
                      {"notation", "readable"},
                      {"pickup", {{"quarters", report.PickupQuarters}, {"firstMeasureTick", report.FirstMeasureTick}}},
                      {"parts", parts}};
    // A file played freely: what was found in it, and the beats it was written on.
    if (const TPerformanceReport& found = report.Performance; found.Used) {
        document["performance"] = {{"meter", found.Meter},
                                   {"key", KeyNameFromFifths(found.KeyFifths, found.KeyMinor)},
                                   {"keyFifths", found.KeyFifths},
                                   {"keyChanges", found.KeyChanges},
                                   {"tempo", {{"slowest", found.SlowestBpm}, {"fastest", found.FastestBpm}}},
                                   {"confidence", found.Confidence},
                                   {"firstDownbeatSeconds", found.FirstDownbeatSeconds},
                                   {"beatSeconds", found.BeatSeconds}};
    }
    return document.dump(2, ' ', false, TJson::error_handler_t::replace) + "\n";
}

int RunConvert(const CLI::App& parser, TConvertArguments& args) {
    if (const auto unknown = FirstUnknownOption(parser)) throw EUsageError("unknown option " + *unknown);
    args.Options.Resolve();
    if (args.OutDirOption->count() > 0) {
        if (args.Files.empty()) throw EUsageError("--out-dir wants the MIDI files or folders to convert");
        std::optional<std::string> report;
        if (args.ReportOption->count() > 0) report = args.Report;
        return RunBatchConvert(args.Files, args.Options, args.OutDir, args.Batch, report);
    }
    for (const char* batchOnly : {"--jobs", "--recursive"})
        if (parser.count(batchOnly) > 0) throw EUsageError(std::string(batchOnly) + " needs --out-dir");
    if (args.Files.size() != 2) throw EUsageError("wants an input MIDI file and an output MusicXML file");
    const bool readable = args.Options.ExportOptions().Notation == TNotationMode::nmReadable;
    const bool withReport = args.ReportOption->count() > 0;
    if (withReport && !readable) throw EUsageError("--report for one file needs --notation readable (or --out-dir)");

    TConversionReport report;
    const auto score = args.Options.Convert(args.Files[0], args.Files[1], readable ? &report : nullptr);
    // Ctrl+C while the score is written leaves the target as it was, and no temporary file.
    TTempFileRegistry registry;
    const TStopSignals stopSignals([&] { registry.Close(); });
    WriteFileAtomically(args.Files[1], score.Text, &registry);
    if (withReport) WriteFileAtomically(args.Report, ReportJson(args.Files[0], args.Files[1], report), &registry);
    if (report.Performance.Used) {
        const TPerformanceReport& found = report.Performance;
        std::cout << "Played freely: " << found.Meter << ", " << KeyNameFromFifths(found.KeyFifths, found.KeyMinor)
                  << ", " << WholeTempo(found.SlowestBpm) << "-" << WholeTempo(found.FastestBpm)
                  << " beats a minute, confidence " << std::lround(found.Confidence * 100.0) << "%\n";
    }
    if (args.Options.ExportOptions().AutoGrid) {
        // The grid each part was given, as the window's status line says it.
        for (std::size_t p = 0; p < report.Parts.size(); ++p)
            std::cout << "Part " << p + 1 << " (" << report.Parts[p].Name << "): grid 1/" << report.Parts[p].Grid
                      << "\n";
    }
    return 0;
}

TCommandRunner DefineConvert(CLI::App& parser) {
    auto args = std::make_shared<TConvertArguments>();
    parser
        .add_option("FILE", args->Files, "IN.mid OUT.musicxml; with --out-dir, the MIDI files and folders to convert")
        ->type_name("");
    args->Options.AddTo(parser);
    args->OutDirOption = parser
                             .add_option("--out-dir", args->OutDir,
                                         "convert many files into this folder, each named after its MIDI file "
                                         "(with --recursive, in the same subfolders)")
                             ->type_name("DIR");
    args->Batch.AddTo(parser);
    args->ReportOption = parser
                             .add_option("--report", args->Report,
                                         "with --out-dir: one JSON line per file (input, output, status, message, "
                                         "parts, measures, notes, seconds); for one file with --notation readable: "
                                         "a JSON document of what readable notation did, part by part (notes, notes "
                                         "moved and the largest move, tuplets, staves, voices per staff, grid)")
                             ->type_name("FILE.jsonl|FILE.json");
    return [&parser, args] { return RunConvert(parser, *args); };
}

const CommandRegistrar registrar(
    {"convert",
     "convert IN.mid OUT.musicxml [--grid 8|16|32|auto] [--notation literal|readable] [--tracks I,J,...] "
     "[--clef I=auto|treble|bass]... [--name I=TEXT]... [--timing auto|file] [--meter N/D] "
     "[--first-beat SECONDS[:BPM]] [--report FILE.json]\n"
     "convert --out-dir DIR [--jobs N] [--recursive] [--report FILE.jsonl] [convert's options] IN...",
     "Converts a MIDI file into a MusicXML 4.0 score, as the window's Export does; with --out-dir, many files at "
     "once, each exactly as it would be alone. A file that fails does not stop the others; the exit status is then 1.",
     DefineConvert});

}  // namespace
}  // namespace korvalin::cli
