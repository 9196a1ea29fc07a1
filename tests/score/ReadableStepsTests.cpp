// Decisions of the readable notation that shape a whole part: how many staves
// a track takes, and which two tracks are the hands of one piano.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MidiBuilder.h"
#include "ReadableScore.h"
#include "ReadableSteps.h"
#include "ScoreTestSupport.h"

namespace korvalin {
namespace {

using test::MidiBuilder;

// One track of notes a quarter apart, with a program change when `program` is 0 or more.
TMidiFile OneTrack(const std::string& name, int program, const std::vector<int>& pitches, int channel = 0) {
    MidiBuilder midi(1, 480);
    auto& track = midi.Track().Name(name);
    if (program >= 0) track.Program(0, channel, program);
    for (const int pitch : pitches) track.Note(0, 480, channel, pitch);
    track.End();
    return test::LoadBytes(midi.Bytes());
}

std::string Staves(const TMidiFile& file) { return std::string(ReadableStavesName(*file.Tracks()[0])); }

TEST(ReadableStaves, KeyboardsTakeTwoStavesWhenTheyPlayInBothClefs) {
    const std::vector<int> bothClefs = {36, 43, 48, 72, 76, 79};
    EXPECT_EQ(Staves(OneTrack("Track 1", 0, bothClefs)), "grand");   // acoustic grand piano
    EXPECT_EQ(Staves(OneTrack("Track 1", 19, bothClefs)), "grand");  // church organ
    EXPECT_EQ(Staves(OneTrack("Track 1", 46, bothClefs)), "grand");  // harp
    EXPECT_EQ(Staves(OneTrack("Фортепиано", -1, bothClefs)), "grand");
    // A piano sound playing a melody, or one hand on a track of its own, keeps one staff.
    EXPECT_EQ(Staves(OneTrack("Melody", 0, {72, 74, 76, 77})), "single");
    EXPECT_EQ(Staves(OneTrack("Piano left", -1, {36, 43, 48, 52})), "single");
    // A hand's track that reaches into the other clef still keeps one staff.
    EXPECT_EQ(Staves(OneTrack("Piano right", 0, bothClefs)), "single");
    EXPECT_EQ(Staves(OneTrack("Фортепиано, левая рука", -1, bothClefs)), "single");
    // Other instruments take two staves only when they sound far apart at once.
    EXPECT_EQ(Staves(OneTrack("Flute", 73, bothClefs)), "single");
}

TEST(ReadableStaves, WidelySpreadChordsTakeTwoStavesAndDrumsTheirOwn) {
    MidiBuilder midi(1, 480);
    auto& track = midi.Track().Name("Strings");
    for (int bar = 0; bar < 4; ++bar) {
        for (const int pitch : {36, 43, 72, 76}) track.NoteOn(0, 0, pitch, 80);
        track.NoteOff(480, 0, 36).NoteOff(0, 0, 43).NoteOff(0, 0, 72).NoteOff(0, 0, 76);
    }
    track.End();
    EXPECT_EQ(Staves(test::LoadBytes(midi.Bytes())), "grand");
    EXPECT_EQ(Staves(OneTrack("Kit", -1, {36, 38, 42, 36}, 9)), "percussion");
    // A forced clef keeps a pitched part on one staff; drums stay drums.
    TMidiFile piano = OneTrack("Piano", 0, {36, 43, 48, 72, 76, 79});
    piano.Tracks()[0]->ClefMode = TClefMode::cmBass;
    EXPECT_EQ(Staves(piano), "single");
    TMidiFile kit = OneTrack("Kit", -1, {36, 38}, 9);
    kit.Tracks()[0]->ClefMode = TClefMode::cmTreble;
    EXPECT_EQ(Staves(kit), "percussion");
}

TEST(ReadableParts, TheTwoHandsOfOnePianoAreFoundByTheirNames) {
    EXPECT_TRUE(AreTwoHands("Piano right", "Piano left"));
    EXPECT_TRUE(AreTwoHands("Piano RH", "Piano LH"));
    EXPECT_TRUE(AreTwoHands("Left hand (Piano)", "Right hand (Piano)"));
    EXPECT_TRUE(AreTwoHands("Фортепиано, правая рука", "Фортепиано, левая рука"));
    EXPECT_FALSE(AreTwoHands("Piano right", "Organ left"));
    EXPECT_FALSE(AreTwoHands("Piano right", "Piano right"));
    EXPECT_FALSE(AreTwoHands("Bright lights", "Cleft stick"));  // the words inside other words
}

}  // namespace
}  // namespace korvalin
