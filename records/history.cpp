#include "records/history.h"

#include "records/certificate_number.h"
#include "records/sending.h"

#include <QDeadlineTimer>
#include <QMetaObject>

#include <map>
#include <utility>

namespace zorm {

namespace {

// After the shared database could not be reached, lists and records come
// from the local file at once for this long, instead of waiting for the
// server's time-out at every request. Sending always tries.
constexpr int ServerRestMs = 30'000;

} // namespace

// Lives in the worker thread; its connections are made there, on first use.
class HistoryWorker : public QObject {
public:
    HistoryWorker(const QString& localFile, std::optional<DatabaseUrl> shared, History* owner,
                  std::shared_ptr<std::atomic<bool>> sendQueued)
        : localFile_(localFile), shared_(std::move(shared)), owner_(owner),
          sendQueued_(std::move(sendQueued)) {}

    // `always`: asked for by the operator, so the server is tried even if
    // it failed a moment ago.
    void Send(bool always) {
        if (!always) {
            sendQueued_->store(false);
        }
        SendResult result;
        if (RecordDatabase* local = Local(result.Error)) {
            if (shared_ && Server(result.Error, always)) {
                result = SendPending(*local, *server_);
                if (result.ServerFailed) {
                    Rest();
                }
            }
        }
        Answer([owner = owner_, result] {
            emit owner->SendingFinished(result.Sent, result.Error);
            owner->AnnouncePending();
        });
    }

    void List(std::uint64_t request, const RecordQuery& query) {
        RecordList list = ListNow(query);
        Answer([owner = owner_, request, list = std::move(list)] {
            emit owner->Listed(request, list);
        });
    }

    void Read(std::uint64_t request, const std::vector<std::string>& uuids) {
        RecordsRead read = ReadNow(uuids);
        Answer([owner = owner_, request, read = std::move(read)] {
            emit owner->RecordsReady(request, read);
        });
    }

    void Matching(std::uint64_t request, const RecordFilter& filter) {
        const RecordList list = ListNow({filter, std::nullopt, 0});
        RecordsRead read;
        if (list.Error.isEmpty()) {
            std::vector<std::string> uuids;
            for (const RecordSummary& row : list.Rows) {
                uuids.push_back(row.Uuid);
            }
            read = ReadNow(uuids);
        } else {
            read.Error = list.Error;
        }
        if (read.SharedError.isEmpty()) {
            read.SharedError = list.SharedError;
        }
        Answer([owner = owner_, request, read = std::move(read)] {
            emit owner->RecordsReady(request, read);
        });
    }

    void CertificateNumberFor(std::uint64_t request, const std::string& recordUuid,
                              const std::string& station) {
        CertificateNumberAnswer answer;
        if (RecordDatabase* local = Local(answer.Error)) {
            QString unreachable;
            RecordDatabase* server = shared_ && Server(unreachable, true) ? server_.get() : nullptr;
            CertificateNumber number =
                NumberForCertificate(*local, server, shared_.has_value(), recordUuid, station);
            if (number.ServerFailed) {
                Rest();
                number = NumberForCertificate(*local, nullptr, true, recordUuid, station);
            }
            answer = {number.Issued, number.Error};
        }
        Answer([owner = owner_, request, answer = std::move(answer)] {
            emit owner->CertificateNumberReady(request, answer);
        });
        if (answer.Issued && shared_) {
            Send(false);
        }
    }

private:
    template <typename Call> void Answer(Call call) {
        QMetaObject::invokeMethod(owner_, std::move(call), Qt::QueuedConnection);
    }

    RecordDatabase* Local(QString& error) {
        if (!local_) {
            local_ = std::make_unique<RecordDatabase>(DatabasePlace::LocalFile(localFile_));
        }
        if (!local_->Open()) {
            error = local_->LastError();
            return nullptr;
        }
        return local_.get();
    }

    // The server, unless it failed a moment ago (`always`: try anyway).
    bool Server(QString& error, bool always) {
        if (!always && !rest_.hasExpired()) {
            error = restReason_;
            return false;
        }
        if (!server_) {
            server_ = std::make_unique<RecordDatabase>(DatabasePlace::SharedServer(*shared_));
        }
        if (!server_->Open()) {
            Rest();
            error = restReason_;
            return false;
        }
        rest_.setRemainingTime(0);
        return true;
    }

    // The server failed: the next connection is a new one, and requests
    // leave it alone for a while.
    void Rest() {
        restReason_ = server_->LastError();
        server_->Close();
        rest_.setRemainingTime(ServerRestMs);
    }

    RecordList ListNow(const RecordQuery& query) {
        RecordList list;
        RecordDatabase* local = Local(list.Error);
        if (!local) {
            return list;
        }
        if (shared_ && Server(list.SharedError, false)) {
            const auto rows = server_->List(query);
            if (rows) {
                const auto unsent = local->List(query, true);
                if (!unsent) {
                    list.Error = local->LastError();
                    return list;
                }
                list.Rows = MergedList(*rows, *unsent, query.Limit);
                return list;
            }
            Rest();
            list.SharedError = restReason_;
        }
        const auto rows = local->List(query);
        if (!rows) {
            list.Error = local->LastError();
            return list;
        }
        list.Rows = *rows;
        return list;
    }

