// The simulated converter on its own: framing, addresses, replies and faults.
#include "sim/converter_sim.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace std::chrono_literals;
using zorm::sim::ConverterSim;
using zorm::sim::Fault;
using Bytes = std::vector<std::uint8_t>;

Bytes Feed(ConverterSim& converter, const Bytes& bytes, std::chrono::milliseconds now = 0ms) {
    const auto replies = converter.Receive(bytes, now);
    return replies.empty() ? Bytes{} : replies.front().Bytes;
}

const Bytes Identify{'%', '1', 13};
const Bytes MeasureOne{'*', '1', '1', 13};

TEST(ConverterFraming, FrameSplitIntoSingleBytesIsAnsweredOnce) {
    ConverterSim converter;
    for (std::size_t i = 0; i + 1 < MeasureOne.size(); ++i) {
        EXPECT_TRUE(converter.Receive(Bytes{MeasureOne[i]}).empty());
    }
    EXPECT_EQ(Feed(converter, Bytes{13}), (Bytes{'>', '1', '2', '1', '5', '0', '0', 13}));
    ASSERT_EQ(converter.Log().size(), 1u);
    EXPECT_EQ(converter.Log()[0].Bytes, MeasureOne);
}

TEST(ConverterFraming, GarbageAndBrokenFramesAreDropped) {
    ConverterSim converter;
    // Noise, then an identification whose CR is missing, then a good one.
    const Bytes stream{0x00, 'x', 0xFF, '%', '1', 'X', '%', '1', 13};
    EXPECT_EQ(Feed(converter, stream), (Bytes{'>', '5', '8', '1', '6', 13}));
    EXPECT_EQ(converter.DroppedBytes(), 6u);
    EXPECT_EQ(converter.Log().size(), 1u);
}

TEST(ConverterFraming, CrInsideTheDataDoesNotEndAWriteFrame) {
    ConverterSim converter;
    EXPECT_EQ(Feed(converter, Bytes{'&', 1, 0x02, 2, 13, 13, 13}), (Bytes{'>', 0x02, 13}));
    EXPECT_EQ(converter.Register(zorm::sim::ModeRegister)[0], 13);
    EXPECT_EQ(converter.Register(zorm::sim::ModeRegister)[1], 13);
}

TEST(ConverterFraming, PartialFrameIsForgottenAfterAPause) {
    ConverterSim converter;
    EXPECT_TRUE(converter.Receive(Bytes{'%', '1'}, 0ms).empty());
    EXPECT_TRUE(converter.Receive(Bytes{13}, 500ms).empty());
    EXPECT_EQ(Feed(converter, Identify, 510ms).size(), 6u);
}

TEST(ConverterFraming, TwoFramesInOneWriteGetTwoReplies) {
    ConverterSim converter;
    Bytes both = Identify;
    both.insert(both.end(), MeasureOne.begin(), MeasureOne.end());
    const auto replies = converter.Receive(both);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].Bytes.size(), 6u);
    EXPECT_EQ(replies[1].Bytes.size(), 8u);
}

TEST(ConverterAddress, OwnAddressAndBroadcastInBothForms) {
    zorm::sim::ConverterConfig config;
    config.Address = 10;
    ConverterSim converter(config);
    EXPECT_EQ(Feed(converter, {'%', ':', 13}).size(), 6u);
    EXPECT_EQ(Feed(converter, {'%', '0', 13}).size(), 6u);
    EXPECT_TRUE(Feed(converter, {'%', '1', 13}).empty());
    EXPECT_EQ(Feed(converter, {'!', 10, 1, 13}).size(), 39u);
    EXPECT_EQ(Feed(converter, {'!', 0, 1, 13}).size(), 39u);
    // The plain byte 10 is no character address: '\n' is not ':'.
    EXPECT_TRUE(Feed(converter, {'%', 10, 13}).empty());
    EXPECT_TRUE(Feed(converter, {'$', ':', 0x10, 1, 13}).empty());

    converter.Config().AnswerBroadcast = false;
    EXPECT_TRUE(Feed(converter, {'%', '0', 13}).empty());
    EXPECT_TRUE(Feed(converter, {'&', 0, 2, 2, 1, 1, 13}).empty());
    EXPECT_FALSE(converter.Log().back().Answered);
}

TEST(ConverterReplies, RegisterReadCarriesTheXorOfItsBytes) {
    ConverterSim converter;
    converter.Register(zorm::sim::OffsetRegister) = {0x12, 0x34, 0x80};
    EXPECT_EQ(Feed(converter, {'$', 1, 0x15, 1, 13}),
              (Bytes{'>', 0x15, 0x12, 0x34, 0x80, 0x12 ^ 0x34 ^ 0x80, 13}));
}

TEST(ConverterReplies, OnlyWriteCodesOfWritableRegistersStore) {
    ConverterSim converter;
    const auto status = converter.Register(zorm::sim::StatusRegister);
    const auto gain = converter.Register(zorm::sim::GainRegister);
    EXPECT_EQ(Feed(converter, {'&', 1, 0x00, 1, 9, 9, 13}).size(), 3u);
    EXPECT_EQ(Feed(converter, {'&', 1, 0x16, 1, 9, 9, 13}).size(), 3u); // a read code
    EXPECT_EQ(converter.Register(zorm::sim::StatusRegister), status);
    EXPECT_EQ(converter.Register(zorm::sim::GainRegister), gain);
}

