// What every command of zorm5816-cli stands on: its parsed arguments, the one
// shared context, the link, the JSON document it fills, and the steps that
// fail with the right exit status (read Parametry.par, open the port or
// search for the converter).
#pragma once

#include "cli/cli.h"
#include "cli/json.h"
#include "data/context.h"
#include "link/drv232.h"
#include "link/port_access.h"

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace zorm::cli {

// Ends a command with an exit status and the one line that says why.
struct Failed {
    int Status = DeviceFailed;
    std::string Message;
};

class Session;

struct OptionSpec {
    std::string_view Name;
    std::string_view Value; // the value's name in the help, empty for a switch
    std::string_view Help;
};

struct CommandSpec {
    std::string_view Name; // "identify", "register read"
    std::string_view Operands;
    std::size_t OperandCount = 0;
    std::string_view Summary;
    std::vector<OptionSpec> Options; // besides --data-dir, --json and --help
    void (*Run)(Session&) = nullptr;
};

// The commands, in the order of the help.
const std::vector<CommandSpec>& Commands();

class Arguments {
public:
    const CommandSpec* Command = nullptr;
    std::vector<std::string> Operands;
    bool Json = false;
    bool Help = false;
    bool Version = false;

    // Parses the arguments after the program's name; throws Failed with
    // WrongUsage on a mistake.
    static Arguments Parse(const std::vector<std::string_view>& args);

    bool Has(std::string_view option) const { return options_.contains(option); }
    std::optional<std::string> Value(std::string_view option) const;
    // The value of a numeric option within lowest..highest, or nothing when
    // the option is not given; a value that is no such number is wrong usage.
    std::optional<unsigned> Number(std::string_view option, unsigned lowest,
                                   unsigned highest) const;

private:
    std::map<std::string, std::string, std::less<>> options_;
};

class Session {
public:
    Session(const Arguments& args, const Environment& environment, std::ostream* text,
            std::ostream& err, Json& document);

    const Arguments& Args;
    const Environment& Env;
    // The text for people; null with --json.
    std::ostream* Text;
    std::ostream& Err;
    // The command's fields of the JSON document.
    Json& Document;
    zorm::Context Context;
    PortAccessLog Denied;
    Drv232 Link;

    // Reads Parametry.par of the data folder. A missing file leaves the
    // settings of a first start (port 1, address 0, RTS set while
    // transmitting, filter on) and zero sets, and says so on `Err`, unless
    // `userSetNeeded` (a user set of zeros would give wrong results without
    // a word): then, as for a file that cannot be read or is not 1653 bytes
    // long (damaged), the command fails with FileFailed.
    void LoadParameters(bool userSetNeeded);
    // --address, when given, replaces the stored address for this run.
    void TakeAddress();
    // Opens the port of --port, or searches from PortNumber as the window
    // program does at start. Fails with DeviceFailed when the port cannot be
    // opened or no port answers. Puts "port" and "address" into the document.
    void Connect();
    // The identification text found by the search, when Connect searched.
    const std::optional<std::string>& FoundType() const { return foundType_; }
    std::uint8_t Port() const { return port_; }
    std::uint8_t Address() const { return Context.DeviceSettings.DeviceAddress; }

    // "COM3" and, with the address: "address 2 on COM3".
    std::string Where() const;
    // Why port n did not open: the device that refused this user and the
    // group that may use it, or a port that is missing or in use.
    std::string OpenFailure(std::uint8_t n) const;

private:
    std::uint8_t port_ = 0;
    std::optional<std::string> foundType_;
};

// The commands.
void Ports(Session& session);
void Identify(Session& session);
void Scan(Session& session);
void Measure(Session& session);
void Diagnostics(Session& session);
void RegisterRead(Session& session);
void RegisterWrite(Session& session);
void Export(Session& session);
void Fit(Session& session);

} // namespace zorm::cli
