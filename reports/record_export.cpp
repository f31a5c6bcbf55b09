#include "reports/record_export.h"

#include "records/reference_instrument.h"
#include "reports/json_values.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace zorm {

namespace {

using zorm::Json;

// The shortest text that reads back to the same double.
std::string NumberText(double value, char decimalSeparator) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    std::string number(text, end);
    for (char& c : number) {
        if (c == '.') {
            c = decimalSeparator;
        }
    }
    return number;
}

std::string NumberText(const std::optional<double>& value, char decimalSeparator) {
    return value ? NumberText(*value, decimalSeparator) : std::string();
}

QString UtcText(std::int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString LocalText(std::int64_t ms, std::int32_t offsetSeconds) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offsetSeconds)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// "+01:00", "-03:30".
std::string OffsetText(std::int32_t seconds) {
    const char sign = seconds < 0 ? '-' : '+';
    const std::int32_t minutes = (seconds < 0 ? -seconds : seconds) / 60;
    char text[16];
    std::snprintf(text, sizeof text, "%c%02d:%02d", sign, minutes / 60, minutes % 60);
    return text;
}

std::array<double, 4> Values(const Cubic& cubic) {
    return {cubic.A3, cubic.A2, cubic.A1, cubic.A0};
}

// A field of a CSV line: quoted where it holds the separator, a quote or a
// line break, and kept from being read as a formula where it is a text.
class CsvLine {
public:
    explicit CsvLine(char separator) : separator_(separator) {}

    CsvLine& Text(const std::string& text) {
        const bool formula =
            !text.empty() && std::string_view("=+-@").find(text[0]) != std::string_view::npos;
        return Field(formula ? "'" + text : text);
    }
    CsvLine& Field(const std::string& field) {
        if (started_) {
            line_.push_back(separator_);
        }
        started_ = true;
        if (field.find_first_of(std::string{separator_, '"', '\r', '\n'}) == std::string::npos) {
            line_ += field;
            return *this;
        }
        line_.push_back('"');
        for (const char c : field) {
            line_ += c == '"' ? std::string("\"\"") : std::string(1, c);
        }
        line_.push_back('"');
        return *this;
    }
    std::string End() const { return line_ + "\r\n"; }

private:
    char separator_;
    std::string line_;
    bool started_ = false;
};

// The columns of a record; a point's follow them.
constexpr std::size_t RecordColumns = 29;

constexpr std::array<const char*, 46> CsvHeader = {
    "UUID",
    "Čas (UTC)",
    "Místní čas",
    "Posun od UTC",
    "Stanice",
    "Verze programu",
    "Operátor",
    "Referenční přístroj",
    "Výrobní číslo reference",
    "Číslo certifikátu reference",
    "Typ převodníku",
    "Adresa",
    "Port",
    "Označení převodníku",
    "Snímač",
    "Počet bodů",
    "Max. odchylka [°C]",
    "Směrodatná odchylka s [°C]",
    "A3",
    "A2",
    "A1",
    "A0",
    "Kalibrace před (as found)",
    "A3 před",
    "A2 před",
    "A1 před",
    "A0 před",
    "Obnoveno ze záznamu",
    "Poznámka",
    "Bod",
    "Měřená hodnota [bit]",
    "Skutečná teplota [°C]",
    "Vypočítaná teplota [°C]",
    "Odchylka [°C]",
    "Odchylka před kalibrací [°C]",
    "Stabilita odečtů",
    "Okno W [s]",
    "Počet odečtů",
    "Průměr odečtů [bit]",
    "Směrodatná odchylka odečtů [bit]",
    "Rozkmit odečtů [bit]",
    "Směrnice odečtů [bit/min]",
    "Průměr odečtů [°C]",
    "Směrodatná odchylka odečtů [°C]",
    "Rozkmit odečtů [°C]",
    "Směrnice odečtů [°C/min]",
};

// Mean, standard deviation, peak to peak and slope, where there are such.
std::array<std::optional<double>, 4> Figures(const std::optional<WindowStatistics>& s) {
    if (!s) {
        return {};
    }
    return {s->Mean, s->StandardDeviation, s->PeakToPeak, s->SlopePerMinute};
}

QJsonValue Json(const std::optional<std::string>& text) {
    return text ? QJsonValue(QString::fromStdString(*text)) : QJsonValue();
}

QString Json(const std::string& text) {
    return QString::fromStdString(text);
}

