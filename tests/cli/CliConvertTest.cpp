// korvalin-cli convert, run as the user runs it: the document it writes must be
// byte for byte the one the exporter builds for the same choices and target.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FileIO.h"
#include "CliSupport.h"
#include "MidiBuilder.h"
#include "ScratchFolder.h"
#include "MidiParser.h"
#include "MusicXmlExporter.h"

#include <nlohmann/json.hpp>

namespace korvalin {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::MidiBuilder;

using test::ReadText;

// Conductor (track 1, no notes), a treble line (track 2), an untitled-looking
// bass (track 3), a second empty track (track 4).
Bytes ThreePartFile() {
    MidiBuilder midi(1, 480);
    midi.Track().Name("Sonata").Tempo(0, 600000).TimeSig(0, 3, 2).KeySig(0, 1, false).End();
    midi.Track().Name("Right").Note(0, 700, 0, 76).Note(20, 460, 0, 79).Note(0, 1500, 0, 74).End();
    midi.Track().Name("Left").Note(0, 1440, 1, 55).Note(0, 1440, 1, 62).Note(0, 2900, 1, 50).End();
    midi.Track().Name("Lyrics").End();
    return midi.Bytes();
}

class CliConvert : public ::testing::Test {
protected:
    void SetUp() override {
        FInput = (FDir / "sonata.mid").string();
        WriteFileAtomically(FInput, ThreePartFile());
        FMidi.LoadFromFile(FInput);
    }

    int Run(const std::vector<std::string>& args) {
        const auto result = test::RunTool(KORVALIN_CLI, args, FDir);
        FErr = result.Err;
        return result.ExitCode;
    }

    std::string Target(const std::string& name) const { return (FDir / name).string(); }
    TMidiTrack& Track(std::size_t index) { return *FMidi.Tracks()[index - 1]; }

