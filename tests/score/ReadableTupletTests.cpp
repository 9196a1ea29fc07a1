// Tuplets, upbeats and tempo marks of the readable notation against documents
// written by hand from the rules of engraving, and what must stay plain.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "MidiBuilder.h"
#include "MidiParser.h"
#include "MusicXmlExporter.h"
#include "ScoreTestSupport.h"

namespace korvalin {
namespace {

using test::Conductor;
using test::MidiBuilder;
using test::NoteTrack;
using test::Readable;
using test::TNote;

constexpr std::uint32_t kQ = 480;  // ticks per quarter note in every case

// `count` notes evenly over [start, start + span), each (pitch) in turn; a
// pitch of 0 leaves its place silent.
std::vector<TNote> Even(std::uint32_t start, std::uint32_t span, const std::vector<int>& pitches) {
    std::vector<TNote> notes;
    const auto count = static_cast<std::uint32_t>(pitches.size());
    for (std::uint32_t i = 0; i < count; ++i)
        if (pitches[i] != 0) notes.push_back({pitches[i], start + span * i / count, start + span * (i + 1) / count});
    return notes;
}

std::vector<TNote> Join(std::vector<std::vector<TNote>> groups) {
    std::vector<TNote> all;
    for (auto& group : groups) all.insert(all.end(), group.begin(), group.end());
    return all;
}

TEST(ReadableTuplets, EighthTripletsFillTheirBeatsUnderOneBeam) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Eighth triplets");
    NoteTrack(midi, "Flute",
              Join({Even(0, kQ, {72, 74, 76}), Even(kQ, kQ, {77, 79, 81}), Even(2 * kQ, 2 * kQ, {83, 84})}));
    test::ExpectGolden("readable_eighth_triplets", Readable(midi));
    // The coarsest grid cannot hold them apart, and still no note is lost.
    test::ExpectGolden("readable_eighth_triplets", Readable(midi, 8));
}

TEST(ReadableTuplets, QuarterTripletAcrossTheMiddleOfTheBar) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Quarter triplet");
    NoteTrack(midi, "Oboe", Join({Even(0, kQ, {72}), Even(kQ, 2 * kQ, {74, 76, 77}), Even(3 * kQ, kQ, {79})}));
    test::ExpectGolden("readable_quarter_triplet", Readable(midi));
}

TEST(ReadableTuplets, RestInsideATripletAndATripletTiedIntoTheNextBeat) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Rest and tie");
    // Bar 1: a triplet with its middle silent, then straight quarters.
    // Bar 2: a triplet whose last note is held over the beat, and the beat
    // after it goes on in triplets.
    NoteTrack(midi, "Clarinet",
              Join({Even(0, kQ, {67, 0, 71}),
                    Even(kQ, 3 * kQ, {72, 74, 76}),
                    {{60, 4 * kQ, 4 * kQ + 160}, {62, 4 * kQ + 160, 4 * kQ + 320}, {64, 4 * kQ + 320, 5 * kQ + 160}},
                    Even(5 * kQ, kQ, {0, 65, 67}),
                    Even(6 * kQ, 2 * kQ, {69})}));
    test::ExpectGolden("readable_triplet_rest_tie", Readable(midi));
}

TEST(ReadableTuplets, QuintupletAndSeptuplet) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Five and seven");
    NoteTrack(midi, "Violin",
              Join({Even(0, kQ, {72, 74, 76, 77, 79}), Even(kQ, kQ, {81, 79, 77, 76, 74, 72, 71}),
                    Even(2 * kQ, 2 * kQ, {72})}));
    test::ExpectGolden("readable_quintuplet_septuplet", Readable(midi));
}

TEST(ReadableTuplets, TripletsInOneHandAgainstStraightEighthsInTheOther) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Three against two");
    NoteTrack(midi, "Piano",
              Join({Even(0, 2 * kQ, {76, 77, 79, 81, 79, 77}), Even(2 * kQ, 2 * kQ, {76}),
                    Even(0, 4 * kQ, {43, 50, 43, 50, 45, 52, 45, 52})}));
    test::ExpectGolden("readable_triplets_against_eighths", Readable(midi));
}

TEST(ReadableTuplets, TripletsInOneVoiceAgainstStraightEighthsOnOneStaff) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Three against two on one staff");
    // Bar 1: the upper line in triplets for three beats and silent on the
    // fourth, the lower one in eighths throughout, both starting every beat
    // together. Bar 2: both lines end in one chord.
    const std::vector<TNote> notes = Join({Even(0, kQ, {76, 77, 79}),
                                           Even(kQ, kQ, {81, 79, 77}),
                                           Even(2 * kQ, kQ, {76, 74, 76}),
                                           Even(0, 4 * kQ, {67, 64, 67, 64, 65, 62, 65, 62}),
                                           {{64, 4 * kQ, 8 * kQ}, {72, 4 * kQ, 8 * kQ}}});
    NoteTrack(midi, "Violin", notes);
    test::ExpectGolden("readable_triplets_one_staff", Readable(midi));
    test::ExpectGolden("readable_triplets_one_staff", Readable(midi, 8));
    test::ExpectGolden("readable_triplets_one_staff", Readable(midi, 32));
    // Played: every onset a few ticks early or late, every note let go a little early.
    MidiBuilder played(1, kQ);
    Conductor(played, "Three against two on one staff");
    std::vector<TNote> uneven = notes;
    const int offsets[] = {6, -8, 3, -5, 9, -2, 7, -9, 4, -6, 8, -4, 5, -7, 2, -3, 6, -5, 0};
    for (std::size_t i = 0; i < uneven.size(); ++i) {
        uneven[i].Start = static_cast<std::uint32_t>(static_cast<int>(uneven[i].Start) + offsets[i] + 10);
        uneven[i].End = static_cast<std::uint32_t>(static_cast<int>(uneven[i].End) - 20 + offsets[(i + 1) % 19]);
    }
    NoteTrack(played, "Violin", uneven);
    test::ExpectGolden("readable_triplets_one_staff", Readable(played));
}

