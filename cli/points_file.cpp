#include "cli/points_file.h"

#include "data/calibration.h"

#include <charconv>

namespace zorm::cli {

namespace {

// A collection completes at most 29 points: slot 30 never gets a true
// temperature.
constexpr int MaxCollectedPoints = SensorParamSet::Points - 1;
constexpr std::int32_t MaxRaw = 99999;

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::variant<std::vector<CalibrationPoint>, std::string> ParsePoints(std::string_view text) {
    constexpr std::string_view Bom = "\xEF\xBB\xBF";
    if (text.starts_with(Bom)) {
        text.remove_prefix(Bom.size());
    }
    std::vector<CalibrationPoint> points;
    for (int number = 1; !text.empty(); ++number) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        line = Trimmed(line);
        if (line.empty() || line.starts_with('#')) {
            continue;
        }
        const std::string where = "line " + std::to_string(number) + ": ";
        const std::size_t semicolon = line.find(';');
        if (semicolon == std::string_view::npos ||
            line.find(';', semicolon + 1) != std::string_view::npos) {
            return where + "expected a raw reading and a temperature separated by ';'";
        }
        const std::string_view rawText = Trimmed(line.substr(0, semicolon));
        const std::string_view trueText = line.substr(semicolon + 1);
        CalibrationPoint point;
        const char* rawEnd = rawText.data() + rawText.size();
        const auto [stop, ec] = std::from_chars(rawText.data(), rawEnd, point.Raw);
        if (rawText.empty() || ec != std::errc{} || stop != rawEnd || point.Raw < 0 ||
            point.Raw > MaxRaw) {
            return where + "the raw reading '" + std::string(rawText) +
                   "' is no whole number from 0 to 99999";
        }
        auto temperature = ParseTemperature(trueText, '.');
        if (!temperature) {
            temperature = ParseTemperature(trueText, ',');
        }
        if (!temperature) {
            return where + "the temperature '" + std::string(Trimmed(trueText)) + "' is no number";
        }
        point.TrueTemp = *temperature;
        points.push_back(point);
    }
    const int n = static_cast<int>(points.size());
    if (n < MinFitPoints || n > MaxCollectedPoints) {
        return std::to_string(n) + " points; a fit takes 4 to 29";
    }
    return points;
}

} // namespace zorm::cli
