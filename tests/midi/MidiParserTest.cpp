// The model's defaults and the small text routines that name notes and keys.

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "MidiParser.h"

namespace korvalin {
namespace {

TEST(PitchName, NamesEveryPitchClassWithSharps) {
    const std::array<const char*, 12> names = {"C4",  "C#4", "D4",  "D#4", "E4",  "F4",
                                               "F#4", "G4",  "G#4", "A4",  "A#4", "B4"};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(PitchName(60 + i), names[static_cast<std::size_t>(i)]) << 60 + i;
}

TEST(PitchName, OctaveNumbersRunFromMinusOneToNine) {
    EXPECT_EQ(PitchName(0), "C-1");
    EXPECT_EQ(PitchName(11), "B-1");
    EXPECT_EQ(PitchName(12), "C0");
    EXPECT_EQ(PitchName(21), "A0");
    EXPECT_EQ(PitchName(59), "B3");
    EXPECT_EQ(PitchName(127), "G9");
}

TEST(PitchName, ValuesOutsideTheMidiRangeGiveADash) {
    EXPECT_EQ(PitchName(-1), "-");
    EXPECT_EQ(PitchName(128), "-");
    EXPECT_EQ(PitchName(-13), "-");
    EXPECT_EQ(PitchName(INT32_MIN), "-");
    EXPECT_EQ(PitchName(INT32_MAX), "-");
}

TEST(KeyNameFromFifths, NamesEveryKeyOfTheCircle) {
    const std::array<const char*, 15> major = {"Cb major", "Gb major", "Db major", "Ab major", "Eb major",
                                               "Bb major", "F major",  "C major",  "G major",  "D major",
                                               "A major",  "E major",  "B major",  "F# major", "C# major"};
    const std::array<const char*, 15> minor = {"Ab minor", "Eb minor", "Bb minor", "F minor",  "C minor",
                                               "G minor",  "D minor",  "A minor",  "E minor",  "B minor",
                                               "F# minor", "C# minor", "G# minor", "D# minor", "A# minor"};
    for (int fifths = -7; fifths <= 7; ++fifths) {
        const auto row = static_cast<std::size_t>(fifths + 7);
        EXPECT_EQ(KeyNameFromFifths(fifths, false), major[row]) << fifths;
        EXPECT_EQ(KeyNameFromFifths(fifths, true), minor[row]) << fifths;
    }
}

TEST(KeyNameFromFifths, ClampsFifthsBeyondSeven) {
    EXPECT_EQ(KeyNameFromFifths(9, false), "C# major");
    EXPECT_EQ(KeyNameFromFifths(-8, true), "Ab minor");
    EXPECT_EQ(KeyNameFromFifths(127, true), "A# minor");
    EXPECT_EQ(KeyNameFromFifths(-128, false), "Cb major");
    EXPECT_EQ(KeyNameFromFifths(INT32_MIN, false), "Cb major");
    EXPECT_EQ(KeyNameFromFifths(INT32_MAX, false), "C# major");
}

TEST(TonicPitchClass, GivesTheTonicOfMajorAndMinorKeys) {
    EXPECT_EQ(TonicPitchClass(0, false), 0);    // C major
    EXPECT_EQ(TonicPitchClass(0, true), 9);     // A minor
    EXPECT_EQ(TonicPitchClass(1, false), 7);    // G major
    EXPECT_EQ(TonicPitchClass(-1, false), 5);   // F major
    EXPECT_EQ(TonicPitchClass(1, true), 4);     // E minor
    EXPECT_EQ(TonicPitchClass(-7, false), 11);  // Cb major
    EXPECT_EQ(TonicPitchClass(-3, true), 0);    // C minor
    EXPECT_EQ(TonicPitchClass(7, false), 1);    // C# major
    EXPECT_EQ(TonicPitchClass(6, true), 3);     // D# minor
}

TEST(TonicPitchClass, DoesNotClampFifths) {
    // Twelve fifths bring the tonic back round; a clamping version would stay on C#.
    EXPECT_EQ(TonicPitchClass(12, false), 0);
    EXPECT_EQ(TonicPitchClass(8, false), 8);
    EXPECT_EQ(TonicPitchClass(-8, false), 4);
    EXPECT_EQ(TonicPitchClass(-128, true), 1);  // -896 + 9 = -887, remainder -11, +12
    for (int fifths = -128; fifths <= 127; ++fifths) {
        const auto pc = TonicPitchClass(fifths, fifths % 2 != 0);
        EXPECT_GE(pc, 0) << fifths;
        EXPECT_LE(pc, 11) << fifths;
    }
}

TEST(TranspositionSemitones, TakesTheNearestMoveBetweenTonics) {
    EXPECT_EQ(TranspositionSemitones(1, -2, true), 3);    // E minor -> G minor
    EXPECT_EQ(TranspositionSemitones(1, -1, true), -2);   // E minor -> D minor
    EXPECT_EQ(TranspositionSemitones(0, 5, false), -1);   // C major -> B major
    EXPECT_EQ(TranspositionSemitones(0, -5, false), 1);   // C major -> Db major
    EXPECT_EQ(TranspositionSemitones(0, -7, false), -1);  // C major -> Cb major
    EXPECT_EQ(TranspositionSemitones(0, 0, false), 0);
    EXPECT_EQ(TranspositionSemitones(-3, -3, true), 0);
}

TEST(TranspositionSemitones, AMoveOfSixKeepsTheSignOfTheDifference) {
    EXPECT_EQ(TranspositionSemitones(0, 6, false), 6);   // C major -> F# major
    EXPECT_EQ(TranspositionSemitones(0, -6, false), 6);  // C major -> Gb major
    EXPECT_EQ(TranspositionSemitones(6, 0, false), -6);  // F# major -> C major
}

TEST(TranspositionSemitones, StaysWithinSixEitherWayForEveryPair) {
    for (const bool minor : {false, true})
        for (int from = -7; from <= 7; ++from)
            for (int to = -7; to <= 7; ++to) {
                const auto shift = TranspositionSemitones(from, to, minor);
                EXPECT_GE(shift, -6);
                EXPECT_LE(shift, 6);
                const auto landed = (TonicPitchClass(from, minor) + shift + 12) % 12;
                EXPECT_EQ(landed, TonicPitchClass(to, minor)) << from << " -> " << to;
            }
}

TEST(WholeTempo, RoundsHalvesToTheEvenNeighbour) {
    EXPECT_EQ(WholeTempo(95.5), 96);
    EXPECT_EQ(WholeTempo(96.5), 96);
    EXPECT_EQ(WholeTempo(120.5), 120);
    EXPECT_EQ(WholeTempo(121.5), 122);
}

TEST(WholeTempo, RoundsOtherValuesToTheNearest) {
    EXPECT_EQ(WholeTempo(120.0), 120);
    EXPECT_EQ(WholeTempo(96.49), 96);
    EXPECT_EQ(WholeTempo(96.51), 97);
    EXPECT_EQ(WholeTempo(60000000.0 / 461538.0), 130);  // 130.0001...
    EXPECT_EQ(WholeTempo(60000000.0 / 16777215.0), 4);  // the slowest tempo a file can hold
}

TEST(MidiTrack, StartsEmptyWithTheDefaults) {
    const TMidiTrack track;
    EXPECT_EQ(track.Index, 0);
    EXPECT_TRUE(track.Name.empty());
    EXPECT_TRUE(track.ExportName.empty());
    EXPECT_TRUE(track.InstrumentName.empty());
    EXPECT_EQ(track.ProgramNumber, -1);
    EXPECT_EQ(track.ClefMode, TClefMode::cmAuto);
    EXPECT_TRUE(track.Notes().empty());
}

TEST(MidiTrack, ATrackWithoutNotesHasNoPitchRange) {
    const TMidiTrack track;
    EXPECT_EQ(track.MinPitch(), -1);
    EXPECT_EQ(track.MaxPitch(), -1);
    EXPECT_EQ(PitchName(track.MinPitch()), "-");
    EXPECT_EQ(PitchName(track.MaxPitch()), "-");
}

TEST(MidiTrack, PitchRangeLooksAtEveryNoteNotOnlyTheEnds) {
    TMidiTrack track;
    track.AddNote({0, 10, 64, 80, 0});
    track.AddNote({0, 10, 40, 80, 0});
    track.AddNote({0, 10, 88, 80, 0});
    track.AddNote({0, 10, 60, 80, 0});
    EXPECT_EQ(track.MinPitch(), 40);
    EXPECT_EQ(track.MaxPitch(), 88);
    ASSERT_EQ(track.Notes().size(), 4u);
    EXPECT_EQ(track.Notes()[2].Pitch, 88);
}

TEST(MidiFile, StartsWithTheDefaultsAndNoKey) {
    const TMidiFile file;
    EXPECT_EQ(file.MidiFormat, 0);
    EXPECT_EQ(file.PPQN, 0);
    EXPECT_DOUBLE_EQ(file.TempoBPM, 120.0);
    EXPECT_EQ(file.TempoMicroseconds, 500000u);
    EXPECT_FALSE(file.HasTempo);
    EXPECT_EQ(file.TimeNumerator, 4);
    EXPECT_EQ(file.TimeDenominator, 4);
    EXPECT_EQ(file.KeyFifths, 0);
    EXPECT_FALSE(file.KeyMinor);
    EXPECT_FALSE(file.HasKeySignature);
    EXPECT_FALSE(file.KeyWasEstimated);
    EXPECT_TRUE(file.Title.empty());
    EXPECT_TRUE(file.Tracks().empty());
    EXPECT_EQ(file.KeyName(), "не определена");
}

TEST(MidiFile, KeyNameUsesTheTableOnlyWhenTheKeyIsKnown) {
    TMidiFile file;
    file.KeyFifths = -3;
    file.KeyMinor = true;
    EXPECT_EQ(file.KeyName(), "не определена");
    file.HasKeySignature = true;
    EXPECT_EQ(file.KeyName(), "C minor");
    file.HasKeySignature = false;
    file.KeyWasEstimated = true;
    EXPECT_EQ(file.KeyName(), "C minor");
    file.KeyFifths = -100;  // a raw signature byte is not clamped in the model, only in the name
    EXPECT_EQ(file.KeyName(), "Ab minor");
}

}  // namespace
}  // namespace korvalin
