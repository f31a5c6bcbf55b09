#include "data/records.h"

#include <bit>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <type_traits>

namespace zorm {
namespace {

static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == 4);
static_assert(std::numeric_limits<double>::is_iec559 && sizeof(double) == 8);

template <typename T> void PutLE(std::uint8_t* out, T value) {
    using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
    const auto bits = std::bit_cast<Bits>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

template <typename T> T GetLE(const std::uint8_t* in) {
    using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
    Bits bits = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bits |= static_cast<Bits>(in[i]) << (8 * i);
    }
    return std::bit_cast<T>(bits);
}

} // namespace

DeviceSettings::Image DeviceSettings::ToBytes() const {
    return {PortNumber, DeviceAddress, RtsOnTransmit, FilterOn, ShowCelsius};
}

DeviceSettings DeviceSettings::FromBytes(std::span<const std::uint8_t, Size> bytes) {
    return {bytes[0], bytes[1], bytes[2], bytes[3], bytes[4]};
}

std::size_t CoefficientTable::Slot(int power, int s) {
    if (s < 1 || s > 3) {
        throw std::out_of_range("sensor index outside 1..3");
    }
    return static_cast<std::size_t>(3 * power + (s - 1));
}

CoefficientTable::Image CoefficientTable::ToBytes() const {
    Image image{};
    for (std::size_t i = 0; i < Values.size(); ++i) {
        PutLE(&image[8 * i], Values[i]);
    }
    return image;
}

CoefficientTable CoefficientTable::FromBytes(std::span<const std::uint8_t, Size> bytes) {
    CoefficientTable table;
    for (std::size_t i = 0; i < table.Values.size(); ++i) {
        table.Values[i] = GetLE<double>(&bytes[8 * i]);
    }
    return table;
}

bool CoefficientTable::operator==(const CoefficientTable& other) const {
    return ToBytes() == other.ToBytes();
}

std::size_t SensorParamSet::Sensor(int s) {
    if (s < 1 || s > Sensors) {
        throw std::out_of_range("sensor index outside 1..3");
    }
    return static_cast<std::size_t>(s - 1);
}

std::size_t SensorParamSet::Point(int k) {
    if (k < 1 || k > Points) {
        throw std::out_of_range("point index outside 1..30");
    }
    return static_cast<std::size_t>(k - 1);
}

int SensorParamSet::PointsInUse(int s) const {
    const int count = Count(s);
    return count > Points ? Points : count;
}

SensorParamSet::Image SensorParamSet::ToBytes() const {
    Image image{};
    for (std::size_t s = 0; s < Sensors; ++s) {
        for (std::size_t k = 0; k < Points; ++k) {
            const std::size_t element = 120 * s + 4 * k;
            PutLE(&image[TrueTempOffset + element], trueTemp_[s][k]);
            PutLE(&image[RawOffset + element], raw_[s][k]);
        }
        image[CountOffset + s] = count_[s];
        image[CalibratedOffset + s] = calibrated_[s];
    }
    const auto coefficients = Coefficients.ToBytes();
    std::memcpy(&image[CoefficientOffset], coefficients.data(), coefficients.size());
    image[PaddingOffset] = Padding[0];
    image[PaddingOffset + 1] = Padding[1];
    return image;
}

SensorParamSet SensorParamSet::FromBytes(std::span<const std::uint8_t, Size> bytes) {
    SensorParamSet set;
    for (std::size_t s = 0; s < Sensors; ++s) {
        for (std::size_t k = 0; k < Points; ++k) {
            const std::size_t element = 120 * s + 4 * k;
            set.trueTemp_[s][k] = GetLE<float>(&bytes[TrueTempOffset + element]);
            set.raw_[s][k] = GetLE<std::int32_t>(&bytes[RawOffset + element]);
        }
        set.count_[s] = bytes[CountOffset + s];
        set.calibrated_[s] = bytes[CalibratedOffset + s];
    }
    set.Coefficients =
        CoefficientTable::FromBytes(bytes.subspan<CoefficientOffset, CoefficientTable::Size>());
    set.Padding = {bytes[PaddingOffset], bytes[PaddingOffset + 1]};
    return set;
}

} // namespace zorm
