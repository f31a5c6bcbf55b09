#include "reports/certificate_content.h"

#include "data/number_text.h"
#include "records/reference_instrument.h"
#include "reports/json_values.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace zorm {

namespace {

// Far below anything a certificate shows: the sum of two decimals such as
// 0.0500 + 0.05 may come out a bit above 0.1 in binary.
constexpr double AcceptanceSlack = 1e-9;

// A deviation as the certificate prints it (fixed 6, 4), read back.
double AsShown(double deviation) {
    const std::string text = fixed(deviation, 6, 4);
    double shown = deviation;
    std::from_chars(text.data(), text.data() + text.size(), shown);
    return shown;
}

std::string Number(double value, char sep) {
    return general(value, 6, sep);
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// "1. 3. 2024" with no-break spaces, so that a line never ends inside it.
std::string DateKeptTogether(Date date) {
    std::string text;
    for (const char c : CzechDateText(date)) {
        text += c == ' ' ? std::string("\u00A0") : std::string(1, c);
    }
    return text;
}

} // namespace

std::variant<CertificateFigures, std::string> FiguresOf(const CalibrationRecord& record,
                                                        const std::optional<double>& tolerance) {
    if (!record.ReferenceUsed) {
        return "Záznam neuvádí referenční přístroj ze seznamu stanice s jeho nejistotou a "
               "platností kalibrace, kalibrační list z něj nelze vystavit.";
    }
    std::vector<CalibrationPoint> points;
    bool deviations = true;
    for (const RecordPoint& point : record.Points) {
        points.push_back({point.Raw, static_cast<float>(point.TrueTemp)});
        deviations = deviations && point.Fitted && point.Deviation;
    }
    const auto uncertainty =
        deviations ? EstimateUncertainty(points, record.AsLeft, record.ReferenceUsed->Expanded)
                   : std::nullopt;
    if (!uncertainty) {
        return "Z bodů záznamu nelze spočítat odchylky a nejistotu kalibrace (body neurčují "
               "kubický polynom nebo výpočet selhal), kalibrační list z něj nelze vystavit.";
    }
    CertificateFigures figures;
    figures.Uncertainty = *uncertainty;
    const auto [lowest, highest] = std::ranges::minmax_element(
        record.Points, [](const RecordPoint& a, const RecordPoint& b) { return a.Raw < b.Raw; });
    figures.LowestRaw = lowest->Raw;
    figures.HighestRaw = highest->Raw;
    figures.LowestTemp = std::min(lowest->TrueTemp, highest->TrueTemp);
    figures.HighestTemp = std::max(lowest->TrueTemp, highest->TrueTemp);
    if (tolerance && *tolerance > 0) {
        Conformity judged{*tolerance, {}, true};
        for (const RecordPoint& point : record.Points) {
            const bool conforms = std::fabs(AsShown(*point.Deviation)) + uncertainty->Stated <=
                                  *tolerance + AcceptanceSlack;
            judged.Points.push_back(conforms);
            judged.Conforms = judged.Conforms && conforms;
        }
        figures.Judged = judged;
    }
    return figures;
}

std::string MethodText(int points) {
    return "Kubický polynom proložený metodou nejmenších čtverců, počet kalibračních bodů n = " +
           std::to_string(points);
}

std::string UncertaintyStatement(const CalibrationRecord& record, const CertificateFigures& figures,
                                 char sep) {
    const FitUncertainty& u = figures.Uncertainty;
    const std::string reference = Number(record.ReferenceUsed->Expanded, sep);
    std::string text = "Rozšířená nejistota měření U = " + UncertaintyText(u.Stated, sep) +
                       " °C (koeficient rozšíření k = 2, pravděpodobnost pokrytí přibližně 95 %) "
                       "je největší hodnota v celém kalibrovaném rozsahu " +
                       fixed(figures.LowestTemp, 6, 2, sep) + " až " +
                       fixed(figures.HighestTemp, 6, 2, sep) + " °C. ";
    if (u.S) {
        text += "Zahrnuje nejistotu referenčního přístroje U_ref = " + reference +
                " °C (k = 2) a nejistotu proloženého polynomu ze směrodatné odchylky s = " +
                general(*u.S, 3, sep) + " °C (" + std::to_string(u.DegreesOfFreedom) +
                " stupňů volnosti, ν = n − 4).";
    } else {
        text += "Ze čtyř bodů nelze stanovit směrodatnou odchylku proložení (ν = n − 4 = 0 "
                "stupňů volnosti); uvedená nejistota proto zahrnuje pouze příspěvek "
                "referenčního přístroje U_ref = " +
                reference + " °C (k = 2).";
    }
    return text;
}

std::string ConformityStatement(const Conformity& judged, double expanded, char sep) {
    std::string text = "Posouzení shody s tolerancí ±" + Number(judged.Tolerance, sep) +
                       " °C podle pravidla jednoduchého přijetí: bod vyhovuje, je-li |odchylka| + "
                       "U ≤ tolerance (U = " +
                       UncertaintyText(expanded, sep) + " °C). Výsledek: ";
    if (judged.Conforms) {
        return text + "vyhovuje, všechny body v toleranci.";
    }
    std::string failing;
    for (std::size_t k = 0; k < judged.Points.size(); ++k) {
        if (!judged.Points[k]) {
            failing += (failing.empty() ? "" : ", ") + std::to_string(k + 1);
        }
    }
    return text + "nevyhovuje (body " + failing + ").";
}

std::string ReferenceText(const CalibrationRecord& record, char sep) {
    const ReferenceInstrument& identity = record.Reference;
    std::string text = identity.Description + ", výrobní číslo " + identity.SerialNumber +
                       ", kalibrační list " + identity.CertificateNumber + " ze dne " +
                       DateKeptTogether(record.ReferenceUsed->Calibrated) + " platný do " +
                       DateKeptTogether(record.ReferenceUsed->Due) +
                       ", U = " + Number(record.ReferenceUsed->Expanded, sep) + " °C (k = 2)";
    if (record.ReferenceUsed->Overdue) {
        text += "; v den kalibrace byla lhůta platnosti jeho kalibrace překročena";
    }
    return text;
}

std::string EnvironmentText(const CalibrationRecord& record, char sep) {
    std::string text;
    if (record.AmbientTemperature) {
        text = "teplota okolí " + Number(*record.AmbientTemperature, sep) + " °C";
    }
    if (record.AmbientHumidity) {
        text += (text.empty() ? "" : ", ") + std::string("relativní vlhkost ") +
                Number(*record.AmbientHumidity, sep) + " %";
    }
    return text;
}

std::vector<std::string> LaboratoryLines(const ServiceContact& laboratory) {
    std::vector<std::string> lines;
    std::string contact;
    const std::array<std::pair<const char*, const std::string*>, 3> reach = {
        {{"tel. ", &laboratory.Phone}, {"e-mail ", &laboratory.Email}, {"", &laboratory.Internet}}};
    for (const auto& [label, value] : reach) {
        if (!value->empty()) {
            contact += (contact.empty() ? "" : ", ") + std::string(label) + *value;
        }
    }
    const std::array<const std::string*, 4> all = {&laboratory.Name, &laboratory.Street,
                                                   &laboratory.Town, &contact};
    for (const std::string* line : all) {
        if (!line->empty()) {
            lines.push_back(*line);
        }
    }
    return lines;
}

std::string CertificateJson(const CertificateInput& input, const CertificateFigures& figures) {
    const CalibrationRecord& r = input.Record.Latest;
    const ReferenceSnapshot& used = *r.ReferenceUsed;
    const ServiceContact& lab = input.Laboratory;
    QJsonArray points;
    QJsonArray asFound;
    for (std::size_t k = 0; k < r.Points.size(); ++k) {
        const RecordPoint& p = r.Points[k];
        QJsonObject point{{"raw", p.Raw},
                          {"true_temp", p.TrueTemp},
                          {"fitted", Json(p.Fitted)},
                          {"deviation", Json(p.Deviation)}};
        if (figures.Judged) {
            point["conforms"] = static_cast<bool>(figures.Judged->Points[k]);
        }
        points.append(point);
        const std::optional<double> old = FittedTemperature(r.AsFound, p.Raw);
        asFound.append(QJsonObject{
            {"raw", p.Raw},
            {"true_temp", p.TrueTemp},
            {"indicated", Json(old)},
            {"deviation",
             Json(p.AsFoundDeviation ? std::optional(-*p.AsFoundDeviation) : std::nullopt)}});
    }
    QJsonObject conformity;
    if (figures.Judged) {
        conformity = {{"tolerance", figures.Judged->Tolerance},
                      {"rule", "|deviation| + U <= tolerance"},
                      {"conforms", figures.Judged->Conforms}};
    }
    const QJsonObject document{
        {"format", "zorm5816-certificate"},
        {"version", 1},
        {"number", Q(input.Number)},
        {"issued", Q(DateText(input.Issued))},
        {"calibrated", Q(DateText(LocalDate(r.TimeUtcMs, r.UtcOffsetSeconds)))},
        {"time_utc",
         QDateTime::fromMSecsSinceEpoch(r.TimeUtcMs, Qt::UTC).toString(Qt::ISODateWithMs)},
        {"record_uuid", Q(r.Uuid)},
        {"station", Q(r.Station)},
        {"program_version", Q(r.ProgramVersion)},
        {"laboratory", QJsonObject{{"name", Q(lab.Name)},
                                   {"street", Q(lab.Street)},
                                   {"town", Q(lab.Town)},
                                   {"phone", Q(lab.Phone)},
                                   {"email", Q(lab.Email)},
                                   {"internet", Q(lab.Internet)}}},
        {"item", QJsonObject{{"type", Q(r.ConverterType)},
                             {"tag", r.Tag ? QJsonValue(Q(*r.Tag)) : QJsonValue()},
                             {"address", r.Address},
                             {"port", r.Port},
                             {"sensor", r.Sensor}}},
        {"method", QJsonObject{{"text", Q(MethodText(static_cast<int>(r.Points.size())))},
                               {"model", "cubic, least squares"},
                               {"n", static_cast<int>(r.Points.size())}}},
        {"reference", QJsonObject{{"description", Q(r.Reference.Description)},
                                  {"serial_number", Q(r.Reference.SerialNumber)},
                                  {"certificate_number", Q(r.Reference.CertificateNumber)},
                                  {"instrument_uuid", Q(used.InstrumentUuid)},
                                  {"expanded_uncertainty", used.Expanded},
                                  {"calibrated", Q(DateText(used.Calibrated))},
                                  {"due", Q(DateText(used.Due))},
                                  {"overdue_at_calibration", used.Overdue}}},
        {"environment", QJsonObject{{"ambient_temperature", Json(r.AmbientTemperature)},
                                    {"relative_humidity", Json(r.AmbientHumidity)}}},
        {"points", points},
        {"as_found",
         r.AsFoundInForce
             ? QJsonValue(QJsonObject{{"coefficients", JsonCubic(r.AsFound)}, {"points", asFound}})
             : QJsonValue()},
        {"coefficients", JsonCubic(r.AsLeft)},
        {"uncertainty", QJsonObject{{"expanded", figures.Uncertainty.Stated},
                                    {"expanded_unrounded", figures.Uncertainty.Expanded},
                                    {"coverage_factor", 2},
                                    {"at_raw", figures.Uncertainty.AtRaw},
                                    {"s", Json(figures.Uncertainty.S)},
                                    {"degrees_of_freedom", figures.Uncertainty.DegreesOfFreedom},
                                    {"reference_expanded", used.Expanded}}},
        {"calibrated_range", QJsonObject{{"lowest_temp", figures.LowestTemp},
                                         {"highest_temp", figures.HighestTemp},
                                         {"lowest_raw", figures.LowestRaw},
                                         {"highest_raw", figures.HighestRaw}}},
        {"conformity", figures.Judged ? QJsonValue(conformity) : QJsonValue()},
        {"operator", Q(r.Operator)},
        {"note", Q(ReproductionNote)},
    };
    return QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString();
}

} // namespace zorm
