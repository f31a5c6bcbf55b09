#include "records/record_database.h"

#include "records/certificate_number.h"
#include "records/record_stamp.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace zorm {

namespace {

// Reaching a shared server that is gone takes no longer than this, and a
// connection whose peer vanished is noticed within about a minute.
constexpr const char* PostgresOptions =
    "connect_timeout=5;keepalives_idle=30;keepalives_interval=10;keepalives_count=3;"
    "application_name=zorm5816";

constexpr std::size_t CubicImageSize = 32;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

std::string Text(const QVariant& value) {
    return value.toString().toStdString();
}

QVariant OptionalText(const std::optional<std::string>& text) {
    return text ? QVariant(Text(*text)) : QVariant(QMetaType::fromType<QString>());
}

std::optional<std::string> OptionalText(const QVariant& value) {
    if (value.isNull()) {
        return std::nullopt;
    }
    return Text(value);
}

QVariant OptionalDate(const std::optional<Date>& date) {
    return OptionalText(date ? std::optional(DateText(*date)) : std::nullopt);
}

std::optional<Date> DateOf(const QVariant& value) {
    return value.isNull() ? std::nullopt : ParseDate(Text(value));
}

QString UtcText(std::int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

std::int64_t UtcMs(const QVariant& value) {
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

// A number as the engine keeps it exactly (see sql.h). A NaN has no place in
// either engine's number columns and is kept as no value: both say that the
// arithmetic gave none.
QVariant Number(Engine engine, std::optional<double> value) {
    if (!value || std::isnan(*value)) {
        return QVariant(QMetaType::fromType<double>());
    }
    if (engine == Engine::Postgres) {
        char text[32];
        const auto end = std::to_chars(text, text + sizeof text, *value).ptr;
        return QString::fromLatin1(text, static_cast<qsizetype>(end - text));
    }
    return *value;
}

std::optional<double> Number(const QVariant& value) {
    if (value.isNull()) {
        return std::nullopt;
    }
    return value.toDouble();
}

QByteArray CubicImage(const Cubic& cubic) {
    QByteArray image;
    for (const double value : {cubic.A3, cubic.A2, cubic.A1, cubic.A0}) {
        const auto bits = std::bit_cast<std::uint64_t>(value);
        for (int byte = 0; byte < 8; ++byte) {
            image.append(static_cast<char>((bits >> (8 * byte)) & 0xFF));
        }
    }
    return image;
}

std::optional<Cubic> CubicOfImage(const QByteArray& image) {
    if (static_cast<std::size_t>(image.size()) != CubicImageSize) {
        return std::nullopt;
    }
    std::array<double, 4> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::uint64_t bits = 0;
        for (int byte = 7; byte >= 0; --byte) {
            bits = (bits << 8) |
                   static_cast<std::uint8_t>(image[static_cast<qsizetype>(8 * i) + byte]);
        }
        values[i] = std::bit_cast<double>(bits);
    }
    return Cubic{values[0], values[1], values[2], values[3]};
}

// The statistics of one unit: `unit` names the columns. A statistic that
// is no value reads back as a NaN (see Number).
void BindFigures(QSqlQuery& query, Engine engine, const QString& unit,
                 const std::optional<WindowStatistics>& figures) {
    const auto figure = [&](double WindowStatistics::*value) {
        return Number(engine, figures ? std::optional(*figures.*value) : std::nullopt);
    };
    query.bindValue(":" + unit + "_count",
                    figures ? QVariant(figures->Count) : QVariant(QMetaType::fromType<int>()));
    query.bindValue(":" + unit + "_mean", figure(&WindowStatistics::Mean));
    query.bindValue(":" + unit + "_sd", figure(&WindowStatistics::StandardDeviation));
    query.bindValue(":" + unit + "_peak_to_peak", figure(&WindowStatistics::PeakToPeak));
    query.bindValue(":" + unit + "_slope", figure(&WindowStatistics::SlopePerMinute));
}

std::optional<WindowStatistics> FiguresOf(const QSqlQuery& row, int count) {
    if (row.value(count).isNull()) {
        return std::nullopt;
    }
    const auto figure = [&](int column) {
        return Number(row.value(count + column)).value_or(std::numeric_limits<double>::quiet_NaN());
    };
    return WindowStatistics{row.value(count).toInt(), figure(1), figure(2), figure(3), figure(4)};
}

void BindStability(QSqlQuery& query, Engine engine, const PointStability& stability) {
    const StabilitySettings& settings = stability.Settings;
    query.bindValue(":window_s", Number(engine, settings.WindowSeconds));
    query.bindValue(":slope_limit_celsius", Number(engine, settings.Celsius.SlopePerMinute));
    query.bindValue(":sd_limit_celsius", Number(engine, settings.Celsius.StandardDeviation));
    query.bindValue(":slope_limit_bits", Number(engine, settings.Bits.SlopePerMinute));
    query.bindValue(":sd_limit_bits", Number(engine, settings.Bits.StandardDeviation));
    query.bindValue(":verdict", QString::fromLatin1(StabilityCode(stability.Judgement.Verdict)));
    BindFigures(query, engine, QStringLiteral("bits"), stability.Judgement.Bits);
    BindFigures(query, engine, QStringLiteral("celsius"), stability.Judgement.Celsius);
}

// A row of ReadStabilities: the point's position and its stability; nothing
// for a verdict this build does not know.
std::optional<std::pair<int, PointStability>> StabilityOfRow(const QSqlQuery& row) {
    const auto verdict = StabilityCoded(Text(row.value(6)));
    if (!verdict) {
        return std::nullopt;
    }
    PointStability stability;
    stability.Settings = {row.value(1).toDouble(),
                          {row.value(2).toDouble(), row.value(3).toDouble()},
                          {row.value(4).toDouble(), row.value(5).toDouble()}};
    stability.Judgement = {FiguresOf(row, 7), FiguresOf(row, 12), *verdict};
    return std::pair(row.value(0).toInt(), stability);
}

// The canonical lower-case form: 8-4-4-4-12 hexadecimal digits.
bool CanonicalUuid(const std::string& uuid) {
    if (uuid.size() != 36) {
        return false;
    }
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        const char c = uuid[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

QString NewConnectionName() {
    static std::atomic<unsigned> serial{0};
    return QStringLiteral("zorm-records-%1").arg(++serial);
}

} // namespace

DatabasePlace DatabasePlace::LocalFile(const QString& file) {
    DatabasePlace place;
    place.Kind = Engine::Sqlite;
    place.File = file;
    return place;
}

DatabasePlace DatabasePlace::SharedServer(const DatabaseUrl& url) {
    DatabasePlace place;
    place.Kind = Engine::Postgres;
    place.Server = url;
    return place;
}

QString DatabasePlace::Describe() const {
    return Kind == Engine::Postgres ? Text(Server.Text()) : File;
}

// One write transaction; rolled back unless Commit() succeeded.
class RecordDatabase::Transaction {
public:
    explicit Transaction(RecordDatabase& database)
        : database_(database), begun_(database.Exec(Sql::BeginWrite)) {}
    ~Transaction() {
        if (begun_ && !committed_) {
            const QString error = database_.error_;
            database_.Exec(Sql::Rollback);
            database_.error_ = error;
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool Begun() const { return begun_; }
    bool Commit() {
        committed_ = begun_ && database_.Exec(Sql::Commit);
        return committed_;
    }

private:
    RecordDatabase& database_;
    bool begun_ = false;
    bool committed_ = false;
};

RecordDatabase::RecordDatabase(DatabasePlace place) : place_(std::move(place)) {}

RecordDatabase::~RecordDatabase() {
    Close();
}

bool RecordDatabase::Fail(const QString& what, const QString& why) {
    error_ = what + QStringLiteral(" (") + place_.Describe() + QStringLiteral("): ") + why;
    return false;
}

bool RecordDatabase::InThread() {
    if (IsOpen() && QThread::currentThread() != thread_) {
        return Fail(QStringLiteral("Spojení s databází záznamů patří jinému vláknu"),
                    QStringLiteral("chyba programu"));
    }
    return true;
}

bool RecordDatabase::Open() {
    if (IsOpen()) {
        return InThread();
    }
    error_.clear();
    if (!Connect()) {
        Close();
        return false;
    }
    if (!Migrate()) {
        Close();
        return false;
    }
    return true;
}

bool RecordDatabase::Connect() {
    connection_ = NewConnectionName();
    thread_ = QThread::currentThread();
    QSqlDatabase database = QSqlDatabase::addDatabase(
        place_.Kind == Engine::Postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"),
        connection_);
    if (place_.Kind == Engine::Postgres) {
        database.setHostName(Text(place_.Server.Host));
        if (place_.Server.Port) {
            database.setPort(*place_.Server.Port);
        }
        database.setUserName(Text(place_.Server.User));
        database.setDatabaseName(Text(place_.Server.Database));
        database.setConnectOptions(QString::fromLatin1(PostgresOptions));
    } else {
        database.setDatabaseName(place_.File);
    }
    if (!database.open()) {
        return Fail(QStringLiteral("Databázi kalibračních záznamů nelze otevřít"),
                    database.lastError().text());
    }
    for (const QString& statement : SessionSetup(place_.Kind)) {
        if (!ExecText(statement, "session_setup")) {
            return false;
        }
    }
    return true;
}

void RecordDatabase::Close() {
    if (connection_.isEmpty()) {
        return;
    }
    prepared_.clear();
    {
        QSqlDatabase database = QSqlDatabase::database(connection_, false);
        database.close();
    }
    QSqlDatabase::removeDatabase(connection_);
    connection_.clear();
    thread_ = nullptr;
}

bool RecordDatabase::ExecText(const QString& text, const char* what) {
    if (text.isEmpty()) {
        return true;
    }
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    if (!query.exec(text)) {
        return Fail(QStringLiteral("Příkaz %1 databáze záznamů selhal").arg(QLatin1String(what)),
                    query.lastError().text());
    }
    return true;
}

bool RecordDatabase::Exec(Sql statement) {
    return ExecText(SqlText(place_.Kind, statement), SqlName(statement));
}

QSqlQuery* RecordDatabase::Prepared(Sql statement) {
    auto found = prepared_.find(statement);
    if (found == prepared_.end()) {
        QSqlQuery query(QSqlDatabase::database(connection_, false));
        query.setForwardOnly(true);
        if (!query.prepare(SqlText(place_.Kind, statement))) {
            Fail(QStringLiteral("Příkaz %1 databáze záznamů nelze připravit")
                     .arg(QLatin1String(SqlName(statement))),
                 query.lastError().text());
            return nullptr;
        }
        found = prepared_.emplace(statement, std::move(query)).first;
    }
    return &found->second;
}

bool RecordDatabase::Run(QSqlQuery& query, Sql statement) {
    if (!query.exec()) {
        return Fail(QStringLiteral("Příkaz %1 databáze záznamů selhal")
                        .arg(QLatin1String(SqlName(statement))),
                    query.lastError().text());
    }
    return true;
}

bool RecordDatabase::ReadVersion(int& version, int& oldestReader) {
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    if (!query.exec(SqlText(place_.Kind, Sql::SchemaTableCount)) || !query.next()) {
        return Fail(QStringLiteral("Verzi databáze záznamů nelze zjistit"),
                    query.lastError().text());
    }
    if (query.value(0).toInt() == 0) {
        version = 0;
        oldestReader = 0;
        return true;
    }
    if (!query.exec(SqlText(place_.Kind, Sql::ReadVersion)) || !query.next()) {
        return Fail(QStringLiteral("Verzi databáze záznamů nelze zjistit"),
                    query.lastError().isValid() ? query.lastError().text()
                                                : QStringLiteral("tabulka verze je prázdná"));
    }
    version = query.value(0).toInt();
    oldestReader = query.value(1).toInt();
    return true;
}

bool RecordDatabase::Migrate() {
    const int current = CurrentSchemaVersion();
    int version = 0;
    int oldestReader = 0;
    if (!ReadVersion(version, oldestReader)) {
        return false;
    }
    const std::vector<SchemaStep> steps = SchemaSteps(place_.Kind);
    while (version < current && oldestReader <= current) {
        Transaction transaction(*this);
        // Another program may have brought the schema on meanwhile: look
        // again under the lock.
        if (!transaction.Begun() || !Exec(Sql::LockSchema) || !ReadVersion(version, oldestReader)) {
            return false;
        }
        if (version >= current || oldestReader > current) {
            break;
        }
        const SchemaStep& step = steps[static_cast<std::size_t>(version)];
        for (const QString& statement : step.Statements) {
            if (!ExecText(statement, "schema")) {
                return false;
            }
        }
        QSqlQuery* write = Prepared(Sql::WriteVersion);
        if (!write) {
            return false;
        }
        write->bindValue(QStringLiteral(":version"), step.Version);
        write->bindValue(QStringLiteral(":oldest_reader"), step.OldestReader);
        const bool written = Run(*write, Sql::WriteVersion);
        prepared_.clear(); // prepared before the schema changed
        if (!written || !transaction.Commit()) {
            return false;
        }
        version = step.Version;
        oldestReader = step.OldestReader;
    }
    if (oldestReader > current) {
        return Fail(QStringLiteral("Databázi kalibračních záznamů zapsal novější program"),
                    QStringLiteral("verze databáze %1 potřebuje program, který zná aspoň verzi "
                                   "%2; tento zná verzi %3. Použijte novější program.")
                        .arg(version)
                        .arg(oldestReader)
                        .arg(current));
    }
    return true;
}

bool RecordDatabase::Store(const RecordBatch& batch, Queue queue) {
    if (!InThread() || !Open()) {
        return false;
    }
    for (const CalibrationRecord& record : batch.Records) {
        if (!CanonicalUuid(record.Uuid) ||
            (record.RestoredFrom && !CanonicalUuid(*record.RestoredFrom)) ||
            (record.ReferenceUsed && !CanonicalUuid(record.ReferenceUsed->InstrumentUuid))) {
            return Fail(QStringLiteral("Kalibrační záznam nelze uložit"),
                        QStringLiteral("chybný identifikátor UUID"));
        }
        if (record.Sensor < 1 || record.Sensor > 3 ||
            record.Points.size() > static_cast<std::size_t>(MaxFitPoints)) {
            return Fail(QStringLiteral("Kalibrační záznam nelze uložit"),
                        QStringLiteral("snímač mimo 1 až 3 nebo více než 30 bodů"));
        }
    }
    for (const Correction& correction : batch.Corrections) {
        if (!CanonicalUuid(correction.Uuid) || !CanonicalUuid(correction.RecordUuid)) {
            return Fail(QStringLiteral("Opravu záznamu nelze uložit"),
                        QStringLiteral("chybný identifikátor UUID"));
        }
    }

    Transaction transaction(*this);
    if (!transaction.Begun()) {
        return false;
    }
    for (const CalibrationRecord& record : batch.Records) {
        if (!StoreRecord(record, queue)) {
            return false;
        }
    }
    for (const Correction& correction : batch.Corrections) {
        if (!StoreCorrection(correction, queue)) {
            return false;
        }
    }
    return transaction.Commit();
}

bool RecordDatabase::StoreRecord(const CalibrationRecord& record, Queue queue) {
    QSqlQuery* insert = Prepared(Sql::InsertRecord);
    QSqlQuery* point = Prepared(Sql::InsertPoint);
    QSqlQuery* stability = Prepared(Sql::InsertStability);
    if (!insert || !point || !stability) {
        return false;
    }
    const Engine engine = place_.Kind;
    insert->bindValue(":uuid", Text(record.Uuid));
    insert->bindValue(":recorded_at", UtcText(record.TimeUtcMs));
    insert->bindValue(":utc_offset_s", record.UtcOffsetSeconds);
    insert->bindValue(":station", Text(record.Station));
    insert->bindValue(":program_version", Text(record.ProgramVersion));
    insert->bindValue(":operator", Text(record.Operator));
    insert->bindValue(":reference_description", Text(record.Reference.Description));
    insert->bindValue(":reference_serial", Text(record.Reference.SerialNumber));
    insert->bindValue(":reference_certificate", Text(record.Reference.CertificateNumber));
    insert->bindValue(":converter_type", Text(record.ConverterType));
    insert->bindValue(":address", record.Address);
    insert->bindValue(":port", record.Port);
    insert->bindValue(":tag", OptionalText(record.Tag));
    insert->bindValue(":sensor", record.Sensor);
    insert->bindValue(":point_count", static_cast<int>(record.Points.size()));
    insert->bindValue(":as_left", CubicImage(record.AsLeft));
    insert->bindValue(":as_found", CubicImage(record.AsFound));
    insert->bindValue(":as_found_in_force", record.AsFoundInForce ? 1 : 0);
    insert->bindValue(":max_deviation", Number(engine, record.MaxDeviation));
    insert->bindValue(":residual_sd", Number(engine, record.ResidualSd));
    insert->bindValue(":restored_from", OptionalText(record.RestoredFrom));
    const std::optional<ReferenceSnapshot>& used = record.ReferenceUsed;
    insert->bindValue(":reference_uuid",
                      OptionalText(used ? std::optional(used->InstrumentUuid) : std::nullopt));
    insert->bindValue(":reference_expanded",
                      Number(engine, used ? std::optional(used->Expanded) : std::nullopt));
    insert->bindValue(":reference_calibrated_on",
                      OptionalDate(used ? std::optional(used->Calibrated) : std::nullopt));
    insert->bindValue(":reference_due_on",
                      OptionalDate(used ? std::optional(used->Due) : std::nullopt));
    insert->bindValue(":reference_overdue", used ? QVariant(used->Overdue ? 1 : 0)
                                                 : QVariant(QMetaType::fromType<int>()));
    insert->bindValue(":ambient_temperature", Number(engine, record.AmbientTemperature));
    insert->bindValue(":ambient_humidity", Number(engine, record.AmbientHumidity));
    if (!Run(*insert, Sql::InsertRecord)) {
        return false;
    }
    // No row back: the record is stored already, with its points.
    const bool isNew = insert->next();
    const qlonglong id = isNew ? insert->value(0).toLongLong() : 0;
    insert->finish();
    if (!isNew) {
        return true;
    }
    for (std::size_t k = 0; k < record.Points.size(); ++k) {
        const RecordPoint& p = record.Points[k];
        point->bindValue(":record_id", id);
        point->bindValue(":position", static_cast<int>(k + 1));
        point->bindValue(":raw", p.Raw);
        point->bindValue(":true_temp", Number(engine, p.TrueTemp));
        point->bindValue(":fitted", Number(engine, p.Fitted));
        point->bindValue(":deviation", Number(engine, p.Deviation));
        point->bindValue(":as_found_deviation", Number(engine, p.AsFoundDeviation));
        if (!Run(*point, Sql::InsertPoint)) {
            return false;
        }
        if (!p.Stability) {
            continue;
        }
        stability->bindValue(":record_uuid", Text(record.Uuid));
        stability->bindValue(":position", static_cast<int>(k + 1));
        BindStability(*stability, engine, *p.Stability);
        if (!Run(*stability, Sql::InsertStability)) {
            return false;
        }
    }
    return queue == Queue::No || Enqueue(record.Uuid, OutboxKind::Record);
}

bool RecordDatabase::StoreCorrection(const Correction& correction, Queue queue) {
    QSqlQuery* insert = Prepared(Sql::InsertCorrection);
    if (!insert) {
        return false;
    }
    insert->bindValue(":uuid", Text(correction.Uuid));
    insert->bindValue(":record_uuid", Text(correction.RecordUuid));
    insert->bindValue(":field", QString::fromLatin1(FieldName(correction.Field)));
    insert->bindValue(":value", Text(correction.Value));
    insert->bindValue(":author", Text(correction.Author));
    insert->bindValue(":corrected_at", UtcText(correction.TimeUtcMs));
    insert->bindValue(":utc_offset_s", correction.UtcOffsetSeconds);
    insert->bindValue(":station", Text(correction.Station));
    if (!Run(*insert, Sql::InsertCorrection)) {
        return false;
    }
    const bool isNew = insert->next();
    insert->finish();
    return !isNew || queue == Queue::No || Enqueue(correction.Uuid, OutboxKind::Correction);
}

bool RecordDatabase::Enqueue(const std::string& uuid, OutboxKind kind) {
    QSqlQuery* outbox = Prepared(Sql::InsertOutbox);
    if (!outbox) {
        return false;
    }
    outbox->bindValue(":uuid", Text(uuid));
    outbox->bindValue(":kind", static_cast<int>(kind));
    return Run(*outbox, Sql::InsertOutbox);
}

std::optional<std::vector<RecordSummary>> RecordDatabase::List(const RecordQuery& query,
                                                               bool onlyUnsent) {
    if (!InThread() || !Open()) {
        return std::nullopt;
    }
    QSqlQuery* list = Prepared(Sql::List);
    if (!list) {
        return std::nullopt;
    }
    const RecordFilter& filter = query.Filter;
    const auto optionalInt = [](const std::optional<int>& value) {
        return value ? QVariant(*value) : QVariant(QMetaType::fromType<int>());
    };
    const auto optionalTime = [](const std::optional<std::int64_t>& ms) {
        return ms ? QVariant(UtcText(*ms)) : QVariant(QMetaType::fromType<QString>());
    };
    list->bindValue(":tag", OptionalText(filter.Tag));
    list->bindValue(":converter_type", OptionalText(filter.ConverterType));
    list->bindValue(":address", optionalInt(filter.Address));
    list->bindValue(":sensor", optionalInt(filter.Sensor));
    list->bindValue(":from", optionalTime(filter.FromUtcMs));
    list->bindValue(":to", optionalTime(filter.ToUtcMs));
    list->bindValue(
        ":before_time",
        optionalTime(query.Before ? std::optional(query.Before->TimeUtcMs) : std::nullopt));
    list->bindValue(":before_uuid",
                    OptionalText(query.Before ? std::optional(query.Before->Uuid) : std::nullopt));
    list->bindValue(":only_unsent", onlyUnsent ? 1 : 0);
    list->bindValue(":limit", query.Limit > 0 ? qlonglong{query.Limit}
                                              : std::numeric_limits<qlonglong>::max());
    if (!Run(*list, Sql::List)) {
        return std::nullopt;
    }
    std::vector<RecordSummary> rows;
    while (list->next()) {
        RecordSummary row;
        row.Uuid = Text(list->value(0));
        row.TimeUtcMs = UtcMs(list->value(1));
        row.UtcOffsetSeconds = list->value(2).toInt();
        row.Station = Text(list->value(3));
        row.Operator = Text(list->value(4));
        row.Tag = OptionalText(list->value(5));
        row.ConverterType = Text(list->value(6));
        row.Address = list->value(7).toInt();
        row.Port = list->value(8).toInt();
        row.Sensor = list->value(9).toInt();
        row.PointCount = list->value(10).toInt();
        row.MaxDeviation = Number(list->value(11));
        row.ResidualSd = Number(list->value(12));
        row.RestoredFrom = OptionalText(list->value(13));
        row.Unsent = list->value(14).toInt() != 0;
        rows.push_back(std::move(row));
    }
    list->finish();
    return rows;
}

template <typename Item>
std::optional<std::vector<Item>>
RecordDatabase::Gather(const std::vector<std::string>& uuids,
                       bool (RecordDatabase::*readOne)(const std::string&, std::vector<Item>&)) {
    if (!InThread() || !Open()) {
        return std::nullopt;
    }
    std::vector<Item> found;
    for (const std::string& uuid : uuids) {
        if (CanonicalUuid(uuid) && !(this->*readOne)(uuid, found)) {
            return std::nullopt;
        }
    }
    return found;
}

std::optional<std::vector<RecordDetails>>
RecordDatabase::Read(const std::vector<std::string>& uuids) {
    return Gather(uuids, &RecordDatabase::ReadOne);
}

std::optional<std::vector<Correction>> RecordDatabase::Trail(const std::string& recordUuid) {
    return Gather({recordUuid}, &RecordDatabase::ReadTrail);
}

std::optional<std::vector<Correction>>
RecordDatabase::ReadCorrections(const std::vector<std::string>& uuids) {
    return Gather(uuids, &RecordDatabase::ReadCorrection);
}

bool RecordDatabase::ReadOne(const std::string& uuid, std::vector<RecordDetails>& found) {
    QSqlQuery* read = Prepared(Sql::ReadRecord);
    QSqlQuery* points = Prepared(Sql::ReadPoints);
    if (!read || !points) {
        return false;
    }
    read->bindValue(":uuid", Text(uuid));
    if (!Run(*read, Sql::ReadRecord)) {
        return false;
    }
    if (!read->next()) {
        read->finish();
        return true;
    }
    CalibrationRecord record;
    const qlonglong id = read->value(0).toLongLong();
    record.Uuid = Text(read->value(1));
    record.TimeUtcMs = UtcMs(read->value(2));
    record.UtcOffsetSeconds = read->value(3).toInt();
    record.Station = Text(read->value(4));
    record.ProgramVersion = Text(read->value(5));
    record.Operator = Text(read->value(6));
    record.Reference = {Text(read->value(7)), Text(read->value(8)), Text(read->value(9))};
    record.ConverterType = Text(read->value(10));
    record.Address = read->value(11).toInt();
    record.Port = read->value(12).toInt();
    record.Tag = OptionalText(read->value(13));
    record.Sensor = read->value(14).toInt();
    const int pointCount = read->value(15).toInt();
    const auto asLeft = CubicOfImage(read->value(16).toByteArray());
    const auto asFound = CubicOfImage(read->value(17).toByteArray());
    record.AsFoundInForce = read->value(18).toInt() != 0;
    record.MaxDeviation = Number(read->value(19));
    record.ResidualSd = Number(read->value(20));
    record.RestoredFrom = OptionalText(read->value(21));
    const bool unsent = read->value(22).toInt() != 0;
    const auto instrument = OptionalText(read->value(23));
    const auto expanded = Number(read->value(24));
    const auto calibrated = DateOf(read->value(25));
    const auto due = DateOf(read->value(26));
    const bool snapshotWhole = instrument && expanded && calibrated && due;
    if (snapshotWhole) {
        record.ReferenceUsed = ReferenceSnapshot{*instrument, *expanded, *calibrated, *due,
                                                 read->value(27).toInt() != 0};
    }
    record.AmbientTemperature = Number(read->value(28));
    record.AmbientHumidity = Number(read->value(29));
    read->finish();

    points->bindValue(":record_id", id);
    if (!Run(*points, Sql::ReadPoints)) {
        return false;
    }
    while (points->next()) {
        record.Points.push_back({points->value(0).toInt(), points->value(1).toDouble(),
                                 Number(points->value(2)), Number(points->value(3)),
                                 Number(points->value(4)), std::nullopt});
    }
    points->finish();
    std::vector<std::pair<int, PointStability>> stabilities;
    if (!ReadRows(Sql::ReadStabilities, uuid, stabilities, StabilityOfRow)) {
        return false;
    }
    // A row without its point (only a hand-made one can be) is left out.
    for (auto& [position, stability] : stabilities) {
        if (position >= 1 && static_cast<std::size_t>(position) <= record.Points.size()) {
            record.Points[static_cast<std::size_t>(position - 1)].Stability = std::move(stability);
        }
    }
    if (!asLeft || !asFound || record.Points.size() != static_cast<std::size_t>(pointCount) ||
        (instrument && !snapshotWhole)) {
        return Fail(QStringLiteral("Kalibrační záznam je poškozený"), Text(uuid));
    }
    record.AsLeft = *asLeft;
    record.AsFound = *asFound;

    std::vector<Correction> trail;
    if (!ReadTrail(uuid, trail)) {
        return false;
    }
    found.push_back(WithTrail(std::move(record), std::move(trail)));
    found.back().Unsent = unsent;
    return true;
}

bool RecordDatabase::ReadTrail(const std::string& recordUuid, std::vector<Correction>& found) {
    return ReadCorrections(Sql::ReadTrail, recordUuid, found);
}

bool RecordDatabase::ReadCorrection(const std::string& uuid, std::vector<Correction>& found) {
    return ReadCorrections(Sql::ReadCorrection, uuid, found);
}

template <typename Item, typename Make>
bool RecordDatabase::ReadRows(Sql statement, const std::string& uuid, std::vector<Item>& found,
                              Make item) {
    QSqlQuery* read = Prepared(statement);
    if (!read) {
        return false;
    }
    read->bindValue(":uuid", Text(uuid));
    if (!Run(*read, statement)) {
        return false;
    }
    while (read->next()) {
        if (std::optional<Item> made = item(*read)) {
            found.push_back(std::move(*made));
        }
    }
    read->finish();
    return true;
}

bool RecordDatabase::ReadCorrections(Sql statement, const std::string& uuid,
                                     std::vector<Correction>& found) {
    return ReadRows(statement, uuid, found, [](const QSqlQuery& row) -> std::optional<Correction> {
        const auto field = FieldNamed(Text(row.value(2)));
        if (!field) {
            return std::nullopt; // a field of a newer build
        }
        return Correction{Text(row.value(0)),   Text(row.value(1)), *field,
                          Text(row.value(3)),   Text(row.value(4)), UtcMs(row.value(5)),
                          row.value(6).toInt(), Text(row.value(7))};
    });
}

std::optional<std::vector<OutboxEntry>> RecordDatabase::Unsent(int limit) {
    if (!InThread() || !Open()) {
        return std::nullopt;
    }
    QSqlQuery* unsent = Prepared(Sql::Unsent);
    if (!unsent) {
        return std::nullopt;
    }
    unsent->bindValue(":limit", limit);
    if (!Run(*unsent, Sql::Unsent)) {
        return std::nullopt;
    }
    std::vector<OutboxEntry> entries;
    while (unsent->next()) {
        const int kind = unsent->value(1).toInt();
        entries.push_back({Text(unsent->value(0)), kind == 2   ? OutboxKind::Correction
                                                   : kind == 3 ? OutboxKind::Certificate
                                                               : OutboxKind::Record});
    }
    unsent->finish();
    return entries;
}

std::optional<int> RecordDatabase::UnsentCount() {
    if (!InThread() || !Open()) {
        return std::nullopt;
    }
    QSqlQuery* count = Prepared(Sql::UnsentCount);
    if (!count || !Run(*count, Sql::UnsentCount) || !count->next()) {
        return std::nullopt;
    }
    const int waiting = count->value(0).toInt();
    count->finish();
    return waiting;
}

bool RecordDatabase::MarkSent(const std::vector<OutboxEntry>& entries) {
    if (!InThread() || !Open()) {
        return false;
    }
    QSqlQuery* mark = Prepared(Sql::MarkSent);
    if (!mark) {
        return false;
    }
    Transaction transaction(*this);
    if (!transaction.Begun()) {
        return false;
    }
    const QString now = UtcText(QDateTime::currentMSecsSinceEpoch());
    for (const OutboxEntry& entry : entries) {
        mark->bindValue(":sent_at", now);
        mark->bindValue(":uuid", Text(entry.Uuid));
        if (!Run(*mark, Sql::MarkSent)) {
            return false;
        }
    }
    return transaction.Commit();
}

std::optional<std::vector<Instrument>> RecordDatabase::Instruments() {
    if (!InThread() || !Open()) {
        return std::nullopt;
    }
    QSqlQuery* list = Prepared(Sql::ListInstruments);
    if (!list || !Run(*list, Sql::ListInstruments)) {
        return std::nullopt;
    }
    std::vector<Instrument> instruments;
    while (list->next()) {
        const auto calibrated = DateOf(list->value(5));
        const auto due = DateOf(list->value(6));
        if (!calibrated || !due) {
            const QString uuid = list->value(0).toString();
            list->finish();
            Fail(QStringLiteral("Seznam referenčních přístrojů je poškozený"), uuid);
            return std::nullopt;
        }
        instruments.push_back({Text(list->value(0)),
                               {Text(list->value(1)), Text(list->value(2)), Text(list->value(3))},
                               list->value(4).toDouble(),
                               *calibrated,
                               *due,
                               list->value(7).toInt() != 0});
    }
    list->finish();
    return instruments;
}

bool RecordDatabase::AddInstrument(const Instrument& instrument) {
    if (!InThread() || !Open()) {
        return false;
    }
    if (!CanonicalUuid(instrument.Uuid)) {
        return Fail(QStringLiteral("Referenční přístroj nelze uložit"),
                    QStringLiteral("chybný identifikátor UUID"));
    }
    if (const auto problem = InstrumentProblem(instrument)) {
        return Fail(QStringLiteral("Referenční přístroj nelze uložit"), Text(*problem));
    }
    QSqlQuery* insert = Prepared(Sql::InsertInstrument);
    if (!insert) {
        return false;
    }
    insert->bindValue(":uuid", Text(instrument.Uuid));
    insert->bindValue(":description", Text(instrument.Identity.Description));
    insert->bindValue(":serial_number", Text(instrument.Identity.SerialNumber));
    insert->bindValue(":certificate_number", Text(instrument.Identity.CertificateNumber));
    insert->bindValue(":expanded_uncertainty", Number(place_.Kind, instrument.Expanded));
    insert->bindValue(":calibrated_on", Text(DateText(instrument.Calibrated)));
    insert->bindValue(":due_on", Text(DateText(instrument.Due)));
    insert->bindValue(":added_at", UtcText(QDateTime::currentMSecsSinceEpoch()));
    return Run(*insert, Sql::InsertInstrument);
}

bool RecordDatabase::RetireInstrument(const std::string& uuid) {
    if (!InThread() || !Open()) {
        return false;
    }
    QSqlQuery* retire = Prepared(Sql::RetireInstrument);
    if (!retire) {
        return false;
    }
    retire->bindValue(":retired_at", UtcText(QDateTime::currentMSecsSinceEpoch()));
    retire->bindValue(":uuid", Text(uuid));
    return Run(*retire, Sql::RetireInstrument);
}

bool RecordDatabase::StoreCertificates(const std::vector<IssuedCertificate>& certificates,
                                       Queue queue) {
    if (!InThread() || !Open()) {
        return false;
    }
    for (const IssuedCertificate& certificate : certificates) {
        if (!CanonicalUuid(certificate.Uuid) || !CanonicalUuid(certificate.RecordUuid)) {
            return Fail(QStringLiteral("Číslo kalibračního listu nelze uložit"),
                        QStringLiteral("chybný identifikátor UUID"));
        }
    }
    Transaction transaction(*this);
    if (!transaction.Begun()) {
        return false;
    }
    for (const IssuedCertificate& certificate : certificates) {
        if (!StoreCertificate(certificate, queue)) {
            return false;
        }
    }
    return transaction.Commit();
}

bool RecordDatabase::StoreCertificate(const IssuedCertificate& certificate, Queue queue) {
    QSqlQuery* insert = Prepared(Sql::InsertCertificate);
    if (!insert) {
        return false;
    }
    insert->bindValue(":uuid", Text(certificate.Uuid));
    insert->bindValue(":number", Text(certificate.Number));
    insert->bindValue(":station", Text(certificate.Station));
    insert->bindValue(":sequence", certificate.Sequence);
    insert->bindValue(":record_uuid", Text(certificate.RecordUuid));
    insert->bindValue(":issued_at", UtcText(certificate.IssuedUtcMs));
    if (!Run(*insert, Sql::InsertCertificate)) {
        return false;
    }
    const bool isNew = insert->next();
    insert->finish();
    return !isNew || queue == Queue::No || Enqueue(certificate.Uuid, OutboxKind::Certificate);
}

std::optional<std::vector<IssuedCertificate>>
RecordDatabase::CertificatesOf(const std::string& recordUuid) {
    return Gather({recordUuid}, &RecordDatabase::ReadCertificatesOf);
}

std::optional<std::vector<IssuedCertificate>>
RecordDatabase::ReadCertificates(const std::vector<std::string>& uuids) {
    return Gather(uuids, &RecordDatabase::ReadCertificate);
}

bool RecordDatabase::ReadCertificate(const std::string& uuid,
                                     std::vector<IssuedCertificate>& found) {
    return ReadCertificateRows(Sql::ReadCertificate, uuid, found);
}

bool RecordDatabase::ReadCertificatesOf(const std::string& recordUuid,
                                        std::vector<IssuedCertificate>& found) {
    return ReadCertificateRows(Sql::CertificatesOf, recordUuid, found);
}

bool RecordDatabase::ReadCertificateRows(Sql statement, const std::string& uuid,
                                         std::vector<IssuedCertificate>& found) {
    return ReadRows(statement, uuid, found, [](const QSqlQuery& row) {
        return std::optional(IssuedCertificate{Text(row.value(0)), Text(row.value(1)),
                                               Text(row.value(2)), row.value(3).toInt(),
                                               Text(row.value(4)), UtcMs(row.value(5))});
    });
}

std::optional<int> RecordDatabase::LastCertificateSequence(const std::string& station) {
    if (!InThread() || !Open()) {
        return std::nullopt;
    }
    return LastSequence(station);
}

std::optional<int> RecordDatabase::LastSequence(const std::string& station) {
    QSqlQuery* last = Prepared(Sql::LastCertificateSequence);
    if (!last) {
        return std::nullopt;
    }
    last->bindValue(":station", Text(station));
    if (!Run(*last, Sql::LastCertificateSequence) || !last->next()) {
        return std::nullopt;
    }
    const int sequence = last->value(0).toInt();
    last->finish();
    return sequence;
}

std::optional<IssuedCertificate> RecordDatabase::IssueCertificate(const std::string& recordUuid,
                                                                  const std::string& station,
                                                                  int after, Queue queue) {
    if (!InThread() || !Open()) {
        return std::nullopt;
    }
    if (!CanonicalUuid(recordUuid) || station.empty()) {
        Fail(QStringLiteral("Číslo kalibračního listu nelze přidělit"),
             QStringLiteral("chybný identifikátor záznamu nebo prázdný název stanice"));
        return std::nullopt;
    }
    // The write lock first (on PostgreSQL the lock that also guards the
    // schema): the number read below is still the last one when the new one
    // is stored.
    Transaction transaction(*this);
    if (!transaction.Begun() || !Exec(Sql::LockSchema)) {
        return std::nullopt;
    }
    std::vector<IssuedCertificate> issued;
    if (!ReadCertificatesOf(recordUuid, issued)) {
        return std::nullopt;
    }
    if (!issued.empty()) {
        return issued.front();
    }
    const std::optional<int> last = LastSequence(station);
    if (!last) {
        return std::nullopt;
    }
    IssuedCertificate certificate;
    certificate.Uuid = NewUuid();
    certificate.Station = station;
    certificate.Sequence = std::max(*last, after) + 1;
    certificate.Number = CertificateNumberText(station, certificate.Sequence);
    certificate.RecordUuid = recordUuid;
    certificate.IssuedUtcMs = QDateTime::currentMSecsSinceEpoch();
    if (!StoreCertificate(certificate, queue) || !transaction.Commit()) {
        return std::nullopt;
    }
    return certificate;
}

} // namespace zorm
