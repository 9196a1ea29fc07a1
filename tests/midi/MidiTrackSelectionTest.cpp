#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "MidiBuilder.h"
#include "MidiParser.h"
#include "MidiTrackSelection.h"

using korvalin::test::Bytes;
using korvalin::test::MidiBuilder;

namespace {

// A conductor, two parts, and a track of controllers only.
Bytes FourTracks() {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).Tempo(960, 250000).End();
    midi.Track().Name("Flute").Note(0, 480, 0, 72).End();
    midi.Track().Name("Cello").Note(0, 480, 1, 48).Note(0, 480, 1, 50).End();
    midi.Track().Event(0, {0xB1, 0x07, 0x64}).End();
    return midi.Bytes();
}

TEST(KeepTrackChunks, KeepsTheChosenPartsAndEveryTrackWithoutNotes) {
    const Bytes bytes = FourTracks();
    korvalin::TMidiFile midi;
    midi.LoadFromBytes(bytes);
    const std::vector<std::int32_t> cello{3};

    korvalin::TMidiFile kept;
    kept.LoadFromBytes(korvalin::KeepTrackChunks(bytes, midi, cello));

    ASSERT_EQ(kept.Tracks().size(), 3u);
    EXPECT_EQ(kept.Tracks()[1]->Name, "Cello");
    EXPECT_EQ(kept.Tracks()[1]->Notes().size(), 2u);
    // The conductor's tempo change still times the part.
    EXPECT_EQ(kept.TempoChanges.size(), 2u);
    EXPECT_TRUE(kept.Tracks()[2]->Notes().empty());
}

TEST(KeepTrackChunks, RefusesTracksTheFileDoesNotOfferAsParts) {
    const Bytes bytes = FourTracks();
    korvalin::TMidiFile midi;
    midi.LoadFromBytes(bytes);
    for (const std::vector<std::int32_t>& choice : {std::vector<std::int32_t>{}, {5}, {1}, {0}})
        EXPECT_THROW(korvalin::KeepTrackChunks(bytes, midi, choice), korvalin::ERangeError);
}

}  // namespace
