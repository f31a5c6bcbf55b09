// The POSIX serial backend over real pseudo-terminals. The test plays the
// converter on the master side of a pty that is linked as COMn into a scratch
// directory; the machine's own /dev/ttyS* devices are never opened.
#include "data/context.h"
#include "link/drv232.h"
#include "link/port_names.h"
#include "link/posix_serial_port.h"
#include "link/win32_serial_port.h"
#include "sim/pty_process.h"
#include "tests/support/fake_terminal_driver.h"
#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace zorm {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// Upper-bound slack for a loaded machine; lower bounds are exact.
constexpr auto Slack = 250ms;

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// A pty whose master side the test drives as the converter. The test keeps a
// descriptor of the terminal side too, as zorm5816-sim does, and uses it to
// look at (and spoil) the line settings.
class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            throw std::runtime_error("no pty");
        }
        terminalPath_ = ptsname(master_);
        terminal_ = open(terminalPath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        tcgetattr(terminal_, &tio);
        cfmakeraw(&tio);
        tcsetattr(terminal_, TCSANOW, &tio);
    }
    ~Pty() {
        CloseMaster();
        close(terminal_);
    }

    void LinkAs(const fs::path& link) const { fs::create_symlink(terminalPath_, link); }
    const std::string& TerminalPath() const { return terminalPath_; }
    int Terminal() const { return terminal_; }

    void Send(const Bytes& bytes) const {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Collects what the port sent until `count` bytes are in or `wait` passed.
    Bytes Collect(std::size_t count, std::chrono::milliseconds wait) const {
        Bytes got;
        const auto end = Clock::now() + wait;
        while (got.size() < count && Clock::now() < end) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 5) > 0) {
                std::array<std::uint8_t, 256> chunk{};
                const ssize_t n = read(master_, chunk.data(), chunk.size());
                if (n > 0) {
                    got.insert(got.end(), chunk.begin(), chunk.begin() + n);
                }
            }
        }
        return got;
    }
    void CloseMaster() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

private:
    int master_ = -1;
    int terminal_ = -1;
    std::string terminalPath_;
};

// A port opened and configured the way Drv232::OpenPort does it.
std::unique_ptr<PosixSerialPort> OpenConfigured(const fs::path& path) {
    auto port = PosixSerialPort::Open(path);
    if (port &&
        (!port->SetLineFormat(LineFormatFor(BaudSelect)) || !port->SetTimeouts(CommTimeouts{}))) {
        return nullptr;
    }
    return port;
}

class PosixPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        pty_.LinkAs(dir_.Path() / "COM1");
        port_ = OpenConfigured(PortDevicePath(1, dir_.Path()));
        ASSERT_NE(port_, nullptr);
    }

    test::ScratchDirectory dir_;
    Pty pty_;
    std::unique_ptr<PosixSerialPort> port_;
};

// --- reads and their time-outs -------------------------------------------

TEST_F(PosixPortTest, SilentConverterEndsAnEightByteReadAtTheTotalTimeout) {
    std::array<std::uint8_t, 8> reply{};
    std::size_t received = 99;
    const auto start = Clock::now();
    EXPECT_TRUE(port_->Read(reply, received));
    const double ms = MsSince(start);
    EXPECT_EQ(received, 0u);
    EXPECT_GE(ms, 1080.0); // 1000 + 8 * 10 ms, never less
    EXPECT_LT(ms, 1080.0 + Slack.count());
}

TEST_F(PosixPortTest, ReplyStoppingAfterThreeBytesEndsOneIntervalLater) {
    const Bytes partial{'>', '1', '2'};
    Clock::time_point sentAt;
    std::jthread converter([&] {
        std::this_thread::sleep_for(100ms);
        sentAt = Clock::now();
        pty_.Send(partial);
    });
    std::array<std::uint8_t, 8> reply{};
    std::size_t received = 0;
    EXPECT_TRUE(port_->Read(reply, received));
    const auto returned = Clock::now();
    converter.join();
    ASSERT_EQ(received, 3u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 3), partial);
    const double afterThird = std::chrono::duration<double, std::milli>(returned - sentAt).count();
    EXPECT_GE(afterThird, 20.0);
    EXPECT_LT(afterThird, 20.0 + Slack.count());
}

