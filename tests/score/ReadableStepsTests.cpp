// Decisions of the readable notation that shape a whole part or the whole
// score: how many staves a track takes, which two tracks are the hands of one
// piano, and whether the music starts with a pickup.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "MidiBuilder.h"
#include "MusicXmlChecks.h"
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

// Two tracks of quarters, the second starting `lateQuarters` after the first.
TMidiFile TwoTracks(const std::string& upperName, int upperProgram, const std::vector<int>& upper,
                    const std::string& lowerName, int lowerProgram, const std::vector<int>& lower,
                    int lateQuarters = 0) {
    MidiBuilder midi(1, 480);
    const auto add = [&](const std::string& name, int program, const std::vector<int>& pitches, int late) {
        auto& track = midi.Track().Name(name);
        if (program >= 0) track.Program(0, 0, program);
        std::uint32_t delta = static_cast<std::uint32_t>(late) * 480;
        for (const int pitch : pitches) {
            track.Note(delta, 480, 0, pitch);
            delta = 0;
        }
        track.End();
    };
    add(upperName, upperProgram, upper, 0);
    add(lowerName, lowerProgram, lower, lateQuarters);
    return test::LoadBytes(midi.Bytes());
}

bool TwoHands(const TMidiFile& file) { return PlayedAsTwoHands(*file.Tracks()[0], *file.Tracks()[1]); }

TEST(ReadableStaves, TwoTracksPlayingAsTheHandsOfOneKeyboardTakeAStaffEachBraced) {
    // The right hand dips into the bass clef: alone, its piano track would take a grand staff.
    const std::vector<int> right = {72, 76, 79, 53, 50, 76, 74, 72}, left = {48, 43, 36, 41, 45, 40, 43, 48};
    const TMidiFile piano = TwoTracks("", 0, right, "", -1, left);
    EXPECT_EQ(Staves(piano), "grand");
    ASSERT_TRUE(TwoHands(piano));
    const auto tracks = test::TracksWithNotes(piano);
    TExportOptions readable;
    readable.Notation = TNotationMode::nmReadable;
    const TScore score = BuildScore(piano, tracks, "hands.mid", 16, readable);
    ASSERT_EQ(score.Parts.size(), 2u);
    EXPECT_EQ(score.Parts[0].Staves, 1);
    EXPECT_EQ(score.Parts[1].Staves, 1);
    ASSERT_EQ(score.PartGroups.size(), 1u);
    EXPECT_EQ(score.PartGroups[0].Symbol, "brace");

    // Not two hands: the left hand's track first, another instrument by name
    // or by program, or a right hand that lives in the bass clef.
    EXPECT_FALSE(TwoHands(TwoTracks("", -1, left, "", 0, right)));
    EXPECT_FALSE(TwoHands(TwoTracks("Flute", -1, right, "", -1, left)));
    EXPECT_FALSE(TwoHands(TwoTracks("", 0, right, "", 48, left)));
    EXPECT_FALSE(TwoHands(TwoTracks("", 0, right, "Cello", -1, left)));
    EXPECT_TRUE(TwoHands(TwoTracks("Organ", 19, right, "", 19, left)));
    EXPECT_FALSE(TwoHands(TwoTracks("", 0, {72, 76, 53, 50, 48, 76, 74, 72}, "", 0, left)));  // 5 of 8 in the treble
}

TEST(ReadableStaves, TwoHandsAreAFifthApartAndPlayTogetherForHalfTheShorterTrack) {
    const std::vector<int> g4(8, 67), c4(8, 60), cSharp4(8, 61);
    EXPECT_TRUE(TwoHands(TwoTracks("", 0, g4, "", 0, c4)));
    EXPECT_FALSE(TwoHands(TwoTracks("", 0, g4, "", 0, cSharp4)));  // a fourth apart: two lines
    EXPECT_TRUE(TwoHands(TwoTracks("", 0, g4, "", 0, c4, 4)));     // together for half
    EXPECT_FALSE(TwoHands(TwoTracks("", 0, g4, "", 0, c4, 5)));    // for three eighths
}

TEST(ReadableVoices, AKeyStruckByTwoVoicesAtOnceIsWrittenTwice) {
    // An upper voice holds G4 for a half while a lower voice strikes it for a
    // quarter with it and moves to E4: the file plays the key twice at once.
    test::MidiBuilder midi(1, 480);
    test::Conductor(midi, "Unison");
    midi.Track()
        .Name("Organ")
        .NoteOn(0, 0, 67, 80)
        .NoteOn(0, 0, 67, 80)
        .NoteOff(480, 0, 67)
        .NoteOn(0, 0, 64, 80)
        .NoteOff(480, 0, 67)
        .NoteOff(0, 0, 64)
        .Note(0, 960, 0, 65)
        .End();
    std::vector<std::vector<test::TPlacedOnset>> placed;
    test::NoteOnsets(test::Readable(midi), &placed, 0.0);
    ASSERT_EQ(placed.size(), 1u);
    int g4AtTheStart = 0;
    for (const auto& onset : placed[0]) g4AtTheStart += onset.At == 0.0 && onset.Pitch == 67 ? 1 : 0;
    EXPECT_EQ(g4AtTheStart, 2);
}