// How many notes of `doc` have the written `type` inside a tuplet of `actual`
// in the time of `normal`, and how many are plain.
std::pair<int, int> TupletNotes(const std::string& doc, const std::string& type, int actual, int normal) {
    std::pair<int, int> counts{0, 0};
    const std::string ratio =
        "<actual-notes>" + std::to_string(actual) + "</actual-notes><normal-notes>" + std::to_string(normal);
    for (std::size_t at = doc.find("<note"); at != std::string::npos; at = doc.find("<note", at + 1)) {
        std::string note = doc.substr(at, doc.find("</note>", at) - at);
        note.erase(std::remove_if(note.begin(), note.end(), [](char c) { return c == ' ' || c == '\r' || c == '\n'; }),
                   note.end());
        if (note.find("<rest") != std::string::npos) continue;
        if (note.find("<time-modification>") == std::string::npos) ++counts.second;
        else if (note.find("<type>" + type + "</type>") != std::string::npos && note.find(ratio) != std::string::npos)
            ++counts.first;
    }
    return counts;
}

TEST(ReadableTuplets, TripletsDivideTheEighthsOfACompoundBeatUnlessPlayedFreely) {
    // 6/8: sixteenth triplets over the first beat's three eighths, then three plain eighths.
    const auto sixEight = [](int jitter) {
        MidiBuilder midi(1, kQ);
        Conductor(midi, "Barcarolle", 500000, 6, 3);
        std::vector<TNote> notes;
        for (std::uint32_t bar = 0; bar < 4; ++bar) {
            const std::uint32_t start = bar * 3 * kQ;
            for (std::uint32_t eighth = 0; eighth < 3; ++eighth)
                for (const TNote& note : Even(start + eighth * kQ / 2, kQ / 2, {72, 76, 79})) notes.push_back(note);
            for (const TNote& note : Even(start + 3 * kQ / 2, 3 * kQ / 2, {77, 74, 71})) notes.push_back(note);
        }
        for (std::size_t i = 0; i < notes.size(); ++i) {
            const int shift = jitter * (static_cast<int>(i * 7 % 5) - 2);
            notes[i].Start = static_cast<std::uint32_t>(static_cast<int>(notes[i].Start + 3 * kQ) + shift);
            notes[i].End = static_cast<std::uint32_t>(static_cast<int>(notes[i].End + 3 * kQ) + shift - 1);
        }
        NoteTrack(midi, "Piano", notes);
        return midi;
    };
    const MidiBuilder entered = sixEight(0);
    for (const std::int32_t grid : {16, 32}) {
        const auto [triplets, plain] = TupletNotes(Readable(entered, grid), "16th", 3, 2);
        EXPECT_EQ(triplets, 36) << "grid 1/" << grid;
        EXPECT_EQ(plain, 12) << "grid 1/" << grid;
    }
    // Played by hand, uneven thirds of the beat are the player's.
    EXPECT_EQ(TupletNotes(Readable(sixEight(9), 32), "16th", 3, 2).first, 0);
}

TEST(ReadableTuplets, StraightAndSlightlyUnevenPlayingStaysPlain) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Plain");
    // Three notes exactly on sixteenths are not a triplet; then the same
    // rhythm and a bar of eighths played by hand, each onset a few ticks off
    // and each note let go a little early.
    std::vector<TNote> notes = {{72, 0, 120}, {74, 120, 240}, {76, 240, 480}, {77, kQ, 2 * kQ}, {79, 2 * kQ, 4 * kQ}};
    const std::vector<int> offsets = {7, -9, 4, -6, 10, -3, 8, -10, 5, -7, 9};
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> played = {
        {0, 120}, {120, 240}, {240, 480}, {480, 960}, {960, 1200}, {1200, 1440}, {1440, 1680}, {1680, 1920}};
    const std::vector<int> pitches = {72, 74, 76, 77, 79, 81, 79, 77};
    for (std::size_t i = 0; i < played.size(); ++i) {
        const auto start = static_cast<std::uint32_t>(static_cast<int>(4 * kQ + played[i].first) + offsets[i]);
        const auto end = static_cast<std::uint32_t>(static_cast<int>(4 * kQ + played[i].second) + offsets[i + 1] - 25);
        notes.push_back({pitches[i], start, end});
    }
    NoteTrack(midi, "Flute", notes);
    test::ExpectGolden("readable_plain_rhythm", Readable(midi));
}

TEST(ReadableTuplets, TempoChangesAreMarkedWhereTheyHappenOnceEach) {
    MidiBuilder midi(1, kQ);
    // 120, then 90 from bar 1's second beat, 90 again at bar 2 (not repeated),
    // and 140.2 from bar 2's second beat; in 6/8 marked by the dotted quarter.
    midi.Track()
        .Name("Tempo")
        .Tempo(0, 500000)
        .TimeSig(0, 6, 3)
        .KeySig(0, 0, false)
        .Tempo(3 * kQ / 2, 666667)
        .Tempo(3 * kQ / 2, 666667)
        .Tempo(3 * kQ / 2, 427960)
        .End();
    NoteTrack(midi, "Horn", Even(0, 6 * kQ, {67, 72, 76, 79}));
    test::ExpectGolden("readable_tempo_marks", Readable(midi));
}

}  // namespace
}  // namespace korvalin
