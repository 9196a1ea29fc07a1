// korvalin-cli over many files: convert --out-dir and info --json with several
// files, run as the user runs them, against single runs of the same tool.

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "CliSupport.h"
#include "FileIO.h"
#include "MidiBuilder.h"
#include "ScratchFolder.h"

extern char** environ;

namespace korvalin {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using test::Bytes;
using test::MidiBuilder;
using test::ReadText;

// A short untitled melody; `shift` makes files of the same name differ.
Bytes Melody(int shift) {
    MidiBuilder midi(0, 96);
    auto& track = midi.Track().Tempo(0, 500000);
    for (const int pitch : {60, 62, 64, 65, 67, 65, 64, 62}) track.Note(0, 48, 0, pitch + shift);
    track.End();
    return midi.Bytes();
}

std::vector<json> JsonLines(const std::string& text) {
    std::vector<json> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        EXPECT_NE(end, std::string::npos) << "the last line is not ended";
        lines.push_back(json::parse(text.substr(start, end - start)));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

// Every file below `dir`, by its path relative to it.
std::set<std::string> FilesBelow(const fs::path& dir) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file()) files.insert(entry.path().lexically_relative(dir).string());
    return files;
}

class CliBatch : public ::testing::Test {
protected:
    std::string Write(const std::string& relative, const Bytes& bytes) const {
        const auto path = FDir / relative;
        fs::create_directories(path.parent_path());
        WriteFileAtomically(path.string(), bytes);
        return path.string();
    }
    std::string Path(const std::string& relative) const { return (FDir / relative).string(); }
    test::RunResult Run(const std::vector<std::string>& args) const { return test::RunTool(KORVALIN_CLI, args, FDir); }

    // in/a/song.mid and in/b/song.mid (same name, other notes), in/b/deep/tune.MIDI,
    // in/broken.mid between them in name order, and a text file that is no MIDI file.
    void WriteTree() const {
        Write("in/a/song.mid", Melody(0));
        Write("in/b/song.mid", Melody(5));
        Write("in/b/deep/tune.MIDI", Melody(-3));
        Write("in/broken.mid", Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6});
        Write("in/notes.txt", Bytes{'h', 'i'});
    }

    const test::ScratchFolder FScratch{"korvalin-cli-batch"};
    const fs::path& FDir = FScratch.Path();
};

TEST_F(CliBatch, ConvertsATreeAsSingleConvertsWouldAndGoesOnPastABadFile) {
    WriteTree();
    const auto batch = Run({"convert", "--out-dir", Path("out"), "--recursive", "--jobs", "2", "--grid", "8", "--name",
                            "1=Lead", "--report", Path("report.jsonl"), Path("in")});
    EXPECT_EQ(batch.ExitCode, 1);
    EXPECT_EQ(batch.Out, "");
    EXPECT_NE(batch.Err.find(Path("in/broken.mid") + ": The file is too short to be a MIDI file\n"), std::string::npos)
        << batch.Err;
    EXPECT_NE(batch.Err.find("1 of 4 files failed"), std::string::npos) << batch.Err;

    // Same names in different folders stay apart; nothing else is left in the folder.
    const std::set<std::string> expected = {"a/song.musicxml", "b/song.musicxml", "b/deep/tune.musicxml"};
    EXPECT_EQ(FilesBelow(Path("out")), expected);
    for (const auto& name : expected) {
        fs::path source = fs::path("in") / name;
        source.replace_extension(name.find("tune") != std::string::npos ? ".MIDI" : ".mid");
        fs::create_directories(fs::path(Path("single/" + name)).parent_path());
        const auto single =
            Run({"convert", Path(source.string()), Path("single/" + name), "--grid", "8", "--name", "1=Lead"});
        ASSERT_EQ(single.ExitCode, 0) << single.Err;
        EXPECT_EQ(ReadText(Path("out/" + name)), ReadText(Path("single/" + name))) << name;
    }
    EXPECT_NE(ReadText(Path("out/a/song.musicxml")), ReadText(Path("out/b/song.musicxml")));

    // One complete line per file, in the order the files were found.
    const auto lines = JsonLines(ReadText(Path("report.jsonl")));
    ASSERT_EQ(lines.size(), 4u);
    const std::vector<std::string> inputs = {"in/a/song.mid", "in/b/deep/tune.MIDI", "in/b/song.mid", "in/broken.mid"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& line = lines[i];
        std::vector<std::string> members;
        for (const auto& [name, value] : line.items()) members.push_back(name);
        EXPECT_EQ(members, (std::vector<std::string>{"input", "output", "status", "message", "parts", "measures",
                                                     "notes", "seconds"}));
        EXPECT_EQ(line["input"], Path(inputs[i]));
        EXPECT_GE(line["seconds"].get<double>(), 0.0);
    }
    EXPECT_EQ(lines[0]["output"], Path("out/a/song.musicxml"));
    EXPECT_EQ(lines[0]["status"], "ok");
    EXPECT_TRUE(lines[0]["message"].is_null());
    EXPECT_EQ(lines[0]["parts"], 1);
    EXPECT_EQ(lines[0]["measures"], 1);
    EXPECT_EQ(lines[0]["notes"], 8);
    EXPECT_EQ(lines[3]["status"], "failed");
    EXPECT_EQ(lines[3]["message"], "The file is too short to be a MIDI file");
    EXPECT_TRUE(lines[3]["parts"].is_null());
    EXPECT_TRUE(lines[3]["notes"].is_null());
}

