// The performance stage on performances made here from known scores: a
// written piece played with rubato, a ritardando, a fermata and uneven timing,
// recorded under one default tempo of 120 and 4/4. The stage must find the
// beats, the meter, the bar lines and the key again, lose no note, and leave
// a file that follows its own grid exactly as it was.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "MidiBuilder.h"
#include "MusicXmlExporter.h"
#include "PerformanceStage.h"
#include "ScoreTestSupport.h"

namespace korvalin {
namespace {

using test::MidiBuilder;
using test::TNote;

// A note of the written score, in beats.
struct TWritten {
    int Pitch;
    double Start;
    double Length;
};

// A piece in a key: a bass note on each downbeat, chords on the other beats,
// a melody in eighths above; the harmony changes with the bar. `pickup` beats
// of melody come before the first downbeat.
std::vector<TWritten> Piece(int beatsPerBar, int bars, int tonic, int pickup) {
    // I IV V I vi ii V I in the major key, as semitones over the tonic.
    const int roots[] = {0, 5, 7, 0, 9, 2, 7, 0};
    const int scale[] = {0, 2, 4, 5, 7, 9, 11, 12};
    std::vector<TWritten> notes;
    for (int p = 0; p < pickup; ++p) notes.push_back({60 + tonic + 7, static_cast<double>(p), 1.0});
    for (int bar = 0; bar < bars; ++bar) {
        const double at = pickup + bar * beatsPerBar;
        const int root = tonic + roots[bar % 8];
        notes.push_back({36 + root, at, static_cast<double>(beatsPerBar)});
        for (int beat = 1; beat < beatsPerBar; ++beat)
            for (const int third : {4, 7})
                notes.push_back(
                    {48 + root + (roots[bar % 8] == 9 || roots[bar % 8] == 2 ? third - (third == 4 ? 1 : 0) : third),
                     at + beat, 0.9});
        for (int e = 0; e < 2 * beatsPerBar; ++e)
            notes.push_back(
                {72 + tonic + scale[(bar * 3 + e * (e % 3 == 0 ? 2 : 1)) % 8], at + 0.5 * e, e == 0 ? 1.0 : 0.45});
    }
    return notes;
}

// How the player shapes time: beat `b` sounds at `BeatTime(b)` seconds.
struct TPlaying {
    double Period = 0.6;      // seconds a beat at the start
    double Rubato = 0.08;     // the period sways this much, slowly
    double Ritardando = 0.5;  // the last eight beats slow by this much
    double FermataAt = -1;    // a beat held this much longer
    double Fermata = 0.0;
    double Noise = 0.015;  // seconds, uneven placing of each note
    double Total = 0;      // beats in the piece

