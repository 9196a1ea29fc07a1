#include "MusicXmlExporter.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <locale>
#include <fstream>
#include <string>
#include <vector>

#include "FileIO.h"
#include "MidiBuilder.h"
#include "MidiParser.h"
#include "ScoreTestSupport.h"

namespace korvalin {
namespace {

using test::AddNotes;
using test::Bytes;
using test::Conductor;
using test::ExpectGolden;
using test::LoadBytes;
using test::MidiBuilder;
using test::NoteTrack;
using test::TNote;
using test::TracksWithNotes;

std::string Export(const TMidiFile& midi, std::int32_t grid, const std::string& fileName = "/scores/unused.musicxml") {
    return BuildMusicXmlText(midi, TracksWithNotes(midi), fileName, grid);
}

// ---------------------------------------------------------------------------
// Golden documents

TEST(GoldenScore, WalkThroughOfMeasuresTiesAndTwoVoices) {
    MidiBuilder midi(1, 480);
    Conductor(midi, "Walk-through");
    NoteTrack(midi, "Piano",
              {{72, 0, 715}, {74, 725, 955}, {64, 1445, 2400}, {67, 1440, 2410}, {72, 1438, 2405}, {76, 1930, 2150}});
    ExpectGolden("walkthrough", Export(LoadBytes(midi.Bytes()), 16));
}

TEST(GoldenScore, TiesAcrossOneAndTwoBarlines) {
    MidiBuilder midi(1, 480);
    Conductor(midi, "Ties");
    NoteTrack(midi, "Upper", {{60, 960, 2880}});
    NoteTrack(midi, "Lower", {{57, 960, 4800}});
    ExpectGolden("ties_across_barlines", Export(LoadBytes(midi.Bytes()), 16));
}

TEST(GoldenScore, PartsOfDifferentLengthsShareTheMeasureCountAndTheMinorKey) {
    MidiBuilder midi(1, 480);
    Conductor(midi, "Two lengths", 576000, 4, 2, -2, true);
    NoteTrack(midi, "Melody", {{74, 0, 1920}});
    NoteTrack(midi, "Bass", {{43, 3840, 5760}});
    ExpectGolden("two_parts_minor_key", Export(LoadBytes(midi.Bytes()), 16));
}

TEST(GoldenScore, QuantisationRoundsMergesAndKeepsEveryNote) {
    MidiBuilder midi(1, 480);
    Conductor(midi, "Rounding");
    NoteTrack(midi, "Piano",
              {{60, 0, 50},  // end rounds to 0: pushed one step on
               {64, 59, 470},
               {64, 59, 470, 1},  // 59 rounds down; two channels, one pitch
               {76, 479, 960},
               {72, 479, 960},
               {67, 479, 960},    // chord given high to low
               {62, 1440, 1440},  // zero length
               {65, 1900, 1930},  // start and end meet at 1920
               {69, 2100, 2130},
               {71, 2460, 2500}});  // exactly half a step rounds up
    ExpectGolden("quantisation", Export(LoadBytes(midi.Bytes()), 16));
}

struct TMeterCase {
    const char* Golden;
    const char* Title;
    int Numerator;
    int DenominatorPower;
    int Grid;
    std::vector<TNote> Notes;
};

class GoldenMeter : public ::testing::TestWithParam<TMeterCase> {};

TEST_P(GoldenMeter, FillsEveryMeasureToItsLength) {
    const TMeterCase& meter = GetParam();
    MidiBuilder midi(1, 480);
    Conductor(midi, meter.Title, 500000, meter.Numerator, meter.DenominatorPower);
    NoteTrack(midi, "Piano", meter.Notes);
    ExpectGolden(meter.Golden, Export(LoadBytes(midi.Bytes()), meter.Grid));
}

INSTANTIATE_TEST_SUITE_P(
    Meters, GoldenMeter,
    ::testing::Values(TMeterCase{"meter_3_4", "Three four", 3, 2, 16, {{60, 960, 1920}, {62, 4320, 4800}}},
                      TMeterCase{"meter_5_4", "Five four", 5, 2, 16, {{60, 0, 2880}, {64, 7200, 7680}}},
                      TMeterCase{"meter_6_8", "Six eight", 6, 3, 16, {{60, 0, 720}, {62, 720, 1440}, {64, 2880, 3600}}},
                      TMeterCase{"meter_7_8", "Seven eight", 7, 3, 16, {{60, 0, 1680}, {62, 3360, 3600}}},
                      TMeterCase{"meter_1_128", "Tiny", 1, 7, 32, {{60, 60, 120}}}),
    [](const auto& param) { return std::string(param.param.Golden); });

TEST(GoldenScore, ThreeVoicesUnderAForcedBassClef) {
    MidiBuilder midi(1, 480);
    Conductor(midi, "Voices");
    NoteTrack(midi, "Organ", {{48, 0, 1920}, {64, 0, 960}, {67, 0, 480}, {69, 480, 960}, {71, 960, 1920}});
    TMidiFile file = LoadBytes(midi.Bytes());
    file.Tracks()[1]->ClefMode = TClefMode::cmBass;
    ExpectGolden("three_voices", Export(file, 16));
}

TEST(GoldenScore, OddStepOfFifteenTicks) {
    MidiBuilder midi(1, 120);
    midi.Track().Name("Odd step").KeySig(0, 0, false).End();
    NoteTrack(midi, "Flute", {{60, 7, 52}, {65, 8, 38}, {62, 53, 128}, {64, 143, 157}});
    ExpectGolden("odd_step_15", Export(LoadBytes(midi.Bytes()), 32));
}

TEST(GoldenScore, EscapesTitleAndPartNamesAndDropsCharactersXmlForbids) {
    MidiBuilder midi(1, 480);
    Conductor(midi, "Bach & Sons <1>\x1F\xEF\xBF\xBF");
    NoteTrack(midi, "Rock", {{72, 0, 1920}});
    NoteTrack(midi, "Viola", {{60, 0, 1920}});
    TMidiFile file = LoadBytes(midi.Bytes());
    file.Tracks()[1]->ExportName = "  Rock 'n' \x01\"Roll\" & <b> \t";
    file.Tracks()[2]->ExportName = " \t  ";
    ExpectGolden("escaping", Export(file, 16));
}

TEST(GoldenScore, UntitledFileIsNamedAfterTheTargetFile) {
    MidiBuilder midi(1, 480);
    AddNotes(midi.Track().KeySig(0, 0, false), {{69, 0, 960}}).End();
    TMidiFile file = LoadBytes(midi.Bytes());
    file.Title.clear();
    test::TTempDir dir("golden");
    const std::string target = (dir.Path() / "My Song.musicxml").string();
    BuildMusicXml(file, TracksWithNotes(file), target, 16);
    ExpectGolden("file_name_title", test::ReadText(target));
}

// ---------------------------------------------------------------------------
// The frame around the notes

TEST(DocumentFrame, TitleFromFileNameDropsFolderAndOnlyTheLastExtension) {
    MidiBuilder midi(1, 480);
    AddNotes(midi.Track(), {{60, 0, 480}}).End();
    TMidiFile file = LoadBytes(midi.Bytes());
    file.Title.clear();
    EXPECT_NE(Export(file, 16, "/a.b/c/My Song.v2.musicxml").find("<work-title>My Song.v2</work-title>"),
              std::string::npos);
    EXPECT_NE(Export(file, 16, "relative").find("<work-title>relative</work-title>"), std::string::npos);
}

TEST(DocumentFrame, MeasureCountHoldsTheLastQuantisedEnd) {
    const auto measures = [](std::uint32_t end) {
        MidiBuilder midi(1, 480);
        AddNotes(midi.Track().KeySig(0, 0, false), {{60, 0, end}}).End();
        const std::string text = Export(LoadBytes(midi.Bytes()), 16);
        std::size_t count = 0;
        for (auto at = text.find("<measure number="); at != std::string::npos;
             at = text.find("<measure number=", at + 1))
            ++count;
        return count;
    };
    EXPECT_EQ(measures(3840), 2u);
    EXPECT_EQ(measures(3899), 2u);  // rounds down to 3840
    EXPECT_EQ(measures(3900), 3u);  // rounds up to 3960
}

TEST(DocumentFrame, TempoHasThreeDecimalsWhateverTheLocale) {
    MidiBuilder midi(1, 480);
    Conductor(midi, "Tempo", 576000);
    NoteTrack(midi, "Piano", {{60, 0, 480}});
    const TMidiFile file = LoadBytes(midi.Bytes());
    struct TCommaDecimal : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
        char do_thousands_sep() const override { return ' '; }
        std::string do_grouping() const override { return "\3"; }
    };
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new TCommaDecimal));
    const std::string previousC = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "ru_RU.UTF-8");  // where installed; the C++ locale above is always in force
    const std::string text = Export(file, 16);
    std::setlocale(LC_ALL, previousC.c_str());
    std::locale::global(previous);
    EXPECT_NE(text.find("<per-minute>104.167</per-minute>"), std::string::npos);
    EXPECT_NE(text.find("<sound tempo=\"104.167\"/>"), std::string::npos);
}

