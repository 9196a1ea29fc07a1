// The Standard MIDI File loader: what it refuses, how it pairs notes, and
// which meta events shape the file-wide values. Every case builds its bytes.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "MidiBuilder.h"
#include "MidiParser.h"

namespace korvalin {
namespace {

using test::Bytes;
using test::MidiBuilder;
using test::TrackBuilder;

// StartTick, EndTick, Pitch, Velocity, Channel: prints readably when a case fails.
using NoteRow = std::tuple<std::int64_t, std::int64_t, std::int32_t, std::int32_t, std::int32_t>;
using NoteRows = std::vector<NoteRow>;

class LoaderTest : public ::testing::Test {
protected:
    static TMidiFile Load(const Bytes& bytes) {
        TMidiFile file;
        file.LoadFromBytes(bytes);
        return file;
    }

    // One format-0 file whose only chunk holds exactly these bytes.
    static Bytes OneChunk(std::initializer_list<std::uint8_t> data) {
        MidiBuilder midi(0, 96);
        midi.Track().Raw(data);
        return midi.Bytes();
    }

    // The loader's message for a refused file, or a marker when it loaded.
    static std::string RefusalOf(const Bytes& bytes) {
        TMidiFile file;
        try {
            file.LoadFromBytes(bytes);
        } catch (const EMidiError& e) {
            return e.what();
        }
        return "<loaded without error>";
    }

    static NoteRows NotesOf(const TMidiTrack& track) {
        NoteRows rows;
        for (const auto& n : track.Notes()) rows.emplace_back(n.StartTick, n.EndTick, n.Pitch, n.Velocity, n.Channel);
        return rows;
    }

    static NoteRows NotesOfOnlyTrack(const Bytes& bytes) {
        const auto file = Load(bytes);
        EXPECT_EQ(file.Tracks().size(), 1u);
        if (file.Tracks().empty()) return {};
        return NotesOf(*file.Tracks()[0]);
    }

    // Header of the given fields, nothing after it.
    static Bytes Header(std::uint32_t length, std::uint32_t format, std::uint32_t tracks, std::uint32_t division) {
        Bytes out{'M', 'T', 'h', 'd'};
        test::PutU32(out, length);
        test::PutU16(out, format);
        test::PutU16(out, tracks);
        test::PutU16(out, division);
        return out;
    }

    static void AppendChunk(Bytes& out, const std::string& id, std::uint32_t length, const Bytes& data) {
        out.insert(out.end(), id.begin(), id.end());
        test::PutU32(out, length);
        out.insert(out.end(), data.begin(), data.end());
    }
};

// ---------------------------------------------------------------------------
// Refusals: every message once, and the boundaries around them.

using LoaderRefusal = LoaderTest;

TEST_F(LoaderRefusal, ThirteenBytesAreTooShortEvenWithAHeaderMark) {
    Bytes bytes = Header(6, 0, 0, 96);
    bytes.pop_back();
    ASSERT_EQ(bytes.size(), 13u);
    EXPECT_EQ(RefusalOf(bytes), "The file is too short to be a MIDI file");
    EXPECT_EQ(RefusalOf({}), "The file is too short to be a MIDI file");
}

TEST_F(LoaderRefusal, AFileWithoutTheHeaderMarkIsNotMidi) {
    Bytes bytes = Header(6, 0, 0, 96);
    bytes[3] = 'D';
    EXPECT_EQ(RefusalOf(bytes), "MThd header was not found");
    const Bytes riff{'R', 'I', 'F', 'F', 0x10, 0, 0, 0, 'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'};
    EXPECT_EQ(RefusalOf(riff), "MThd header was not found");
}

TEST_F(LoaderRefusal, AHeaderShorterThanSixBytesIsInvalid) {
    EXPECT_EQ(RefusalOf(Header(5, 0, 0, 96)), "Invalid MIDI header length");
    EXPECT_EQ(RefusalOf(Header(0, 0, 0, 96)), "Invalid MIDI header length");
    // The length is taken as signed, so a huge value is negative and refused the same way.
    EXPECT_EQ(RefusalOf(Header(0xFFFFFFFFu, 0, 0, 96)), "Invalid MIDI header length");
    EXPECT_EQ(RefusalOf(Header(0x80000000u, 0, 0, 96)), "Invalid MIDI header length");
}

TEST_F(LoaderRefusal, SmpteTimeDivisionIsNotSupported) {
    EXPECT_EQ(RefusalOf(Header(6, 1, 0, 0xE728)), "SMPTE time division is not supported in this version");
    EXPECT_EQ(RefusalOf(Header(6, 1, 0, 0x8000)), "SMPTE time division is not supported in this version");
    EXPECT_EQ(RefusalOf(Header(6, 1, 0, 0x7FFF)), "<loaded without error>");
}

TEST_F(LoaderRefusal, ACountedChunkNeedsEightBytesOfHeader) {
    EXPECT_EQ(RefusalOf(Header(6, 0, 1, 96)), "MIDI track header is missing");
    Bytes bytes = Header(6, 0, 1, 96);
    bytes.insert(bytes.end(), {'M', 'T', 'r', 'k', 0, 0, 0});
    EXPECT_EQ(RefusalOf(bytes), "MIDI track header is missing");

    MidiBuilder two(1, 96);
    two.TrackCount(2).Track().End();
    EXPECT_EQ(RefusalOf(two.Bytes()), "MIDI track header is missing");
}

TEST_F(LoaderRefusal, AHeaderLengthBeyondTheFileLeavesNoRoomForChunks) {
    EXPECT_EQ(RefusalOf(Header(0x7FFFFFFF, 0, 1, 96)), "MIDI track header is missing");
    const auto file = Load(Header(0x7FFFFFFF, 0, 0, 96));
    EXPECT_TRUE(file.Tracks().empty());
}

TEST_F(LoaderRefusal, AChunkOfAnotherTypeIsRefusedWithItsNumber) {
    MidiBuilder midi(1, 96);
    midi.Chunk("XFIH", {1, 2, 3, 4}).Track().End();
    midi.TrackCount(1);
    EXPECT_EQ(RefusalOf(midi.Bytes()), "Invalid MIDI track 1");

    MidiBuilder later(1, 96);
    later.Track().End();
    later.Track().End();
    later.Chunk("MTrx", {0, 0xFF, 0x2F, 0});
    later.TrackCount(3);
    EXPECT_EQ(RefusalOf(later.Bytes()), "Invalid MIDI track 3");
}

TEST_F(LoaderRefusal, AChunkRunningPastTheEndOfTheFileIsInvalid) {
    Bytes bytes = Header(6, 1, 2, 96);
    AppendChunk(bytes, "MTrk", 4, {0, 0xFF, 0x2F, 0});
    AppendChunk(bytes, "MTrk", 5, {0, 0xFF, 0x2F, 0});
    EXPECT_EQ(RefusalOf(bytes), "Invalid MIDI track 2");

    Bytes huge = Header(6, 0, 1, 96);
    AppendChunk(huge, "MTrk", 0xFFFFFFFFu, {0, 0xFF, 0x2F, 0});
    EXPECT_EQ(RefusalOf(huge), "Invalid MIDI track 1");
}

TEST_F(LoaderRefusal, ADeltaTimeCutOffByTheEndOfItsChunk) {
    EXPECT_EQ(RefusalOf(OneChunk({0x81})), "Unexpected end of variable-length MIDI value");
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0x90, 0x3C, 0x40, 0xFF, 0xFF, 0xFF})),
              "Unexpected end of variable-length MIDI value");
}

