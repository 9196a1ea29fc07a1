#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <iterator>

#include "FileIO.h"
#include "MidiBuilder.h"
#include "MidiTransposer.h"

namespace korvalin {
namespace {

using test::Bytes;
using test::MidiBuilder;

constexpr std::uint32_t k120Bpm = 500000;
constexpr std::uint32_t k96Bpm = 625000;

Bytes Transpose(const Bytes& source, int semitones, int fifths, bool minor, int tempo) {
    return TransposeMidiBytes(source, semitones, fifths, minor, tempo);
}

// A file of one track whose data is given as raw bytes.
Bytes OneTrack(const Bytes& data, int format = 0) {
    MidiBuilder midi(format, 480);
    midi.Track().RawBytes(data);
    return midi.Bytes();
}

template <typename E>
std::string MessageOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("wrong kind: ") + e.what();
    }
    return "nothing thrown";
}

std::string ReadErrorOf(const Bytes& source, int semitones = 0) {
    return MessageOf<EReadError>([&] { Transpose(source, semitones, 0, false, 120); });
}

// ---------------------------------------------------------------- events

TEST(TransposerEvents, NotesMoveAndKeyAndTempoAreReplacedInPlace) {
    MidiBuilder source(1, 480);
    source.Track()
        .Name("Piano")
        .KeySig(0, -3, true)
        .Tempo(0, k120Bpm)
        .Program(0, 0, 5)
        .NoteOn(0, 0, 60, 100)
        .Event(0, {0xA0, 60, 33})
        .NoteOff(480, 0, 60, 64)
        .End();
    MidiBuilder expected(1, 480);
    expected.Track()
        .Name("Piano")
        .KeySig(0, 2, false)
        .Tempo(0, k96Bpm)
        .Program(0, 0, 5)
        .NoteOn(0, 0, 62, 100)
        .Event(0, {0xA0, 60, 33})
        .NoteOff(480, 0, 62, 64)
        .End();

    EXPECT_EQ(Transpose(source.Bytes(), 2, 2, false, 96), expected.Bytes());
}

TEST(TransposerEvents, NoteOnWithVelocityZeroMovesLikeAnyNote) {
    const Bytes source = OneTrack({0x00, 0x91, 64,   90,   0x60, 0x91, 64,   0,    0x00, 0xFF, 0x59, 0x02, 0,
                                   0,    0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x2F, 0x00});
    const Bytes out = Transpose(source, -5, 0, false, 120);
    EXPECT_EQ(out[14 + 8 + 2], 59);
    EXPECT_EQ(out[14 + 8 + 6], 59);
}

TEST(TransposerEvents, ThreeTempoEventsBecomeThreeEqualTempoEvents) {
    MidiBuilder source(1, 96);
    source.Track().Tempo(0, 400000).Tempo(96, 600000).End();
    source.Track().Tempo(0, 300000).Note(0, 96, 1, 70).End();
    MidiBuilder expected(1, 96);
    expected.Track().Tempo(0, k96Bpm).Tempo(96, k96Bpm).KeySig(0, 1, false).End();
    expected.Track().Tempo(0, k96Bpm).Note(0, 96, 1, 70).End();

    EXPECT_EQ(Transpose(source.Bytes(), 0, 1, false, 96), expected.Bytes());
}

TEST(TransposerEvents, KeySignatureWithThreeDataBytesKeepsTheThird) {
    MidiBuilder source(0, 480);
    source.Track().Meta(0, 0x59, {0x02, 0x00, 0x7E}).Tempo(0, k120Bpm).End();
    MidiBuilder expected(0, 480);
    expected.Track().Meta(0, 0x59, {0xF9, 0x01, 0x7E}).Tempo(0, k120Bpm).End();

    EXPECT_EQ(Transpose(source.Bytes(), 0, -7, true, 120), expected.Bytes());
}

TEST(TransposerEvents, ShortKeyAndTempoEventsAreLeftAloneAndCountAsMissing) {
    MidiBuilder source(0, 480);
    source.Track().Meta(0, 0x59, {0x02}).Meta(0, 0x51, {0x07, 0xA1}).End();
    MidiBuilder expected(0, 480);
    expected.Track().Meta(0, 0x59, {0x02}).Meta(0, 0x51, {0x07, 0xA1}).Tempo(0, k96Bpm).KeySig(0, 3, false).End();

    EXPECT_EQ(Transpose(source.Bytes(), 0, 3, false, 96), expected.Bytes());
}

