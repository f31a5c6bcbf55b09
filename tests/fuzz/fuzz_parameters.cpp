// Any bytes may stand in Parametry.par. Loading them and then showing every
// coefficient and true temperature, evaluating every sensor, and listing,
// fitting and reporting every sensor as the calibration window does, must
// neither crash nor reach outside the records, and every text must still be
// a number or the error text.
#include "data/calibration.h"
#include "data/context.h"
#include "data/evaluation.h"
#include "data/number_text.h"
#include "data/param_files.h"
#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace zorm::fuzz {
namespace {

constexpr std::array<char, 2> Separators = {'.', ','};

void ShowEveryWay(double v) {
    for (const char sep : Separators) {
        Require(IsNumberText(fixed(v, 6, 2, sep), sep));
        Require(IsNumberText(fixed(v, 6, 3, sep), sep));
        Require(IsNumberText(fixed(v, 5, 3, sep), sep));
        Require(IsNumberText(fixed(v, 6, 4, sep), sep));
        Require(IsNumberText(general(v, 8, sep), sep));
    }
}

void Evaluate(const SensorParamSet& params, std::int32_t raw, int sensor) {
    for (const char sep : Separators) {
        std::string text;
        FormatTemperature(params, raw, sensor, text, sep);
        Require(text == EvaluationError || IsNumberText(text, sep));
    }
}

// The report over the first n points: n rows, or fewer when a row faults,
// which ends it without a maximum.
void Report(const SensorParamSet& params, int sensor, int n) {
    for (const char sep : Separators) {
        const FitReport report = MakeFitReport(params, sensor, n, sep);
        const std::size_t rows = static_cast<std::size_t>(n);
        Require(report.Faulted
                    ? report.Rows.size() < rows && report.MaxDeviation.empty()
                    : report.Rows.size() == rows && IsNumberText(report.MaxDeviation, sep));
        for (const FitReportRow& row : report.Rows) {
            Require(IsNumberText(row.Fitted, sep) && IsNumberText(row.Deviation, sep));
        }
    }
}

// The listing of the stored points, then the fit over Count points and its
// report, as the calibration window shows them.
void Calibrate(const SensorParamSet& params, int sensor) {
    const int count = params.Count(sensor);
    for (const char sep : Separators) {
        const Listing listing = MakeListing(params, sensor, sep);
        Require(listing.Rows.size() ==
                static_cast<std::size_t>(std::min(count, SensorParamSet::Points)));
        for (const ListingRow& row : listing.Rows) {
            Require(IsNumberText(row.Raw, sep) && IsNumberText(row.TrueTemp, sep));
            Require(row.Faulted
                        ? row.Fitted == EvaluationError && row.Deviation == EvaluationError
                        : IsNumberText(row.Fitted, sep) && IsNumberText(row.Deviation, sep));
        }
        Require(IsNumberText(listing.MaxDeviation, sep));
        Require(!PolynomialLine(CubicOf(params.Coefficients, sensor), sep).empty());
    }
    const std::optional<Cubic> cubic = FitCubic(params, sensor, count);
    if (count < MinFitPoints || count > MaxFitPoints) {
        Require(!cubic);
        return;
    }
    // The report also runs over whatever coefficients the file held.
    Report(params, sensor, count);
    if (!cubic) {
        return;
    }
    Require(std::isfinite(cubic->A3) && std::isfinite(cubic->A2) && std::isfinite(cubic->A1) &&
            std::isfinite(cubic->A0));
    SensorParamSet fitted = params;
    fitted.Coefficients.A3(sensor) = cubic->A3;
    fitted.Coefficients.A2(sensor) = cubic->A2;
    fitted.Coefficients.A1(sensor) = cubic->A1;
    fitted.Coefficients.A0(sensor) = cubic->A0;
    Report(fitted, sensor, count);
    for (const char sep : Separators) {
        Require(!PolynomialLine(*cubic, sep).empty());
    }
}

constexpr std::array<std::int32_t, 7> FixedRaws = {0,
                                                   1,
                                                   -1,
                                                   12345,
                                                   99999,
                                                   std::numeric_limits<std::int32_t>::min(),
                                                   std::numeric_limits<std::int32_t>::max()};

} // namespace
} // namespace zorm::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zorm;
    using namespace zorm::fuzz;
    const InScratchDirectory scratch;

    WriteWholeFile(ParametersFileName, data, size);
    Context context;
    Require(LoadParameters(context));

    // The records hold the file's first bytes, and the fresh zeros after them.
    const auto settings = context.DeviceSettings.ToBytes();
    const auto user = context.UserParams.ToBytes();
    const auto factory = context.FactoryParams.ToBytes();
    std::array<std::uint8_t, ParametersFileSize> image{};
    std::copy(factory.begin(), factory.end(),
              std::copy(user.begin(), user.end(),
                        std::copy(settings.begin(), settings.end(), image.begin())));
    const std::size_t loaded = std::min(size, ParametersFileSize);
    Require(std::equal(image.begin(), image.begin() + loaded, data));
    Require(std::all_of(image.begin() + loaded, image.end(), [](auto b) { return b == 0; }));

    for (const SensorParamSet* params : {&context.UserParams, &context.FactoryParams}) {
        for (const double v : params->Coefficients.Values) {
            ShowEveryWay(v);
        }
        for (int s = 1; s <= SensorParamSet::Sensors; ++s) {
            const int points = params->PointsInUse(s);
            Require(points >= 0 && points <= SensorParamSet::Points);
            for (int k = 1; k <= points; ++k) {
                ShowEveryWay(params->TrueTemp(s, k));
                Evaluate(*params, params->Raw(s, k), s);
            }
            for (const std::int32_t raw : FixedRaws) {
                Evaluate(*params, raw, s);
            }
            Calibrate(*params, s);
        }
        // Sensor numbers outside 1..3 give the error text, never a read.
        for (const int sensor : {0, 4, -1, 255}) {
            std::string text;
            FormatTemperature(*params, 1, sensor, text);
            Require(text == EvaluationError);
        }
    }
    return 0;
}
