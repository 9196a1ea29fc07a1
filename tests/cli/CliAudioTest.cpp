// korvalin-cli audio: runs the built tool, reads its files back with sox.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "AudioProbe.h"
#include "CliSupport.h"
#include "MidiBuilder.h"
#include "ScratchFolder.h"

using korvalin::test::MidiBuilder;
using korvalin::test::RunTool;

namespace {

// A conductor at 120 BPM in A minor and two parts of 3 s; the second holds
// its note only half as long.
std::filesystem::path WriteDuet(const std::filesystem::path& folder) {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).KeySig(0, 0, true).End();
    midi.Track().Name("Flute").Program(0, 0, 73).Note(0, 480 * 6, 0, 69).End();
    midi.Track().Name("Cello").Program(0, 1, 42).Note(0, 480 * 3, 1, 45).End();
    const auto path = folder / "duet.mid";
    const auto bytes = midi.Bytes();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// The music's length plus the shortest release the renderer adds.
constexpr double kReleaseSeconds = 1.0;

TEST(CliAudio, WritesEachTypeWithTheNewKeyTempoAndParts) {
    const korvalin::test::ScratchFolder scratch("korvalin-cli-audio");
    const auto midi = WriteDuet(scratch.Path());
    struct TCase {
        const char* Name;
        std::vector<std::string> Options;
        double MusicSeconds;
        const char* Says;
    };
    for (const TCase& c :
         {TCase{"same.wav", {}, 3.0, "the file as it is"},
          TCase{"slow.flac", {"--tempo", "60", "--key", "e minor"}, 6.0, "E minor (-5 semitones), 60 BPM"},
          TCase{"cello.ogg", {"--tracks", "3", "--fifths", "-1"}, 1.5, "D minor (+5 semitones)"}}) {
        SCOPED_TRACE(c.Name);
        const auto target = scratch.Path() / c.Name;
        std::vector<std::string> args{"audio", midi.string(), target.string()};
        args.insert(args.end(), c.Options.begin(), c.Options.end());
        const auto run = RunTool(KORVALIN_CLI, args, scratch.Path());
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        EXPECT_NE(run.Out.find(c.Says), std::string::npos) << run.Out;
        const double expected = c.MusicSeconds + kReleaseSeconds;
        const auto seconds = korvalin::test::SoxiSeconds(target.string());
        ASSERT_TRUE(seconds.has_value());
        EXPECT_NEAR(*seconds, expected, expected * 0.02);
        EXPECT_GT(korvalin::test::SoxRms(target.string()).value_or(0), 0.002);
    }
}

TEST(CliAudio, ARefusedWriteSaysWhyAndLeavesTheTargetAsItWas) {
    const korvalin::test::ScratchFolder scratch("korvalin-cli-audio");
    const auto midi = WriteDuet(scratch.Path());
    const auto target = scratch.Path() / "kept.wav";
    std::ofstream(target) << "the user's old file";
    std::ofstream(scratch.Path() / "text.sf2") << "not a SoundFont";
    struct TCase {
        std::vector<std::string> Args;
        int Exit;
        const char* Says;
    };
    const std::string in = midi.string();
    const std::string out = target.string();
    for (const TCase& c :
         {TCase{{"audio", in, out, "--soundfont", (scratch.Path() / "text.sf2").string()}, 1, "Not a SoundFont"},
          TCase{{"audio", in, out, "--soundfont", (scratch.Path() / "none.sf2").string()}, 1, "not found"},
          TCase{{"audio", in, out, "--tracks", "1"}, 1, "has no notes"},
          TCase{{"audio", in, out, "--key", "G major"}, 2, "not a minor key"},
          TCase{{"audio", in, (scratch.Path() / "x.mp3").string()}, 2, ".wav, .flac or .ogg"}}) {
        SCOPED_TRACE(c.Args.back());
        const auto run = RunTool(KORVALIN_CLI, c.Args, scratch.Path());
        EXPECT_EQ(run.ExitCode, c.Exit);
        EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
        EXPECT_EQ(korvalin::test::ReadText(target), "the user's old file");
    }
    // duet.mid, text.sf2 and the old file: no temporary file was left.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.Path()), {}), 3);
}

}  // namespace
