// korvalin-cli render: the score's pages as a PDF or as SVG files, the same
// pages the window prints. The layout needs the web engine, which this tool
// does not carry (it starts at once for every other command): the score goes
// to the helper korvalin-render on its standard input.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "CliCommand.h"
#include "ConvertOptions.h"
#include "MusicXmlPieces.h"

extern char** environ;

namespace korvalin::cli {
namespace {

namespace fs = std::filesystem;

struct TRenderArguments {
    std::vector<std::string> Files;
    TConvertOptions Options;
    std::string Measures;
};

bool EndsWith(std::string text, std::string_view suffix) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "A-B" (or "A") as two measure numbers.
std::pair<std::int64_t, std::int64_t> ParseMeasures(const std::string& text) {
    const auto number = [&](std::string_view part) {
        std::int64_t value = 0;
        const auto result = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || result.ec != std::errc() || result.ptr != part.data() + part.size() || value < 0)
            throw EUsageError("--measures wants A-B, two measure numbers");
        return value;
    };
    const std::string_view all(text);
    const auto dash = all.find('-');
    const std::int64_t from = number(all.substr(0, dash));
    const std::int64_t to = dash == std::string_view::npos ? from : number(all.substr(dash + 1));
    if (to < from) throw EUsageError("--measures: the first measure comes after the last");
    return {from, to};
}

// The helper lies beside this program when installed in one folder, in
// ../libexec/korvalin when installed the usual way, or in ../render in the
// build tree.
fs::path FindHelper() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    const fs::path folder = error ? fs::path(".") : self.parent_path();
    for (const fs::path& candidate :
         {folder / "korvalin-render", folder / ".." / "libexec" / "korvalin" / "korvalin-render",
          folder / ".." / "render" / "korvalin-render"})
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.lexically_normal();
    throw std::runtime_error("Cannot find korvalin-render, which makes the pages, beside " + folder.string());
}

// The helper, started before the score is made so that its web engine comes
// up meanwhile; it waits for the score on its standard input.
class THelper {
public:
    THelper(const fs::path& helper, const std::vector<std::string>& arguments) {
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], STDIN_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
        std::vector<std::string> texts{helper.string()};
        texts.insert(texts.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& text : texts) argv.push_back(text.data());
        argv.push_back(nullptr);
        const int spawned = ::posix_spawn(&FChild, helper.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[0]);
        if (spawned != 0) {
            ::close(pipeEnds[1]);
            throw std::system_error(spawned, std::generic_category(), "Cannot start " + helper.string());
        }
        FInput = pipeEnds[1];
    }

    // A helper whose score never came is stopped.
    ~THelper() {
        if (FInput >= 0) ::close(FInput);
        if (FChild > 0) {
            ::kill(FChild, SIGTERM);
            int status = 0;
            while (::waitpid(FChild, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }

    THelper(const THelper&) = delete;
    THelper& operator=(const THelper&) = delete;

    // Hands over the score and waits for the pages; the helper's exit status.
    int Finish(const std::string& score) {
        // A helper that stops early closes its end; that is its failure to
        // report, not a signal to die of.
        struct sigaction ignore {};
        struct sigaction previous {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &ignore, &previous);
        std::size_t written = 0;
        while (written < score.size()) {
            const ssize_t n = ::write(FInput, score.data() + written, score.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            written += static_cast<std::size_t>(n);
        }
        ::close(FInput);
        FInput = -1;
        ::sigaction(SIGPIPE, &previous, nullptr);
        int status = 0;
        while (::waitpid(FChild, &status, 0) < 0)
            if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
        FChild = 0;
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        throw std::runtime_error("korvalin-render stopped on signal " + std::to_string(WTERMSIG(status)));
    }

private:
    pid_t FChild = 0;
    int FInput = -1;
};

TCommandRunner DefineRender(CLI::App& parser) {
    auto args = std::make_shared<TRenderArguments>();
    parser.add_option("FILE", args->Files, "the MIDI file and the PDF or SVG file to write")->type_name("");
    args->Options.AddTo(parser);
    parser.add_option("--measures", args->Measures, "only the measures numbered A to B")->type_name("A-B");
    return [&parser, args] {
        if (const auto unknown = FirstUnknownOption(parser)) throw EUsageError("unknown option " + *unknown);
        args->Options.Resolve();
        if (args->Files.size() != 2) throw EUsageError("wants an input MIDI file and an output PDF or SVG file");
        const std::string& output = args->Files[1];
        const bool pdf = EndsWith(output, ".pdf");
        if (!pdf && !EndsWith(output, ".svg")) throw EUsageError("the output file must end in .pdf or .svg");
        std::vector<std::string> helperArguments{pdf ? "pdf" : "svg", output};
        if (!args->Measures.empty()) {
            const auto [from, to] = ParseMeasures(args->Measures);
            helperArguments.insert(helperArguments.end(), {"--from", std::to_string(from), "--to", std::to_string(to)});
        }
        THelper helper(FindHelper(), helperArguments);
        std::string score = args->Options.Convert(args->Files[0], output).Text;
        // Only the measures asked for travel: the helper need not read the
        // whole score to draw a few of them.
        if (!args->Measures.empty()) {
            const auto [from, to] = ParseMeasures(args->Measures);
            const TMusicXmlPieceCutter cutter(std::move(score));
            const auto [first, end] = cutter.MeasuresNumbered(from, to);
            score = cutter.Piece(first, end, true).Xml;
        }
        return helper.Finish(score) == 0 ? 0 : 1;
    };
}

const CommandRegistrar registrar({"render",
                                  "render IN.mid OUT.pdf|OUT.svg [--grid 8|16|32] [--tracks I,J,...] "
                                  "[--clef I=auto|treble|bass]... [--name I=TEXT]... [--measures A-B]",
                                  "Lays the score out on pages as the window prints it: a PDF file, or SVG files "
                                  "OUT-1.svg, OUT-2.svg, ... one a page.",
                                  DefineRender});

}  // namespace
}  // namespace korvalin::cli