TEST_F(LoaderRefusal, AMetaLengthCutOffByTheEndOfItsChunk) {
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0xFF, 0x03})), "Unexpected end of variable-length MIDI value");
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0xFF, 0x03, 0x81})), "Unexpected end of variable-length MIDI value");
}

TEST_F(LoaderRefusal, AVariableLengthValueHasAtMostFourBytes) {
    EXPECT_EQ(RefusalOf(OneChunk({0x81, 0x80, 0x80, 0x80, 0x00})), "Invalid variable-length MIDI value");
    // The fourth byte still has its high bit set: refused on taking the fifth, even when none follows.
    EXPECT_EQ(RefusalOf(OneChunk({0x81, 0x80, 0x80, 0x80})), "Unexpected end of variable-length MIDI value");
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0xFF, 0x01, 0x80, 0x80, 0x80, 0x80, 0x01, 'x'})),
              "Invalid variable-length MIDI value");
}

TEST_F(LoaderRefusal, ADataByteWithoutRunningStatus) {
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0x3C, 0x40})), "Invalid MIDI running status");
    // A meta event leaves "no running status" as it was.
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0xFF, 0x01, 0x00, 0x00, 0x3C, 0x40})), "Invalid MIDI running status");
}

TEST_F(LoaderRefusal, AMetaStatusAsTheLastByteOfAChunk) {
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0xFF})), "Invalid MIDI meta event");
}

TEST_F(LoaderRefusal, MetaDataRunningPastTheEndOfItsChunk) {
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0xFF, 0x03, 0x05, 'a', 'b'})), "Invalid MIDI meta-event length");
    // The largest length there is must not wrap the position round.
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0xFF, 0x03, 0xFF, 0xFF, 0xFF, 0x7F, 'a'})), "Invalid MIDI meta-event length");
}

TEST_F(LoaderRefusal, SysExDataRunningPastTheEndOfItsChunk) {
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0xF0, 0x05, 0x7E, 0xF7})), "Invalid SysEx length");
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0xF7, 0xFF, 0xFF, 0xFF, 0x7F, 0x00})), "Invalid SysEx length");
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0xF0})), "Unexpected end of variable-length MIDI value");
}

TEST_F(LoaderRefusal, AChannelEventCutOffByTheEndOfItsChunk) {
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0x90, 0x3C})), "Incomplete MIDI channel event");
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0x90})), "Incomplete MIDI channel event");
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0xC0})), "Incomplete MIDI channel event");
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0xE0, 0x00})), "Incomplete MIDI channel event");
    // A system byte takes two data bytes like any channel event.
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0xF8, 0x00})), "Incomplete MIDI channel event");
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0x90, 0x3C, 0x40, 0x00, 0x3C})), "Incomplete MIDI channel event");
}

TEST_F(LoaderRefusal, ARefusalInALaterChunkKeepsOnlyTheChunksBeforeIt) {
    MidiBuilder midi(1, 96);
    midi.Track().Name("Conductor").Tempo(0, 400000).End();
    midi.Track().Raw({0x00, 0x3C, 0x40});
    TMidiFile file;
    EXPECT_THROW(file.LoadFromBytes(midi.Bytes()), EMidiError);
    ASSERT_EQ(file.Tracks().size(), 1u);
    EXPECT_EQ(file.Tracks()[0]->Name, "Conductor");
    EXPECT_EQ(file.TempoMicroseconds, 400000u);
}

// ---------------------------------------------------------------------------
// Header and chunk counting.

using LoaderChunks = LoaderTest;

TEST_F(LoaderChunks, AHeaderWithNoTracksLoadsAsAnEmptyFile) {
    const auto file = Load(Header(6, 1, 0, 480));
    EXPECT_EQ(file.MidiFormat, 1);
    EXPECT_EQ(file.PPQN, 480);
    EXPECT_TRUE(file.Tracks().empty());
    EXPECT_TRUE(file.Title.empty());
    EXPECT_FALSE(file.HasTempo);
    EXPECT_DOUBLE_EQ(file.TempoBPM, 120.0);
    EXPECT_EQ(file.TempoMicroseconds, 500000u);
    EXPECT_EQ(file.TimeNumerator, 4);
    EXPECT_EQ(file.TimeDenominator, 4);
    EXPECT_FALSE(file.HasKeySignature);
    EXPECT_FALSE(file.KeyWasEstimated);
    EXPECT_EQ(file.KeyName(), "не определена");
}

TEST_F(LoaderChunks, AnyFormatAndAZeroDivisionAreAccepted) {
    MidiBuilder midi(7, 0);
    midi.Track().Note(0, 10, 0, 60).End();
    const auto file = Load(midi.Bytes());
    EXPECT_EQ(file.MidiFormat, 7);
    EXPECT_EQ(file.PPQN, 0);
    EXPECT_EQ(file.Tracks().size(), 1u);
}