    double BeatTime(double beat) const {
        // The time of a beat: the sum of the periods before it, in small steps.
        double t = 0.3, b = 0.0;
        const double step = 0.05;
        while (b + step <= beat) {
            t += Step(b) * step;
            b += step;
        }
        return t + Step(b) * (beat - b);
    }
    double Step(double b) const {
        double period = Period * (1.0 + Rubato * std::sin(b / 5.0));
        if (Total > 0 && b > Total - 8) period *= 1.0 + Ritardando * (b - (Total - 8)) / 8.0;
        if (FermataAt >= 0 && b >= FermataAt && b < FermataAt + 1) period += Fermata;
        return period;
    }
};

// A deterministic jitter in [-1, 1].
double Jitter(std::uint32_t& seed) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<double>(seed >> 8) / static_cast<double>(1u << 23) - 1.0;
}

// The performance as a file: one default tempo of 120 and 4/4, every tick a
// 960th of a second.
TMidiFile Perform(const std::vector<TWritten>& notes, const TPlaying& playing) {
    std::uint32_t seed = 7;
    std::vector<TNote> played;
    for (const auto& note : notes) {
        const double start = playing.BeatTime(note.Start) + playing.Noise * Jitter(seed);
        const double end = playing.BeatTime(note.Start + note.Length) - 0.03;
        played.push_back({note.Pitch, static_cast<std::uint32_t>(std::lround(std::max(0.0, start) * 960)),
                          static_cast<std::uint32_t>(std::lround(std::max(start + 0.05, end) * 960))});
    }
    MidiBuilder midi(1, 480);
    test::Conductor(midi, "Played");
    test::NoteTrack(midi, "Piano", played);
    return test::LoadBytes(midi.Bytes());
}

class PerformanceStage : public ::testing::Test {
protected:
    // A waltz in G major: one beat of pickup, 24 bars of 3/4, a fermata in bar 12.
    void SetUp() override {
        Written = Piece(3, 24, 7, 1);
        Playing.Total = 1 + 24 * 3;
        Playing.FermataAt = 1 + 11 * 3 + 2;
        Playing.Fermata = 0.9;
        File = Perform(Written, Playing);
        Tracks = test::TracksWithNotes(File);
    }
    std::unique_ptr<TRetimedPerformance> Prepare(const TPerformanceOptions& options = {}) {
        return PreparePerformance(File, Tracks, options);
    }
    // Another piece of `beats` beats, played evenly apart from the usual rubato.
    void PlayInstead(std::vector<TWritten> written, double beats) {
        Written = std::move(written);
        Playing = {};
        Playing.Total = beats;
        File = Perform(Written, Playing);
        Tracks = test::TracksWithNotes(File);
    }
    // The share of the true beats from `first` on, every `every`, that a found beat of `found` matches.
    double Matched(const std::vector<double>& found, double first, double every) const {
        std::size_t hit = 0, count = 0;
        for (double b = first; b <= Playing.Total; b += every, ++count) {
            const double t = Playing.BeatTime(b);
            if (std::any_of(found.begin(), found.end(), [&](double f) { return std::abs(f - t) <= 0.07; })) ++hit;
        }
        return static_cast<double>(hit) / static_cast<double>(count);
    }
    static std::vector<double> Downbeats(const TPerformanceAnalysis& analysis) {
        std::vector<double> downbeats;
        const double perBar = analysis.Meter.BeatsPerBar;
        for (double count = 0.0; count <= analysis.Meter.Counts.back(); count += perBar)
            downbeats.push_back(TimeOfCount(analysis.Beats, analysis.Meter, count));
        return downbeats;
    }

