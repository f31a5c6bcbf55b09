// The lines of the measurement log: the two regional conventions, sensors
// measured, failed and not measured, with and without a calibration, and the
// local time stamps against the C library's calendar.
#include "data/measurement_log.h"

#include "data/evaluation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>

namespace zorm {
namespace {

// Sensor 1 with t = raw / 16 - 1000, exact in single precision; sensor 2
// with A3 = 1e30, whose cubic overflows; sensor 3 without a calibration.
SensorParamSet TestParams() {
    SensorParamSet params;
    params.Coefficients.A1(1) = 0.0625;
    params.Coefficients.A0(1) = -1000;
    params.Coefficients.A3(2) = 1e30;
    return params;
}

// 2025-03-14 09:26:53.589 in Prague (UTC+1).
constexpr std::int64_t PassTime = 1741940813589;
constexpr std::int32_t Prague = 3600;

MeasurementPass PassOf(std::array<SensorReading, 3> sensors) {
    MeasurementPass pass;
    pass.UnixMs = PassTime;
    pass.UtcOffsetSeconds = Prague;
    pass.Sensors = sensors;
    return pass;
}

TEST(MeasurementLog, ReadingsCarryATemperatureOnlyWhereACalibrationGivesOne) {
    const SensorParamSet params = TestParams();

    const SensorReading calibrated = ReadingAfterMeasure(params, 1, true, 21508);
    EXPECT_EQ(calibrated.Outcome, SensorOutcome::Measured);
    EXPECT_EQ(calibrated.Raw, 21508);
    ASSERT_TRUE(calibrated.HasCelsius);
    EXPECT_EQ(calibrated.Celsius, 344.25F);

    const SensorReading faulted = ReadingAfterMeasure(params, 2, true, 99999);
    EXPECT_EQ(faulted.Outcome, SensorOutcome::Measured);
    EXPECT_EQ(faulted.Raw, 99999);
    EXPECT_FALSE(faulted.HasCelsius);

    // All four coefficients zero: the cubic would give 0.00, which nobody
    // measured.
    const SensorReading uncalibrated = ReadingAfterMeasure(params, 3, true, 23500);
    EXPECT_EQ(uncalibrated.Raw, 23500);
    EXPECT_FALSE(uncalibrated.HasCelsius);

    // A failed command keeps nothing of the reading it left.
    const SensorReading failed = ReadingAfterMeasure(params, 1, false, 21508);
    EXPECT_EQ(failed, SensorReading{SensorOutcome::Failed});

    // Any one nonzero coefficient is a calibration, the constant one too.
    for (int power = 0; power < 4; ++power) {
        CoefficientTable only;
        only.Values[static_cast<std::size_t>(power * 3 + 1)] = -0.5;
        EXPECT_TRUE(HasCalibration(only, 2)) << power;
        EXPECT_FALSE(HasCalibration(only, 1)) << power;
    }
}

TEST(MeasurementLog, LinesInBothRegionalConventions) {
    const SensorParamSet params = TestParams();
    const MeasurementPass pass =
        PassOf({ReadingAfterMeasure(params, 1, true, 21508),
                ReadingAfterMeasure(params, 2, false, 0), SensorReading{}});
    EXPECT_EQ(LogLine(pass, '.'), "2025-03-14T09:26:53.589+01:00,21508,344.25,,,,\r\n");
    EXPECT_EQ(LogLine(pass, ','), "2025-03-14T09:26:53.589+01:00;21508;344,25;;;;\r\n");

    // Measured without a temperature: the raw reading alone. The temperature
    // is the text the main window shows, scientific form included.
    SensorParamSet big;
    big.Coefficients.A3(2) = 1;
    const MeasurementPass rawOnly =
        PassOf({ReadingAfterMeasure(params, 3, true, 0), ReadingAfterMeasure(big, 2, true, 99999),
                ReadingAfterMeasure(params, 2, true, 99999)});
    EXPECT_EQ(LogLine(rawOnly, ','), "2025-03-14T09:26:53.589+01:00;0;;99999;9,9997E14;99999;\r\n");

    // No sensor measured: the time alone marks the pass.
    EXPECT_EQ(LogLine(PassOf({}), '.'), "2025-03-14T09:26:53.589+01:00,,,,,,\r\n");

    const std::string header = "Čas;Snímač 1 [bit];Snímač 1 [°C];Snímač 2 [bit];Snímač 2 [°C];"
                               "Snímač 3 [bit];Snímač 3 [°C]\r\n";
    EXPECT_EQ(LogFileStart(','), "\xEF\xBB\xBF" + header);
    std::string commas = header;
    std::replace(commas.begin(), commas.end(), ';', ',');
    EXPECT_EQ(LogFileStart('.'), "\xEF\xBB\xBF" + commas);
    EXPECT_EQ(LogFieldSeparator('.'), ',');
    EXPECT_EQ(LogFieldSeparator(','), ';');
}

// The local time of `unixMs` written from the C library's calendar.
std::string LibraryTimestamp(std::int64_t unixMs, std::int32_t offset) {
    const std::int64_t localMs = unixMs + std::int64_t{offset} * 1000;
    const std::int64_t ms = ((localMs % 1000) + 1000) % 1000;
    const auto seconds = static_cast<std::time_t>((localMs - ms) / 1000);
    const std::tm* fields = std::gmtime(&seconds);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", fields);
    const std::int32_t minutes = std::abs(offset) / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%c%02d:%02d", date, static_cast<int>(ms),
                  offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

TEST(MeasurementLog, TimeStampsAreTheLocalCalendarTimeWithTheOffset) {
    std::mt19937_64 random(20);
    // 1970 to 2100, with the offsets of the world's time zones.
    std::uniform_int_distribution<std::int64_t> moment(14 * 3600'000, 4'102'444'800'000);
    std::uniform_int_distribution<std::int32_t> quarters(-12 * 4, 14 * 4);
    for (int run = 0; run < 20000; ++run) {
        const std::int64_t unixMs = moment(random);
        const std::int32_t offset = quarters(random) * 900;
        ASSERT_EQ(IsoTimestamp(unixMs, offset), LibraryTimestamp(unixMs, offset))
            << unixMs << " " << offset;
    }
    EXPECT_EQ(IsoTimestamp(0, 0), "1970-01-01T00:00:00.000+00:00");
    EXPECT_EQ(IsoTimestamp(-1, 0), "1969-12-31T23:59:59.999+00:00");
    EXPECT_EQ(IsoTimestamp(951825600000, -9000), "2000-02-29T09:30:00.000-02:30");
    // Leap days of century years: 2100 has none.
    EXPECT_EQ(IsoTimestamp(4107542400000 - 1, 0), "2100-02-28T23:59:59.999+00:00");
    EXPECT_EQ(DefaultLogFileName(PassTime, Prague), "zaznam-20250314-092653.csv");
    EXPECT_EQ(DefaultLogFileName(PassTime, -5 * 3600), "zaznam-20250314-032653.csv");
}

} // namespace
} // namespace zorm
