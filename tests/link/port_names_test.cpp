// Port numbers on Linux over a fake machine (sysfs and /dev in a scratch
// folder) and a scratch data folder: which devices count, the numbers they
// get and keep, Porty.txt when it is damaged or read-only, and what the
// opener of the program opens. No real device is ever opened.
#include "link/port_names.h"
#include "tests/support/fake_machine.h"
#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zorm {
namespace {

namespace fs = std::filesystem;
using test::FakeMachine;

std::string ReadFile(const fs::path& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
}

// The lines of Porty.txt that are not comments.
std::vector<std::string> NumberLines() {
    std::istringstream text(ReadFile(PortNumbersFileName));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line[0] != '#') {
            lines.push_back(line);
        }
    }
    return lines;
}

std::vector<std::string> Names(const std::vector<SerialDevice>& devices) {
    std::vector<std::string> names;
    for (const SerialDevice& device : devices) {
        names.push_back(device.Name);
    }
    return names;
}

const std::string FtdiById = "serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0";

// A desktop with everything that must not count next to what must: absent
// and console UARTs, virtual consoles, two UARTs, two adapters (one without a
// serial number, so without a by-id link) and a CDC-ACM board, made in an
// order that is no order.
void BuildDesktop(FakeMachine& machine) {
    machine.AddUsbSerial("ttyUSB1", "3", "");
    machine.AddUart("ttyS10", 4);
    machine.AddVirtual("tty1");
    machine.AddUart("ttyS1", 0);
    machine.AddAcm("ttyACM0", "4");
    machine.AddUart("ttyS2", 4, /*console=*/true);
    machine.AddVirtual("ptmx");
    machine.AddUsbSerial("ttyUSB0", "2", "A10K1234");
    machine.AddUart("ttyS3", 4);
    machine.AddVirtual("tty0");
    machine.AddUart("ttyS0", 4);
}

TEST(SerialDevices, OnlyHardwareCountsInAStableOrderWithWhatTheSystemKnows) {
    FakeMachine machine;
    BuildDesktop(machine);
    const std::vector<SerialDevice> devices = ListSerialDevices(machine.Roots());

    EXPECT_EQ(Names(devices), (std::vector<std::string>{"ttyS0", "ttyS3", "ttyS10", "ttyACM0",
                                                        "ttyUSB0", "ttyUSB1"}));
    ASSERT_EQ(devices.size(), 6u);
    const SerialDevice& uart = devices[0];
    EXPECT_TRUE(uart.Uart);
    EXPECT_EQ(uart.Node, machine.Node("ttyS0"));
    EXPECT_EQ(uart.Identity, "ttyS0");
    EXPECT_EQ(uart.Driver, "serial"); // not the serial core's "port"
    EXPECT_EQ(uart.UsbId, "");

    const SerialDevice& acm = devices[3];
    EXPECT_FALSE(acm.Uart);
    EXPECT_EQ(acm.Driver, "cdc_acm");
    EXPECT_EQ(acm.UsbId, "2341:0043");
    EXPECT_EQ(acm.Manufacturer, "Arduino (www.arduino.cc)");

    const SerialDevice& ftdi = devices[4];
    EXPECT_EQ(ftdi.Driver, "ftdi_sio");
    EXPECT_EQ(ftdi.UsbId, "0403:6001");
    EXPECT_EQ(ftdi.Manufacturer, "FTDI");
    EXPECT_EQ(ftdi.Product, "FT232R USB UART");
    EXPECT_EQ(ftdi.Serial, "A10K1234");
    EXPECT_EQ(ftdi.Identity, FtdiById);
    // Without a serial number: the by-path link.
    EXPECT_EQ(devices[5].Identity, "serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0");
    EXPECT_EQ(devices[5].Serial, "");
}

