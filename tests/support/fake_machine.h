// A machine's serial devices as sysfs and udev show them, built in a scratch
// folder: sys/class/tty, the device folders behind it, dev/ with stand-ins
// for the nodes (plain files) and the links of dev/serial. Nothing in it is
// a real device, so nothing the tests open can reach the hardware.
#pragma once

#include "link/port_names.h"
#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorm::test {

class FakeMachine {
public:
    SystemRoots Roots() const { return {root_.Path() / "sys", root_.Path() / "dev"}; }
    std::filesystem::path Node(const std::string& name) const { return Roots().Dev / name; }

    // A UART behind the serial core, as kernel 6 lays it out: the tty, a
    // "port" device of the serial-base bus, its controller, and the pnp
    // device with the driver "serial". Type 0 is a port without a UART.
    void AddUart(const std::string& name, int type, bool console = false) {
        const std::filesystem::path hardware = Sys() / "devices/pnp0" / name;
        Link(hardware / "driver", Sys() / "bus/pnp/drivers/serial");
        const std::filesystem::path port = hardware / "ctrl/port";
        Link(port / "driver", Sys() / "bus/serial-base/drivers/port");
        Link(port / "subsystem", Sys() / "bus/serial-base");
        const std::filesystem::path tty = AddTty(name, port / "tty" / name, port);
        Write(tty / "type", std::to_string(type) + "\n");
        Write(tty / "console", console ? "Y\n" : "N\n");
    }

    // A USB-serial adapter (driver "ftdi_sio"): the tty under a port device
    // under the interface under the USB device. With a serial number udev
    // makes a by-id link; a by-path link it makes always.
    void AddUsbSerial(const std::string& name, const std::string& usbPort,
                      const std::string& serial) {
        const std::filesystem::path usb =
            UsbDevice(usbPort, "0403", "6001", "FTDI", "FT232R USB UART", serial);
        const std::filesystem::path port = usb / (usbPort + ":1.0") / name;
        Link(port / "driver", Sys() / "bus/usb-serial/drivers/ftdi_sio");
        AddTty(name, port / "tty" / name, port);
        if (!serial.empty()) {
            Link(Dev() / "serial/by-id" / ("usb-FTDI_FT232R_USB_UART_" + serial + "-if00-port0"),
                 Node(name));
        }
        Link(Dev() / "serial/by-path" / ("pci-0000:00:14.0-usb-0:" + usbPort + ":1.0-port0"),
             Node(name));
    }

    // A USB CDC-ACM device: the tty right under the interface.
    void AddAcm(const std::string& name, const std::string& usbPort) {
        const std::filesystem::path usb =
            UsbDevice(usbPort, "2341", "0043", "Arduino (www.arduino.cc)", "", "");
        const std::filesystem::path interface = usb / (usbPort + ":1.0");
        Link(interface / "driver", Sys() / "bus/usb/drivers/cdc_acm");
        AddTty(name, interface / "tty" / name, interface);
    }

    // A tty without a device: a virtual console, ptmx.
    void AddVirtual(const std::string& name) {
        AddTty(name, Sys() / "devices/virtual/tty" / name, std::filesystem::path());
    }

    // The device goes: its tty, its node and the links to it.
    void Unplug(const std::string& name) {
        std::filesystem::remove(Sys() / "class/tty" / name);
        for (const char* kind : {"by-id", "by-path"}) {
            std::error_code ec;
            for (const auto& link :
                 std::filesystem::directory_iterator(Dev() / "serial" / kind, ec)) {
                std::error_code own;
                if (std::filesystem::read_symlink(link.path(), own) == Node(name)) {
                    std::filesystem::remove(link.path());
                }
            }
        }
        std::filesystem::remove(Node(name));
    }

    // Makes device `name` readable and writable for a group other than
    // root's, as udev does with dialout, and returns that group's name.
    std::string GiveToGroup(const std::string& name) const {
        const std::filesystem::path node = Node(name);
        if (geteuid() == 0) {
            const group* dialout = getgrnam("dialout");
            EXPECT_EQ(chown(node.c_str(), static_cast<uid_t>(-1), dialout ? dialout->gr_gid : 20),
                      0);
        }
        std::filesystem::permissions(
            node, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                      std::filesystem::perms::group_read | std::filesystem::perms::group_write);
        struct stat info {};
        EXPECT_EQ(stat(node.c_str(), &info), 0);
        const group* owner = getgrgid(info.st_gid);
        EXPECT_TRUE(owner != nullptr && info.st_gid != 0) << "no group for " << node;
        return owner != nullptr ? owner->gr_name : "";
    }

    static void Write(const std::filesystem::path& file, const std::string& text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    }

private:
    std::filesystem::path Sys() const { return Roots().Sys; }
    std::filesystem::path Dev() const { return Roots().Dev; }

    static void Link(const std::filesystem::path& link, const std::filesystem::path& target) {
        std::filesystem::create_directories(link.parent_path());
        if (!std::filesystem::exists(target)) {
            std::filesystem::create_directories(target); // a driver, a bus
        }
        std::filesystem::remove(link); // left by a device plugged in here before
        std::filesystem::create_symlink(target, link);
    }

    // The tty's folder with its uevent and device link, the class entry that
    // leads to it, and the node.
    std::filesystem::path AddTty(const std::string& name, const std::filesystem::path& tty,
                                 const std::filesystem::path& device) {
        Write(tty / "uevent", "MAJOR=188\nMINOR=0\nDEVNAME=" + name + "\n");
        if (!device.empty()) {
            Link(tty / "device", device);
        }
        std::filesystem::create_directories(Sys() / "class/tty");
        std::filesystem::create_symlink(tty, Sys() / "class/tty" / name);
        Write(Node(name), "");
        return tty;
    }

    std::filesystem::path UsbDevice(const std::string& usbPort, const std::string& vendor,
                                    const std::string& product, const std::string& manufacturer,
                                    const std::string& productName, const std::string& serial) {
        const std::filesystem::path usb = Sys() / "devices/pci0000:00/0000:00:14.0/usb1" / usbPort;
        Write(usb / "idVendor", vendor + "\n");
        Write(usb / "idProduct", product + "\n");
        Write(usb / "manufacturer", manufacturer + "\n");
        if (!productName.empty()) {
            Write(usb / "product", productName + "\n");
        }
        if (!serial.empty()) {
            Write(usb / "serial", serial + "\n");
        }
        return usb;
    }

    ScratchDirectory root_;
};

} // namespace zorm::test