TEST_F(LoaderChunks, HeaderBytesBeyondTheSixthAreSkipped) {
    Bytes bytes = Header(10, 1, 1, 192);
    bytes.insert(bytes.end(), {'M', 'T', 'r', 'k'});  // looks like a chunk, but is header
    TrackBuilder track;
    track.Note(0, 96, 0, 62).End();
    AppendChunk(bytes, "MTrk", static_cast<std::uint32_t>(track.Data().size()), track.Data());
    ASSERT_EQ(bytes[18], 'M');
    const auto file = Load(bytes);
    EXPECT_EQ(file.PPQN, 192);
    ASSERT_EQ(file.Tracks().size(), 1u);
    EXPECT_EQ(NotesOf(*file.Tracks()[0]), (NoteRows{{0, 96, 62, 80, 0}}));
}

TEST_F(LoaderChunks, OnlyTheCountedChunksAreRead) {
    MidiBuilder midi(1, 96);
    midi.Track().Name("One").End();
    midi.Track().Name("Two").End();
    midi.Track().Raw({0x00, 0x3C});  // broken, but never looked at
    midi.TrackCount(2);
    Bytes bytes = midi.Bytes();
    bytes.insert(bytes.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    const auto file = Load(bytes);
    ASSERT_EQ(file.Tracks().size(), 2u);
    EXPECT_EQ(file.Tracks()[1]->Name, "Two");
}

TEST_F(LoaderChunks, EveryChunkGetsATrackNumberedFromOne) {
    MidiBuilder midi(1, 96);
    midi.Track().Tempo(0, 500000).End();
    midi.Track().Name("Piano").Note(0, 10, 0, 60).End();
    midi.Track().End();
    midi.Track().Note(0, 10, 1, 40).End();
    const auto file = Load(midi.Bytes());
    ASSERT_EQ(file.Tracks().size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& track = *file.Tracks()[i];
        EXPECT_EQ(track.Index, static_cast<std::int32_t>(i + 1));
        EXPECT_EQ(track.ClefMode, TClefMode::cmAuto);
        EXPECT_EQ(track.ExportName, track.Name);
    }
    EXPECT_EQ(file.Tracks()[0]->Name, "Track 1");
    EXPECT_EQ(file.Tracks()[1]->Name, "Piano");
    EXPECT_EQ(file.Tracks()[2]->Name, "Track 3");
    EXPECT_TRUE(file.Tracks()[2]->Notes().empty());
    EXPECT_EQ(file.Tracks()[3]->Notes().size(), 1u);
}

TEST_F(LoaderChunks, AChunkWithoutEndOfTrackEndsWithItsData) {
    EXPECT_EQ(NotesOfOnlyTrack(OneChunk({0x00, 0x90, 0x3C, 0x40, 0x10, 0x80, 0x3C, 0x00})),
              (NoteRows{{0, 16, 60, 64, 0}}));
    // Data that ends right after a delta time is a finished chunk, not a cut-off event.
    EXPECT_EQ(NotesOfOnlyTrack(OneChunk({0x00, 0x90, 0x3C, 0x40, 0x10, 0x80, 0x3C, 0x00, 0x05})).size(), 1u);
    EXPECT_TRUE(NotesOfOnlyTrack(OneChunk({})).empty());
}

TEST_F(LoaderChunks, BytesAfterEndOfTrackAreIgnored) {
    MidiBuilder midi(0, 96);
    midi.Track().Note(0, 10, 0, 60).End().Raw({0x00, 0x3C, 0x40, 0xFF});
    EXPECT_EQ(NotesOfOnlyTrack(midi.Bytes()), (NoteRows{{0, 10, 60, 80, 0}}));
}

TEST_F(LoaderChunks, TicksCountFromTheStartOfEachChunk) {
    MidiBuilder midi(1, 96);
    midi.Track().Note(1000, 10, 0, 60).End();
    midi.Track().Note(5, 10, 0, 62).End();
    const auto file = Load(midi.Bytes());
    EXPECT_EQ(NotesOf(*file.Tracks()[0]), (NoteRows{{1000, 1010, 60, 80, 0}}));
    EXPECT_EQ(NotesOf(*file.Tracks()[1]), (NoteRows{{5, 15, 62, 80, 0}}));
}

TEST_F(LoaderChunks, TicksGrowPastThirtyTwoBits) {
    MidiBuilder midi(0, 96);
    auto& track = midi.Track();
    for (int i = 0; i < 20; ++i) track.Event(0x0FFFFFFF, {0xFF, 0x01, 0x00});
    track.Note(0x0FFFFFFF, 0x0FFFFFFF, 0, 60).End();
    const std::int64_t start = 21LL * 0x0FFFFFFF;
    EXPECT_EQ(NotesOfOnlyTrack(midi.Bytes()), (NoteRows{{start, start + 0x0FFFFFFF, 60, 80, 0}}));
}

TEST_F(LoaderChunks, ALoadReplacesEverythingOfTheFileBefore) {
    MidiBuilder first(1, 96);
    first.Track().Name("Old").Tempo(0, 400000).TimeSig(0, 3, 2).KeySig(0, 3, true).End();
    first.Track().Note(0, 10, 0, 60).End();
    MidiBuilder second(0, 480);
    second.Track().End();

    TMidiFile file;
    file.LoadFromBytes(first.Bytes());
    ASSERT_EQ(file.Tracks().size(), 2u);
    file.LoadFromBytes(second.Bytes());
    EXPECT_EQ(file.MidiFormat, 0);
    EXPECT_EQ(file.PPQN, 480);
    ASSERT_EQ(file.Tracks().size(), 1u);
    EXPECT_EQ(file.Title, "Track 1");
    EXPECT_FALSE(file.HasTempo);
    EXPECT_EQ(file.TempoMicroseconds, 500000u);
    EXPECT_DOUBLE_EQ(file.TempoBPM, 120.0);
    EXPECT_EQ(file.TimeNumerator, 4);
    EXPECT_EQ(file.TimeDenominator, 4);
    EXPECT_FALSE(file.HasKeySignature);
    EXPECT_FALSE(file.KeyWasEstimated);
    EXPECT_EQ(file.KeyFifths, 0);
    EXPECT_FALSE(file.KeyMinor);
}

TEST_F(LoaderChunks, ARefusedHeaderKeepsTheOldFormatAndDivisionButNothingElse) {
    MidiBuilder first(1, 96);
    first.Track().Name("Old").Tempo(0, 400000).End();
    TMidiFile file;
    file.LoadFromBytes(first.Bytes());
    EXPECT_THROW(file.LoadFromBytes(Bytes{'M', 'T', 'h', 'd'}), EMidiError);
    EXPECT_EQ(file.MidiFormat, 1);
    EXPECT_EQ(file.PPQN, 96);
    EXPECT_TRUE(file.Tracks().empty());
    EXPECT_TRUE(file.Title.empty());
    EXPECT_FALSE(file.HasTempo);
}

// ---------------------------------------------------------------------------
// Note pairing.

using Loader = LoaderTest;

TEST_F(Loader, RepeatedNoteOnEndsTheSoundingNote) {
    MidiBuilder midi(0, 96);
    midi.Track().NoteOn(0, 0, 60, 100).NoteOn(10, 0, 60, 50).NoteOff(10, 0, 60).End();
    EXPECT_EQ(NotesOfOnlyTrack(midi.Bytes()), (NoteRows{{0, 10, 60, 100, 0}, {10, 20, 60, 50, 0}}));
}

TEST_F(Loader, TwoNoteOnsAtOneTickGiveANoteOfLengthZeroFirst) {
    MidiBuilder midi(0, 96);
    midi.Track().NoteOn(5, 3, 60, 90).NoteOn(0, 3, 60, 91).NoteOff(7, 3, 60).End();
    EXPECT_EQ(NotesOfOnlyTrack(midi.Bytes()), (NoteRows{{5, 5, 60, 90, 3}, {5, 12, 60, 91, 3}}));
}

TEST_F(Loader, NoteOffWithoutASoundingNoteAddsNothing) {
    MidiBuilder midi(0, 96);
    midi.Track().NoteOff(0, 0, 60).NoteOn(10, 0, 60, 70).NoteOff(10, 0, 60).NoteOff(10, 0, 60).End();
    EXPECT_EQ(NotesOfOnlyTrack(midi.Bytes()), (NoteRows{{10, 20, 60, 70, 0}}));
}

TEST_F(Loader, NoteOnWithVelocityZeroEndsLikeANoteOff) {
    MidiBuilder midi(0, 96);
    midi.Track().NoteOn(0, 0, 60, 70).NoteOn(24, 0, 60, 0).NoteOn(0, 0, 60, 0).End();
    EXPECT_EQ(NotesOfOnlyTrack(midi.Bytes()), (NoteRows{{0, 24, 60, 70, 0}}));
}

TEST_F(Loader, ANoteNeverSwitchedOffIsDropped) {
    MidiBuilder midi(0, 96);
    midi.Track().NoteOn(0, 0, 60, 70).NoteOn(0, 0, 64, 70).Note(0, 10, 0, 67).End(100);
    EXPECT_EQ(NotesOfOnlyTrack(midi.Bytes()), (NoteRows{{0, 10, 67, 80, 0}}));

    MidiBuilder onlyOns(0, 96);
    onlyOns.Track().NoteOn(0, 0, 60, 70).NoteOn(0, 1, 62, 70).End();
    EXPECT_TRUE(NotesOfOnlyTrack(onlyOns.Bytes()).empty());
}

TEST_F(Loader, NotesStandInTheOrderOfTheirEndingEvents) {
    MidiBuilder midi(0, 96);
    midi.Track()
        .NoteOn(0, 0, 60, 61)
        .NoteOn(0, 0, 64, 65)
        .NoteOn(0, 1, 67, 68)
        .NoteOff(10, 0, 64)
        .NoteOff(10, 1, 67)
        .NoteOff(10, 0, 60)
        .End();
    EXPECT_EQ(NotesOfOnlyTrack(midi.Bytes()), (NoteRows{{0, 10, 64, 65, 0}, {0, 20, 67, 68, 1}, {0, 30, 60, 61, 0}}));
}

TEST_F(Loader, ChannelsPairTheirOwnNotes) {
    MidiBuilder midi(0, 96);
    midi.Track()
        .NoteOn(0, 0, 60, 70)
        .NoteOn(0, 15, 60, 71)
        .NoteOff(10, 1, 60)  // another channel: nothing sounds there
        .NoteOff(10, 15, 60)
        .NoteOff(10, 0, 60)
        .End();
    EXPECT_EQ(NotesOfOnlyTrack(midi.Bytes()), (NoteRows{{0, 20, 60, 71, 15}, {0, 30, 60, 70, 0}}));
}

TEST_F(Loader, PendingNotesDoNotCarryOverToTheNextChunk) {
    MidiBuilder midi(1, 96);
    midi.Track().NoteOn(0, 0, 60, 70).End(10);
    midi.Track().NoteOff(20, 0, 60).End();
    const auto file = Load(midi.Bytes());
    EXPECT_TRUE(file.Tracks()[0]->Notes().empty());
    EXPECT_TRUE(file.Tracks()[1]->Notes().empty());
}

TEST_F(Loader, RunningStatusCarriesNoteOnsAndOffs) {
    // 90 3C 40 | 3E 40 | 3C 00 | 3E 00: two notes, the later ones by running status.
    EXPECT_EQ(NotesOfOnlyTrack(OneChunk({0x00, 0x90, 0x3C, 0x40, 0x00, 0x3E, 0x41, 0x08, 0x3C, 0x00, 0x04, 0x3E, 0x00,
                                         0x00, 0xFF, 0x2F, 0x00})),
              (NoteRows{{0, 8, 60, 64, 0}, {0, 12, 62, 65, 0}}));
}

TEST_F(Loader, AKeyByteOf128OrMoreChangesNothing) {
    // Masking 0x80 to seven bits would end or restart the note on key 0.
    EXPECT_EQ(NotesOfOnlyTrack(OneChunk({0x00, 0x90, 0x00, 0x40,     // key 0 on
                                         0x05, 0x90, 0x80, 0x50,     // key 128 on: ignored
                                         0x05, 0x80, 0x80, 0x00,     // key 128 off: ignored
                                         0x05, 0x90, 0xFF, 0x00,     // key 255, velocity 0: ignored
                                         0x05, 0x80, 0x00, 0x00})),  // key 0 off
              (NoteRows{{0, 20, 0, 64, 0}}));
    EXPECT_TRUE(NotesOfOnlyTrack(OneChunk({0x00, 0x90, 0xBC, 0x40, 0x05, 0x80, 0xBC, 0x40})).empty());
}

TEST_F(Loader, AVelocityOf128OrMoreIsStoredAsRead) {
    EXPECT_EQ(NotesOfOnlyTrack(OneChunk({0x00, 0x91, 0x3C, 0xC8, 0x05, 0x81, 0x3C, 0x00})),
              (NoteRows{{0, 5, 60, 200, 1}}));
}

TEST_F(Loader, NoteOffVelocityDoesNotMatter) {
    MidiBuilder midi(0, 96);
    midi.Track().NoteOn(0, 0, 60, 33).NoteOff(3, 0, 60, 127).End();
    EXPECT_EQ(NotesOfOnlyTrack(midi.Bytes()), (NoteRows{{0, 3, 60, 33, 0}}));
}

// ---------------------------------------------------------------------------
// Statuses other than notes: running status across meta, SysEx and system bytes.

using LoaderEvents = LoaderTest;

TEST_F(LoaderEvents, RunningStatusSurvivesAMetaEvent) {
    EXPECT_EQ(NotesOfOnlyTrack(OneChunk({0x00, 0x90, 0x3C, 0x40,            //
                                         0x00, 0xFF, 0x01, 0x02, 'h', 'i',  // text meta
                                         0x06, 0x3C, 0x00})),               // running note-off
              (NoteRows{{0, 6, 60, 64, 0}}));
}

TEST_F(LoaderEvents, SysExClearsTheRunningStatus) {
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0x90, 0x3C, 0x40, 0x00, 0xF0, 0x02, 0x7E, 0xF7, 0x06, 0x3C, 0x00})),
              "Invalid MIDI running status");
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0x90, 0x3C, 0x40, 0x00, 0xF7, 0x00, 0x06, 0x3C, 0x00})),
              "Invalid MIDI running status");
}

