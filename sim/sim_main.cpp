// zorm5816-sim: a ZORM5816A converter on a pseudo-terminal, linked as
// DIR/COMn so that the program (or any client of the POSIX serial backend
// run in DIR) finds it as port n.

#include "sim/converter_sim.h"
#include "sim/pty_server.h"

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
#include <string>
#include <string_view>
#include <vector>

#include <sys/prctl.h>

namespace {

constexpr const char* Usage =
    "usage: zorm5816-sim --dir DIR --port N [--address A] [--type XXXX]\n"
    "                    [--raw R1,R2,R3] [--model] [--pace] [--fault KIND]\n"
    "                    [--raw-file FILE] [--no-broadcast] [--log FILE]\n"
    "\n"
    "  --dir DIR        directory in which the link COMn is made (must exist)\n"
    "  --port N         port number n, 1..255: the link is DIR/COMn\n"
    "  --address A      the converter's address, 0..255 (default 1)\n"
    "  --type XXXX      four type characters (default 5816: \"ZORM5816A\")\n"
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
    "  --no-broadcast   do not answer frames addressed to 0\n"
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
    zorm::sim::ConverterConfig Config;
};

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
            if (!ParseNumber(value, 255, number)) {
                return "--address: expected a number from 0 to 255, got '" + std::string(value) +
                       "'";
            }
            options.Config.Address = static_cast<std::uint8_t>(number);
        } else if (arg == "--type") {
            if (value.size() != 4) {
                return "--type: expected exactly four characters, got '" + std::string(value) + "'";
            }
            for (std::size_t k = 0; k < 4; ++k) {
                options.Config.Type[k] = value[k];
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
    std::error_code ec;
    if (!std::filesystem::is_directory(options.Dir, ec)) {
        return "--dir: " + options.Dir.string() + " is not a directory";
    }
    return std::nullopt;
}

// Appends the frames the engine recognised to `path`, one line each.
bool WriteFrameLog(const std::filesystem::path& path, const zorm::sim::ConverterSim& engine) {
    std::ofstream out(path, std::ios::app);
    for (const zorm::sim::ReceivedFrame& frame : engine.Log()) {
        out << frame.At.count() << " ms:" << std::hex << std::setfill('0');
        for (const std::uint8_t byte : frame.Bytes) {
            out << ' ' << std::setw(2) << unsigned{byte};
        }
        out << std::dec << (frame.Answered ? " -> reply\n" : " -> no reply\n");
    }
    out.flush();
    return static_cast<bool>(out);
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

    zorm::sim::ConverterSim engine(options.Config);
    engine.SetFault(options.Fault);
    zorm::sim::PtyServer server(engine, options.Pace);
    if (!options.RawFile.empty()) {
        server.BeforeReceive([&] { ReadRawFile(options.RawFile, engine.Config().Raw); });
    }
    const std::filesystem::path link = options.Dir / ("COM" + std::to_string(*options.Port));
    int status = 0;
    try {
        server.Open();
        server.Link(link);
        std::cout << link.string() << std::endl;
        std::cerr << "zorm5816-sim: " << link.string() << " -> " << server.TerminalPath()
                  << ", address " << unsigned{options.Config.Address} << ", type "
                  << std::string(options.Config.Type.begin(), options.Config.Type.end())
                  << (options.Pace ? ", paced" : "") << ", fault "
                  << zorm::sim::FaultName(options.Fault) << std::endl;
        server.Serve(stopRequested, waitMask);
    } catch (const std::exception& e) {
        std::cerr << "zorm5816-sim: " << e.what() << std::endl;
        status = 1;
    }
    if (!options.Log.empty() && !WriteFrameLog(options.Log, engine)) {
        std::cerr << "zorm5816-sim: cannot write the frame log " << options.Log.string()
                  << std::endl;
        status = 1;
    }
    return status;
}
