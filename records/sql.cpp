#include "records/sql.h"

#include <array>

namespace zorm {

namespace {

struct NamedStatement {
    Sql Id;
    const char* Name;
    const char* Sqlite;
    // Null: the same text as on SQLite.
    const char* Postgres = nullptr;
};

// The columns of the list, with the latest tag and operator (a correction
// wins over what the record was written with; an empty tag is no tag).
#define ZORM_LATEST(field, written)                                                                \
    "(SELECT c.value FROM record_correction c WHERE c.record_uuid = r.uuid AND c.field = '" field  \
    "' ORDER BY c.corrected_at DESC, c.uuid DESC LIMIT 1), " written

#define ZORM_LIST_COLUMNS(uuid, time)                                                              \
    "SELECT r.uuid AS uuid_key, " uuid " AS uuid, r.recorded_at, " time " AS recorded_text, "      \
    "r.utc_offset_s, "                                                                             \
    "r.station, COALESCE(" ZORM_LATEST(                                                            \
        "operator",                                                                                \
        "r.operator") ") AS operator, "                                                            \
                      "NULLIF(COALESCE(" ZORM_LATEST(                                              \
                          "tag", "r.tag") "), '') AS tag, r.converter_type, r.address, "           \
                                          "r.port, r.sensor, r.point_count, r.max_deviation, "     \
                                          "r.residual_sd, r.restored_from, "                       \
                                          "CASE WHEN o.uuid IS NULL THEN 0 ELSE 1 END AS unsent "  \
                                          "FROM calibration_record r LEFT JOIN outbox o ON "       \
                                          "o.uuid = r.uuid AND o.sent_at IS NULL"

#define ZORM_RECORD_COLUMNS(uuid, time, restored, reference, calibrated, due)                      \
    "SELECT r.id, " uuid ", " time ", r.utc_offset_s, r.station, r.program_version, r.operator, "  \
    "r.reference_description, r.reference_serial, r.reference_certificate, r.converter_type, "     \
    "r.address, r.port, r.tag, r.sensor, r.point_count, r.as_left, r.as_found, "                   \
    "r.as_found_in_force, r.max_deviation, r.residual_sd, " restored ", "                          \
    "CASE WHEN o.uuid IS NULL THEN 0 ELSE 1 END, " reference ", r.reference_expanded, " calibrated \
    ", " due ", r.reference_overdue, r.ambient_temperature, r.ambient_humidity "                   \
    "FROM calibration_record r LEFT JOIN outbox o ON o.uuid = r.uuid AND o.sent_at IS NULL "

#define ZORM_CERTIFICATE_COLUMNS(uuid, recordUuid, time)                                           \
    "SELECT " uuid ", number, station, sequence, " recordUuid ", " time " FROM certificate "

#define ZORM_INSTRUMENT_COLUMNS(uuid, calibrated, due)                                             \
    "SELECT " uuid                                                                                 \
    ", description, serial_number, certificate_number, expanded_uncertainty, " calibrated ", " due \
    ", CASE WHEN retired_at IS NULL THEN 0 ELSE 1 END "                                            \
    "FROM reference_instrument ORDER BY id"

#define ZORM_CORRECTION_COLUMNS(uuid, recordUuid, time)                                            \
    "SELECT " uuid ", " recordUuid ", field, value, author, " time ", utc_offset_s, station "      \
    "FROM record_correction "

// The columns of a point's stability but the record's UUID.
#define ZORM_STABILITY_COLUMNS                                                                     \
    "position, window_s, slope_limit_celsius, sd_limit_celsius, slope_limit_bits, sd_limit_bits, " \
    "verdict, bits_count, bits_mean, bits_sd, bits_peak_to_peak, bits_slope, celsius_count, "      \
    "celsius_mean, celsius_sd, celsius_peak_to_peak, celsius_slope"

// PostgreSQL shows times in the session's zone (UTC) and its own layout;
// this gives the same text as SQLite holds.
#define ZORM_PG_TIME(column)                                                                       \
    "to_char(" column " AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')"
#define ZORM_PG_DATE(column) "to_char(" column ", 'YYYY-MM-DD')"

constexpr std::array<NamedStatement, 28> Statements = {{
    {Sql::BeginWrite, "begin_write",
     // Takes the write lock at once: a read that would later turn into a
     // write could find the database changed and fail without waiting.
     "BEGIN IMMEDIATE", "BEGIN"},
    {Sql::LockSchema, "lock_schema",
     // BEGIN IMMEDIATE already holds every other writer off.
     "", "SELECT pg_advisory_xact_lock(5816)"},
    {Sql::Commit, "commit", "COMMIT"},
    {Sql::Rollback, "rollback", "ROLLBACK"},
    {Sql::SchemaTableCount, "schema_table_count",
     "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'schema_version'",
     // information_schema is slow to ask; the catalogue answers at once (and,
     // unlike to_regclass, from the statement's own snapshot, which sees a
     // schema another program made while this one waited for the lock).
     "SELECT count(*) FROM pg_catalog.pg_tables "
     "WHERE schemaname = current_schema() AND tablename = 'schema_version'"},
    {Sql::ReadVersion, "read_version", "SELECT version, oldest_reader FROM schema_version"},
    {Sql::WriteVersion, "write_version",
     "UPDATE schema_version SET version = :version, oldest_reader = :oldest_reader"},
    {Sql::InsertRecord, "insert_record",
     // Sending a record again stores nothing: the UUID is already there.
     "INSERT INTO calibration_record (uuid, recorded_at, utc_offset_s, station, program_version, "
     "operator, reference_description, reference_serial, reference_certificate, converter_type, "
     "address, port, tag, sensor, point_count, as_left, as_found, as_found_in_force, "
     "max_deviation, residual_sd, restored_from, reference_uuid, reference_expanded, "
     "reference_calibrated_on, reference_due_on, reference_overdue, ambient_temperature, "
     "ambient_humidity) VALUES (:uuid, :recorded_at, :utc_offset_s, "
     ":station, :program_version, :operator, :reference_description, :reference_serial, "
     ":reference_certificate, :converter_type, :address, :port, :tag, :sensor, :point_count, "
     ":as_left, :as_found, :as_found_in_force, :max_deviation, :residual_sd, :restored_from, "
     ":reference_uuid, :reference_expanded, :reference_calibrated_on, :reference_due_on, "
     ":reference_overdue, :ambient_temperature, :ambient_humidity) "
     "ON CONFLICT (uuid) DO NOTHING RETURNING id"},
    {Sql::InsertPoint, "insert_point",
     "INSERT INTO calibration_point (record_id, position, raw, true_temp, fitted, deviation, "
     "as_found_deviation) VALUES (:record_id, :position, :raw, :true_temp, :fitted, :deviation, "
     ":as_found_deviation)"},
    {Sql::InsertCorrection, "insert_correction",
     "INSERT INTO record_correction (uuid, record_uuid, field, value, author, corrected_at, "
     "utc_offset_s, station) VALUES (:uuid, :record_uuid, :field, :value, :author, "
     ":corrected_at, :utc_offset_s, :station) ON CONFLICT (uuid) DO NOTHING RETURNING id"},
    {Sql::InsertOutbox, "insert_outbox",
     "INSERT INTO outbox (uuid, kind) VALUES (:uuid, :kind) ON CONFLICT (uuid) DO NOTHING"},
    {Sql::List, "list",
     "SELECT uuid, recorded_text, utc_offset_s, station, operator, tag, converter_type, address, "
     "port, sensor, point_count, max_deviation, residual_sd, restored_from, unsent FROM "
     "(" ZORM_LIST_COLUMNS(
         "r.uuid",
         "r.recorded_at") ") AS listed "
                          "WHERE (:tag IS NULL OR tag = :tag) "
                          "AND (:converter_type IS NULL OR converter_type = :converter_type) "
                          "AND (:address IS NULL OR address = :address) AND (:sensor IS NULL OR "
                          "sensor = :sensor) "
                          "AND (:from IS NULL OR recorded_at >= :from) AND (:to IS NULL OR "
                          "recorded_at < :to) "
                          "AND (:before_time IS NULL OR recorded_at < :before_time "
                          "OR (recorded_at = :before_time AND uuid_key < :before_uuid)) "
                          "AND (:only_unsent = 0 OR unsent = 1) "
                          "ORDER BY recorded_at DESC, uuid_key DESC LIMIT :limit",
     // Each placeholder is a parameter of its own here and needs a type
     // where nothing around it gives one.
     "SELECT uuid, recorded_text, utc_offset_s, station, operator, tag, converter_type, address, "
     "port, sensor, point_count, max_deviation, residual_sd, restored_from, unsent FROM "
     "(" ZORM_LIST_COLUMNS(
         "CAST(r.uuid AS text)",
         ZORM_PG_TIME(
             "r.recorded_at")) ") AS listed "
                               "WHERE (CAST(:tag AS text) IS NULL OR tag = :tag) "
                               "AND (CAST(:converter_type AS text) IS NULL OR converter_type = "
                               ":converter_type) "
                               "AND (CAST(:address AS integer) IS NULL OR address = :address) "
                               "AND (CAST(:sensor AS integer) IS NULL OR sensor = :sensor) "
                               "AND (CAST(:from AS timestamptz) IS NULL OR recorded_at >= :from) "
                               "AND (CAST(:to AS timestamptz) IS NULL OR recorded_at < :to) "
                               "AND (CAST(:before_time AS timestamptz) IS NULL OR recorded_at < "
                               ":before_time "
                               "OR (recorded_at = :before_time AND uuid_key < CAST(:before_uuid AS "
                               "uuid))) "
                               "AND (CAST(:only_unsent AS integer) = 0 OR unsent = 1) "
                               "ORDER BY recorded_at DESC, uuid_key DESC LIMIT :limit"},
    {Sql::ReadRecord, "read_record",
     ZORM_RECORD_COLUMNS("r.uuid", "r.recorded_at", "r.restored_from", "r.reference_uuid",
                         "r.reference_calibrated_on", "r.reference_due_on") "WHERE r.uuid = :uuid",
     ZORM_RECORD_COLUMNS("CAST(r.uuid AS text)", ZORM_PG_TIME("r.recorded_at"),
                         "CAST(r.restored_from AS text)", "CAST(r.reference_uuid AS text)",
                         ZORM_PG_DATE("r.reference_calibrated_on"),
                         ZORM_PG_DATE("r.reference_due_on")) "WHERE r.uuid = CAST(:uuid AS uuid)"},
    {Sql::ReadPoints, "read_points",
     "SELECT raw, true_temp, fitted, deviation, as_found_deviation FROM calibration_point "
     "WHERE record_id = :record_id ORDER BY position"},
    {Sql::ReadTrail, "read_trail",
     ZORM_CORRECTION_COLUMNS("uuid", "record_uuid", "corrected_at") "WHERE record_uuid = :uuid",
     ZORM_CORRECTION_COLUMNS(
         "CAST(uuid AS text)", "CAST(record_uuid AS text)",
         ZORM_PG_TIME("corrected_at")) "WHERE record_uuid = CAST(:uuid AS uuid)"},
    {Sql::ReadCorrection, "read_correction",
     ZORM_CORRECTION_COLUMNS("uuid", "record_uuid", "corrected_at") "WHERE uuid = :uuid",
     ZORM_CORRECTION_COLUMNS("CAST(uuid AS text)", "CAST(record_uuid AS text)",
                             ZORM_PG_TIME("corrected_at")) "WHERE uuid = CAST(:uuid AS uuid)"},
    {Sql::Unsent, "unsent",
     "SELECT uuid, kind FROM outbox WHERE sent_at IS NULL ORDER BY seq LIMIT :limit",
     "SELECT CAST(uuid AS text), kind FROM outbox WHERE sent_at IS NULL ORDER BY seq "
     "LIMIT :limit"},
    {Sql::UnsentCount, "unsent_count", "SELECT count(*) FROM outbox WHERE sent_at IS NULL"},
    {Sql::MarkSent, "mark_sent",
     "UPDATE outbox SET sent_at = :sent_at WHERE uuid = :uuid AND sent_at IS NULL",
     "UPDATE outbox SET sent_at = :sent_at WHERE uuid = CAST(:uuid AS uuid) AND sent_at IS NULL"},
    {Sql::InsertInstrument, "insert_instrument",
     "INSERT INTO reference_instrument (uuid, description, serial_number, certificate_number, "
     "expanded_uncertainty, calibrated_on, due_on, added_at) VALUES (:uuid, :description, "
     ":serial_number, :certificate_number, :expanded_uncertainty, :calibrated_on, :due_on, "
     ":added_at)"},
    {Sql::ListInstruments, "list_instruments",
     ZORM_INSTRUMENT_COLUMNS("uuid", "calibrated_on", "due_on"),
     ZORM_INSTRUMENT_COLUMNS("CAST(uuid AS text)", ZORM_PG_DATE("calibrated_on"),
                             ZORM_PG_DATE("due_on"))},
    {Sql::RetireInstrument, "retire_instrument",
     "UPDATE reference_instrument SET retired_at = :retired_at "
     "WHERE uuid = :uuid AND retired_at IS NULL",
     "UPDATE reference_instrument SET retired_at = :retired_at "
     "WHERE uuid = CAST(:uuid AS uuid) AND retired_at IS NULL"},
    {Sql::InsertCertificate, "insert_certificate",
     // Sending a number again stores nothing: its UUID is already there.
     "INSERT INTO certificate (uuid, number, station, sequence, record_uuid, issued_at) VALUES "
     "(:uuid, :number, :station, :sequence, :record_uuid, :issued_at) "
     "ON CONFLICT (uuid) DO NOTHING RETURNING id"},
    {Sql::CertificatesOf, "certificates_of",
     ZORM_CERTIFICATE_COLUMNS("uuid", "record_uuid",
                              "issued_at") "WHERE record_uuid = :uuid ORDER BY issued_at, uuid",
     ZORM_CERTIFICATE_COLUMNS("CAST(uuid AS text)", "CAST(record_uuid AS text)",
                              ZORM_PG_TIME("issued_at")) "WHERE record_uuid = CAST(:uuid AS uuid) "
                                                         "ORDER BY issued_at, uuid"},
    {Sql::ReadCertificate, "read_certificate",
     ZORM_CERTIFICATE_COLUMNS("uuid", "record_uuid", "issued_at") "WHERE uuid = :uuid",
     ZORM_CERTIFICATE_COLUMNS("CAST(uuid AS text)", "CAST(record_uuid AS text)",
                              ZORM_PG_TIME("issued_at")) "WHERE uuid = CAST(:uuid AS uuid)"},
    {Sql::LastCertificateSequence, "last_certificate_sequence",
     "SELECT COALESCE(MAX(sequence), 0) FROM certificate WHERE station = :station"},
    {Sql::InsertStability, "insert_stability",
     "INSERT INTO point_stability (record_uuid, " ZORM_STABILITY_COLUMNS ") VALUES (:record_uuid, "
     ":position, :window_s, :slope_limit_celsius, :sd_limit_celsius, :slope_limit_bits, "
     ":sd_limit_bits, :verdict, :bits_count, :bits_mean, :bits_sd, :bits_peak_to_peak, "
     ":bits_slope, :celsius_count, :celsius_mean, :celsius_sd, :celsius_peak_to_peak, "
     ":celsius_slope)"},
    {Sql::ReadStabilities, "read_stabilities",
     "SELECT " ZORM_STABILITY_COLUMNS " FROM point_stability WHERE record_uuid = :uuid "
     "ORDER BY position",
     "SELECT " ZORM_STABILITY_COLUMNS " FROM point_stability "
     "WHERE record_uuid = CAST(:uuid AS uuid) ORDER BY position"},
}};

#undef ZORM_LATEST
#undef ZORM_LIST_COLUMNS
#undef ZORM_RECORD_COLUMNS
#undef ZORM_CORRECTION_COLUMNS
#undef ZORM_CERTIFICATE_COLUMNS
#undef ZORM_INSTRUMENT_COLUMNS
#undef ZORM_STABILITY_COLUMNS
#undef ZORM_PG_TIME
#undef ZORM_PG_DATE

// The table is indexed by the statement's number.
consteval bool InEnumOrder() {
    for (std::size_t i = 0; i < Statements.size(); ++i) {
        if (static_cast<std::size_t>(Statements[i].Id) != i) {
            return false;
        }
    }
    return true;
}
static_assert(InEnumOrder());

const NamedStatement& Find(Sql statement) {
    return Statements[static_cast<std::size_t>(statement)];
}

// Version 1, as the first release writes it. Records, their points and their
// corrections are never changed or deleted: triggers refuse it. The outbox
// holds the UUIDs of what waits to be sent to the shared database (on the
// server it stays empty).
const std::vector<QString> SqliteVersion1 = {
    "CREATE TABLE schema_version (version INTEGER NOT NULL, oldest_reader INTEGER NOT NULL)",
    "INSERT INTO schema_version (version, oldest_reader) VALUES (0, 0)",
    "CREATE TABLE calibration_record ("
    " id INTEGER PRIMARY KEY,"
    " uuid TEXT NOT NULL UNIQUE,"
    " recorded_at TEXT NOT NULL,"
    " utc_offset_s INTEGER NOT NULL,"
    " station TEXT NOT NULL,"
    " program_version TEXT NOT NULL,"
    " operator TEXT NOT NULL,"
    " reference_description TEXT NOT NULL,"
    " reference_serial TEXT NOT NULL,"
    " reference_certificate TEXT NOT NULL,"
    " converter_type TEXT NOT NULL,"
    " address INTEGER NOT NULL,"
    " port INTEGER NOT NULL,"
    " tag TEXT,"
    " sensor INTEGER NOT NULL CHECK (sensor BETWEEN 1 AND 3),"
    " point_count INTEGER NOT NULL,"
    " as_left BLOB NOT NULL CHECK (length(as_left) = 32),"
    " as_found BLOB NOT NULL CHECK (length(as_found) = 32),"
    " as_found_in_force INTEGER NOT NULL CHECK (as_found_in_force IN (0, 1)),"
    " max_deviation,"
    " residual_sd,"
    " restored_from TEXT)",
    "CREATE INDEX calibration_record_listed ON calibration_record (recorded_at, uuid)",
    "CREATE TABLE calibration_point ("
    " record_id INTEGER NOT NULL REFERENCES calibration_record (id),"
    " position INTEGER NOT NULL,"
    " raw INTEGER NOT NULL,"
    " true_temp NOT NULL,"
    " fitted,"
    " deviation,"
    " as_found_deviation,"
    " PRIMARY KEY (record_id, position))",
    "CREATE TABLE record_correction ("
    " id INTEGER PRIMARY KEY,"
    " uuid TEXT NOT NULL UNIQUE,"
    " record_uuid TEXT NOT NULL,"
    " field TEXT NOT NULL,"
    " value TEXT NOT NULL,"
    " author TEXT NOT NULL,"
    " corrected_at TEXT NOT NULL,"
    " utc_offset_s INTEGER NOT NULL,"
    " station TEXT NOT NULL)",
    "CREATE INDEX record_correction_latest ON record_correction "
    "(record_uuid, field, corrected_at, uuid)",
    "CREATE TABLE outbox ("
    " seq INTEGER PRIMARY KEY,"
    " uuid TEXT NOT NULL UNIQUE,"
    " kind INTEGER NOT NULL,"
    " sent_at TEXT)",
    "CREATE INDEX outbox_unsent ON outbox (sent_at, seq)",
    "CREATE TRIGGER calibration_record_kept BEFORE UPDATE ON calibration_record "
    "BEGIN SELECT RAISE(ABORT, 'calibration records are never changed'); END",
    "CREATE TRIGGER calibration_record_not_deleted BEFORE DELETE ON calibration_record "
    "BEGIN SELECT RAISE(ABORT, 'calibration records are never deleted'); END",
    "CREATE TRIGGER calibration_point_kept BEFORE UPDATE ON calibration_point "
    "BEGIN SELECT RAISE(ABORT, 'calibration records are never changed'); END",
    "CREATE TRIGGER calibration_point_not_deleted BEFORE DELETE ON calibration_point "
    "BEGIN SELECT RAISE(ABORT, 'calibration records are never deleted'); END",
    "CREATE TRIGGER record_correction_kept BEFORE UPDATE ON record_correction "
    "BEGIN SELECT RAISE(ABORT, 'calibration records are never changed'); END",
    "CREATE TRIGGER record_correction_not_deleted BEFORE DELETE ON record_correction "
    "BEGIN SELECT RAISE(ABORT, 'calibration records are never deleted'); END",
};

const std::vector<QString> PostgresVersion1 = {
    "CREATE TABLE schema_version (version integer NOT NULL, oldest_reader integer NOT NULL)",
    "INSERT INTO schema_version (version, oldest_reader) VALUES (0, 0)",
    "CREATE TABLE calibration_record ("
    " id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
    " uuid uuid NOT NULL UNIQUE,"
    " recorded_at timestamptz NOT NULL,"
    " utc_offset_s integer NOT NULL,"
    " station text NOT NULL,"
    " program_version text NOT NULL,"
    " operator text NOT NULL,"
    " reference_description text NOT NULL,"
    " reference_serial text NOT NULL,"
    " reference_certificate text NOT NULL,"
    " converter_type text NOT NULL,"
    " address integer NOT NULL,"
    " port integer NOT NULL,"
    " tag text,"
    " sensor integer NOT NULL CHECK (sensor BETWEEN 1 AND 3),"
    " point_count integer NOT NULL,"
    " as_left bytea NOT NULL CHECK (length(as_left) = 32),"
    " as_found bytea NOT NULL CHECK (length(as_found) = 32),"
    " as_found_in_force smallint NOT NULL CHECK (as_found_in_force IN (0, 1)),"
    " max_deviation double precision,"
    " residual_sd double precision,"
    " restored_from uuid)",
    "CREATE INDEX calibration_record_listed ON calibration_record (recorded_at, uuid)",
    "CREATE TABLE calibration_point ("
    " record_id bigint NOT NULL REFERENCES calibration_record (id),"
    " position integer NOT NULL,"
    " raw integer NOT NULL,"
    " true_temp double precision NOT NULL,"
    " fitted double precision,"
    " deviation double precision,"
    " as_found_deviation double precision,"
    " PRIMARY KEY (record_id, position))",
    "CREATE TABLE record_correction ("
    " id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
    " uuid uuid NOT NULL UNIQUE,"
    " record_uuid uuid NOT NULL,"
    " field text NOT NULL,"
    " value text NOT NULL,"
    " author text NOT NULL,"
    " corrected_at timestamptz NOT NULL,"
    " utc_offset_s integer NOT NULL,"
    " station text NOT NULL)",
    "CREATE INDEX record_correction_latest ON record_correction "
    "(record_uuid, field, corrected_at, uuid)",
    "CREATE TABLE outbox ("
    " seq bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
    " uuid uuid NOT NULL UNIQUE,"
    " kind integer NOT NULL,"
    " sent_at timestamptz)",
    "CREATE INDEX outbox_unsent ON outbox (sent_at, seq)",
    "CREATE FUNCTION calibration_records_are_kept() RETURNS trigger LANGUAGE plpgsql AS "
    "$$ BEGIN RAISE EXCEPTION 'calibration records are never changed or deleted'; END $$",
    "CREATE TRIGGER calibration_record_kept BEFORE UPDATE OR DELETE ON calibration_record "
    "FOR EACH ROW EXECUTE FUNCTION calibration_records_are_kept()",
    "CREATE TRIGGER calibration_point_kept BEFORE UPDATE OR DELETE ON calibration_point "
    "FOR EACH ROW EXECUTE FUNCTION calibration_records_are_kept()",
    "CREATE TRIGGER record_correction_kept BEFORE UPDATE OR DELETE ON record_correction "
    "FOR EACH ROW EXECUTE FUNCTION calibration_records_are_kept()",
};

// Version 2: the station's reference instruments, the certificate numbers,
// and what a record copies at its commit for a certificate (the reference
// instrument's snapshot and the environment). An instrument is never deleted
// and never changed but for being retired once; certificate numbers are kept
// like records. New columns of the records are added without a value, which
// changes no row (no trigger fires).
#define ZORM_VERSION2_COLUMNS(uuid, number, date, flag)                                            \
    "ALTER TABLE calibration_record ADD COLUMN reference_uuid " uuid,                              \
        "ALTER TABLE calibration_record ADD COLUMN reference_expanded" number,                     \
        "ALTER TABLE calibration_record ADD COLUMN reference_calibrated_on " date,                 \
        "ALTER TABLE calibration_record ADD COLUMN reference_due_on " date,                        \
        "ALTER TABLE calibration_record ADD COLUMN reference_overdue " flag                        \
        " CHECK (reference_overdue IN (0, 1))",                                                    \
        "ALTER TABLE calibration_record ADD COLUMN ambient_temperature" number,                    \
        "ALTER TABLE calibration_record ADD COLUMN ambient_humidity" number

const std::vector<QString> SqliteVersion2 = {
    // Numbers without a declared type, as in version 1.
    ZORM_VERSION2_COLUMNS("TEXT", "", "TEXT", "INTEGER"),
    "CREATE TABLE reference_instrument ("
    " id INTEGER PRIMARY KEY,"
    " uuid TEXT NOT NULL UNIQUE,"
    " description TEXT NOT NULL,"
    " serial_number TEXT NOT NULL,"
    " certificate_number TEXT NOT NULL,"
    " expanded_uncertainty NOT NULL,"
    " calibrated_on TEXT NOT NULL,"
    " due_on TEXT NOT NULL,"
    " added_at TEXT NOT NULL,"
    " retired_at TEXT)",
    "CREATE TRIGGER reference_instrument_kept BEFORE UPDATE ON reference_instrument "
    "WHEN OLD.retired_at IS NOT NULL OR NEW.id IS NOT OLD.id OR NEW.uuid IS NOT OLD.uuid "
    "OR NEW.description IS NOT OLD.description OR NEW.serial_number IS NOT OLD.serial_number "
    "OR NEW.certificate_number IS NOT OLD.certificate_number "
    "OR NEW.expanded_uncertainty IS NOT OLD.expanded_uncertainty "
    "OR NEW.calibrated_on IS NOT OLD.calibrated_on OR NEW.due_on IS NOT OLD.due_on "
    "OR NEW.added_at IS NOT OLD.added_at "
    "BEGIN SELECT RAISE(ABORT, 'reference instruments are only retired, never changed'); END",
    "CREATE TRIGGER reference_instrument_not_deleted BEFORE DELETE ON reference_instrument "
    "BEGIN SELECT RAISE(ABORT, 'reference instruments are never deleted'); END",
    "CREATE TABLE certificate ("
    " id INTEGER PRIMARY KEY,"
    " uuid TEXT NOT NULL UNIQUE,"
    " number TEXT NOT NULL UNIQUE,"
    " station TEXT NOT NULL,"
    " sequence INTEGER NOT NULL CHECK (sequence > 0),"
    " record_uuid TEXT NOT NULL,"
    " issued_at TEXT NOT NULL,"
    " UNIQUE (station, sequence))",
    "CREATE INDEX certificate_of_record ON certificate (record_uuid, issued_at)",
    "CREATE TRIGGER certificate_kept BEFORE UPDATE ON certificate "
    "BEGIN SELECT RAISE(ABORT, 'certificate numbers are never changed'); END",
    "CREATE TRIGGER certificate_not_deleted BEFORE DELETE ON certificate "
    "BEGIN SELECT RAISE(ABORT, 'certificate numbers are never deleted'); END",
};

const std::vector<QString> PostgresVersion2 = {
    ZORM_VERSION2_COLUMNS("uuid", " double precision", "date", "smallint"),
    "CREATE TABLE reference_instrument ("
    " id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
    " uuid uuid NOT NULL UNIQUE,"
    " description text NOT NULL,"
    " serial_number text NOT NULL,"
    " certificate_number text NOT NULL,"
    " expanded_uncertainty double precision NOT NULL,"
    " calibrated_on date NOT NULL,"
    " due_on date NOT NULL,"
    " added_at timestamptz NOT NULL,"
    " retired_at timestamptz)",
    "CREATE FUNCTION reference_instruments_are_kept() RETURNS trigger LANGUAGE plpgsql AS "
    "$$ BEGIN "
    "IF TG_OP = 'UPDATE' AND OLD.retired_at IS NULL AND (NEW.id, NEW.uuid, NEW.description, "
    "NEW.serial_number, NEW.certificate_number, NEW.expanded_uncertainty, NEW.calibrated_on, "
    "NEW.due_on, NEW.added_at) IS NOT DISTINCT FROM (OLD.id, OLD.uuid, OLD.description, "
    "OLD.serial_number, OLD.certificate_number, OLD.expanded_uncertainty, OLD.calibrated_on, "
    "OLD.due_on, OLD.added_at) THEN RETURN NEW; END IF; "
    "RAISE EXCEPTION 'reference instruments are only retired, never changed or deleted'; "
    "END $$",
    "CREATE TRIGGER reference_instrument_kept BEFORE UPDATE OR DELETE ON reference_instrument "
    "FOR EACH ROW EXECUTE FUNCTION reference_instruments_are_kept()",
    "CREATE TABLE certificate ("
    " id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
    " uuid uuid NOT NULL UNIQUE,"
    " number text NOT NULL UNIQUE,"
    " station text NOT NULL,"
    " sequence integer NOT NULL CHECK (sequence > 0),"
    " record_uuid uuid NOT NULL,"
    " issued_at timestamptz NOT NULL,"
    " UNIQUE (station, sequence))",
    "CREATE INDEX certificate_of_record ON certificate (record_uuid, issued_at)",
    "CREATE TRIGGER certificate_kept BEFORE UPDATE OR DELETE ON certificate "
    "FOR EACH ROW EXECUTE FUNCTION calibration_records_are_kept()",
};

#undef ZORM_VERSION2_COLUMNS

// Version 3: the stability of the readings with which the calibration
// assistant saw each point taken, kept beside the point (by the record's
// UUID and the point's position) like the points themselves. A point taken
// otherwise has no row. The statistics of a unit are there when its count
// is; a statistic the arithmetic gave no number for is no value.
#define ZORM_STABILITY_TABLE(uuid, number, integer)                                                \
    "CREATE TABLE point_stability ("                                                               \
    " record_uuid " uuid " NOT NULL REFERENCES calibration_record (uuid),"                         \
    " position " integer " NOT NULL,"                                                              \
    " window_s" number " NOT NULL,"                                                                \
    " slope_limit_celsius" number " NOT NULL,"                                                     \
    " sd_limit_celsius" number " NOT NULL,"                                                        \
    " slope_limit_bits" number " NOT NULL,"                                                        \
    " sd_limit_bits" number " NOT NULL,"                                                           \
    " verdict TEXT NOT NULL CHECK (verdict IN ('too_few_data', 'unstable', "                       \
    "'stable'))," ZORM_STABILITY_UNIT("bits", number, integer)                                     \
        ZORM_STABILITY_UNIT("celsius", number, integer) " PRIMARY KEY (record_uuid, position))"
#define ZORM_STABILITY_UNIT(unit, number, integer)                                                 \
    " " unit "_count " integer ","                                                                 \
    " " unit "_mean" number ","                                                                    \
    " " unit "_sd" number ","                                                                      \
    " " unit "_peak_to_peak" number ","                                                            \
    " " unit "_slope" number ","

const std::vector<QString> SqliteVersion3 = {
    ZORM_STABILITY_TABLE("TEXT", "", "INTEGER"),
    "CREATE TRIGGER point_stability_kept BEFORE UPDATE ON point_stability "
    "BEGIN SELECT RAISE(ABORT, 'calibration records are never changed'); END",
    "CREATE TRIGGER point_stability_not_deleted BEFORE DELETE ON point_stability "
    "BEGIN SELECT RAISE(ABORT, 'calibration records are never deleted'); END",
};

const std::vector<QString> PostgresVersion3 = {
    ZORM_STABILITY_TABLE("uuid", " double precision", "integer"),
    "CREATE TRIGGER point_stability_kept BEFORE UPDATE OR DELETE ON point_stability "
    "FOR EACH ROW EXECUTE FUNCTION calibration_records_are_kept()",
};

#undef ZORM_STABILITY_TABLE
#undef ZORM_STABILITY_UNIT

} // namespace

QString SqlText(Engine engine, Sql statement) {
    const NamedStatement& found = Find(statement);
    return QString::fromUtf8(engine == Engine::Postgres && found.Postgres ? found.Postgres
                                                                          : found.Sqlite);
}

const char* SqlName(Sql statement) {
    return Find(statement).Name;
}

std::vector<QString> SessionSetup(Engine engine) {
    if (engine == Engine::Postgres) {
        return {
            // The driver turns times into the session's zone.
            "SET TIME ZONE 'UTC'",
            // Numbers as text in full: the shortest text that reads back to
            // the same double (older servers: 17 digits).
            "SET extra_float_digits = 3",
            "SET client_min_messages = WARNING",
        };
    }
    return {
        "PRAGMA journal_mode = WAL",
        // A commit is on the disk when it returns, even in WAL mode.
        "PRAGMA synchronous = FULL",
        // Another program writing the file is waited for, not failed on.
        "PRAGMA busy_timeout = 5000",
        "PRAGMA foreign_keys = ON",
    };
}

std::vector<SchemaStep> SchemaSteps(Engine engine) {
    const bool postgres = engine == Engine::Postgres;
    return {
        {1, 1, postgres ? PostgresVersion1 : SqliteVersion1},
        // A build of version 1 goes on using the database: it ignores the new
        // columns and tables, and records it writes have no snapshot.
        {2, 1, postgres ? PostgresVersion2 : SqliteVersion2},
        // Version 1 and 2 builds go on using it; their records keep no
        // stability.
        {3, 1, postgres ? PostgresVersion3 : SqliteVersion3},
    };
}

int CurrentSchemaVersion() {
    return SchemaSteps(Engine::Sqlite).back().Version;
}

} // namespace zorm
