// The SQL of the record store: the two engines, the one set-up step of each
// new connection, every statement by name with its text per engine, and the
// schema's migration steps.
//
// The schema is one in both engines, with types chosen on purpose:
// - numbers are `double precision` on PostgreSQL (never `real`, which has
//   4 bytes there), bound as the shortest text that reads back to the same
//   double, so that -0.0, subnormals and infinities survive; on SQLite they
//   are columns without a declared type, because a column of REAL affinity
//   stores a whole value as an integer and turns -0.0 into 0;
// - the coefficient sets are 32-byte images (`bytea` / BLOB: A3, A2, A1, A0,
//   little-endian doubles), which keep any bits a file held, NaNs included;
// - times are UTC: `timestamptz` in a session whose time zone is UTC, and on
//   SQLite text "YYYY-MM-DDTHH:MM:SS.mmmZ", which sorts like the times;
// - calendar days are `date` on PostgreSQL and text "YYYY-MM-DD" on SQLite;
// - yes/no values are integers 0 and 1 in both.
#pragma once

#include <QString>

#include <vector>

namespace zorm {

enum class Engine { Sqlite, Postgres };

enum class Sql {
    BeginWrite,
    LockSchema,
    Commit,
    Rollback,
    SchemaTableCount,
    ReadVersion,
    WriteVersion,
    InsertRecord,
    InsertPoint,
    InsertCorrection,
    InsertOutbox,
    List,
    ReadRecord,
    ReadPoints,
    ReadTrail,
    ReadCorrection,
    Unsent,
    UnsentCount,
    MarkSent,
    InsertInstrument,
    ListInstruments,
    RetireInstrument,
    InsertCertificate,
    CertificatesOf,
    ReadCertificate,
    LastCertificateSequence,
    InsertStability,
    ReadStabilities,
};

// The statement's text for the engine; empty where the engine needs none.
QString SqlText(Engine engine, Sql statement);
// Its name, for error messages.
const char* SqlName(Sql statement);

// Run on every new connection before anything else.
std::vector<QString> SessionSetup(Engine engine);

// One step of the schema: the statements that bring version - 1 to
// `Version`, and the oldest schema version a build must know to use the
// database afterwards. A new version is one more step at the end of the list
// (the statements of both engines, and the oldest reader: the version itself
// when older builds would break on the new schema, an older one when they
// can go on using it).
struct SchemaStep {
    int Version = 0;
    int OldestReader = 0;
    std::vector<QString> Statements;
};
std::vector<SchemaStep> SchemaSteps(Engine engine);

// The schema version this build writes.
int CurrentSchemaVersion();

} // namespace zorm
