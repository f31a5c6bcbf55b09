#include "data/measurement_log.h"

#include "data/evaluation.h"
#include "data/number_text.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace zorm {

namespace {

// The calendar fields of a local time.
struct LocalTime {
    int Year;
    unsigned Month;
    unsigned Day;
    long Hours;
    long Minutes;
    long Seconds;
    long Milliseconds;
};

LocalTime LocalTimeOf(std::int64_t unixMs, std::int32_t utcOffsetSeconds) {
    using namespace std::chrono;
    const sys_time<milliseconds> local{milliseconds{unixMs} + seconds{utcOffsetSeconds}};
    const sys_days day = floor<days>(local);
    const year_month_day date{day};
    const hh_mm_ss<milliseconds> time{local - day};
    return {static_cast<int>(date.year()),
            static_cast<unsigned>(date.month()),
            static_cast<unsigned>(date.day()),
            static_cast<long>(time.hours().count()),
            static_cast<long>(time.minutes().count()),
            static_cast<long>(time.seconds().count()),
            static_cast<long>(time.subseconds().count())};
}

} // namespace

SensorReading ReadingAfterMeasure(const SensorParamSet& params, int sensor, bool measured,
                                  std::int32_t raw) {
    SensorReading reading;
    if (!measured) {
        reading.Outcome = SensorOutcome::Failed;
        return reading;
    }
    reading.Outcome = SensorOutcome::Measured;
    reading.Raw = raw;
    reading.HasCelsius = HasCalibration(params.Coefficients, sensor) &&
                         EvaluateCubic(params.Coefficients, raw, sensor, reading.Celsius);
    return reading;
}

char LogFieldSeparator(char decimalSep) {
    return decimalSep == ',' ? ';' : ',';
}

std::string LogFileStart(char decimalSep) {
    const char field = LogFieldSeparator(decimalSep);
    std::string text = "\xEF\xBB\xBF"
                       "Čas";
    for (int sensor = 1; sensor <= SensorParamSet::Sensors; ++sensor) {
        const std::string name = "Snímač " + std::to_string(sensor);
        text += field + name + " [bit]" + field + name + " [°C]";
    }
    return text + "\r\n";
}

std::string LogLine(const MeasurementPass& pass, char decimalSep) {
    const char field = LogFieldSeparator(decimalSep);
    std::string line = IsoTimestamp(pass.UnixMs, pass.UtcOffsetSeconds);
    for (const SensorReading& reading : pass.Sensors) {
        line += field;
        if (reading.Outcome == SensorOutcome::Measured) {
            line += std::to_string(reading.Raw);
        }
        line += field;
        if (reading.Outcome == SensorOutcome::Measured && reading.HasCelsius) {
            // The text the main window shows for the sensor.
            line += fixed(reading.Celsius, 6, 2, decimalSep);
        }
    }
    return line + "\r\n";
}

std::string IsoTimestamp(std::int64_t unixMs, std::int32_t utcOffsetSeconds) {
    const LocalTime t = LocalTimeOf(unixMs, utcOffsetSeconds);
    const long offsetMinutes = std::labs(utcOffsetSeconds) / 60;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ld.%03ld%c%02ld:%02ld", t.Year,
                  t.Month, t.Day, t.Hours, t.Minutes, t.Seconds, t.Milliseconds,
                  utcOffsetSeconds < 0 && offsetMinutes > 0 ? '-' : '+', offsetMinutes / 60,
                  offsetMinutes % 60);
    return text;
}

std::string DefaultLogFileName(std::int64_t unixMs, std::int32_t utcOffsetSeconds) {
    const LocalTime t = LocalTimeOf(unixMs, utcOffsetSeconds);
    char text[48];
    std::snprintf(text, sizeof text, "zaznam-%04d%02u%02u-%02ld%02ld%02ld.csv", t.Year, t.Month,
                  t.Day, t.Hours, t.Minutes, t.Seconds);
    return text;
}

} // namespace zorm