QJsonObject JsonReference(const ReferenceInstrument& reference) {
    return {{"description", Json(reference.Description)},
            {"serial_number", Json(reference.SerialNumber)},
            {"certificate_number", Json(reference.CertificateNumber)}};
}

// The reference instrument as the record copied it at the commit; null where
// none was picked.
QJsonValue JsonReferenceUsed(const std::optional<ReferenceSnapshot>& used) {
    if (!used) {
        return QJsonValue();
    }
    return QJsonObject{{"instrument_uuid", Json(used->InstrumentUuid)},
                       {"expanded_uncertainty", Json(std::optional(used->Expanded))},
                       {"calibrated", Json(DateText(used->Calibrated))},
                       {"due", Json(DateText(used->Due))},
                       {"overdue", used->Overdue}};
}

QJsonValue JsonFigures(const std::optional<WindowStatistics>& statistics) {
    if (!statistics) {
        return QJsonValue();
    }
    const auto [mean, deviation, peakToPeak, slope] = Figures(statistics);
    return QJsonObject{{"count", statistics->Count},
                       {"mean", Json(mean)},
                       {"standard_deviation", Json(deviation)},
                       {"peak_to_peak", Json(peakToPeak)},
                       {"slope_per_minute", Json(slope)}};
}

QJsonObject JsonLimits(const StabilityLimits& limits) {
    return {{"slope_per_minute", Json(std::optional(limits.SlopePerMinute))},
            {"standard_deviation", Json(std::optional(limits.StandardDeviation))}};
}

// How settled the readings were when the point was taken: the verdict, the
// window and limits it was judged by, and the statistics in bits and in °C;
// null for a point taken otherwise.
QJsonValue JsonStability(const std::optional<PointStability>& stability) {
    if (!stability) {
        return QJsonValue();
    }
    const StabilitySettings& settings = stability->Settings;
    return QJsonObject{
        {"verdict", QString::fromLatin1(StabilityCode(stability->Judgement.Verdict))},
        {"window_s", Json(std::optional(settings.WindowSeconds))},
        {"limits", QJsonObject{{"celsius", JsonLimits(settings.Celsius)},
                               {"bits", JsonLimits(settings.Bits)}}},
        {"bits", JsonFigures(stability->Judgement.Bits)},
        {"celsius", JsonFigures(stability->Judgement.Celsius)}};
}

QJsonObject JsonRecord(const RecordDetails& details) {
    const CalibrationRecord& r = details.Latest;
    QJsonArray points;
    for (const RecordPoint& p : r.Points) {
        points.append(QJsonObject{{"raw", p.Raw},
                                  {"true_temp", p.TrueTemp},
                                  {"fitted", Json(p.Fitted)},
                                  {"deviation", Json(p.Deviation)},
                                  {"as_found_deviation", Json(p.AsFoundDeviation)},
                                  {"stability", JsonStability(p.Stability)}});
    }
    QJsonArray corrections;
    for (const Correction& c : details.Trail) {
        corrections.append(QJsonObject{{"uuid", Json(c.Uuid)},
                                       {"field", QString::fromLatin1(FieldName(c.Field))},
                                       {"value", Json(c.Value)},
                                       {"author", Json(c.Author)},
                                       {"time_utc", UtcText(c.TimeUtcMs)},
                                       {"utc_offset_s", c.UtcOffsetSeconds},
                                       {"station", Json(c.Station)}});
    }
    QJsonObject asFound = JsonCubic(r.AsFound);
    asFound["in_force"] = r.AsFoundInForce;
    const CalibrationRecord& w = details.Written;
    return {
        {"uuid", Json(r.Uuid)},
        {"time_utc", UtcText(r.TimeUtcMs)},
        {"utc_offset_s", r.UtcOffsetSeconds},
        {"station", Json(r.Station)},
        {"program_version", Json(r.ProgramVersion)},
        {"operator", Json(r.Operator)},
        {"reference", JsonReference(r.Reference)},
        {"converter", QJsonObject{{"type", Json(r.ConverterType)},
                                  {"address", r.Address},
                                  {"port", r.Port},
                                  {"tag", Json(r.Tag)}}},
        {"sensor", r.Sensor},
        {"points", points},
        {"as_left", JsonCubic(r.AsLeft)},
        {"as_found", asFound},
        {"fit", QJsonObject{{"n", static_cast<int>(r.Points.size())},
                            {"max_deviation", Json(r.MaxDeviation)},
                            {"s", Json(r.ResidualSd)}}},
        {"restored_from", Json(r.RestoredFrom)},
        {"reference_used", JsonReferenceUsed(r.ReferenceUsed)},
        {"environment", QJsonObject{{"ambient_temperature", Json(r.AmbientTemperature)},
                                    {"relative_humidity", Json(r.AmbientHumidity)}}},
        {"note", Json(details.Note)},
        {"written", QJsonObject{{"operator", Json(w.Operator)},
                                {"reference", JsonReference(w.Reference)},
                                {"tag", Json(w.Tag)}}},
        {"corrections", corrections},
        {"unsent", details.Unsent},
    };
}

} // namespace

