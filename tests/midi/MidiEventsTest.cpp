// The shared event reader and writer on their own: the edges of variable-length
// quantities, running status across meta and system-exclusive events, and what
// the writer writes reading back as itself.

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "MidiEvents.h"

namespace korvalin {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Value, length and fault: prints readably when a case fails.
std::tuple<std::uint32_t, std::size_t, TMidiFault> Read(const Bytes& data, std::size_t pos = 0) {
    const TVarLen v = ReadVarLen(data, pos);
    return {v.Value, v.Length, v.Fault};
}

TEST(VarLen, FourBytesHoldTwentyEightBitsAndAFifthIsRefused) {
    EXPECT_EQ(Read({0x7F, 0x99}), std::make_tuple(0x7Fu, 1u, TMidiFault::mfNone));
    EXPECT_EQ(Read({0x99, 0x81, 0x00}, 1), std::make_tuple(0x80u, 2u, TMidiFault::mfNone));
    EXPECT_EQ(Read({0xFF, 0xFF, 0xFF, 0x7F}), std::make_tuple(kMaxVarLen, 4u, TMidiFault::mfNone));
    EXPECT_EQ(std::get<2>(Read({0x80, 0x80, 0x80, 0x80, 0x00})), TMidiFault::mfVarLenTooLong);
    EXPECT_EQ(std::get<2>(Read({0x81, 0x81, 0x81, 0x81, 0x81})), TMidiFault::mfVarLenTooLong);
}

TEST(VarLen, RunningIntoTheEndIsTruncatedEvenAfterFourContinuedBytes) {
    EXPECT_EQ(std::get<2>(Read({})), TMidiFault::mfVarLenTruncated);
    EXPECT_EQ(std::get<2>(Read({0x00}, 1)), TMidiFault::mfVarLenTruncated);
    EXPECT_EQ(std::get<2>(Read({0x00}, 5)), TMidiFault::mfVarLenTruncated);
    EXPECT_EQ(std::get<2>(Read({0x81, 0x82})), TMidiFault::mfVarLenTruncated);
    EXPECT_EQ(std::get<2>(Read({0x81, 0x81, 0x81, 0x81})), TMidiFault::mfVarLenTruncated);
}

class EventReader : public ::testing::Test {
protected:
    // Status of each event read; the fault, if any, ends the list.
    static std::vector<int> Statuses(const Bytes& data, TMidiFault* fault = nullptr) {
        TMidiEventReader reader(data);
        TMidiEvent event;
        std::vector<int> out;
        while (reader.Next(event)) {
            if (fault != nullptr) *fault = event.Fault;
            if (event.Fault != TMidiFault::mfNone) break;
            out.push_back(event.Status);
        }
        return out;
    }
    static TMidiFault FaultOf(const Bytes& data) {
        TMidiFault fault = TMidiFault::mfNone;
        Statuses(data, &fault);
        return fault;
    }
};

TEST_F(EventReader, RunningStatusSurvivesMetaEventsAndSystemBytes) {
    EXPECT_EQ(Statuses({0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x01, 0x00, 0x00, 0x3C, 0x00}),
              (std::vector<int>{0x90, 0xFF, 0x90}));
    EXPECT_EQ(Statuses({0x00, 0xB1, 0x07, 0x64, 0x00, 0xF8, 0x00, 0x00, 0x00, 0x0A, 0x40}),
              (std::vector<int>{0xB1, 0xF8, 0xB1}));
}

TEST_F(EventReader, SysExCancelsRunningStatusAndMetaNeverSetsIt) {
    EXPECT_EQ(FaultOf({0x00, 0x90, 0x3C, 0x40, 0x00, 0xF0, 0x01, 0xF7, 0x00, 0x3C, 0x00}), TMidiFault::mfRunningStatus);
    EXPECT_EQ(FaultOf({0x00, 0x90, 0x3C, 0x40, 0x00, 0xF7, 0x00, 0x00, 0x3C, 0x00}), TMidiFault::mfRunningStatus);
    EXPECT_EQ(FaultOf({0x00, 0xFF, 0x2F, 0x00, 0x00, 0x3C, 0x00}), TMidiFault::mfRunningStatus);
    // A new status after the system-exclusive event starts running status again.
    EXPECT_EQ(Statuses({0x00, 0xF0, 0x00, 0x00, 0x80, 0x3C, 0x00, 0x00, 0x3D, 0x00}),
              (std::vector<int>{0xF0, 0x80, 0x80}));
}

TEST_F(EventReader, EachFaultIsNamedAndEndsTheReading) {
    EXPECT_EQ(FaultOf({0x00, 0xFF}), TMidiFault::mfMetaType);
    EXPECT_EQ(FaultOf({0x00, 0xFF, 0x01, 0x02, 'a'}), TMidiFault::mfMetaLength);
    EXPECT_EQ(FaultOf({0x00, 0xF0, 0x02, 0x01}), TMidiFault::mfSysExLength);
    EXPECT_EQ(FaultOf({0x00, 0xF0, 0x81}), TMidiFault::mfVarLenTruncated);
    EXPECT_EQ(FaultOf({0x00, 0xC0}), TMidiFault::mfChannelData);
    EXPECT_EQ(FaultOf({0x00, 0x90, 0x3C}), TMidiFault::mfChannelData);
    const Bytes broken = {0x00, 0xC0};
    TMidiEventReader reader(broken);
    TMidiEvent event;
    EXPECT_TRUE(reader.Next(event));
    EXPECT_FALSE(reader.Next(event));
}

TEST_F(EventReader, TheEndSaysWhereEventsStop) {
    const Bytes dangling = {0x00, 0xC0, 0x05, 0x83, 0x00};  // a delta time with nothing after it
    TMidiEventReader reader(dangling);
    TMidiEvent event;
    ASSERT_TRUE(reader.Next(event));
    EXPECT_EQ(std::make_tuple(event.DataPos, event.DataLength), std::make_tuple(2u, 1u));
    EXPECT_FALSE(reader.Next(event));
    EXPECT_EQ(event.Start, 3u);
    const Bytes ended(dangling.begin(), dangling.begin() + 3);
    TMidiEventReader whole(ended);
    while (whole.Next(event)) {
    }
    EXPECT_EQ(event.Start, 3u);
}

TEST(EventWriter, WhatIsWrittenReadsBackAsItself) {
    for (const std::uint32_t value : {0u, 0x7Fu, 0x80u, 0x3FFFu, 0x4000u, 0x1FFFFFu, 0x200000u, kMaxVarLen}) {
        Bytes out{0x42};
        WriteVarLen(out, value);
        const std::size_t length = value < 0x80 ? 1 : value < 0x4000 ? 2 : value < 0x200000 ? 3 : 4;
        EXPECT_EQ(Read(out, 1), std::make_tuple(value, length, TMidiFault::mfNone)) << value;
        EXPECT_EQ(out.size(), length + 1) << value;
    }
    Bytes track;
    const Bytes text(200, 'x');  // a length of two bytes
    WriteMetaEvent(track, 0x4000, kMetaTrackName, text);
    WriteMetaEvent(track, 0, kMetaKeySignature, KeySignatureData(-7, true));
    WriteMetaEvent(track, 1, kMetaTempo, TempoData(0xABCDEF));
    WriteEvent(track, 2, Bytes{0x93, 0x3C, 0x40});
    TMidiEventReader reader(track);
    TMidiEvent event;
    std::vector<std::tuple<std::uint32_t, int, int, Bytes>> read;
    while (reader.Next(event)) {
        ASSERT_EQ(event.Fault, TMidiFault::mfNone);
        const auto data = track.begin() + static_cast<std::ptrdiff_t>(event.DataPos);
        read.emplace_back(event.Delta, event.Status, event.MetaType,
                          Bytes(data, data + static_cast<std::ptrdiff_t>(event.DataLength)));
    }
    const std::vector<std::tuple<std::uint32_t, int, int, Bytes>> expected = {{0x4000, 0xFF, 0x03, text},
                                                                              {0, 0xFF, 0x59, {0xF9, 0x01}},
                                                                              {1, 0xFF, 0x51, {0xAB, 0xCD, 0xEF}},
                                                                              {2, 0x93, 0, {0x3C, 0x40}}};
    EXPECT_EQ(read, expected);
    EXPECT_EQ(TempoFromData(std::span<const std::uint8_t, 3>(track.end() - 7, 3)), 0xABCDEFu);
}

}  // namespace
}  // namespace korvalin