TEST(TransposerEvents, PercussionChannelNeverMovesNorOverflows) {
    MidiBuilder source(0, 480);
    source.Track().KeySig(0, 0, false).Tempo(0, k120Bpm).Note(0, 10, 9, 127).Note(0, 10, 9, 0).End();
    const Bytes bytes = source.Bytes();

    EXPECT_EQ(Transpose(bytes, 6, 0, false, 120), bytes);
    EXPECT_EQ(Transpose(bytes, -6, 0, false, 120), bytes);
}

TEST(TransposerEvents, RunningStatusCarriesAcrossMetaEvents) {
    const Bytes source = OneTrack({0x00, 0x90, 60,   100,           // note-on, sets running status
                                   0x00, 0xFF, 0x01, 0x01, 'x',     // text event
                                   0x00, 62,   100,                 // running note-on
                                   0x10, 60,   0,    0x00, 62,  0,  // running note-offs
                                   0x00, 0xFF, 0x2F, 0x00});
    const Bytes expected = OneTrack({0x00, 0x90, 61,   100,  0x00, 0xFF, 0x01, 0x01, 'x',  0x00, 63,   100,
                                     0x10, 61,   0,    0x00, 63,   0,    0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1,
                                     0x20, 0x00, 0xFF, 0x59, 0x02, 0x00, 0x00, 0x00, 0xFF, 0x2F, 0x00});
    EXPECT_EQ(Transpose(source, 1, 0, false, 120), expected);
}

TEST(TransposerEvents, DataByteAfterSysExHasNoRunningStatus) {
    const Bytes source = OneTrack({0x00, 0x90, 60, 100, 0x00, 0xF0, 0x02, 0x7E, 0xF7, 0x00, 60, 0});
    EXPECT_EQ(ReadErrorOf(source), "Некорректный running status в MIDI.");
}

TEST(TransposerEvents, SystemByteTakesTwoBytesAlongAndKeepsRunningStatus) {
    // 0xF8 with "note" 60 after it is not a note; the running note-on after it is.
    const Bytes source = OneTrack({0x00, 0x90, 60, 100, 0x00, 0xF8, 60, 100, 0x00, 64, 100, 0x00, 0xFF, 0x2F, 0x00});
    const Bytes out = Transpose(source, 12, 0, false, 120);
    const Bytes expectedStart = {0x00, 0x90, 72, 100, 0x00, 0xF8, 60, 100, 0x00, 76, 100};
    EXPECT_TRUE(std::equal(expectedStart.begin(), expectedStart.end(), out.begin() + 22));
}

TEST(TransposerEvents, BytesAfterEndOfTrackAreCopiedUnread) {
    // Past the end of the track lies what would be a note far out of range
    // and a broken meta event; neither is looked at.
    MidiBuilder source(0, 480);
    source.Track().KeySig(0, 0, false).Tempo(0, k120Bpm).Note(0, 10, 0, 60).End().Raw({0x00, 0x90, 127, 1, 0xFF});
    MidiBuilder expected(0, 480);
    expected.Track().KeySig(0, 0, false).Tempo(0, k120Bpm).Note(0, 10, 0, 65).End().Raw({0x00, 0x90, 127, 1, 0xFF});

    EXPECT_EQ(Transpose(source.Bytes(), 5, 0, false, 120), expected.Bytes());
}

// ---------------------------------------------------------------- inserted events

TEST(TransposerInserts, GoJustBeforeEndOfTrackOfTheFirstTrackOnly) {
    MidiBuilder source(1, 480);
    source.Track().Name("Conductor").End(1920);
    source.Track().Note(0, 480, 0, 60).End();
    MidiBuilder expected(1, 480);
    expected.Track().Name("Conductor").Tempo(0, k120Bpm).KeySig(0, -1, true).End(1920);
    expected.Track().Note(0, 480, 0, 60).End();

    EXPECT_EQ(Transpose(source.Bytes(), 0, -1, true, 120), expected.Bytes());
}

