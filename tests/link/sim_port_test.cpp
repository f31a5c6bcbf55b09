// The in-process port: read time-outs on the virtual clock, reply timing,
// discarding, exclusive open and the port opener.
#include "sim/sim_port.h"

#include <gtest/gtest.h>

#include <array>

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
    const auto writeEnd = line.Now();
    Bytes buffer(8);
    std::size_t received = 0;
    ASSERT_TRUE(port->Read(buffer, received));
    EXPECT_EQ(received, 3u);
    EXPECT_EQ(line.Now(), writeEnd + line.Turnaround() + LineTime(3) + 20ms);
}

TEST_F(SimPortTest, WholeReplyEndsTheReadWithItsLastByte) {
    ASSERT_TRUE(port->Write(MeasureOne));
    const auto writeStart = line.Events().back().At;
    EXPECT_EQ(line.Now() - writeStart, LineTime(4));
    const auto writeEnd = line.Now();
    Bytes buffer(8);
    std::size_t received = 0;
    ASSERT_TRUE(port->Read(buffer, received));
    EXPECT_EQ(received, 8u);
    EXPECT_EQ(line.Now(), writeEnd + 25ms + LineTime(8));
}

TEST_F(SimPortTest, DiscardDropsOnlyBytesThatHaveArrived) {
    ASSERT_TRUE(port->Write(MeasureOne));
    port->Sleep(25ms); // the turnaround: nothing has arrived yet
    line.Advance(LineTime(3) - 25us);
    EXPECT_EQ(line.Waiting(), 2u);
    ASSERT_TRUE(port->DiscardInput());
    EXPECT_EQ(line.Events().back().Bytes, (Bytes{'>', '1'}));
    Bytes buffer(8);
    std::size_t received = 0;
    ASSERT_TRUE(port->Read(buffer, received));
    EXPECT_EQ(received, 6u);
    EXPECT_EQ(buffer[0], '2');
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
