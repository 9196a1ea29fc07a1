// Finding the MIDI files of a batch, the worker threads that share them out,
// and the terminal output several threads write at once.

#include "Batch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <thread>

#include "CliCommand.h"

namespace korvalin::cli {
namespace fs = std::filesystem;

namespace {

bool IsMidiFileName(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return extension == ".mid" || extension == ".midi";
}

// The MIDI files of one folder (and of its subfolders when `recursive`).
void CollectFolder(const fs::path& folder, bool recursive, std::vector<TBatchInput>& out) {
    std::vector<TBatchInput> found;
    const auto add = [&](const fs::directory_entry& entry) {
        std::error_code ec;
        if (IsMidiFileName(entry.path()) && entry.is_regular_file(ec))
            found.push_back({entry.path().string(), entry.path().lexically_relative(folder), {}});
    };
    const auto failed = [&](const fs::path& where, const std::error_code& ec) {
        out.push_back({where.string(), {}, "Cannot read folder \"" + where.string() + "\": " + ec.message()});
    };
    std::error_code ec;
    if (recursive) {
        // Linked folders are not followed: a link to a parent would never end.
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) add(*it);
    } else {
        fs::directory_iterator it(folder, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) add(*it);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.Relative < b.Relative; });
    out.insert(out.end(), found.begin(), found.end());
    if (ec) failed(folder, ec);
}

void WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t put = ::write(fd, text.data(), text.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return;  // nowhere to say it; the exit status still tells
        text.remove_prefix(static_cast<std::size_t>(put));
    }
}

}  // namespace

std::vector<TBatchInput> CollectInputs(const std::vector<std::string>& args, bool recursive) {
    std::vector<TBatchInput> inputs;
    for (const std::string& arg : args) {
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            CollectFolder(arg, recursive, inputs);
        } else {
            // Anything else is tried as a file, so a missing or unreadable one
            // fails with the loader's own message.
            fs::path name = fs::path(arg).filename();
            if (name.empty()) name = fs::path(arg).parent_path().filename();
            inputs.push_back({arg, name, {}});
        }
    }
    return inputs;
}

void TBatchOptions::AddTo(CLI::App& parser) {
    JobsOption = parser.add_option("--jobs", JobsText, "files converted at once (default: one per core)")
                     ->type_name("N")
                     ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    parser.add_flag("--recursive", Recursive, "take the MIDI files of every subfolder too, keeping the folders");
}

std::size_t TBatchOptions::Jobs() const {
    if (JobsOption == nullptr || JobsOption->count() == 0)
        return std::max<std::size_t>(1, std::thread::hardware_concurrency());
    std::size_t jobs = 0;
    const auto result = std::from_chars(JobsText.data(), JobsText.data() + JobsText.size(), jobs);
    if (JobsText.empty() || result.ec != std::errc() || result.ptr != JobsText.data() + JobsText.size() || jobs < 1 ||
        jobs > 1024)
        throw EUsageError("--jobs must be a whole number from 1 to 1024");
    return jobs;
}

void RunParallel(std::size_t count, std::size_t jobs, const std::function<void(std::size_t)>& work) {
    std::atomic<std::size_t> next{0};
    const auto worker = [&] {
        for (std::size_t i = next++; i < count; i = next++) work(i);
    };
    const std::size_t threads = std::min(jobs, count);
    if (threads <= 1) {
        worker();
        return;
    }
    std::vector<std::jthread> pool;
    pool.reserve(threads);
    for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(worker);
}

TConsole::TConsole(std::string_view verb, std::size_t total)
    : FVerb(verb), FTotal(total), FShowProgress(::isatty(STDERR_FILENO) == 1) {}

void TConsole::Out(std::string_view line) {
    const std::lock_guard lock(FLock);
    WriteLocked(STDOUT_FILENO, line);
}

void TConsole::Err(std::string_view line) {
    const std::lock_guard lock(FLock);
    WriteLocked(STDERR_FILENO, line);
}

void TConsole::Done(bool failed) {
    const std::lock_guard lock(FLock);
    ++FDone;
    if (failed) ++FFailed;
    if (!FShowProgress) return;
    // A terminal redrawn for every one of thousands of small files would slow the work down.
    const auto now = std::chrono::steady_clock::now();
    if (FDone == FTotal || now - FLastDrawn >= std::chrono::milliseconds(100)) {
        FLastDrawn = now;
        DrawProgressLocked();
    }
}

void TConsole::Finish() {
    const std::lock_guard lock(FLock);
    if (FProgressShown) WriteAll(STDERR_FILENO, "\n");
    FProgressShown = false;
}

void TConsole::Seize(std::string_view lastWords) {
    FLock.lock();
    if (FProgressShown) WriteAll(STDERR_FILENO, "\n");
    FProgressShown = false;
    WriteAll(STDERR_FILENO, lastWords);
}

void TConsole::WriteLocked(int fd, std::string_view text) {
    const bool redraw = FProgressShown;
    if (redraw) ClearProgressLocked();
    WriteAll(fd, text);
    if (redraw) DrawProgressLocked();
}

void TConsole::DrawProgressLocked() {
    std::string line = "\r" + FVerb + ": " + std::to_string(FDone) + " of " + std::to_string(FTotal) + " files";
    if (FFailed > 0) line += ", " + std::to_string(FFailed) + " failed";
    line += "\x1B[K";
    WriteAll(STDERR_FILENO, line);
    FProgressShown = true;
}

void TConsole::ClearProgressLocked() {
    WriteAll(STDERR_FILENO, "\r\x1B[K");
    FProgressShown = false;
}

}  // namespace korvalin::cli
