// The five converter commands, OpenPort and the direction switch, against the
// simulated converter on a virtual clock.
#include "link/connection_search.h"
#include "link/drv232.h"
#include "sim/sim_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zorm::sim::EventKind;
using zorm::sim::Fault;
using zorm::sim::LineEvent;
using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t ReadingBefore = 777;
constexpr zorm::AdcRegBytes RegBytesBefore{0xAA, 0xBB, 0xCC};

// A converter at address `address` on port 1, opened by Drv232.
class LinkTest : public ::testing::Test {
protected:
    explicit LinkTest(std::uint8_t address = 1) {
        zorm::sim::ConverterConfig config;
        config.Address = address;
        config.Raw = {1234, 56789, 99999};
        line = ports.Add(1, config);
        context.DeviceSettings.DeviceAddress = address;
        context.DeviceSettings.RtsOnTransmit = 1;
        context.DeviceSettings.FilterOn = 1;
        context.LastReading = ReadingBefore;
        context.AdcRegBytes = RegBytesBefore;
        EXPECT_TRUE(link.OpenPort(1));
        line.ClearEvents();
    }

    // The frames written since the last ClearEvents.
    std::vector<Bytes> Frames() const {
        std::vector<Bytes> frames;
        for (const LineEvent& event : line.Events()) {
            if (event.Kind == EventKind::Write) {
                frames.push_back(event.Bytes);
            }
        }
        return frames;
    }
    Bytes LastFrame() const {
        const auto frames = Frames();
        return frames.empty() ? Bytes{} : frames.back();
    }

    zorm::Context context;
    zorm::sim::SimPorts ports;
    zorm::sim::SimLine line;
    zorm::Drv232 link{context, ports.Opener()};
};

// ---------------------------------------------------------------- frames

class FrameTest : public LinkTest {
protected:
    FrameTest() : LinkTest(10) {}
};

TEST_F(FrameTest, IdentificationAndMeasurementSendTheAddressAsACharacter) {
    EXPECT_EQ(link.ReadDeviceType(), "ZORM5816A");
    EXPECT_EQ(LastFrame(), (Bytes{'%', ':', 13}));

    ASSERT_TRUE(link.MeasureChannel(3));
    EXPECT_EQ(LastFrame(), (Bytes{'#', ':', '3', 13}));
    context.DeviceSettings.FilterOn = 0;
    ASSERT_TRUE(link.MeasureChannel(1));
    EXPECT_EQ(LastFrame(), (Bytes{'*', ':', '1', 13}));
}

TEST_F(FrameTest, DiagnosticsAndRegistersSendTheAddressAsAPlainByte) {
    EXPECT_NE(link.ReadDiagnostics(1), zorm::DiagnosticsError);
    EXPECT_EQ(LastFrame(), (Bytes{'!', 10, 1, 13}));
    EXPECT_TRUE(link.ReadAdcRegister(0));
    EXPECT_EQ(LastFrame(), (Bytes{'$', 10, 0x10, 1, 13}));
    EXPECT_TRUE(link.WriteAdcRegister(0));
    EXPECT_EQ(LastFrame()[1], 10);
}

TEST_F(FrameTest, ReadSelectorsChooseCodeAndCount) {
    const struct {
        std::uint8_t selector, code, count;
    } table[] = {{0, 0x10, 1}, {1, 0x11, 3}, {2, 0x12, 2}, {3, 0x13, 2},
                 {4, 0x15, 1}, {5, 0x16, 1}, {6, 0x10, 1}, {255, 0x10, 1}};
    for (const auto& row : table) {
        SCOPED_TRACE(static_cast<int>(row.selector));
        EXPECT_TRUE(link.ReadAdcRegister(row.selector));
        EXPECT_EQ(LastFrame(), (Bytes{'$', 10, row.code, row.count, 13}));
    }
}

