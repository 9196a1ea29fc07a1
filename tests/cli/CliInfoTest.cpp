// korvalin-cli info, run as the user runs it: on files written here, reading
// back what it prints and its exit status.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "CliSupport.h"
#include "MidiBuilder.h"
#include "ScratchFolder.h"

namespace {

namespace fs = std::filesystem;
using korvalin::test::Bytes;
using korvalin::test::MidiBuilder;

using korvalin::test::ReadText;
using korvalin::test::RunResult;
using korvalin::test::ShellQuoted;

class CliInfo : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const Bytes& bytes) const {
        const auto path = FDir / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    RunResult Run(const std::vector<std::string>& args) const {
        return korvalin::test::RunTool(KORVALIN_CLI, args, FDir);
    }

    // The document read back by Python's strict parser and printed again on one
    // line; fails the test when it does not parse.
    std::string Canonical(const std::string& json) const {
        const auto file = FDir / "document.json";
        std::ofstream(file, std::ios::binary) << json;
        const auto out = FDir / "canonical.txt";
        const std::string command = ShellQuoted(KORVALIN_PYTHON) + " " + ShellQuoted(KORVALIN_JSON_CANONICAL) + " " +
                                    ShellQuoted(file.string()) + " >" + ShellQuoted(out.string()) + " 2>&1";
        const int status = std::system(command.c_str());
        const auto text = ReadText(out);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "not valid JSON: " << text << "\n" << json;
        return text.empty() || text.back() != '\n' ? text : text.substr(0, text.size() - 1);
    }

    // A conductor track, a piano part and a bass part.
    static Bytes ThreeTrackSong() {
        MidiBuilder midi(1, 480);
        midi.Track().Name("My Song").Tempo(0, 500000).TimeSig(0, 3, 2).KeySig(0, -3, false).End();
        midi.Track()
            .Name("Piano")
            .Instrument("Grand")
            .Program(0, 0, 1)
            .Note(0, 480, 0, 60, 90)
            .Note(0, 240, 0, 79, 70)
            .End();
        midi.Track().Name("Bass").Note(0, 960, 1, 40, 100).Note(0, 960, 1, 67, 101).End();
        return midi.Bytes();
    }

    const korvalin::test::ScratchFolder FScratch{"korvalin-cli-info"};
    const fs::path& FDir = FScratch.Path();
};

TEST_F(CliInfo, TextShowsTheWindowsLabelsAndOneLinePerPart) {
    const auto result = Run({"info", Write("song.mid", ThreeTrackSong())});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Err, "");
    EXPECT_EQ(result.Out,
              "Tempo: 120.0 BPM\n"
              "Key: Eb major (from file)\n"
              "Format 1 \u00B7 PPQN 480 \u00B7 time 3/4 \u00B7 parts: 2 \u00B7 service tracks: 1\n"
              "#\tPart\tNotes\tRange\tClef\tStaves\n"
              "2\tPiano\t2\tC4 \u2013 G5\tAutomatic\tsingle\n"
              "3\tBass\t2\tE2 \u2013 G4\tAutomatic\tsingle\n");
}

TEST_F(CliInfo, TextSaysWhatIsMissing) {
    MidiBuilder midi(0, 96);
    midi.Track().Name("Drums").Note(0, 10, 9, 36).End();
    const auto result = Run({"info", Write("drums.mid", midi.Bytes())});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Out,
              "Tempo: not specified\n"
              "Key: not detected\n"
              "Format 0 \u00B7 PPQN 96 \u00B7 time 4/4 \u00B7 parts: 1 \u00B7 service tracks: 0\n"
              "#\tPart\tNotes\tRange\tClef\tStaves\n"
              "1\tDrums\t1\tC2 \u2013 C2\tAutomatic\tpercussion\n");
}