TEST_F(CliBatch, FilesOfOneNameGivenTogetherDoNotOverwriteEachOther) {
    WriteTree();
    const auto result =
        Run({"convert", "--out-dir", Path("out"), Path("in/a/song.mid"), Path("in/b/song.mid"), Path("in/b")});
    EXPECT_EQ(result.ExitCode, 1);
    // The folder without --recursive gives only its own song.mid, which also collides.
    EXPECT_NE(result.Err.find("2 of 3 files failed"), std::string::npos) << result.Err;
    EXPECT_NE(result.Err.find(Path("in/b/song.mid") + ": The output"), std::string::npos) << result.Err;
    EXPECT_EQ(FilesBelow(Path("out")), std::set<std::string>{"song.musicxml"});
    fs::create_directories(Path("single"));
    ASSERT_EQ(Run({"convert", Path("in/a/song.mid"), Path("single/song.musicxml")}).ExitCode, 0);
    EXPECT_EQ(ReadText(Path("out/song.musicxml")), ReadText(Path("single/song.musicxml")));
}

TEST_F(CliBatch, WrongUsageIsRefusedBeforeAnyWork) {
    WriteTree();
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"convert", "--out-dir", Path("out"), "--jobs", "0", Path("in")},
             {"convert", "--out-dir", Path("out"), "--grid", "7", Path("in")},
             {"convert", "--out-dir", Path("out")},
             {"convert", Path("in/a/song.mid"), Path("x.musicxml"), "--report", Path("r.jsonl")},
             {"convert", Path("in/a/song.mid"), Path("x.musicxml"), "--recursive"},
             {"info", "--jobs", "2", Path("in/a/song.mid"), Path("in/b/song.mid")}}) {
        const auto result = Run(args);
        EXPECT_EQ(result.ExitCode, 2) << args.back() << result.Err;
        EXPECT_NE(result.Err.find("usage: "), std::string::npos);
    }
    const auto noReport =
        Run({"convert", "--out-dir", Path("out"), "--report", Path("in/notes.txt/r.jsonl"), Path("in")});
    EXPECT_EQ(noReport.ExitCode, 1);
    EXPECT_NE(noReport.Err.find("in/notes.txt"), std::string::npos) << noReport.Err;
    EXPECT_FALSE(fs::exists(Path("out")));
}

TEST_F(CliBatch, InfoGivesOneLinePerFileEqualToItsSingleObject) {
    WriteTree();
    const auto result = Run({"info", "--json", "--notes", "--jobs", "2", "--recursive", Path("in"),
                             Path("in/a/song.mid"), Path("in/missing.mid")});
    EXPECT_EQ(result.ExitCode, 1);
    const auto lines = JsonLines(result.Out);
    const std::vector<std::string> files = {"in/a/song.mid", "in/b/deep/tune.MIDI", "in/b/song.mid",
                                            "in/broken.mid", "in/a/song.mid",       "in/missing.mid"};
    ASSERT_EQ(lines.size(), files.size()) << result.Out;
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(lines[i].begin().key(), "file");
        EXPECT_EQ(lines[i]["file"], Path(files[i]));
        const auto single = Run({"info", "--json", "--notes", Path(files[i])});
        if (single.ExitCode == 0) {
            json object = lines[i];
            object.erase("file");
            EXPECT_EQ(object, json::parse(single.Out)) << files[i];
        } else {
            EXPECT_EQ(single.ExitCode, 1);
            EXPECT_EQ(lines[i],
                      (json{{"file", Path(files[i])}, {"error", single.Err.substr(0, single.Err.size() - 1)}}));
            EXPECT_NE(result.Err.find(Path(files[i]) + ": " + single.Err), std::string::npos) << result.Err;
        }
    }
}

// Interrupted at any moment, a batch leaves only whole scores, no temporary
// files, and a report whose every line is complete.
TEST_F(CliBatch, AnInterruptLeavesOnlyWholeFiles) {
    MidiBuilder midi(1, 480);
    midi.Track().Name("Study").Tempo(0, 500000).End();
    for (int voice = 0; voice < 4; ++voice) {
        auto& track = midi.Track();
        for (int i = 0; i < 3000; ++i)
            track.Note(0, 120 + static_cast<std::uint32_t>(i % 3) * 60, voice, 40 + voice * 12 + i % 11);
        track.End();
    }
    const Bytes bytes = midi.Bytes();
    for (int i = 0; i < 40; ++i) Write("in/study" + std::to_string(i) + ".mid", bytes);
    ASSERT_EQ(Run({"convert", Path("in/study0.mid"), Path("single.musicxml")}).ExitCode, 0);
    const std::string whole = ReadText(Path("single.musicxml"));

    const std::string tool = KORVALIN_CLI;
    const std::vector<std::string> args = {tool, "convert",  "--out-dir",          Path("out"), "--jobs",
                                           "2",  "--report", Path("report.jsonl"), Path("in")};
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, Path("stderr.txt").c_str(), O_WRONLY | O_CREAT, 0644);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Stop it once one score is whole, while others are being written.
    const auto oneWhole = [&] {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(Path("out"), ec))
            if (entry.path().filename().string()[0] != '.') return true;
        return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!oneWhole() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    // Ended by the signal, as a shell expects; or done before it came.
    EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) || (WIFEXITED(status) && WEXITSTATUS(status) == 0))
        << status;

    const auto outputs = FilesBelow(Path("out"));
    for (const auto& name : outputs) {
        EXPECT_NE(name[0], '.') << "a temporary file survived: " << name;
        EXPECT_EQ(ReadText(Path("out/" + name)), whole) << name;
    }
    const auto lines = JsonLines(ReadText(Path("report.jsonl")));
    EXPECT_EQ(lines.size(), outputs.size());
    for (const auto& line : lines) {
        EXPECT_EQ(line.size(), 8u);
        EXPECT_EQ(line["status"], "ok");
        EXPECT_TRUE(outputs.contains(fs::path(line["output"].get<std::string>()).filename().string()));
    }
}

}  // namespace
}  // namespace korvalin
