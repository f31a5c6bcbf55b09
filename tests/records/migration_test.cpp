// The schema version of a record database on both engines: a database of the
// first release and one of version 2 open in this build and read unchanged,
// each gaining what came after it; a newer one is refused unless it says
// this build may use it, a failed step leaves nothing behind, and two
// programs making the schema at once make it once.
#include "records/record_database.h"
#include "records/reference_instrument.h"
#include "tests/records/store_fixture.h"
#include "tests/support/random_records.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace zorm {
namespace {

std::string Contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The record of the version 1 script, and the one a version 2 build added.
constexpr const char* Version1Record = "0b8f6a7e-3c1d-4e2f-9a0b-1c2d3e4f5a6b";
constexpr const char* Version2Record = "1d2e3f4a-5b6c-4d7e-8f90-a1b2c3d4e5f6";

class Migration : public ::testing::TestWithParam<Engine> {
protected:
    test::ScratchDirectory scratch_;
    DatabasePlace place_ = test::FreshPlace(GetParam(), scratch_);

    // Runs a script kept in the tests: on PostgreSQL through psql, on SQLite
    // one statement a line.
    void RunScript(const char* name) {
        const std::string script = Contents(std::filesystem::path(ZORM_RECORDS_TEST_DIR) / name);
        if (GetParam() == Engine::Postgres) {
            test::SharedCluster().Psql(place_.Server.Database, script);
            return;
        }
        test::RawConnection raw(place_);
        std::istringstream lines(script);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && !line.starts_with("--")) {
                ASSERT_TRUE(raw.Exec(QString::fromStdString(line))) << line;
            }
        }
    }

    // The version row, as "version/oldest reader".
    QString Version() {
        test::RawConnection raw(place_);
        return raw.Value("SELECT version || '/' || oldest_reader FROM schema_version");
    }

    void SetVersion(int version, int oldestReader) {
        test::RawConnection raw(place_);
        ASSERT_TRUE(raw.Exec(QStringLiteral("UPDATE schema_version SET version = %1, "
                                            "oldest_reader = %2")
                                 .arg(version)
                                 .arg(oldestReader)));
    }

    // What the version 1 tables hold, as text, and with `version2` also the
    // columns version 2 added to the records.
    QString Dump(bool version2 = false) {
        test::RawConnection raw(place_);
        QStringList tables = {
            "uuid, recorded_at, utc_offset_s, station, program_version, operator, "
            "reference_description, reference_serial, reference_certificate, converter_type, "
            "address, port, tag, sensor, point_count, as_left, as_found, as_found_in_force, "
            "max_deviation, residual_sd, restored_from FROM calibration_record ORDER BY id",
            "record_id, position, raw, true_temp, fitted, deviation, as_found_deviation FROM "
            "calibration_point ORDER BY record_id, position",
            "uuid, record_uuid, field, value, author, corrected_at, utc_offset_s, station FROM "
            "record_correction ORDER BY id",
        };
        if (version2) {
            tables.append("reference_uuid, reference_expanded, reference_calibrated_on, "
                          "reference_due_on, reference_overdue, ambient_temperature, "
                          "ambient_humidity FROM calibration_record ORDER BY id");
        }
        QString dump;
        for (const QString& table : tables) {
            QSqlQuery query(QSqlDatabase::database(raw.Name(), false));
            EXPECT_TRUE(query.exec("SELECT " + table));
            while (query.next()) {
                for (int i = 0; i < query.record().count(); ++i) {
                    dump += query.value(i).toString() + "|";
                }
                dump += "\n";
            }
        }
        return dump;
    }

    // A database as a version 2 build leaves it: the version 1 script, the
    // second step of the schema, and a second record, of the first one's
    // points, with a snapshot of its reference and the environment.
    void MakeVersion2() {
        RunScript(GetParam() == Engine::Postgres ? "schema_v1_postgres.sql"
                                                 : "schema_v1_sqlite.sql");
        const bool postgres = GetParam() == Engine::Postgres;
        const auto typed = [postgres](const char* value, const char* type) {
            return postgres ? QStringLiteral("CAST('%1' AS %2)").arg(value, type)
                            : QStringLiteral("'%1'").arg(value);
        };
        test::RawConnection raw(place_);
        const std::vector<SchemaStep> steps = SchemaSteps(GetParam());
        for (const QString& statement : steps[1].Statements) {
            ASSERT_TRUE(raw.Exec(statement)) << statement.toStdString();
        }
        const QString copied =
            "recorded_at, utc_offset_s, station, program_version, operator, "
            "reference_description, reference_serial, reference_certificate, converter_type, "
            "address, port, tag, sensor, point_count, as_left, as_found, as_found_in_force, "
            "max_deviation, residual_sd, restored_from";
        const QString first = QStringLiteral("(SELECT id FROM calibration_record WHERE uuid = %1)");
        for (const QString& statement : {
                 QStringLiteral("UPDATE schema_version SET version = 2, oldest_reader = 1"),
                 "INSERT INTO calibration_record (uuid, " + copied +
                     ", reference_uuid, reference_expanded, reference_calibrated_on, "
                     "reference_due_on, reference_overdue, ambient_temperature, ambient_humidity) "
                     "SELECT " +
                     typed(Version2Record, "uuid") + ", " + copied + ", " +
                     typed("5f0c3e2a-8d1b-4c6e-9f7a-2b3c4d5e6f70", "uuid") + ", 0.02, " +
                     typed("2024-03-01", "date") + ", " + typed("2025-03-01", "date") +
                     ", 1, 23.5, 45 FROM calibration_record WHERE uuid = " +
                     typed(Version1Record, "uuid"),
                 "INSERT INTO calibration_point (record_id, position, raw, true_temp, fitted, "
                 "deviation, as_found_deviation) SELECT " +
                     first.arg(typed(Version2Record, "uuid")) +
                     ", position, raw, true_temp, fitted, deviation, as_found_deviation FROM "
                     "calibration_point WHERE record_id = " +
                     first.arg(typed(Version1Record, "uuid")),
             }) {
            ASSERT_TRUE(raw.Exec(statement)) << statement.toStdString();
        }
    }
};

