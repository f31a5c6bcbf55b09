#include "records/station_settings.h"

#include "data/key_value_lines.h"
#include "data/param_files.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <span>

namespace zorm {

namespace {

// A station file holds a few dozen lines; this leaves room for many tags.
constexpr std::size_t StationFileLimit = 256 * 1024;

constexpr std::string_view TagPrefix = "Tag.COM";

struct Field {
    std::string_view Key;
    std::string StationSettings::*Own = nullptr;
    std::string ReferenceInstrument::*OfReference = nullptr;
};

constexpr std::array<Field, 6> Fields = {{
    {"Operator", &StationSettings::Operator, nullptr},
    {"ReferenceDescription", nullptr, &ReferenceInstrument::Description},
    {"ReferenceSerialNumber", nullptr, &ReferenceInstrument::SerialNumber},
    {"ReferenceCertificateNumber", nullptr, &ReferenceInstrument::CertificateNumber},
    {"SharedDatabase", &StationSettings::SharedDatabase, nullptr},
    {"ReferenceInUse", &StationSettings::ReferenceInUse, nullptr},
}};

struct NumberField {
    std::string_view Key;
    std::optional<double> StationSettings::*Value;
};

constexpr std::array<NumberField, 3> NumberFields = {{
    {"AmbientTemperature", &StationSettings::AmbientTemperature},
    {"AmbientHumidity", &StationSettings::AmbientHumidity},
    {"Tolerance", &StationSettings::Tolerance},
}};

std::string& Target(StationSettings& settings, const Field& field) {
    return field.Own ? settings.*field.Own : settings.Reference.*field.OfReference;
}

const std::string& Target(const StationSettings& settings, const Field& field) {
    return field.Own ? settings.*field.Own : settings.Reference.*field.OfReference;
}

// "Tag.COM3.1": port 3, address 1.
std::optional<std::pair<int, int>> TagKey(std::string_view key) {
    if (key.size() < TagPrefix.size() || !SameKey(key.substr(0, TagPrefix.size()), TagPrefix)) {
        return std::nullopt;
    }
    key.remove_prefix(TagPrefix.size());
    int port = 0;
    int address = 0;
    const char* const end = key.data() + key.size();
    const auto first = std::from_chars(key.data(), end, port);
    if (first.ec != std::errc() || first.ptr == end || *first.ptr != '.') {
        return std::nullopt;
    }
    const auto second = std::from_chars(first.ptr + 1, end, address);
    if (second.ec != std::errc() || second.ptr != end) {
        return std::nullopt;
    }
    return std::pair{port, address};
}

std::string OneLine(std::string_view value) {
    std::string line(value);
    for (char& c : line) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::optional<double> ParseDecimal(std::string_view text) {
    std::string number = OneLine(text);
    std::ranges::replace(number, ',', '.');
    double value = 0;
    const char* const end = number.data() + number.size();
    const auto [stop, ec] = std::from_chars(number.data(), end, value);
    if (number.empty() || ec != std::errc() || stop != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> StationSettings::TagOf(int port, int address) const {
    const auto found = Tags.find({port, address});
    if (found == Tags.end() || found->second.empty()) {
        return std::nullopt;
    }
    return found->second;
}

StationSettings ParseStationSettings(std::string_view text) {
    StationSettings settings;
    for (const KeyValue& line : KeyValueLines(text)) {
        bool known = false;
        for (const Field& field : Fields) {
            if (SameKey(line.Key, field.Key)) {
                Target(settings, field) = line.Value;
                known = true;
            }
        }
        if (const auto tag = TagKey(line.Key)) {
            settings.Tags[*tag] = line.Value;
            known = true;
        }
        for (const NumberField& field : NumberFields) {
            // A text that is no number stays as it was typed, among the
            // lines this build does not know.
            const auto number =
                SameKey(line.Key, field.Key) ? ParseDecimal(line.Value) : std::nullopt;
            if (number) {
                settings.*field.Value = number;
                known = true;
            }
        }
        known = ReadAssistantLine(line.Key, line.Value, settings.Assistant) || known;
        if (!known) {
            settings.Other.emplace_back(line.Key, line.Value);
        }
    }
    return settings;
}

std::string FormatStationSettings(const StationSettings& settings) {
    std::string text = "; ZORM5816A: the settings of this calibration station\n";
    for (const Field& field : Fields) {
        text += std::string(field.Key) + "=" + OneLine(Target(settings, field)) + "\n";
    }
    for (const NumberField& field : NumberFields) {
        if (const auto value = settings.*field.Value) {
            char number[32];
            const auto end = std::to_chars(number, number + sizeof number, *value).ptr;
            text += std::string(field.Key) + "=" + std::string(number, end) + "\n";
        }
    }
    for (const auto& [where, tag] : settings.Tags) {
        if (!OneLine(tag).empty()) {
            text += std::string(TagPrefix) + std::to_string(where.first) + "." +
                    std::to_string(where.second) + "=" + OneLine(tag) + "\n";
        }
    }
    text += AssistantLines(settings.Assistant);
    for (const auto& [key, value] : settings.Other) {
        text += OneLine(key) + "=" + OneLine(value) + "\n";
    }
    return text;
}

StationSettings LoadStationSettings() {
    return ParseStationSettings(ReadFileStart(StationSettingsFileName, StationFileLimit));
}

bool SaveStationSettings(const StationSettings& settings) {
    const std::string text = FormatStationSettings(settings);
    return SaveFileContents(
        StationSettingsFileName,
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

} // namespace zorm