TEST(TransposerInserts, OnlyTheMissingOneIsAdded) {
    MidiBuilder source(0, 480);
    source.Track().KeySig(0, 4, false).Note(0, 480, 0, 60).End();
    MidiBuilder expected(0, 480);
    expected.Track().KeySig(0, 2, false).Note(0, 480, 0, 58).Tempo(0, k96Bpm).End();

    EXPECT_EQ(Transpose(source.Bytes(), -2, 2, false, 96), expected.Bytes());
}

TEST(TransposerInserts, TrackWithoutEndOfTrackGetsThemAtItsEnd) {
    MidiBuilder source(0, 480);
    source.Track().Note(0, 480, 0, 60);
    MidiBuilder expected(0, 480);
    expected.Track().Note(0, 480, 0, 60).Tempo(0, k120Bpm).KeySig(0, 0, false);

    EXPECT_EQ(Transpose(source.Bytes(), 0, 0, false, 120), expected.Bytes());
}

TEST(TransposerInserts, GoBeforeADanglingDeltaTimeAtTheEndOfTheTrack) {
    // Written after the lone delta time, the events would lose their first
    // byte to it and the track would no longer read back.
    MidiBuilder source(0, 480);
    source.Track().Note(0, 480, 0, 60).Delta(200);
    MidiBuilder expected(0, 480);
    expected.Track().Note(0, 480, 0, 60).Tempo(0, k120Bpm).KeySig(0, 0, false).Delta(200);

    EXPECT_EQ(Transpose(source.Bytes(), 0, 0, false, 120), expected.Bytes());
}

// ---------------------------------------------------------------- header and chunks

TEST(TransposerChunks, TrackCountZeroWritesTheHeaderAloneAndAddsNothing) {
    MidiBuilder source(1, 480);
    source.Track().Note(0, 480, 0, 60).End();
    source.TrackCount(0);
    const Bytes bytes = source.Bytes();

    EXPECT_EQ(Transpose(bytes, 3, 3, false, 120), Bytes(bytes.begin(), bytes.begin() + 14));
}

TEST(TransposerChunks, HeaderOfLengthTenIsCopiedWholeAndTheTrackFoundAfterIt) {
    MidiBuilder plain(0, 480);
    plain.Track().KeySig(0, 0, false).Tempo(0, k120Bpm).Note(0, 480, 0, 60).End();
    Bytes source = plain.Bytes();
    source[7] = 10;
    source.insert(source.begin() + 14, {0xDE, 0xAD, 0xBE, 0xEF});

    const Bytes out = Transpose(source, 1, 0, false, 120);
    ASSERT_EQ(out.size(), source.size());
    EXPECT_TRUE(std::equal(source.begin(), source.begin() + 18, out.begin()));
    EXPECT_EQ(out[18], 'M');
    EXPECT_EQ(std::count(out.begin(), out.end(), std::uint8_t{61}), 2);
}

TEST(TransposerChunks, OnlyCountedChunksAreWritten) {
    MidiBuilder source(1, 480);
    source.Track().KeySig(0, 0, false).Tempo(0, k120Bpm).End();
    source.Track().Note(0, 480, 0, 60).End();
    source.TrackCount(1);
    MidiBuilder expected(1, 480);
    expected.Track().KeySig(0, 0, false).Tempo(0, k120Bpm).End();
    expected.TrackCount(1);

    EXPECT_EQ(Transpose(source.Bytes(), 0, 0, false, 120), expected.Bytes());
}

TEST(TransposerChunks, HeaderReachingPastTheEndIsRefused) {
    MidiBuilder noTracks(1, 480);
    noTracks.TrackCount(0);
    Bytes bytes = noTracks.Bytes();
    bytes[7] = 7;  // header length 7, but only 6 header bytes follow
    EXPECT_EQ(ReadErrorOf(bytes), "Повреждён заголовок MIDI.");

    bytes[11] = 1;
    EXPECT_EQ(ReadErrorOf(bytes), "Не найдена MIDI-дорожка 1.");

    bytes[11] = 0;
    bytes[4] = 0xFF;  // a header length near 4 GiB must not wrap around
    EXPECT_EQ(ReadErrorOf(bytes), "Повреждён заголовок MIDI.");
}

