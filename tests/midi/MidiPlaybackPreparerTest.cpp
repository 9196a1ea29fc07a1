#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "FileIO.h"
#include "MidiBuilder.h"
#include "MidiPlaybackPreparer.h"

namespace korvalin {
namespace {

using test::Bytes;
using test::MidiBuilder;

std::string ReadErrorOf(const Bytes& source) {
    try {
        PreparePlaybackBytes(source);
    } catch (const EReadError& e) {
        return e.what();
    }
    return "no read error";
}

Bytes Header(int division, int tracks = 1) {
    MidiBuilder midi(1, division);
    midi.TrackCount(tracks);
    return midi.Bytes();
}

Bytes Chunk(const std::string& id, const Bytes& data) {
    Bytes out(id.begin(), id.end());
    test::PutU32(out, static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes kNoteAndEnd = {0x90, 60, 100, 0x83, 0x60, 0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00};

Bytes Delta(std::uint32_t value) {
    Bytes out;
    test::PutVarLen(out, value);
    return out;
}

// ---------------------------------------------------------------- lead-in

TEST(PreparerLeadIn, IsAQuarterOfTheDivisionAndAtLeastOneTick) {
    EXPECT_EQ(PlaybackLeadIn(480), 120u);
    EXPECT_EQ(PlaybackLeadIn(96), 24u);
    EXPECT_EQ(PlaybackLeadIn(3), 1u);
    EXPECT_EQ(PlaybackLeadIn(2), 1u);
    EXPECT_EQ(PlaybackLeadIn(0), 1u);
    EXPECT_EQ(PlaybackLeadIn(0x7FFF), 0x1FFFu);
    EXPECT_EQ(PlaybackLeadIn(0xE728), 24u);  // SMPTE: -25 frames, 40 ticks each
}

TEST(PreparerLeadIn, FirstDeltaZeroBecomesTheLeadInInOneByte) {
    const Bytes source = Join({Header(480), Chunk("MTrk", Join({{0x00}, kNoteAndEnd}))});
    EXPECT_EQ(PreparePlaybackBytes(source), Join({Header(480), Chunk("MTrk", Join({{0x78}, kNoteAndEnd}))}));
}

TEST(PreparerLeadIn, LongerDeltaGrowsTheChunkLength) {
    const Bytes source = Join({Header(480), Chunk("MTrk", Join({{0x0A}, kNoteAndEnd}))});
    EXPECT_EQ(PreparePlaybackBytes(source), Join({Header(480), Chunk("MTrk", Join({{0x81, 0x02}, kNoteAndEnd}))}));
}

TEST(PreparerLeadIn, SmallAndSmpteDivisions) {
    EXPECT_EQ(PreparePlaybackBytes(Join({Header(2), Chunk("MTrk", Join({{0x05}, kNoteAndEnd}))})),
              Join({Header(2), Chunk("MTrk", Join({{0x06}, kNoteAndEnd}))}));
    EXPECT_EQ(PreparePlaybackBytes(Join({Header(0xE728), Chunk("MTrk", Join({{0x00}, kNoteAndEnd}))})),
              Join({Header(0xE728), Chunk("MTrk", Join({{24}, kNoteAndEnd}))}));
}

TEST(PreparerLeadIn, DeltaNearTheLimitStopsAtTheLargestDeltaTime) {
    const Bytes source = Join({Header(480), Chunk("MTrk", Join({Delta(0x0FFFFFFF - 100), kNoteAndEnd}))});
    EXPECT_EQ(PreparePlaybackBytes(source),
              Join({Header(480), Chunk("MTrk", Join({{0xFF, 0xFF, 0xFF, 0x7F}, kNoteAndEnd}))}));
}

// ---------------------------------------------------------------- chunks

TEST(PreparerChunks, EveryTrackChunkIsDelayedWhateverTheHeaderCounts) {
    const Bytes source = Join({Header(96, 1), Chunk("MTrk", Join({{0x00}, kNoteAndEnd})),
                               Chunk("MTrk", Join({{0x10}, kNoteAndEnd})), Chunk("MTrk", Join({{0x7F}, kNoteAndEnd}))});
    EXPECT_EQ(PreparePlaybackBytes(source),
              Join({Header(96, 1), Chunk("MTrk", Join({{24}, kNoteAndEnd})), Chunk("MTrk", Join({{0x28}, kNoteAndEnd})),
                    Chunk("MTrk", Join({{0x81, 0x17}, kNoteAndEnd}))}));
}

TEST(PreparerChunks, EmptyTracksOtherChunksAndStrayBytesAreCopied) {
    const Bytes other = Chunk("XFIH", {0x00, 0x01, 0x02});
    const Bytes empty = Chunk("MTrk", {});
    const Bytes stray = {1, 2, 3, 4, 5};
    const Bytes source = Join({Header(480), other, empty, Chunk("MTrk", Join({{0x00}, kNoteAndEnd})), stray});
    EXPECT_EQ(PreparePlaybackBytes(source),
              Join({Header(480), other, empty, Chunk("MTrk", Join({{0x78}, kNoteAndEnd})), stray}));
}

TEST(PreparerChunks, LaterDeltaTimesAndLongerHeadersAreKept) {
    Bytes header = Header(480);
    header[7] = 8;
    header.insert(header.end(), {0xAB, 0xCD});
    const Bytes source = Join({header, Chunk("MTrk", Join({{0x00}, kNoteAndEnd}))});
    EXPECT_EQ(PreparePlaybackBytes(source), Join({header, Chunk("MTrk", Join({{0x78}, kNoteAndEnd}))}));
}

TEST(PreparerChunks, MalformedFilesAreRefusedWithTheirMessage) {
    const Bytes track = Chunk("MTrk", Join({{0x00}, kNoteAndEnd}));
    const Bytes good = Join({Header(480), track});
    EXPECT_EQ(ReadErrorOf(Bytes(good.begin(), good.begin() + 13)), "This is not a Standard MIDI File.");
    Bytes notMidi = good;
    notMidi[3] = 'D';
    EXPECT_EQ(ReadErrorOf(notMidi), "This is not a Standard MIDI File.");

    Bytes shortHeader = good;
    shortHeader[7] = 5;
    EXPECT_EQ(ReadErrorOf(shortHeader), "Invalid MIDI header.");
    Bytes longHeader = Header(480);
    longHeader[7] = 7;
    EXPECT_EQ(ReadErrorOf(longHeader), "Invalid MIDI header.");
    Bytes negativeHeader = good;
    negativeHeader[4] = 0x80;
    EXPECT_EQ(ReadErrorOf(negativeHeader), "Invalid MIDI header.");

    Bytes negativeChunk = good;
    negativeChunk[18] = 0x80;
    EXPECT_EQ(ReadErrorOf(negativeChunk), "Invalid MIDI chunk.");
    Bytes cut = good;
    cut.pop_back();
    EXPECT_EQ(ReadErrorOf(cut), "Invalid MIDI chunk.");

    EXPECT_EQ(ReadErrorOf(Join({Header(480), Chunk("MTrk", {0x81, 0x82})})), "Invalid MIDI delta time.");
    EXPECT_EQ(ReadErrorOf(Join({Header(480), Chunk("MTrk", {0x81, 0x82, 0x83, 0x84, 0x05})})),
              "Invalid MIDI delta time.");
}

// ---------------------------------------------------------------- variable-length quantities

TEST(PreparerVarLen, WritesOneToFourBytesOfTheLow28Bits) {
    const auto encoded = [](std::uint32_t value) {
        Bytes out;
        WriteVarLen(out, value);
        return out;
    };
    EXPECT_EQ(encoded(0), Bytes({0x00}));
    EXPECT_EQ(encoded(127), Bytes({0x7F}));
    EXPECT_EQ(encoded(128), Bytes({0x81, 0x00}));
    EXPECT_EQ(encoded(130), Bytes({0x81, 0x02}));
    EXPECT_EQ(encoded(0x3FFF), Bytes({0xFF, 0x7F}));
    EXPECT_EQ(encoded(0x4000), Bytes({0x81, 0x80, 0x00}));
    EXPECT_EQ(encoded(0x0FFFFFFF), Bytes({0xFF, 0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(encoded(0x10000005), Bytes({0x05}));
}

TEST(PreparerVarLen, ReadsNoFurtherThanTheEndPosition) {
    const Bytes data = {0x99, 0x81, 0x00, 0x42};
    const TDeltaTime delta = ReadDeltaTime(data, 1, 3);
    EXPECT_EQ(delta.Value, 128u);
    EXPECT_EQ(delta.Length, 2u);
    EXPECT_THROW(ReadDeltaTime(data, 1, 2), EReadError);
    EXPECT_THROW(ReadDeltaTime(data, 4, 4), EReadError);
    const Bytes unfinished = {0x81, 0x82};
    EXPECT_THROW(ReadDeltaTime(unfinished, 0, 100), EReadError);  // runs into the end of the data
}

// ---------------------------------------------------------------- files

TEST(PreparerFiles, TargetMayBeTheSourceAndFailuresKeepIt) {
    const auto dir = std::filesystem::temp_directory_path() / ("korvalin-preparer-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "play.mid").string();
    const Bytes source = Join({Header(480), Chunk("MTrk", Join({{0x00}, kNoteAndEnd}))});
    WriteFileAtomically(file, source);

    PreparePlaybackMidi(file, file);
    EXPECT_EQ(ReadWholeFile(file), PreparePlaybackBytes(source));

    const Bytes broken = Join({Header(480), Chunk("MTrk", {0x81})});
    WriteFileAtomically(file, broken);
    EXPECT_THROW(PreparePlaybackMidi(file, file), EReadError);
    EXPECT_EQ(ReadWholeFile(file), broken);

    EXPECT_THROW(PreparePlaybackMidi((dir / "absent.mid").string(), file), EFileError);
    EXPECT_EQ(ReadWholeFile(file), broken);
    const std::string good = (dir / "good.mid").string();
    WriteFileAtomically(good, source);
    EXPECT_THROW(PreparePlaybackMidi(good, (dir / "none" / "x.mid").string()), EFileError);
    EXPECT_THROW(PreparePlaybackMidi(good, dir.string()), EFileError);
    EXPECT_EQ(ReadWholeFile(good), source);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korvalin
