#include "data/context.h"
#include "data/records.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace zorm {
namespace {

template <typename T> T ReadLE(const std::uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value); // x86 is little-endian like the files
    return value;
}

TEST(DeviceSettingsImage, FieldsStandInTheirBytes) {
    const DeviceSettings settings{29, 10, 1, 0, 255};
    const auto image = settings.ToBytes();
    EXPECT_EQ(image, (DeviceSettings::Image{29, 10, 1, 0, 255}));
    EXPECT_EQ(DeviceSettings::FromBytes(image), settings);
}

TEST(SensorParamSetImage, EveryFieldLandsAtItsOffset) {
    SensorParamSet set;
    set.TrueTemp(1, 1) = 1.5f;
    set.TrueTemp(2, 7) = -40.25f;
    set.TrueTemp(3, 30) = 850.0f;
    set.Raw(1, 1) = 1;
    set.Raw(2, 7) = -2;
    set.Raw(3, 30) = 99999;
    set.Coefficients.A3(1) = 1e-12;
    set.Coefficients.A2(2) = -3.3e-8;
    set.Coefficients.A1(3) = 0.0025;
    set.Coefficients.A0(1) = -12.5;
    set.Count(1) = 4;
    set.Count(3) = 29;
    set.Calibrated(2) = 1;
    set.Padding = {0xAB, 0xCD};

    const auto image = set.ToBytes();
    ASSERT_EQ(image.size(), 824u);
    EXPECT_EQ(ReadLE<float>(&image[0]), 1.5f);
    EXPECT_EQ(ReadLE<float>(&image[120 + 4 * 6]), -40.25f);
    EXPECT_EQ(ReadLE<float>(&image[240 + 4 * 29]), 850.0f);
    EXPECT_EQ(ReadLE<std::int32_t>(&image[360]), 1);
    EXPECT_EQ(ReadLE<std::int32_t>(&image[360 + 120 + 4 * 6]), -2);
    EXPECT_EQ(ReadLE<std::int32_t>(&image[360 + 240 + 4 * 29]), 99999);
    EXPECT_EQ(ReadLE<double>(&image[720]), 1e-12);       // A3[1]
    EXPECT_EQ(ReadLE<double>(&image[744 + 8]), -3.3e-8); // A2[2]
    EXPECT_EQ(ReadLE<double>(&image[768 + 16]), 0.0025); // A1[3]
    EXPECT_EQ(ReadLE<double>(&image[792]), -12.5);       // A0[1]
    EXPECT_EQ(image[816], 4);
    EXPECT_EQ(image[818], 29);
    EXPECT_EQ(image[820], 1);
    EXPECT_EQ(image[822], 0xAB);
    EXPECT_EQ(image[823], 0xCD);
}

TEST(SensorParamSetImage, ArbitraryBytesSurviveARoundTrip) {
    // Every byte value, NaN payloads and odd counts included, comes back as it
    // went in: the file keeps whatever another program wrote.
    SensorParamSet::Image image;
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    EXPECT_EQ(SensorParamSet::FromBytes(image).ToBytes(), image);

    image.fill(0xFF); // NaN singles and doubles, Count 255, padding 0xFFFF
    EXPECT_EQ(SensorParamSet::FromBytes(image).ToBytes(), image);
}

TEST(SensorParamSetImage, BoundaryValuesRoundTrip) {
    SensorParamSet set;
    set.TrueTemp(1, 2) = std::numeric_limits<float>::denorm_min();
    set.TrueTemp(1, 3) = -std::numeric_limits<float>::max();
    set.TrueTemp(1, 4) = -0.0f;
    set.Raw(2, 1) = std::numeric_limits<std::int32_t>::min();
    set.Raw(2, 2) = std::numeric_limits<std::int32_t>::max();
    set.Coefficients.A0(3) = std::numeric_limits<double>::infinity();
    set.Coefficients.A1(2) = std::numeric_limits<double>::signaling_NaN();
    set.Count(2) = 255;

    const auto copy = SensorParamSet::FromBytes(set.ToBytes());
    EXPECT_EQ(copy, set);
    EXPECT_TRUE(std::signbit(copy.TrueTemp(1, 4)));
    EXPECT_EQ(copy.Raw(2, 1), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(copy.Count(2), 255);
}

TEST(CoefficientTableImage, OrderIsA3ThenA2ThenA1ThenA0) {
    CoefficientTable table;
    for (int s = 1; s <= 3; ++s) {
        table.A3(s) = 30 + s;
        table.A2(s) = 20 + s;
        table.A1(s) = 10 + s;
        table.A0(s) = s;
    }
    const auto image = table.ToBytes();
    const double expected[12] = {31, 32, 33, 21, 22, 23, 11, 12, 13, 1, 2, 3};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(ReadLE<double>(&image[8 * i]), expected[i]) << "slot " << i;
    }
    EXPECT_EQ(CoefficientTable::FromBytes(image), table);
}

TEST(SensorParamSetIndexing, IndicesOutsideTheTablesAreRefused) {
    SensorParamSet set;
    EXPECT_THROW(set.TrueTemp(0, 1), std::out_of_range);
    EXPECT_THROW(set.TrueTemp(4, 1), std::out_of_range);
    EXPECT_THROW(set.Raw(1, 0), std::out_of_range);
    EXPECT_THROW(set.Raw(1, 31), std::out_of_range);
    EXPECT_THROW(set.Count(0), std::out_of_range);
    EXPECT_THROW(set.Coefficients.A1(4), std::out_of_range);
    EXPECT_NO_THROW(set.Raw(3, 30));
}

TEST(SensorParamSetIndexing, PointsInUseNeverExceedsTheTable) {
    SensorParamSet set;
    set.Count(1) = 29;
    set.Count(2) = 30;
    set.Count(3) = 200;
    EXPECT_EQ(set.PointsInUse(1), 29);
    EXPECT_EQ(set.PointsInUse(2), 30);
    EXPECT_EQ(set.PointsInUse(3), 30);
}

TEST(ContextStart, RecordsStartZeroFilled) {
    const Context context;
    EXPECT_EQ(context.DeviceSettings.ToBytes(), DeviceSettings::Image{});
    EXPECT_EQ(context.UserParams.ToBytes(), SensorParamSet::Image{});
    EXPECT_EQ(context.PolyCoeffs.ToBytes(), CoefficientTable::Image{});
    EXPECT_EQ(context.LastReading, 0);
    EXPECT_EQ(context.AdcRegBytes, (AdcRegBytes{0, 0, 0}));
    EXPECT_EQ(BaudSelect, 1);
    EXPECT_EQ(LineDelayMs, 20);
}

} // namespace
} // namespace zorm
