// The program's command line. Started without arguments it does what it
// always did: the main window over the working directory.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorm {

struct CommandLine {
    bool Help = false;
    bool Version = false;
    bool ListPorts = false;
    // Shows the picture button that opens the register window.
    bool Service = false;
    // The data folder to work in; none: the working directory.
    std::optional<std::filesystem::path> DataFolder;
    // --history: the shared database of the calibration records for this
    // run, in place of the one the station settings name.
    std::optional<std::string> SharedDatabase;
};

// Where the desktop entry keeps a user's files: $XDG_DATA_HOME/zorm5816, or
// ~/.local/share/zorm5816 when XDG_DATA_HOME is unset, empty or relative.
// Empty when neither that nor HOME gives an absolute folder.
std::filesystem::path UserDataFolder(const char* xdgDataHome, const char* home);

// Parses the arguments after the program's name. `environment` looks up an
// environment variable (null when unset). On a mistake returns the message.
std::optional<std::string> ParseCommandLine(const std::vector<std::string_view>& args,
                                            const char* (*environment)(const char*),
                                            CommandLine& parsed);

// The text of --help and of --version.
std::string UsageText();
std::string VersionText();
// The version alone, "1.0.0", as the calibration records name it.
const char* ProgramVersion();

} // namespace zorm
