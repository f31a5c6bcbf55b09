// What a calibration certificate ("Kalibrační list") of one record states,
// apart from its layout: the figures computed from the record (the expanded
// uncertainty of the fit, the calibrated range, the conformity with a
// tolerance), the texts in Czech, and the same content as JSON for plant
// systems. certificate.h lays it out as a PDF.
//
// Every deviation a certificate shows is the indicated minus the true
// temperature, before the calibration too (the record keeps those the other
// way round, true minus what the old polynomial gave).
#pragma once

#include "data/contact_file.h"
#include "data/fit_statistics.h"
#include "records/calibration_record.h"
#include "records/station_settings.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace zorm {

struct CertificateInput {
    // Printed with its latest values (corrections applied).
    RecordDetails Record;
    // The laboratory: Kontakt.ini of the data folder.
    ServiceContact Laboratory;
    // The station settings at the issue (the tolerance).
    StationSettings Settings;
    Date Issued{};
    std::string Number;
    // The decimal separator of the regional settings, for every number text.
    char Separator = ',';
};

// Simple acceptance: a point conforms when |deviation| + U <= tolerance,
// with U the expanded uncertainty the certificate states.
struct Conformity {
    double Tolerance = 0;
    // Per point, in the record's order.
    std::vector<bool> Points;
    bool Conforms = false;
};

struct CertificateFigures {
    FitUncertainty Uncertainty;
    // The calibrated range: the true temperatures of the points with the
    // smallest and the largest raw reading, lower first.
    double LowestTemp = 0;
    double HighestTemp = 0;
    std::int32_t LowestRaw = 0;
    std::int32_t HighestRaw = 0;
    std::optional<Conformity> Judged;
};

// The figures of a certificate, or why none can be made of the record (a
// Czech sentence): it needs the reference instrument's snapshot, for its U,
// and a fit whose deviations and uncertainty can be computed.
std::variant<CertificateFigures, std::string> FiguresOf(const CalibrationRecord& record,
                                                        const std::optional<double>& tolerance);

// "Proložení kubickým polynomem metodou nejmenších čtverců, n = 12 bodů".
std::string MethodText(int points);
// The uncertainty statement, one paragraph, and the line with its formula.
std::string UncertaintyStatement(const CalibrationRecord& record, const CertificateFigures& figures,
                                 char sep);
// The conformity statement with its rule, where a tolerance is set.
std::string ConformityStatement(const Conformity& judged, double expanded, char sep);
// The reference instrument in one line: description, serial number, its
// certificate, due date, U, and whether it was overdue at the calibration.
std::string ReferenceText(const CalibrationRecord& record, char sep);
// The environment in one line; empty where the record holds none.
std::string EnvironmentText(const CalibrationRecord& record, char sep);
// The laboratory's lines (name, address, contact), those it gives.
std::vector<std::string> LaboratoryLines(const ServiceContact& laboratory);

inline constexpr const char* CertificateTitle = "Kalibrační list";
inline constexpr const char* ReproductionNote =
    "Kalibrační list smí být rozmnožován pouze celý, bez písemného souhlasu laboratoře "
    "nesmí být zkracován.";

// The same content as JSON: {"format": "zorm5816-certificate", "version": 1,
// ...}, numbers in full as numbers.
std::string CertificateJson(const CertificateInput& input, const CertificateFigures& figures);

} // namespace zorm