TEST_F(CliInfo, TextNamesAnEstimatedKeyAndRoundsTheTempoToOneDecimal) {
    MidiBuilder midi(0, 480);
    auto& track = midi.Track().Tempo(0, 461538);
    for (const int pitch : {57, 60, 64, 57}) track.Note(0, 480, 0, pitch);
    track.End();
    const auto result = Run({"info", Write("estimated.mid", midi.Bytes())});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_NE(result.Out.find("Tempo: 130.0 BPM\n"), std::string::npos) << result.Out;
    EXPECT_NE(result.Out.find("Key: A minor (estimated from notes)\n"), std::string::npos) << result.Out;
}

TEST_F(CliInfo, TextWithoutPartsHasNoTrackTable) {
    MidiBuilder midi(1, 96);
    midi.Track().Tempo(0, 600000).End();
    midi.Track().End();
    const auto result = Run({"info", Write("empty.mid", midi.Bytes())});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Out,
              "Tempo: 100.0 BPM\n"
              "Key: not detected\n"
              "Format 1 \u00B7 PPQN 96 \u00B7 time 4/4 \u00B7 parts: 0 \u00B7 service tracks: 2\n");
}

TEST_F(CliInfo, TextKeepsControlCharactersOfPartNamesOffTheTerminal) {
    MidiBuilder midi(0, 96);
    midi.Track().Name("Evil\x1B[2J\tName").Note(0, 10, 0, 60).End();
    const auto result = Run({"info", Write("evil.mid", midi.Bytes())});
    EXPECT_NE(result.Out.find("1\tEvil?[2J?Name\t1\t"), std::string::npos) << result.Out;
    EXPECT_EQ(result.Out.find('\x1B'), std::string::npos);
}

TEST_F(CliInfo, JsonHasExactlyTheDocumentedMembers) {
    const auto result = Run({"info", "--json", Write("song.mid", ThreeTrackSong())});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Err, "");
    EXPECT_EQ(Canonical(result.Out),
              R"({"format": 1, "ppqn": 480, "tempoBpm": 120, "tempoMicroseconds": 500000, "hasTempo": true, )"
              R"("timeNumerator": 3, "timeDenominator": 4, "keyFifths": -3, "keyMinor": false, )"
              R"("hasKeySignature": true, "keyWasEstimated": false, "keyName": "Eb major", "title": "My Song", )"
              R"("tracks": [)"
              R"({"index": 1, "name": "My Song", "exportName": "My Song", "instrumentName": "", )"
              R"("programNumber": -1, "noteCount": 0, "minPitch": -1, "maxPitch": -1, "readableStaves": "single"}, )"
              R"({"index": 2, "name": "Piano", "exportName": "Piano", "instrumentName": "Grand", )"
              R"("programNumber": 1, "noteCount": 2, "minPitch": 60, "maxPitch": 79, "readableStaves": "single"}, )"
              R"({"index": 3, "name": "Bass", "exportName": "Bass", "instrumentName": "", )"
              R"("programNumber": -1, "noteCount": 2, "minPitch": 40, "maxPitch": 67, "readableStaves": "single"}]})");
}

TEST_F(CliInfo, ReportsHowReadableNotationWritesEachTrack) {
    // A piano playing in both clefs takes a grand staff, drums a percussion
    // staff, a melody on a piano sound one staff.
    MidiBuilder midi(1, 480);
    midi.Track().Name("Song").End();
    midi.Track().Name("Piano").Program(0, 0, 0).Note(0, 480, 0, 40).Note(0, 480, 0, 76).Note(0, 480, 0, 36).End();
    midi.Track().Name("Kit").Note(0, 120, 9, 36).Note(0, 120, 9, 42).End();
    midi.Track().Name("Tune").Program(0, 1, 0).Note(0, 480, 1, 72).Note(0, 480, 1, 74).End();
    const std::string file = Write("staves.mid", midi.Bytes());
    const auto text = Run({"info", file});
    EXPECT_NE(text.Out.find("\tAutomatic\tgrand\n"), std::string::npos) << text.Out;
    EXPECT_NE(text.Out.find("\tAutomatic\tpercussion\n"), std::string::npos) << text.Out;
    EXPECT_NE(text.Out.find("4\tTune\t2\tC5 \u2013 D5\tAutomatic\tsingle\n"), std::string::npos) << text.Out;
    const std::string json = Canonical(Run({"info", "--json", file}).Out);
    std::vector<std::string> staves;
    for (auto at = json.find("\"readableStaves\": \""); at != std::string::npos;
         at = json.find("\"readableStaves\": \"", at + 1)) {
        const auto from = at + 19;
        staves.push_back(json.substr(from, json.find('"', from) - from));
    }
    EXPECT_EQ(staves, (std::vector<std::string>{"single", "grand", "percussion", "single"})) << json;
}

