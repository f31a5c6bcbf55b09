// zorm5816-sim: a ZORM5816A converter on a pseudo-terminal, linked as
// DIR/COMn so that the program (or any client of the POSIX serial backend
// run in DIR) finds it as port n; or several converters with addresses of
// their own on that one line, as on an RS-485 bus.

#include "sim/converter_sim.h"
#include "sim/pty_server.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <sys/prctl.h>

namespace {

constexpr const char* Usage =
    "usage: zorm5816-sim --dir DIR --port N [--address A[,A...]] [--type XXXX[,XXXX...]]\n"
    "                    [--raw R1,R2,R3] [--model] [--pace] [--fault KIND]\n"
    "                    [--raw-file FILE] [--no-broadcast] [--log FILE]\n"
    "\n"
    "  --dir DIR        directory in which the link COMn is made (must exist)\n"
    "  --port N         port number n, 1..255: the link is DIR/COMn\n"
    "  --address A      the converter's address, 0..255 (default 1); a list of\n"
    "                   1..255 separated by commas puts one converter on the\n"
    "                   line for each, answering only its own address (none\n"
    "                   answers address 0, where they would all answer at once)\n"
    "  --type XXXX      four type characters (default 5816: \"ZORM5816A\"); with\n"
    "                   several addresses one type for all, or one per address\n"
    "                   separated by commas\n"
    "  --raw R1,R2,R3   raw readings of channels 1..3, 0..99999\n"
    "                   (default 21500,22500,23500)\n"
    "  --raw-file FILE  read R1,R2,R3 from FILE whenever a request comes in, so\n"
    "                   that a script can change the readings while the\n"
    "                   simulator runs; a missing or malformed file keeps the\n"
    "                   readings as they were\n"
    "  --model          let the readings swing slowly around the raw values\n"
    "  --pace           answer like a converter on a half-duplex line: 21 ms\n"
    "                   after the request, at 9600 baud\n"
    "  --fault KIND     none, silence, short, first-byte, echo, no-cr, check,\n"
    "                   late or garbage (default none)\n"
    "  --no-broadcast   do not answer frames addressed to 0 (one converter)\n"
    "  --log FILE       on stop, append one line per frame received to FILE:\n"
    "                   its time in ms, its bytes in hex, and whether it got\n"
    "                   a reply (\"1043 ms: 25 30 0d -> reply\")\n"
    "\n"
    "Prints the link's path on stdout when it is ready and serves until\n"
    "SIGINT or SIGTERM, then removes the link.\n";

struct Options {
    std::filesystem::path Dir;
    std::filesystem::path Log;
    std::filesystem::path RawFile;
    std::optional<unsigned> Port;
    bool Pace = false;
    bool Help = false;
    zorm::sim::Fault Fault = zorm::sim::Fault::None;
    // Everything but the address and the type, which come from the two lists.
    zorm::sim::ConverterConfig Config;
    std::vector<std::uint8_t> Addresses{1};
    std::vector<std::array<char, 4>> Types{{'5', '8', '1', '6'}};
};

// The pieces of a list separated by commas ("1,4,7"); one piece without any.
std::vector<std::string_view> SplitAtCommas(std::string_view text) {
    std::vector<std::string_view> pieces;
    for (std::size_t comma = text.find(','); comma != std::string_view::npos;
         comma = text.find(',')) {
        pieces.push_back(text.substr(0, comma));
        text.remove_prefix(comma + 1);
    }
    pieces.push_back(text);
    return pieces;
}

// One converter per address, each with its type (or all with the one type).
// Several converters on one line do not answer address 0: they would all
// answer at once.
std::vector<zorm::sim::ConverterSim> Converters(const Options& options) {
    std::vector<zorm::sim::ConverterSim> converters;
    for (std::size_t i = 0; i < options.Addresses.size(); ++i) {
        zorm::sim::ConverterConfig config = options.Config;
        config.Address = options.Addresses[i];
        config.Type = options.Types[options.Types.size() == 1 ? 0 : i];
        config.AnswerBroadcast = config.AnswerBroadcast && options.Addresses.size() == 1;
        converters.emplace_back(config);
        converters.back().SetFault(options.Fault);
    }
    return converters;
}

bool ParseNumber(std::string_view text, unsigned max, unsigned& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc{} && ptr == end && value <= max;
}

// "R1,R2,R3", three readings of 0..99999; false leaves `raw` as it was.
bool ParseRaw(std::string_view text, std::array<std::int32_t, 3>& raw) {
    std::array<std::int32_t, 3> parsed{};
    for (std::size_t k = 0; k < 3; ++k) {
        const std::size_t comma = text.find(',');
        const bool last = k == 2;
        unsigned number = 0;
        if ((comma == std::string_view::npos) != last ||
            !ParseNumber(text.substr(0, comma), 99999, number)) {
            return false;
        }
        parsed[k] = static_cast<std::int32_t>(number);
        text = last ? std::string_view{} : text.substr(comma + 1);
    }
    raw = parsed;
    return true;
}

// The readings from a --raw-file: its first line, blanks around it ignored.
void ReadRawFile(const std::filesystem::path& path, std::array<std::int32_t, 3>& raw) {
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line)) {
        return;
    }
    const std::size_t first = line.find_first_not_of(" \t\r");
    const std::size_t last = line.find_last_not_of(" \t\r");
    if (first != std::string::npos) {
        ParseRaw(std::string_view(line).substr(first, last - first + 1), raw);
    }
}

