// Port numbers on Linux: which device "COMn" stands for.
//
// Port n is, in this order:
//  1. the entry "COMn" in the data folder, when there is one: a link to a
//     device, to a simulator's pseudo-terminal, to anything. A dangling link
//     still counts as the port's entry, so a stale link never falls back to a
//     real device. The tests, the demo and fixed installations rely on these.
//  2. otherwise the serial device of this machine that number n is assigned
//     to. Numbers are handed out the way Windows hands out COM numbers: a
//     device gets the lowest free number the first time it is seen and keeps
//     it afterwards, remembered by a stable identity in the file "Porty.txt"
//     of the data folder.
// A number that stands for nothing is an absent port: nothing is opened.
//
// Only devices with hardware behind them get numbers: UARTs the kernel found
// (an absent UART's ttyS node has the type "unknown"), USB CDC-ACM devices
// and USB-serial adapters. Virtual consoles, pseudo-terminals and the UART
// that the kernel uses as its console never do. The list comes from sysfs;
// the identities from the links udev makes in /dev/serial.
//
// The data folder is the working directory: the program enters it before
// anything else happens, so every name here is relative.
#pragma once

#include "link/port_access.h"
#include "link/serial_port.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zorm {

inline constexpr const char* PortNumbersFileName = "Porty.txt";
// Devices get numbers from 1 to this one, the ports the search goes over.
inline constexpr int NumberedPortsMax = 29;

// Where the machine is described; the tests point both at scratch trees.
struct SystemRoots {
    std::filesystem::path Sys = "/sys";
    std::filesystem::path Dev = "/dev";
};

// A serial device with hardware behind it.
struct SerialDevice {
    std::string Name;           // the kernel's name: "ttyUSB0"
    std::filesystem::path Node; // Dev / "ttyUSB0"
    // Relative to Dev: "serial/by-id/usb-FTDI_..." when udev made such a
    // link, else "serial/by-path/pci-...", else the node's name.
    std::string Identity;
    std::string Driver;       // "ftdi_sio", "cdc_acm", "serial", ...
    std::string UsbId;        // "0403:6001" for a USB device, else empty
    std::string Manufacturer; // USB strings, when the device has them
    std::string Product;
    std::string Serial;
    bool Uart = false; // a UART of the machine or of a plug-in card
};

// The devices in a stable order: UARTs first, then the rest, each by name
// with numbers compared as numbers (ttyS2 before ttyS10).
std::vector<SerialDevice> ListSerialDevices(const SystemRoots& roots);

// The entry COMn in `dataFolder` (empty: the working directory), or an empty
// path when there is none. Port 0 has no entry.
std::filesystem::path PortDevicePath(std::uint8_t n, const std::filesystem::path& dataFolder);

struct NumberedPort {
    enum class Kind {
        Entry,   // the entry COMn in the data folder
        Device,  // the device assigned to the number, present
        Missing, // the device assigned to the number, not present now
    };
    std::uint8_t Number = 0;
    Kind What = Kind::Entry;
    std::filesystem::path Path;         // what is opened; empty when Missing
    std::string Identity;               // Device and Missing
    std::optional<SerialDevice> Device; // Device, and an Entry hiding one
};

struct PortTable {
    std::vector<NumberedPort> Ports; // by number, only numbers in use
    // Devices present that got no number: every number up to
    // NumberedPortsMax holds a present device or an entry.
    std::vector<SerialDevice> Unnumbered;
    // What went wrong with Porty.txt, for the user; the table is still good.
    std::vector<std::string> Problems;

    // What port n opens, or an empty path.
    std::filesystem::path PathOf(std::uint8_t n) const;
};

// Looks at the machine and at the data folder (the working directory): hands
// numbers to devices seen for the first time and saves Porty.txt when it
// changed. A damaged or unreadable Porty.txt is never overwritten: its good
// lines still count, and numbers handed out now hold for this run only. When
// every number is taken, a new device gets the lowest number whose device is
// not present, and that device loses it.
PortTable ResolvePorts(const SystemRoots& roots);

// Opens the device at `path`; on failure null, with `error` set to EACCES
// when this user may not read and write it (anything else otherwise).
using DeviceOpener =
    std::function<std::unique_ptr<SerialPort>(const std::filesystem::path& path, int& error)>;

// The exclusive POSIX open.
DeviceOpener PosixDeviceOpener();

// The port opener of the program: resolves the number, opens the device and,
// when access was denied, notes the port in `denied` (when given). Problems
// with Porty.txt go to standard error, each once.
PortOpener NumberedPortOpener(SystemRoots roots, DeviceOpener open, PortAccessLog* denied);

} // namespace zorm
