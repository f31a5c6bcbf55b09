#include "cli/session.h"

#include "data/param_files.h"
#include "link/connection_search.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace zorm::cli {

namespace fs = std::filesystem;

namespace {

constexpr OptionSpec DataDirOption{"--data-dir", "DIR", ""};

// The option of any command by that name: they all agree on whether it
// takes a value, so the options can be read before the command is known.
const OptionSpec* FindOption(std::string_view name) {
    if (name == DataDirOption.Name) {
        return &DataDirOption;
    }
    for (const CommandSpec& command : Commands()) {
        for (const OptionSpec& option : command.Options) {
            if (option.Name == name) {
                return &option;
            }
        }
    }
    return nullptr;
}

const CommandSpec* FindCommand(std::string_view name) {
    const auto& commands = Commands();
    const auto found = std::find_if(commands.begin(), commands.end(),
                                    [name](const CommandSpec& c) { return c.Name == name; });
    return found == commands.end() ? nullptr : &*found;
}

bool Allowed(const CommandSpec& command, std::string_view option) {
    return option == DataDirOption.Name ||
           std::any_of(command.Options.begin(), command.Options.end(),
                       [option](const OptionSpec& o) { return o.Name == option; });
}

Failed Usage(std::string message) {
    return Failed{WrongUsage, std::move(message)};
}

} // namespace

Arguments Arguments::Parse(const std::vector<std::string_view>& args) {
    Arguments parsed;
    std::vector<std::string_view> words;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--json") {
            parsed.Json = true;
        } else if (arg == "--help" || arg == "-h") {
            parsed.Help = true;
        } else if (arg == "--version") {
            parsed.Version = true;
        } else if (arg.starts_with("-") && arg.size() > 1) {
            const std::size_t equals = arg.find('=');
            const std::string name(arg.substr(0, equals));
            const OptionSpec* option = FindOption(name);
            if (option == nullptr) {
                throw Usage("unknown option '" + name + "'");
            }
            std::string value;
            if (option->Value.empty()) {
                if (equals != std::string_view::npos) {
                    throw Usage(name + " takes no value");
                }
            } else if (equals != std::string_view::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                throw Usage(name + " needs a value (" + std::string(option->Value) + ")");
            }
            if (!parsed.options_.emplace(name, value).second) {
                throw Usage(name + " is given twice");
            }
        } else {
            words.push_back(arg);
        }
    }
    if (words.empty()) {
        if (parsed.Help || parsed.Version) {
            return parsed;
        }
        throw Usage("no command given");
    }
    std::string name(words.front());
    std::size_t used = 1;
    if (name == "register" && words.size() > 1) {
        name += " " + std::string(words[1]);
        used = 2;
    }
    parsed.Command = FindCommand(name);
    if (parsed.Command == nullptr) {
        throw Usage(name == "register" ? "register needs 'read' or 'write'"
                                       : "unknown command '" + name + "'");
    }
    for (const auto& [option, value] : parsed.options_) {
        if (!Allowed(*parsed.Command, option)) {
            throw Usage(name + " takes no " + option);
        }
    }
    parsed.Operands.assign(words.begin() + static_cast<std::ptrdiff_t>(used), words.end());
    if (!parsed.Help && parsed.Operands.size() != parsed.Command->OperandCount) {
        throw Usage(parsed.Command->OperandCount == 0
                        ? name + " takes no operand, got '" + parsed.Operands.front() + "'"
                        : name + " needs " + std::string(parsed.Command->Operands));
    }
    return parsed;
}

