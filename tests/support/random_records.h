// Random calibration records for the tests and the benchmark of the record
// store: awkward ones, whose numbers and texts catch a store that is not
// exact (both zeros, subnormals, extremes, infinities, quotes, separators,
// line breaks, Czech letters, four-byte characters), and plain ones as a
// commit would make them.
#pragma once

#include "records/calibration_record.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>

namespace zorm::test {

using Random = std::mt19937_64;

inline std::string RandomUuid(Random& random) {
    static constexpr char Hex[] = "0123456789abcdef";
    std::string uuid;
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) {
            uuid.push_back('-');
        }
        uuid.push_back(Hex[random() % 16]);
    }
    return uuid;
}

inline double AwkwardDouble(Random& random) {
    using Limits = std::numeric_limits<double>;
    const double sign = random() % 2 ? -1.0 : 1.0;
    switch (random() % 8) {
    case 0:
        return sign * 0.0;
    case 1: // subnormal
        return sign * std::bit_cast<double>((random() & 0x000F'FFFF'FFFF'FFFF) | 1);
    case 2: {
        const std::array<double, 4> extremes = {Limits::max(), Limits::min(), Limits::denorm_min(),
                                                Limits::infinity()};
        return sign * extremes[random() % extremes.size()];
    }
    case 3:
        return sign * std::uniform_real_distribution<double>(-50, 250)(random);
    default: { // any finite bit pattern
        std::uint64_t bits = random();
        if (((bits >> 52) & 0x7FF) == 0x7FF) {
            bits &= ~(std::uint64_t{1} << 62);
        }
        return std::bit_cast<double>(bits);
    }
    }
}

inline std::optional<double> MaybeDouble(Random& random) {
    if (random() % 5 == 0) {
        return std::nullopt;
    }
    return AwkwardDouble(random);
}

inline std::string AwkwardText(Random& random) {
    static const std::array<const char*, 14> pieces = {
        "",
        "Jana Nov\xC3\xA1kov\xC3\xA1",
        "\xC4\x9B\xC5\xA1\xC4\x8D\xC5\x99\xC5\xBE\xC3\xBD\xC3\xA1\xC3\xAD\xC3\xA9 \xC5\xAE",
        "O'Brien",
        "say \"hi\"",
        "a;b,c",
        "line\nbreak\r\n",
        "tab\there",
        "back\\slash $1 :name ?",
        "100%_like",
        "\xF0\x9F\x8C\xA1 teplom\xC4\x9Br",
        "=1+1",
        "-3",
        " blanks ",
    };
    std::string text = pieces[random() % pieces.size()];
    if (random() % 3 == 0) {
        text += pieces[random() % pieces.size()];
    }
    return text;
}

// How settled a point's readings were, with any numbers the store must keep
// and every verdict: statistics in both units, in one or in none.
inline PointStability AwkwardStability(Random& random) {
    const auto figures = [&random]() -> std::optional<WindowStatistics> {
        if (random() % 3 == 0) {
            return std::nullopt;
        }
        return WindowStatistics{static_cast<int>(random() % 100'000), AwkwardDouble(random),
                                AwkwardDouble(random), AwkwardDouble(random),
                                AwkwardDouble(random)};
    };
    PointStability stability;
    stability.Judgement = {figures(), figures(), static_cast<Stability>(random() % 3)};
    stability.Settings = {AwkwardDouble(random),
                          {AwkwardDouble(random), AwkwardDouble(random)},
                          {AwkwardDouble(random), AwkwardDouble(random)}};
    return stability;
}

inline CalibrationRecord AwkwardRecord(Random& random) {
    CalibrationRecord record;
    record.Uuid = RandomUuid(random);
    record.TimeUtcMs = static_cast<std::int64_t>(random() % 4'102'444'800'000); // to 2100
    record.UtcOffsetSeconds = static_cast<std::int32_t>(random() % 100'801) - 50'400;
    record.Station = AwkwardText(random);
    record.ProgramVersion = AwkwardText(random);
    record.Operator = AwkwardText(random);
    record.Reference = {AwkwardText(random), AwkwardText(random), AwkwardText(random)};
    record.ConverterType = AwkwardText(random);
    record.Address = static_cast<int>(random() % 11);
    record.Port = static_cast<int>(random() % 30);
    if (random() % 2) {
        record.Tag = AwkwardText(random) + "x";
    }
    record.Sensor = static_cast<int>(random() % 3) + 1;
    const int n = static_cast<int>(random() % 31);
    for (int k = 0; k < n; ++k) {
        const auto raw = static_cast<std::int32_t>(random());
        record.Points.push_back(
            {raw, AwkwardDouble(random), MaybeDouble(random), MaybeDouble(random),
             MaybeDouble(random),
             random() % 2 ? std::optional(AwkwardStability(random)) : std::nullopt});
    }
    const auto cubic = [&random] {
        // Any bits at all, NaNs too: a damaged Parametry.par can hold them.
        return Cubic{std::bit_cast<double>(random()), AwkwardDouble(random), AwkwardDouble(random),
                     AwkwardDouble(random)};
    };
    record.AsLeft = cubic();
    record.AsFound = cubic();
    record.AsFoundInForce = random() % 2;
    record.MaxDeviation = MaybeDouble(random);
    record.ResidualSd = MaybeDouble(random);
    if (random() % 4 == 0) {
        record.RestoredFrom = RandomUuid(random);
    }
    if (random() % 3 != 0) {
        const auto day = [&random] {
            return Date{std::chrono::year(1970 + static_cast<int>(random() % 131)),
                        std::chrono::month(static_cast<unsigned>(random() % 12 + 1)),
                        std::chrono::day(static_cast<unsigned>(random() % 28 + 1))};
        };
        record.ReferenceUsed = ReferenceSnapshot{RandomUuid(random), AwkwardDouble(random), day(),
                                                 day(), random() % 2 == 0};
    }
    record.AmbientTemperature = MaybeDouble(random);
    record.AmbientHumidity = MaybeDouble(random);
    return record;
}

// A record as a commit of `n` points makes it (4..29 points, readings and
// temperatures of a real calibration); each third point was taken without
// the assistant, the others with the statistics of some 90 readings.
inline CalibrationRecord PlainRecord(Random& random, std::int64_t timeUtcMs, int n = 10) {
    CalibrationRecord record;
    record.Uuid = RandomUuid(random);
    record.TimeUtcMs = timeUtcMs;
    record.UtcOffsetSeconds = 3600;
    record.Station = "kalibrace-1";
    record.ProgramVersion = "1.0.0";
    record.Operator = "Jana Nov\xC3\xA1kov\xC3\xA1";
    record.Reference = {"Pt100", "12345", "K-2024/117"};
    record.ConverterType = "ZORM5816A";
    record.Address = 1;
    record.Port = 1;
    record.Tag = "TT-101";
    record.Sensor = static_cast<int>(random() % 3) + 1;
    std::uniform_real_distribution<double> deviation(-0.05, 0.05);
    std::uniform_real_distribution<double> spread(0.2, 3);
    std::uniform_real_distribution<double> drift(-6, 6);
    for (int k = 0; k < n; ++k) {
        const std::int32_t raw = 8000 + 2000 * k + static_cast<std::int32_t>(random() % 100);
        const double t = static_cast<float>(-20.0 + 5.0 * k);
        const double d = static_cast<float>(deviation(random));
        std::optional<PointStability> stability;
        if (k % 3 != 2) {
            const double sd = spread(random);
            const double slope = drift(random);
            const double perBit = 0.0025;
            stability = PointStability{
                {WindowStatistics{90, raw + drift(random), sd, 4 * sd, slope},
                 WindowStatistics{90, t, perBit * sd, perBit * 4 * sd, perBit * slope},
                 perBit * sd <= 0.005 && std::abs(perBit * slope) <= 0.01 ? Stability::Stable
                                                                          : Stability::Unstable},
                StabilitySettings{}};
        }
        record.Points.push_back({raw, t, t + d, d, -d, stability});
    }
    record.AsLeft = {1.1e-13, -2.2e-8, 0.0025, -40.5};
    record.AsFound = {1.0e-13, -2.1e-8, 0.0024, -40.0};
    record.AsFoundInForce = true;
    record.MaxDeviation = 0.049;
    record.ResidualSd = 0.021;
    return record;
}

} // namespace zorm::test