TEST_F(LoaderEvents, SysExDataIsSkippedWhateverItHolds) {
    MidiBuilder midi(0, 96);
    midi.Track().SysEx(0, {0x7E, 0x90, 0x3C, 0x40, 0xFF, 0xF7}).Note(0, 10, 0, 60).End();
    EXPECT_EQ(NotesOfOnlyTrack(midi.Bytes()), (NoteRows{{0, 10, 60, 80, 0}}));
}

TEST_F(LoaderEvents, SystemBytesTakeTwoDataBytesAndKeepTheRunningStatus) {
    for (int status = 0xF1; status <= 0xFE; ++status) {
        if (status == 0xF7) continue;
        const auto s = static_cast<std::uint8_t>(status);
        // 90 3C 40 | F? 3E 40 | 3C 00 (running note-off): the data bytes are not a note of their own.
        const auto bytes = OneChunk({0x00, 0x90, 0x3C, 0x40, 0x00, s, 0x3E, 0x40, 0x04, 0x3C, 0x00});
        EXPECT_EQ(NotesOfOnlyTrack(bytes), (NoteRows{{0, 4, 60, 64, 0}})) << "status " << status;
    }
}

TEST_F(LoaderEvents, ASystemByteNeverBecomesTheRunningStatus) {
    EXPECT_EQ(RefusalOf(OneChunk({0x00, 0xF8, 0x00, 0x00, 0x00, 0x00, 0x00})), "Invalid MIDI running status");
}

