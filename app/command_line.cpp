#include "app/command_line.h"

namespace zorm {

namespace fs = std::filesystem;

namespace {

// The value of `name` at args[i], given as "NAME VALUE" (i then moves on to
// the value) or as "NAME=VALUE"; nothing when args[i] is another argument,
// an empty value when it is missing.
std::optional<std::string_view> ValueOf(std::string_view name,
                                        const std::vector<std::string_view>& args, std::size_t& i) {
    const std::string_view arg = args[i];
    if (arg == name) {
        return ++i == args.size() ? std::string_view() : args[i];
    }
    if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
        return arg.substr(name.size() + 1);
    }
    return std::nullopt;
}

} // namespace

fs::path UserDataFolder(const char* xdgDataHome, const char* home) {
    // Relative values are to be ignored, as the XDG base directory rules say.
    if (xdgDataHome != nullptr && fs::path(xdgDataHome).is_absolute()) {
        return fs::path(xdgDataHome) / "zorm5816";
    }
    if (home != nullptr && fs::path(home).is_absolute()) {
        return fs::path(home) / ".local/share/zorm5816";
    }
    return {};
}

std::optional<std::string> ParseCommandLine(const std::vector<std::string_view>& args,
                                            const char* (*environment)(const char*),
                                            CommandLine& parsed) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        // One data folder: with two, which one the files went to would
        // depend on the order of the switches.
        const bool dataFolder =
            arg == "--user-data" || arg == "--data-dir" || arg.starts_with("--data-dir=");
        if (dataFolder && parsed.DataFolder) {
            return "--data-dir and --user-data name the data folder; give one of them, once";
        }
        if (arg == "--help" || arg == "-h") {
            parsed.Help = true;
        } else if (arg == "--version") {
            parsed.Version = true;
        } else if (arg == "--list-ports") {
            parsed.ListPorts = true;
        } else if (arg == "--service") {
            parsed.Service = true;
        } else if (const auto folder = ValueOf("--data-dir", args, i)) {
            if (folder->empty()) {
                return "--data-dir needs a folder";
            }
            parsed.DataFolder = fs::path(*folder);
        } else if (const auto address = ValueOf("--history", args, i)) {
            if (address->empty()) {
                return "--history needs the address of the shared database, "
                       "postgresql://USER@HOST[:PORT]/DB";
            }
            if (parsed.SharedDatabase) {
                return "--history names the shared database; give it once";
            }
            parsed.SharedDatabase = std::string(*address);
        } else if (arg == "--user-data") {
            parsed.DataFolder = UserDataFolder(environment("XDG_DATA_HOME"), environment("HOME"));
            if (parsed.DataFolder->empty()) {
                return "--user-data: neither XDG_DATA_HOME nor HOME names an absolute folder";
            }
        } else {
            return "unknown argument '" + std::string(arg) + "'";
        }
    }
    return std::nullopt;
}

std::string UsageText() {
    return "usage: zorm5816 [--data-dir DIR | --user-data] [--service] [--history URL]\n"
           "                [--list-ports]\n"
           "       zorm5816 --help | --version\n"
           "\n"
           "The service and calibration tool of the ZORM5816A temperature converter.\n"
           "It keeps Parametry.par, ZORM5816.par, ZORM5816.txt, Porty.txt and the\n"
           "calibration records (Historie.sqlite, Stanice.ini) in its data folder,\n"
           "the working directory unless one of these names another:\n"
           "\n"
           "  --data-dir DIR  work in DIR (made when missing)\n"
           "  --user-data     work in $XDG_DATA_HOME/zorm5816, or\n"
           "                  ~/.local/share/zorm5816 (the desktop entry uses this)\n"
           "  --service       show the button that opens the AD converter register\n"
           "                  window (for service technicians)\n"
           "  --history postgresql://USER@HOST[:PORT]/DB\n"
           "                  keep the calibration records also in this shared\n"
           "                  database for this run (the station settings name the\n"
           "                  usual one); the password comes from ~/.pgpass or\n"
           "                  PGPASSWORD, never from the address\n"
           "  --list-ports    print the port numbers COM1..COM29 and the serial devices\n"
           "                  they stand for, and where the search starts; no window\n"
           "  --help          print this text\n"
           "  --version       print the version\n"
           "\n"
           "Port n is the entry COMn of the data folder when there is one (a link to a\n"
           "device or to zorm5816-sim), otherwise the serial device numbered n in\n"
           "Porty.txt: each device gets the lowest free number when it is first seen.\n";
}

std::string VersionText() {
    return "zorm5816 " ZORM_VERSION "\n";
}

const char* ProgramVersion() {
    return ZORM_VERSION;
}

} // namespace zorm
