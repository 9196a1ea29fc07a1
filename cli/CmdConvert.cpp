// korvalin-cli convert: the window's Export as a command.

#include <memory>
#include <string>
#include <vector>

#include "CliCommand.h"
#include "ConvertOptions.h"
#include "FileIO.h"

namespace korvalin::cli {
namespace {

struct TConvertArguments {
    std::vector<std::string> Files;
    TConvertOptions Options;
};

TCommandRunner DefineConvert(CLI::App& parser) {
    auto args = std::make_shared<TConvertArguments>();
    parser.add_option("FILE", args->Files, "the MIDI file and the MusicXML file to write")->type_name("");
    args->Options.AddTo(parser);
    return [&parser, args] {
        if (const auto unknown = FirstUnknownOption(parser)) throw EUsageError("unknown option " + *unknown);
        args->Options.Resolve();
        if (args->Files.size() != 2) throw EUsageError("wants an input MIDI file and an output MusicXML file");
        const auto score = args->Options.Convert(args->Files[0], args->Files[1]);
        WriteFileAtomically(args->Files[1], score.Text);
        return 0;
    };
}

const CommandRegistrar registrar({"convert",
                                  "convert IN.mid OUT.musicxml [--grid 8|16|32] [--tracks I,J,...] "
                                  "[--clef I=auto|treble|bass]... [--name I=TEXT]...",
                                  "Converts a MIDI file into a MusicXML 4.0 score, as the window's Export does.",
                                  DefineConvert});

}  // namespace
}  // namespace korvalin::cli