TEST_F(CliInfo, JsonNotesAreInTheModelsOrder) {
    MidiBuilder midi(0, 96);
    midi.Track().NoteOn(0, 2, 60, 90).NoteOn(0, 3, 64, 91).NoteOff(10, 3, 64).NoteOff(5, 2, 60).End();
    const auto result = Run({"info", "--notes", "--json", Write("order.mid", midi.Bytes())});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(Canonical(result.Out),
              R"({"format": 0, "ppqn": 96, "tempoBpm": 120, "tempoMicroseconds": 500000, "hasTempo": false, )"
              R"("timeNumerator": 4, "timeDenominator": 4, "keyFifths": 0, "keyMinor": false, )"
              R"("hasKeySignature": false, "keyWasEstimated": true, "keyName": "C major", "title": "Track 1", )"
              R"("tracks": [{"index": 1, "name": "Track 1", "exportName": "Track 1", "instrumentName": "", )"
              R"("programNumber": -1, "noteCount": 2, "minPitch": 60, "maxPitch": 64, "readableStaves": "single", )"
              R"("notes": [[0, 10, 64, 91, 3], [0, 15, 60, 90, 2]]}]})");
}

TEST_F(CliInfo, JsonWithoutAKeyHasANullKeyName) {
    MidiBuilder midi(0, 96);
    midi.Track().End();
    const auto result = Run({"info", "--json", Write("nokey.mid", midi.Bytes())});
    EXPECT_NE(Canonical(result.Out).find(R"("keyWasEstimated": false, "keyName": null, )"), std::string::npos)
        << result.Out;
}

TEST_F(CliInfo, JsonEscapesTextAndKeepsUtf8) {
    MidiBuilder midi(0, 96);
    midi.Track()
        .Meta(0, 0x03, {'"', 'A', '\\', 'B', '"', 0x00, 0x01, '\t', '\n', 0x1F, 0x7F})
        .Instrument("Скрипка")
        .Meta(0, 0x04, {0xD1, 0xEA, 0xF0, 0xE8, 0xEF, 0xEA, 0xE0})  // the same word in Windows-1251
        .End();
    const auto result = Run({"info", "--json", Write("text.mid", midi.Bytes())});
    EXPECT_EQ(result.ExitCode, 0);
    // Control characters escaped (the one line stays one line), non-ASCII text as raw UTF-8.
    for (std::size_t i = 0; i + 1 < result.Out.size(); ++i)
        EXPECT_GE(static_cast<unsigned char>(result.Out[i]), 0x20) << "raw control character at " << i;
    EXPECT_NE(result.Out.find("\"instrumentName\":\"Скрипка\""), std::string::npos) << result.Out;
    const auto canonical = Canonical(result.Out);
    EXPECT_NE(canonical.find(R"("name": "\"A\\B\"\u0000\u0001\t\n\u001f\u007f")"), std::string::npos) << canonical;
    EXPECT_NE(canonical.find(R"("instrumentName": "\u0421\u043a\u0440\u0438\u043f\u043a\u0430")"), std::string::npos)
        << canonical;
}

TEST_F(CliInfo, JsonTempoReadsBackAsTheSameDouble) {
    MidiBuilder midi(0, 96);
    midi.Track().Tempo(0, 7).End();
    const auto result = Run({"info", "--json", Write("fast.mid", midi.Bytes())});
    // 60000000 / 7 printed with every digit Python needs to read the same double.
    EXPECT_NE(result.Out.find("\"tempoBpm\":8571428.57142857,"), std::string::npos) << result.Out;
    EXPECT_NE(Canonical(result.Out).find(R"("tempoBpm": 8571428.57142857, "tempoMicroseconds": 7,)"),
              std::string::npos);

    MidiBuilder slow(0, 96);
    slow.Track().Tempo(0, 0xFFFFFF).End();
    const auto slowResult = Run({"info", "--json", Write("slow.mid", slow.Bytes())});
    EXPECT_NE(slowResult.Out.find("\"tempoBpm\":3.576278899686271,"), std::string::npos) << slowResult.Out;
}

TEST_F(CliInfo, ARefusedFileGivesTheLoadersMessageAndStatusOne) {
    const auto result = Run({"info", "--json", Write("short.mid", Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6})});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(result.Out, "");
    EXPECT_EQ(result.Err, "The file is too short to be a MIDI file\n");

    MidiBuilder midi(1, 96);
    midi.Track().End();
    midi.Track().Raw({0x00, 0x3C, 0x40});
    const auto broken = Run({"info", Write("broken.mid", midi.Bytes())});
    EXPECT_EQ(broken.ExitCode, 1);
    EXPECT_EQ(broken.Out, "");
    EXPECT_EQ(broken.Err, "Invalid MIDI running status\n");
}