TEST_F(FrameTest, WriteSelectorsChooseCodeAndCountAndSendIndexOneThenZero) {
    const struct {
        std::uint8_t selector, code, count;
    } table[] = {{0, 0x02, 2}, {1, 0x03, 2}, {2, 0x05, 1},
                 {3, 0x06, 1}, {4, 0x00, 1}, {255, 0x00, 1}};
    context.AdcRegBytes = {0x11, 0x22, 0x33};
    for (const auto& row : table) {
        SCOPED_TRACE(static_cast<int>(row.selector));
        EXPECT_TRUE(link.WriteAdcRegister(row.selector));
        EXPECT_EQ(LastFrame(), (Bytes{'&', 10, row.code, row.count, 0x22, 0x11, 13}));
    }
}

TEST_F(LinkTest, SilentConverterCostsEachCommandItsReplyLength) {
    line.Converter().SetFault(Fault::Silence);
    const struct {
        const char* command;
        std::size_t length;
        std::chrono::milliseconds wait;
    } table[] = {{"identification", 6, 1060ms},
                 {"measurement", 8, 1080ms},
                 {"diagnostics", 39, 1390ms},
                 {"register read", 7, 1070ms},
                 {"register write", 3, 1030ms}};
    link.ReadDeviceType();
    link.MeasureChannel(1);
    link.ReadDiagnostics(1);
    link.ReadAdcRegister(0);
    link.WriteAdcRegister(0);
    std::vector<const LineEvent*> reads;
    for (const auto& event : line.Events()) {
        if (event.Kind == EventKind::Read) {
            reads.push_back(&event);
        }
    }
    ASSERT_EQ(reads.size(), std::size(table));
    for (std::size_t i = 0; i < reads.size(); ++i) {
        SCOPED_TRACE(table[i].command);
        EXPECT_EQ(reads[i]->Requested, table[i].length);
        EXPECT_EQ(reads[i]->Duration, table[i].wait);
        EXPECT_TRUE(reads[i]->Bytes.empty());
    }
}

TEST(BroadcastAddress, FirstStartWithAddressZeroFindsTheConverter) {
    for (bool broadcast : {true, false}) {
        SCOPED_TRACE(broadcast ? "broadcast" : "own address only");
        zorm::sim::ConverterConfig config;
        config.Address = 4;
        config.AnswerBroadcast = broadcast;
        zorm::sim::SimPorts ports;
        auto line = ports.Add(1, config);
        zorm::Context context; // DeviceAddress 0, as before any settings were loaded
        zorm::Drv232 link(context, ports.Opener());
        ASSERT_TRUE(link.OpenPort(1));
        EXPECT_EQ(link.ReadDeviceType(), broadcast ? "ZORM5816A" : zorm::DeviceTypeError);
        ASSERT_EQ(line.Converter().Log().size(), 1u);
        EXPECT_EQ(line.Converter().Log()[0].Bytes, (Bytes{'%', '0', 13}));
    }
}

// ---------------------------------------------------------------- results

// Everything that can go wrong with one exchange.
enum class Trouble {
    None,
    ClosedPort,
    DiscardFails,
    WriteFails,
    EndTransmitFails,
    ReadFails,
    FirstByte,
    Echo,
    NoCr,
    CheckByte,
    Short,
    Silence,
    Garbage,
};

// What a command leaves in LastReading or AdcRegBytes.
enum class Effect { Kept, New, Zero };

struct ResultRow {
    Trouble trouble;
    const char* name;
    bool typeOk;
    bool measure;
    Effect measureEffect;
    bool diagnosticsOk;
    bool readRegister;
    Effect readEffect;
    bool writeRegister;
};

void PrintTo(const ResultRow& row, std::ostream* os) {
    *os << row.name;
}

