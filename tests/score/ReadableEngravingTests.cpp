// Engraving decisions of the readable notation on small hand-built measures:
// stem directions, where the rests of two voices stand, which tuplets carry a
// bracket, and the staff geometry they all measure by.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string_view>
#include <vector>

#include "ReadableSteps.h"
#include "StaffGeometry.h"

namespace korvalin {
namespace {

constexpr TScoreTime kWhole = 96;

struct TNote {
    int Step = 0;  // 0 = C ... 6 = B
    int Octave = 4;
};

// Builds one measure of a part, voice by voice, as the measure filling does.
class TMeasureBuilder {
public:
    TMeasureBuilder& Voice(std::int32_t number) {
        TScoreVoice& voice = Part.Voices.emplace_back();
        voice.Number = number;
        voice.FirstEvent = static_cast<std::uint32_t>(Part.Events.size());
        return *this;
    }

    // A chord of `notes`, or a rest when there are none.
    TMeasureBuilder& Event(TNoteType type, std::initializer_list<TNote> notes, TBeam beam = TBeam::bmNone) {
        TScoreEvent& event = Part.Events.emplace_back();
        event.Offset = Offset;
        event.Type = type;
        event.Duration = kWhole >> (static_cast<int>(type) - static_cast<int>(TNoteType::ntWhole));
        Offset += event.Duration;
        event.Beams[0] = beam;
        event.FirstHead = static_cast<std::uint32_t>(Part.Heads.size());
        for (const TNote& note : notes) {
            TScoreHead& head = Part.Heads.emplace_back();
            head.Step = static_cast<std::int8_t>(note.Step);
            head.Octave = static_cast<std::int8_t>(note.Octave);
        }
        event.HeadCount = static_cast<std::uint32_t>(notes.size());
        ++Part.Voices.back().EventCount;
        return *this;
    }

    // Starts the next voice's events at the top of the measure.
    TMeasureBuilder& Rewind() {
        Offset = 0;
        return *this;
    }

    std::span<TScoreEvent> Events() { return Part.Events; }
    std::span<TScoreEvent> EventsOf(std::size_t voice) {
        return std::span<TScoreEvent>(Part.Events)
            .subspan(Part.Voices[voice].FirstEvent, Part.Voices[voice].EventCount);
    }