TEST(PortNumbers, EntriesWinDevicesGetTheLowestFreeNumbersAndKeepThem) {
    test::ScratchDirectory data(test::ScratchDirectory::Enter);
    FakeMachine machine;
    BuildDesktop(machine);
    // The simulator on COM2 (a dangling link counts as well).
    fs::create_symlink(data.Path() / "gone", "COM2");

    PortTable table = ResolvePorts(machine.Roots());
    EXPECT_TRUE(table.Problems.empty());
    EXPECT_EQ(NumberLines(),
              (std::vector<std::string>{"COM1 ttyS0", "COM3 ttyS3", "COM4 ttyS10", "COM5 ttyACM0",
                                        "COM6 " + FtdiById,
                                        "COM7 serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0"}));
    EXPECT_EQ(table.PathOf(1), machine.Node("ttyS0"));
    EXPECT_EQ(table.PathOf(2), fs::path("COM2"));
    EXPECT_EQ(table.PathOf(6), machine.Node("ttyUSB0"));
    EXPECT_EQ(table.PathOf(8), fs::path{});
    EXPECT_EQ(table.PathOf(0), fs::path{});

    // Seen again: nothing changes, the file is not written.
    fs::permissions(PortNumbersFileName, fs::perms::owner_read); // a write would fail
    table = ResolvePorts(machine.Roots());
    EXPECT_TRUE(table.Problems.empty());
    fs::permissions(PortNumbersFileName, fs::perms::owner_read | fs::perms::owner_write);

    // The adapter is pulled and another one takes its node name: the new
    // one gets the next free number, the old number waits for its device.
    machine.Unplug("ttyUSB0");
    machine.AddUsbSerial("ttyUSB0", "2", "B77");
    table = ResolvePorts(machine.Roots());
    EXPECT_EQ(NumberLines().back(), "COM8 serial/by-id/usb-FTDI_FT232R_USB_UART_B77-if00-port0");
    EXPECT_EQ(table.PathOf(6), fs::path{});
    EXPECT_EQ(table.PathOf(8), machine.Node("ttyUSB0"));
    ASSERT_GE(table.Ports.size(), 6u);
    EXPECT_EQ(table.Ports[5].Number, 6);
    EXPECT_EQ(table.Ports[5].What, NumberedPort::Kind::Missing);

    // The first adapter comes back on another USB port under another name:
    // its number again.
    machine.AddUsbSerial("ttyUSB2", "5", "A10K1234");
    table = ResolvePorts(machine.Roots());
    EXPECT_EQ(table.PathOf(6), machine.Node("ttyUSB2"));
    EXPECT_EQ(NumberLines().size(), 7u);

    // A link made later over a device's number wins; the device is still
    // known and shown as hidden.
    fs::create_symlink(data.Path() / "gone", "COM1");
    table = ResolvePorts(machine.Roots());
    EXPECT_EQ(table.PathOf(1), fs::path("COM1"));
    EXPECT_EQ(table.Ports[0].What, NumberedPort::Kind::Entry);
    ASSERT_TRUE(table.Ports[0].Device.has_value());
    EXPECT_EQ(table.Ports[0].Device->Name, "ttyS0");
}

TEST(PortNumbers, WhenEveryNumberIsTakenAMissingDevicesNumberIsReused) {
    test::ScratchDirectory data(test::ScratchDirectory::Enter);
    FakeMachine machine;
    machine.AddUart("ttyS0", 4);
    std::string lines;
    for (int n = 1; n <= NumberedPortsMax; ++n) {
        lines += "COM" + std::to_string(n) + " serial/by-id/gone-" + std::to_string(n) + "\n";
    }
    lines += "COM40 ttyS9\n"; // above the search: never handed out again
    std::ofstream(PortNumbersFileName) << lines;
    fs::create_symlink(data.Path() / "gone", "COM1");

    PortTable table = ResolvePorts(machine.Roots());
    EXPECT_TRUE(table.Problems.empty());
    EXPECT_EQ(table.PathOf(2), machine.Node("ttyS0"));
    const std::vector<std::string> numbers = NumberLines();
    EXPECT_EQ(numbers.size(), 30u);
    EXPECT_EQ(numbers[1], "COM2 ttyS0");
    EXPECT_EQ(numbers.back(), "COM40 ttyS9");

    // With every number held by a link, a device stays without one.
    for (int n = 2; n <= NumberedPortsMax; ++n) {
        fs::create_symlink(data.Path() / "gone", "COM" + std::to_string(n));
    }
    machine.AddUart("ttyS5", 4);
    table = ResolvePorts(machine.Roots());
    ASSERT_EQ(table.Unnumbered.size(), 1u);
    EXPECT_EQ(table.Unnumbered[0].Name, "ttyS5");
}