std::string RecordsCsv(const std::vector<RecordDetails>& records, char decimalSeparator) {
    const char separator = decimalSeparator == ',' ? ';' : ',';
    std::string csv = "\xEF\xBB\xBF";
    CsvLine header(separator);
    for (const char* name : CsvHeader) {
        header.Field(name);
    }
    csv += header.End();
    for (const RecordDetails& details : records) {
        const CalibrationRecord& r = details.Latest;
        CsvLine fields(separator);
        fields.Field(r.Uuid)
            .Field(UtcText(r.TimeUtcMs).toStdString())
            .Field(LocalText(r.TimeUtcMs, r.UtcOffsetSeconds).toStdString())
            .Field(OffsetText(r.UtcOffsetSeconds))
            .Text(r.Station)
            .Text(r.ProgramVersion)
            .Text(r.Operator)
            .Text(r.Reference.Description)
            .Text(r.Reference.SerialNumber)
            .Text(r.Reference.CertificateNumber)
            .Text(r.ConverterType)
            .Field(std::to_string(r.Address))
            .Field(std::to_string(r.Port))
            .Text(r.Tag.value_or(""))
            .Field(std::to_string(r.Sensor))
            .Field(std::to_string(r.Points.size()))
            .Field(NumberText(r.MaxDeviation, decimalSeparator))
            .Field(NumberText(r.ResidualSd, decimalSeparator));
        for (const double value : Values(r.AsLeft)) {
            fields.Field(NumberText(value, decimalSeparator));
        }
        fields.Field(r.AsFoundInForce ? "ano" : "ne");
        for (const double value : Values(r.AsFound)) {
            fields.Field(NumberText(value, decimalSeparator));
        }
        fields.Text(r.RestoredFrom.value_or("")).Text(details.Note);
        if (r.Points.empty()) {
            for (std::size_t column = RecordColumns; column < CsvHeader.size(); ++column) {
                fields.Field("");
            }
            csv += fields.End();
        }
        for (std::size_t k = 0; k < r.Points.size(); ++k) {
            const RecordPoint& p = r.Points[k];
            CsvLine line = fields;
            line.Field(std::to_string(k + 1))
                .Field(std::to_string(p.Raw))
                .Field(NumberText(p.TrueTemp, decimalSeparator))
                .Field(NumberText(p.Fitted, decimalSeparator))
                .Field(NumberText(p.Deviation, decimalSeparator))
                .Field(NumberText(p.AsFoundDeviation, decimalSeparator));
            const std::optional<PointStability>& stability = p.Stability;
            line.Field(stability ? StabilityText(stability->Judgement.Verdict) : "")
                .Field(NumberText(stability ? std::optional(stability->Settings.WindowSeconds)
                                            : std::nullopt,
                                  decimalSeparator));
            const std::optional<WindowStatistics> bits =
                stability ? stability->Judgement.Bits : std::nullopt;
            line.Field(bits ? std::to_string(bits->Count) : "");
            for (const auto& unit :
                 {bits, stability ? stability->Judgement.Celsius : std::nullopt}) {
                for (const std::optional<double>& figure : Figures(unit)) {
                    line.Field(NumberText(figure, decimalSeparator));
                }
            }
            csv += line.End();
        }
    }
    return csv;
}

std::string RecordsJson(const std::vector<RecordDetails>& records) {
    QJsonArray array;
    for (const RecordDetails& details : records) {
        array.append(JsonRecord(details));
    }
    const QJsonObject document{{"format", "zorm5816-records"}, {"version", 1}, {"records", array}};
    return QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString();
}

} // namespace zorm
