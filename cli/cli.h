// zorm5816-cli: the converter from scripts and production stations.
//
// The program's commands run in process: Run takes the arguments after the
// program's name and the two output streams, and returns the exit status, so
// that tests call it with redirected streams. main() only hands it the
// process's own.
#pragma once

#include "link/port_names.h"

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace zorm::cli {

// The exit statuses.
enum ExitStatus : int {
    Done = 0,
    // The converter did not answer, or answered wrongly (also: the port
    // could not be opened).
    DeviceFailed = 1,
    WrongUsage = 2,
    // A file could not be read or written, or its contents are no use
    // (a damaged Parametry.par, points that give no fit).
    FileFailed = 3,
};

// What the program takes from the machine it runs on.
struct Environment {
    // The decimal separator of the number texts, as the regional settings
    // give it.
    char DecimalSeparator = '.';
    // Where the serial devices are described (tests point it at a fake).
    SystemRoots Roots;
};

// Runs one command. The results go to `out`: text for people, or with --json
// exactly one JSON document (also when the command fails). Errors and
// warnings go to `err`, an error in one line.
int Run(const std::vector<std::string_view>& args, std::ostream& out, std::ostream& err,
        const Environment& environment = {});

// The texts of --help and --version.
std::string UsageText();
std::string VersionText();

} // namespace zorm::cli
