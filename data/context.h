// The one shared context: every record of the running program lives here. The
// program creates one and hands it by reference to the link and the windows;
// tests create a fresh one per test.
#pragma once

#include "data/records.h"

#include <cstdint>
#include <string>

namespace zorm {

struct Context {
    zorm::DeviceSettings DeviceSettings;
    SensorParamSet UserParams;
    SensorParamSet FactoryParams;
    SensorParamSet WorkParams;
    zorm::PolyCoeffs PolyCoeffs;
    // Raw value of the last measure command (and the last diagnostics word).
    std::int32_t LastReading = 0;
    zorm::AdcRegBytes AdcRegBytes{};
    // The identification text of the converter the connection search found;
    // empty while none answers (before the search, and after one that found
    // none). The calibration records name the converter by it.
    std::string DeviceType;

    // The calibration window's sensor (1..3) and whether its entry of a true
    // temperature is open; both outlive the window, which sets them afresh
    // (the sensor at each opening, the entry at each start of a collection).
    std::uint8_t CalibSensor = 0;
    bool EntryOpen = false;
};

} // namespace zorm