    const test::ScratchFolder FScratch{"korvalin-cli-convert"};
    const fs::path& FDir = FScratch.Path();
    std::string FInput;
    TMidiFile FMidi;
    std::string FErr;
};

TEST_F(CliConvert, DefaultsToEveryTrackWithNotesOnTheSixteenthGrid) {
    const std::string out = Target("default.musicxml");
    ASSERT_EQ(Run({"convert", FInput, out}), 0) << FErr;
    EXPECT_EQ(ReadText(out), BuildMusicXmlText(FMidi, std::vector<const TMidiTrack*>{&Track(2), &Track(3)}, out, 16));
}

TEST_F(CliConvert, ChoicesGiveTheWindowsDocumentWithPartsInFileOrder) {
    const std::string out = Target("My Export.musicxml");
    Track(3).ClefMode = TClefMode::cmTreble;
    Track(3).ExportName = "Left & <hand>";
    Track(2).ClefMode = TClefMode::cmBass;
    ASSERT_EQ(Run({"convert", FInput, out, "--tracks", "3,2", "--grid", "8", "--clef", "3=treble", "--clef", "2=bass",
                   "--name", "3=Left & <hand>"}),
              0)
        << FErr;
    EXPECT_EQ(ReadText(out), BuildMusicXmlText(FMidi, std::vector<const TMidiTrack*>{&Track(2), &Track(3)}, out, 8));
}

TEST_F(CliConvert, ReadableNotationIsTheExportersReadableDocument) {
    const std::string literal = Target("literal.musicxml");
    const std::string readable = Target("readable.musicxml");
    ASSERT_EQ(Run({"convert", FInput, literal, "--notation", "literal"}), 0) << FErr;
    ASSERT_EQ(Run({"convert", FInput, readable, "--grid", "8", "--notation", "readable"}), 0) << FErr;
    const std::vector<const TMidiTrack*> tracks{&Track(2), &Track(3)};
    EXPECT_EQ(ReadText(literal), BuildMusicXmlText(FMidi, tracks, literal, 16));
    TExportOptions options;
    options.Notation = TNotationMode::nmReadable;
    EXPECT_EQ(ReadText(readable), BuildMusicXmlText(FMidi, tracks, readable, 8, options));
}

TEST_F(CliConvert, AutomaticGridAndReportSayWhatReadableNotationDid) {
    // A line of eighth triplets, then straight eighths: the coarsest grid
    // with its triplets holds it, and the report counts the triplets.
    MidiBuilder midi(1, 480);
    midi.Track().Name("Triplets").Tempo(0, 500000).TimeSig(0, 4, 2).KeySig(0, 0, false).End();
    auto& flute = midi.Track().Name("Flute");
    for (int i = 0; i < 6; ++i) flute.Note(0, 160, 0, 72 + i);
    flute.Note(10, 230, 0, 79);  // played a little late
    for (int i = 1; i < 4; ++i) flute.Note(0, 240, 0, 79 - i);
    flute.End();
    const std::string input = Target("triplets.mid");
    WriteFileAtomically(input, midi.Bytes());
    const std::string out = Target("auto.musicxml");
    const std::string report = Target("auto.json");
    ASSERT_EQ(Run({"convert", input, out, "--notation", "readable", "--grid", "auto", "--report", report}), 0) << FErr;
    TMidiFile file;
    file.LoadFromFile(input);
    TExportOptions options;
    options.Notation = TNotationMode::nmReadable;
    options.AutoGrid = true;
    EXPECT_EQ(ReadText(out),
              BuildMusicXmlText(file, std::vector<const TMidiTrack*>{file.Tracks()[1].get()}, out, 16, options));
    const auto json = nlohmann::json::parse(ReadText(report));
    ASSERT_EQ(json["parts"].size(), 1u);
    const auto& part = json["parts"][0];
    EXPECT_EQ(part["name"], "Flute");
    EXPECT_EQ(part["notes"], 10);
    EXPECT_EQ(part["notesMoved"], 1);
    EXPECT_EQ(part["largestMove"]["ticks"], 10);
    EXPECT_DOUBLE_EQ(part["largestMove"]["quarters"].get<double>(), 10.0 / 480);
    EXPECT_EQ(part["tuplets"]["eighth triplet"], 2);
    EXPECT_EQ(part["grid"], "1/8");
    EXPECT_EQ(part["gridChosen"], "auto");
    EXPECT_EQ(part["voicesPerStaff"], nlohmann::json::array({1}));
    EXPECT_EQ(part["staves"], 1);
    EXPECT_EQ(json["pickup"], nlohmann::json({{"quarters", 0.0}, {"firstMeasureTick", 0}}));
    // The literal transcription keeps its three grids; a report of it is not offered.
    EXPECT_EQ(Run({"convert", input, Target("x.musicxml"), "--grid", "auto"}), 2);
    EXPECT_EQ(Run({"convert", input, Target("x.musicxml"), "--report", Target("x.json")}), 2);
    EXPECT_FALSE(fs::exists(Target("x.musicxml")));
    EXPECT_FALSE(fs::exists(Target("x.json")));
}

TEST_F(CliConvert, AFilePlayedFreelyIsReportedWithItsTempoCurveAndCanBeCorrected) {
    // A waltz played without a click under the default tempo: a low note on
    // each downbeat, a chord on the other beats, the beat drifting slowly.
    MidiBuilder midi(1, 480);
    midi.Track().Name("Played").Tempo(0, 500000).TimeSig(0, 4, 2).End();
    auto& piano = midi.Track().Name("Piano");
    std::uint32_t last = 0;
    double seconds = 0.5;
    for (int beat = 0; beat < 96; ++beat) {
        const auto tick = static_cast<std::uint32_t>(seconds * 960 + (beat * 7 % 5) * 9);
        const int root = 43 + (beat / 3) % 4 * 2;
        const std::uint32_t length = beat % 3 == 0 ? 460 : 300;
        piano.NoteOn(tick - last, 0, beat % 3 == 0 ? root : root + 16, beat % 3 == 0 ? 100 : 70)
            .NoteOn(0, 0, root + 24, 70)
            .NoteOff(length, 0, beat % 3 == 0 ? root : root + 16)
            .NoteOff(0, 0, root + 24);
        last = tick + length;
        seconds += 0.62 + 0.06 * std::sin(beat / 9.0);
    }
    piano.End();
    const std::string input = Target("waltz.mid");
    WriteFileAtomically(input, midi.Bytes());
    const std::string out = Target("waltz.musicxml");
    const std::string report = Target("waltz.json");
    ASSERT_EQ(Run({"convert", input, out, "--notation", "readable", "--grid", "auto", "--report", report}), 0) << FErr;
    const auto found = nlohmann::json::parse(ReadText(report))["performance"];
    ASSERT_TRUE(found.is_object());
    EXPECT_EQ(found["meter"], "3/4");
    EXPECT_GE(found["beatSeconds"].size(), 90u);
    EXPECT_GT(found["tempo"]["fastest"].get<double>(), found["tempo"]["slowest"].get<double>());

    // The meter corrected: the same beats, other bars.
    ASSERT_EQ(Run({"convert", input, out, "--notation", "readable", "--meter", "2/4", "--report", report}), 0) << FErr;
    const auto corrected = nlohmann::json::parse(ReadText(report))["performance"];
    EXPECT_EQ(corrected["meter"], "2/4");
    EXPECT_EQ(corrected["beatSeconds"], found["beatSeconds"]);
    EXPECT_NE(ReadText(out).find("<beats>2</beats>"), std::string::npos);

    // The file's own timing, as asked: no performance, the exporter's document on the file's ticks.
    ASSERT_EQ(Run({"convert", input, out, "--notation", "readable", "--timing", "file", "--report", report}), 0)
        << FErr;
    EXPECT_FALSE(nlohmann::json::parse(ReadText(report)).contains("performance"));
    TMidiFile file;
    file.LoadFromFile(input);
    TExportOptions options;
    options.Notation = TNotationMode::nmReadable;
    options.Performance.Timing = TPerformanceTiming::ptFile;
    EXPECT_EQ(ReadText(out),
              BuildMusicXmlText(file, std::vector<const TMidiTrack*>{file.Tracks()[1].get()}, out, 16, options));

    const std::string none = Target("none.musicxml");
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--meter", "3/5"},
                                                  {"--meter", "x"},
                                                  {"--first-beat", "-1"},
                                                  {"--first-beat", "2:5"},
                                                  {"--timing", "free"},
                                                  {"--timing", "file", "--meter", "3/4"}}) {
        std::vector<std::string> args = {"convert", input, none, "--notation", "readable"};
        args.insert(args.end(), wrong.begin(), wrong.end());
        EXPECT_EQ(Run(args), 2) << wrong.front();
    }
    EXPECT_EQ(Run({"convert", input, none, "--meter", "3/4"}), 2);  // literal notation has no performance stage
    EXPECT_FALSE(fs::exists(none));
}