// Every failure but a wrong echo, CR and check byte spoils the reply of
// every command alike; those three concern the identification and the
// measurement (CR), the measurement (echo) and the register read.
const ResultRow ResultTable[] = {
    {Trouble::None, "Good", true, true, Effect::New, true, true, Effect::New, true},
    {Trouble::ClosedPort, "ClosedPort", false, false, Effect::Kept, false, false, Effect::Kept,
     false},
    {Trouble::DiscardFails, "DiscardFails", false, false, Effect::Kept, false, false, Effect::Kept,
     false},
    {Trouble::WriteFails, "WriteFails", false, false, Effect::Kept, false, false, Effect::Kept,
     false},
    {Trouble::EndTransmitFails, "EndTransmitFails", false, false, Effect::Kept, false, false,
     Effect::Kept, false},
    {Trouble::ReadFails, "ReadFails", false, false, Effect::Kept, false, false, Effect::Kept,
     false},
    {Trouble::FirstByte, "FirstByte", false, false, Effect::Kept, false, false, Effect::Kept,
     false},
    {Trouble::Echo, "Echo", true, false, Effect::Kept, true, true, Effect::New, true},
    {Trouble::NoCr, "NoCr", false, false, Effect::Zero, true, true, Effect::New, true},
    {Trouble::CheckByte, "CheckByte", true, true, Effect::New, true, false, Effect::New, true},
    {Trouble::Short, "Short", false, false, Effect::Kept, false, false, Effect::Kept, false},
    {Trouble::Silence, "Silence", false, false, Effect::Kept, false, false, Effect::Kept, false},
    {Trouble::Garbage, "Garbage", false, false, Effect::Kept, false, false, Effect::Kept, false},
};

class ResultTest : public LinkTest, public ::testing::WithParamInterface<ResultRow> {
protected:
    ResultTest() {
        auto& converter = line.Converter();
        converter.Config().Type = {'7', 'X', '0', '1'};
        converter.Config().DiagnosticWords[17] = 4321;
        converter.Register(zorm::sim::GainRegister) = {1, 2, 3};
        switch (GetParam().trouble) {
        case Trouble::None:
            break;
        case Trouble::ClosedPort:
            link.ClosePort();
            break;
        case Trouble::DiscardFails:
            line.Faults().DiscardFails = true;
            break;
        case Trouble::WriteFails:
            line.Faults().WriteFails = true;
            break;
        case Trouble::EndTransmitFails:
            line.Faults().SetRtsFails = true;
            break;
        case Trouble::ReadFails:
            line.Faults().ReadFails = true;
            break;
        case Trouble::FirstByte:
            converter.SetFault(Fault::WrongFirstByte);
            break;
        case Trouble::Echo:
            converter.SetFault(Fault::WrongEcho);
            break;
        case Trouble::NoCr:
            converter.SetFault(Fault::MissingCr);
            break;
        case Trouble::CheckByte:
            converter.SetFault(Fault::BadCheckByte);
            break;
        case Trouble::Short:
            converter.SetFault(Fault::ShortReply);
            break;
        case Trouble::Silence:
            converter.SetFault(Fault::Silence);
            break;
        case Trouble::Garbage:
            converter.SetFault(Fault::Garbage);
            break;
        }
    }
};

TEST_P(ResultTest, ReadDeviceType) {
    EXPECT_EQ(link.ReadDeviceType(), GetParam().typeOk ? "ZORM7X01A" : zorm::DeviceTypeError);
}

TEST_P(ResultTest, MeasureChannel) {
    EXPECT_EQ(link.MeasureChannel(2), GetParam().measure);
    const std::int32_t expected[] = {ReadingBefore, 56789, 0};
    EXPECT_EQ(context.LastReading, expected[static_cast<int>(GetParam().measureEffect)]);
}

TEST_P(ResultTest, ReadDiagnostics) {
    const std::string text = link.ReadDiagnostics(1);
    if (GetParam().diagnosticsOk) {
        EXPECT_EQ(text.rfind("Vysledek: ", 0), 0u) << text;
        EXPECT_EQ(context.LastReading, 4321);
    } else {
        EXPECT_EQ(text, zorm::DiagnosticsError);
        EXPECT_EQ(context.LastReading, ReadingBefore);
    }
}

