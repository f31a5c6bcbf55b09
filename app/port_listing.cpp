#include "app/port_listing.h"

#include "link/connection_search.h"

#include <system_error>

namespace zorm {

namespace fs = std::filesystem;

namespace {

std::string Facts(const SerialDevice& device) {
    std::string facts = device.Uart ? "UART" : "";
    const auto add = [&facts](const std::string& label, const std::string& value) {
        if (!value.empty()) {
            facts += (facts.empty() ? "" : ", ") + label + value;
        }
    };
    add("driver ", device.Driver);
    add("USB ", device.UsbId);
    add("", device.Manufacturer);
    add("", device.Product);
    add("serial number ", device.Serial);
    return facts;
}

std::string Padded(std::string text, std::size_t width) {
    text.resize(std::max(text.size() + 1, width), ' ');
    return text;
}

} // namespace

std::string PortListing(const PortTable& table, std::optional<std::uint8_t> portNumber,
                        const fs::path& dataFolder) {
    // The search starts at PortNumber (at 29 for 0 or a number beyond the
    // searched ones), or at port 1 when Parametry.par could not be read.
    const int first = !portNumber ? 1 : SearchStart(*portNumber);
    std::string text = "Data folder: " + dataFolder.string() + "\n";
    if (table.Ports.empty()) {
        text += "No serial device and no COMn entry: every port is absent.\n";
    }
    for (const NumberedPort& port : table.Ports) {
        const std::string name = "COM" + std::to_string(port.Number);
        text += Padded(name, 7);
        switch (port.What) {
        case NumberedPort::Kind::Entry: {
            std::error_code ec;
            const fs::path target = fs::read_symlink(port.Path, ec);
            text += port.Path.string() + (ec ? "" : " -> " + target.string()) +
                    " (entry in the data folder)";
            if (port.Device) {
                text += "; it hides " + port.Device->Node.string();
            }
            break;
        }
        case NumberedPort::Kind::Device:
            text += Padded(port.Path.string(), 14) + Facts(*port.Device);
            break;
        case NumberedPort::Kind::Missing:
            text += "not connected";
            break;
        }
        if (port.Number > NumberedPortsMax) {
            text += " (above " + std::to_string(NumberedPortsMax) + ": not searched)";
        }
        if (port.Number == first) {
            text += "  <- the search starts here";
        }
        text += "\n";
        if (!port.Identity.empty()) {
            text += "       known as " + port.Identity + "\n";
        }
    }
    for (const SerialDevice& device : table.Unnumbered) {
        text += "No number for " + device.Node.string() + " (" + Facts(device) + "): COM1 to COM" +
                std::to_string(NumberedPortsMax) + " are all in use.\n";
    }
    for (const std::string& problem : table.Problems) {
        text += "Problem: " + problem + "\n";
    }
    text += "The search starts at COM" + std::to_string(first) +
            (portNumber ? " (PortNumber in Parametry.par)" : " (Parametry.par cannot be read)") +
            (table.PathOf(static_cast<std::uint8_t>(first)).empty() ? ", where nothing is," : "") +
            " and goes down from there.\n";
    return text;
}

} // namespace zorm