TEST(PortNumbers, ADamagedOrReadOnlyFileKeepsItsNumbersAndIsNotOverwritten) {
    test::ScratchDirectory data(test::ScratchDirectory::Enter);
    FakeMachine machine;
    machine.AddUart("ttyS0", 4);
    machine.AddUart("ttyS3", 4);

    // Damaged: the good lines count, the file stays as it is, every bad line
    // is reported, and the numbers handed out are the same on every look.
    const std::string damaged = "COM2 ttyS0\r\n"
                                "COM 7 ttyS7\n"
                                "COM01 ttyS8\n"
                                "COM4 ttyS0\n"
                                "# a comment\n"
                                "COM2 ttyS9\n"
                                "COM300 ttyS9\n"
                                "COM5 two words\n";
    std::ofstream(PortNumbersFileName, std::ios::binary) << damaged;
    for (int look = 0; look < 2; ++look) {
        const PortTable table = ResolvePorts(machine.Roots());
        EXPECT_EQ(table.Problems.size(), 6u);
        EXPECT_NE(table.Problems[0].find("line 2"), std::string::npos) << table.Problems[0];
        EXPECT_NE(table.Problems[2].find("repeats"), std::string::npos) << table.Problems[2];
        EXPECT_EQ(table.PathOf(2), machine.Node("ttyS0"));
        EXPECT_EQ(table.PathOf(1), machine.Node("ttyS3"));
        EXPECT_EQ(ReadFile(PortNumbersFileName), damaged);
    }

    // Read-only: the number handed out holds for this run, and that is said.
    const std::string readOnly = "COM5 ttyS0\n";
    fs::remove(PortNumbersFileName);
    std::ofstream(PortNumbersFileName) << readOnly;
    fs::permissions(PortNumbersFileName, fs::perms::owner_read);
    PortTable table = ResolvePorts(machine.Roots());
    ASSERT_EQ(table.Problems.size(), 1u);
    EXPECT_NE(table.Problems[0].find("cannot be written"), std::string::npos);
    EXPECT_EQ(table.PathOf(5), machine.Node("ttyS0"));
    EXPECT_EQ(table.PathOf(1), machine.Node("ttyS3"));
    EXPECT_EQ(ReadFile(PortNumbersFileName), readOnly);

    // Unreadable (here: a folder of that name): left alone, numbers for now.
    fs::remove(PortNumbersFileName);
    fs::create_directory(PortNumbersFileName);
    table = ResolvePorts(machine.Roots());
    ASSERT_EQ(table.Problems.size(), 1u);
    EXPECT_NE(table.Problems[0].find("cannot be read"), std::string::npos);
    EXPECT_EQ(table.PathOf(1), machine.Node("ttyS0"));
    EXPECT_TRUE(fs::is_directory(PortNumbersFileName));
}

TEST(NumberedPortOpener, OpensOnlyWhatANumberStandsForAndNotesDeniedAccess) {
    test::ScratchDirectory data(test::ScratchDirectory::Enter);
    FakeMachine machine;
    machine.AddUart("ttyS0", 4, /*console=*/true);
    machine.AddUart("ttyS1", 0);
    machine.AddVirtual("tty0");
    machine.AddUsbSerial("ttyUSB0", "2", "A10K1234");
    machine.AddVirtual("ttyACM7");                       // not a device: never opened
    fs::create_symlink(machine.Node("ttyACM7"), "COM3"); // but an entry is
    const std::string group = machine.GiveToGroup("ttyUSB0");

    std::vector<fs::path> opened;
    int error = ENOENT;
    PortAccessLog denied;
    const PortOpener opener = NumberedPortOpener(
        machine.Roots(),
        [&](const fs::path& path, int& failure) -> std::unique_ptr<SerialPort> {
            opened.push_back(path);
            failure = error;
            return nullptr;
        },
        &denied);

    for (const int failure : {ENOENT, EBUSY, EACCES}) {
        SCOPED_TRACE(failure);
        error = failure;
        opened.clear();
        denied.Clear();
        for (int n = 0; n <= 255; ++n) {
            EXPECT_EQ(opener(static_cast<std::uint8_t>(n)), nullptr);
        }
        EXPECT_EQ(opened, (std::vector<fs::path>{machine.Node("ttyUSB0"), "COM3"}));
        if (failure != EACCES) {
            EXPECT_TRUE(denied.Denied().empty());
            continue;
        }
        // Noted once per port, by the node behind it and its group.
        opener(1);
        ASSERT_EQ(denied.Denied().size(), 2u);
        EXPECT_EQ(denied.Denied()[0].Number, 1);
        EXPECT_EQ(denied.Denied()[0].Device, fs::canonical(machine.Node("ttyUSB0")).string());
        EXPECT_EQ(denied.Denied()[0].Group, group);
        EXPECT_EQ(denied.Denied()[1].Number, 3);
        EXPECT_EQ(denied.Denied()[1].Device, fs::canonical(machine.Node("ttyACM7")).string());
    }
}

} // namespace
} // namespace zorm