TEST_P(Migration, AVersion1DatabaseOpensAndReadsUnchanged) {
    RunScript(GetParam() == Engine::Postgres ? "schema_v1_postgres.sql" : "schema_v1_sqlite.sql");
    const QString before = Dump();
    ASSERT_FALSE(before.isEmpty());

    RecordDatabase database(place_);
    ASSERT_TRUE(database.Open()) << database.LastError().toStdString();
    CalibrationRecord expected;
    expected.Uuid = "0b8f6a7e-3c1d-4e2f-9a0b-1c2d3e4f5a6b";
    expected.TimeUtcMs = 1'709'280'930'250;
    expected.UtcOffsetSeconds = 3600;
    expected.Station = "kalibrace-1";
    expected.ProgramVersion = "1.0.0";
    expected.Operator = "Jana Nov\xC3\xA1kov\xC3\xA1";
    expected.Reference = {"Pt100", "12345", "K-2024/117"};
    expected.ConverterType = "ZORM5816A";
    expected.Address = 1;
    expected.Port = 3;
    expected.Tag = "TT-101";
    expected.Sensor = 2;
    expected.Points = {{10000, -20.5, -20.5, 0.0, std::nullopt, std::nullopt},
                       {30000, 20.125, 20.125, -0.0, std::nullopt, std::nullopt},
                       {60000, 80.0, 79.75, -0.25, std::nullopt, std::nullopt},
                       {90000, 141.5, 141.5, 4.9406564584124654e-324, std::nullopt, std::nullopt}};
    expected.AsLeft = {1.0, 0.0, -1.0, -0.0};
    expected.AsFound = {0.0, 0.0, 0.0, 0.0};
    expected.MaxDeviation = -0.25;
    const auto read = database.Read({expected.Uuid});
    ASSERT_TRUE(read && read->size() == 1) << database.LastError().toStdString();
    EXPECT_TRUE(read->front().Written == expected);
    ASSERT_EQ(read->front().Trail.size(), 1u);
    EXPECT_EQ(read->front().Trail[0].TimeUtcMs, 1'709'370'000'000);
    EXPECT_EQ(read->front().Latest.Tag, "TT-102");
    EXPECT_EQ(Dump(), before);

    // It takes new records.
    test::Random random(1);
    ASSERT_TRUE(database.Store({{test::PlainRecord(random, 1'709'300'000'000)}, {}}, Queue::No))
        << database.LastError().toStdString();
    EXPECT_EQ(database.List({})->size(), 2u);
    database.Close();
    EXPECT_EQ(Version(), QStringLiteral("%1/1").arg(CurrentSchemaVersion()));
}