// The written values of the first measure's upper voice: "quarter", "r-eighth", "quarter." and so on.
std::string FirstMeasureRhythm(const std::string& doc) {
    const std::string measure = doc.substr(doc.find("<measure "), doc.find("</measure>") - doc.find("<measure "));
    std::string rhythm;
    for (std::size_t at = measure.find("<note"); at != std::string::npos; at = measure.find("<note", at + 1)) {
        const std::string note = measure.substr(at, measure.find("</note>", at) - at);
        if (note.find("<chord/>") != std::string::npos || note.find("<voice>1</voice>") == std::string::npos) continue;
        const auto type = note.find("<type>") + 6;
        if (!rhythm.empty()) rhythm += ' ';
        if (note.find("<rest") != std::string::npos) rhythm += "r-";
        rhythm += note.substr(type, note.find("</type>") - type);
        if (note.find("<dot/>") != std::string::npos) rhythm += '.';
    }
    return rhythm;
}

std::string RhythmOf(const std::vector<test::TNote>& notes, int beats = 4, int beatPower = 2) {
    test::MidiBuilder midi(1, 480);
    test::Conductor(midi, "Detached", 500000, beats, beatPower);
    test::NoteTrack(midi, "Oboe", notes);
    return FirstMeasureRhythm(test::Readable(midi));
}

TEST(ReadableVoices, ANoteHeldForHalfItsValueIsWrittenAtItsValueWhenTheSilenceAfterItAllowsIt) {
    // Staccato quarters and eighths, sounding half their value less a tick.
    EXPECT_EQ(RhythmOf({{67, 0, 239}, {69, 480, 719}, {71, 960, 1199}, {72, 1440, 1679}}),
              "quarter quarter quarter quarter");
    EXPECT_EQ(RhythmOf({{67, 0, 120}, {69, 240, 360}, {71, 480, 600}, {72, 720, 840}}, 2),
              "eighth eighth eighth eighth");
    // A silence shorter than the note, and a note off a multiple of its written value, stay as played.
    EXPECT_EQ(RhythmOf({{67, 0, 240}, {69, 360, 480}, {71, 480, 960}, {72, 960, 1920}}),
              "eighth r-16th 16th quarter half");
    // The written value does not pass the bar line.
    EXPECT_EQ(RhythmOf({{67, 0, 240}, {69, 480, 960}, {71, 960, 1440}, {72, 1920, 2400}}, 3),
              "quarter quarter quarter");
    // In 6/8 a quarter does not divide the beat: an eighth and its rest are as likely meant.
    EXPECT_EQ(RhythmOf({{67, 0, 239}, {69, 480, 720}, {71, 720, 1440}}, 6, 3), "eighth r-eighth eighth quarter.");
}

TEST(ReadableVoices, ATrackEnteredInTripletsIsOnItsGridButAPlayedOneIsNot) {
    // Eighth triplets against straight eighths, each ending a tick early as
    // notation programs export them; then the same played with a loose hand.
    const auto track = [](int jitter) {
        std::vector<test::TNote> notes;
        std::uint32_t at = 960;
        for (int beat = 0; beat < 16; ++beat) {
            const bool triplets = beat % 2 == 0;
            for (int i = 0; i < (triplets ? 3 : 2); ++i) {
                const std::uint32_t length = triplets ? 160 : 240;
                const int shift = jitter * ((beat * 7 + i * 3) % 5 - 2);
                notes.push_back({60 + i, static_cast<std::uint32_t>(static_cast<int>(at) + shift),
                                 static_cast<std::uint32_t>(static_cast<int>(at + length) - 1 + shift)});
                at += length;
            }
        }
        test::MidiBuilder midi(1, 480);
        test::Conductor(midi, "Triplets");
        test::NoteTrack(midi, "Flute", notes);
        return test::LoadBytes(midi.Bytes());
    };
    const TMidiFile entered = track(0), played = track(13);
    EXPECT_FALSE(PlayedOffTheGrid(*entered.Tracks()[1], MakeUnitScale(entered, 32)));
    EXPECT_FALSE(PlayedOffTheGrid(*entered.Tracks()[1], MakeUnitScale(entered, 16)));
    EXPECT_TRUE(PlayedOffTheGrid(*played.Tracks()[1], MakeUnitScale(played, 32)));
}

