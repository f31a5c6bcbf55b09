#include "cli/cli.h"

#include "cli/session.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

namespace zorm::cli {

namespace fs = std::filesystem;

namespace {

constexpr OptionSpec PortOption{
    "--port", "N",
    "the port COMn (1 to 255); without it, the ports COM1 to COM29 are searched from "
    "PortNumber in Parametry.par downwards, as the window program does at start"};
constexpr OptionSpec AddressOption{
    "--address", "A",
    "the converter's address, 1 to 10; without it, DeviceAddress in Parametry.par"};

const std::vector<OptionSpec> DeviceOptions{PortOption, AddressOption};

// Makes the data folder the working directory for one command, and goes back
// afterwards: the files keep their plain names, as in the window program.
class DataFolder {
public:
    explicit DataFolder(const std::optional<std::string>& folder) {
        if (!folder) {
            return;
        }
        std::error_code ec;
        previous_ = fs::current_path(ec);
        if (!ec) {
            fs::current_path(*folder, ec);
        }
        if (ec) {
            throw Failed{FileFailed,
                         "cannot enter the data folder " + *folder + ": " + ec.message()};
        }
    }
    ~DataFolder() {
        std::error_code ignored;
        if (!previous_.empty()) {
            fs::current_path(previous_, ignored);
        }
    }
    DataFolder(const DataFolder&) = delete;
    DataFolder& operator=(const DataFolder&) = delete;

private:
    fs::path previous_;
};

std::string OptionLines(const std::vector<OptionSpec>& options) {
    std::string text;
    for (const OptionSpec& option : options) {
        std::string name = "  " + std::string(option.Name);
        if (!option.Value.empty()) {
            name += " " + std::string(option.Value);
        }
        name.resize(std::max<std::size_t>(name.size() + 2, 20), ' ');
        text += name + std::string(option.Help) + "\n";
    }
    return text;
}

std::string CommandUsage(const CommandSpec& command) {
    std::string text = "usage: zorm5816-cli " + std::string(command.Name);
    if (!command.Operands.empty()) {
        text += " " + std::string(command.Operands);
    }
    for (const OptionSpec& option : command.Options) {
        text += " [" + std::string(option.Name) +
                (option.Value.empty() ? "" : " " + std::string(option.Value)) + "]";
    }
    text += " [--data-dir DIR] [--json]\n\n" + std::string(command.Summary) + "\n";
    if (!command.Options.empty()) {
        text += "\n" + OptionLines(command.Options);
    }
    return text;
}

} // namespace

const std::vector<CommandSpec>& Commands() {
    static const std::vector<CommandSpec> commands{
        {"ports",
         "",
         0,
         "The port numbers and the serial devices they stand for, and where the search starts "
         "(as zorm5816 --list-ports). Opens no device.",
         {},
         Ports},
        {"identify", "", 0,
         "The converter's type, as the window program reports it: \"Připojeno zařízení "
         "ZORM5816A na portu COM1\".",
         DeviceOptions, Identify},
        {"scan",
         "",
         0,
         "Asks every address 1 to 10 on one line for its identification and lists which "
         "answer, and with what type.",
         {{"--port", "N", "the line's port, 1 to 255; without it, PortNumber in Parametry.par"},
          {"--timeout-ms", "T",
           "how long to wait for each address, 1 to 10000 ms (default 100); a converter "
           "answers within its turnaround and six byte times"}},
         Scan},
        {"measure",
         "",
         0,
         "Raw readings of the sensors, or temperatures through the user set of Parametry.par; "
         "one line per pass.",
         {PortOption,
          AddressOption,
          {"--sensors", "LIST", "the sensors, as 1,2,3 (default)"},
          {"--count", "K", "the number of passes, 1 to 1000000 (default 1)"},
          {"--interval", "S", "seconds from the start of one pass to the next (default 1)"},
          {"--raw", "", "raw readings (default unless ShowCelsius in Parametry.par)"},
          {"--celsius", "", "temperatures in °C through the user set of Parametry.par"},
          {"--unfiltered", "", "without the converter's measurement filter (default: FilterOn)"}},
         Measure},
        {"diagnostics", "", 0, "The converter's diagnostics line: eighteen words and a count.",
         DeviceOptions, Diagnostics},
        {"register read", "NAME", 1,
         "Reads a register of the AD7731: status, data, mode, filter, offset or gain. Shows its "
         "three bytes as the register window does, the third one first.",
         DeviceOptions, RegisterRead},
        {"register write", "NAME HEX HEX", 3,
         "Writes two bytes, each two hexadecimal digits, to the mode, filter, offset or gain "
         "register of the AD7731; the first byte goes out first.",
         DeviceOptions, RegisterWrite},
        {"export",
         "",
         0,
         "Writes the coefficients of the user set to ZORM5816.par and ZORM5816.txt, as the "
         "calibration window's export does.",
         {},
         Export},
        {"fit",
         "",
         0,
         "Fits the cubic of a sensor to 4 to 29 points (lines \"raw;true temperature\") exactly "
         "as the calibration window does, and shows its report.",
         {{"--sensor", "S", "the sensor, 1 to 3"},
          {"--points", "FILE", "the points, one \"raw;temperature\" a line"},
          {"--commit", "",
           "put the fit into the user set of Parametry.par; the other sensors and the factory "
           "set stay as they are; a calibration record goes into Historie.sqlite"},
          {"--port", "N",
           "with --commit: the port of the converter that the record names, 1 to 255 "
           "(default: PortNumber in Parametry.par)"},
          {"--address", "A",
           "with --commit: that converter's address, 1 to 10 (default: DeviceAddress in "
           "Parametry.par)"},
          {"--history", "URL",
           "with --commit: the shared database of the records, "
           "postgresql://USER@HOST[:PORT]/DB (default: SharedDatabase in Stanice.ini)"}},
         Fit},
    };
    return commands;
}

std::string UsageText() {
    std::string text = "usage: zorm5816-cli COMMAND [OPTIONS] [--data-dir DIR] [--json]\n"
                       "       zorm5816-cli [COMMAND] --help | --version\n"
                       "\n"
                       "The ZORM5816A temperature converter from scripts and production "
                       "stations.\n\nCommands:\n";
    for (const CommandSpec& command : Commands()) {
        std::string name = "  " + std::string(command.Name);
        if (!command.Operands.empty()) {
            name += " " + std::string(command.Operands);
        }
        name.resize(std::max<std::size_t>(name.size() + 2, 30), ' ');
        const std::string_view summary = command.Summary;
        text += name + std::string(summary.substr(0, summary.find(". ") + 1)) + "\n";
    }
    text += "\nEvery command takes:\n" +
            OptionLines({{"--data-dir", "DIR",
                          "the folder of Parametry.par, ZORM5816.par, ZORM5816.txt, the COMn "
                          "entries and Porty.txt (default: the working directory)"},
                         {"--json", "", "one JSON object on standard output, also on errors"}}) +
            "\nExit status: 0 done, 1 the converter did not answer or answered wrongly, 2 "
            "wrong usage,\n3 a file could not be read or written. Errors go to standard error "
            "in one line.\n";
    return text;
}

std::string VersionText() {
    return "zorm5816-cli " ZORM_VERSION "\n";
}

int Run(const std::vector<std::string_view>& args, std::ostream& out, std::ostream& err,
        const Environment& environment) {
    const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
    Json document = Json::Object();
    int status = Done;
    std::string error;
    try {
        const Arguments parsed = Arguments::Parse(args);
        if (parsed.Command != nullptr) {
            document["command"] = parsed.Command->Name;
        }
        if (parsed.Help || parsed.Version) {
            const std::string text = parsed.Version   ? VersionText()
                                     : parsed.Command ? CommandUsage(*parsed.Command)
                                                      : UsageText();
            if (!json) {
                out << text;
                return Done;
            }
            document[parsed.Version ? "version" : "help"] = text;
        } else {
            const DataFolder folder(parsed.Value("--data-dir"));
            Session session(parsed, environment, json ? nullptr : &out, err, document);
            parsed.Command->Run(session);
        }
    } catch (const Failed& failed) {
        status = failed.Status;
        error = failed.Message;
    } catch (const std::exception& e) {
        // What the commands do not foresee comes from the file system (a
        // working directory that went away) or from memory running out.
        status = FileFailed;
        error = e.what();
    }
    if (status != Done) {
        err << "zorm5816-cli: " << error
            << (status == WrongUsage ? " (zorm5816-cli --help lists the commands)" : "") << '\n';
    }
    if (json) {
        document["exit"] = status;
        if (status != Done) {
            document["error"] = error;
        }
        out << document.Text() << '\n';
    }
    out.flush();
    return status;
}

} // namespace zorm::cli
