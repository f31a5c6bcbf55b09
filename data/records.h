// The records every window shares, and their little-endian byte images.
//
// The byte images are the file formats of Parametry.par and ZORM5816.par, so
// every offset below is fixed. Arrays of a parameter set are indexed from 1
// (sensor 1..3, point 1..30) through bounded accessors: a loaded file may hold
// any byte in Count or PortNumber, and nothing that indexes with such a value
// can leave the 3 x 30 tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zorm {

// 1 selects 9600 baud without parity; nothing changes it at run time.
inline constexpr std::uint8_t BaudSelect = 1;
// The wait in milliseconds on each side of a transmission.
inline constexpr std::uint8_t LineDelayMs = 20;

struct DeviceSettings {
    static constexpr std::size_t Size = 5;
    using Image = std::array<std::uint8_t, Size>;

    std::uint8_t PortNumber = 0;
    std::uint8_t DeviceAddress = 0;
    std::uint8_t RtsOnTransmit = 0;
    std::uint8_t FilterOn = 0;
    std::uint8_t ShowCelsius = 0;

    Image ToBytes() const;
    static DeviceSettings FromBytes(std::span<const std::uint8_t, Size> bytes);

    bool operator==(const DeviceSettings&) const = default;
};

// Twelve doubles in the order A3[1..3], A2[1..3], A1[1..3], A0[1..3]: the
// coefficient part of a parameter set and the whole of ZORM5816.par.
struct CoefficientTable {
    static constexpr std::size_t Size = 96;
    using Image = std::array<std::uint8_t, Size>;

    std::array<double, 12> Values{};

    // Sensor s in 1..3; any other s throws std::out_of_range.
    double& A3(int s) { return Values[Slot(0, s)]; }
    double& A2(int s) { return Values[Slot(1, s)]; }
    double& A1(int s) { return Values[Slot(2, s)]; }
    double& A0(int s) { return Values[Slot(3, s)]; }
    double A3(int s) const { return Values[Slot(0, s)]; }
    double A2(int s) const { return Values[Slot(1, s)]; }
    double A1(int s) const { return Values[Slot(2, s)]; }
    double A0(int s) const { return Values[Slot(3, s)]; }

    Image ToBytes() const;
    static CoefficientTable FromBytes(std::span<const std::uint8_t, Size> bytes);

    // Compares the bytes, so that NaNs and signed zeros compare as stored.
    bool operator==(const CoefficientTable& other) const;

private:
    static std::size_t Slot(int power, int s);
};

// The exchange copy of the coefficients written to ZORM5816.par and .txt.
using PolyCoeffs = CoefficientTable;

struct SensorParamSet {
    static constexpr std::size_t Size = 824;
    static constexpr int Sensors = 3;
    static constexpr int Points = 30;
    using Image = std::array<std::uint8_t, Size>;

    // Offsets of the fields inside the byte image.
    static constexpr std::size_t TrueTempOffset = 0;
    static constexpr std::size_t RawOffset = 360;
    static constexpr std::size_t CoefficientOffset = 720;
    static constexpr std::size_t CountOffset = 816;
    static constexpr std::size_t CalibratedOffset = 819;
    static constexpr std::size_t PaddingOffset = 822;

    // Sensor s in 1..3, point k in 1..30; any other index throws
    // std::out_of_range instead of reaching outside the tables.
    float& TrueTemp(int s, int k) { return trueTemp_[Sensor(s)][Point(k)]; }
    float TrueTemp(int s, int k) const { return trueTemp_[Sensor(s)][Point(k)]; }
    std::int32_t& Raw(int s, int k) { return raw_[Sensor(s)][Point(k)]; }
    std::int32_t Raw(int s, int k) const { return raw_[Sensor(s)][Point(k)]; }
    std::uint8_t& Count(int s) { return count_[Sensor(s)]; }
    std::uint8_t Count(int s) const { return count_[Sensor(s)]; }
    std::uint8_t& Calibrated(int s) { return calibrated_[Sensor(s)]; }
    std::uint8_t Calibrated(int s) const { return calibrated_[Sensor(s)]; }

    // Count[s] as a bound for loops over the points: never above 30, whatever
    // a loaded file held.
    int PointsInUse(int s) const;

    CoefficientTable Coefficients;
    // Never set or read; kept so that a loaded file's bytes survive a save.
    std::array<std::uint8_t, 2> Padding{};

    Image ToBytes() const;
    static SensorParamSet FromBytes(std::span<const std::uint8_t, Size> bytes);

    bool operator==(const SensorParamSet& other) const { return ToBytes() == other.ToBytes(); }

private:
    static std::size_t Sensor(int s);
    static std::size_t Point(int k);

    std::array<std::array<float, Points>, Sensors> trueTemp_{};
    std::array<std::array<std::int32_t, Points>, Sensors> raw_{};
    std::array<std::uint8_t, Sensors> count_{};
    std::array<std::uint8_t, Sensors> calibrated_{};
};

using AdcRegBytes = std::array<std::uint8_t, 3>;

} // namespace zorm