TEST_F(PosixPortTest, IntervalIsMeasuredBetweenBytesNotFromTheFirst) {
    // Five bytes 5 ms apart take longer than one interval in all, yet no gap
    // between two of them reaches it, so the read collects them all and ends
    // as soon as the last is in.
    std::jthread converter([&] {
        for (std::uint8_t b = 1; b <= 5; ++b) {
            pty_.Send({b});
            std::this_thread::sleep_for(5ms);
        }
    });
    std::array<std::uint8_t, 5> reply{};
    std::size_t received = 0;
    EXPECT_TRUE(port_->Read(reply, received));
    converter.join();
    EXPECT_EQ(received, 5u);
    EXPECT_EQ(reply, (std::array<std::uint8_t, 5>{1, 2, 3, 4, 5}));
}

TEST_F(PosixPortTest, CompleteReplyEndsTheReadAtOnce) {
    const Bytes full{'>', '1', '0', '1', '2', '3', '4', 13};
    pty_.Send(full);
    std::this_thread::sleep_for(10ms);
    std::array<std::uint8_t, 8> reply{};
    std::size_t received = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(port_->Read(reply, received));
    EXPECT_LT(MsSince(start), 20.0); // neither an interval nor the total waited
    EXPECT_EQ(Bytes(reply.begin(), reply.end()), full);
}

TEST_F(PosixPortTest, TotalTimeoutEndsATrickleThatNeverPausesForAnInterval) {
    CommTimeouts timeouts;
    timeouts.ReadInterval = 50;
    timeouts.ReadTotalConstant = 100;
    timeouts.ReadTotalMultiplier = 0;
    ASSERT_TRUE(port_->SetTimeouts(timeouts));
    std::atomic<bool> done = false;
    std::jthread converter([&] {
        while (!done) {
            pty_.Send({'x'});
            std::this_thread::sleep_for(10ms);
        }
    });
    std::array<std::uint8_t, 64> reply{};
    std::size_t received = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(port_->Read(reply, received));
    const double ms = MsSince(start);
    done = true;
    EXPECT_GE(ms, 100.0);
    EXPECT_LT(ms, 100.0 + Slack.count());
    EXPECT_GT(received, 0u);
    EXPECT_LT(received, reply.size());
}

TEST_F(PosixPortTest, HugeTimeoutsSaturateInsteadOfOverflowing) {
    CommTimeouts timeouts;
    timeouts.ReadTotalConstant = 0xFFFFFFFF;
    timeouts.ReadTotalMultiplier = 0xFFFFFFFF;
    timeouts.WriteTotalConstant = 0xFFFFFFFF;
    timeouts.WriteTotalMultiplier = 0xFFFFFFFF;
    ASSERT_TRUE(port_->SetTimeouts(timeouts));
    // 4096 bytes times 2^32 - 1 ms is beyond 64-bit nanoseconds; the read
    // still waits for the reply and ends one interval after its last byte.
    std::jthread converter([&] {
        std::this_thread::sleep_for(30ms);
        pty_.Send({'>', '1', '2'});
    });
    std::vector<std::uint8_t> reply(4096);
    std::size_t received = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(port_->Read(reply, received));
    const double ms = MsSince(start);
    converter.join();
    EXPECT_EQ(received, 3u);
    EXPECT_GE(ms, 30.0 + 20.0);
    EXPECT_LT(ms, 50.0 + Slack.count());
    const Bytes frame{'%', '1', 13};
    EXPECT_TRUE(port_->Write(frame));
    EXPECT_EQ(pty_.Collect(frame.size(), 500ms), frame);
}

TEST_F(PosixPortTest, DiscardDropsWhatArrivedEarlier) {
    pty_.Send({'>', 'o', 'l', 'd'});
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(port_->DiscardInput());
    pty_.Send({'>', 'n'});
    CommTimeouts quick;
    quick.ReadTotalConstant = 100;
    ASSERT_TRUE(port_->SetTimeouts(quick));
    std::array<std::uint8_t, 8> reply{};
    std::size_t received = 0;
    EXPECT_TRUE(port_->Read(reply, received));
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + received), (Bytes{'>', 'n'}));
}

// --- a device that goes away ---------------------------------------------