TEST_P(ResultTest, ReadAdcRegister) {
    EXPECT_EQ(link.ReadAdcRegister(5), GetParam().readRegister);
    const zorm::AdcRegBytes expected =
        GetParam().readEffect == Effect::New ? zorm::AdcRegBytes{1, 2, 3} : RegBytesBefore;
    EXPECT_EQ(context.AdcRegBytes, expected);
}

TEST_P(ResultTest, WriteAdcRegister) {
    EXPECT_EQ(link.WriteAdcRegister(3), GetParam().writeRegister);
}

TEST_P(ResultTest, EveryExchangeLeavesTheLineAtReceive) {
    link.MeasureChannel(1);
    switch (GetParam().trouble) {
    case Trouble::ClosedPort: // nothing was sent
        EXPECT_FALSE(line.Rts().has_value());
        break;
    case Trouble::EndTransmitFails: // RTS was never moved
        break;
    default:
        EXPECT_EQ(line.Rts(), false); // RtsOnTransmit 1: receive is RTS cleared
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCase, ResultTest, ::testing::ValuesIn(ResultTable),
                         [](const auto& info) { return std::string(info.param.name); });

// A port whose every read gets the bytes of one reply.
class ScriptedPort final : public zorm::SerialPort {
public:
    explicit ScriptedPort(Bytes reply) : reply_(std::move(reply)) {}
    bool SetLineFormat(const zorm::LineFormat&) override { return true; }
    bool SetTimeouts(const zorm::CommTimeouts&) override { return true; }
    bool SetRts(bool) override { return true; }
    bool Write(std::span<const std::uint8_t>) override { return true; }
    bool Read(std::span<std::uint8_t> buffer, std::size_t& received) override {
        received = std::min(buffer.size(), reply_.size());
        std::copy_n(reply_.begin(), received, buffer.begin());
        return true;
    }
    bool DiscardInput() override { return true; }
    void Sleep(std::chrono::milliseconds) override {}
    bool Close() override { return true; }

private:
    Bytes reply_;
};

// The link over a port whose reads get `reply`, opened.
struct ScriptedLink {
    explicit ScriptedLink(const Bytes& reply)
        : link(context, [reply](std::uint8_t) { return std::make_unique<ScriptedPort>(reply); }) {
        context.LastReading = ReadingBefore;
        EXPECT_TRUE(link.OpenPort(1));
    }
    zorm::Context context;
    zorm::Drv232 link;
};

// Only '>', the echo, five digits and CR make a reading. Other bytes between
// the echo and CR are no reading at all; without CR the reading is 0.
TEST(MeasurementDigits, OnlyFiveDigitsMakeAReading) {
    const struct {
        Bytes reply;
        bool ok;
        std::int32_t reading;
    } table[] = {
        {{'>', '1', '0', '1', '2', '3', '4', 13}, true, 1234},
        {{'>', '1', '9', '9', '9', '9', '9', 13}, true, 99999},
        {{'>', '1', '0', '0', '0', '0', '0', 13}, true, 0},
        // ':' and '/' are the neighbours of the digits.
        {{'>', '1', ':', '0', '0', '0', '0', 13}, false, ReadingBefore},
        {{'>', '1', '0', '0', '0', '0', '/', 13}, false, ReadingBefore},
        {{'>', '1', ' ', '1', '2', '3', '4', 13}, false, ReadingBefore},
        {{'>', '1', '-', '1', '2', '3', '4', 13}, false, ReadingBefore},
        {{'>', '1', '1', '2', 0xB3, '4', '5', 13}, false, ReadingBefore},
        {{'>', '1', 'x', '1', '2', '3', '4', ' '}, false, 0},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(std::string(row.reply.begin(), row.reply.end() - 1));
        ScriptedLink scripted(row.reply);
        EXPECT_EQ(scripted.link.MeasureChannel(1), row.ok);
        EXPECT_EQ(scripted.context.LastReading, row.reading);
    }
}

// Only '>', four printable characters (0x20..0x7E) and CR are an
// identification; noise and the replies of other commands are not.
TEST(IdentificationReply, NeedsFourPrintableCharactersAndCr) {
    const struct {
        std::string reply;
        const char* type;
    } table[] = {
        {">5816\r", "ZORM5816A"},
        {"> ~AZ\r", "ZORM ~AZA"},
        {">\x1F"
         "816\r",
         zorm::DeviceTypeError},
        {">581\x7F\r", zorm::DeviceTypeError},
        {">58\xE1"
         "6\r",
         zorm::DeviceTypeError},
        {">5\r16\r", zorm::DeviceTypeError},
        {">5816 ", zorm::DeviceTypeError},
        {">5816\n", zorm::DeviceTypeError},
        {">5816", zorm::DeviceTypeError},
        {">121500\r", zorm::DeviceTypeError}, // a stale measurement reply
        {"?5816\r", zorm::DeviceTypeError},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.reply);
        ScriptedLink scripted(Bytes(row.reply.begin(), row.reply.end()));
        EXPECT_EQ(scripted.link.ReadDeviceType(), row.type);
    }
}