// Fills `options` from the arguments; on a mistake returns the message.
std::optional<std::string> ParseArguments(const std::vector<std::string_view>& args,
                                          Options& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.Help = true;
            continue;
        }
        if (arg == "--pace") {
            options.Pace = true;
            continue;
        }
        if (arg == "--model") {
            options.Config.TemperatureModel = true;
            continue;
        }
        if (arg == "--no-broadcast") {
            options.Config.AnswerBroadcast = false;
            continue;
        }
        const bool takesValue = arg == "--dir" || arg == "--port" || arg == "--address" ||
                                arg == "--type" || arg == "--raw" || arg == "--raw-file" ||
                                arg == "--fault" || arg == "--log";
        if (!takesValue) {
            return "unknown argument '" + std::string(arg) + "'";
        }
        if (i + 1 == args.size()) {
            return std::string(arg) + " needs a value";
        }
        const std::string_view value = args[++i];
        unsigned number = 0;
        if (arg == "--dir") {
            options.Dir = std::string(value);
        } else if (arg == "--log") {
            options.Log = std::string(value);
        } else if (arg == "--port") {
            if (!ParseNumber(value, 255, number) || number == 0) {
                return "--port: expected a number from 1 to 255, got '" + std::string(value) + "'";
            }
            options.Port = number;
        } else if (arg == "--address") {
            const std::vector<std::string_view> pieces = SplitAtCommas(value);
            options.Addresses.clear();
            for (const std::string_view piece : pieces) {
                const unsigned lowest = pieces.size() == 1 ? 0 : 1;
                if (!ParseNumber(piece, 255, number) || number < lowest ||
                    std::find(options.Addresses.begin(), options.Addresses.end(), number) !=
                        options.Addresses.end()) {
                    return "--address: expected a number from 0 to 255, or different numbers "
                           "from 1 to 255 separated by commas, got '" +
                           std::string(value) + "'";
                }
                options.Addresses.push_back(static_cast<std::uint8_t>(number));
            }
        } else if (arg == "--type") {
            options.Types.clear();
            for (const std::string_view piece : SplitAtCommas(value)) {
                if (piece.size() != 4) {
                    return "--type: expected four characters, or groups of four separated by "
                           "commas, got '" +
                           std::string(value) + "'";
                }
                options.Types.push_back({piece[0], piece[1], piece[2], piece[3]});
            }
        } else if (arg == "--raw") {
            if (!ParseRaw(value, options.Config.Raw)) {
                return "--raw: expected three numbers from 0 to 99999 separated by "
                       "commas, got '" +
                       std::string(value) + "'";
            }
        } else if (arg == "--raw-file") {
            options.RawFile = std::string(value);
        } else if (!zorm::sim::FaultFromName(std::string(value), options.Fault)) {
            return "--fault: unknown fault '" + std::string(value) + "'";
        }
    }
    if (options.Help) {
        return std::nullopt;
    }
    if (options.Dir.empty()) {
        return std::string("--dir is required");
    }
    if (!options.Port) {
        return std::string("--port is required");
    }
    if (options.Types.size() != 1 && options.Types.size() != options.Addresses.size()) {
        return "--type: " + std::to_string(options.Types.size()) + " types for " +
               std::to_string(options.Addresses.size()) + " addresses";
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(options.Dir, ec)) {
        return "--dir: " + options.Dir.string() + " is not a directory";
    }
    return std::nullopt;
}

