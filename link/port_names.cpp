#include "link/port_names.h"

#include "data/param_files.h"
#include "link/posix_serial_port.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <iostream>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorm {

namespace fs = std::filesystem;

namespace {

// Reads a regular file (a sysfs attribute is one) whole. Returns 0, or the
// errno value of what failed; `text` holds what was read.
int ReadWhole(const fs::path& file, std::string& text) {
    text.clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return errno;
    }
    struct stat info {};
    int error = ::fstat(fd, &info) != 0 ? errno : S_ISREG(info.st_mode) ? 0 : EINVAL;
    while (error == 0) {
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            error = errno;
        }
    }
    ::close(fd);
    return error;
}

std::string ReadSmallFile(const fs::path& file) {
    std::string text;
    return ReadWhole(file, text) == 0 ? text : std::string();
}

// The first line of a sysfs attribute, without its newline.
std::string ReadAttribute(const fs::path& file) {
    std::string text = ReadSmallFile(file);
    text.resize(std::min(text.find('\n'), text.size()));
    return text;
}

// The value of KEY=value in a uevent file, or empty.
std::string UeventValue(const fs::path& file, std::string_view key) {
    std::istringstream lines(ReadSmallFile(file));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
            line[key.size()] == '=') {
            return line.substr(key.size() + 1);
        }
    }
    return {};
}

// The entries of a folder; none when it cannot be read. A folder that fails
// half-way gives what was read by then.
std::vector<fs::path> EntriesOf(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        entries.push_back(it->path());
    }
    return entries;
}

bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// The name that a sysfs link (driver, subsystem) points at: "cdc_acm".
std::string LinkName(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

// Names compared with their trailing numbers as numbers: ttyS2 < ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& name) {
        std::size_t digits = name.size();
        while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') {
            --digits;
        }
        unsigned long number = 0;
        std::from_chars(name.data() + digits, name.data() + name.size(), number);
        return std::make_pair(name.substr(0, digits), number);
    };
    return split(a) < split(b);
}

// Fills driver and USB facts from the device's directory and its parents.
// The serial core puts a "port" device of its own between the tty and the
// hardware; its driver says nothing, so the first other driver counts.
void DescribeHardware(const fs::path& sys, const fs::path& device, SerialDevice& found) {
    std::error_code ec;
    const fs::path devices = fs::canonical(sys / "devices", ec);
    fs::path dir = fs::canonical(device, ec);
    if (ec) {
        return;
    }
    for (; dir.has_relative_path() && dir != devices; dir = dir.parent_path()) {
        if (found.Driver.empty() && LinkName(dir / "subsystem") != "serial-base") {
            found.Driver = LinkName(dir / "driver");
        }
        const std::string vendor = ReadAttribute(dir / "idVendor");
        if (!vendor.empty()) {
            found.UsbId = vendor + ":" + ReadAttribute(dir / "idProduct");
            found.Manufacturer = ReadAttribute(dir / "manufacturer");
            found.Product = ReadAttribute(dir / "product");
            found.Serial = ReadAttribute(dir / "serial");
            return;
        }
    }
}

// The name of the first link in `folder` that leads to `node`, or empty.
std::string LinkTo(const fs::path& folder, const fs::path& node) {
    std::vector<std::string> names;
    for (const fs::path& entry : EntriesOf(folder)) {
        std::error_code ec;
        if (fs::is_symlink(fs::symlink_status(entry, ec)) && fs::equivalent(entry, node, ec)) {
            names.push_back(entry.filename().string());
        }
    }
    // Several links to one node (udev makes that rarely): the same one
    // every time.
    return names.empty() ? std::string() : *std::min_element(names.begin(), names.end());
}

std::string IdentityOf(const fs::path& dev, const SerialDevice& device) {
    for (const char* kind : {"by-id", "by-path"}) {
        const std::string link = LinkTo(dev / "serial" / kind, device.Node);
        if (!link.empty()) {
            return std::string("serial/") + kind + "/" + link;
        }
    }
    return device.Node.lexically_relative(dev).string();
}

// ---- Porty.txt -----------------------------------------------------------

constexpr std::string_view FileHeader =
    "# Port numbers of the serial devices of this machine, handed out by zorm5816.\n"
    "# One line per device: COMn and the device, named relative to /dev (a link\n"
    "# in /dev/serial when udev makes one). Edit it to change a number; a number\n"
    "# above 29 keeps a device out of the search.\n";

struct NumbersFile {
    std::map<std::uint8_t, std::string> Numbers;
    bool Writable = true;
    std::vector<std::string> Problems;
};

