// The commands that talk to the converter: identify, scan, measure,
// diagnostics and the two register commands.
#include "cli/session.h"

#include "data/evaluation.h"
#include "data/hex_byte.h"
#include "link/connection_search.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <sstream>
#include <thread>

namespace zorm::cli {

namespace {

using Clock = std::chrono::steady_clock;

// The window's texts for a reading that failed and for the sensors.
constexpr const char* FailedReading = "- - - ";
std::string SensorCaption(int sensor) {
    return "Snímač " + std::to_string(sensor);
}

// "1,3": sensors 1..3, each once, in ascending order.
std::vector<int> ParseSensors(std::string_view text) {
    std::array<bool, 3> chosen{};
    bool any = false;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view piece = text.substr(start, comma - start);
        if (piece.size() != 1 || piece[0] < '1' || piece[0] > '3' || chosen[piece[0] - '1']) {
            throw Failed{WrongUsage, "--sensors: expected sensors 1, 2 and 3, each at most once, "
                                     "separated by commas, got '" +
                                         std::string(text) + "'"};
        }
        chosen[piece[0] - '1'] = any = true;
        start = comma + 1;
    }
    std::vector<int> sensors;
    for (int s = 1; s <= 3; ++s) {
        if (chosen[s - 1]) {
            sensors.push_back(s);
        }
    }
    return sensors;
}

// Seconds between the starts of two passes: 0 to a day, a full stop as the
// decimal separator.
Clock::duration ParseInterval(const std::string& text) {
    double seconds = -1;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, seconds);
    if (text.empty() || ec != std::errc{} || stop != end || !(seconds >= 0 && seconds <= 86400)) {
        throw Failed{WrongUsage,
                     "--interval: expected seconds from 0 to 86400, got '" + text + "'"};
    }
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

struct RegisterName {
    std::string_view Word;
    std::string_view Caption; // as the register window lists it
};

// The read selectors 0..5 in the register window's order; the write
// selectors 0..3 are its last four.
constexpr std::array<RegisterName, 6> Registers{{
    {"status", "Status registr (1)"},
    {"data", "Data registr (3)"},
    {"mode", "Mode registr (2)"},
    {"filter", "Filter registr (2)"},
    {"offset", "Offset registr (1)"},
    {"gain", "Gain registr (1)"},
}};
constexpr std::size_t FirstWritable = 2;

std::size_t RegisterIndex(std::string_view word, std::size_t first) {
    std::string lower(word);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string names;
    for (std::size_t k = first; k < Registers.size(); ++k) {
        if (Registers[k].Word == lower) {
            return k;
        }
        names += (names.empty() ? "" : ", ") + std::string(Registers[k].Word);
    }
    throw Failed{WrongUsage,
                 "unknown register '" + std::string(word) + "': expected one of " + names};
}

// Two hexadecimal digits of either case; the window's reading of them (its
// entries take upper-case digits) gives the value.
std::uint8_t ParseRegisterByte(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper.size() != 2 || !std::all_of(upper.begin(), upper.end(),
                                          [](unsigned char c) { return std::isxdigit(c) != 0; })) {
        throw Failed{WrongUsage, "'" + std::string(text) +
                                     "' is no register byte: expected two hexadecimal digits, "
                                     "as 7F"};
    }
    return ParseHexByte(upper);
}

// The link settings and the converter of a device command.
void ConnectWithSettings(Session& session) {
    session.LoadParameters(false);
    session.TakeAddress();
    session.Connect();
}

} // namespace

void Identify(Session& session) {
    ConnectWithSettings(session);
    std::string type;
    if (session.FoundType()) {
        type = *session.FoundType();
    } else {
        type = session.Link.ReadDeviceType().substr(0, 9);
        if (type == DeviceTypeError) {
            throw Failed{DeviceFailed, "no converter answered at " + session.Where()};
        }
    }
    const std::string text =
        "Připojeno zařízení " + type + " na portu COM" + std::to_string(session.Port());
    session.Document["type"] = type;
    session.Document["text"] = text;
    if (session.Text != nullptr) {
        *session.Text << text << '\n';
    }
}