TEST_F(PosixPortTest, VanishedDeviceIsAReadErrorNotATimeout) {
    std::jthread unplug([&] {
        std::this_thread::sleep_for(100ms);
        pty_.CloseMaster();
    });
    std::array<std::uint8_t, 8> reply{};
    std::size_t received = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(port_->Read(reply, received));
    EXPECT_LT(MsSince(start), 100.0 + Slack.count()); // well before the 1080 ms
    EXPECT_EQ(received, 0u);
    unplug.join();
    EXPECT_FALSE(port_->Write(Bytes{'%', '1', 13}));
}

// --- writes ------------------------------------------------------------

TEST_F(PosixPortTest, WriteDeliversTheFrame) {
    const Bytes frame{'*', '1', '2', 13};
    EXPECT_TRUE(port_->Write(frame));
    EXPECT_EQ(pty_.Collect(frame.size(), 500ms), frame);
}

TEST_F(PosixPortTest, WriteThatCannotGetOutFailsWithinItsBound) {
    // Nobody reads the master, so the terminal's buffer fills and the rest
    // cannot leave; the write must give up at its time-out, not hang.
    CommTimeouts timeouts;
    timeouts.WriteTotalConstant = 50;
    timeouts.WriteTotalMultiplier = 0;
    ASSERT_TRUE(port_->SetTimeouts(timeouts));
    const Bytes flood(1 << 20, 0x55);
    const auto start = Clock::now();
    EXPECT_FALSE(port_->Write(flood));
    const double ms = MsSince(start);
    EXPECT_GE(ms, 50.0);
    EXPECT_LT(ms, 50.0 + Slack.count());
}

// --- line settings -----------------------------------------------------

