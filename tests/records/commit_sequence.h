// The commits of the crash test: commit i saves a Parametry.par of its own
// and then stores one record of its own, both made from i alone, so that
// the test can tell from the files which commits got through.
#pragma once

#include "data/context.h"
#include "records/calibration_record.h"
#include "tests/support/random_records.h"

#include <cstdint>
#include <vector>

namespace zorm::test {

inline Context CommitContext(int i) {
    Random random(static_cast<std::uint64_t>(i) + 1000);
    Context context;
    context.DeviceSettings = {static_cast<std::uint8_t>(1 + i % 29), 1, 1, 1, 1};
    for (int s = 1; s <= 3; ++s) {
        context.UserParams.Count(s) = static_cast<std::uint8_t>(4 + i % 26);
        context.UserParams.Calibrated(s) = 1;
        for (int k = 1; k <= 30; ++k) {
            context.UserParams.Raw(s, k) = static_cast<std::int32_t>(random());
            context.UserParams.TrueTemp(s, k) = static_cast<float>(i) + static_cast<float>(k);
        }
    }
    for (double& value : context.UserParams.Coefficients.Values) {
        value = AwkwardDouble(random);
    }
    context.FactoryParams = context.UserParams;
    context.FactoryParams.Raw(1, 1) = i;
    return context;
}

inline std::vector<std::uint8_t> ParametersImage(int i) {
    const Context context = CommitContext(i);
    const auto settings = context.DeviceSettings.ToBytes();
    std::vector<std::uint8_t> image(settings.begin(), settings.end());
    const auto user = context.UserParams.ToBytes();
    const auto factory = context.FactoryParams.ToBytes();
    image.insert(image.end(), user.begin(), user.end());
    image.insert(image.end(), factory.begin(), factory.end());
    return image;
}

inline CalibrationRecord CommitRecord(int i) {
    Random random(static_cast<std::uint64_t>(i) + 5000);
    return PlainRecord(random, 1'700'000'000'000 + 1000 * static_cast<std::int64_t>(i), 4 + i % 26);
}

} // namespace zorm::test