void Scan(Session& session) {
    session.LoadParameters(false);
    const unsigned timeoutMs = session.Args.Number("--timeout-ms", 1, 10000).value_or(100);
    const std::uint8_t port = static_cast<std::uint8_t>(
        session.Args.Number("--port", 1, 255)
            .value_or(SearchStart(session.Context.DeviceSettings.PortNumber)));
    // A converter answers within its turnaround and six byte times; the
    // identification's own second of patience is for the search.
    CommTimeouts timeouts;
    timeouts.ReadTotalMultiplier = 0;
    timeouts.ReadTotalConstant = timeoutMs;
    session.Link.SetPortTimeouts(timeouts);
    if (!session.Link.OpenPort(port)) {
        throw Failed{DeviceFailed, session.OpenFailure(port)};
    }
    session.Document["port"] = port;
    session.Document["timeout_ms"] = timeoutMs;
    Json& addresses = session.Document["addresses"] = Json::Array{};
    Json& found = session.Document["found"] = Json::Array{};
    int answered = 0;
    bool previousSilent = false;
    for (std::uint8_t address = 1; address <= 10; ++address) {
        session.Context.DeviceSettings.DeviceAddress = address;
        std::string type = session.Link.ReadDeviceType().substr(0, 9);
        // The reply of a converter that answered the address before too late
        // would stand in this read: after a silent address only an answer to
        // a second question counts.
        if (type != DeviceTypeError && previousSilent) {
            type = session.Link.ReadDeviceType().substr(0, 9);
        }
        const bool silent = type == DeviceTypeError;
        Json entry = Json::Object();
        entry["address"] = address;
        entry["type"] = silent ? Json() : Json(type);
        addresses.Add(std::move(entry));
        if (!silent) {
            found.Add(address);
            ++answered;
        }
        if (session.Text != nullptr) {
            *session.Text << "address " << unsigned{address} << ": "
                          << (silent ? "no answer" : type) << '\n'
                          << std::flush;
        }
        previousSilent = silent;
    }
    if (answered == 0) {
        throw Failed{DeviceFailed, "no converter answered on COM" + std::to_string(port) +
                                       " at the addresses 1 to 10 within " +
                                       std::to_string(timeoutMs) + " ms"};
    }
}

void Measure(Session& session) {
    const Arguments& args = session.Args;
    const std::vector<int> sensors = ParseSensors(args.Value("--sensors").value_or("1,2,3"));
    const unsigned count = args.Number("--count", 1, 1'000'000).value_or(1);
    const Clock::duration interval = ParseInterval(args.Value("--interval").value_or("1"));
    if (args.Has("--raw") && args.Has("--celsius")) {
        throw Failed{WrongUsage, "--raw and --celsius exclude each other"};
    }
    session.LoadParameters(args.Has("--celsius"));
    DeviceSettings& settings = session.Context.DeviceSettings;
    const bool celsius = args.Has("--celsius") || (!args.Has("--raw") && settings.ShowCelsius != 0);
    if (args.Has("--unfiltered")) {
        settings.FilterOn = 0;
    }
    session.TakeAddress();
    session.Connect();

    session.Document["filter"] = settings.FilterOn != 0;
    session.Document["unit"] = celsius ? "°C" : "raw";
    Json& chosen = session.Document["sensors"] = Json::Array{};
    std::string heading;
    for (const int s : sensors) {
        chosen.Add(s);
        heading += (heading.empty() ? "" : "\t") + SensorCaption(s);
    }
    if (session.Text != nullptr) {
        *session.Text << heading << '\n' << std::flush;
    }
    Json& passes = session.Document["passes"] = Json::Array{};
    std::optional<Failed> failure;
    Clock::time_point start = Clock::now();
    for (unsigned pass = 1; pass <= count; ++pass) {
        if (pass > 1) {
            // The next pass is due an interval after the start of this one; a
            // pass that took longer is followed at once.
            std::this_thread::sleep_until(start + interval);
            start = Clock::now();
        }
        Json& readings = passes.Add(Json::Array{});
        std::string line;
        for (const int s : sensors) {
            Json reading = Json::Object();
            reading["sensor"] = s;
            std::string text = FailedReading;
            if (!session.Link.MeasureChannel(static_cast<std::uint8_t>(s))) {
                reading["raw"] = nullptr;
                failure = failure.value_or(Failed{DeviceFailed, "no valid reading of sensor " +
                                                                    std::to_string(s) + " from " +
                                                                    session.Where()});
            } else {
                const std::int32_t raw = session.Context.LastReading;
                reading["raw"] = raw;
                text = std::to_string(raw);
                if (celsius) {
                    FormatTemperature(session.Context.UserParams, raw, s, text,
                                      session.Env.DecimalSeparator);
                    float t = 0;
                    const bool evaluated =
                        EvaluateCubic(session.Context.UserParams.Coefficients, raw, s, t);
                    reading["celsius"] = evaluated ? Json(double{t}) : Json();
                    if (!evaluated) {
                        failure = failure.value_or(Failed{
                            FileFailed, "the user set of Parametry.par gives no temperature of "
                                        "sensor " +
                                            std::to_string(s) + " for the raw reading " +
                                            std::to_string(raw) + " (" + text + ")"});
                    }
                }
            }
            reading["text"] = text;
            readings.Add(std::move(reading));
            line += (line.empty() ? "" : "\t") + text;
        }
        if (session.Text != nullptr) {
            *session.Text << line << '\n' << std::flush;
        }
    }
    if (failure) {
        throw *failure;
    }
}