TEST_F(CliConvert, UsageErrorsExitTwoAndWriteNothing) {
    const std::string out = Target("none.musicxml");
    EXPECT_EQ(Run({"convert", FInput, out, "--tracks", "5"}), 2);
    EXPECT_NE(FErr.find("usage:"), std::string::npos);
    EXPECT_EQ(Run({"convert", FInput, out, "--tracks", "2,x"}), 2);
    EXPECT_EQ(Run({"convert", FInput, out, "--grid", "12"}), 2);
    EXPECT_EQ(Run({"convert", FInput, out, "--clef", "2=alto"}), 2);
    EXPECT_EQ(Run({"convert", FInput, out, "--notation", "pretty"}), 2);
    EXPECT_EQ(Run({"convert", FInput, out, "--name", "9=Nobody"}), 2);
    EXPECT_EQ(Run({"convert", FInput}), 2);
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(CliConvert, RefusalsExitOneAndLeaveTheTargetAsItWas) {
    const std::string out = Target("kept.musicxml");
    const std::string old = "previous score\n";
    WriteFileAtomically(out, old);
    EXPECT_EQ(Run({"convert", FInput, out, "--tracks", "2,4"}), 1);
    EXPECT_EQ(FErr, "The selected track contains no notes\n");
    EXPECT_EQ(Run({"convert", Target("missing.mid"), out}), 1);
    const std::string broken = Target("broken.mid");
    WriteFileAtomically(broken, std::string_view("MThd"));
    EXPECT_EQ(Run({"convert", broken, out}), 1);
    EXPECT_EQ(FErr, "The file is too short to be a MIDI file\n");
    EXPECT_EQ(ReadText(out), old);
}

}  // namespace
}  // namespace korvalin
