// One record database, SQLite file or PostgreSQL server, through one
// connection of its own.
//
// A Qt SQL connection belongs to the thread that made it: the connection is
// made by Open() in the calling thread, every later call must come from that
// thread (a call from another one fails), and a thread that needs the
// database makes a RecordDatabase of its own. Nothing here shows anything;
// each failure leaves a Czech text for the operator in LastError().
#pragma once

#include "records/calibration_record.h"
#include "records/database_url.h"
#include "records/reference_instrument.h"
#include "records/sql.h"

#include <QSqlQuery>
#include <QString>

#include <map>
#include <optional>
#include <string>
#include <vector>

class QThread;

namespace zorm {

inline constexpr const char* HistoryFileName = "Historie.sqlite";

struct DatabasePlace {
    Engine Kind = Engine::Sqlite;
    // SQLite: the file.
    QString File;
    // PostgreSQL: the server and database.
    DatabaseUrl Server;

    static DatabasePlace LocalFile(const QString& file);
    static DatabasePlace SharedServer(const DatabaseUrl& url);
    // The file or the address, for messages.
    QString Describe() const;
};

// Whether what is stored also waits in the outbox to be sent on.
enum class Queue { No, ForSending };

enum class OutboxKind { Record = 1, Correction = 2, Certificate = 3 };
struct OutboxEntry {
    std::string Uuid;
    OutboxKind Kind = OutboxKind::Record;
};

// What one transaction stores: records first, then corrections.
struct RecordBatch {
    std::vector<CalibrationRecord> Records;
    std::vector<Correction> Corrections;
};

class RecordDatabase {
public:
    explicit RecordDatabase(DatabasePlace place);
    ~RecordDatabase();
    RecordDatabase(const RecordDatabase&) = delete;
    RecordDatabase& operator=(const RecordDatabase&) = delete;

    // Connects from the calling thread, sets the session up and brings the
    // schema to this build's version, each step in a transaction of its own.
    // A database that a newer build made unusable for this one is refused
    // and left as it is. True at once when already open.
    bool Open();
    void Close();
    bool IsOpen() const { return !connection_.isEmpty(); }
    const QString& LastError() const { return error_; }

    // Stores the batch in one transaction, all or nothing. A record or a
    // correction whose UUID is already stored is left as it is (sending it
    // again stores nothing twice). With Queue::ForSending each new one also
    // waits in the outbox, in the same transaction.
    bool Store(const RecordBatch& batch, Queue queue);
    // Certificate numbers given elsewhere, the same way, in one transaction.
    bool StoreCertificates(const std::vector<IssuedCertificate>& certificates, Queue queue);

    // The list, newest first; with `onlyUnsent` only what waits in the
    // outbox.
    std::optional<std::vector<RecordSummary>> List(const RecordQuery& query,
                                                   bool onlyUnsent = false);
    // The records with these UUIDs that the database holds, in the order
    // asked, each with its trail; UUIDs it does not hold are left out.
    std::optional<std::vector<RecordDetails>> Read(const std::vector<std::string>& uuids);
    // The corrections of a record that this database holds (the record may
    // be held elsewhere), and corrections by their own UUIDs.
    std::optional<std::vector<Correction>> Trail(const std::string& recordUuid);
    std::optional<std::vector<Correction>> ReadCorrections(const std::vector<std::string>& uuids);

    // What waits to be sent, oldest first, and how much.
    std::optional<std::vector<OutboxEntry>> Unsent(int limit);
    std::optional<int> UnsentCount();
    // Marks entries sent, in one transaction; only after the server has
    // taken them.
    bool MarkSent(const std::vector<OutboxEntry>& entries);

    // The reference instruments, in the order they were added, retired ones
    // among them.
    std::optional<std::vector<Instrument>> Instruments();
    // Adds one (its UUID new; InstrumentProblem must find nothing).
    bool AddInstrument(const Instrument& instrument);
    // Retires one for good; retiring a retired one changes nothing.
    bool RetireInstrument(const std::string& uuid);

    // The certificate numbers this database holds for a record, the first
    // issued first, and numbers by their own UUIDs.
    std::optional<std::vector<IssuedCertificate>> CertificatesOf(const std::string& recordUuid);
    std::optional<std::vector<IssuedCertificate>>
    ReadCertificates(const std::vector<std::string>& uuids);
    // The largest running number of `station` here (0: none yet).
    std::optional<int> LastCertificateSequence(const std::string& station);
    // The record's first number held here or, for a record without one, a
    // new number of `station`: the next after both this database's last and
    // `after` (the last one elsewhere, where the caller knows it). One
    // transaction, so that two programs on one file never share a number.
    // With Queue::ForSending a new number waits in the outbox too.
    std::optional<IssuedCertificate> IssueCertificate(const std::string& recordUuid,
                                                      const std::string& station, int after,
                                                      Queue queue);

private:
    class Transaction;

    bool Connect();
    bool Migrate();
    bool ReadVersion(int& version, int& oldestReader);
    bool Exec(Sql statement);
    bool ExecText(const QString& text, const char* what);
    QSqlQuery* Prepared(Sql statement);
    bool Run(QSqlQuery& query, Sql statement);
    bool InThread();
    bool StoreRecord(const CalibrationRecord& record, Queue queue);
    bool StoreCorrection(const Correction& correction, Queue queue);
    bool Enqueue(const std::string& uuid, OutboxKind kind);
    // The items of each valid UUID, each added by `readOne`.
    template <typename Item>
    std::optional<std::vector<Item>> Gather(const std::vector<std::string>& uuids,
                                            bool (RecordDatabase::*readOne)(const std::string&,
                                                                            std::vector<Item>&));
    bool ReadOne(const std::string& uuid, std::vector<RecordDetails>& found);
    bool ReadTrail(const std::string& recordUuid, std::vector<Correction>& found);
    bool ReadCorrection(const std::string& uuid, std::vector<Correction>& found);
    bool ReadCorrections(Sql statement, const std::string& uuid, std::vector<Correction>& found);
    // Appends what `item` makes of each row that `statement` finds for
    // `uuid` (nothing: the row is skipped).
    template <typename Item, typename Make>
    bool ReadRows(Sql statement, const std::string& uuid, std::vector<Item>& found, Make item);
    bool StoreCertificate(const IssuedCertificate& certificate, Queue queue);
    bool ReadCertificate(const std::string& uuid, std::vector<IssuedCertificate>& found);
    bool ReadCertificatesOf(const std::string& recordUuid, std::vector<IssuedCertificate>& found);
    bool ReadCertificateRows(Sql statement, const std::string& uuid,
                             std::vector<IssuedCertificate>& found);
    std::optional<int> LastSequence(const std::string& station);
    bool Fail(const QString& what, const QString& why);

    DatabasePlace place_;
    QString connection_;
    QThread* thread_ = nullptr;
    std::map<Sql, QSqlQuery> prepared_;
    QString error_;
};

} // namespace zorm