TEST(TransposerChunks, MalformedFilesAreRefusedWithTheirMessage) {
    MidiBuilder good(1, 480);
    good.Track().End();
    good.Chunk("XTrk", {0x00, 0xFF, 0x2F, 0x00});
    good.TrackCount(2);
    EXPECT_EQ(ReadErrorOf(good.Bytes()), "Не найдена MIDI-дорожка 2.");

    Bytes file = good.Bytes();
    EXPECT_EQ(ReadErrorOf(Bytes(file.begin(), file.begin() + 13)), "Это не Standard MIDI File.");
    file[0] = 'R';
    EXPECT_EQ(ReadErrorOf(file), "Это не Standard MIDI File.");

    Bytes cut = OneTrack({0x00, 0xFF, 0x2F, 0x00});
    cut.pop_back();
    EXPECT_EQ(ReadErrorOf(cut), "Оборвана MIDI-дорожка.");

    MidiBuilder shortTrack(1, 480);
    shortTrack.Track().End();
    shortTrack.TrackCount(2);
    Bytes tail = shortTrack.Bytes();
    tail.insert(tail.end(), {'M', 'T', 'r', 'k', 0, 0, 0});
    EXPECT_EQ(ReadErrorOf(tail), "Не найдена MIDI-дорожка 2.");
}

TEST(TransposerChunks, MalformedEventsAreRefusedWithTheirMessage) {
    EXPECT_EQ(ReadErrorOf(OneTrack({0x81})), "Повреждено MIDI-событие.");
    EXPECT_EQ(ReadErrorOf(OneTrack({0x81, 0x81, 0x81, 0x81})), "Повреждено MIDI-событие.");
    EXPECT_EQ(ReadErrorOf(OneTrack({0x81, 0x81, 0x81, 0x81, 0x01})), "Некорректная MIDI-длительность.");
    EXPECT_EQ(ReadErrorOf(OneTrack({0x00, 0x3C, 0x40})), "Некорректный running status в MIDI.");
    EXPECT_EQ(ReadErrorOf(OneTrack({0x00, 0xFF})), "Повреждено метасобытие MIDI.");
    EXPECT_EQ(ReadErrorOf(OneTrack({0x00, 0xFF, 0x01})), "Повреждено MIDI-событие.");
    EXPECT_EQ(ReadErrorOf(OneTrack({0x00, 0xFF, 0x01, 0x05, 'a'})), "Повреждена длина метасобытия MIDI.");
    EXPECT_EQ(ReadErrorOf(OneTrack({0x00, 0xF0, 0x05, 0x01, 0x02})), "Повреждено SysEx-событие MIDI.");
    EXPECT_EQ(ReadErrorOf(OneTrack({0x00, 0x90, 0x3C})), "Оборвано MIDI-событие.");
    EXPECT_EQ(ReadErrorOf(OneTrack({0x00, 0xC0})), "Оборвано MIDI-событие.");
}

// ---------------------------------------------------------------- ranges

TEST(TransposerRanges, TempoOutside20To400IsRefusedBeforeTheFileIsParsed) {
    const Bytes notMidi = {'n', 'o', 't', ' ', 'm', 'i', 'd', 'i'};
    for (const int tempo : {19, 401, 0, -120}) {
        EXPECT_EQ(MessageOf<ERangeError>([&] { Transpose(notMidi, 0, 0, false, tempo); }),
                  "Темп должен быть от 20 до 400 BPM.")
            << tempo;
    }
}

TEST(TransposerRanges, TempoIsWrittenAsRoundedMicroseconds) {
    EXPECT_EQ(TempoToMicroseconds(120), 500000u);
    EXPECT_EQ(TempoToMicroseconds(20), 3000000u);
    EXPECT_EQ(TempoToMicroseconds(400), 150000u);
    EXPECT_EQ(TempoToMicroseconds(70), 857143u);      // 857142.86
    EXPECT_EQ(TempoToMicroseconds(7 * 13), 659341u);  // 659340.66
}

TEST(TransposerRanges, NoteShiftedOutOfRangeIsRefused) {
    const std::string message = "После транспонирования одна из нот выходит за диапазон MIDI 0..127.";
    const auto rangeErrorOf = [](const Bytes& source, int semitones) {
        return MessageOf<ERangeError>([&] { Transpose(source, semitones, 0, false, 120); });
    };
    EXPECT_EQ(rangeErrorOf(OneTrack({0x00, 0x90, 127, 64}), 1), message);
    EXPECT_EQ(rangeErrorOf(OneTrack({0x00, 0x80, 127, 0}), 1), message);
    EXPECT_EQ(rangeErrorOf(OneTrack({0x00, 0x9F, 0, 64}), -1), message);
    EXPECT_NO_THROW(Transpose(OneTrack({0x00, 0x90, 127, 64, 0x00, 0x80, 0, 0}), 0, 0, false, 120));
    EXPECT_NO_THROW(Transpose(OneTrack({0x00, 0xA0, 127, 64}), 1, 0, false, 120));
}