    TScorePart Part;
    TScoreTime Offset = 0;
};

constexpr TNote C4{0, 4}, D4{1, 4}, E4{2, 4}, G3{4, 3}, B4{6, 4}, F5{3, 5}, G5{4, 5}, A5{5, 5};
constexpr TNote C2{0, 2}, D3{1, 3}, A3{5, 3};

std::vector<TStem> Stems(std::span<const TScoreEvent> events) {
    std::vector<TStem> stems;
    for (const auto& event : events) stems.push_back(event.Stem);
    return stems;
}

TStem StemOfOne(TNote note, std::string_view clef) {
    TMeasureBuilder m;
    m.Voice(1).Event(TNoteType::ntQuarter, {note});
    SetStemsByPosition(m.Events(), m.Part.Heads, clef);
    return m.Part.Events[0].Stem;
}

TMeasureSlot FourFour() {
    TMeasureSlot slot;
    slot.Length = kWhole;
    slot.Meter = MakeMeter(4, 4, kWhole);
    return slot;
}

constexpr TStem kUp = TStem::stUp, kDown = TStem::stDown, kNone = TStem::stNone;

TEST(ReadableEngraving, StemsPointAwayFromTheNoteFarthestFromTheMiddleLine) {
    EXPECT_EQ(StemOfOne(A5, "G"), kDown);
    EXPECT_EQ(StemOfOne(C4, "G"), kUp);
    EXPECT_EQ(StemOfOne(B4, "G"), kDown);  // on the middle line
    EXPECT_EQ(StemOfOne(G3, "G"), kUp);
    // The same G3 is above the bass staff's middle line.
    EXPECT_EQ(StemOfOne(G3, "F"), kDown);
    EXPECT_EQ(StemOfOne(C2, "F"), kUp);
    // A chord goes by its outer note that stands farther out; a tie goes down.
    TMeasureBuilder m;
    m.Voice(1)
        .Event(TNoteType::ntQuarter, {E4, G5})   // 4 below, 5 above
        .Event(TNoteType::ntQuarter, {D4, F5})   // 5 below, 4 above
        .Event(TNoteType::ntQuarter, {E4, F5})   // 4 and 4
        .Event(TNoteType::ntQuarter, {C2, A3});  // in the bass: 8 below, 4 above
    SetStemsByPosition(m.Events().first(3), m.Part.Heads, "G");
    SetStemsByPosition(m.Events().last(1), m.Part.Heads, "F");
    EXPECT_EQ(Stems(m.Events()), (std::vector<TStem>{kDown, kUp, kDown, kUp}));
}

TEST(ReadableEngraving, ABeamedGroupTakesOneDirectionAndItsRestsNone) {
    TMeasureBuilder m;
    m.Voice(1)
        .Event(TNoteType::ntEighth, {C4}, TBeam::bmBegin)
        .Event(TNoteType::ntEighth, {}, TBeam::bmContinue)
        .Event(TNoteType::ntEighth, {G5}, TBeam::bmEnd)  // alone it would point down
        .Event(TNoteType::ntQuarter, {G5});
    SetStemsByPosition(m.Events(), m.Part.Heads, "G");
    EXPECT_EQ(Stems(m.Events()), (std::vector<TStem>{kUp, kNone, kUp, kDown}));
}

TEST(ReadableEngraving, TwoSoundingVoicesStemUpperUpAndLowerDown) {
    // Each voice's notes would point the other way by their place.
    TMeasureBuilder two;
    two.Voice(1).Event(TNoteType::ntHalf, {A5}).Event(TNoteType::ntHalf, {G5});
    two.Rewind().Voice(2).Event(TNoteType::ntHalf, {C4}).Event(TNoteType::ntHalf, {D4});
    std::vector<std::int8_t> carried;
    FinishStaff(two.Part, 0, FourFour(), "G", false, carried);
    EXPECT_EQ(Stems(two.EventsOf(0)), (std::vector<TStem>{kUp, kUp}));
    EXPECT_EQ(Stems(two.EventsOf(1)), (std::vector<TStem>{kDown, kDown}));

    // A second voice of rests only leaves the first to stem by place; a whole note has no stem.
    TMeasureBuilder alone;
    alone.Voice(1).Event(TNoteType::ntHalf, {A5}).Event(TNoteType::ntHalf, {C4});
    alone.Rewind().Voice(2).Event(TNoteType::ntWhole, {});
    FinishStaff(alone.Part, 0, FourFour(), "G", false, carried);
    EXPECT_EQ(Stems(alone.EventsOf(0)), (std::vector<TStem>{kDown, kUp}));
    TMeasureBuilder whole;
    whole.Voice(1).Event(TNoteType::ntWhole, {A5});
    FinishStaff(whole.Part, 0, FourFour(), "G", false, carried);
    EXPECT_EQ(whole.Part.Events[0].Stem, kNone);

    // On a percussion staff the voice decides even when it sounds alone.
    TMeasureBuilder drums;
    drums.Voice(2).Event(TNoteType::ntHalf, {C4}).Event(TNoteType::ntHalf, {C4});
    FinishStaff(drums.Part, 0, FourFour(), "percussion", true, carried);
    EXPECT_EQ(Stems(drums.Events()), (std::vector<TStem>{kDown, kDown}));
}

// Where a rest was placed, as a diatonic place; -1 when the renderer places it.
int RestPlace(const TScoreEvent& rest) { return rest.RestStep < 0 ? -1 : Diatonic(rest.RestOctave, rest.RestStep); }

TEST(ReadableEngraving, RestsOfTwoVoicesStandClearOfEachOther) {
    const TStaffLines treble = StaffLinesOf("G");
    const TStaffLines bass = StaffLinesOf("F");
    TMeasureBuilder m;
    m.Voice(1).Event(TNoteType::ntQuarter, {}).Event(TNoteType::ntHalf, {}).Event(TNoteType::ntQuarter, {});
    m.Rewind().Voice(2).Event(TNoteType::ntQuarter, {}).Event(TNoteType::ntHalf, {}).Event(TNoteType::ntQuarter, {});
    m.Part.Events[2].Hidden = true;
    PlaceRests(m.EventsOf(0), "G", true);
    PlaceRests(m.EventsOf(1), "F", false);
    // The upper voice's quarter rest by the top line, its half rest on the fourth line.
    EXPECT_EQ(RestPlace(m.Part.Events[0]), treble.Top);
    EXPECT_EQ(RestPlace(m.Part.Events[1]), 36);  // D5, the fourth line
    EXPECT_EQ(RestPlace(m.Part.Events[2]), -1);  // hidden
    // The lower voice's rests all by the bottom line.
    EXPECT_EQ(RestPlace(m.Part.Events[3]), bass.Bottom);
    EXPECT_EQ(RestPlace(m.Part.Events[4]), bass.Bottom);

    TMeasureBuilder bar;
    bar.Voice(1).Event(TNoteType::ntWhole, {});
    bar.Part.Events[0].MeasureRest = true;
    PlaceRests(bar.Events(), "F", true);
    EXPECT_EQ(RestPlace(bar.Part.Events[0]), 24);  // B3, the bass staff's fourth line

    // A voice alone on its staff leaves its rests to the renderer.
    TMeasureBuilder single;
    single.Voice(1).Event(TNoteType::ntHalf, {}).Event(TNoteType::ntHalf, {A5});
    std::vector<std::int8_t> carried;
    FinishStaff(single.Part, 0, FourFour(), "G", false, carried);
    EXPECT_EQ(RestPlace(single.Part.Events[0]), -1);
}

TEST(ReadableEngraving, ATupletShowsItsBracketOnlyWithARestOrAnUnbeamedNoteInside) {
    const auto triplet = [](std::span<TScoreEvent> events) {
        for (auto& event : events) event.Tuplet.Actual = 3;
        events.front().Tuplet.Start = true;
        events.back().Tuplet.Stop = true;
    };
    TMeasureBuilder m;
    m.Voice(1)
        .Event(TNoteType::ntEighth, {C4}, TBeam::bmBegin)
        .Event(TNoteType::ntEighth, {D4}, TBeam::bmContinue)
        .Event(TNoteType::ntEighth, {E4}, TBeam::bmEnd)
        .Event(TNoteType::ntEighth, {C4}, TBeam::bmBegin)
        .Event(TNoteType::ntEighth, {}, TBeam::bmNone)
        .Event(TNoteType::ntEighth, {E4}, TBeam::bmEnd)
        .Event(TNoteType::ntQuarter, {C4})
        .Event(TNoteType::ntQuarter, {D4})
        .Event(TNoteType::ntQuarter, {E4});
    triplet(m.Events().subspan(0, 3));
    triplet(m.Events().subspan(3, 3));
    triplet(m.Events().subspan(6, 3));
    MarkTupletBrackets(m.Events());
    EXPECT_FALSE(m.Part.Events[0].Tuplet.Bracket);  // the beam shows the group
    EXPECT_TRUE(m.Part.Events[3].Tuplet.Bracket);
    EXPECT_TRUE(m.Part.Events[6].Tuplet.Bracket);  // quarters have no beam
}

TEST(StaffGeometry, ClefsLinesAndLedgerLines) {
    EXPECT_EQ(StaffLinesOf("G").Middle, Diatonic(TSpelledPitch{6, 0, 4}));  // B4
    EXPECT_EQ(StaffLinesOf("F").Middle, Diatonic(TSpelledPitch{1, 0, 3}));  // D3
    EXPECT_EQ(StaffLinesOf("percussion").Middle, StaffLinesOf("G").Middle);
    EXPECT_EQ(ClefSignLine("G"), 2);
    EXPECT_EQ(ClefSignLine("F"), 4);
    const auto ledger = [](TNote note, std::string_view clef) {
        return LedgerLines(Diatonic(note.Octave, note.Step), clef);
    };
    EXPECT_EQ(ledger(C4, "G"), 1);
    EXPECT_EQ(ledger(D4, "G"), 0);           // hangs below the bottom line
    EXPECT_EQ(ledger(TNote{5, 3}, "G"), 2);  // A3
    EXPECT_EQ(ledger(A5, "G"), 1);
    EXPECT_EQ(ledger(TNote{0, 6}, "G"), 2);  // C6
    EXPECT_EQ(ledger(TNote{2, 2}, "F"), 1);  // E2
    EXPECT_EQ(ledger(C2, "F"), 2);
    EXPECT_EQ(ledger(C4, "F"), 1);
}

}  // namespace
}  // namespace korvalin
