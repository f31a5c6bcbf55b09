// The in-process port: read time-outs on the virtual clock, reply timing,
// the half-duplex line, discarding, exclusive open and the port opener.
#include "sim/sim_port.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>

namespace {

using namespace std::chrono_literals;
using zorm::sim::Fault;
using zorm::sim::LineTime;
using Bytes = std::vector<std::uint8_t>;

const Bytes MeasureOne{'*', '1', '1', 13};

class SimPortTest : public ::testing::Test {
protected:
    SimPortTest() {
        port = line.Open();
        EXPECT_TRUE(port->SetTimeouts(zorm::CommTimeouts{}));
    }

    // Writes the frame and reads n bytes; returns what came.
    Bytes Exchange(const Bytes& frame, std::size_t n) {
        EXPECT_TRUE(port->Write(frame));
        Bytes buffer(n);
        std::size_t received = 0;
        EXPECT_TRUE(port->Read(buffer, received));
        buffer.resize(received);
        return buffer;
    }

    zorm::sim::SimLine line;
    std::unique_ptr<zorm::SerialPort> port;
};

TEST_F(SimPortTest, SilentConverterEndsTheReadAtTheTotalTimeout) {
    line.Converter().SetFault(Fault::Silence);
    EXPECT_TRUE(Exchange(MeasureOne, 8).empty());
    EXPECT_EQ(line.Events().back().Duration, 1080ms);
}

TEST_F(SimPortTest, ShortReplyEndsTheIntervalAfterTheThirdByte) {
    line.Converter().SetFault(Fault::ShortReply);
    ASSERT_TRUE(port->Write(MeasureOne));
    const auto requestEnd = line.Now() + LineTime(4);
    Bytes buffer(8);
    std::size_t received = 0;
    ASSERT_TRUE(port->Read(buffer, received));
    EXPECT_EQ(received, 3u);
    EXPECT_EQ(line.Now(), requestEnd + line.Turnaround() + LineTime(3) + 20ms);
}

TEST_F(SimPortTest, WriteReturnsAtOnceAndTheReplyFollowsTheFrame) {
    ASSERT_TRUE(port->Write(MeasureOne));
    EXPECT_EQ(line.Events().back().Duration, 0us);
    const auto handedOver = line.Now();
    Bytes buffer(8);
    std::size_t received = 0;
    ASSERT_TRUE(port->Read(buffer, received));
    EXPECT_EQ(received, 8u);
    EXPECT_EQ(line.Now(), handedOver + LineTime(4) + 25ms + LineTime(8));
}

TEST_F(SimPortTest, DiscardDropsOnlyBytesThatHaveArrived) {
    ASSERT_TRUE(port->Write(MeasureOne));
    port->Sleep(25ms); // the frame and the turnaround: nothing has arrived yet
    line.Advance(LineTime(4) + LineTime(3) - 25us);
    EXPECT_EQ(line.Waiting(), 2u);
    ASSERT_TRUE(port->DiscardInput());
    EXPECT_EQ(line.Events().back().Bytes, (Bytes{'>', '1'}));
    Bytes buffer(8);
    std::size_t received = 0;
    ASSERT_TRUE(port->Read(buffer, received));
    EXPECT_EQ(received, 6u);
    EXPECT_EQ(buffer[0], '2');
}

TEST_F(SimPortTest, ZeroTotalTimeoutsMeanNoTotalLimit) {
    zorm::CommTimeouts timeouts;
    timeouts.ReadTotalConstant = 0;
    timeouts.ReadTotalMultiplier = 0;
    ASSERT_TRUE(port->SetTimeouts(timeouts));
    line.SetTurnaround(5s); // far beyond the usual total time-out
    EXPECT_EQ(Exchange(MeasureOne, 8).size(), 8u);
    EXPECT_EQ(line.Now(), LineTime(4) + 5s + LineTime(8));
    // Nothing on its way: a real port would wait for ever; this one ends
    // the read without moving the clock.
    EXPECT_TRUE(Exchange({}, 8).empty());
    EXPECT_EQ(line.Now(), LineTime(4) + 5s + LineTime(8));
}

TEST_F(SimPortTest, HugeTotalTimeoutsSaturateInsteadOfOverflowing) {
    zorm::CommTimeouts timeouts;
    timeouts.ReadTotalConstant = 0xFFFFFFFF;
    timeouts.ReadTotalMultiplier = 0xFFFFFFFF;
    ASSERT_TRUE(port->SetTimeouts(timeouts));
    // 4 Mi bytes times 2^32 ms overflows 64-bit microseconds; the read still
    // takes the reply and ends one interval after its last byte.
    EXPECT_EQ(Exchange(MeasureOne, std::size_t{1} << 22).size(), 8u);
    EXPECT_EQ(line.Now(), LineTime(4) + 25ms + LineTime(8) + 20ms);
}

TEST(TotalTimeout, IsConstantPlusCountTimesMultiplierAndSaturates) {
    using std::chrono::milliseconds;
    using std::chrono::nanoseconds;
    constexpr std::uint32_t Max = 0xFFFFFFFF;
    EXPECT_EQ(zorm::TotalTimeout(1000, 10, 8), 1080ms);
    EXPECT_EQ(zorm::TotalTimeout(20, 20, 7), 160ms);
    EXPECT_EQ(zorm::TotalTimeout(0, 10, 0), 0ms); // a limit of nothing, not no limit
    EXPECT_EQ(zorm::TotalTimeout(0, 0, 8), std::nullopt);
    EXPECT_EQ(zorm::TotalTimeout(Max, Max, 8), milliseconds{9 * std::int64_t{Max}});
    // nanoseconds hold 2147 times 2^32 - 1 ms, not 2148 times.
    EXPECT_EQ(zorm::TotalTimeout(0, Max, 2147), milliseconds{2147 * std::int64_t{Max}});
    EXPECT_EQ(zorm::TotalTimeout(0, Max, 2148), nanoseconds::max());
    EXPECT_EQ(zorm::TotalTimeout(Max, Max, SIZE_MAX), nanoseconds::max());
    EXPECT_EQ(zorm::SaturatingSum(5ns, 10ns), 15ns);
    EXPECT_EQ(zorm::SaturatingSum(nanoseconds::max() - 5ns, 10ns), nanoseconds::max());
}

TEST_F(SimPortTest, ConverterBytesOnTheLineWhileThePcDrivesItAreLost) {
    // The reply starts 10 ms after the 4.17 ms frame; the line turns 20 ms
    // after the write, when six of its eight bytes have started.
    line.SetTurnaround(10ms);
    std::size_t lost = 0;
    for (const bool transmitLevel : {true, false}) {
        SCOPED_TRACE(transmitLevel);
        ASSERT_TRUE(port->SetRts(transmitLevel));
        ASSERT_TRUE(port->Write(MeasureOne));
        port->Sleep(20ms);
        ASSERT_TRUE(port->SetRts(!transmitLevel));
        Bytes buffer(8);
        std::size_t received = 0;
        ASSERT_TRUE(port->Read(buffer, received));
        buffer.resize(received);
        EXPECT_EQ(buffer, (Bytes{'0', 13})); // the end of '>' '1' "21500" CR
        EXPECT_EQ(line.Lost(), lost += 6);
    }
    // RTS left at the transmit level: nothing of the reply gets through.
    ASSERT_TRUE(port->Write(MeasureOne));
    EXPECT_TRUE(Exchange({}, 8).empty());
    EXPECT_EQ(line.Lost(), lost + 8);
}

TEST_F(SimPortTest, RtsWaitsForAFrameLongerThanTheGuard) {
    ASSERT_TRUE(port->SetRts(true));
    ASSERT_TRUE(port->Write(Bytes(96, 0x55))); // 100 ms on the line
    port->Sleep(20ms);
    ASSERT_TRUE(port->SetRts(false));
    EXPECT_EQ(line.Events().back().At, LineTime(96));
}

TEST_F(SimPortTest, RepliesNeverOverlapOnTheLine) {
    line.Converter().SetFaultForNext(Fault::LateReply, 1);
    ASSERT_TRUE(port->Write(MeasureOne));
    line.Converter().Config().Raw[0] = 99999;
    ASSERT_TRUE(port->Write(MeasureOne));
    // The prompt second reply waits for the late first one to have gone out.
    line.Advance(2s);
    EXPECT_EQ(Exchange({}, 16), (Bytes{'>', '1', '2', '1', '5', '0', '0', 13, //
                                       '>', '1', '9', '9', '9', '9', '9', 13}));
}

TEST_F(SimPortTest, FaultSwitchesFailOneOperationEach) {
    auto& faults = line.Faults();
    faults.SetRtsFails = true;
    EXPECT_FALSE(port->SetRts(true));
    EXPECT_FALSE(line.Rts().has_value());
    faults.WriteFails = true;
    EXPECT_FALSE(port->Write(MeasureOne));
    EXPECT_TRUE(line.Converter().Log().empty());
    faults.ReadFails = true;
    std::array<std::uint8_t, 8> buffer{};
    std::size_t received = 5;
    EXPECT_FALSE(port->Read(buffer, received));
    EXPECT_EQ(received, 0u);
    faults.DiscardFails = true;
    EXPECT_FALSE(port->DiscardInput());
    EXPECT_EQ(line.Now(), 0us);
}

TEST_F(SimPortTest, ClosedPortFailsEverythingAndFreesTheLine) {
    EXPECT_EQ(line.Open(), nullptr);
    EXPECT_TRUE(port->Close());
    EXPECT_FALSE(line.IsOpen());
    EXPECT_FALSE(port->Close());
    EXPECT_FALSE(port->SetRts(true));
    EXPECT_FALSE(port->Write(MeasureOne));
    EXPECT_FALSE(port->DiscardInput());
    auto second = line.Open();
    ASSERT_NE(second, nullptr);
    second.reset(); // dropping the port closes it
    EXPECT_FALSE(line.IsOpen());
}

TEST(SimPorts, OpenerRecordsEveryNumberTriedInOrder) {
    zorm::sim::SimPorts ports;
    auto line = ports.Add(2);
    const zorm::PortOpener opener = ports.Opener();
    EXPECT_EQ(opener(3), nullptr);
    auto port = opener(2);
    EXPECT_NE(port, nullptr);
    EXPECT_EQ(opener(2), nullptr);
    ports.Remove(2);
    EXPECT_EQ(opener(2), nullptr);
    EXPECT_TRUE(port->Write(MeasureOne)); // still usable after removal
    EXPECT_EQ(line.Converter().Log().size(), 1u);
    EXPECT_EQ(ports.Tried(), (std::vector<std::uint8_t>{3, 2, 2, 2}));
}

} // namespace