bool ParseLine(std::string_view line, std::uint8_t& number, std::string& identity) {
    if (line.substr(0, 3) != "COM") {
        return false;
    }
    line.remove_prefix(3);
    const std::size_t space = line.find_first_of(" \t");
    const std::string_view digits = line.substr(0, space);
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc{} || end != digits.data() + digits.size() || digits[0] == '0' ||
        value > 255 || space == std::string_view::npos) {
        return false;
    }
    std::string_view rest = line.substr(space);
    rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
    rest = rest.substr(0, rest.find_last_not_of(" \t") + 1);
    if (rest.empty() || rest.find_first_of(" \t") != std::string_view::npos) {
        return false;
    }
    number = static_cast<std::uint8_t>(value);
    identity = std::string(rest);
    return true;
}

std::string Quoted(const char* name) {
    return std::string("\"") + name + "\"";
}

NumbersFile LoadNumbers() {
    NumbersFile file;
    std::string text;
    const int error = ReadWhole(PortNumbersFileName, text);
    if (error == ENOENT) {
        return file;
    }
    if (error != 0) {
        file.Writable = false;
        file.Problems.push_back(
            Quoted(PortNumbersFileName) + " cannot be read (" + std::strerror(error) +
            "); it is left as it is, and devices get numbers for this run only");
        return file;
    }

    std::set<std::string> identities;
    std::istringstream lines(text);
    std::string line;
    for (int lineNumber = 1; std::getline(lines, line); ++lineNumber) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') {
            continue;
        }
        std::uint8_t number = 0;
        std::string identity;
        const bool parsed = ParseLine(line, number, identity);
        if (parsed && !file.Numbers.contains(number) && !identities.contains(identity)) {
            file.Numbers.emplace(number, identity);
            identities.insert(identity);
            continue;
        }
        file.Writable = false;
        file.Problems.push_back(
            Quoted(PortNumbersFileName) + " line " + std::to_string(lineNumber) + " \"" + line +
            (parsed ? "\" repeats a number or a device" : "\" is not \"COMn device\"") +
            "; the file is left as it is, and new devices get numbers for this run only");
    }
    return file;
}

bool SaveNumbers(const std::map<std::uint8_t, std::string>& numbers) {
    std::string text(FileHeader);
    for (const auto& [number, identity] : numbers) {
        text += "COM" + std::to_string(number) + " " + identity + "\n";
    }
    return SaveFileContents(
        PortNumbersFileName,
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// The group whose members may read and write `node`, when membership would
// let them; empty otherwise.
std::string GroupWithAccess(const fs::path& node) {
    struct stat info {};
    if (::stat(node.c_str(), &info) != 0 || info.st_gid == 0 ||
        (info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
        return {};
    }
    // A group with many members needs a larger buffer.
    for (std::size_t size = 4096; size <= (1u << 20); size *= 2) {
        std::vector<char> buffer(size);
        group entry{};
        group* result = nullptr;
        const int error = getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &result);
        if (error != ERANGE) {
            return error == 0 && result != nullptr ? result->gr_name : "";
        }
    }
    return {};
}

} // namespace

std::vector<SerialDevice> ListSerialDevices(const SystemRoots& roots) {
    std::vector<SerialDevice> devices;
    for (const fs::path& tty : EntriesOf(roots.Sys / "class/tty")) {
        // Virtual consoles, pseudo-terminals and the like have no device.
        if (!Exists(tty / "device")) {
            continue;
        }
        // The serial core tells the UART's type; 0 is a port with no UART.
        const std::string type = ReadAttribute(tty / "type");
        if ((Exists(tty / "type") && (type.empty() || type == "0")) ||
            ReadAttribute(tty / "console") == "Y") {
            continue;
        }
        SerialDevice device;
        device.Name = tty.filename().string();
        // The node's name in /dev; a "!" in the kernel's name stands for "/".
        std::string node = UeventValue(tty / "uevent", "DEVNAME");
        if (node.empty()) {
            node = device.Name;
            std::replace(node.begin(), node.end(), '!', '/');
        }
        device.Node = roots.Dev / node;
        if (!Exists(device.Node)) {
            continue; // nothing to open
        }
        device.Uart = Exists(tty / "type");
        DescribeHardware(roots.Sys, tty / "device", device);
        device.Identity = IdentityOf(roots.Dev, device);
        devices.push_back(std::move(device));
    }
    std::sort(devices.begin(), devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
        if (a.Uart != b.Uart) {
            return a.Uart;
        }
        return NaturalLess(a.Name, b.Name);
    });
    return devices;
}

fs::path PortDevicePath(std::uint8_t n, const fs::path& dataFolder) {
    if (n == 0) {
        return {};
    }
    const fs::path entry = dataFolder / ("COM" + std::to_string(n));
    return Exists(entry) ? entry : fs::path();
}

