// The CSV and JSON exports of records, read back: every value of random
// awkward records comes back exactly, with either decimal separator; texts
// that a spreadsheet would take for formulas are defused.
#include "records/reference_instrument.h"
#include "reports/record_export.h"
#include "tests/support/random_records.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <bit>
#include <charconv>
#include <cmath>
#include <string_view>

namespace zorm {
namespace {

using test::Random;
using Table = std::vector<std::vector<std::string>>;

// RFC 4180 with a byte order mark and CR LF line ends.
Table ParseCsv(std::string_view text, char separator) {
    EXPECT_TRUE(text.starts_with("\xEF\xBB\xBF"));
    text.remove_prefix(3);
    Table table(1, std::vector<std::string>(1));
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::string& field = table.back().back();
        if (text[i] == '"') {
            for (++i; i < text.size() &&
                      !(text[i] == '"' && (i + 1 == text.size() || text[i + 1] != '"'));
                 ++i) {
                field += text[i];
                i += text[i] == '"' ? 1 : 0;
            }
        } else if (text[i] == separator) {
            table.back().emplace_back();
        } else if (text.substr(i, 2) == "\r\n") {
            ++i;
            if (i + 1 < text.size()) {
                table.emplace_back(1);
            }
        } else {
            field += text[i];
        }
    }
    return table;
}

std::optional<double> CsvNumber(std::string text) {
    if (text.empty()) {
        return std::nullopt;
    }
    for (char& c : text) {
        c = c == ',' ? '.' : c;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    EXPECT_TRUE(error == std::errc() && end == text.data() + text.size()) << text;
    return value;
}

bool SameNumber(const std::optional<double>& a, const std::optional<double>& b) {
    if (a && b && std::isnan(*a)) {
        return std::isnan(*b);
    }
    return a.has_value() == b.has_value() &&
           (!a || std::bit_cast<std::uint64_t>(*a) == std::bit_cast<std::uint64_t>(*b));
}

std::string CsvText(const std::string& text) {
    return !text.empty() && std::string_view("=+-@").find(text[0]) != std::string_view::npos
               ? "'" + text
               : text;
}

std::vector<RecordDetails> RandomDetails(Random& random, int count) {
    std::vector<RecordDetails> records;
    for (int i = 0; i < count; ++i) {
        CalibrationRecord record = test::AwkwardRecord(random);
        std::vector<Correction> trail;
        for (int c = static_cast<int>(random() % 3); c > 0; --c) {
            trail.push_back({test::RandomUuid(random), record.Uuid,
                             static_cast<CorrectedField>(random() % 6), test::AwkwardText(random),
                             test::AwkwardText(random),
                             static_cast<std::int64_t>(random() % 1000000), 0, "s"});
        }
        records.push_back(WithTrail(record, trail));
        records.back().Unsent = random() % 2;
    }
    return records;
}

TEST(RecordExport, CsvGivesEveryValueBackExactlyWithEitherSeparator) {
    Random random(61);
    const std::vector<RecordDetails> records = RandomDetails(random, 40);
    for (const char decimal : {'.', ','}) {
        SCOPED_TRACE(decimal);
        const Table table = ParseCsv(RecordsCsv(records, decimal), decimal == ',' ? ';' : ',');
        ASSERT_EQ(table[0].size(), 46u);
        EXPECT_EQ(table[0][1], "\xC4\x8C"
                               "as (UTC)");
        EXPECT_EQ(table[0][34], "Odchylka p\xC5\x99"
                                "ed kalibrac\xC3\xAD [\xC2\xB0"
                                "C]");
        std::size_t row = 1;
        for (const RecordDetails& details : records) {
            const CalibrationRecord& r = details.Latest;
            const std::size_t lines = std::max<std::size_t>(1, r.Points.size());
            for (std::size_t k = 0; k < lines; ++k, ++row) {
                ASSERT_LT(row, table.size());
                const std::vector<std::string>& f = table[row];
                ASSERT_EQ(f.size(), 46u) << row;
                EXPECT_EQ(f[0], r.Uuid);
                EXPECT_EQ(f[6], CsvText(r.Operator));
                EXPECT_EQ(f[9], CsvText(r.Reference.CertificateNumber));
                EXPECT_EQ(f[10], CsvText(r.ConverterType));
                EXPECT_EQ(f[11], std::to_string(r.Address));
                EXPECT_EQ(f[13], CsvText(r.Tag.value_or("")));
                EXPECT_EQ(f[14], std::to_string(r.Sensor));
                EXPECT_EQ(f[15], std::to_string(r.Points.size()));
                EXPECT_TRUE(SameNumber(CsvNumber(f[16]), r.MaxDeviation));
                EXPECT_TRUE(SameNumber(CsvNumber(f[17]), r.ResidualSd));
                EXPECT_TRUE(SameNumber(CsvNumber(f[18]), r.AsLeft.A3));
                EXPECT_TRUE(SameNumber(CsvNumber(f[21]), r.AsLeft.A0));
                EXPECT_EQ(f[22], r.AsFoundInForce ? "ano" : "ne");
                EXPECT_TRUE(SameNumber(CsvNumber(f[23]), r.AsFound.A3));
                EXPECT_EQ(f[28], CsvText(details.Note));
                if (r.Points.empty()) {
                    EXPECT_EQ(f[29], "");
                    EXPECT_EQ(f[45], "");
                    continue;
                }
                const RecordPoint& p = r.Points[k];
                EXPECT_EQ(f[29], std::to_string(k + 1));
                EXPECT_EQ(f[30], std::to_string(p.Raw));
                EXPECT_TRUE(SameNumber(CsvNumber(f[31]), p.TrueTemp)) << f[31];
                EXPECT_TRUE(SameNumber(CsvNumber(f[32]), p.Fitted)) << f[32];
                EXPECT_TRUE(SameNumber(CsvNumber(f[33]), p.Deviation));
                EXPECT_TRUE(SameNumber(CsvNumber(f[34]), p.AsFoundDeviation));
                const std::optional<PointStability>& stability = p.Stability;
                EXPECT_EQ(f[35], stability ? StabilityText(stability->Judgement.Verdict) : "");
                EXPECT_TRUE(SameNumber(CsvNumber(f[36]),
                                       stability ? std::optional(stability->Settings.WindowSeconds)
                                                 : std::nullopt));
                const auto bits = stability ? stability->Judgement.Bits : std::nullopt;
                const auto celsius = stability ? stability->Judgement.Celsius : std::nullopt;
                EXPECT_EQ(f[37], bits ? std::to_string(bits->Count) : "");
                for (auto [column, unit] : {std::pair{38, bits}, std::pair{42, celsius}}) {
                    for (double WindowStatistics::*figure :
                         {&WindowStatistics::Mean, &WindowStatistics::StandardDeviation,
                          &WindowStatistics::PeakToPeak, &WindowStatistics::SlopePerMinute}) {
                        EXPECT_TRUE(SameNumber(CsvNumber(f[static_cast<std::size_t>(column++)]),
                                               unit ? std::optional(*unit.*figure) : std::nullopt));
                    }
                }
            }
        }
        EXPECT_EQ(row, table.size());
    }
}

TEST(RecordExport, CsvShowsTheTimeBothWaysAndDefusesFormulas) {
    Random random(62);
    CalibrationRecord record = test::PlainRecord(random, 1'709'280'930'250, 4);
    record.UtcOffsetSeconds = -12'600;
    record.Operator = "=HYPERLINK(\"x\")";
    record.Tag = "a;b";
    const std::string csv = RecordsCsv({WithTrail(record, {})}, ',');
    const std::string expectedStart = record.Uuid +
                                      ";2024-03-01T08:15:30.250Z;2024-03-01 04:45:30;-03:30;"
                                      "kalibrace-1;1.0.0;\"'=HYPERLINK(\"\"x\"\")\";";
    EXPECT_NE(csv.find("\r\n" + expectedStart), std::string::npos) << csv;
    EXPECT_NE(csv.find(";\"a;b\";"), std::string::npos);
    EXPECT_NE(csv.find(";1,1e-13;-2,2e-08;0,0025;-40,5;ano;"), std::string::npos);
}

double Bits(const QJsonValue& hex) {
    return std::bit_cast<double>(hex.toString().toULongLong(nullptr, 16));
}

void ExpectNumber(const QJsonValue& value, const std::optional<double>& expected) {
    if (!expected || !std::isfinite(*expected)) {
        EXPECT_TRUE(value.isNull()) << "JSON has no infinity";
        return;
    }
    ASSERT_TRUE(value.isDouble());
    if (*expected == 0) {
        EXPECT_EQ(value.toDouble(), 0.0) << "a negative zero is written 0";
        return;
    }
    EXPECT_EQ(std::bit_cast<std::uint64_t>(value.toDouble()),
              std::bit_cast<std::uint64_t>(*expected))
        << *expected;
}

void ExpectFigures(const QJsonValue& value, const std::optional<WindowStatistics>& expected) {
    ASSERT_EQ(value.isNull(), !expected);
    if (expected) {
        EXPECT_EQ(value["count"].toInt(), expected->Count);
        ExpectNumber(value["mean"], expected->Mean);
        ExpectNumber(value["standard_deviation"], expected->StandardDeviation);
        ExpectNumber(value["peak_to_peak"], expected->PeakToPeak);
        ExpectNumber(value["slope_per_minute"], expected->SlopePerMinute);
    }
}

void ExpectStability(const QJsonValue& value, const std::optional<PointStability>& expected) {
    ASSERT_EQ(value.isNull(), !expected);
    if (!expected) {
        return;
    }
    EXPECT_EQ(StabilityCoded(value["verdict"].toString().toStdString()),
              expected->Judgement.Verdict);
    const StabilitySettings& settings = expected->Settings;
    ExpectNumber(value["window_s"], settings.WindowSeconds);
    ExpectNumber(value["limits"]["celsius"]["slope_per_minute"], settings.Celsius.SlopePerMinute);
    ExpectNumber(value["limits"]["celsius"]["standard_deviation"],
                 settings.Celsius.StandardDeviation);
    ExpectNumber(value["limits"]["bits"]["slope_per_minute"], settings.Bits.SlopePerMinute);
    ExpectNumber(value["limits"]["bits"]["standard_deviation"], settings.Bits.StandardDeviation);
    ExpectFigures(value["bits"], expected->Judgement.Bits);
    ExpectFigures(value["celsius"], expected->Judgement.Celsius);
}

TEST(RecordExport, JsonGivesEveryValueBackExactly) {
    Random random(63);
    const std::vector<RecordDetails> records = RandomDetails(random, 40);
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(RecordsJson(records)), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    EXPECT_EQ(document["format"].toString(), "zorm5816-records");
    EXPECT_EQ(document["version"].toInt(), 1);
    const QJsonArray array = document["records"].toArray();
    ASSERT_EQ(array.size(), static_cast<qsizetype>(records.size()));
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        const RecordDetails& details = records[i];
        const CalibrationRecord& r = details.Latest;
        const QJsonObject o = array[static_cast<qsizetype>(i)].toObject();
        EXPECT_EQ(o["uuid"].toString().toStdString(), r.Uuid);
        EXPECT_EQ(
            QDateTime::fromString(o["time_utc"].toString(), Qt::ISODateWithMs).toMSecsSinceEpoch(),
            r.TimeUtcMs);
        EXPECT_EQ(o["utc_offset_s"].toInt(), r.UtcOffsetSeconds);
        EXPECT_EQ(o["operator"].toString().toStdString(), r.Operator);
        EXPECT_EQ(o["written"]["operator"].toString().toStdString(), details.Written.Operator);
        EXPECT_EQ(o["reference"]["certificate_number"].toString().toStdString(),
                  r.Reference.CertificateNumber);
        EXPECT_EQ(o["converter"]["tag"].isNull(), !r.Tag);
        EXPECT_EQ(o["converter"]["tag"].toString().toStdString(), r.Tag.value_or(""));
        EXPECT_EQ(o["sensor"].toInt(), r.Sensor);
        EXPECT_EQ(o["note"].toString().toStdString(), details.Note);
        EXPECT_EQ(o["unsent"].toBool(), details.Unsent);
        EXPECT_EQ(o["fit"]["n"].toInt(), static_cast<int>(r.Points.size()));
        ExpectNumber(o["fit"]["max_deviation"], r.MaxDeviation);
        ExpectNumber(o["fit"]["s"], r.ResidualSd);
        EXPECT_EQ(o["reference_used"].isNull(), !r.ReferenceUsed);
        if (r.ReferenceUsed) {
            const ReferenceSnapshot& used = *r.ReferenceUsed;
            EXPECT_EQ(o["reference_used"]["instrument_uuid"].toString().toStdString(),
                      used.InstrumentUuid);
            ExpectNumber(o["reference_used"]["expanded_uncertainty"], used.Expanded);
            EXPECT_EQ(o["reference_used"]["calibrated"].toString().toStdString(),
                      DateText(used.Calibrated));
            EXPECT_EQ(o["reference_used"]["due"].toString().toStdString(), DateText(used.Due));
            EXPECT_EQ(o["reference_used"]["overdue"].toBool(), used.Overdue);
        }
        ExpectNumber(o["environment"]["ambient_temperature"], r.AmbientTemperature);
        ExpectNumber(o["environment"]["relative_humidity"], r.AmbientHumidity);
        const std::array<double, 4> left = {r.AsLeft.A3, r.AsLeft.A2, r.AsLeft.A1, r.AsLeft.A0};
        const std::array<double, 4> found = {r.AsFound.A3, r.AsFound.A2, r.AsFound.A1,
                                             r.AsFound.A0};
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(std::bit_cast<std::uint64_t>(Bits(o["as_left"]["bits"][c])),
                      std::bit_cast<std::uint64_t>(left[c]));
            EXPECT_EQ(std::bit_cast<std::uint64_t>(Bits(o["as_found"]["bits"][c])),
                      std::bit_cast<std::uint64_t>(found[c]));
        }
        ExpectNumber(o["as_left"]["A1"], left[2]);
        EXPECT_EQ(o["as_found"]["in_force"].toBool(), r.AsFoundInForce);
        const QJsonArray points = o["points"].toArray();
        ASSERT_EQ(points.size(), static_cast<qsizetype>(r.Points.size()));
        for (std::size_t k = 0; k < r.Points.size(); ++k) {
            const QJsonObject p = points[static_cast<qsizetype>(k)].toObject();
            EXPECT_EQ(p["raw"].toInteger(), r.Points[k].Raw);
            ExpectNumber(p["true_temp"], r.Points[k].TrueTemp);
            ExpectNumber(p["fitted"], r.Points[k].Fitted);
            ExpectNumber(p["deviation"], r.Points[k].Deviation);
            ExpectNumber(p["as_found_deviation"], r.Points[k].AsFoundDeviation);
            ExpectStability(p["stability"], r.Points[k].Stability);
        }
        const QJsonArray trail = o["corrections"].toArray();
        ASSERT_EQ(trail.size(), static_cast<qsizetype>(details.Trail.size()));
        for (std::size_t c = 0; c < details.Trail.size(); ++c) {
            EXPECT_EQ(trail[static_cast<qsizetype>(c)]["value"].toString().toStdString(),
                      details.Trail[c].Value);
            EXPECT_EQ(trail[static_cast<qsizetype>(c)]["field"].toString().toStdString(),
                      FieldName(details.Trail[c].Field));
        }
    }
}

} // namespace
} // namespace zorm
