// Record store tests run against both engines: a SQLite file on disk in a
// scratch folder, and a new database of a PostgreSQL cluster that the test
// process starts on first use (and stops when it ends).
#pragma once

#include "records/record_database.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>

#include <ostream>
#include <string>

namespace zorm {

inline void PrintTo(Engine engine, std::ostream* out) {
    *out << (engine == Engine::Postgres ? "PostgreSQL" : "SQLite");
}

} // namespace zorm

namespace zorm::test {

inline PgCluster& SharedCluster() {
    static PgCluster cluster;
    return cluster;
}

// A database of its own for each call.
inline DatabasePlace FreshPlace(Engine engine, const ScratchDirectory& scratch) {
    static int serial = 0;
    const std::string name = "records" + std::to_string(++serial);
    if (engine == Engine::Postgres) {
        SharedCluster().CreateDatabase(name);
        return DatabasePlace::SharedServer(SharedCluster().Url(name));
    }
    return DatabasePlace::LocalFile(QString::fromStdString((scratch.Path() / name).string()));
}

inline std::string EngineName(const ::testing::TestParamInfo<Engine>& info) {
    return info.param == Engine::Postgres ? "Postgres" : "Sqlite";
}

// A plain connection beside the store's, for what the store itself must
// never do (changing or deleting rows) and for looking at what it wrote.
class RawConnection {
public:
    explicit RawConnection(const DatabasePlace& place) {
        QSqlDatabase database =
            QSqlDatabase::addDatabase(place.Kind == Engine::Postgres ? "QPSQL" : "QSQLITE", name_);
        if (place.Kind == Engine::Postgres) {
            database.setHostName(QString::fromStdString(place.Server.Host));
            database.setUserName(QString::fromStdString(place.Server.User));
            database.setDatabaseName(QString::fromStdString(place.Server.Database));
        } else {
            database.setDatabaseName(place.File);
        }
        EXPECT_TRUE(database.open());
    }
    ~RawConnection() {
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // Whether the statement ran.
    bool Exec(const QString& sql) {
        QSqlQuery query(QSqlDatabase::database(name_, false));
        return query.exec(sql);
    }
    // The first column of the first row, as text.
    QString Value(const QString& sql) {
        QSqlQuery query(QSqlDatabase::database(name_, false));
        EXPECT_TRUE(query.exec(sql)) << sql.toStdString();
        return query.next() ? query.value(0).toString() : QString();
    }

    const QString& Name() const { return name_; }

private:
    QString name_ = QStringLiteral("raw-%1").arg(reinterpret_cast<quintptr>(this));
};

} // namespace zorm::test
