#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "FileIO.h"
#include "MidiBuilder.h"
#include "MidiPlaybackWriter.h"

namespace korvalin {
namespace {

using test::Bytes;

TMidiNote Note(std::int64_t start, std::int64_t end, int pitch, int channel = 0, int velocity = 80) {
    TMidiNote note;
    note.StartTick = start;
    note.EndTick = end;
    note.Pitch = pitch;
    note.Channel = channel;
    note.Velocity = velocity;
    return note;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes kEnd = {0x00, 0xFF, 0x2F, 0x00};

class PartWriterNoteTrack : public ::testing::Test {
protected:
    PartWriterNoteTrack() {
        FTrack.ExportName = "Vl";
        FTrack.ProgramNumber = 40;
    }
    const Bytes FName = {0x00, 0xFF, 0x03, 0x02, 'V', 'l'};
    TMidiTrack FTrack;
};

TEST_F(PartWriterNoteTrack, WithoutNotesHoldsItsNameAndEndOnly) {
    EXPECT_EQ(BuildNoteTrack(FTrack), Concat({FName, kEnd}));
    FTrack.ExportName.clear();
    EXPECT_EQ(BuildNoteTrack(FTrack), Concat({{0x00, 0xFF, 0x03, 0x00}, kEnd}));
}

TEST_F(PartWriterNoteTrack, NoteOfNoLengthSoundsForOneTick) {
    FTrack.AddNote(Note(0, 0, 60));
    EXPECT_EQ(BuildNoteTrack(FTrack),
              Concat({FName, {0x00, 0xC0, 40}, {0x00, 0x90, 60, 80}, {0x01, 0x80, 60, 0}, kEnd}));
}

TEST_F(PartWriterNoteTrack, NoteOfNoLengthDoesNotCutALongerNoteStartingWithIt) {
    // A repeated note-on gave the model a note of no length and a long one of
    // the same pitch at tick 0; a note-off at tick 1 would end the long one.
    FTrack.AddNote(Note(0, 0, 60));
    FTrack.AddNote(Note(0, 480, 60));
    FTrack.AddNote(Note(0, 0, 64));
    EXPECT_EQ(BuildNoteTrack(FTrack), Concat({FName,
                                              {0x00, 0xC0, 40},
                                              {0x00, 0x80, 60, 0},
                                              {0x00, 0x90, 60, 80},
                                              {0x00, 0x90, 60, 80},
                                              {0x00, 0x90, 64, 80},
                                              {0x01, 0x80, 64, 0},
                                              {0x83, 0x5F, 0x80, 60, 0},
                                              kEnd}));
}

TEST_F(PartWriterNoteTrack, NoteOffComesBeforeANoteOnOfTheSameTick) {
    // In model order the later note comes first: the writer must sort.
    FTrack.AddNote(Note(480, 680, 62));
    FTrack.AddNote(Note(0, 480, 62));
    EXPECT_EQ(BuildNoteTrack(FTrack), Concat({FName,
                                              {0x00, 0xC0, 40},
                                              {0x00, 0x90, 62, 80},
                                              {0x83, 0x60, 0x80, 62, 0},
                                              {0x00, 0x90, 62, 80},
                                              {0x81, 0x48, 0x80, 62, 0},
                                              kEnd}));
}

TEST_F(PartWriterNoteTrack, ProgramChangeForEachUsedChannelButPercussion) {
    FTrack.ProgramNumber = -1;
    FTrack.AddNote(Note(0, 10, 36, 9));
    FTrack.AddNote(Note(0, 10, 60, 3));
    FTrack.AddNote(Note(0, 10, 64, 0));
    EXPECT_EQ(BuildNoteTrack(FTrack), Concat({FName,
                                              {0x00, 0xC0, 0},
                                              {0x00, 0xC3, 0},
                                              {0x00, 0x99, 36, 80},
                                              {0x00, 0x93, 60, 80},
                                              {0x00, 0x90, 64, 80},
                                              {0x0A, 0x89, 36, 0},
                                              {0x00, 0x83, 60, 0},
                                              {0x00, 0x80, 64, 0},
                                              kEnd}));
}

TEST_F(PartWriterNoteTrack, OutOfRangeValuesAreLimited) {
    FTrack.ProgramNumber = 300;
    FTrack.AddNote(Note(100, 50, 60, 22, 0));
    FTrack.AddNote(Note(0x20000000, 0x20000001, 61, -3, 200));
    EXPECT_EQ(BuildNoteTrack(FTrack), Concat({FName,
                                              {0x00, 0xC0, 127},
                                              {0x00, 0xCF, 127},
                                              {0x64, 0x9F, 60, 1},
                                              {0x01, 0x8F, 60, 0},
                                              {0xFF, 0xFF, 0xFF, 0x7F, 0x90, 61, 127},
                                              {0x01, 0x80, 61, 0},
                                              kEnd}));
}

TEST(PartWriterConductor, CarriesTitleTempoMetreAndKey) {
    TMidiFile midi;
    midi.Title = "Étude";
    midi.TempoMicroseconds = 600000;
    midi.TimeNumerator = 6;
    midi.TimeDenominator = 8;
    midi.KeyFifths = -3;
    midi.KeyMinor = true;
    EXPECT_EQ(BuildConductorTrack(midi), Concat({{0x00, 0xFF, 0x03, 0x06, 0xC3, 0x89, 't', 'u', 'd', 'e'},
                                                 {0x00, 0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0},
                                                 {0x00, 0xFF, 0x58, 0x04, 6, 3, 0x18, 0x08},
                                                 {0x00, 0xFF, 0x59, 0x02, 0xFD, 0x01},
                                                 kEnd}));
}

TEST(PartWriterConductor, DefaultsForAnEmptyModel) {
    TMidiFile midi;
    midi.TempoMicroseconds = 0;
    midi.TimeNumerator = 0;
    EXPECT_EQ(BuildConductorTrack(midi), Concat({{0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20},
                                                 {0x00, 0xFF, 0x58, 0x04, 1, 2, 0x18, 0x08},
                                                 {0x00, 0xFF, 0x59, 0x02, 0x00, 0x00},
                                                 kEnd}));
}

TEST(PartWriterConductor, ExponentIsTheWholeBinaryLogarithmUpToSeven) {
    const auto exponentFor = [](int denominator) {
        TMidiFile midi;
        midi.TimeDenominator = denominator;
        return BuildConductorTrack(midi)[12];
    };
    EXPECT_EQ(exponentFor(4), 2);
    EXPECT_EQ(exponentFor(8), 3);
    EXPECT_EQ(exponentFor(6), 2);
    EXPECT_EQ(exponentFor(1), 0);
    EXPECT_EQ(exponentFor(0), 0);
    EXPECT_EQ(exponentFor(-4), 0);
    EXPECT_EQ(exponentFor(256), 7);
    EXPECT_EQ(exponentFor(1 << 30), 7);
}

TEST(PartWriterFile, IsAFormatOneFileOfConductorAndNoteTrack) {
    TMidiFile midi;
    midi.PPQN = 960;
    TMidiTrack track;
    track.AddNote(Note(0, 960, 72));
    const Bytes conductor = BuildConductorTrack(midi);
    const Bytes notes = BuildNoteTrack(track);
    Bytes expected = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0x03, 0xC0};
    for (const Bytes* data : {&conductor, &notes}) {
        expected.insert(expected.end(), {'M', 'T', 'r', 'k'});
        test::PutU32(expected, static_cast<std::uint32_t>(data->size()));
        expected.insert(expected.end(), data->begin(), data->end());
    }
    EXPECT_EQ(BuildPartPlaybackMidi(&midi, &track), expected);
}

TEST(PartWriterFile, MissingModelOrTrackIsRefusedAndWritesNothing) {
    const auto dir = std::filesystem::temp_directory_path() / ("korvalin-partwriter-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string target = (dir / "part.mid").string();
    TMidiFile midi;
    TMidiTrack track;
    for (const auto& [file, part] : {std::pair<const TMidiFile*, const TMidiTrack*>{nullptr, &track},
                                     std::pair<const TMidiFile*, const TMidiTrack*>{&midi, nullptr}}) {
        try {
            WritePartPlaybackMidi(file, part, target);
            ADD_FAILURE() << "nothing thrown";
        } catch (const EArgumentNilException& e) {
            EXPECT_STREQ(e.what(), "Не выбрана MIDI-дорожка.");
        }
    }
    EXPECT_FALSE(std::filesystem::exists(target));

    WritePartPlaybackMidi(&midi, &track, target);
    EXPECT_EQ(ReadWholeFile(target), BuildPartPlaybackMidi(&midi, &track));
    EXPECT_THROW(WritePartPlaybackMidi(&midi, &track, (dir / "none" / "part.mid").string()), EFileError);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korvalin
