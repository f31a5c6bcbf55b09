// The program's command line, its data folder and the text of --list-ports.
#include "app/command_line.h"
#include "app/data_folder.h"
#include "app/port_listing.h"
#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace zorm {
namespace {

namespace fs = std::filesystem;

std::map<std::string, const char*> environment;

const char* Lookup(const char* name) {
    const auto found = environment.find(name);
    return found == environment.end() ? nullptr : found->second;
}

struct Parsed {
    std::optional<std::string> Mistake;
    CommandLine Line;
};

Parsed Parse(std::vector<std::string_view> args) {
    Parsed parsed;
    parsed.Mistake = ParseCommandLine(args, Lookup, parsed.Line);
    return parsed;
}

TEST(CommandLine, SwitchesAndTheirMistakes) {
    environment = {{"HOME", "/home/jana"}};
    Parsed plain = Parse({});
    EXPECT_FALSE(plain.Mistake);
    EXPECT_FALSE(plain.Line.Help || plain.Line.Version || plain.Line.ListPorts ||
                 plain.Line.Service);
    EXPECT_FALSE(plain.Line.DataFolder); // the working directory

    Parsed all = Parse({"--list-ports", "--data-dir", "/srv/zorm", "--version", "-h", "--service"});
    EXPECT_FALSE(all.Mistake);
    EXPECT_TRUE(all.Line.ListPorts && all.Line.Version && all.Line.Help && all.Line.Service);
    EXPECT_EQ(all.Line.DataFolder, fs::path("/srv/zorm"));
    EXPECT_EQ(Parse({"--data-dir=rel/dir"}).Line.DataFolder, fs::path("rel/dir"));

    // The desktop entry's folder: XDG_DATA_HOME when absolute, else HOME.
    EXPECT_EQ(Parse({"--user-data"}).Line.DataFolder, fs::path("/home/jana/.local/share/zorm5816"));
    environment["XDG_DATA_HOME"] = "/data/jana";
    EXPECT_EQ(Parse({"--user-data"}).Line.DataFolder, fs::path("/data/jana/zorm5816"));
    environment["XDG_DATA_HOME"] = "relative";
    EXPECT_EQ(Parse({"--user-data"}).Line.DataFolder, fs::path("/home/jana/.local/share/zorm5816"));
    environment = {{"XDG_DATA_HOME", ""}};

    for (const std::vector<std::string_view>& wrong : {std::vector<std::string_view>{"--user-data"},
                                                       {"--data-dir"},
                                                       {"--data-dir="},
                                                       {"--data-dir", ""},
                                                       {"--list"},
                                                       {"COM1"},
                                                       {"-platform", "xcb"}}) {
        EXPECT_TRUE(Parse(wrong).Mistake) << wrong[0];
    }
    // One data folder only: with two, the files would go where the last
    // switch happened to say.
    environment = {{"HOME", "/home/jana"}};
    for (const std::vector<std::string_view>& twice :
         {std::vector<std::string_view>{"--data-dir", "/srv/zorm", "--user-data"},
          {"--user-data", "--data-dir", "/srv/zorm"},
          {"--data-dir=/a", "--data-dir", "/b"},
          {"--user-data", "--service", "--user-data"}}) {
        const Parsed parsed = Parse(twice);
        ASSERT_TRUE(parsed.Mistake) << twice[0] << " " << twice[1];
        EXPECT_NE(parsed.Mistake->find("--data-dir and --user-data"), std::string::npos);
    }
    EXPECT_NE(VersionText().find(ZORM_TEST_VERSION), std::string::npos);
    EXPECT_NE(UsageText().find("--list-ports"), std::string::npos);
}

// The shared database of the records: given once, in either form; the
// address itself is the record store's to judge.
TEST(CommandLine, HistoryNamesTheSharedDatabaseOnce) {
    EXPECT_FALSE(Parse({}).Line.SharedDatabase);
    EXPECT_EQ(Parse({"--history", "postgresql://k@db/zorm"}).Line.SharedDatabase,
              "postgresql://k@db/zorm");
    EXPECT_EQ(
        Parse({"--service", "--history=postgresql://k@db/zorm", "--service"}).Line.SharedDatabase,
        "postgresql://k@db/zorm");
    for (const std::vector<std::string_view>& wrong :
         {std::vector<std::string_view>{"--history"},
          {"--history="},
          {"--history", ""},
          {"--history", "postgresql://a@b/c", "--history=postgresql://a@b/c"}}) {
        EXPECT_TRUE(Parse(wrong).Mistake) << wrong.size();
    }
}

TEST(DataFolder, IsMadeCheckedAndEnteredOrReportedWithNothingLeftBehind) {
    test::ScratchDirectory start(test::ScratchDirectory::Enter);
    const fs::path folder = start.Path() / "a/b/zorm5816";

    ASSERT_FALSE(EnterDataFolder(folder));
    EXPECT_EQ(fs::current_path(), folder);
    EXPECT_TRUE(fs::is_empty(folder)); // the write check leaves nothing
    // An existing folder is fine as it is.
    std::ofstream("Parametry.par") << "x";
    ASSERT_FALSE(EnterDataFolder(folder));
    EXPECT_TRUE(fs::exists(folder / "Parametry.par"));

    // Cannot be made: under a file. Cannot be written: sysfs refuses new
    // files even to root. Either way the working directory stays.
    const test::WorkingDirectory back(start.Path());
    std::ofstream("file") << "x";
    const auto notMade = EnterDataFolder(start.Path() / "file/zorm5816");
    ASSERT_TRUE(notMade);
    EXPECT_EQ(notMade->What, DataFolderError::Step::Create);
    EXPECT_EQ(notMade->Message(), "cannot create the data folder " + start.Path().string() +
                                      "/file/zorm5816: " + std::strerror(ENOTDIR));
    EXPECT_EQ(fs::current_path(), start.Path());

    const auto notWritten = EnterDataFolder("/sys/kernel");
    ASSERT_TRUE(notWritten);
    EXPECT_EQ(notWritten->What, DataFolderError::Step::Write);
    EXPECT_EQ(
        notWritten->CzechMessage().rfind("Do datové složky nelze zapisovat:\n/sys/kernel\n(", 0),
        0u);
    EXPECT_EQ(fs::current_path(), start.Path());
}

TEST(PortListing, EveryNumberWithItsDeviceAndWhereTheSearchStarts) {
    SerialDevice ftdi;
    ftdi.Name = "ttyUSB0";
    ftdi.Node = "/dev/ttyUSB0";
    ftdi.Identity = "serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0";
    ftdi.Driver = "ftdi_sio";
    ftdi.UsbId = "0403:6001";
    ftdi.Manufacturer = "FTDI";
    ftdi.Product = "FT232R USB UART";
    ftdi.Serial = "A1";
    SerialDevice uart;
    uart.Name = "ttyS0";
    uart.Node = "/dev/ttyS0";
    uart.Identity = "ttyS0";
    uart.Driver = "serial";
    uart.Uart = true;

    PortTable table;
    table.Ports.push_back({1, NumberedPort::Kind::Entry, "COM1", "ttyS0", uart});
    table.Ports.push_back({2, NumberedPort::Kind::Device, "/dev/ttyUSB0", ftdi.Identity, ftdi});
    table.Ports.push_back({4, NumberedPort::Kind::Missing, "", "ttyS3", std::nullopt});
    table.Ports.push_back({40, NumberedPort::Kind::Device, "/dev/ttyS0", "ttyS0", uart});
    table.Unnumbered.push_back(ftdi);
    table.Problems.push_back("\"Porty.txt\" cannot be written");

    EXPECT_EQ(PortListing(table, 2, "/srv/zorm"),
              "Data folder: /srv/zorm\n"
              "COM1   COM1 (entry in the data folder); it hides /dev/ttyS0\n"
              "       known as ttyS0\n"
              "COM2   /dev/ttyUSB0  driver ftdi_sio, USB 0403:6001, FTDI, FT232R USB UART, "
              "serial number A1  <- the search starts here\n"
              "       known as serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0\n"
              "COM4   not connected\n"
              "       known as ttyS3\n"
              "COM40  /dev/ttyS0    UART, driver serial (above 29: not searched)\n"
              "       known as ttyS0\n"
              "No number for /dev/ttyUSB0 (driver ftdi_sio, USB 0403:6001, FTDI, FT232R USB "
              "UART, serial number A1): COM1 to COM29 are all in use.\n"
              "Problem: \"Porty.txt\" cannot be written\n"
              "The search starts at COM2 (PortNumber in Parametry.par) and goes down from "
              "there.\n");
    // Port 0 and a number beyond the searched ones stand for 29, as in the
    // search itself; no Parametry.par means port 1.
    for (const std::uint8_t stored : {0, 40}) {
        EXPECT_NE(PortListing(table, stored, "/d")
                      .find("starts at COM29 (PortNumber in Parametry.par), "
                            "where nothing is,"),
                  std::string::npos);
    }
    EXPECT_NE(PortListing(PortTable{}, std::nullopt, "/d")
                  .find("every port is absent.\nThe search starts at COM1 (Parametry.par "
                        "cannot be read), where nothing is,"),
              std::string::npos);
}

} // namespace
} // namespace zorm