TEST_F(LoaderEvents, ControllersPitchBendAndPressureLeaveNoTrace) {
    MidiBuilder midi(0, 96);
    midi.Track()
        .Event(0, {0xB0, 0x07, 0x64})
        .Event(0, {0xE0, 0x00, 0x40})
        .Event(0, {0xA0, 0x3C, 0x10})
        .Event(0, {0xD0, 0x10})
        .Event(0, {0x20})  // running channel pressure, one data byte
        .Note(0, 10, 0, 60)
        .End();
    const auto file = Load(midi.Bytes());
    EXPECT_EQ(NotesOf(*file.Tracks()[0]), (NoteRows{{0, 10, 60, 80, 0}}));
    EXPECT_EQ(file.Tracks()[0]->ProgramNumber, -1);
}

TEST_F(LoaderEvents, TheFirstProgramChangeOfAChunkCountsOnAnyChannel) {
    MidiBuilder midi(1, 96);
    midi.Track().Program(0, 5, 33).Program(0, 0, 40).Note(0, 10, 0, 60).End();
    midi.Track().Note(0, 10, 0, 60).End();
    midi.Track().Raw({0x00, 0xC2, 0x07, 0x00, 0x09}).End();  // the second by running status
    midi.Track().Raw({0x00, 0xC0, 0x85}).End();
    const auto file = Load(midi.Bytes());
    EXPECT_EQ(file.Tracks()[0]->ProgramNumber, 33);
    EXPECT_EQ(file.Tracks()[1]->ProgramNumber, -1);
    EXPECT_EQ(file.Tracks()[2]->ProgramNumber, 7);
    EXPECT_EQ(file.Tracks()[3]->ProgramNumber, 0x85);  // stored as read
}

// ---------------------------------------------------------------------------
// Tempo, time signature, key signature.

using LoaderTempo = LoaderTest;

TEST_F(LoaderTempo, FiveHundredThousandMicrosecondsAre120Bpm) {
    MidiBuilder midi(0, 96);
    midi.Track().Tempo(0, 500000).End();
    const auto file = Load(midi.Bytes());
    EXPECT_TRUE(file.HasTempo);
    EXPECT_EQ(file.TempoMicroseconds, 500000u);
    EXPECT_EQ(file.TempoBPM, 120.0);
}

TEST_F(LoaderTempo, TheBpmIsTheUnroundedQuotient) {
    MidiBuilder midi(0, 96);
    midi.Track().Tempo(0, 7).End();
    const auto file = Load(midi.Bytes());
    EXPECT_EQ(file.TempoBPM, 60000000.0 / 7.0);

    MidiBuilder slow(0, 96);
    slow.Track().Tempo(0, 0xFFFFFF).End();
    EXPECT_EQ(Load(slow.Bytes()).TempoBPM, 60000000.0 / 16777215.0);
}