    std::vector<TWritten> Written;
    TPlaying Playing;
    TMidiFile File;
    std::vector<const TMidiTrack*> Tracks;
};

TEST_F(PerformanceStage, FindsTheBeatsTheMeterTheBarLinesAndTheKeyOfAFreePerformance) {
    EXPECT_FALSE(FollowsItsGrid(File, Tracks));
    const auto performance = Prepare();
    ASSERT_NE(performance, nullptr);
    const TPerformanceAnalysis& found = performance->Analysis;
    EXPECT_GE(Matched(found.Beats.Times, 0, 1), 0.9);
    EXPECT_EQ(found.Meter.Beats, 3);
    EXPECT_EQ(found.Meter.BeatType, 4);
    EXPECT_GE(Matched(Downbeats(found), 1, 3), 0.9);
    EXPECT_EQ(found.Keys.front().Fifths, 1);
    EXPECT_GT(found.Confidence, 0.5);
    // The ritardando shows in the tempo range; the fermata does not make a mark per beat.
    EXPECT_LT(found.SlowestBpm, 0.8 * found.FastestBpm);
    EXPECT_LE(performance->File.TempoChanges.size(), 4u);
}

TEST_F(PerformanceStage, FindsFourBeatsABarAndAFlatKey) {
    PlayInstead(Piece(4, 16, 5, 0), 16 * 4);  // F major
    const auto performance = Prepare();
    ASSERT_NE(performance, nullptr);
    EXPECT_EQ(performance->Analysis.Meter.Beats, 4);
    EXPECT_GE(Matched(Downbeats(performance->Analysis), 0, 4), 0.9);
    EXPECT_EQ(performance->Analysis.Keys.front().Fifths, -1);
}

// A minor key names its dominant with the leading tone: i V V i in C minor,
// chord tones only, is C minor and not the G major its dominant chords spell
// (the listeners' key profiles of Krumhansl and Kessler take it for G).
TEST_F(PerformanceStage, AMinorKeyWithItsLeadingToneIsMinor) {
    const int chords[2][3] = {{0, 3, 7}, {7, 11, 14}};  // i and V over C
    const int progression[] = {0, 1, 1, 0};
    std::vector<TWritten> written;
    for (int bar = 0; bar < 16; ++bar) {
        const int* chord = chords[progression[bar % 4]];
        const double at = bar * 4.0;
        written.push_back({36 + chord[0], at, 4.0});
        for (int beat = 1; beat < 4; ++beat)
            for (int k = 1; k < 3; ++k) written.push_back({48 + chord[k], at + beat, 0.9});
        for (int e = 0; e < 8; ++e) written.push_back({72 + chord[e % 3], at + 0.5 * e, 0.45});
    }
    PlayInstead(std::move(written), 16 * 4);
    const auto performance = Prepare();
    ASSERT_NE(performance, nullptr);
    EXPECT_EQ(performance->Analysis.Keys.front().Fifths, -3);
    EXPECT_TRUE(performance->Analysis.Keys.front().Minor);
}

TEST_F(PerformanceStage, ReTimesEveryNoteOntoTheBeats) {
    const auto performance = Prepare();
    ASSERT_NE(performance, nullptr);
    const TMidiFile& retimed = performance->File;
    EXPECT_EQ(retimed.TimeSignatureChanges.front().Numerator, 3);
    EXPECT_EQ(retimed.KeyFifths, 1);
    ASSERT_EQ(performance->Parts.size(), 1u);
    const auto& notes = performance->Parts[0]->Notes();
    ASSERT_EQ(notes.size(), Tracks[0]->Notes().size());
    // The bass notes of the downbeats land on bar lines: whole bars of 3 x 480 ticks.
    std::size_t onBarLines = 0, basses = 0;
    for (const auto& note : notes) {
        if (note.Pitch >= 48) continue;
        ++basses;
        const std::int64_t off = note.StartTick % 1440;
        if (std::min(off, 1440 - off) <= 60) ++onBarLines;
    }
    EXPECT_GE(onBarLines, basses * 9 / 10);
}

TEST_F(PerformanceStage, TheScoreHoldsEveryPlayedNoteAndTheReportTheTempoCurve) {
    TConversionReport report;
    TExportOptions options;
    options.Notation = TNotationMode::nmReadable;
    options.AutoGrid = true;
    options.Report = &report;
    const TScore score = BuildScore(File, Tracks, "played.musicxml", 16, options);
    ASSERT_TRUE(report.Performance.Used);
    EXPECT_EQ(report.Performance.Meter, "3/4");
    EXPECT_EQ(report.Performance.KeyFifths, 1);
    EXPECT_GE(report.Performance.BeatSeconds.size(), 70u);
    EXPECT_TRUE(std::is_sorted(report.Performance.BeatSeconds.begin(), report.Performance.BeatSeconds.end()));
    std::size_t struck = 0;
    for (const auto& part : score.Parts)
        for (const auto& head : part.Heads) struck += head.TieStop ? 0 : 1;
    EXPECT_EQ(struck, Written.size());
}

TEST_F(PerformanceStage, CorrectionsChangeWhatTheySayAndNothingElse) {
    const auto found = Prepare();
    ASSERT_NE(found, nullptr);
    TPerformanceOptions meter;
    meter.MeterBeats = 6;
    meter.MeterBeatType = 8;
    const auto asSixEight = Prepare(meter);
    ASSERT_NE(asSixEight, nullptr);
    EXPECT_EQ(asSixEight->Analysis.Meter.Beats, 6);
    EXPECT_EQ(asSixEight->Analysis.Meter.BeatsPerBar, 2);
    EXPECT_TRUE(asSixEight->Analysis.Meter.Compound);
    EXPECT_EQ(asSixEight->Analysis.Beats.Times, found->Analysis.Beats.Times);

    // The first downbeat placed a bar later than found, at a tempo: bars follow from there.
    TPerformanceOptions first;
    const double second = found->Analysis.Beats.Times[found->Analysis.Meter.FirstDownbeat + 4];
    first.FirstBeatSeconds = second;
    first.FirstBeatBpm = 100;
    const auto moved = Prepare(first);
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->Analysis.Meter.Beats, 3);
    const auto downbeats = Downbeats(moved->Analysis);
    EXPECT_TRUE(std::any_of(downbeats.begin(), downbeats.end(), [&](double t) { return std::abs(t - second) < 0.02; }));

