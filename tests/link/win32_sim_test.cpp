// The Win32 port under Wine against zorm5816-sim. Before these tests ctest
// starts one simulator per port and links it into the Wine prefix as comN
// (wine_sims.sh; the ports and their faults are set in CMakeLists.txt):
//   ZORM_SIM_PORT        answers at once, address 1, readings 21500, 22500, 23500
//   ZORM_SILENT_SIM_PORT never answers
//   ZORM_SHORT_SIM_PORT  sends the first three bytes of each reply only
//   ZORM_LATE_SIM_PORT   sends each reply 1.5 s late, after the read gave up
// A pseudo-terminal has no modem-control lines, so every RTS switch meets
// ERROR_NOT_SUPPORTED here. Exclusive access cannot be checked: Wine lets a
// second CreateFileA of a COM port through, share mode 0 or not.
#include "data/context.h"
#include "link/drv232.h"
#include "link/win32_serial_port.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace zorm {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// Upper-bound slack for a loaded machine; lower bounds are exact.
constexpr double SlackMs = 250.0;

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Port n opened by the system opener and configured as Drv232::OpenPort does.
std::unique_ptr<SerialPort> OpenConfigured(std::uint8_t n) {
    auto port = SystemPortOpener()(n);
    if (port &&
        (!port->SetLineFormat(LineFormatFor(BaudSelect)) || !port->SetTimeouts(CommTimeouts{}))) {
        return nullptr;
    }
    return port;
}

// Drops what waits, sends a measurement of channel 1 to address 1 and reads
// up to eight bytes.
Bytes MeasureOnce(SerialPort& port, double& readMs) {
    const Bytes frame{'*', '1', '1', 13};
    EXPECT_TRUE(port.DiscardInput());
    EXPECT_TRUE(port.Write(frame));
    std::array<std::uint8_t, 8> reply{};
    std::size_t received = 99;
    const auto start = Clock::now();
    EXPECT_TRUE(port.Read(reply, received));
    readMs = MsSince(start);
    return Bytes(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(received));
}

class Win32Sim : public ::testing::Test {
protected:
    Win32Sim() {
        context.DeviceSettings.DeviceAddress = 1;
        context.DeviceSettings.RtsOnTransmit = 1;
    }

    Context context;
    Drv232 link{context, SystemPortOpener()};
};

TEST_F(Win32Sim, TheFiveCommandsGoThroughTheWin32Port) {
    ASSERT_TRUE(link.OpenPort(ZORM_SIM_PORT));
    EXPECT_EQ(link.ReadDeviceType(), "ZORM5816A");

    for (const std::uint8_t filter : {0, 1}) {
        context.DeviceSettings.FilterOn = filter;
        for (std::uint8_t channel = 1; channel <= 3; ++channel) {
            SCOPED_TRACE("filter " + std::to_string(filter) + ", channel " +
                         std::to_string(channel));
            context.LastReading = -1;
            ASSERT_TRUE(link.MeasureChannel(channel));
            EXPECT_EQ(context.LastReading, 20500 + 1000 * channel);
        }
    }

    // CR and XOFF in the data: a line left cooked or with XON/XOFF on would
    // change or swallow them.
    context.AdcRegBytes = {0x0D, 0x13, 0xEE};
    ASSERT_TRUE(link.WriteAdcRegister(0)); // mode register, two bytes
    context.AdcRegBytes = {};
    ASSERT_TRUE(link.ReadAdcRegister(2));
    EXPECT_EQ(context.AdcRegBytes, (AdcRegBytes{0x0D, 0x13, 0x00}));
    // The data register holds the last reading, 23500 = 0x5BCC.
    ASSERT_TRUE(link.MeasureChannel(3));
    ASSERT_TRUE(link.ReadAdcRegister(1));
    EXPECT_EQ(context.AdcRegBytes, (AdcRegBytes{0xCC, 0x5B, 0x00}));

    // Eighteen zero words and a count of zero: 39 bytes, 37 of them NUL.
    std::string zeros = "Vysledek: ";
    for (int word = 0; word < 18; ++word) {
        zeros += "0   ";
    }
    EXPECT_EQ(link.ReadDiagnostics(0), zeros + "   N:0");
    EXPECT_TRUE(link.ClosePort());
}

TEST_F(Win32Sim, PortWithoutAnRtsLineStillSwitchesDirection) {
    const HANDLE handle =
        CreateFileA(Win32PortName(ZORM_SIM_PORT).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(EscapeCommFunction(handle, SETRTS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    const auto port = MakeWin32SerialPort(handle);
    EXPECT_TRUE(port->SetRts(true));
    EXPECT_TRUE(port->SetRts(false));
}

TEST_F(Win32Sim, SilentConverterEndsTheReadAtTheTotalTimeoutNeverEarlier) {
    const auto port = OpenConfigured(ZORM_SILENT_SIM_PORT);
    ASSERT_NE(port, nullptr);
    double ms = 0;
    EXPECT_TRUE(MeasureOnce(*port, ms).empty());
    EXPECT_GE(ms, 1080.0); // 1000 + 8 * 10 ms
    EXPECT_LT(ms, 1080.0 + SlackMs);

    port->Close();
    ASSERT_TRUE(link.OpenPort(ZORM_SILENT_SIM_PORT));
    context.LastReading = 777;
    const auto start = Clock::now();
    EXPECT_FALSE(link.MeasureChannel(1));
    EXPECT_GE(MsSince(start), 20 + 20 + 1080.0); // two guards and the read
    EXPECT_EQ(context.LastReading, 777);
    EXPECT_EQ(link.ReadDeviceType(), DeviceTypeError);
}

TEST_F(Win32Sim, ShortReplyEndsTheReadOneIntervalAfterItsLastByte) {
    const auto port = OpenConfigured(ZORM_SHORT_SIM_PORT);
    ASSERT_NE(port, nullptr);
    double ms = 0;
    EXPECT_EQ(MeasureOnce(*port, ms), (Bytes{'>', '1', '2'}));
    EXPECT_GE(ms, 20.0);
    EXPECT_LT(ms, 20.0 + SlackMs); // far from the 1080 ms of the total time-out
}

TEST_F(Win32Sim, LateReplyIsNotTakenForTheNextOne) {
    // First, that the late reply does come and waits to be read.
    {
        const auto port = OpenConfigured(ZORM_LATE_SIM_PORT);
        ASSERT_NE(port, nullptr);
        double ms = 0;
        EXPECT_TRUE(MeasureOnce(*port, ms).empty());
        std::this_thread::sleep_for(700ms); // the reply comes 1.5 s after the frame
        std::array<std::uint8_t, 8> reply{};
        std::size_t received = 0;
        EXPECT_TRUE(port->Read(reply, received));
        EXPECT_EQ(Bytes(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(received)),
                  (Bytes{'>', '1', '2', '1', '5', '0', '0', 13}));
    }
    // Then, that a command drops it before it sends its own frame.
    ASSERT_TRUE(link.OpenPort(ZORM_LATE_SIM_PORT));
    context.LastReading = 777;
    EXPECT_FALSE(link.MeasureChannel(1));
    std::this_thread::sleep_for(700ms);
    const auto start = Clock::now();
    EXPECT_FALSE(link.MeasureChannel(1)) << "the late reply to the first frame was read";
    EXPECT_GE(MsSince(start), 20 + 20 + 1080.0); // it waited for a reply of its own
    EXPECT_EQ(context.LastReading, 777);
}

} // namespace
} // namespace zorm