TEST(PosixPortLine, HostileSettingsAreClearedAndEveryByteValuePassesBothWays) {
    test::ScratchDirectory dir;
    Pty pty;
    pty.LinkAs(dir.Path() / "COM2");
    // What another program might have left on the line. (The pty driver
    // itself drops PARENB and CS7; the other flags stay until we clear them.)
    termios hostile{};
    ASSERT_EQ(tcgetattr(pty.Terminal(), &hostile), 0);
    hostile.c_iflag |= IXON | IXOFF | ICRNL | INLCR | ISTRIP | INPCK | PARMRK;
    hostile.c_oflag |= OPOST | ONLCR;
    hostile.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    hostile.c_cflag |= CRTSCTS | PARENB | PARODD | CMSPAR | CSTOPB;
    hostile.c_cflag = (hostile.c_cflag & ~CSIZE) | CS7;
    cfsetispeed(&hostile, B1200);
    cfsetospeed(&hostile, B1200);
    ASSERT_EQ(tcsetattr(pty.Terminal(), TCSANOW, &hostile), 0);

    auto port = OpenConfigured(PortDevicePath(2, dir.Path()));
    ASSERT_NE(port, nullptr);

    termios now{};
    ASSERT_EQ(tcgetattr(pty.Terminal(), &now), 0);
    EXPECT_EQ(now.c_iflag &
                  (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK | PARMRK | BRKINT),
              0u);
    EXPECT_EQ(now.c_oflag & OPOST, 0u);
    EXPECT_EQ(now.c_lflag & (ICANON | ECHO | ECHOE | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(now.c_cflag & (CRTSCTS | PARENB | PARODD | CMSPAR | CSTOPB), 0u);
    EXPECT_EQ(now.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(now.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(cfgetospeed(&now), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetispeed(&now), static_cast<speed_t>(B9600));
    EXPECT_EQ(now.c_cc[VMIN], 0);
    EXPECT_EQ(now.c_cc[VTIME], 0);

    // NUL, CR, XON, XOFF and 0xFF: each of them is eaten or changed by one of
    // the settings above.
    const Bytes tricky{0x00, 0x0D, 0x11, 0x13, 0xFF};
    EXPECT_TRUE(port->Write(tricky));
    EXPECT_EQ(pty.Collect(tricky.size() + 1, 200ms), tricky); // no CR LF, nothing extra

    pty.Send(tricky);
    std::array<std::uint8_t, 5> in{};
    std::size_t received = 0;
    EXPECT_TRUE(port->Read(in, received));
    EXPECT_EQ(Bytes(in.begin(), in.begin() + received), tricky);
    EXPECT_TRUE(pty.Collect(1, 50ms).empty()); // no echo back to the converter
}

TEST(PosixPortLine, FastFormatIs115200WithEvenParity) {
    test::ScratchDirectory dir;
    Pty pty;
    pty.LinkAs(dir.Path() / "COM1");
    auto port = PosixSerialPort::Open(PortDevicePath(1, dir.Path()));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetLineFormat(LineFormatFor(0)));
    termios now{};
    ASSERT_EQ(tcgetattr(pty.Terminal(), &now), 0);
    EXPECT_EQ(cfgetospeed(&now), static_cast<speed_t>(B115200));
    // The parity bit itself cannot be seen here: a pty always clears PARENB.
    EXPECT_EQ(now.c_cflag & (PARODD | CSTOPB), 0u);
    EXPECT_EQ(now.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(port->SetLineFormat(LineFormat{12345, Parity::None})); // no such rate
}

TEST_F(PosixPortTest, RtsOnALineWithoutModemSignalsCountsAsSwitched) {
    // A pty has no modem-control lines; its driver answers ENOTTY.
    EXPECT_TRUE(port_->SetRts(true));
    EXPECT_TRUE(port_->SetRts(false));
}

// --- the line turn with the answers of real drivers ----------------------

// A port whose driver calls are answered as `model` says, driven as an
// exchange drives it once RTS is at transmit: the frame, the 20 ms guard, RTS
// to receive. Per exchange, in ms: the time from the driver taking the frame
// to RTS at receive, and the part of it that the port itself held the line
// beyond the guard (until its write returned, and from the RTS call to the
// switch), which no late wake-up of a loaded machine can lengthen.
struct Turn {
    double TotalMs = 0;
    double PortMs = 0;
    // From the call of the write (where its time-out starts) to the switch.
    double SinceWriteCallMs = 0;
};

std::vector<Turn> TurnsThrough(const test::DriverModel& model, int exchanges) {
    using Ms = std::chrono::duration<double, std::milli>;
    Pty pty;
    const auto driver = std::make_shared<test::FakeTerminalDriver>(model);
    auto port = PosixSerialPort::Open(pty.TerminalPath(), driver);
    std::vector<Turn> turns;
    if (port == nullptr || !port->SetLineFormat(LineFormatFor(BaudSelect)) ||
        !port->SetTimeouts(CommTimeouts{})) {
        ADD_FAILURE() << "cannot open " << pty.TerminalPath();
        return turns;
    }
    const Bytes frame{'*', '1', '1', 13};
    for (int i = 0; i < exchanges; ++i) {
        EXPECT_TRUE(port->SetRts(true));
        const auto calling = Clock::now();
        EXPECT_TRUE(port->Write(frame));
        const auto written = Clock::now();
        port->Sleep(std::chrono::milliseconds{LineDelayMs});
        const auto turning = Clock::now();
        EXPECT_TRUE(port->SetRts(false));
        const auto taken = driver->WriteReturns().back();
        const auto switched = driver->RtsChanges().back().At;
        turns.push_back({Ms(switched - taken).count(),
                         Ms(written - taken).count() + Ms(switched - turning).count(),
                         Ms(switched - calling).count()});
    }
    return turns;
}

double Median(const std::vector<Turn>& turns, double Turn::*part) {
    std::vector<double> values;
    for (const Turn& turn : turns) {
        values.push_back(turn.*part);
    }
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

constexpr double FrameMs = 4 * 10 * 1000.0 / 9600; // the measurement request on the wire

TEST(LineTurn, ComesTwentyMsAfterTheWriteReturnedWhateverTheDriverCounts) {
    test::DriverModel cdcFullSpeed;
    cdcFullSpeed.Kind = test::DriverKind::CdcAcm;
    test::DriverModel cdcHighSpeed = cdcFullSpeed;
    cdcHighSpeed.BusyBytes = 10240;
    test::DriverModel ftdi;
    ftdi.Kind = test::DriverKind::Ftdi;
    const test::DriverModel uart; // 16550
    for (const auto& [name, model] :
         {std::pair{"cdc-acm 1280", cdcFullSpeed}, std::pair{"cdc-acm 10240", cdcHighSpeed},
          std::pair{"ftdi", ftdi}, std::pair{"16550", uart}}) {
        SCOPED_TRACE(name);
        const std::vector<Turn> turns = TurnsThrough(model, 9);
        ASSERT_EQ(turns.size(), 9u);
        for (const Turn& turn : turns) {
            EXPECT_GE(turn.TotalMs, 20.0); // never before the guard is over
        }
        // Waiting for the frame to drain before the guard began would hold
        // the line at least the frame's own line time longer (a cdc-acm
        // buffer count, until the write's deadline).
        EXPECT_LT(Median(turns, &Turn::PortMs), FrameMs / 2);
    }
}

TEST(LineTurn, WaitsForAFrameStillOnTheLineAsLongAsItsWriteTimeoutAllows) {
    // 8 ms per character: the request is still going out 32 ms after the
    // write returned, and the line turns as soon as it has left, not a
    // guard later.
    test::DriverModel slow;
    slow.Character = 8ms;
    const std::vector<Turn> turns = TurnsThrough(slow, 5);
    for (const Turn& turn : turns) {
        EXPECT_GE(turn.TotalMs, 32.0);
    }
    EXPECT_LT(Median(turns, &Turn::TotalMs), 32.0 + 12.0);

    // A frame that would take 4 s holds the line no longer than the write
    // time-out of 20 + 4 * 20 ms, counted from the call of the write (on a
    // loaded machine the write itself may return some milliseconds later).
    test::DriverModel stalled;
    stalled.Character = 1s;
    const std::vector<Turn> stuck = TurnsThrough(stalled, 1);
    ASSERT_EQ(stuck.size(), 1u);
    EXPECT_GE(stuck[0].SinceWriteCallMs, 99.0);
    EXPECT_LT(stuck[0].TotalMs, 100.0 + Slack.count());
}

TEST(LineTurn, DriversWithoutModemLinesSwitchAsDoneOtherRtsErrorsFail) {
    const struct {
        int error;
        bool switched;
    } table[] = {{ENOTTY, true}, {EINVAL, true}, {EOPNOTSUPP, true}, {EIO, false}, {EPERM, false}};
    for (const auto& row : table) {
        SCOPED_TRACE(row.error);
        Pty pty;
        test::DriverModel model;
        model.RtsErrno = row.error;
        auto port = PosixSerialPort::Open(pty.TerminalPath(),
                                          std::make_shared<test::FakeTerminalDriver>(model));
        ASSERT_NE(port, nullptr);
        EXPECT_EQ(port->SetRts(true), row.switched);
        EXPECT_EQ(port->SetRts(false), row.switched);
    }
}

// --- exclusive access and closing --------------------------------------

TEST(PosixPortOpen, PortIsExclusiveUntilClosed) {
    test::ScratchDirectory dir;
    Pty pty;
    pty.LinkAs(dir.Path() / "COM4");
    const fs::path path = PortDevicePath(4, dir.Path());
    auto first = PosixSerialPort::Open(path);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(PosixSerialPort::Open(path), nullptr);
    EXPECT_EQ(PosixSerialPort::Open(pty.TerminalPath()), nullptr); // same device, other name
    int exclusive = 0;
    ASSERT_EQ(ioctl(pty.Terminal(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);

    EXPECT_TRUE(first->Close());
    // The terminal stays open elsewhere (here: the test's descriptor), so
    // the exclusive flag must not outlive our port.
    ASSERT_EQ(ioctl(pty.Terminal(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    auto second = PosixSerialPort::Open(path);
    ASSERT_NE(second, nullptr);
    second.reset(); // the destructor releases the port as well
    EXPECT_NE(PosixSerialPort::Open(path), nullptr);
}

TEST(PosixPortOpen, OnlyTerminalsOpen) {
    test::ScratchDirectory dir;
    EXPECT_EQ(PosixSerialPort::Open(dir.Path() / "COM1"), nullptr); // missing
    std::ofstream(dir.Path() / "COM2") << "not a port";
    EXPECT_EQ(PosixSerialPort::Open(dir.Path() / "COM2"), nullptr);
    EXPECT_EQ(PosixSerialPort::Open(fs::path{}), nullptr);
}

TEST_F(PosixPortTest, ClosedPortRefusesEverything) {
    ASSERT_TRUE(port_->Close());
    std::array<std::uint8_t, 4> buffer{};
    std::size_t received = 7;
    EXPECT_FALSE(port_->Close());
    EXPECT_FALSE(port_->Write(Bytes{'%'}));
    EXPECT_FALSE(port_->Read(buffer, received));
    EXPECT_EQ(received, 0u);
    EXPECT_FALSE(port_->SetRts(true));
    EXPECT_FALSE(port_->DiscardInput());
    EXPECT_FALSE(port_->SetLineFormat(LineFormatFor(BaudSelect)));
    EXPECT_FALSE(port_->SetTimeouts(CommTimeouts{}));
}

// --- port names --------------------------------------------------------

TEST(PortNames, ComEntryInTheDirectoryWinsOverTheSerialDevice) {
    test::ScratchDirectory dir;
    fs::create_symlink("/dev/null", dir.Path() / "COM3");
    fs::create_symlink(dir.Path() / "gone", dir.Path() / "COM12"); // dangling
    EXPECT_EQ(PortDevicePath(3, dir.Path()), dir.Path() / "COM3");
    EXPECT_EQ(PortDevicePath(12, dir.Path()), dir.Path() / "COM12");
    // No entry: the numbered devices decide (port_names_test).
    EXPECT_EQ(PortDevicePath(1, dir.Path()), fs::path{});
    EXPECT_EQ(PortDevicePath(29, dir.Path()), fs::path{});
    EXPECT_EQ(PortDevicePath(0, dir.Path()), fs::path{});

    const test::WorkingDirectory inside(dir.Path());
    EXPECT_EQ(PortDevicePath(3, {}), fs::path("COM3"));
    EXPECT_EQ(PortDevicePath(4, {}), fs::path{});
}

TEST(PortNames, SystemOpenerUsesTheEntryInTheWorkingDirectory) {
    test::ScratchDirectory dir;
    Pty pty;
    pty.LinkAs(dir.Path() / "COM7");
    const test::WorkingDirectory inside(dir.Path());
    const PortOpener opener = SystemPortOpener();
    auto port = opener(7);
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->Write(Bytes{'%', '1', 13}));
    EXPECT_EQ(pty.Collect(3, 500ms), (Bytes{'%', '1', 13}));
}

TEST(PortNames, Win32NamesUseTheDeviceNamespaceFromTen) {
    EXPECT_EQ(Win32PortName(1), "COM1");
    EXPECT_EQ(Win32PortName(9), "COM9");
    EXPECT_EQ(Win32PortName(10), "\\\\.\\COM10");
    EXPECT_EQ(Win32PortName(29), "\\\\.\\COM29");
    EXPECT_EQ(Win32PortName(255), "\\\\.\\COM255");
}

// --- end to end with the simulator program -------------------------------

TEST(SimulatorEndToEnd, CommandsReachTheSimulatorThroughTheSystemOpener) {
    test::ScratchDirectory dir;
    sim::SimulatorProcess sim(ZORM_SIM_PROGRAM, {"--dir", dir.Path().string(), "--port", "1",
                                                 "--address", "3", "--raw", "12345,23456,34567"});
    ASSERT_EQ(sim.ReadyLine(), (dir.Path() / "COM1").string());

    const test::WorkingDirectory inside(dir.Path());
    Context context;
    context.DeviceSettings.DeviceAddress = 3;
    context.DeviceSettings.RtsOnTransmit = 1;
    Drv232 link(context, SystemPortOpener());
    ASSERT_TRUE(link.OpenPort(1));
    EXPECT_EQ(link.ReadDeviceType(), "ZORM5816A");
    ASSERT_TRUE(link.MeasureChannel(2));
    EXPECT_EQ(context.LastReading, 23456);

    Drv232 other(context, SystemPortOpener());
    EXPECT_FALSE(other.OpenPort(1)) << "the port is held by the first link";
    // The simulator keeps its side open, so the port can be closed and
    // opened again, as the connection search does.
    EXPECT_TRUE(link.ClosePort());
    ASSERT_TRUE(other.OpenPort(1));
    ASSERT_TRUE(other.MeasureChannel(3));
    EXPECT_EQ(context.LastReading, 34567);
    EXPECT_TRUE(other.ClosePort());

    const int status = sim.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.Path() / "COM1"))) << "link left behind";
}

TEST(SimulatorEndToEnd, PacedReplyTakesTheLineTime) {
    test::ScratchDirectory dir;
    sim::SimulatorProcess sim(ZORM_SIM_PROGRAM,
                              {"--dir", dir.Path().string(), "--port", "2", "--pace"});
    ASSERT_FALSE(sim.ReadyLine().empty());
    const test::WorkingDirectory inside(dir.Path());
    Context context;
    context.DeviceSettings.DeviceAddress = 1;
    Drv232 link(context, SystemPortOpener());
    ASSERT_TRUE(link.OpenPort(2));
    const auto start = Clock::now();
    ASSERT_TRUE(link.MeasureChannel(1));
    const double ms = MsSince(start);
    EXPECT_EQ(context.LastReading, 21500);
    // 20 ms guard, 21 ms turnaround, 8 bytes of 10 bits at 9600 baud.
    EXPECT_GE(ms, 20.0 + 21.0 + 8 * 10 * 1000.0 / 9600);
    EXPECT_LT(ms, 50.0 + Slack.count());
}

TEST(SimulatorEndToEnd, SimulatorRefusesBadArgumentsAndTakenNames) {
    test::ScratchDirectory dir;
    sim::SimulatorProcess badRaw(ZORM_SIM_PROGRAM,
                                 {"--dir", dir.Path().string(), "--port", "1", "--raw", "1,2"});
    int status = badRaw.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    sim::SimulatorProcess noPort(ZORM_SIM_PROGRAM, {"--dir", dir.Path().string()});
    status = noPort.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_TRUE(fs::is_empty(dir.Path()));

    std::ofstream(dir.Path() / "COM5") << "someone else's";
    sim::SimulatorProcess taken(ZORM_SIM_PROGRAM, {"--dir", dir.Path().string(), "--port", "5"});
    status = taken.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_TRUE(fs::is_regular_file(dir.Path() / "COM5")); // left alone
}

// Several converters on one line: each answers its own address with its own
// type and nothing else; address 0 gets no answer; the frame log has every
// frame once and marks the ones that were answered.
TEST(SimulatorEndToEnd, SeveralConvertersAnswerOnlyTheirOwnAddresses) {
    test::ScratchDirectory dir;
    const fs::path log = dir.Path() / "frames.log";
    sim::SimulatorProcess sim(ZORM_SIM_PROGRAM,
                              {"--dir", dir.Path().string(), "--port", "1", "--address", "2,5",
                               "--type", "AAAA,BBBB", "--raw", "1,2,3", "--log", log.string()});
    ASSERT_FALSE(sim.ReadyLine().empty());
    {
        const test::WorkingDirectory inside(dir.Path());
        Context context;
        Drv232 link(context, SystemPortOpener());
        link.SetPortTimeouts({20, 0, 100, 20, 20}); // silent addresses cost 0.1 s, not 1 s
        ASSERT_TRUE(link.OpenPort(1));
        for (std::uint8_t address = 0; address <= 10; ++address) {
            SCOPED_TRACE(static_cast<int>(address));
            context.DeviceSettings.DeviceAddress = address;
            EXPECT_EQ(link.ReadDeviceType(), address == 2   ? "ZORMAAAAA"
                                             : address == 5 ? "ZORMBBBBA"
                                                            : DeviceTypeError);
        }
        EXPECT_FALSE(link.MeasureChannel(3)); // at address 10: nobody
        context.DeviceSettings.DeviceAddress = 5;
        ASSERT_TRUE(link.MeasureChannel(3));
        EXPECT_EQ(context.LastReading, 3);
    }
    sim.Stop();
    std::ifstream in(log);
    std::vector<std::string> answered;
    int frames = 0;
    for (std::string line; std::getline(in, line); ++frames) {
        if (line.ends_with("-> reply")) {
            answered.push_back(line.substr(line.find(':') + 2));
        }
    }
    EXPECT_EQ(frames, 13);
    EXPECT_EQ(answered, (std::vector<std::string>{"25 32 0d -> reply", "25 35 0d -> reply",
                                                  "2a 35 33 0d -> reply"}));

    for (const char* wrong : {"1,0", "3,3", "1,x"}) {
        sim::SimulatorProcess refused(
            ZORM_SIM_PROGRAM, {"--dir", dir.Path().string(), "--port", "2", "--address", wrong});
        const int status = refused.Wait();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << wrong;
    }
    sim::SimulatorProcess types(ZORM_SIM_PROGRAM, {"--dir", dir.Path().string(), "--port", "2",
                                                   "--address", "1,2", "--type", "AAAA,BBBB,CCCC"});
    const int status = types.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
}

} // namespace
} // namespace zorm