// Appends the frames the converters recognised to `path`, one line each. They
// all see the same bytes on the line, so their logs hold the same frames; a
// frame got a reply when any of them answered it.
bool WriteFrameLog(const std::filesystem::path& path,
                   std::span<const zorm::sim::ConverterSim> converters) {
    std::ofstream out(path, std::ios::app);
    const std::vector<zorm::sim::ReceivedFrame>& frames = converters.front().Log();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const bool answered =
            std::any_of(converters.begin(), converters.end(),
                        [i](const zorm::sim::ConverterSim& c) { return c.Log()[i].Answered; });
        out << frames[i].At.count() << " ms:" << std::hex << std::setfill('0');
        for (const std::uint8_t byte : frames[i].Bytes) {
            out << ' ' << std::setw(2) << unsigned{byte};
        }
        out << std::dec << (answered ? " -> reply\n" : " -> no reply\n");
    }
    out.flush();
    return static_cast<bool>(out);
}

// The items of `items` as `text` writes them, separated by commas.
template <class Item, class Text> std::string Listed(const std::vector<Item>& items, Text text) {
    std::string listed;
    for (const Item& item : items) {
        listed += (listed.empty() ? "" : ",") + text(item);
    }
    return listed;
}

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (const auto error = ParseArguments(args, options)) {
        std::cerr << "zorm5816-sim: " << *error << "\n\n" << Usage;
        return 2;
    }
    if (options.Help) {
        std::cout << Usage;
        return 0;
    }

    // The stop signals are let in only while the server waits (see Serve).
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stopSignals, sig);
        struct sigaction action {};
        action.sa_handler = RequestStop;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, nullptr);
    }
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        sigdelset(&waitMask, sig);
    }
    // Paced bytes are due every 1.04 ms; the default timer slack of 50 us
    // would make each of them late.
    prctl(PR_SET_TIMERSLACK, 1UL);

    std::vector<zorm::sim::ConverterSim> converters = Converters(options);
    zorm::sim::PtyServer server(converters, options.Pace);
    if (!options.RawFile.empty()) {
        server.BeforeReceive([&] {
            std::array<std::int32_t, 3> raw = converters.front().Config().Raw;
            ReadRawFile(options.RawFile, raw);
            for (zorm::sim::ConverterSim& converter : converters) {
                converter.Config().Raw = raw;
            }
        });
    }
    const std::filesystem::path link = options.Dir / ("COM" + std::to_string(*options.Port));
    int status = 0;
    try {
        server.Open();
        server.Link(link);
        std::cout << link.string() << std::endl;
        std::cerr << "zorm5816-sim: " << link.string() << " -> " << server.TerminalPath()
                  << ", address "
                  << Listed(options.Addresses, [](std::uint8_t a) { return std::to_string(a); })
                  << ", type "
                  << Listed(options.Types,
                            [](const std::array<char, 4>& t) {
                                return std::string(t.begin(), t.end());
                            })
                  << (options.Pace ? ", paced" : "") << ", fault "
                  << zorm::sim::FaultName(options.Fault) << std::endl;
        server.Serve(stopRequested, waitMask);
    } catch (const std::exception& e) {
        std::cerr << "zorm5816-sim: " << e.what() << std::endl;
        status = 1;
    }
    if (!options.Log.empty() && !WriteFrameLog(options.Log, converters)) {
        std::cerr << "zorm5816-sim: cannot write the frame log " << options.Log.string()
                  << std::endl;
        status = 1;
    }
    return status;
}
