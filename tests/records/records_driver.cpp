// A program for the record store tests that need processes of their own:
//
//   records_driver commit DIR URL COUNT SEED  COUNT commits of 1 to 3 records
//                                             each through the history of the
//                                             data folder DIR, with the shared
//                                             database URL ("-": none); prints
//                                             each record's UUID, then waits
//                                             for the sending and prints
//                                             "pending N"
//   records_driver send DIR URL               opens the history, which sends
//                                             what waits; prints "sent N" and
//                                             "pending N"
//   records_driver commits DIR TOTAL          the commits of commit_sequence.h
//                                             from the first one the folder's
//                                             record file lacks up to TOTAL - 1:
//                                             Parametry.par, then the record
//   records_driver certify DIR URL STATION UUID...
//                                             the certificate number of each
//                                             record for STATION: prints
//                                             "UUID NUMBER" or "UUID !ERROR",
//                                             then waits for the sending and
//                                             prints "pending N"
//
// Exit status 0 when done, 1 on a failure (its text on standard error).
#include "data/param_files.h"
#include "records/history.h"
#include "records/record_stamp.h"
#include "tests/records/commit_sequence.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

using namespace zorm;

int Failed(const QString& error) {
    std::cerr << "records_driver: " << error.toStdString() << "\n";
    return 1;
}

std::optional<DatabaseUrl> SharedUrl(const char* text) {
    if (std::string(text) == "-") {
        return std::nullopt;
    }
    return std::get<DatabaseUrl>(ParseDatabaseUrl(text));
}

// Waits until a send has finished; its result.
std::pair<int, QString> AwaitSending(History& history) {
    std::pair<int, QString> result{0, QStringLiteral("no answer")};
    QEventLoop loop;
    QObject::connect(&history, &History::SendingFinished, &loop,
                     [&](int sent, const QString& error) {
                         result = {sent, error};
                         loop.quit();
                     });
    QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
    loop.exec();
    return result;
}

// Sends until nothing waits or the server cannot take it; prints what waits.
void SendAll(History& history) {
    while (history.HasSharedDatabase() && history.Pending().value_or(0) > 0) {
        history.SendNow();
        if (!AwaitSending(history).second.isEmpty()) {
            break;
        }
    }
    std::cout << "pending " << history.Pending().value_or(-1) << std::endl;
}

int Commit(History& history, int count, std::uint64_t seed) {
    test::Random random(seed);
    for (int i = 0; i < count; ++i) {
        std::vector<CalibrationRecord> records;
        const int sensors = static_cast<int>(random() % 3) + 1;
        for (int s = 0; s < sensors; ++s) {
            records.push_back(test::PlainRecord(random, 1'700'000'000'000 + i, 29));
            StampRecord(records.back(), {}, "test");
            std::cout << records.back().Uuid << "\n";
        }
        if (!history.Commit(records)) {
            return Failed(history.LastError());
        }
    }
    SendAll(history);
    return 0;
}

int Certify(History& history, const std::string& station, char** uuids, int count) {
    for (int i = 0; i < count; ++i) {
        const std::uint64_t request = history.RequestCertificateNumber(uuids[i], station);
        CertificateNumberAnswer answer{std::nullopt, QStringLiteral("no answer")};
        QEventLoop loop;
        QObject::connect(&history, &History::CertificateNumberReady, &loop,
                         [&](std::uint64_t id, const CertificateNumberAnswer& got) {
                             if (id == request) {
                                 answer = got;
                                 loop.quit();
                             }
                         });
        QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
        loop.exec();
        std::cout << uuids[i] << " "
                  << (answer.Issued ? answer.Issued->Number : "!" + answer.Error.toStdString())
                  << std::endl;
    }
    SendAll(history);
    return 0;
}

int Send(History& history) {
    const auto [sent, error] = AwaitSending(history);
    std::cout << "sent " << sent << "\npending " << history.Pending().value_or(-1) << std::endl;
    return error.isEmpty() ? 0 : Failed(error);
}

int Commits(int total) {
    RecordDatabase database(DatabasePlace::LocalFile(HistoryFileName));
    const auto stored = database.Open() ? database.List({{}, std::nullopt, 0}) : std::nullopt;
    if (!stored) {
        return Failed(database.LastError());
    }
    for (int i = static_cast<int>(stored->size()); i < total; ++i) {
        if (!SaveParameters(test::CommitContext(i))) {
            return Failed(QStringLiteral("Parametry.par"));
        }
        if (!database.Store({{test::CommitRecord(i)}, {}}, Queue::No)) {
            return Failed(database.LastError());
        }
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const std::string what = argc > 2 ? argv[1] : "";
    if (argc < 3 || !QDir::setCurrent(QString::fromLocal8Bit(argv[2]))) {
        return Failed(QStringLiteral("usage: see records_driver.cpp"));
    }
    if (what == "commits" && argc == 4) {
        return Commits(std::atoi(argv[3]));
    }
    if ((what == "commit" && argc == 6) || (what == "send" && argc == 4) ||
        (what == "certify" && argc >= 5)) {
        History history(QDir::current().absoluteFilePath(HistoryFileName), SharedUrl(argv[3]));
        if (!history.Open()) {
            return Failed(history.LastError());
        }
        if (what == "certify") {
            return Certify(history, argv[4], argv + 5, argc - 5);
        }
        return what == "send"
                   ? Send(history)
                   : Commit(history, std::atoi(argv[4]), std::strtoull(argv[5], nullptr, 10));
    }
    return Failed(QStringLiteral("usage: see records_driver.cpp"));
}
