#include "reports/record_view.h"

#include "data/number_text.h"

#include <QDate>
#include <QDateTime>
#include <QString>

#include <bit>
#include <cmath>
#include <cstdio>
#include <optional>

namespace zorm {

namespace {

std::string Escaped(const std::string& text) {
    return QString::fromStdString(text).toHtmlEscaped().toStdString();
}

// A temperature or deviation as the calibration window writes it; nothing
// where the arithmetic gave none.
std::string Temperature(const std::optional<double>& value, int decimals, char sep) {
    return value ? fixed(*value, 6, decimals, sep) : std::string();
}

std::string OffsetText(std::int32_t seconds) {
    const std::int32_t minutes = (seconds < 0 ? -seconds : seconds) / 60;
    char text[16];
    std::snprintf(text, sizeof text, "UTC%c%02d:%02d", seconds < 0 ? '-' : '+',
                  static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
    return text;
}

std::string ConverterText(const CalibrationRecord& r) {
    std::string text = Escaped(r.ConverterType) + ", adresa " + std::to_string(r.Address) +
                       ", port COM" + std::to_string(r.Port);
    if (r.Tag) {
        text += ", označení <b>" + Escaped(*r.Tag) + "</b>";
    }
    return text;
}

std::string Row(const std::string& caption, const std::string& value) {
    return "<tr><td>" + caption + "</td><td>" + value + "</td></tr>";
}

std::string Cell(const std::string& text, bool heading = false) {
    return heading ? "<th>" + text + "</th>" : "<td align=\"right\">" + text + "</td>";
}

std::string CubicRows(const char* caption, const Cubic& cubic, char sep) {
    std::string values = "<tr><td>" + std::string(caption) + "</td>";
    std::string bits = "<tr><td></td>";
    for (const double value : {cubic.A3, cubic.A2, cubic.A1, cubic.A0}) {
        values += Cell(general(value, 8, sep));
        bits += "<td align=\"right\"><tt>" + DoubleBits(value) + "</tt></td>";
    }
    return values + "</tr>" + bits + "</tr>";
}

// How settled the readings were when each point was taken, where the
// assistant saw it: the verdict, W, and the standard deviation and slope in
// the unit the verdict was taken in. Nothing when no point has it.
std::string StabilityTable(const std::vector<RecordPoint>& points, char sep) {
    std::string rows;
    for (std::size_t k = 0; k < points.size(); ++k) {
        const std::optional<PointStability>& stability = points[k].Stability;
        if (!stability) {
            continue;
        }
        const StabilityJudgement& judgement = stability->Judgement;
        const bool celsius = judgement.Celsius.has_value();
        const std::optional<WindowStatistics>& judged =
            celsius ? judgement.Celsius : judgement.Bits;
        const std::string unit = celsius ? " °C" : " bit";
        const auto figure = [&](double WindowStatistics::*value, const std::string& suffix) {
            return Cell(judged ? fixed(*judged.*value, 6, celsius ? 4 : 2, sep) + suffix : "–");
        };
        rows += "<tr>" + Cell(std::to_string(k + 1)) + "<td>" + StabilityText(judgement.Verdict) +
                "</td>" + Cell(general(stability->Settings.WindowSeconds, 6, sep)) +
                figure(&WindowStatistics::StandardDeviation, unit) +
                figure(&WindowStatistics::SlopePerMinute, unit + "/min") + "</tr>";
    }
    if (rows.empty()) {
        return rows;
    }
    std::string html = "<h4>Stabilita odečtů při zápisu bodů</h4>"
                       "<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\"><tr>";
    for (const char* heading :
         {"Bod", "Stabilita", "Okno W [s]", "Směrodatná odchylka", "Směrnice"}) {
        html += Cell(heading, true);
    }
    return html + "</tr>" + rows + "</table>";
}

} // namespace

std::string RecordTimeText(std::int64_t utcMs, std::int32_t utcOffsetSeconds) {
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::OffsetFromUTC, utcOffsetSeconds)
        .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))
        .toStdString();
}

std::string DoubleBits(double value) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx",
                  static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(value)));
    return hex;
}

const std::array<const char*, RecordListColumns>& RecordListHeadings() {
    static const std::array<const char*, RecordListColumns> headings = {
        "Čas",      "Stanice", "Operátor", "Převodník",          "Adresa", "Port",
        "Označení", "Snímač",  "Bodů",     "Max. odchylka [°C]", "s [°C]", "Stav"};
    return headings;
}

std::array<std::string, RecordListColumns> RecordListRow(const RecordSummary& row, char sep) {
    std::string state = row.Unsent ? "čeká na odeslání" : "";
    if (row.RestoredFrom) {
        state += state.empty() ? "obnovený" : ", obnovený";
    }
    return {RecordTimeText(row.TimeUtcMs, row.UtcOffsetSeconds),
            row.Station,
            row.Operator,
            row.ConverterType,
            std::to_string(row.Address),
            "COM" + std::to_string(row.Port),
            row.Tag.value_or(""),
            std::to_string(row.Sensor),
            std::to_string(row.PointCount),
            Temperature(row.MaxDeviation, 4, sep),
            Temperature(row.ResidualSd, 4, sep),
            state};
}