TEST(ConverterReplies, DiagnosticsWordsLowByteFirst) {
    ConverterSim converter;
    converter.Config().DiagnosticWords[0] = 0x1234;
    converter.Config().DiagnosticWords[17] = 0xABCD;
    converter.Config().DiagnosticCount = 7;
    const Bytes reply = Feed(converter, {'!', 1, 1, 13});
    ASSERT_EQ(reply.size(), 39u);
    EXPECT_EQ(reply[1], 0x34);
    EXPECT_EQ(reply[2], 0x12);
    EXPECT_EQ(reply[35], 0xCD);
    EXPECT_EQ(reply[36], 0xAB);
    EXPECT_EQ(reply[37], 7);
}

TEST(ConverterReplies, TemperatureModelMovesSlowlyAroundTheRawValue) {
    zorm::sim::ConverterConfig config;
    config.TemperatureModel = true;
    ConverterSim converter(config);
    EXPECT_EQ(converter.RawAt(1, 0ms), 21500);
    EXPECT_EQ(converter.RawAt(1, 150s), 21500 + 400); // a quarter of the period
    EXPECT_NE(converter.RawAt(2, 0ms), converter.RawAt(3, 0ms));
    for (auto t = 0ms; t < 600s; t += 333ms) {
        EXPECT_LE(std::abs(converter.RawAt(1, t + 333ms) - converter.RawAt(1, t)), 2);
    }
}

TEST(ConverterFaults, EachFaultSpoilsTheReplyItNames) {
    const struct {
        Fault fault;
        Bytes request;
        Bytes reply;
    } table[] = {
        {Fault::None, MeasureOne, {'>', '1', '2', '1', '5', '0', '0', 13}},
        {Fault::Silence, MeasureOne, {}},
        {Fault::ShortReply, MeasureOne, {'>', '1', '2'}},
        {Fault::ShortReply, {'&', 1, 2, 2, 0, 0, 13}, {'>', 2}},
        {Fault::WrongFirstByte, Identify, {'?', '5', '8', '1', '6', 13}},
        {Fault::WrongEcho, {'#', '1', '3', 13}, {'>', '1', '2', '3', '5', '0', '0', 13}},
        {Fault::MissingCr, MeasureOne, {'>', '1', '2', '1', '5', '0', '0', ' '}},
        {Fault::BadCheckByte, {'$', 1, 0x10, 1, 13}, {'>', 0x10, 0, 0, 0, 1, 13}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(zorm::sim::FaultName(row.fault));
        ConverterSim converter;
        converter.SetFault(row.fault);
        EXPECT_EQ(Feed(converter, row.request), row.reply);
    }
}

TEST(ConverterFaults, LateAndGarbageKeepTheLength) {
    ConverterSim converter;
    converter.SetFault(Fault::LateReply);
    auto replies = converter.Receive(MeasureOne);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].Delay, 1500ms);
    EXPECT_EQ(replies[0].Bytes.size(), 8u);

    converter.SetFault(Fault::Garbage);
    for (int i = 0; i < 50; ++i) {
        const Bytes reply = Feed(converter, Identify);
        ASSERT_EQ(reply.size(), 6u);
        EXPECT_NE(reply[0], '>');
    }
}

TEST(ConverterFaults, FaultForTheNextRepliesOnly) {
    ConverterSim converter;
    converter.SetFaultForNext(Fault::Silence, 2);
    // A frame for another converter does not use up the fault.
    EXPECT_TRUE(Feed(converter, {'%', '5', 13}).empty());
    EXPECT_TRUE(Feed(converter, Identify).empty());
    EXPECT_TRUE(Feed(converter, Identify).empty());
    EXPECT_EQ(Feed(converter, Identify).size(), 6u);
    EXPECT_EQ(converter.CurrentFault(), Fault::None);
}

TEST(ConverterFaults, NamesRoundTrip) {
    for (Fault fault :
         {Fault::None, Fault::Silence, Fault::ShortReply, Fault::WrongFirstByte, Fault::WrongEcho,
          Fault::MissingCr, Fault::BadCheckByte, Fault::LateReply, Fault::Garbage}) {
        Fault back = Fault::None;
        ASSERT_TRUE(zorm::sim::FaultFromName(zorm::sim::FaultName(fault), back));
        EXPECT_EQ(back, fault);
    }
    Fault unknown = Fault::Silence;
    EXPECT_FALSE(zorm::sim::FaultFromName("slow", unknown));
}

TEST(LineTime, TenBitsPerByteRoundedUp) {
    EXPECT_EQ(zorm::sim::LineTime(1), 1042us);
    EXPECT_EQ(zorm::sim::LineTime(8), 8334us);
    EXPECT_EQ(zorm::sim::LineTime(96), 100000us);
    EXPECT_EQ(zorm::sim::LineTime(96, 115200), 8334us);
}

} // namespace