std::optional<std::string> Arguments::Value(std::string_view option) const {
    const auto found = options_.find(option);
    if (found == options_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<unsigned> Arguments::Number(std::string_view option, unsigned lowest,
                                          unsigned highest) const {
    const std::optional<std::string> text = Value(option);
    if (!text) {
        return std::nullopt;
    }
    unsigned value = 0;
    const char* end = text->data() + text->size();
    const auto [stop, ec] = std::from_chars(text->data(), end, value);
    if (text->empty() || ec != std::errc{} || stop != end || value < lowest || value > highest) {
        throw Usage(std::string(option) + ": expected a number from " + std::to_string(lowest) +
                    " to " + std::to_string(highest) + ", got '" + *text + "'");
    }
    return value;
}

Session::Session(const Arguments& args, const Environment& environment, std::ostream* text,
                 std::ostream& err, Json& document)
    : Args(args), Env(environment), Text(text), Err(err), Document(document),
      Link(Context, NumberedPortOpener(environment.Roots, PosixDeviceOpener(), &Denied)) {}

void Session::LoadParameters(bool userSetNeeded) {
    const std::string where = (fs::current_path() / ParametersFileName).string();
    std::error_code ec;
    const fs::file_status entry = fs::symlink_status(ParametersFileName, ec);
    if (!fs::exists(entry)) {
        if (userSetNeeded) {
            throw Failed{FileFailed, "cannot read " + where + ": " + std::strerror(ENOENT)};
        }
        // What the window program takes after it could not read the file.
        DeviceSettings& settings = Context.DeviceSettings;
        settings.PortNumber = 1;
        settings.RtsOnTransmit = 1;
        settings.FilterOn = 1;
        Err << "zorm5816-cli: warning: no " << where
            << "; the settings of a first start apply (port 1, address 0)\n";
        return;
    }
    const std::uintmax_t size = fs::file_size(ParametersFileName, ec);
    if (ec) {
        throw Failed{FileFailed, "cannot read " + where + ": " + ec.message()};
    }
    if (size != ParametersFileSize) {
        throw Failed{FileFailed, where + " is damaged: " + std::to_string(size) +
                                     " bytes instead of " + std::to_string(ParametersFileSize)};
    }
    if (!zorm::LoadParameters(Context)) {
        throw Failed{FileFailed, "cannot read " + where};
    }
}

void Session::TakeAddress() {
    if (const auto address = Args.Number("--address", 1, 10)) {
        Context.DeviceSettings.DeviceAddress = static_cast<std::uint8_t>(*address);
    }
}

void Session::Connect() {
    if (const auto port = Args.Number("--port", 1, 255)) {
        port_ = static_cast<std::uint8_t>(*port);
        if (!Link.OpenPort(port_)) {
            throw Failed{DeviceFailed, OpenFailure(port_)};
        }
    } else {
        const std::uint8_t start = SearchStart(Context.DeviceSettings.PortNumber);
        const std::optional<FoundConverter> found =
            SearchConverter(Link, Context.DeviceSettings.PortNumber);
        if (!found) {
            std::string message = "no converter answered at address " + std::to_string(Address()) +
                                  " on COM1 to COM" + std::to_string(PortsSearched) +
                                  " (searched from COM" + std::to_string(start) + ")";
            for (const DeniedPort& denied : Denied.Denied()) {
                message += "; " + OpenFailure(denied.Number);
            }
            throw Failed{DeviceFailed, message};
        }
        port_ = found->Port;
        foundType_ = found->DeviceType;
    }
    Document["port"] = port_;
    Document["address"] = Address();
}

std::string Session::Where() const {
    return "address " + std::to_string(Address()) + " on COM" + std::to_string(port_);
}

std::string Session::OpenFailure(std::uint8_t n) const {
    const std::string port = "COM" + std::to_string(n);
    const auto& denied = Denied.Denied();
    const auto refused = std::find_if(denied.begin(), denied.end(),
                                      [n](const DeniedPort& d) { return d.Number == n; });
    if (refused == denied.end()) {
        return "cannot open " + port + ": no such port, or it is in use";
    }
    std::string message = "cannot open " + port + ": " + refused->Device + " refuses this user";
    if (!refused->Group.empty()) {
        message += "; members of the group " + refused->Group + " may use it (sudo usermod -a -G " +
                   refused->Group + " $USER, from the next login on)";
    }
    return message;
}

} // namespace zorm::cli
