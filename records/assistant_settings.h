// The calibration assistant's panel as the station left it, kept among the
// station settings in Stanice.ini:
//
//   Assistant.Open=1
//   Assistant.WindowSeconds=60
//   Assistant.SlopeLimitCelsius=0.02
//   Assistant.DeviationLimitCelsius=0.005
//   Assistant.SlopeLimitBits=2
//   Assistant.DeviationLimitBits=1
//
// Only values other than the defaults are written, so a station that never
// touched the panel keeps its file as it was. A value that is no number of
// its range (a window outside 10..300 s, a limit that is not above zero) is
// read as the default; a decimal comma is taken as well.
#pragma once

#include "data/reading_stability.h"

#include <string>
#include <string_view>

namespace zorm {

struct AssistantSettings {
    // The panel is shown; the first opening of the window is narrow.
    bool Open = false;
    StabilitySettings Stability;

    bool operator==(const AssistantSettings&) const = default;
};

// Takes one line of the station file into `settings` when its key is one of
// the assistant's (in any case of letters); false for any other key.
bool ReadAssistantLine(std::string_view key, std::string_view value, AssistantSettings& settings);

// The lines ("key=value\n") of the values that differ from the defaults.
std::string AssistantLines(const AssistantSettings& settings);

// The assistant's settings from Stanice.ini in the working directory (the
// data folder); the defaults without the file.
AssistantSettings LoadAssistantSettings();

// Writes them into Stanice.ini, keeping every other line of it. False when
// the file cannot be written, and also when it is there but cannot be read:
// it is then left as it is rather than replaced by the assistant's lines
// alone.
bool SaveAssistantSettings(const AssistantSettings& settings);

} // namespace zorm