// ---------------------------------------------------------------- late replies

TEST_F(LinkTest, LateReplyIsDroppedBeforeTheNextFrame) {
    line.Converter().SetFaultForNext(Fault::LateReply, 1);
    EXPECT_FALSE(link.MeasureChannel(1)); // nothing within the time-out
    EXPECT_EQ(context.LastReading, ReadingBefore);

    line.Advance(1s); // the late reply has come in by now
    ASSERT_EQ(line.Waiting(), 8u);
    line.Converter().Config().Raw[0] = 4242;
    line.ClearEvents();
    EXPECT_TRUE(link.MeasureChannel(1));
    EXPECT_EQ(context.LastReading, 4242);
    EXPECT_EQ(line.Waiting(), 0u);
}

TEST_F(LinkTest, LateIdentificationIsNotTakenForAMeasurement) {
    line.Converter().SetFaultForNext(Fault::LateReply, 1);
    EXPECT_EQ(link.ReadDeviceType(), zorm::DeviceTypeError);
    line.Advance(1s);
    // The stale bytes would read as '>' '5' ... and fail the echo check; the
    // fresh reply must be the one read.
    EXPECT_TRUE(link.MeasureChannel(3));
    EXPECT_EQ(context.LastReading, 99999);
}

// ---------------------------------------------------------------- direction switch

class DirectionTest : public LinkTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(DirectionTest, RtsGuardsAndOrderOfOneExchange) {
    context.DeviceSettings.RtsOnTransmit = GetParam();
    const bool transmitLevel = GetParam() != 0;
    ASSERT_TRUE(link.MeasureChannel(1));

    const auto& events = line.Events();
    const std::vector<EventKind> kinds = {EventKind::SetRts, EventKind::Sleep, EventKind::Discard,
                                          EventKind::Write,  EventKind::Sleep, EventKind::SetRts,
                                          EventKind::Read};
    ASSERT_EQ(events.size(), kinds.size());
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        EXPECT_EQ(events[i].Kind, kinds[i]) << "event " << i;
    }
    const LineEvent& rtsOn = events[0];
    const LineEvent& write = events[3];
    const LineEvent& rtsOff = events[5];
    const LineEvent& read = events[6];
    EXPECT_EQ(rtsOn.Rts, transmitLevel);
    EXPECT_EQ(rtsOff.Rts, !transmitLevel);
    EXPECT_EQ(events[1].Duration, 20ms);
    EXPECT_EQ(events[4].Duration, 20ms);
    EXPECT_EQ(write.At - rtsOn.At, 20ms);
    EXPECT_EQ(rtsOff.At - (write.At + write.Duration), 20ms);
    EXPECT_EQ(read.At, rtsOff.At);
    EXPECT_EQ(line.Rts(), !transmitLevel);
}

INSTANTIATE_TEST_SUITE_P(Polarity, DirectionTest, ::testing::Values(0, 1, 7));

