// The calibration records of this station, as the windows use them.
//
// Every record is written first into the local file Historie.sqlite of the
// data folder, in one transaction per commit, which keeps the commit fast
// and the records safe whatever the network does. With a shared database
// set, the same transaction queues the records for it, and a worker thread
// with connections of its own sends them: when the history is opened, after
// each commit and on demand. Nothing that waits on the network runs on the
// caller's thread; the list and the records are read by the worker too and
// come back as signals. With a shared database the list holds the server's
// records and those of this station that wait to be sent; while the server
// cannot be reached, it holds the local file's records and says why.
#pragma once

#include "records/calibration_record.h"
#include "records/database_url.h"
#include "records/record_database.h"
#include "records/station_settings.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zorm {

struct RecordList {
    std::vector<RecordSummary> Rows;
    // The list could not be read at all.
    QString Error;
    // The shared database could not be reached: the rows are the local
    // file's.
    QString SharedError;
};

struct RecordsRead {
    std::vector<RecordDetails> Records;
    QString Error;
    QString SharedError;
};

// The number for a record's certificate (certificate_number.h), or why none
// could be given.
struct CertificateNumberAnswer {
    std::optional<IssuedCertificate> Issued;
    QString Error;
};

class HistoryWorker;

class History : public QObject {
    Q_OBJECT

public:
    // `localFile`: the local file (Historie.sqlite in the data folder);
    // `shared`: the plant's database, when one is set.
    History(const QString& localFile, std::optional<DatabaseUrl> shared, QObject* parent = nullptr);
    ~History() override;

    // Opens the local file on this thread and, with a shared database, has
    // the worker send what waits. False with LastError() when the local file
    // cannot be opened (it is opened again at the next commit).
    bool Open();
    const QString& LastError() const { return local_.LastError(); }
    bool HasSharedDatabase() const { return shared_.has_value(); }

    // The records of one commit, in one transaction of the local file and,
    // with a shared database, queued for it; the worker then sends them.
    // False when the local file refuses them: nothing of them is stored.
    bool Commit(const std::vector<CalibrationRecord>& records);
    // A correction, kept and sent the same way.
    bool Correct(const Correction& correction);
    // What waits to be sent; nothing when the local file cannot be read.
    std::optional<int> Pending();

    // Sends what waits (a no-op without a shared database), also when the
    // server failed a moment ago; the answer is SendingFinished. The sends
    // at the opening and after a commit leave a server that failed alone for
    // half a minute.
    void SendNow();
    // Reads a page of the list, some records with their trails, or every
    // record a filter lets through (for an export). Each answer comes with
    // the number its request returned.
    std::uint64_t RequestList(const RecordQuery& query);
    std::uint64_t RequestRecords(const std::vector<std::string>& uuids);
    std::uint64_t RequestMatching(const RecordFilter& filter);
    // The certificate number of a record (the one it has, or a new one of
    // `station`), answered by CertificateNumberReady; a new number is sent
    // on to the shared database like a record.
    std::uint64_t RequestCertificateNumber(const std::string& recordUuid,
                                           const std::string& station);

    // The station's reference instruments, kept in the local file and read
    // and written on the calling thread (milliseconds). Nothing or false with
    // LastError() when the local file fails.
    std::optional<std::vector<Instrument>> Instruments();
    bool AddInstrument(const Instrument& instrument);
    bool RetireInstrument(const std::string& uuid);
    // The instrument the settings pick, unless it is retired or not in the
    // list (nothing then, and nothing when the list cannot be read).
    std::optional<Instrument> InstrumentInUse(const StationSettings& settings);

signals:
    void PendingChanged(int count);
    // `error` is empty when everything that waited was sent.
    void SendingFinished(int sent, const QString& error);
    void Listed(std::uint64_t request, const zorm::RecordList& list);
    void RecordsReady(std::uint64_t request, const zorm::RecordsRead& records);
    void CertificateNumberReady(std::uint64_t request, const zorm::CertificateNumberAnswer& answer);

private:
    friend class HistoryWorker;

    void AnnouncePending();
    void Send(bool always);
    // Hands `call` (worker, request number) to the worker thread.
    template <typename Call> std::uint64_t Ask(Call call);

    std::optional<DatabaseUrl> shared_;
    RecordDatabase local_;
    QThread thread_;
    HistoryWorker* worker_ = nullptr;
    // A send after a commit waits in the worker's queue and has not started
    // yet.
    std::shared_ptr<std::atomic<bool>> sendQueued_;
    std::uint64_t lastRequest_ = 0;
};

} // namespace zorm

Q_DECLARE_METATYPE(zorm::RecordList)
Q_DECLARE_METATYPE(zorm::RecordsRead)
Q_DECLARE_METATYPE(zorm::CertificateNumberAnswer)