fs::path PortTable::PathOf(std::uint8_t n) const {
    for (const NumberedPort& port : Ports) {
        if (port.Number == n) {
            return port.Path;
        }
    }
    return {};
}

PortTable ResolvePorts(const SystemRoots& roots) {
    PortTable table;
    NumbersFile file = LoadNumbers();
    table.Problems = file.Problems;
    const std::vector<SerialDevice> devices = ListSerialDevices(roots);

    std::map<std::string, const SerialDevice*> present;
    for (const SerialDevice& device : devices) {
        present.emplace(device.Identity, &device);
    }
    std::set<std::string> numbered;
    for (const auto& [number, identity] : file.Numbers) {
        numbered.insert(identity);
    }
    const auto freeNumber = [&](bool takeMissing) -> int {
        for (int n = 1; n <= NumberedPortsMax; ++n) {
            const auto held = file.Numbers.find(static_cast<std::uint8_t>(n));
            const bool free =
                held == file.Numbers.end() || (takeMissing && !present.contains(held->second));
            if (free && PortDevicePath(static_cast<std::uint8_t>(n), {}).empty()) {
                return n;
            }
        }
        return 0;
    };
    bool changed = false;
    for (const SerialDevice& device : devices) {
        if (numbered.contains(device.Identity)) {
            continue;
        }
        int n = freeNumber(false);
        if (n == 0) {
            n = freeNumber(true);
        }
        if (n == 0) {
            table.Unnumbered.push_back(device);
            continue;
        }
        file.Numbers[static_cast<std::uint8_t>(n)] = device.Identity;
        numbered.insert(device.Identity);
        changed = true;
    }
    if (changed && file.Writable && !SaveNumbers(file.Numbers)) {
        table.Problems.push_back(Quoted(PortNumbersFileName) +
                                 " cannot be written; the numbers handed out now hold for this "
                                 "run only");
    }

    std::set<std::uint8_t> numbers;
    for (const auto& [number, identity] : file.Numbers) {
        numbers.insert(number);
    }
    for (int n = 1; n <= 255; ++n) {
        if (!PortDevicePath(static_cast<std::uint8_t>(n), {}).empty()) {
            numbers.insert(static_cast<std::uint8_t>(n));
        }
    }
    for (const std::uint8_t number : numbers) {
        NumberedPort port;
        port.Number = number;
        const auto held = file.Numbers.find(number);
        if (held != file.Numbers.end()) {
            port.Identity = held->second;
            const auto device = present.find(held->second);
            if (device != present.end()) {
                port.Device = *device->second;
                port.What = NumberedPort::Kind::Device;
                port.Path = device->second->Node;
            } else {
                port.What = NumberedPort::Kind::Missing;
            }
        }
        const fs::path entry = PortDevicePath(number, {});
        if (!entry.empty()) {
            port.What = NumberedPort::Kind::Entry;
            port.Path = entry;
        }
        table.Ports.push_back(std::move(port));
    }
    return table;
}

DeviceOpener PosixDeviceOpener() {
    return [](const fs::path& path, int& error) -> std::unique_ptr<SerialPort> {
        std::unique_ptr<SerialPort> port = PosixSerialPort::Open(path);
        error = 0;
        // Asked afterwards rather than taken from the failed call: the open
        // fails in several steps, and only the permission matters here.
        if (!port && ::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
            error = errno;
        }
        return port;
    };
}

PortOpener NumberedPortOpener(SystemRoots roots, DeviceOpener open, PortAccessLog* denied) {
    auto reported = std::make_shared<std::set<std::string>>();
    return [roots = std::move(roots), open = std::move(open), denied,
            reported](std::uint8_t n) -> std::unique_ptr<SerialPort> {
        const PortTable table = ResolvePorts(roots);
        for (const std::string& problem : table.Problems) {
            if (reported->insert(problem).second) {
                std::cerr << "zorm5816: " << problem << "\n";
            }
        }
        const fs::path path = table.PathOf(n);
        if (path.empty()) {
            return nullptr;
        }
        int error = 0;
        std::unique_ptr<SerialPort> port = open(path, error);
        if (!port && error == EACCES && denied != nullptr) {
            std::error_code ec;
            const fs::path node = fs::canonical(path, ec);
            const fs::path shown = ec ? path : node;
            denied->Add(DeniedPort{n, shown.string(), GroupWithAccess(shown)});
        }
        return port;
    };
}

PortOpener SystemPortOpener() {
    return NumberedPortOpener(SystemRoots{}, PosixDeviceOpener(), nullptr);
}

} // namespace zorm