TEST_F(LoaderTempo, TheFirstTempoReadWinsEvenIfLater) {
    MidiBuilder midi(1, 96);
    midi.Track().Tempo(1000, 600000).Tempo(0, 300000).End();
    midi.Track().Tempo(0, 400000).End();
    const auto file = Load(midi.Bytes());
    EXPECT_EQ(file.TempoMicroseconds, 600000u);
    EXPECT_DOUBLE_EQ(file.TempoBPM, 100.0);
}

TEST_F(LoaderTempo, MalformedAndZeroTemposLeaveTheNextOneItsChance) {
    MidiBuilder midi(1, 96);
    midi.Track().Meta(0, 0x51, {0x07, 0xA1}).Meta(0, 0x51, {0x00, 0x07, 0xA1, 0x20}).Tempo(0, 0).End();
    midi.Track().Tempo(0, 750000).End();
    const auto file = Load(midi.Bytes());
    EXPECT_TRUE(file.HasTempo);
    EXPECT_EQ(file.TempoMicroseconds, 750000u);
    EXPECT_DOUBLE_EQ(file.TempoBPM, 80.0);
}

TEST_F(LoaderTempo, OnlyIgnoredTemposLeaveTheDefault) {
    MidiBuilder midi(0, 96);
    midi.Track().Meta(0, 0x51, {0x07, 0xA1}).Tempo(0, 0).End();
    const auto file = Load(midi.Bytes());
    EXPECT_FALSE(file.HasTempo);
    EXPECT_EQ(file.TempoMicroseconds, 500000u);
    EXPECT_EQ(file.TempoBPM, 120.0);
}

using LoaderTimeSignature = LoaderTest;

TEST_F(LoaderTimeSignature, TheLastOneReadWinsAcrossTracks) {
    MidiBuilder midi(1, 96);
    midi.Track().TimeSig(0, 3, 2).TimeSig(960, 6, 3).End();
    const auto one = Load(midi.Bytes());
    EXPECT_EQ(one.TimeNumerator, 6);
    EXPECT_EQ(one.TimeDenominator, 8);

    midi.Track().TimeSig(0, 5, 2).End();
    const auto two = Load(midi.Bytes());
    EXPECT_EQ(two.TimeNumerator, 5);
    EXPECT_EQ(two.TimeDenominator, 4);
}

TEST_F(LoaderTimeSignature, TwoDataBytesAreEnoughAndOneIsIgnored) {
    MidiBuilder midi(0, 96);
    midi.Track().Meta(0, 0x58, {2, 1}).Meta(0, 0x58, {7}).End();
    const auto file = Load(midi.Bytes());
    EXPECT_EQ(file.TimeNumerator, 2);
    EXPECT_EQ(file.TimeDenominator, 2);
}

TEST_F(LoaderTimeSignature, ExtremeValuesAreStoredWithoutOverflow) {
    auto load = [](std::uint8_t numerator, std::uint8_t exponent) {
        MidiBuilder midi(0, 96);
        midi.Track().Meta(0, 0x58, {numerator, exponent, 24, 8}).End();
        return Load(midi.Bytes());
    };
    EXPECT_EQ(load(0, 0).TimeNumerator, 0);
    EXPECT_EQ(load(0, 0).TimeDenominator, 1);
    EXPECT_EQ(load(255, 2).TimeNumerator, 255);
    EXPECT_EQ(load(4, 30).TimeDenominator, 1073741824);
    EXPECT_EQ(load(4, 31).TimeDenominator, 1073741824);
    EXPECT_EQ(load(4, 32).TimeDenominator, 1073741824);
    EXPECT_EQ(load(4, 255).TimeDenominator, 1073741824);
}

using LoaderKeySignature = LoaderTest;

TEST_F(LoaderKeySignature, TheFirstOneReadWins) {
    MidiBuilder midi(1, 96);
    midi.Track().Name("Conductor").End();
    midi.Track().KeySig(0, 2, false).KeySig(0, -3, true).End();
    midi.Track().KeySig(0, 4, false).End();
    const auto file = Load(midi.Bytes());
    EXPECT_TRUE(file.HasKeySignature);
    EXPECT_FALSE(file.KeyWasEstimated);
    EXPECT_EQ(file.KeyFifths, 2);
    EXPECT_FALSE(file.KeyMinor);
    EXPECT_EQ(file.KeyName(), "D major");
}

TEST_F(LoaderKeySignature, TheFifthsByteIsSignedAndNotClamped) {
    auto load = [](std::uint8_t fifths, std::uint8_t mode) {
        MidiBuilder midi(0, 96);
        midi.Track().Meta(0, 0x59, {fifths, mode}).End();
        return Load(midi.Bytes());
    };
    EXPECT_EQ(load(0xF9, 0).KeyFifths, -7);
    EXPECT_EQ(load(0x80, 0).KeyFifths, -128);
    EXPECT_EQ(load(0x80, 0).KeyName(), "Cb major");
    EXPECT_EQ(load(0x7F, 0).KeyFifths, 127);
    EXPECT_TRUE(load(0x03, 2).KeyMinor);  // any nonzero mode byte is minor
    EXPECT_EQ(load(0x03, 2).KeyName(), "F# minor");
    EXPECT_FALSE(load(0x03, 0).KeyMinor);
}

TEST_F(LoaderKeySignature, AShortKeySignatureIsIgnored) {
    MidiBuilder midi(0, 96);
    midi.Track().Meta(0, 0x59, {0x02}).KeySig(0, -1, false).End();
    const auto file = Load(midi.Bytes());
    EXPECT_TRUE(file.HasKeySignature);
    EXPECT_EQ(file.KeyFifths, -1);
}

TEST_F(LoaderKeySignature, AFileWithAKeySignatureIsNeverEstimated) {
    MidiBuilder midi(0, 96);
    // An A-major triad that estimation would call A major; the file says C major.
    midi.Track().KeySig(0, 0, false).Note(0, 480, 0, 69).Note(0, 480, 0, 73).Note(0, 480, 0, 76).End();
    const auto file = Load(midi.Bytes());
    EXPECT_TRUE(file.HasKeySignature);
    EXPECT_FALSE(file.KeyWasEstimated);
    EXPECT_EQ(file.KeyFifths, 0);
    EXPECT_FALSE(file.KeyMinor);
    EXPECT_EQ(file.KeyName(), "C major");
}

// ---------------------------------------------------------------------------
// Track names, instrument names, the title and the code-page fall-back.

using LoaderNames = LoaderTest;