void Diagnostics(Session& session) {
    ConnectWithSettings(session);
    const std::string text = session.Link.ReadDiagnostics(1);
    if (text == DiagnosticsError) {
        throw Failed{DeviceFailed, "no valid diagnostics reply from " + session.Where()};
    }
    // "Vysledek: w1   w2   ...   w18      N:n"
    std::istringstream fields(text.substr(text.find(':') + 1));
    Json& words = session.Document["words"] = Json::Array{};
    std::string field;
    while (fields >> field && !field.starts_with("N:")) {
        words.Add(std::stoi(field));
    }
    session.Document["count"] = std::stoi(field.substr(2));
    session.Document["text"] = text;
    if (session.Text != nullptr) {
        *session.Text << text << '\n';
    }
}

void RegisterRead(Session& session) {
    const std::size_t selector = RegisterIndex(session.Args.Operands[0], 0);
    ConnectWithSettings(session);
    if (!session.Link.ReadAdcRegister(static_cast<std::uint8_t>(selector))) {
        throw Failed{DeviceFailed, "no valid reply to the register read from " + session.Where()};
    }
    // As the window shows them: the third byte first.
    const AdcRegBytes& bytes = session.Context.AdcRegBytes;
    Json& document = session.Document;
    document["register"] = Registers[selector].Caption;
    document["bytes"] = Json::Array{bytes[0], bytes[1], bytes[2]};
    std::string decimal = "Dekadicky:";
    std::string hex = "Hexadecimálně:";
    for (int k = 2; k >= 0; --k) {
        const std::string digit = std::to_string(k + 1);
        document["RegD" + digit] = std::to_string(bytes[k]);
        document["RegH" + digit] = HexByteText(bytes[k]);
        decimal += " " + std::to_string(bytes[k]);
        hex += " " + HexByteText(bytes[k]);
    }
    if (session.Text != nullptr) {
        *session.Text << Registers[selector].Caption << '\n' << decimal << '\n' << hex << '\n';
    }
}

void RegisterWrite(Session& session) {
    const std::vector<std::string>& operands = session.Args.Operands;
    const std::size_t index = RegisterIndex(operands[0], FirstWritable);
    const std::uint8_t first = ParseRegisterByte(operands[1]);
    const std::uint8_t second = ParseRegisterByte(operands[2]);
    ConnectWithSettings(session);
    AdcRegBytes& bytes = session.Context.AdcRegBytes;
    bytes[1] = first;
    bytes[0] = second;
    Json& document = session.Document;
    document["register"] = Registers[index].Caption;
    document["RegD2"] = std::to_string(first);
    document["RegD1"] = std::to_string(second);
    if (!session.Link.WriteAdcRegister(static_cast<std::uint8_t>(index - FirstWritable))) {
        throw Failed{DeviceFailed, "no valid reply to the register write from " + session.Where()};
    }
    if (session.Text != nullptr) {
        *session.Text << Registers[index].Caption << "\nDekadicky " << unsigned{first} << ' '
                      << unsigned{second} << '\n';
    }
}

} // namespace zorm::cli