std::size_t Count(const std::string& doc, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = doc.find(what); at != std::string::npos; at = doc.find(what, at + 1)) ++count;
    return count;
}

TEST(ReadableVoices, TwoLinesThatMoveTogetherStayTwoVoicesUnlessInOctaves) {
    // Sixteenths over quarters, then both lines in eighths a sixth or an octave apart.
    const auto lines = [](int apart) {
        test::MidiBuilder midi(1, 480);
        test::Conductor(midi, "Invention");
        std::vector<test::TNote> notes;
        const int upper[] = {72, 74, 76, 77, 79, 77, 76, 74};
        for (std::uint32_t i = 0; i < 8; ++i) notes.push_back({upper[i], i * 120, i * 120 + 120});
        notes.push_back({64, 0, 480});
        notes.push_back({65, 480, 960});
        const int together[] = {72, 71, 69, 71};
        for (std::uint32_t i = 0; i < 4; ++i) {
            notes.push_back({together[i], 960 + i * 240, 1200 + i * 240});
            notes.push_back({together[i] - apart, 960 + i * 240, 1200 + i * 240});
        }
        std::sort(notes.begin(), notes.end(), [](const auto& a, const auto& b) { return a.Start < b.Start; });
        test::NoteTrack(midi, "Flute", notes);
        return test::Readable(midi);
    };
    const std::string sixths = lines(8);
    EXPECT_EQ(Count(sixths, "<chord/>"), 0u);
    EXPECT_EQ(Count(sixths, "<voice>2</voice>"), 6u);  // two quarters, four eighths
    const std::string octaves = lines(12);
    EXPECT_EQ(Count(octaves, "<chord/>"), 4u);
}