// Version 2 adds the reference instruments, the certificate numbers and a
// record's snapshot of its reference: a version-1 database gains them, its
// records read as they were (without a snapshot), and new records keep theirs.
TEST_P(Migration, AVersion1DatabaseGainsTheInstrumentsAndCertificateNumbers) {
    RunScript(GetParam() == Engine::Postgres ? "schema_v1_postgres.sql" : "schema_v1_sqlite.sql");
    RecordDatabase database(place_);
    ASSERT_TRUE(database.Open()) << database.LastError().toStdString();
    EXPECT_EQ(Version(), QStringLiteral("%1/1").arg(CurrentSchemaVersion()));
    const std::string old = "0b8f6a7e-3c1d-4e2f-9a0b-1c2d3e4f5a6b";
    const auto read = database.Read({old});
    ASSERT_TRUE(read && read->size() == 1);
    EXPECT_EQ(read->front().Written.ReferenceUsed, std::nullopt);
    EXPECT_EQ(read->front().Written.AmbientTemperature, std::nullopt);

    const Instrument instrument{
        "5f0c3e2a-8d1b-4c6e-9f7a-2b3c4d5e6f70", {"Pt100", "12345", "K-2024/117"}, 0.02,
        std::chrono::year(2024) / 3 / 1,        std::chrono::year(2025) / 3 / 1,  false};
    ASSERT_TRUE(database.AddInstrument(instrument)) << database.LastError().toStdString();
    EXPECT_EQ(database.Instruments(), std::vector<Instrument>{instrument});
    const auto number = database.IssueCertificate(old, "kalibrace-1", 0, Queue::No);
    ASSERT_TRUE(number) << database.LastError().toStdString();
    EXPECT_EQ(number->Number, "kalibrace-1/00001");

    test::Random random(4);
    CalibrationRecord record = test::PlainRecord(random, 1'709'300'000'000);
    record.ReferenceUsed = SnapshotOf(instrument, std::chrono::year(2025) / 3 / 2);
    record.AmbientTemperature = 23.5;
    ASSERT_TRUE(database.Store({{record}, {}}, Queue::No)) << database.LastError().toStdString();
    const auto stored = database.Read({record.Uuid});
    ASSERT_TRUE(stored && stored->size() == 1);
    EXPECT_TRUE(stored->front().Written == record);
    EXPECT_TRUE(stored->front().Written.ReferenceUsed->Overdue);
}

// Version 3 keeps with each point the stability of the readings it was
// taken with: a version 2 database gains it, its records read as they were
// (with their snapshot, without stabilities), and new records keep theirs.
TEST_P(Migration, AVersion2DatabaseGainsThePointStabilities) {
    MakeVersion2();
    EXPECT_EQ(Version(), QStringLiteral("2/1"));
    const QString before = Dump(true);
    RecordDatabase database(place_);
    ASSERT_TRUE(database.Open()) << database.LastError().toStdString();
    EXPECT_EQ(Version(), QStringLiteral("3/1"));
    EXPECT_EQ(Dump(true), before);

    const auto read = database.Read({Version1Record, Version2Record});
    ASSERT_TRUE(read && read->size() == 2) << database.LastError().toStdString();
    CalibrationRecord expected = read->front().Written;
    expected.Uuid = Version2Record;
    expected.ReferenceUsed =
        ReferenceSnapshot{"5f0c3e2a-8d1b-4c6e-9f7a-2b3c4d5e6f70", 0.02,
                          std::chrono::year(2024) / 3 / 1, std::chrono::year(2025) / 3 / 1, true};
    expected.AmbientTemperature = 23.5;
    expected.AmbientHumidity = 45;
    EXPECT_TRUE(read->back().Written == expected);
    for (const RecordDetails& details : *read) {
        EXPECT_EQ(details.Written.Points.size(), 4u);
        for (const RecordPoint& point : details.Written.Points) {
            EXPECT_FALSE(point.Stability);
        }
    }

    test::Random random(5);
    const CalibrationRecord record = test::PlainRecord(random, 1'709'300'000'000);
    ASSERT_TRUE(database.Store({{record}, {}}, Queue::No)) << database.LastError().toStdString();
    const auto stored = database.Read({record.Uuid});
    ASSERT_TRUE(stored && stored->size() == 1);
    EXPECT_TRUE(stored->front().Written == record);
    EXPECT_TRUE(record.Points[0].Stability && !record.Points[2].Stability);
}

