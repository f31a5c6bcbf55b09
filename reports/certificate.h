// The calibration certificate of one record as a PDF on A4 (Qt's own PDF
// writer, fonts embedded), with the same content as JSON beside it
// (certificate_content.h).
//
// Every page has the laboratory and the certificate number at its head and
// "strana x z y" with the reproduction note at its foot. The body is laid out
// once at the writer's resolution and painted page by page; the plot of the
// deviations is drawn as vectors. Needs a QGuiApplication (fonts).
#pragma once

#include "reports/certificate_content.h"

#include <QString>

#include <string>

namespace zorm {

// What a certificate of `record` under `number` issued now at this station
// states besides the record: the laboratory of Kontakt.ini and the settings
// of Stanice.ini in the working directory (the data folder), and today's
// local date; its numbers with `separator`.
CertificateInput CertificateIssuedToday(RecordDetails record, std::string number, char separator);

// Writes the certificate as `pdfPath` and its JSON as CertificateJsonPath.
// Empty on success; otherwise a Czech sentence for an error box. Each file is
// written whole or not at all (a file of the same name stays as it was until
// the new one is whole). The PDF goes first; when its JSON then cannot be
// written, the new PDF is removed again, so that no PDF stands without it.
QString WriteCertificate(const CertificateInput& input, const QString& pdfPath);

// "….json" beside "….pdf".
QString CertificateJsonPath(const QString& pdfPath);

// A file name offered for a certificate: "Kalibracni_list_kalibrace-1_00007.pdf"
// (characters that a file name cannot hold become '_').
QString CertificateFileName(const std::string& number);

} // namespace zorm
