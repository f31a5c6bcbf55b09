// A calibration record as a commit makes it, for the certificate's tests and
// its sample: points around a cubic, fitted by the program's own fit, with
// the as-found deviations of an older cubic where asked; the reference's
// snapshot and the environment; and a laboratory to issue it.
#pragma once

#include "reports/certificate_content.h"
#include "tests/support/random_records.h"

namespace zorm::test {

// `n` points (4..29), as found where `asFound`; `seed` varies the scatter.
inline RecordDetails KnownRecord(int n, bool asFound, std::uint64_t seed = 1) {
    Random random(seed);
    std::vector<CalibrationPoint> points;
    for (int k = 0; k < n; ++k) {
        const std::int32_t raw = 8000 + k * 60000 / (n - 1) + static_cast<int>(random() % 50);
        const double noise = static_cast<double>(random() % 2001) / 1000.0 - 1.0;
        points.push_back({raw, static_cast<float>(-20.0 + 160.0 * k / (n - 1) + 0.02 * noise)});
    }
    // The converter at port 3 this time, its sensor 2; the station's, the
    // operator's and the tag's texts as a plain record has them.
    CalibrationRecord r = PlainRecord(random, 1'709'280'930'250, 0); // 2024-03-01 08:15:30 UTC
    r.Uuid = "0b8f6a7e-3c1d-4e2f-9a0b-1c2d3e4f5a6b";
    r.Reference = {"Pt100 etalon", "SN-4711", "K-2023/117"};
    r.Port = 3;
    r.Sensor = 2;
    r.AsLeft = *FitCubic(points);
    const std::vector<FitDeviation> rows = FitDeviations(r.AsLeft, points);
    const Cubic before{r.AsLeft.A3, r.AsLeft.A2, r.AsLeft.A1 * 1.0002, r.AsLeft.A0 + 0.04};
    const auto found = AsFoundDeviations(before, points);
    for (int k = 0; k < n; ++k) {
        r.Points.push_back({points[k].Raw, points[k].TrueTemp, rows[k].Fitted, rows[k].Deviation,
                            asFound ? std::optional<double>(found[k]) : std::nullopt,
                            std::nullopt});
    }
    r.AsFoundInForce = asFound;
    r.AsFound = asFound ? before : Cubic{};
    r.MaxDeviation = LargestDeviation(rows);
    r.ResidualSd = ResidualStandardDeviation(rows);
    r.ReferenceUsed =
        ReferenceSnapshot{"5f0c3e2a-8d1b-4c6e-9f7a-2b3c4d5e6f70", 0.02,
                          std::chrono::year(2023) / 3 / 1, std::chrono::year(2025) / 3 / 1, false};
    r.AmbientTemperature = 23.1;
    r.AmbientHumidity = 41;
    return WithTrail(r, {});
}

// The certificate number 7 of station kalibrace-1, issued on 4. 3. 2024 by a
// laboratory in Brno, with a tolerance of 0.1 °C.
inline CertificateInput CertificateOf(RecordDetails record, char sep = ',') {
    CertificateInput input;
    input.Record = std::move(record);
    input.Laboratory = {"Kalibrační laboratoř Teplo s.r.o.",
                        "Průmyslová 12",
                        "612 00 Brno",
                        "+420 541 000 111",
                        "lab@teplo.example.cz",
                        "www.teplo.example.cz"};
    input.Settings.Tolerance = 0.1;
    input.Issued = std::chrono::year(2024) / 3 / 4;
    input.Number = "kalibrace-1/00007";
    input.Separator = sep;
    return input;
}

} // namespace zorm::test