TEST(DocumentFrame, StartsWithoutByteOrderMarkAndEndsWithCrLf) {
    MidiBuilder midi(1, 480);
    AddNotes(midi.Track(), {{60, 0, 480}}).End();
    const std::string text = Export(LoadBytes(midi.Bytes()), 16);
    EXPECT_EQ(text.rfind("<?xml", 0), 0u);
    const std::string end = "</score-partwise>\r\n";
    ASSERT_GE(text.size(), end.size());
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
    EXPECT_EQ(text.find("\n"), text.find("\r\n") + 1);
}

TEST(DocumentFrame, PitchesBelowMidiTwelveAreWrittenInOctaveZero) {
    MidiBuilder midi(1, 480);
    AddNotes(midi.Track(), {{1, 0, 480}, {127, 480, 960}}).End();
    const std::string text = Export(LoadBytes(midi.Bytes()), 16);
    EXPECT_NE(text.find("<step>C</step>\r\n          <alter>1</alter>\r\n          <octave>0</octave>"),
              std::string::npos);
    EXPECT_NE(text.find("<step>G</step>\r\n          <octave>9</octave>"), std::string::npos);
    EXPECT_EQ(text.find("<octave>-1</octave>"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Refusals

class Refusals : public ::testing::Test {
protected:
    static Bytes OneNote(int ppqn, int numerator = 4) {
        MidiBuilder midi(1, ppqn);
        AddNotes(midi.Track().TimeSig(0, numerator, 2).KeySig(0, 0, false), {{60, 0, 480}}).End();
        return midi.Bytes();
    }

    static std::string MessageOf(const TMidiFile& midi, const std::vector<const TMidiTrack*>& tracks, int grid) {
        try {
            BuildMusicXmlText(midi, tracks, "/scores/x.musicxml", grid);
        } catch (const EMusicXmlError& e) {
            return e.what();
        }
        return "(no refusal)";
    }
};

TEST_F(Refusals, TracksAreCheckedBeforeTheGridAndTheGridBeforeTheTimeSignature) {
    const TMidiFile bad = LoadBytes(OneNote(100, 0));  // PPQN 100 refuses 1/32; numerator 0
    EXPECT_EQ(MessageOf(bad, {}, 32), "Select at least one musical track");
    EXPECT_EQ(MessageOf(bad, {nullptr}, 16), "Select at least one musical track");
    EXPECT_EQ(MessageOf(bad, TracksWithNotes(bad), 32),
              "The selected quantization grid is incompatible with this MIDI file");
    EXPECT_EQ(MessageOf(bad, TracksWithNotes(bad), 0),
              "The selected quantization grid is incompatible with this MIDI file");
    EXPECT_EQ(MessageOf(bad, TracksWithNotes(bad), 16), "Invalid time signature");
}

TEST_F(Refusals, GridIsAcceptedWhenAWholeNoteDividesIntoWholeTicks) {
    const TMidiFile file = LoadBytes(OneNote(100));
    EXPECT_EQ(MessageOf(file, TracksWithNotes(file), 16), "(no refusal)");
    EXPECT_EQ(MessageOf(file, TracksWithNotes(file), 8), "(no refusal)");
}

TEST_F(Refusals, ZeroTicksPerQuarterIsAnInvalidTimeSignature) {
    const TMidiFile file = LoadBytes(OneNote(0));
    EXPECT_EQ(MessageOf(file, TracksWithNotes(file), 16), "Invalid time signature");
}

TEST_F(Refusals, ATickedTrackWithoutNotesStopsTheWholeExport) {
    MidiBuilder midi(1, 480);
    Conductor(midi, "Empty second");
    NoteTrack(midi, "Piano", {{60, 0, 480}});
    const TMidiFile file = LoadBytes(midi.Bytes());
    EXPECT_EQ(MessageOf(file, {file.Tracks()[1].get(), file.Tracks()[0].get()}, 16),
              "The selected track contains no notes");
}

TEST_F(Refusals, TooManyMeasuresAreRefusedBeforeAnythingIsBuilt) {
    // 1/32 at PPQN 8: a measure of one tick, so a note at tick 4,000,000 needs
    // four million measures.
    MidiBuilder midi(1, 8);
    AddNotes(midi.Track().TimeSig(0, 1, 5).KeySig(0, 0, false), {{60, 4000000, 4000002}}).End();
    const TMidiFile file = LoadBytes(midi.Bytes());
    EXPECT_EQ(MessageOf(file, TracksWithNotes(file), 16), "The score is too large to notate");
}

TEST_F(Refusals, AnEmptyTrackIsReportedBeforeTheSizeOfALongOne) {
    // Four million one-tick measures in the long track: far too large, but
    // the empty track beside it is what the user must hear about, before or after.
    MidiBuilder midi(1, 8);
    midi.Track().Name("Empty").TimeSig(0, 1, 5).KeySig(0, 0, false).End();
    AddNotes(midi.Track().Name("Long"), {{60, 4000000, 4000002}}).End();
    const TMidiFile file = LoadBytes(midi.Bytes());
    const TMidiTrack* empty = file.Tracks()[0].get();
    const TMidiTrack* longTrack = file.Tracks()[1].get();
    EXPECT_EQ(MessageOf(file, {longTrack, empty}, 16), "The selected track contains no notes");
    EXPECT_EQ(MessageOf(file, {empty, longTrack}, 16), "The selected track contains no notes");
    EXPECT_EQ(MessageOf(file, {longTrack}, 16), "The score is too large to notate");
}

TEST_F(Refusals, TooManyNotesAndRestsAreRefusedEvenInFewMeasures) {
    // 255/1 at PPQN 8: every measure is 255 whole notes long, so 7,900 held
    // measures take 2,014,500 tied notes.
    MidiBuilder midi(1, 8);
    AddNotes(midi.Track().TimeSig(0, 255, 0).KeySig(0, 0, false), {{60, 0, 7900 * 8160}}).End();
    const TMidiFile held = LoadBytes(midi.Bytes());
    EXPECT_EQ(MessageOf(held, TracksWithNotes(held), 16), "The score is too large to notate");

    // The same count made of rests: one short note at the end of the score.
    MidiBuilder rests(1, 8);
    AddNotes(rests.Track().TimeSig(0, 255, 0).KeySig(0, 0, false), {{60, 7899 * 8160, 7899 * 8160 + 8}}).End();
    const TMidiFile silent = LoadBytes(rests.Bytes());
    EXPECT_EQ(MessageOf(silent, TracksWithNotes(silent), 16), "The score is too large to notate");
}

TEST_F(Refusals, ARefusedExportLeavesTheTargetByteForByte) {
    test::TTempDir dir("refusal");
    const std::string target = (dir.Path() / "kept.musicxml").string();
    const std::string old = "old score\r\n\x01\xFF";
    WriteFileAtomically(target, old);

    MidiBuilder midi(1, 480);
    Conductor(midi, "Kept");
    NoteTrack(midi, "Piano", {{60, 0, 480}});
    const TMidiFile file = LoadBytes(midi.Bytes());
    const std::vector<const TMidiTrack*> withEmpty{file.Tracks()[1].get(), file.Tracks()[0].get()};
    EXPECT_THROW(BuildMusicXml(file, {}, target, 16), EMusicXmlError);
    EXPECT_THROW(BuildMusicXml(file, TracksWithNotes(file), target, 7), EMusicXmlError);
    EXPECT_THROW(BuildMusicXml(file, withEmpty, target, 16), EMusicXmlError);
    EXPECT_EQ(test::ReadText(target), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

    BuildMusicXml(file, TracksWithNotes(file), target, 16);
    EXPECT_EQ(test::ReadText(target), BuildMusicXmlText(file, TracksWithNotes(file), target, 16));
}

}  // namespace
}  // namespace korvalin