TEST_F(LoaderNames, TheLastTrackNameWinsAndTheFirstTrackGivesTheTitle) {
    MidiBuilder midi(1, 96);
    midi.Track().Name("Draft").Name("Song", 100).End();
    midi.Track().Name("Piano").Instrument("Grand").Instrument("Upright").End();
    const auto file = Load(midi.Bytes());
    EXPECT_EQ(file.Tracks()[0]->Name, "Song");
    EXPECT_EQ(file.Tracks()[0]->ExportName, "Song");
    EXPECT_EQ(file.Title, "Song");
    EXPECT_EQ(file.Tracks()[0]->InstrumentName, "");
    EXPECT_EQ(file.Tracks()[1]->Name, "Piano");
    EXPECT_EQ(file.Tracks()[1]->InstrumentName, "Upright");
}

TEST_F(LoaderNames, AnUnnamedFirstTrackGivesTheTitleTrack1) {
    MidiBuilder midi(1, 96);
    midi.Track().End();
    midi.Track().Name("Piano").End();
    const auto file = Load(midi.Bytes());
    EXPECT_EQ(file.Title, "Track 1");
    EXPECT_EQ(file.Tracks()[0]->ExportName, "Track 1");
}

TEST_F(LoaderNames, AnEmptyNameEventLeavesTheNumberedName) {
    MidiBuilder midi(1, 96);
    midi.Track().End();
    midi.Track().Name("").End();
    midi.Track().Name("Violin").Name("").End();  // the last event is the empty one
    const auto file = Load(midi.Bytes());
    EXPECT_EQ(file.Tracks()[1]->Name, "Track 2");
    EXPECT_EQ(file.Tracks()[2]->Name, "Track 3");
    EXPECT_EQ(file.Tracks()[2]->ExportName, "Track 3");
}

TEST_F(LoaderNames, TextsAreKeptExactlyWithoutTrimming) {
    MidiBuilder midi(0, 96);
    midi.Track().Meta(0, 0x03, {' ', 'B', 'a', 's', 's', ' ', 0x00, '\t'}).End();
    EXPECT_EQ(Load(midi.Bytes()).Tracks()[0]->Name, std::string(" Bass \0\t", 8));
}

TEST_F(LoaderNames, ValidUtf8IsKept) {
    MidiBuilder midi(0, 96);
    midi.Track().Name("Скрипка \xF0\x9F\x8E\xBB").Instrument("Фортепиано").End();
    const auto file = Load(midi.Bytes());
    EXPECT_EQ(file.Tracks()[0]->Name, "Скрипка \xF0\x9F\x8E\xBB");
    EXPECT_EQ(file.Tracks()[0]->InstrumentName, "Фортепиано");
    EXPECT_EQ(file.Title, "Скрипка \xF0\x9F\x8E\xBB");
}

TEST_F(LoaderNames, TextThatIsNotUtf8IsReadAsWindows1251) {
    MidiBuilder midi(0, 96);
    midi.Track().Meta(0, 0x03, {0xCF, 0xE8, 0xE0, 0xED, 0xEE, ' ', '2'}).Meta(0, 0x04, {0xC1, 0xE0, 0xF1}).End();
    const auto file = Load(midi.Bytes());
    EXPECT_EQ(file.Tracks()[0]->Name, "Пиано 2");
    EXPECT_EQ(file.Tracks()[0]->InstrumentName, "Бас");
}

TEST_F(LoaderNames, TheWholeUpperHalfOfWindows1251DecodesAndItsGapIsAReplacementCharacter) {
    Bytes upper;
    for (int b = 0x80; b <= 0xFF; ++b) upper.push_back(static_cast<std::uint8_t>(b));
    MidiBuilder midi(0, 96);
    midi.Track().Meta(0, 0x03, upper).End();
    const std::string expected =
        "\xD0\x82\xD0\x83\xE2\x80\x9A\xD1\x93\xE2\x80\x9E\xE2\x80\xA6\xE2\x80\xA0\xE2\x80\xA1\xE2\x82\xAC\xE2\x80\xB0"
        "\xD0\x89\xE2\x80\xB9\xD0\x8A\xD0\x8C\xD0\x8B\xD0\x8F"  // ЂЃ‚ѓ„…†‡€‰Љ‹ЊЌЋЏ
        "\xD1\x92\xE2\x80\x98\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x9D\xE2\x80\xA2\xE2\x80\x93\xE2\x80\x94\xEF\xBF\xBD"
        "\xE2\x84\xA2\xD1\x99\xE2\x80\xBA\xD1\x9A\xD1\x9C\xD1\x9B\xD1\x9F"  // ђ‘’“”•–—�™љ›њќћџ
        "\xC2\xA0\xD0\x8E\xD1\x9E\xD0\x88\xC2\xA4\xD2\x90\xC2\xA6\xC2\xA7\xD0\x81\xC2\xA9\xD0\x84\xC2\xAB\xC2\xAC"
        "\xC2\xAD\xC2\xAE\xD0\x87"  // NBSP ЎўЈ¤Ґ¦§Ё©Є«¬ SHY ®Ї
        "\xC2\xB0\xC2\xB1\xD0\x86\xD1\x96\xD2\x91\xC2\xB5\xC2\xB6\xC2\xB7\xD1\x91\xE2\x84\x96\xD1\x94\xC2\xBB\xD1\x98"
        "\xD0\x85\xD1\x95\xD1\x97"  // °±Ііґµ¶·ё№є»јЅѕї
        "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя";
    EXPECT_EQ(Load(midi.Bytes()).Tracks()[0]->Name, expected);
}