TEST_F(LinkTest, FailedRtsAtTheStartStillSendsTheFrame) {
    line.Faults().SetRtsFails = true;
    EXPECT_FALSE(link.BeginTransmit());
    line.Faults().SetRtsFails = false;
    EXPECT_TRUE(link.EndTransmit());
    line.ClearEvents();
    line.Faults().SetRtsFails = true;
    EXPECT_FALSE(link.MeasureChannel(1)); // the end switch fails too
    EXPECT_EQ(Frames().size(), 1u);
}

// ---------------------------------------------------------------- half-duplex line

// The port as the POSIX one used to be: its write returned only once the
// frame had left, so the guard after it, and the turn, came the frame's line
// time late.
class WriteUntilSentPort final : public zorm::SerialPort {
public:
    WriteUntilSentPort(std::unique_ptr<zorm::SerialPort> port, zorm::sim::SimLine line)
        : port_(std::move(port)), line_(std::move(line)) {}
    bool SetLineFormat(const zorm::LineFormat& f) override { return port_->SetLineFormat(f); }
    bool SetTimeouts(const zorm::CommTimeouts& t) override { return port_->SetTimeouts(t); }
    bool SetRts(bool asserted) override { return port_->SetRts(asserted); }
    bool Write(std::span<const std::uint8_t> bytes) override {
        const bool ok = port_->Write(bytes);
        line_.Advance(zorm::sim::LineTime(bytes.size()));
        return ok;
    }
    bool Read(std::span<std::uint8_t> buffer, std::size_t& received) override {
        return port_->Read(buffer, received);
    }
    bool DiscardInput() override { return port_->DiscardInput(); }
    void Sleep(std::chrono::milliseconds duration) override { port_->Sleep(duration); }
    bool Close() override { return port_->Close(); }

private:
    std::unique_ptr<zorm::SerialPort> port_;
    zorm::sim::SimLine line_;
};

TEST_F(LinkTest, ConverterWithAShortTurnaroundIsAnsweredAndALateTurnLosesIt) {
    // The reply starts 16 ms after the request's last byte, 20.17 ms after
    // the write returned: the turn 20 ms after the write is in time, one
    // that waited for the frame's own 4.17 ms as well is not.
    line.SetTurnaround(16ms);
    ASSERT_TRUE(link.MeasureChannel(2));
    EXPECT_EQ(context.LastReading, 56789);
    EXPECT_EQ(line.Lost(), 0u);
    const auto& events = line.Events();
    const auto write = std::find_if(events.begin(), events.end(),
                                    [](const LineEvent& e) { return e.Kind == EventKind::Write; });
    const auto turn = std::find_if(write, events.end(),
                                   [](const LineEvent& e) { return e.Kind == EventKind::SetRts; });
    ASSERT_NE(turn, events.end());
    EXPECT_EQ(turn->At - write->At, 20ms);

    link.ClosePort();
    zorm::Drv232 late(context, [this](std::uint8_t n) -> std::unique_ptr<zorm::SerialPort> {
        auto port = ports.Opener()(n);
        return port ? std::make_unique<WriteUntilSentPort>(std::move(port), line) : nullptr;
    });
    ASSERT_TRUE(late.OpenPort(1));
    context.LastReading = ReadingBefore;
    EXPECT_FALSE(late.MeasureChannel(2));
    EXPECT_EQ(context.LastReading, ReadingBefore);
    EXPECT_EQ(line.Lost(), 4u); // the bytes that started within those 4.17 ms
}

// ---------------------------------------------------------------- OpenPort