TEST_P(Migration, ADatabaseNewerThanThisBuildIsRefusedAndLeftAlone) {
    {
        RecordDatabase database(place_);
        ASSERT_TRUE(database.Open());
    }
    const int newer = CurrentSchemaVersion() + 1;
    SetVersion(newer, newer);
    const std::string fileBefore =
        GetParam() == Engine::Sqlite ? Contents(place_.File.toStdString()) : "";

    RecordDatabase database(place_);
    EXPECT_FALSE(database.Open());
    EXPECT_TRUE(database.LastError().contains(QStringLiteral("novější program")))
        << database.LastError().toStdString();
    EXPECT_FALSE(database.Store({}, Queue::No));
    EXPECT_EQ(Version(), QStringLiteral("%1/%1").arg(newer));
    if (GetParam() == Engine::Sqlite) {
        EXPECT_EQ(Contents(place_.File.toStdString()), fileBefore);
    }
}

TEST_P(Migration, ANewerDatabaseThatOlderBuildsMayUseIsUsed) {
    {
        RecordDatabase database(place_);
        ASSERT_TRUE(database.Open());
    }
    const int newer = CurrentSchemaVersion() + 1;
    SetVersion(newer, CurrentSchemaVersion());
    RecordDatabase database(place_);
    ASSERT_TRUE(database.Open()) << database.LastError().toStdString();
    test::Random random(2);
    EXPECT_TRUE(database.Store({{test::PlainRecord(random, 1'709'300'000'000)}, {}}, Queue::No));
    database.Close();
    EXPECT_EQ(Version(), QStringLiteral("%1/%2").arg(newer).arg(CurrentSchemaVersion()));
}

TEST_P(Migration, AStepThatFailsLeavesTheDatabaseAsItWas) {
    {
        // Something of the same name in the way of the first step.
        test::RawConnection raw(place_);
        ASSERT_TRUE(raw.Exec("CREATE TABLE calibration_point (x integer)"));
    }
    RecordDatabase database(place_);
    EXPECT_FALSE(database.Open());
    EXPECT_FALSE(database.LastError().isEmpty());
    test::RawConnection raw(place_);
    EXPECT_FALSE(raw.Exec("SELECT count(*) FROM schema_version"));
    EXPECT_FALSE(raw.Exec("SELECT count(*) FROM calibration_record"));
    EXPECT_TRUE(raw.Exec("SELECT x FROM calibration_point"));
}

TEST_P(Migration, TwoProgramsMakingTheSchemaAtOnceMakeItOnce) {
    bool opened[2] = {false, false};
    QString errors[2];
    std::thread threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = std::thread([&, i] {
            RecordDatabase database(place_);
            opened[i] = database.Open();
            errors[i] = database.LastError();
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(opened[0]) << errors[0].toStdString();
    EXPECT_TRUE(opened[1]) << errors[1].toStdString();
    EXPECT_EQ(Version(), QStringLiteral("%1/1").arg(CurrentSchemaVersion()));
    test::RawConnection raw(place_);
    EXPECT_EQ(raw.Value("SELECT count(*) FROM schema_version"), "1");
}

INSTANTIATE_TEST_SUITE_P(Engines, Migration, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         test::EngineName);

} // namespace
} // namespace zorm
