#pragma once

// What the commands that work through many files share: finding the MIDI
// files, spreading them over threads, and speaking to the terminal from
// several threads at once.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

namespace korvalin::cli {

// One file of a batch. Relative is where it sits below the folder it was found
// in (just its name when it was given as a file). A folder that could not be
// read is an entry of its own, with the reason in Error.
struct TBatchInput {
    std::string Path;
    std::filesystem::path Relative;
    std::string Error;
};

// The files named on the command line: files as given, folders by their MIDI
// files (*.mid and *.midi in any case), with `recursive` their whole trees.
// Each folder's files come in name order, so every run lists them alike.
std::vector<TBatchInput> CollectInputs(const std::vector<std::string>& args, bool recursive);

// --jobs and --recursive, as the batch commands declare and read them.
struct TBatchOptions {
    std::string JobsText;
    bool Recursive = false;
    CLI::Option* JobsOption = nullptr;

    void AddTo(CLI::App& parser);
    // The number of threads: --jobs, else every core. Throws EUsageError.
    std::size_t Jobs() const;
};

// Calls work(i) for every i below `count`, on up to `jobs` threads; indexes are
// handed out in order. `work` must not throw.
void RunParallel(std::size_t count, std::size_t jobs, const std::function<void(std::size_t)>& work);

// Whole lines to standard output and standard error from several threads, and
// a progress line ("12 of 250 files, 1 failed") kept below them on standard
// error when that is a terminal.
class TConsole {
public:
    TConsole(std::string_view verb, std::size_t total);

    void Out(std::string_view line);
    void Err(std::string_view line);
    // Counts a finished file and redraws the progress line now and then.
    void Done(bool failed);
    // Ends the progress line, so what follows starts on a line of its own.
    void Finish();
    // Holds the console for good, after saying `lastWords` on standard error: a
    // process that ends now leaves no line half written.
    void Seize(std::string_view lastWords);

private:
    void WriteLocked(int fd, std::string_view text);
    void DrawProgressLocked();
    void ClearProgressLocked();

    std::mutex FLock;
    std::string FVerb;
    std::size_t FTotal;
    std::size_t FDone = 0;
    std::size_t FFailed = 0;
    bool FShowProgress;
    bool FProgressShown = false;
    std::chrono::steady_clock::time_point FLastDrawn{};
};

}  // namespace korvalin::cli