TEST_F(LoaderNames, MalformedUtf8FallsBackAsAWhole) {
    auto nameOf = [](const Bytes& text) {
        MidiBuilder midi(0, 96);
        midi.Track().Meta(0, 0x03, text).End();
        return Load(midi.Bytes()).Tracks()[0]->Name;
    };
    EXPECT_EQ(nameOf({0xC0, 0x80}), "А\xD0\x82");                              // overlong NUL
    EXPECT_EQ(nameOf({0xE0, 0x80, 0xAF}), "а\xD0\x82\xD0\x87");                // overlong '/'
    EXPECT_EQ(nameOf({0xED, 0xA0, 0x80}), "н\xC2\xA0\xD0\x82");                // a UTF-16 surrogate
    EXPECT_EQ(nameOf({0xF4, 0x90, 0x80, 0x80}), "ф\xD1\x92\xD0\x82\xD0\x82");  // beyond U+10FFFF
    EXPECT_EQ(nameOf({'A', 0xE2, 0x82}), "Aв\xE2\x80\x9A");                    // cut-off sequence
    EXPECT_EQ(nameOf({'A', 0xD0, 0x9F, 0xFF}), "AР\xD1\x9Fя");                 // valid start, bad byte later
    EXPECT_EQ(nameOf({0xF8, 0x88, 0x80, 0x80, 0x80}), "ш\xE2\x82\xAC\xD0\x82\xD0\x82\xD0\x82");  // five-byte form
}

// ---------------------------------------------------------------------------
// Key estimation from the notes of a file without a key signature.

using KeyEstimation = LoaderTest;

// One track of notes (pitch, length) one after another on the given channel.
Bytes Melody(std::initializer_list<std::pair<int, std::uint32_t>> notes, int channel = 0) {
    MidiBuilder midi(0, 480);
    auto& track = midi.Track();
    for (const auto& [pitch, length] : notes) track.Note(0, length, channel, pitch);
    track.End();
    return midi.Bytes();
}

TEST_F(KeyEstimation, ACMajorScaleIsCMajor) {
    const auto file =
        Load(Melody({{60, 480}, {62, 480}, {64, 480}, {65, 480}, {67, 480}, {69, 480}, {71, 480}, {72, 480}}));
    EXPECT_TRUE(file.KeyWasEstimated);
    EXPECT_FALSE(file.HasKeySignature);
    EXPECT_EQ(file.KeyFifths, 0);
    EXPECT_FALSE(file.KeyMinor);
    EXPECT_EQ(file.KeyName(), "C major");
}

TEST_F(KeyEstimation, SharpTonicsAreSpelledAsTheTableSays) {
    const auto cSharp =
        Load(Melody({{61, 480}, {63, 480}, {65, 480}, {66, 480}, {68, 480}, {70, 480}, {72, 480}, {73, 480}}));
    EXPECT_EQ(cSharp.KeyName(), "C# major");
    EXPECT_EQ(cSharp.KeyFifths, 7);

    const auto dSharpMinor = Load(Melody({{63, 960}, {66, 480}, {70, 480}}));
    EXPECT_EQ(dSharpMinor.KeyName(), "D# minor");
    EXPECT_EQ(dSharpMinor.KeyFifths, 6);
    EXPECT_TRUE(dSharpMinor.KeyMinor);

    const auto aSharpMinor = Load(Melody({{70, 960}, {73, 480}, {77, 480}}));
    EXPECT_EQ(aSharpMinor.KeyName(), "A# minor");
    EXPECT_EQ(aSharpMinor.KeyFifths, 7);
}

TEST_F(KeyEstimation, ASingleNoteNamesItsMajorKey) {
    const auto file = Load(Melody({{69, 1}}));
    EXPECT_EQ(file.KeyFifths, 3);
    EXPECT_FALSE(file.KeyMinor);
}

TEST_F(KeyEstimation, EqualScoresGoToTheFirstKeyInOrder) {
    // C and F# weigh the same: C minor and F# minor score exactly alike (just above
    // C major and F# major), and C minor comes first.
    const auto file = Load(Melody({{60, 1}, {66, 1}}));
    EXPECT_TRUE(file.KeyWasEstimated);
    EXPECT_EQ(file.KeyFifths, -3);
    EXPECT_TRUE(file.KeyMinor);
    EXPECT_EQ(file.KeyName(), "C minor");
}

TEST_F(KeyEstimation, NotesOfLengthZeroWeighLikeLengthOne) {
    // Weighted by the raw square root, these four would weigh nothing and C major would win.
    const auto file = Load(Melody({{69, 0}, {60, 0}, {64, 0}, {67, 0}}));
    EXPECT_TRUE(file.KeyWasEstimated);
    EXPECT_EQ(file.KeyName(), "A minor");
}

TEST_F(KeyEstimation, LongNotesWeighByTheSquareRootOfTheirLength) {
    const auto file = Load(Melody({{69, 10000}, {60, 1}, {64, 1}, {67, 1}}));
    EXPECT_EQ(file.KeyName(), "A minor");
}

TEST_F(KeyEstimation, ThePercussionChannelIsLeftOut) {
    TrackBuilder tune;
    for (const int pitch : {60, 62, 64, 65, 67, 69, 71, 72}) tune.Note(0, 480, 0, pitch);
    tune.End();
    MidiBuilder midi(1, 480);
    midi.Track().RawBytes(tune.Data());
    auto& drums = midi.Track();
    for (int i = 0; i < 20; ++i) drums.Note(0, 10000, 9, 66);
    drums.End();
    EXPECT_EQ(Load(midi.Bytes()).KeyName(), "C major");

    // The same notes on channel 8 do count, and turn the key.
    MidiBuilder counted(1, 480);
    counted.Track().RawBytes(tune.Data());
    auto& loud = counted.Track();
    for (int i = 0; i < 20; ++i) loud.Note(0, 10000, 8, 66);
    loud.End();
    EXPECT_EQ(Load(counted.Bytes()).KeyName(), "F# minor");
}

TEST_F(KeyEstimation, OnlyPercussionLeavesTheKeyUndetermined) {
    const auto file = Load(Melody({{36, 480}, {38, 480}, {42, 480}}, 9));
    EXPECT_FALSE(file.KeyWasEstimated);
    EXPECT_FALSE(file.HasKeySignature);
    EXPECT_EQ(file.KeyFifths, 0);
    EXPECT_FALSE(file.KeyMinor);
    EXPECT_EQ(file.KeyName(), "не определена");
}

TEST_F(KeyEstimation, AFileWithoutNotesLeavesTheKeyUndetermined) {
    MidiBuilder midi(1, 96);
    midi.Track().Tempo(0, 500000).End();
    midi.Track().NoteOn(0, 0, 60, 90).End();  // never switched off, so not a note
    const auto file = Load(midi.Bytes());
    EXPECT_FALSE(file.KeyWasEstimated);
    EXPECT_EQ(file.KeyName(), "не определена");
}

}  // namespace
}  // namespace korvalin