    // The file's own timing, when asked for, is kept.
    TPerformanceOptions file;
    file.Timing = TPerformanceTiming::ptFile;
    EXPECT_EQ(Prepare(file), nullptr);
}

TEST_F(PerformanceStage, WhatIsPlayedIsFollowedInTheScoreWrittenOnTheBeats) {
    TScoreTimeline timeline;
    TExportOptions options;
    options.Notation = TNotationMode::nmReadable;
    options.AutoGrid = true;
    options.Timeline = &timeline;
    BuildMusicXmlText(File, Tracks, "played.musicxml", 16, options);
    const auto performance = Prepare();
    ASSERT_NE(performance, nullptr);
    const TBeatTrack& beats = performance->Analysis.Beats;
    const TFoundMeter& meter = performance->Analysis.Meter;
    ASSERT_GE(timeline.Measures.size(), 24u);
    // The file plays one tempo of 120 at 480 ticks a quarter: 960 ticks a second.
    const auto tickAt = [](double seconds) { return static_cast<std::int64_t>(std::lround(seconds * 960.0)); };
    const std::size_t firstBar = PositionAtTick(timeline, tickAt(TimeOfCount(beats, meter, 0.0) + 0.01)).Measure;
    // Just after each beat the player played, the cursor is on that beat of its bar.
    for (std::size_t b = meter.FirstDownbeat; b < beats.Times.size(); ++b) {
        const double count = meter.Counts[b];
        const TScorePosition at = PositionAtTick(timeline, tickAt(beats.Times[b] + 0.01));
        EXPECT_EQ(at.Measure, firstBar + static_cast<std::size_t>(count / meter.BeatsPerBar)) << b;
        EXPECT_NEAR(at.Beat, 1.0 + std::fmod(count, meter.BeatsPerBar), 0.1) << b;
    }
    // Playing from a bar starts at its downbeat as it was played, after the fermata too.
    for (std::size_t bar = 0; firstBar + bar < timeline.Measures.size(); bar += 5) {
        const double downbeat = TimeOfCount(beats, meter, static_cast<double>(bar) * meter.BeatsPerBar);
        EXPECT_NEAR(static_cast<double>(MeasureStartTick(timeline, firstBar + bar)) / 960.0, downbeat, 0.01) << bar;
    }
}

TEST(ScoreTimelineTickMap, MapsBetweenItsPointsAndAlongItsEnds) {
    const TTickMap same;
    EXPECT_EQ(same(1234), 1234);
    const TTickMap map{{0, 480, 960}, {100, 700, 900}};
    EXPECT_EQ(map(0), 100);
    EXPECT_EQ(map(240), 400);
    EXPECT_EQ(map(720), 800);
    EXPECT_EQ(map(1200), 1000);  // the last piece's slope goes on
    EXPECT_EQ(map(-480), 0);     // never before the file's start
    for (const std::int64_t written : {0, 240, 480, 720, 960, 1200}) EXPECT_EQ(map.Back(map(written)), written);
}

// Onsets every `gap` seconds until `span`.
std::vector<TPlayedOnset> Onsets(double gap, double span) {
    std::vector<TPlayedOnset> onsets;
    for (double t = 0.0; t <= span + 1e-9; t += gap) onsets.push_back({t, 1.0, 0.5, 60, 1});
    return onsets;
}

