// korvalin-cli convert: the window's Export as a command, for one file or many.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BatchConvert.h"
#include "CliCommand.h"
#include "ConvertOptions.h"
#include "FileIO.h"
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

int RunConvert(const CLI::App& parser, TConvertArguments& args) {
    if (const auto unknown = FirstUnknownOption(parser)) throw EUsageError("unknown option " + *unknown);
    args.Options.Resolve();
    if (args.OutDirOption->count() > 0) {
        if (args.Files.empty()) throw EUsageError("--out-dir wants the MIDI files or folders to convert");
        std::optional<std::string> report;
        if (args.ReportOption->count() > 0) report = args.Report;
        return RunBatchConvert(args.Files, args.Options, args.OutDir, args.Batch, report);
    }
    for (const char* batchOnly : {"--jobs", "--recursive", "--report"})
        if (parser.count(batchOnly) > 0) throw EUsageError(std::string(batchOnly) + " needs --out-dir");
    if (args.Files.size() != 2) throw EUsageError("wants an input MIDI file and an output MusicXML file");

    const auto score = args.Options.Convert(args.Files[0], args.Files[1]);
    // Ctrl+C while the score is written leaves the target as it was, and no temporary file.
    TTempFileRegistry registry;
    const TStopSignals stopSignals([&] { registry.Close(); });
    WriteFileAtomically(args.Files[1], score.Text, &registry);
    return 0;
}

TCommandRunner DefineConvert(CLI::App& parser) {
    auto args = std::make_shared<TConvertArguments>();
    parser.add_option("FILE", args->Files, "IN.mid OUT.musicxml; with --out-dir, the MIDI files and folders to convert")
        ->type_name("");
    args->Options.AddTo(parser);
    args->OutDirOption =
        parser.add_option("--out-dir", args->OutDir,
                          "convert many files into this folder, each named after its MIDI file "
                          "(with --recursive, in the same subfolders)")
            ->type_name("DIR");
    args->Batch.AddTo(parser);
    args->ReportOption = parser.add_option("--report", args->Report,
                                           "with --out-dir: one JSON line per file (input, output, status, message, "
                                           "parts, measures, notes, seconds)")
                             ->type_name("FILE.jsonl");
    return [&parser, args] { return RunConvert(parser, *args); };
}

const CommandRegistrar registrar(
    {"convert",
     "convert IN.mid OUT.musicxml [--grid 8|16|32] [--tracks I,J,...] [--clef I=auto|treble|bass]... "
     "[--name I=TEXT]...\n"
     "convert --out-dir DIR [--jobs N] [--recursive] [--report FILE.jsonl] [convert's options] IN...",
     "Converts a MIDI file into a MusicXML 4.0 score, as the window's Export does; with --out-dir, many files at "
     "once, each exactly as it would be alone. A file that fails does not stop the others; the exit status is then 1.",
     DefineConvert});

}  // namespace
}  // namespace korvalin::cli
