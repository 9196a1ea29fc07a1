// convert --out-dir: every file of a collection converted on its own thread,
// its outcome written to the JSON-lines report.

#include "BatchConvert.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>

#include "FileIO.h"
#include "JsonLine.h"
#include "StopSignals.h"

namespace korvalin::cli {
namespace {

namespace fs = std::filesystem;

struct TFileResult {
    bool Finished = false;
    bool Failed = false;
    std::string Output;
    std::string Message;
    TConvertedScore Score;
    double Seconds = 0;
};

// Each input's output below `outDir`, named after it; a second input that
// would write the same file fails rather than overwrite the first one's.
std::vector<std::string> OutputNames(const std::vector<TBatchInput>& inputs, const fs::path& outDir,
                                     std::vector<std::string>& collisions) {
    std::vector<std::string> outputs;
    std::map<std::string, std::size_t> owners;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        fs::path relative = inputs[i].Relative;
        relative.replace_extension(".musicxml");
        outputs.push_back((outDir / relative).lexically_normal().string());
        const auto [owner, isNew] = owners.emplace(outputs.back(), i);
        collisions.push_back(isNew || !inputs[i].Error.empty()
                                 ? std::string()
                                 : "The output \"" + outputs.back() + "\" is already written for \"" +
                                       inputs[owner->second].Path + "\"; convert this file into another folder");
    }
    return outputs;
}

std::string ReportLine(const TBatchInput& input, const TFileResult& result) {
    const auto count = [&](std::int64_t value) { return result.Failed ? TJson(nullptr) : TJson(value); };
    const TJson line = {
        {"input", input.Path},
        {"output", result.Output},
        {"status", result.Failed ? "failed" : "ok"},
        {"message", result.Failed ? TJson(result.Message) : TJson(nullptr)},
        {"parts", count(result.Score.Parts)},
        {"measures", count(result.Score.Measures)},
        {"notes", count(result.Score.Notes)},
        {"seconds", std::round(result.Seconds * 1e6) / 1e6},
    };
    return JsonLine(line);
}

// Makes a folder with the folders above it; an empty path is the current folder.
void MakeFolder(const fs::path& folder) {
    std::error_code ec;
    if (!folder.empty()) fs::create_directories(folder, ec);
    if (ec) throw EFileError("Cannot create folder \"" + folder.string() + "\": " + ec.message());
}

}  // namespace

int RunBatchConvert(const std::vector<std::string>& args, const TConvertOptions& options, const std::string& outDir,
                    const TBatchOptions& batch, const std::optional<std::string>& report) {
    const std::size_t jobs = batch.Jobs();
    // A report that cannot be written is better said before hours of work than after.
    if (report) MakeFolder(fs::path(*report).parent_path());
    const auto inputs = CollectInputs(args, batch.Recursive);
    if (inputs.empty()) throw std::runtime_error("No MIDI files (*.mid, *.midi) found to convert");
    MakeFolder(outDir);

    std::vector<std::string> collisions;
    const auto outputs = OutputNames(inputs, outDir, collisions);
    std::vector<TFileResult> results(inputs.size());
    std::mutex resultsLock;
    TConsole console("Converting", inputs.size());
    TTempFileRegistry registry;

    const auto writeReport = [&] {
        if (!report) return;
        std::string text;
        for (std::size_t i = 0; i < inputs.size(); ++i)
            if (results[i].Finished) text += ReportLine(inputs[i], results[i]);
        WriteFileAtomically(*report, text);
    };

    // Ctrl+C: what is being written is removed, what is written stays, and the
    // report tells which files were done.
    const TStopSignals stopSignals([&] {
        registry.Close();
        console.Seize("korvalin-cli convert: interrupted\n");
        const std::lock_guard lock(resultsLock);
        try {
            writeReport();
        } catch (const std::exception&) {  // nothing more to do on the way out
        }
    });

    RunParallel(inputs.size(), jobs, [&](std::size_t i) {
        const auto start = std::chrono::steady_clock::now();
        TFileResult result;
        result.Output = outputs[i];
        try {
            if (!inputs[i].Error.empty()) throw std::runtime_error(inputs[i].Error);
            if (!collisions[i].empty()) throw std::runtime_error(collisions[i]);
            result.Score = options.Convert(inputs[i].Path, outputs[i]);
            MakeFolder(fs::path(outputs[i]).parent_path());
            WriteFileAtomically(outputs[i], result.Score.Text, &registry);
            result.Score.Text = std::string();
        } catch (const std::exception& e) {
            result.Failed = true;
            result.Message = e.what();
            result.Score = TConvertedScore();
            console.Err(inputs[i].Path + ": " + result.Message + "\n");
        }
        result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.Finished = true;
        const bool fileFailed = result.Failed;
        {
            const std::lock_guard lock(resultsLock);
            results[i] = std::move(result);
        }
        console.Done(fileFailed);
    });
    console.Finish();

    std::size_t failed = 0;
    for (const auto& result : results)
        if (result.Failed) ++failed;
    {
        const std::lock_guard lock(resultsLock);
        writeReport();
    }
    if (failed > 0)
        console.Err("korvalin-cli convert: " + std::to_string(failed) + " of " + std::to_string(inputs.size()) +
                    " files failed\n");
    return failed > 0 ? 1 : 0;
}

}  // namespace korvalin::cli