    RecordsRead ReadNow(const std::vector<std::string>& uuids) {
        RecordsRead read;
        RecordDatabase* local = Local(read.Error);
        if (!local) {
            return read;
        }
        const auto mine = local->Read(uuids);
        if (!mine) {
            read.Error = local->LastError();
            return read;
        }
        std::map<std::string, const RecordDetails*> localRecords;
        for (const RecordDetails& details : *mine) {
            localRecords[details.Written.Uuid] = &details;
        }
        std::optional<std::vector<RecordDetails>> theirs;
        if (shared_ && Server(read.SharedError, false)) {
            theirs = server_->Read(uuids);
            if (!theirs) {
                Rest();
                read.SharedError = restReason_;
            }
        }
        if (!theirs) {
            read.Records = *mine;
            return read;
        }
        std::map<std::string, const RecordDetails*> serverRecords;
        for (const RecordDetails& details : *theirs) {
            serverRecords[details.Written.Uuid] = &details;
        }
        for (const std::string& uuid : uuids) {
            const auto server = serverRecords.find(uuid);
            const auto here = localRecords.find(uuid);
            // This station's corrections of any record, those not sent yet
            // among them.
            std::optional<std::vector<Correction>> localTrail;
            if (here != localRecords.end()) {
                localTrail = here->second->Trail;
            } else {
                localTrail = local->Trail(uuid);
            }
            if (!localTrail) {
                read.Error = local->LastError();
                return read;
            }
            if (server == serverRecords.end() && here == localRecords.end()) {
                continue;
            }
            const RecordDetails& found =
                server != serverRecords.end() ? *server->second : *here->second;
            RecordDetails merged = WithTrail(found.Written, MergedTrail(found.Trail, *localTrail));
            merged.Unsent = here != localRecords.end() && here->second->Unsent;
            read.Records.push_back(std::move(merged));
        }
        return read;
    }

    QString localFile_;
    std::optional<DatabaseUrl> shared_;
    History* owner_;
    std::shared_ptr<std::atomic<bool>> sendQueued_;
    std::unique_ptr<RecordDatabase> local_;
    std::unique_ptr<RecordDatabase> server_;
    QDeadlineTimer rest_{0};
    QString restReason_;
};

History::History(const QString& localFile, std::optional<DatabaseUrl> shared, QObject* parent)
    : QObject(parent), shared_(std::move(shared)), local_(DatabasePlace::LocalFile(localFile)),
      sendQueued_(std::make_shared<std::atomic<bool>>(false)) {
    qRegisterMetaType<RecordList>();
    qRegisterMetaType<RecordsRead>();
    qRegisterMetaType<CertificateNumberAnswer>();
    worker_ = new HistoryWorker(localFile, shared_, this, sendQueued_);
    worker_->moveToThread(&thread_);
    // The worker closes its connections in its own thread as it goes.
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.setObjectName(QStringLiteral("zorm-records"));
    thread_.start();
}

History::~History() {
    thread_.quit();
    thread_.wait();
}

bool History::Open() {
    if (!local_.Open()) {
        return false;
    }
    Send(false);
    return true;
}

bool History::Commit(const std::vector<CalibrationRecord>& records) {
    if (!local_.Store({records, {}}, shared_ ? Queue::ForSending : Queue::No)) {
        return false;
    }
    AnnouncePending();
    Send(false);
    return true;
}

bool History::Correct(const Correction& correction) {
    if (!local_.Store({{}, {correction}}, shared_ ? Queue::ForSending : Queue::No)) {
        return false;
    }
    AnnouncePending();
    Send(false);
    return true;
}

std::optional<int> History::Pending() {
    return local_.UnsentCount();
}

void History::AnnouncePending() {
    if (const auto count = Pending()) {
        emit PendingChanged(*count);
    }
}

void History::SendNow() {
    Send(true);
}

void History::Send(bool always) {
    // Sends of commits that come while one waits would find nothing more.
    if (!shared_ || (!always && sendQueued_->exchange(true))) {
        return;
    }
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, always] { worker->Send(always); }, Qt::QueuedConnection);
}

template <typename Call> std::uint64_t History::Ask(Call call) {
    const std::uint64_t request = ++lastRequest_;
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, request, call] { call(*worker, request); },
        Qt::QueuedConnection);
    return request;
}

std::uint64_t History::RequestList(const RecordQuery& query) {
    return Ask(
        [query](HistoryWorker& worker, std::uint64_t request) { worker.List(request, query); });
}

std::uint64_t History::RequestRecords(const std::vector<std::string>& uuids) {
    return Ask(
        [uuids](HistoryWorker& worker, std::uint64_t request) { worker.Read(request, uuids); });
}

std::uint64_t History::RequestMatching(const RecordFilter& filter) {
    return Ask([filter](HistoryWorker& worker, std::uint64_t request) {
        worker.Matching(request, filter);
    });
}

std::uint64_t History::RequestCertificateNumber(const std::string& recordUuid,
                                                const std::string& station) {
    return Ask([recordUuid, station](HistoryWorker& worker, std::uint64_t request) {
        worker.CertificateNumberFor(request, recordUuid, station);
    });
}

std::optional<std::vector<Instrument>> History::Instruments() {
    return local_.Instruments();
}

bool History::AddInstrument(const Instrument& instrument) {
    return local_.AddInstrument(instrument);
}

bool History::RetireInstrument(const std::string& uuid) {
    return local_.RetireInstrument(uuid);
}

std::optional<Instrument> History::InstrumentInUse(const StationSettings& settings) {
    if (settings.ReferenceInUse.empty()) {
        return std::nullopt;
    }
    const auto instruments = Instruments();
    return instruments ? ActiveInstrument(*instruments, settings.ReferenceInUse) : std::nullopt;
}

} // namespace zorm