TEST_F(LinkTest, OpenPortSetsNineSixHundredBaudAndTheTimeouts) {
    ASSERT_TRUE(line.Format().has_value());
    EXPECT_EQ(line.Format()->BaudRate, 9600u);
    EXPECT_EQ(line.Format()->Parity, zorm::Parity::None);
    const zorm::CommTimeouts t = line.Timeouts().value();
    EXPECT_EQ(t.ReadInterval, 20u);
    EXPECT_EQ(t.ReadTotalMultiplier, 10u);
    EXPECT_EQ(t.ReadTotalConstant, 1000u);
    EXPECT_EQ(t.WriteTotalMultiplier, 20u);
    EXPECT_EQ(t.WriteTotalConstant, 20u);
    EXPECT_EQ(zorm::LineFormatFor(2).BaudRate, 115200u);
    EXPECT_EQ(zorm::LineFormatFor(2).Parity, zorm::Parity::Even);
}

TEST_F(LinkTest, MissingPortFailsAndHoldsNoPort) {
    EXPECT_FALSE(link.OpenPort(7));
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(line.IsOpen()); // the port held before was let go
    EXPECT_EQ(ports.Tried(), (std::vector<std::uint8_t>{1, 7}));
    EXPECT_EQ(link.ReadDeviceType(), zorm::DeviceTypeError);
    EXPECT_TRUE(line.Converter().Log().empty());
}

TEST_F(LinkTest, PortIsExclusive) {
    zorm::Context other;
    zorm::Drv232 second(other, ports.Opener());
    EXPECT_FALSE(second.OpenPort(1));
    // Reopening the port this link holds fails the same way.
    EXPECT_FALSE(link.OpenPort(1));
    EXPECT_FALSE(line.IsOpen());
    EXPECT_TRUE(second.OpenPort(1));
}

TEST_F(LinkTest, PortThatCannotBeConfiguredIsClosed) {
    for (bool formatFails : {true, false}) {
        SCOPED_TRACE(formatFails ? "line format" : "time-outs");
        link.ClosePort();
        line.Faults().SetLineFormatFails = formatFails;
        line.Faults().SetTimeoutsFails = !formatFails;
        line.ClearEvents();
        EXPECT_FALSE(link.OpenPort(1));
        EXPECT_FALSE(link.IsOpen());
        EXPECT_FALSE(line.IsOpen());
        // Both settings were tried.
        int settings = 0;
        for (const auto& event : line.Events()) {
            settings +=
                event.Kind == EventKind::SetLineFormat || event.Kind == EventKind::SetTimeouts;
        }
        EXPECT_EQ(settings, 2);
    }
}

TEST_F(LinkTest, ClosePortReportsWhetherAPortWasOpen) {
    EXPECT_TRUE(link.ClosePort());
    EXPECT_FALSE(line.IsOpen());
    EXPECT_FALSE(link.ClosePort());
    EXPECT_FALSE(link.MeasureChannel(1));
    EXPECT_TRUE(Frames().empty());
}

// ---------------------------------------------------------------- registers

TEST_F(LinkTest, RegisterWrittenReadsBackIntoTheSameBytes) {
    const struct { std::uint8_t write, read; } pairs[] = {{0, 2}, {1, 3}, {2, 4}, {3, 5}};
    for (const auto& pair : pairs) {
        SCOPED_TRACE(static_cast<int>(pair.write));
        context.AdcRegBytes = {static_cast<std::uint8_t>(0x50 + pair.write), 0xA5, 0};
        ASSERT_TRUE(link.WriteAdcRegister(pair.write));
        context.AdcRegBytes = {0, 0, 0xEE};
        ASSERT_TRUE(link.ReadAdcRegister(pair.read));
        EXPECT_EQ(context.AdcRegBytes[0], 0x50 + pair.write);
        EXPECT_EQ(context.AdcRegBytes[1], 0xA5);
    }
}

TEST_F(LinkTest, DataRegisterHoldsTheLastConversion) {
    ASSERT_TRUE(link.MeasureChannel(2));
    ASSERT_TRUE(link.ReadAdcRegister(1));
    EXPECT_EQ(context.AdcRegBytes[0] + 256 * context.AdcRegBytes[1] +
                  65536 * context.AdcRegBytes[2],
              56789);
}

// ---------------------------------------------------------------- diagnostics