std::string RecordDetailsHtml(const RecordDetails& details, char sep) {
    const CalibrationRecord& r = details.Latest;
    std::string html = "<h3>Kalibrace snímače " + std::to_string(r.Sensor) + "</h3><table>";
    html += Row("Čas:", RecordTimeText(r.TimeUtcMs, r.UtcOffsetSeconds) + " (" +
                            OffsetText(r.UtcOffsetSeconds) + ")");
    html += Row("Převodník:", ConverterText(r));
    html += Row("Operátor:", Escaped(r.Operator));
    html += Row("Referenční přístroj:", Escaped(r.Reference.Description) + ", výrobní číslo " +
                                            Escaped(r.Reference.SerialNumber) + ", certifikát " +
                                            Escaped(r.Reference.CertificateNumber));
    html += Row("Stanice:", Escaped(r.Station) + ", program " + Escaped(r.ProgramVersion));
    if (r.RestoredFrom) {
        html += Row("Obnoveno ze záznamu:", "<tt>" + Escaped(*r.RestoredFrom) + "</tt>");
    }
    if (!details.Note.empty()) {
        html += Row("Poznámka:", Escaped(details.Note));
    }
    if (details.Unsent) {
        html += Row("Stav:", "čeká na odeslání do sdílené databáze");
    }
    html += Row("UUID:", "<tt>" + r.Uuid + "</tt>");
    html += "</table>";

    html += "<h4>Body</h4><table border=\"1\" cellspacing=\"0\" cellpadding=\"2\"><tr>";
    for (const char* heading :
         {"Bod", "Měřená hodnota [bit]", "Skutečná teplota [°C]", "Vypočítaná teplota [°C]",
          "Odchylka [°C]", "Odchylka před kalibrací [°C]"}) {
        html += Cell(heading, true);
    }
    html += "</tr>";
    for (std::size_t k = 0; k < r.Points.size(); ++k) {
        const RecordPoint& p = r.Points[k];
        html += "<tr>" + Cell(std::to_string(k + 1)) + Cell(std::to_string(p.Raw)) +
                Cell(fixed(p.TrueTemp, 6, 2, sep)) + Cell(Temperature(p.Fitted, 3, sep)) +
                Cell(Temperature(p.Deviation, 3, sep)) +
                Cell(Temperature(p.AsFoundDeviation, 3, sep)) + "</tr>";
    }
    html += "</table>" + StabilityTable(r.Points, sep);

    html += "<h4>Koeficienty</h4><table cellspacing=\"0\" cellpadding=\"2\"><tr><th></th>";
    for (const char* heading : {"A3", "A2", "A1", "A0"}) {
        html += Cell(heading, true);
    }
    html += "</tr>" + CubicRows("po kalibraci (as left)", r.AsLeft, sep) +
            CubicRows(r.AsFoundInForce ? "před kalibrací (as found)"
                                       : "před kalibrací (as found, bez kalibrace)",
                      r.AsFound, sep) +
            "</table>";

    html += "<h4>Regrese</h4><table>";
    html += Row("Počet bodů n:", std::to_string(r.Points.size()));
    html += Row("Max. odchylka:", r.MaxDeviation ? fixed(*r.MaxDeviation, 6, 4, sep) + " °C"
                                                 : std::string("nelze spočítat"));
    html += Row("Směrodatná odchylka s:", r.ResidualSd ? fixed(*r.ResidualSd, 6, 4, sep) + " °C"
                                                       : std::string("není (n ≤ 4)"));
    html += "</table>";

    html += "<h4>Opravy</h4>";
    if (details.Trail.empty()) {
        return html + "<p>žádné</p>";
    }
    html += "<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\"><tr>";
    for (const char* heading : {"Čas", "Kdo", "Stanice", "Údaj", "Nová hodnota"}) {
        html += Cell(heading, true);
    }
    html += "</tr>";
    for (const Correction& c : details.Trail) {
        html += "<tr><td>" + RecordTimeText(c.TimeUtcMs, c.UtcOffsetSeconds) + "</td><td>" +
                Escaped(c.Author) + "</td><td>" + Escaped(c.Station) + "</td><td>" +
                CorrectedFieldCaption(c.Field) + "</td><td>" + Escaped(c.Value) + "</td></tr>";
    }
    return html + "</table>";
}

const char* CorrectedFieldCaption(CorrectedField field) {
    switch (field) {
    case CorrectedField::Tag:
        return "Označení převodníku";
    case CorrectedField::Operator:
        return "Operátor";
    case CorrectedField::ReferenceDescription:
        return "Referenční přístroj";
    case CorrectedField::ReferenceSerial:
        return "Výrobní číslo reference";
    case CorrectedField::ReferenceCertificate:
        return "Číslo certifikátu reference";
    case CorrectedField::Note:
        return "Poznámka";
    }
    return "";
}

std::int64_t LocalDayStartUtcMs(int year, int month, int day) {
    return QDate(year, month, day).startOfDay().toMSecsSinceEpoch();
}

} // namespace zorm
