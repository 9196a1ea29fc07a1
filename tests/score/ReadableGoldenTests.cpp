// Readable notation against documents written by hand from the rules of
// engraving: spelling in flat, sharp and minor keys, two hands of a piano,
// two voices on a staff, the beat in 4/4 and 6/8, meter changes, drums.

#include <gtest/gtest.h>

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

// Notes one after another from `start`, each (pitch, length in eighths).
std::vector<TNote> Line(std::uint32_t start, const std::vector<std::pair<int, std::uint32_t>>& notes) {
    std::vector<TNote> line;
    for (const auto& [pitch, eighths] : notes) {
        line.push_back({pitch, start, start + eighths * kQ / 2});
        start += eighths * kQ / 2;
    }
    return line;
}

std::vector<TNote> Chord(std::uint32_t start, std::uint32_t end, const std::vector<int>& pitches, int channel = 0) {
    std::vector<TNote> chord;
    for (const int pitch : pitches) chord.push_back({pitch, start, end, channel});
    return chord;
}

std::vector<TNote> Join(std::vector<std::vector<TNote>> groups) {
    std::vector<TNote> all;
    for (auto& group : groups) all.insert(all.end(), group.begin(), group.end());
    return all;
}

TEST(ReadableGolden, FlatKeySpellsBlackKeysAsFlatsAndChromaticStepsByDirection) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Flat key", 500000, 4, 2, -3, false);
    NoteTrack(midi, "Flute",
              Line(0, {{63, 2}, {67, 2}, {70, 2}, {68, 2}, {67, 1}, {66, 1}, {67, 2}, {73, 2}, {72, 2}}));
    test::ExpectGolden("readable_flat_key", Readable(midi));
}

TEST(ReadableGolden, SharpKeyMarksOnlyWhatLeavesTheKey) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Sharp key", 500000, 4, 2, 3, false);
    NoteTrack(midi, "Violin",
              Join({Line(0, {{69, 2}, {73, 2}, {76, 2}, {75, 1}, {76, 1}}), Chord(4 * kQ, 6 * kQ, {69, 73, 76}),
                    Line(6 * kQ, {{67, 2}, {66, 2}})}));
    test::ExpectGolden("readable_sharp_key", Readable(midi));
}

TEST(ReadableGolden, MinorKeyRaisesItsSixthAndSeventhAndCancelsThemAfterTheBar) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Minor key", 500000, 4, 2, -2, true);
    NoteTrack(midi, "Oboe",
              Line(0, {{67, 1},
                       {69, 1},
                       {70, 1},
                       {72, 1},
                       {74, 1},
                       {76, 1},
                       {78, 1},
                       {79, 1},
                       {79, 1},
                       {77, 1},
                       {75, 1},
                       {74, 1},
                       {67, 4}}));
    test::ExpectGolden("readable_minor_key", Readable(midi));
}

TEST(ReadableGolden, PianoChordsStayInTheirHandAcrossMiddleC) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Two hands");
    NoteTrack(midi, "Piano",
              Join({Chord(0, kQ, {48, 52, 55, 64, 67, 72}), Chord(kQ, 2 * kQ, {52, 55, 60, 67, 72, 76}),
                    Chord(2 * kQ, 3 * kQ, {43, 50, 59, 62, 67}), Chord(3 * kQ, 4 * kQ, {43, 53, 59, 62, 65}),
                    Chord(4 * kQ, 8 * kQ, {48, 55, 60, 64, 67, 72})}));
    test::ExpectGolden("readable_piano_hands", Readable(midi));
}

TEST(ReadableGolden, IndependentLinesTakeTwoVoicesAndAChordTogetherOne) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Two voices");
    NoteTrack(midi, "Lute",
              Join({Line(0, {{76, 4}, {74, 3}, {72, 1}}), Line(0, {{60, 2}, {62, 4}, {64, 2}}),
                    Chord(4 * kQ, 8 * kQ, {60, 72})}));
    test::ExpectGolden("readable_two_voices", Readable(midi));
}

TEST(ReadableGolden, SyncopationsIn44ShowTheBeatAndTheMiddleOfTheBar) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Syncopation");
    NoteTrack(midi, "Trumpet",
              Join({Line(0, {{72, 1}, {74, 2}, {76, 1}, {77, 1}, {79, 3}, {67, 2}, {69, 4}, {71, 2}}),
                    Line(9 * kQ, {{72, 6}})}));
    test::ExpectGolden("readable_syncopation", Readable(midi));
}

TEST(ReadableGolden, SixEightGoesByDottedQuarters) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Six eight", 500000, 6, 3);
    NoteTrack(midi, "Clarinet",
              Join({Line(0, {{72, 3}, {74, 1}, {76, 1}, {77, 1}, {72, 1}, {79, 3}}), Line(6 * kQ, {{72, 6}})}));
    test::ExpectGolden("readable_six_eight", Readable(midi));
}

TEST(ReadableGolden, MeterChangesAreWrittenWhereTheyHappen) {
    MidiBuilder midi(1, kQ);
    midi.Track()
        .Name("Meter change")
        .Tempo(0, 500000)
        .TimeSig(0, 4, 2)
        .KeySig(0, 0, false)
        .TimeSig(2 * kQ, 3, 2)  // inside the first 4/4 bar
        .TimeSig(6 * kQ, 6, 3)  // after two bars of 3/4
        .End();
    NoteTrack(midi, "Flute", Line(0, {{72, 4}, {74, 6}, {76, 2}, {77, 4}, {79, 3}, {81, 3}}));
    test::ExpectGolden("readable_meter_change", Readable(midi));
}

TEST(ReadableGolden, DrumsGoOnAPercussionStaffHandsUpFeetDown) {
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Drums");
    std::vector<TNote> hits;
    for (std::uint32_t bar = 0; bar < 2; ++bar) {
        const std::uint32_t at = bar * 4 * kQ;
        for (std::uint32_t eighth = 0; eighth < 8; ++eighth)
            hits.push_back({42, at + eighth * kQ / 2, at + eighth * kQ / 2 + 60, 9});
        for (const std::uint32_t beat : {1u, 3u}) hits.push_back({38, at + beat * kQ, at + beat * kQ + 60, 9});
        for (const std::uint32_t beat : {0u, 2u}) hits.push_back({36, at + beat * kQ, at + beat * kQ + 60, 9});
    }
    NoteTrack(midi, "Drums", hits);
    test::ExpectGolden("readable_drums", Readable(midi));
}

TEST(ReadableGolden, PickupOfOneBeatMovesTheBarLinesToTheAccents) {
    // The file starts its tune at once, with bar lines of its own every four
    // beats from there; the long notes and the bass fall a beat later.
    MidiBuilder midi(1, kQ);
    Conductor(midi, "Pickup");
    NoteTrack(
        midi, "Flute",
        Line(0, {{67, 2}, {72, 4}, {76, 4}, {74, 6}, {71, 1}, {72, 1}, {76, 4}, {79, 4}, {72, 4}, {71, 4}, {72, 6}}));
    NoteTrack(midi, "Cello", Line(kQ, {{48, 8}, {43, 8}, {48, 8}, {53, 8}, {48, 6}}));
    test::ExpectGolden("readable_pickup", Readable(midi));
}

}  // namespace
}  // namespace korvalin