TEST_F(LinkTest, DiagnosticsOfZeroWords) {
    std::string expected = "Vysledek: ";
    for (int k = 0; k < 18; ++k) {
        expected += "0   ";
    }
    expected += "   N:0";
    EXPECT_EQ(link.ReadDiagnostics(1), expected);
    EXPECT_EQ(context.LastReading, 0);
}

TEST_F(LinkTest, DiagnosticsOfRealWords) {
    auto& config = line.Converter().Config();
    config.DiagnosticWords = {1,    255,  256,   257, 65535, 10, 100, 1000, 10000,
                              4660, 4661, 30000, 2,   3,     4,  5,   6,    40000};
    config.DiagnosticCount = 255;
    EXPECT_EQ(link.ReadDiagnostics(1),
              "Vysledek: 1   255   256   257   65535   10   100   1000   10000   4660   4661   "
              "30000   2   3   4   5   6   40000      N:255");
    EXPECT_EQ(context.LastReading, 40000);
}

// ----------------------------------------------------- search and time-outs

// From the stored port downwards, wrapping from 1 to 29 (a stored number
// beyond 29 starts at 29); a port that answers wrongly is closed and
// reported, and the port that answers stays open.
TEST(ConnectionSearch, GoesDownWrappingReportsWrongAnswersAndKeepsTheFoundPortOpen) {
    for (const std::uint8_t stored : {4, 40}) {
        SCOPED_TRACE(static_cast<int>(stored));
        zorm::Context context;
        zorm::sim::SimPorts ports;
        ports.Add(3).Converter().SetFault(Fault::Garbage);
        ports.Add(5).Converter().Config().Type = {'9', '9', '9', '9'};
        zorm::Drv232 link(context, ports.Opener());
        int wrong = 0;

        const auto found = zorm::SearchConverter(link, stored, [&wrong] { ++wrong; });

        std::vector<std::uint8_t> order;
        for (int port = stored > 29 ? 29 : stored; order.empty() || order.back() != 5;
             port = port == 1 ? 29 : port - 1) {
            order.push_back(static_cast<std::uint8_t>(port));
        }
        EXPECT_EQ(ports.Tried(), order);
        EXPECT_EQ(wrong, stored == 4 ? 1 : 0);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->Port, 5);
        EXPECT_EQ(found->DeviceType, "ZORM9999A");
        EXPECT_TRUE(link.IsOpen());
    }
}

// The time-outs given to the link reach the ports it opens afterwards; the
// converter's own stay the default.
TEST(PortTimeouts, DefaultAreTheConvertersOwnAndASetOneReachesTheNextPort) {
    zorm::Context context;
    zorm::sim::SimPorts ports;
    zorm::sim::SimLine line = ports.Add(1);
    line.Converter().SetFault(Fault::Silence);
    zorm::Drv232 link(context, ports.Opener());
    const auto silentRead = [&] {
        line.ClearEvents();
        EXPECT_EQ(link.ReadDeviceType(), zorm::DeviceTypeError);
        const auto read =
            std::find_if(line.Events().begin(), line.Events().end(),
                         [](const LineEvent& e) { return e.Kind == EventKind::Read; });
        return read == line.Events().end() ? zorm::sim::VirtualTime{} : read->Duration;
    };

    ASSERT_TRUE(link.OpenPort(1));
    EXPECT_EQ(silentRead(), 1060ms);
    const zorm::CommTimeouts scan{20, 0, 100, 20, 20};
    link.SetPortTimeouts(scan);
    EXPECT_EQ(silentRead(), 1060ms); // the open port keeps its time-outs
    link.ClosePort();
    ASSERT_TRUE(link.OpenPort(1));
    EXPECT_EQ(silentRead(), 100ms);
    ASSERT_TRUE(line.Timeouts());
    EXPECT_EQ(line.Timeouts()->ReadTotalConstant, 100u);
    EXPECT_EQ(line.Timeouts()->ReadTotalMultiplier, 0u);
}

} // namespace
