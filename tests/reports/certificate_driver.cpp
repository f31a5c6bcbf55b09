// Makes a calibration certificate outside the windows, for the docs and for
// looking at one:
//
//   certificate_driver sample OUT.pdf [N] [--as-found]
//       a certificate of a made-up record of N points (default 12), with the
//       table before the calibration when asked
//   certificate_driver record DIR OUT.pdf [UUID]
//       a certificate of a record of the data folder DIR (the newest one
//       without UUID): its Historie.sqlite, Kontakt.ini and Stanice.ini, and
//       a certificate number given as the history window gives one
//   certificate_driver instrument DIR DESCRIPTION SERIAL CERTIFICATE U CALIBRATED DUE
//       adds a reference instrument (U in °C, dates as 2024-03-01) to the list
//       of the data folder DIR and makes it the one in use in its Stanice.ini,
//       as the reference instruments window does
//
// The JSON goes beside the PDF. Exit status 0 when written, 1 otherwise (the
// reason on standard error).
#include "records/history.h"
#include "records/record_keeper.h"
#include "records/record_stamp.h"
#include "reports/certificate.h"
#include "tests/reports/known_record.h"

#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>

#include <cstdlib>
#include <iostream>
#include <string>

namespace {

using namespace zorm;

int Failed(const QString& why) {
    std::cerr << "certificate_driver: " << why.toStdString() << "\n";
    return 1;
}

// Waits for the answer to `request`, which comes as `signal`.
template <typename Answer>
std::optional<Answer> Await(History& history, void (History::*signal)(std::uint64_t, const Answer&),
                            std::uint64_t request) {
    std::optional<Answer> answer;
    QEventLoop loop;
    QObject::connect(&history, signal, &loop, [&](std::uint64_t id, const Answer& got) {
        if (id == request) {
            answer = got;
            loop.quit();
        }
    });
    QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
    loop.exec();
    return answer;
}

int FromRecord(const QString& folder, const QString& pdf, const std::string& wanted) {
    if (!QDir::setCurrent(folder)) {
        return Failed(QStringLiteral("no data folder ") + folder);
    }
    History history(QDir::current().absoluteFilePath(HistoryFileName),
                    ChooseSharedDatabase(std::nullopt, LoadStationSettings().SharedDatabase).Url);
    if (!history.Open()) {
        return Failed(history.LastError());
    }
    std::string uuid = wanted;
    if (uuid.empty()) {
        const auto list = Await(history, &History::Listed, history.RequestList({{}, {}, 1}));
        if (!list || list->Rows.empty()) {
            return Failed(QStringLiteral("no record in ") + folder);
        }
        uuid = list->Rows.front().Uuid;
    }
    const auto read = Await(history, &History::RecordsReady, history.RequestRecords({uuid}));
    if (!read || read->Records.empty()) {
        return Failed(QStringLiteral("no record ") + QString::fromStdString(uuid));
    }
    const auto number = Await(history, &History::CertificateNumberReady,
                              history.RequestCertificateNumber(uuid, StationName()));
    if (!number || !number->Issued) {
        return Failed(number ? number->Error : QStringLiteral("no certificate number"));
    }
    const QString error = WriteCertificate(
        CertificateIssuedToday(read->Records.front(), number->Issued->Number, ','), pdf);
    return error.isEmpty() ? 0 : Failed(error);
}

int AddInstrument(const QString& folder, char* fields[]) {
    if (!QDir::setCurrent(folder)) {
        return Failed(QStringLiteral("no data folder ") + folder);
    }
    const auto calibrated = ParseDate(fields[4]);
    const auto due = ParseDate(fields[5]);
    const auto expanded = ParseDecimal(fields[3]);
    if (!calibrated || !due || !expanded) {
        return Failed(QStringLiteral("U is a number, the dates are YYYY-MM-DD"));
    }
    const Instrument instrument{
        NewUuid(), {fields[0], fields[1], fields[2]}, *expanded, *calibrated, *due};
    if (const auto problem = InstrumentProblem(instrument)) {
        return Failed(QString::fromStdString(*problem));
    }
    History history(QDir::current().absoluteFilePath(HistoryFileName), std::nullopt);
    if (!history.AddInstrument(instrument)) {
        return Failed(history.LastError());
    }
    StationSettings settings = LoadStationSettings();
    settings.ReferenceInUse = instrument.Uuid;
    return SaveStationSettings(settings) ? 0 : Failed(QStringLiteral("Stanice.ini not written"));
}

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication application(argc, argv);
    const std::string what = argc > 2 ? argv[1] : "";
    if (what == "sample" && argc <= 5) {
        const int n = argc > 3 ? std::atoi(argv[3]) : 12;
        const bool asFound = argc > 4 && std::string(argv[4]) == "--as-found";
        if (n < 4 || n > 29) {
            return Failed(QStringLiteral("N is 4 to 29"));
        }
        const QString error = WriteCertificate(test::CertificateOf(test::KnownRecord(n, asFound)),
                                               QString::fromLocal8Bit(argv[2]));
        return error.isEmpty() ? 0 : Failed(error);
    }
    if (what == "record" && (argc == 4 || argc == 5)) {
        const QString pdf = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[3]));
        return FromRecord(QString::fromLocal8Bit(argv[2]), pdf, argc == 5 ? argv[4] : "");
    }
    if (what == "instrument" && argc == 9) {
        return AddInstrument(QString::fromLocal8Bit(argv[2]), argv + 3);
    }
    return Failed(QStringLiteral("usage: see certificate_driver.cpp"));
}