// ---------------------------------------------------------------- files

class TransposerFiles : public ::testing::Test {
protected:
    void SetUp() override {
        FDir =
            std::filesystem::temp_directory_path() / ("korvalin-transposer-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(FDir);
        std::filesystem::create_directories(FDir);
        MidiBuilder midi(0, 480);
        midi.Track().KeySig(0, 0, false).Tempo(0, k120Bpm).Note(0, 480, 0, 127).Note(0, 480, 0, 60).End();
        FSourceBytes = midi.Bytes();
        FSource = (FDir / "source.mid").string();
        WriteFileAtomically(FSource, FSourceBytes);
    }
    void TearDown() override { std::filesystem::remove_all(FDir); }

    std::size_t FilesInDir() const {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(FDir), std::filesystem::directory_iterator()));
    }

    std::filesystem::path FDir;
    std::string FSource;
    Bytes FSourceBytes;
};

TEST_F(TransposerFiles, TargetMayBeTheSourceItself) {
    TransposeMidiFile(FSource, FSource, -2, -2, false, 96);
    EXPECT_EQ(ReadWholeFile(FSource), Transpose(FSourceBytes, -2, -2, false, 96));
    EXPECT_EQ(FilesInDir(), 1u);
}

TEST_F(TransposerFiles, RefusedRewriteOfTheSourceLeavesItIntact) {
    EXPECT_THROW(TransposeMidiFile(FSource, FSource, 1, 0, false, 120), ERangeError);
    EXPECT_EQ(ReadWholeFile(FSource), FSourceBytes);
    EXPECT_EQ(FilesInDir(), 1u);
}

TEST_F(TransposerFiles, RefusedRewriteLeavesAnExistingTargetUntouched) {
    const std::string target = (FDir / "target.mid").string();
    WriteFileAtomically(target, std::string_view("old content"));
    EXPECT_THROW(TransposeMidiFile(FSource, target, 0, 0, false, 401), ERangeError);
    const Bytes kept = ReadWholeFile(target);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "old content");
}

TEST_F(TransposerFiles, UnwritableTargetsFailWithAFileErrorAndKeepTheSource) {
    const std::filesystem::path directoryTarget = FDir / "a-folder.mid";
    std::filesystem::create_directory(directoryTarget);
    for (const std::string& target :
         {(FDir / "no-such-folder" / "out.mid").string(), directoryTarget.string(), std::string("/proc/version")}) {
        EXPECT_THROW(TransposeMidiFile(FSource, target, 0, 0, false, 120), EFileError) << target;
    }
    EXPECT_TRUE(std::filesystem::is_directory(directoryTarget));
    EXPECT_EQ(ReadWholeFile(FSource), FSourceBytes);
    EXPECT_EQ(FilesInDir(), 2u);
}

TEST_F(TransposerFiles, FailedWriteOverTheSourceLeavesItWhole) {
    // A file-size limit makes the write itself fail, which no permission bit
    // does for root; the old file must survive it whole.
    const Bytes bigger = Transpose(FSourceBytes, -1, 0, false, 120);
    ASSERT_GT(bigger.size(), 40u);
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 40;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threwFileError = false;
    try {
        TransposeMidiFile(FSource, FSource, -1, 0, false, 120);
    } catch (const EFileError&) {
        threwFileError = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_TRUE(threwFileError);
    EXPECT_EQ(ReadWholeFile(FSource), FSourceBytes);
    EXPECT_EQ(FilesInDir(), 1u);
}

TEST_F(TransposerFiles, MissingSourceIsAFileError) {
    EXPECT_THROW(TransposeMidiFile((FDir / "absent.mid").string(), (FDir / "out.mid").string(), 0, 0, false, 120),
                 EFileError);
    EXPECT_FALSE(std::filesystem::exists(FDir / "out.mid"));
}

}  // namespace
}  // namespace korvalin
