// Playing from a measure: the file cut at a tick keeps the sound that is in
// force there and the notes that sound across it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "MidiBuilder.h"
#include "MidiErrors.h"
#include "MidiParser.h"
#include "MidiPlaybackStart.h"

using korvalin::PlaybackFromTick;
using korvalin::TMidiFile;
using korvalin::test::Bytes;
using korvalin::test::MidiBuilder;

namespace {

TMidiFile Load(const Bytes& bytes) {
    TMidiFile midi;
    midi.LoadFromBytes(bytes);
    return midi;
}

// (tick, pitch, end) of every note of a track, by start.
std::vector<std::tuple<std::int64_t, int, std::int64_t>> NotesOf(const TMidiFile& midi, std::size_t track) {
    std::vector<std::tuple<std::int64_t, int, std::int64_t>> notes;
    for (const auto& note : midi.Tracks()[track]->Notes()) notes.emplace_back(note.StartTick, note.Pitch, note.EndTick);
    std::sort(notes.begin(), notes.end());
    return notes;
}

// The program changes of the file's second chunk, as (tick, program), read
// straight from the bytes (the loader keeps only the first program).
std::vector<std::pair<std::int64_t, int>> ProgramChanges(const Bytes& file) {
    std::size_t pos = 14;
    pos += 8 + (std::size_t{file[pos + 4]} << 24 | std::size_t{file[pos + 5]} << 16 | std::size_t{file[pos + 6]} << 8 |
                file[pos + 7]);
    const std::size_t end = pos + 8 +
                            (std::size_t{file[pos + 4]} << 24 | std::size_t{file[pos + 5]} << 16 |
                             std::size_t{file[pos + 6]} << 8 | file[pos + 7]);
    pos += 8;
    std::vector<std::pair<std::int64_t, int>> programs;
    std::int64_t tick = 0;
    while (pos < end) {
        std::uint32_t delta = 0;
        while (file[pos] & 0x80) delta = delta << 7 | (file[pos++] & 0x7Fu);
        delta = delta << 7 | file[pos++];
        tick += delta;
        const std::uint8_t status = file[pos++];  // the cut file always writes its status bytes
        if (status == 0xFF) {
            pos += std::size_t{2} + file[pos + 1];
        } else if ((status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0) {
            if ((status & 0xF0) == 0xC0) programs.emplace_back(tick, file[pos]);
            pos += 1;
        } else {
            pos += 2;
        }
    }
    return programs;
}

// 4/4 at 480 ticks a quarter: a conductor with a tempo change in the second
// measure, and a part that changes program before the third and holds a note
// across its bar line.
Bytes TwoTempiAndAHeldNote() {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).TimeSig(0, 4, 2).Tempo(1000, 400000).End();
    midi.Track()
        .Program(0, 0, 0)
        .Note(0, 480, 0, 60)   // 0 .. 480: over before measure 3
        .Program(1000, 0, 40)  // at 1480
        .NoteOn(0, 0, 64, 90)  // 1480 .. 2400: across the bar line at 1920
        .NoteOff(920, 0, 64)
        .Note(0, 480, 0, 67)  // 2400 .. 2880
        .End();
    return midi.Bytes();
}

}  // namespace

TEST(PlaybackFromTick, NotesHeldAcrossTheStartSoundFromItAndEarlierOnesAreGone) {
    const TMidiFile cut = Load(PlaybackFromTick(TwoTempiAndAHeldNote(), 1920));
    const auto notes = NotesOf(cut, 1);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], std::make_tuple(std::int64_t{0}, 64, std::int64_t{480}));
    EXPECT_EQ(notes[1], std::make_tuple(std::int64_t{480}, 67, std::int64_t{960}));
}

TEST(PlaybackFromTick, TempoAndProgramInForceAtTheStartApplyFromTheFirstTick) {
    const Bytes bytes = PlaybackFromTick(TwoTempiAndAHeldNote(), 1920);
    const TMidiFile cut = Load(bytes);
    // Both tempi before the start come at once, in order: the later one wins.
    ASSERT_EQ(cut.TempoChanges.size(), 2u);
    EXPECT_EQ(cut.TempoChanges.back().Tick, 0);
    EXPECT_EQ(cut.TempoChanges.back().Microseconds, 400000u);
    const auto programs = ProgramChanges(bytes);
    ASSERT_FALSE(programs.empty());
    EXPECT_EQ(programs.back(), std::make_pair(std::int64_t{0}, 40));
    EXPECT_EQ(cut.TimeNumerator, 4);
}

TEST(PlaybackFromTick, ANoteEndingAtTheStartAndANoteStartingThereAreTold) {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).End();
    midi.Track().Note(0, 960, 0, 60).Note(0, 480, 0, 60).End();  // same key: 0..960, 960..1440
    const TMidiFile cut = Load(PlaybackFromTick(midi.Bytes(), 960));
    const auto notes = NotesOf(cut, 1);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], std::make_tuple(std::int64_t{0}, 60, std::int64_t{480}));
}

TEST(PlaybackFromTick, StartAtZeroKeepsTheFileAndBadBytesAreRefused) {
    const Bytes bytes = TwoTempiAndAHeldNote();
    EXPECT_EQ(PlaybackFromTick(bytes, 0), bytes);
    Bytes broken = bytes;
    broken.resize(broken.size() - 6);
    EXPECT_THROW(PlaybackFromTick(broken, 480), korvalin::EReadError);
}