TEST_F(CliInfo, AFileThatCannotBeOpenedNamesThePathAndTheReason) {
    const auto missing = (FDir / "missing.mid").string();
    const auto result = Run({"info", missing});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(result.Out, "");
    EXPECT_NE(result.Err.find(missing), std::string::npos) << result.Err;
    EXPECT_NE(result.Err.find("No such file or directory"), std::string::npos) << result.Err;

    const auto folder = Run({"info", FDir.string()});
    EXPECT_EQ(folder.ExitCode, 1);
    EXPECT_NE(folder.Err.find("Is a directory"), std::string::npos) << folder.Err;
}

TEST_F(CliInfo, WrongUsageShowsTheUsageAndStatusTwo) {
    const auto file = Write("song.mid", ThreeTrackSong());
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"info"}, {"info", file, file}, {"info", "--xml", file}, {"info", "--notes", file}, {"info", "--json"}}) {
        const auto result = Run(args);
        EXPECT_EQ(result.ExitCode, 2) << args.size();
        EXPECT_EQ(result.Out, "");
        EXPECT_NE(result.Err.find("usage: korvalin-cli info [--json [--notes]] FILE"), std::string::npos) << result.Err;
    }
}

TEST_F(CliInfo, ADoubleDashEndsTheOptions) {
    const auto file = Write("-dash.mid", ThreeTrackSong());
    const auto result = Run({"info", "--json", "--", file});
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_NE(Canonical(result.Out).find(R"("title": "My Song")"), std::string::npos);
}

TEST_F(CliInfo, HelpListsEveryCommandAndEachCommandHasItsOwn) {
    const auto result = Run({"--help"});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_NE(result.Out.find("korvalin-cli info [--json [--notes]] FILE"), std::string::npos) << result.Out;
    for (const std::string command : {"info", "convert", "transpose", "extract"}) {
        const auto help = Run({command, "--help"});
        EXPECT_EQ(help.ExitCode, 0) << command;
        EXPECT_EQ(help.Err, "") << command;
        EXPECT_EQ(help.Out.rfind("usage: korvalin-cli " + command + " ", 0), 0u) << help.Out;
        EXPECT_NE(help.Out.find("Options:"), std::string::npos) << help.Out;
    }
    const auto missing = Run({"convert", "in.mid", "out.musicxml", "--grid"});
    EXPECT_EQ(missing.ExitCode, 2);
    EXPECT_EQ(missing.Err.rfind("korvalin-cli convert: --grid needs a value\nusage: ", 0), 0u) << missing.Err;
}

}  // namespace