TEST(ReadableVoices, ARunningLineOverChordsOnTheBeatGoesOnAsItsOwnVoiceButATrillDoesNot) {
    // Sixteenths up a chromatic scale (or turning on two keys), the notes on
    // beats two to four topping a chord of two below them.
    const auto line = [](bool trill) {
        test::MidiBuilder midi(1, 480);
        test::Conductor(midi, "Etude");
        std::vector<test::TNote> notes;
        for (std::uint32_t i = 0; i < 17; ++i) {
            const int pitch = trill ? 76 + static_cast<int>(i % 2) : 72 + static_cast<int>(i);
            notes.push_back({pitch, i * 120, i * 120 + 120});
            if (i % 4 == 0 && i > 0 && i < 16) {
                notes.push_back({pitch - 7, i * 120, i * 120 + 120});
                notes.push_back({pitch - 9, i * 120, i * 120 + 120});
            }
        }
        std::sort(notes.begin(), notes.end(), [](const auto& a, const auto& b) { return a.Start < b.Start; });
        test::NoteTrack(midi, "Flute", notes);
        return test::Readable(midi);
    };
    const std::string scale = line(false), trill = line(true);
    EXPECT_EQ(Count(scale, "<chord/>"), 3u);  // each lower pair, in the second voice
    EXPECT_GT(Count(scale, "<voice>2</voice>"), 6u);
    EXPECT_EQ(Count(trill, "<chord/>"), 6u);
    EXPECT_EQ(Count(trill, "<voice>2</voice>"), 0u);
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

// The first measure of a readable score: its number and whether it is a pickup.
std::string FirstMeasure(const std::string& doc) {
    const auto at = doc.find("<measure ");
    return doc.substr(at, doc.find('>', at) - at + 1);
}

TEST(ReadablePickup, ALateStartOfAtMostHalfABarIsAPickupButMusicAfterARestIsNot) {
    // 3/4: two beats of silence, then a one-beat upbeat.
    test::MidiBuilder waltz(1, 480);
    test::Conductor(waltz, "Waltz", 500000, 3, 2);
    test::NoteTrack(waltz, "Violin", {{67, 960, 1440}, {72, 1440, 2400}, {76, 2400, 2880}, {74, 2880, 4320}});
    const std::string pickup = test::Readable(waltz);
    EXPECT_EQ(FirstMeasure(pickup), "<measure number=\"0\" implicit=\"yes\">");
    EXPECT_NE(pickup.find("<measure number=\"1\">"), std::string::npos);
    EXPECT_NE(pickup.find("<beats>3</beats>"), std::string::npos);

    // 2/4: an eighth rest and three eighths before the long note is a bar that
    // starts with a rest, as the file has it.
    test::MidiBuilder motto(1, 480);
    test::Conductor(motto, "Motto", 500000, 2, 2);
    test::NoteTrack(motto, "Violin", {{67, 240, 480}, {67, 480, 720}, {67, 720, 960}, {63, 960, 2880}});
    EXPECT_EQ(FirstMeasure(test::Readable(motto)), "<measure number=\"1\">");
}

TEST(ReadablePickup, AShortOpeningBarOfItsOwnMeterIsThePickupOfTheNextMeter) {
    test::MidiBuilder midi(1, 480);
    midi.Track().Name("Upbeat").Tempo(0, 500000).TimeSig(0, 1, 2).KeySig(0, 0, false).TimeSig(480, 4, 2).End();
    test::NoteTrack(midi, "Oboe", {{67, 0, 480}, {72, 480, 1440}, {76, 1440, 2400}, {72, 2400, 4320}});
    const std::string doc = test::Readable(midi);
    EXPECT_EQ(FirstMeasure(doc), "<measure number=\"0\" implicit=\"yes\">");
    EXPECT_EQ(doc.find("<beats>1</beats>"), std::string::npos) << "the pickup is written in the meter it leads into";
    EXPECT_NE(doc.find("<beats>4</beats>"), std::string::npos);
}

// A tune of quarters to `endTick` under the given meter changes (tick, beats in quarters).
std::string ReadableUnderMeters(const std::vector<std::pair<std::uint32_t, int>>& meters, std::uint32_t endTick) {
    test::MidiBuilder midi(1, 480);
    auto& conductor = midi.Track().Name("Minuet").Tempo(0, 500000);
    std::uint32_t last = 0;
    for (const auto& [tick, beats] : meters) {
        conductor.TimeSig(tick - last, beats, 2);
        last = tick;
    }
    conductor.End();
    std::vector<test::TNote> notes;
    for (std::uint32_t at = 0; at < endTick; at += 480)
        notes.push_back({67 + static_cast<int>(at / 480 % 5), at, at + 480});
    test::NoteTrack(midi, "Oboe", notes);
    return test::Readable(midi);
}

TEST(ReadablePickup, AShortOpeningBarComingBackOnlyWithARepeatPlayedOutIsStillThePickup) {
    // 1/4, six bars of 2/4, the section's last beat and the upbeat again (1/4, 1/4), six more bars.
    const std::string repeated = ReadableUnderMeters({{0, 1}, {480, 2}, {6240, 1}, {6720, 1}, {7200, 2}}, 12960);
    EXPECT_EQ(FirstMeasure(repeated), "<measure number=\"0\" implicit=\"yes\">");
    EXPECT_LT(repeated.find("<beats>2</beats>"), repeated.find("<beats>1</beats>"));
    // A bar of one beat every other bar is a meter of the piece, from the first bar on.
    std::vector<std::pair<std::uint32_t, int>> alternating;
    for (std::uint32_t bar = 0; bar < 8; ++bar) {
        alternating.emplace_back(bar * 1440, 1);
        alternating.emplace_back(bar * 1440 + 480, 2);
    }
    const std::string mixed = ReadableUnderMeters(alternating, 8 * 1440);
    EXPECT_EQ(FirstMeasure(mixed), "<measure number=\"1\">");
    EXPECT_LT(mixed.find("<beats>1</beats>"), mixed.find("<beats>2</beats>"));
}

TEST(ReadablePickup, BarLinesStayWhereTheMusicAgreesWithThemOrWasPlayedFreely) {
    // Long notes and the bass on the file's own downbeats.
    test::MidiBuilder square(1, 480);
    test::Conductor(square, "Square");
    test::NoteTrack(square, "Flute",
                    {{72, 0, 960},
                     {74, 960, 1200},
                     {76, 1200, 1440},
                     {77, 1440, 1920},
                     {79, 1920, 3840},
                     {77, 3840, 4800},
                     {76, 4800, 5760},
                     {72, 5760, 9600}});
    test::NoteTrack(square, "Cello", {{48, 0, 1920}, {43, 1920, 3840}, {48, 3840, 5760}, {48, 5760, 9600}});
    EXPECT_EQ(FirstMeasure(test::Readable(square)), "<measure number=\"1\">");

    // A one-beat upbeat after three beats of silence, but played by hand: the
    // silence before it is the recording's, not the music's.
    test::MidiBuilder played(1, 480);
    test::Conductor(played, "Played");
    std::vector<test::TNote> notes;
    const int offsets[] = {37, -41, 29, -33, 45, -27, 39, -35};
    for (int i = 0; i < 8; ++i)
        notes.push_back({72 + i, static_cast<std::uint32_t>(1440 + i * 480 + offsets[i]),
                         static_cast<std::uint32_t>(1440 + i * 480 + 400 + offsets[i])});
    test::NoteTrack(played, "Piano", notes);
    EXPECT_EQ(FirstMeasure(test::Readable(played)), "<measure number=\"1\">");
}

}  // namespace
}  // namespace korvalin
