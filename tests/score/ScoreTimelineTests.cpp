// Where playback is in the written score: ticks to measure and beat, and a
// measure back to its tick, for both notations, meter changes and a pickup.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MidiBuilder.h"
#include "MusicXmlExporter.h"
#include "ScoreTestSupport.h"
#include "ScoreTimeline.h"

namespace korvalin {
namespace {

using test::Conductor;
using test::MidiBuilder;
using test::NoteTrack;
using test::TNote;

constexpr std::uint32_t kQ = 480;

std::vector<TNote> Quarters(std::uint32_t start, int count) {
    std::vector<TNote> notes;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t at = start + static_cast<std::uint32_t>(i) * kQ;
        notes.push_back({60 + i % 12, at, at + kQ});
    }
    return notes;
}

// Notes one after another from `start`, each (pitch, length in eighths).
std::vector<TNote> Line(std::uint32_t start, const std::vector<std::pair<int, std::uint32_t>>& notes) {
    std::vector<TNote> line;
    for (const auto& [pitch, eighths] : notes) {
        line.push_back({pitch, start, start + eighths * kQ / 2});
        start += eighths * kQ / 2;
    }
    return line;
}

TScoreTimeline TimelineOf(const MidiBuilder& midi, TNotationMode notation) {
    const TMidiFile file = test::LoadBytes(midi.Bytes());
    TScoreTimeline timeline;
    TExportOptions options;
    options.Notation = notation;
    options.Timeline = &timeline;
    BuildMusicXmlText(file, test::TracksWithNotes(file), "/scores/unused.musicxml", 16, options);
    return timeline;
}

void ExpectAt(const TScoreTimeline& timeline, std::int64_t tick, std::size_t measure, double beat) {
    const TScorePosition position = PositionAtTick(timeline, tick);
    EXPECT_EQ(position.Measure, measure) << "at tick " << tick;
    EXPECT_DOUBLE_EQ(position.Beat, beat) << "at tick " << tick;
}

TEST(ScoreTimeline, LiteralThreeFourCountsBeatsInQuarters) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Waltz", 500000, 3, 2);
    NoteTrack(midi, "Piano", Quarters(0, 9));
    const TScoreTimeline timeline = TimelineOf(midi, TNotationMode::nmLiteral);
    ASSERT_EQ(timeline.Measures.size(), 3u);
    EXPECT_EQ(MeasureStartTick(timeline, 1), 3 * kQ);
    EXPECT_EQ(MeasureStartTick(timeline, 2), 6 * kQ);
    ExpectAt(timeline, 0, 0, 1.0);
    ExpectAt(timeline, 3 * kQ + 3 * kQ / 2, 1, 2.5);
    ExpectAt(timeline, 9 * kQ - 1, 2, 1.0 + (3.0 * kQ - 1) / kQ);
    // Past the end: the end of the last measure; an index past it: the score's end.
    ExpectAt(timeline, 100 * kQ, 2, 4.0);
    EXPECT_EQ(MeasureStartTick(timeline, 3), 9 * kQ);
}

TEST(ScoreTimeline, ReadableMeterChangesMoveTheBarLinesAndTheBeat) {
    // 2/4, two bars of 3/4, then 6/8 (its beat a dotted quarter).
    MidiBuilder midi(1, kQ);
    midi.Track().Name("Meters").Tempo(0, 500000).TimeSig(0, 4, 2).TimeSig(2 * kQ, 3, 2).TimeSig(6 * kQ, 6, 3).End();
    NoteTrack(midi, "Flute", Quarters(0, 14));
    const TScoreTimeline timeline = TimelineOf(midi, TNotationMode::nmReadable);
    ASSERT_GE(timeline.Measures.size(), 4u);
    EXPECT_EQ(timeline.Measures[0].Beats, 2);
    EXPECT_EQ(MeasureStartTick(timeline, 1), 2 * kQ);
    EXPECT_EQ(MeasureStartTick(timeline, 2), 5 * kQ);
    EXPECT_EQ(MeasureStartTick(timeline, 3), 8 * kQ);
    ExpectAt(timeline, kQ, 0, 2.0);
    ExpectAt(timeline, 7 * kQ, 2, 3.0);
    ExpectAt(timeline, 8 * kQ + 3 * kQ / 2, 3, 2.0);
    EXPECT_EQ(timeline.Measures[3].Number, "4");
}

TEST(ScoreTimeline, AReadablePickupCountsAsTheEndOfAFullMeasure) {
    // A tune that starts a beat before its accents, over a bass on the accents.
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Pickup");
    NoteTrack(
        midi, "Flute",
        Line(0, {{67, 2}, {72, 4}, {76, 4}, {74, 6}, {71, 1}, {72, 1}, {76, 4}, {79, 4}, {72, 4}, {71, 4}, {72, 6}}));
    NoteTrack(midi, "Cello", Line(kQ, {{48, 8}, {43, 8}, {48, 8}, {53, 8}, {48, 6}}));
    const TScoreTimeline timeline = TimelineOf(midi, TNotationMode::nmReadable);
    ASSERT_GE(timeline.Measures.size(), 3u);
    EXPECT_EQ(timeline.Measures[0].Number, "0");
    EXPECT_EQ(MeasureStartTick(timeline, 1), kQ);
    ExpectAt(timeline, 0, 0, 4.0);
    ExpectAt(timeline, kQ / 2, 0, 4.5);
    ExpectAt(timeline, kQ, 1, 1.0);
    ExpectAt(timeline, 5 * kQ + kQ, 2, 2.0);
}

TEST(ScoreTimeline, AnEmptyTimelineStaysAtTheStart) {
    const TScoreTimeline empty;
    ExpectAt(empty, 1000, 0, 1.0);
    EXPECT_EQ(MeasureStartTick(empty, 3), 0);
}

}  // namespace
}  // namespace korvalin
