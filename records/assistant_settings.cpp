#include "records/assistant_settings.h"

#include "data/key_value_lines.h"
#include "records/station_settings.h"

#include <array>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>

namespace zorm {

namespace {

// The numbers of the panel, each with its key and what it may be.
struct NumberKey {
    std::string_view Key;
    double StabilitySettings::*Own = nullptr;
    StabilityLimits StabilitySettings::*Limits = nullptr;
    double StabilityLimits::*Limit = nullptr;
};

constexpr std::string_view OpenKey = "Assistant.Open";
constexpr std::string_view WindowKey = "Assistant.WindowSeconds";

constexpr std::array<NumberKey, 5> Numbers = {{
    {WindowKey, &StabilitySettings::WindowSeconds, nullptr, nullptr},
    {"Assistant.SlopeLimitCelsius", nullptr, &StabilitySettings::Celsius,
     &StabilityLimits::SlopePerMinute},
    {"Assistant.DeviationLimitCelsius", nullptr, &StabilitySettings::Celsius,
     &StabilityLimits::StandardDeviation},
    {"Assistant.SlopeLimitBits", nullptr, &StabilitySettings::Bits,
     &StabilityLimits::SlopePerMinute},
    {"Assistant.DeviationLimitBits", nullptr, &StabilitySettings::Bits,
     &StabilityLimits::StandardDeviation},
}};

double& Target(StabilitySettings& settings, const NumberKey& number) {
    return number.Own ? settings.*number.Own : settings.*number.Limits.*number.Limit;
}

double Target(const StabilitySettings& settings, const NumberKey& number) {
    return number.Own ? settings.*number.Own : settings.*number.Limits.*number.Limit;
}

// A number written with a decimal point or a comma, and nothing else.
std::optional<double> Number(std::string_view text) {
    std::string written(text);
    for (char& c : written) {
        if (c == ',') {
            c = '.';
        }
    }
    double value = 0;
    const char* const end = written.data() + written.size();
    const auto [stop, error] = std::from_chars(written.data(), end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

bool Acceptable(const NumberKey& number, double value) {
    if (number.Own == &StabilitySettings::WindowSeconds) {
        return value == std::floor(value) && value >= ShortestStabilityWindow &&
               value <= LongestStabilityWindow;
    }
    return value > 0;
}

std::string NumberText(double value) {
    std::array<char, 32> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), written.ptr);
}

} // namespace

bool ReadAssistantLine(std::string_view key, std::string_view value, AssistantSettings& settings) {
    if (SameKey(key, OpenKey)) {
        settings.Open = value == "1";
        return true;
    }
    for (const NumberKey& number : Numbers) {
        if (SameKey(key, number.Key)) {
            const std::optional<double> read = Number(value);
            Target(settings.Stability, number) =
                read && Acceptable(number, *read) ? *read : Target(StabilitySettings{}, number);
            return true;
        }
    }
    return false;
}

std::string AssistantLines(const AssistantSettings& settings) {
    std::string lines;
    if (settings.Open) {
        lines += std::string(OpenKey) + "=1\n";
    }
    for (const NumberKey& number : Numbers) {
        const double value = Target(settings.Stability, number);
        if (value != Target(StabilitySettings{}, number)) {
            lines += std::string(number.Key) + "=" + NumberText(value) + "\n";
        }
    }
    return lines;
}

AssistantSettings LoadAssistantSettings() {
    return LoadStationSettings().Assistant;
}

bool SaveAssistantSettings(const AssistantSettings& settings) {
    // Read as missing, a file that cannot be read would come back holding the
    // assistant's lines alone, without the operator, the reference and the
    // tags.
    std::error_code error;
    if (std::filesystem::exists(StationSettingsFileName, error) &&
        !std::ifstream(StationSettingsFileName).is_open()) {
        return false;
    }
    StationSettings station = LoadStationSettings();
    station.Assistant = settings;
    return SaveStationSettings(station);
}

} // namespace zorm