TEST_F(PerformanceStage, OnlyOnePerformanceDenseAndShortEnoughIsSearchedForItsBeat) {
    EXPECT_FALSE(HasABeatToFollow({}));
    EXPECT_FALSE(HasABeatToFollow(Onsets(1.0, 0.0)));
    // An onset every three seconds on average still has a beat; thinner has none.
    EXPECT_TRUE(HasABeatToFollow(Onsets(2.9, 600.0)));
    EXPECT_FALSE(HasABeatToFollow(Onsets(3.2, 600.0)));
    // Three hours of playing, and no longer.
    EXPECT_TRUE(HasABeatToFollow(Onsets(0.5, 3.0 * 3600.0 - 1.0)));
    EXPECT_FALSE(HasABeatToFollow(Onsets(0.5, 3.0 * 3600.0 + 1.0)));

    // Two notes a minute apart: written on the file's own timing.
    std::vector<TWritten> two{{60, 0, 1}, {64, 100, 1}};
    const TMidiFile sparse = Perform(two, Playing);
    EXPECT_EQ(PreparePerformance(sparse, test::TracksWithNotes(sparse), {}), nullptr);

    // A score too small for the file's notes is refused, whatever the timing.
    TExportOptions options;
    options.Notation = TNotationMode::nmReadable;
    options.AutoGrid = true;
    TConversionReport report;
    options.Report = &report;
    options.MaxNoteElements = static_cast<std::int64_t>(Written.size()) - 1;
    EXPECT_THROW(BuildScore(File, Tracks, "played.musicxml", 16, options), EMusicXmlError);
    EXPECT_FALSE(report.Performance.Used);
}

TEST(PerformanceStageOnAGrid, AFileOnItsGridKeepsItsOwnTiming) {
    MidiBuilder midi(1, 480);
    test::Conductor(midi, "Entered", 500000, 3, 2, 1);
    std::vector<TNote> notes;
    // Beats of quintuplets, off every binary and triplet grid, but on five points of the beat.
    for (std::uint32_t beat = 0; beat < 48; ++beat)
        for (std::uint32_t k = 0; k < (beat % 2 == 0 ? 5u : 1u); ++k)
            notes.push_back({60 + static_cast<int>((beat + k) % 5), beat * 480 + k * 96, beat * 480 + k * 96 + 90});
    test::NoteTrack(midi, "Piano", notes);
    const TMidiFile file = test::LoadBytes(midi.Bytes());
    const auto tracks = test::TracksWithNotes(file);
    EXPECT_TRUE(FollowsItsGrid(file, tracks));
    EXPECT_EQ(PreparePerformance(file, tracks, {}), nullptr);
    TExportOptions automatic;
    automatic.Notation = TNotationMode::nmReadable;
    automatic.AutoGrid = true;
    TExportOptions kept = automatic;
    kept.Performance.Timing = TPerformanceTiming::ptFile;
    EXPECT_EQ(BuildMusicXmlText(file, tracks, "entered.musicxml", 16, automatic),
              BuildMusicXmlText(file, tracks, "entered.musicxml", 16, kept));
}

}  // namespace

// The corrections as the command line and the window read them: what reads
// is taken whole, what does not leaves the options as they were.
TEST(PerformanceCorrectionText, ReadsMetersAndFirstBeatsAndRefusesTheRest) {
    TPerformanceOptions options;
    EXPECT_TRUE(ParseMeterCorrection("12/8", options));
    EXPECT_EQ(options.MeterBeats, 12);
    EXPECT_EQ(options.MeterBeatType, 8);
    for (const char* wrong : {"3", "3/5", "0/4", "33/4", "2.5/4", "/4", "3/", "x/4"}) {
        EXPECT_FALSE(ParseMeterCorrection(wrong, options)) << wrong;
        EXPECT_EQ(options.MeterBeats, 12) << wrong;
    }

    EXPECT_TRUE(ParseFirstBeatCorrection("0,75:72", options));
    EXPECT_DOUBLE_EQ(*options.FirstBeatSeconds, 0.75);
    EXPECT_DOUBLE_EQ(options.FirstBeatBpm, 72.0);
    EXPECT_TRUE(ParseFirstBeatCorrection("3", options));
    EXPECT_DOUBLE_EQ(*options.FirstBeatSeconds, 3.0);
    EXPECT_DOUBLE_EQ(options.FirstBeatBpm, 0.0);
    EXPECT_TRUE(ParseFirstBeatCorrection("1:20", options));
    EXPECT_TRUE(ParseFirstBeatCorrection("1:400", options));
    for (const char* wrong : {"", "-1", "1:19.9", "1:401", "1:", ":90", "1.5.2", "nan", "inf", "1:90:2"}) {
        EXPECT_FALSE(ParseFirstBeatCorrection(wrong, options)) << wrong;
        EXPECT_DOUBLE_EQ(*options.FirstBeatSeconds, 1.0) << wrong;
    }
}

}  // namespace korvalin
