// The record store on both engines: records come back bit for bit and once,
// the list against an oracle over random filters and pages, corrections,
// records that cannot be changed, the outbox, refused records, threads.
#include "records/record_database.h"
#include "tests/records/store_fixture.h"
#include "tests/support/random_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <thread>
#include <tuple>

namespace zorm {
namespace {

using test::Random;

class RecordStore : public ::testing::TestWithParam<Engine> {
protected:
    test::ScratchDirectory scratch_;
    DatabasePlace place_ = test::FreshPlace(GetParam(), scratch_);
    RecordDatabase database_{place_};

    void SetUp() override { ASSERT_TRUE(database_.Open()) << database_.LastError().toStdString(); }

    std::vector<RecordDetails> ReadAll(const std::vector<CalibrationRecord>& records) {
        std::vector<std::string> uuids;
        for (const CalibrationRecord& record : records) {
            uuids.push_back(record.Uuid);
        }
        auto read = database_.Read(uuids);
        EXPECT_TRUE(read) << database_.LastError().toStdString();
        return read ? *read : std::vector<RecordDetails>{};
    }
};

TEST_P(RecordStore, EveryFieldComesBackBitForBitAndOnce) {
    Random random(17);
    std::vector<CalibrationRecord> records;
    for (int i = 0; i < 120; ++i) {
        records.push_back(test::AwkwardRecord(random));
    }
    for (std::size_t first = 0; first < records.size(); first += 40) {
        const RecordBatch batch{{records.begin() + first, records.begin() + first + 40}, {}};
        ASSERT_TRUE(database_.Store(batch, Queue::No)) << database_.LastError().toStdString();
    }
    // Sending again stores nothing twice and changes nothing.
    CalibrationRecord changed = records[3];
    changed.Operator += "!";
    changed.Points.clear();
    changed.Points.push_back({1, 2.0, {}, {}, {}, test::AwkwardStability(random)});
    ASSERT_TRUE(database_.Store({{records[0], changed}, {}}, Queue::No));
    std::size_t stabilities = 0;
    for (const CalibrationRecord& record : records) {
        stabilities += std::ranges::count_if(
            record.Points, [](const RecordPoint& p) { return p.Stability.has_value(); });
    }
    test::RawConnection raw(place_);
    EXPECT_EQ(raw.Value("SELECT count(*) FROM point_stability").toULongLong(), stabilities);

    const auto listed = database_.List({{}, std::nullopt, 0});
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->size(), records.size());
    const std::vector<RecordDetails> read = ReadAll(records);
    ASSERT_EQ(read.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(read[i].Written == records[i]);
        EXPECT_TRUE(read[i].Trail.empty());
        EXPECT_FALSE(read[i].Unsent);
    }
}

TEST_P(RecordStore, NotANumberIsKeptAsNoValue) {
    Random random(3);
    CalibrationRecord record = test::PlainRecord(random, 1'700'000'000'000);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    record.Points[0].Fitted = nan;
    record.Points[1].AsFoundDeviation = -nan;
    record.ResidualSd = nan;
    record.AsFound.A0 = nan; // a coefficient keeps its bits
    record.Points[0].Stability->Judgement.Celsius->SlopePerMinute = -nan;
    ASSERT_TRUE(database_.Store({{record}, {}}, Queue::No));

    CalibrationRecord expected = record;
    expected.Points[0].Fitted.reset();
    expected.Points[1].AsFoundDeviation.reset();
    expected.ResidualSd.reset();
    // A statistic without a number, among the others of its unit.
    expected.Points[0].Stability->Judgement.Celsius->SlopePerMinute = nan;
    const std::vector<RecordDetails> read = ReadAll({record});
    ASSERT_EQ(read.size(), 1u);
    EXPECT_TRUE(read[0].Written == expected);
}

// The oracle of the list: the latest value of a field is the one of the
// correction with the greatest (time, UUID), else the record's.
struct Oracle {
    std::vector<CalibrationRecord> Records;
    std::vector<Correction> Corrections;

    std::optional<std::string> Latest(const CalibrationRecord& record, CorrectedField field,
                                      std::optional<std::string> written) const {
        const Correction* latest = nullptr;
        for (const Correction& c : Corrections) {
            if (c.RecordUuid == record.Uuid && c.Field == field &&
                (!latest ||
                 std::tie(c.TimeUtcMs, c.Uuid) > std::tie(latest->TimeUtcMs, latest->Uuid))) {
                latest = &c;
            }
        }
        if (latest) {
            written = latest->Value;
        }
        return written && !written->empty() ? written : std::nullopt;
    }

    std::vector<RecordSummary> List(const RecordFilter& f) const {
        std::vector<RecordSummary> rows;
        for (const CalibrationRecord& r : Records) {
            const auto tag = Latest(r, CorrectedField::Tag, r.Tag);
            if ((f.Tag && tag != f.Tag) ||
                (f.ConverterType && r.ConverterType != *f.ConverterType) ||
                (f.Address && r.Address != *f.Address) || (f.Sensor && r.Sensor != *f.Sensor) ||
                (f.FromUtcMs && r.TimeUtcMs < *f.FromUtcMs) ||
                (f.ToUtcMs && r.TimeUtcMs >= *f.ToUtcMs)) {
                continue;
            }
            rows.push_back({r.Uuid, r.TimeUtcMs, r.UtcOffsetSeconds, r.Station,
                            Latest(r, CorrectedField::Operator, r.Operator).value_or(""), tag,
                            r.ConverterType, r.Address, r.Port, r.Sensor,
                            static_cast<int>(r.Points.size()), r.MaxDeviation, r.ResidualSd,
                            r.RestoredFrom, false});
        }
        std::ranges::sort(rows, [](const RecordSummary& a, const RecordSummary& b) {
            return std::tie(a.TimeUtcMs, a.Uuid) > std::tie(b.TimeUtcMs, b.Uuid);
        });
        return rows;
    }
};

TEST_P(RecordStore, ListAndItsPagesMatchAnOracleOverRandomFilters) {
    Random random(21);
    Oracle oracle;
    const std::array<std::optional<std::string>, 3> tags = {std::optional<std::string>("TT-1"),
                                                            "TT-2", std::nullopt};
    const std::array<std::string, 2> types = {"ZORM5816A", "ZORM5816B"};
    const std::int64_t start = 1'700'000'000'000;
    for (int i = 0; i < 300; ++i) {
        CalibrationRecord record = test::PlainRecord(random, start + 60'000 * (random() % 100), 4);
        record.Tag = tags[random() % tags.size()];
        record.ConverterType = types[random() % types.size()];
        record.Address = static_cast<int>(random() % 3) + 1;
        record.Operator = random() % 2 ? "A" : "B";
        oracle.Records.push_back(record);
    }
    for (int i = 0; i < 120; ++i) {
        const CalibrationRecord& target = oracle.Records[random() % oracle.Records.size()];
        const bool tag = random() % 2;
        const std::array<std::string, 3> values = {"", "TT-1", "TT-3"};
        oracle.Corrections.push_back(
            {test::RandomUuid(random), target.Uuid,
             tag ? CorrectedField::Tag : CorrectedField::Operator,
             tag ? values[random() % values.size()] : "C" + std::to_string(i), "who",
             start + 1000 * static_cast<std::int64_t>(random() % 5), 0, "station"});
    }
    ASSERT_TRUE(database_.Store({oracle.Records, oracle.Corrections}, Queue::No))
        << database_.LastError().toStdString();

    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        RecordFilter filter;
        if (random() % 2) {
            filter.Tag = std::array<std::string, 4>{"TT-1", "TT-2", "TT-3", ""}[random() % 4];
        }
        if (random() % 3 == 0) {
            filter.ConverterType = types[random() % types.size()];
        }
        if (random() % 3 == 0) {
            filter.Address = static_cast<int>(random() % 4);
        }
        if (random() % 3 == 0) {
            filter.Sensor = static_cast<int>(random() % 3) + 1;
        }
        if (random() % 2) {
            filter.FromUtcMs = start + 60'000 * static_cast<std::int64_t>(random() % 100);
        }
        if (random() % 2) {
            filter.ToUtcMs = start + 60'000 * static_cast<std::int64_t>(random() % 100);
        }
        const std::vector<RecordSummary> expected = oracle.List(filter);
        // Page after page, each starting where the one before ended.
        std::vector<RecordSummary> paged;
        RecordQuery query{filter, std::nullopt, static_cast<int>(random() % 40) + 1};
        for (;;) {
            const auto page = database_.List(query);
            ASSERT_TRUE(page) << database_.LastError().toStdString();
            ASSERT_LE(page->size(), static_cast<std::size_t>(query.Limit));
            paged.insert(paged.end(), page->begin(), page->end());
            if (page->size() < static_cast<std::size_t>(query.Limit)) {
                break;
            }
            query.Before = ListPosition{page->back().TimeUtcMs, page->back().Uuid};
        }
        ASSERT_EQ(paged.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_TRUE(paged[i] == expected[i]) << i << " " << paged[i].Uuid;
        }
    }
}

TEST_P(RecordStore, CorrectionsGiveTheLatestValuesAndKeepTheTrail) {
    Random random(5);
    const CalibrationRecord record = test::PlainRecord(random, 1'700'000'000'000);
    const auto correction = [&](CorrectedField field, std::string value, std::int64_t at) {
        return Correction{test::RandomUuid(random),
                          record.Uuid,
                          field,
                          std::move(value),
                          "Petr",
                          at,
                          7200,
                          "kalibrace-2"};
    };
    const std::vector<Correction> trail = {
        correction(CorrectedField::Operator, "Eva", 1'700'000'100'000),
        correction(CorrectedField::Tag, "TT-202", 1'700'000'300'000),
        correction(CorrectedField::Operator, "Ivana", 1'700'000'200'000),
        correction(CorrectedField::ReferenceCertificate, "K-2025/001", 1'700'000'100'000),
        correction(CorrectedField::Note,
                   "p\xC5\x99"
                   "epis",
                   1'700'000'400'000),
        correction(CorrectedField::Tag, "", 1'700'000'500'000),
    };
    ASSERT_TRUE(database_.Store({{record}, {trail[0], trail[1]}}, Queue::No));
    ASSERT_TRUE(database_.Store({{}, {trail[2], trail[3], trail[4], trail[5]}}, Queue::No));

    const auto read = database_.Read({record.Uuid});
    ASSERT_TRUE(read && read->size() == 1);
    const RecordDetails& details = read->front();
    EXPECT_TRUE(details.Written == record);
    const std::vector<Correction> inOrder = {trail[0], trail[3], trail[2],
                                             trail[1], trail[4], trail[5]};
    ASSERT_EQ(details.Trail.size(), inOrder.size());
    for (std::size_t i = 0; i < inOrder.size(); ++i) {
        // Two corrections at the same moment keep the order of their UUIDs.
        if (inOrder[i].TimeUtcMs != 1'700'000'100'000) {
            EXPECT_EQ(details.Trail[i], inOrder[i]) << i;
        }
    }
    EXPECT_EQ(details.Latest.Operator, "Ivana");
    EXPECT_EQ(details.Latest.Reference.CertificateNumber, "K-2025/001");
    EXPECT_EQ(details.Latest.Reference.Description, record.Reference.Description);
    EXPECT_FALSE(details.Latest.Tag) << "an empty tag takes the tag away";
    EXPECT_EQ(details.Note, "p\xC5\x99"
                            "epis");

    const auto listed = database_.List({});
    ASSERT_TRUE(listed && listed->size() == 1);
    EXPECT_EQ(listed->front().Operator, "Ivana");
    EXPECT_FALSE(listed->front().Tag);
}

TEST_P(RecordStore, RecordsPointsAndCorrectionsCannotBeChangedOrDeleted) {
    Random random(8);
    const CalibrationRecord record = test::PlainRecord(random, 1'700'000'000'000);
    const Correction note{
        test::RandomUuid(random), record.Uuid, CorrectedField::Note, "n", "a", 1, 0, "s"};
    ASSERT_TRUE(database_.Store({{record}, {note}}, Queue::No));

    test::RawConnection raw(place_);
    for (const char* table : {"calibration_record", "calibration_point", "record_correction"}) {
        SCOPED_TRACE(table);
        const QString name = QString::fromLatin1(table);
        const QString count = raw.Value("SELECT count(*) FROM " + name);
        EXPECT_FALSE(raw.Exec("UPDATE " + name + " SET " +
                              (name == "calibration_point" ? "raw = raw + 1" : "station = 'x'")));
        EXPECT_FALSE(raw.Exec("DELETE FROM " + name));
        EXPECT_EQ(raw.Value("SELECT count(*) FROM " + name), count);
    }
    const auto read = database_.Read({record.Uuid});
    ASSERT_TRUE(read && read->size() == 1);
    EXPECT_TRUE(read->front().Written == record);
}

TEST_P(RecordStore, QueuedRecordsWaitUntilMarkedSent) {
    Random random(9);
    const CalibrationRecord first = test::PlainRecord(random, 1'700'000'000'000);
    const CalibrationRecord second = test::PlainRecord(random, 1'700'000'060'000);
    const Correction correction{test::RandomUuid(random),
                                first.Uuid,
                                CorrectedField::Tag,
                                "T",
                                "a",
                                1'700'000'120'000,
                                0,
                                "s"};
    ASSERT_TRUE(database_.Store({{first, second}, {correction}}, Queue::ForSending));
    // Stored again: nothing new waits.
    ASSERT_TRUE(database_.Store({{first}, {correction}}, Queue::ForSending));
    EXPECT_EQ(database_.UnsentCount(), 3);

    const auto entries = database_.Unsent(10);
    ASSERT_TRUE(entries && entries->size() == 3);
    EXPECT_EQ((*entries)[0].Uuid, first.Uuid);
    EXPECT_EQ((*entries)[1].Uuid, second.Uuid);
    EXPECT_EQ((*entries)[2].Uuid, correction.Uuid);
    EXPECT_EQ((*entries)[2].Kind, OutboxKind::Correction);
    const auto unsent = database_.List({}, true);
    ASSERT_TRUE(unsent && unsent->size() == 2);
    EXPECT_TRUE(unsent->front().Unsent);

    ASSERT_TRUE(database_.MarkSent({(*entries)[0], (*entries)[2]}));
    EXPECT_EQ(database_.UnsentCount(), 1);
    const auto stillUnsent = database_.List({}, true);
    ASSERT_TRUE(stillUnsent && stillUnsent->size() == 1);
    EXPECT_EQ(stillUnsent->front().Uuid, second.Uuid);
    const auto read = database_.Read({first.Uuid, second.Uuid});
    ASSERT_TRUE(read && read->size() == 2);
    EXPECT_FALSE((*read)[0].Unsent);
    EXPECT_TRUE((*read)[1].Unsent);
}

TEST_P(RecordStore, ABatchWithAFaultyRecordStoresNothing) {
    Random random(10);
    const CalibrationRecord good = test::PlainRecord(random, 1'700'000'000'000);
    CalibrationRecord badUuid = test::PlainRecord(random, 1'700'000'000'000);
    badUuid.Uuid = "6F1C2A44-1B7E-4C2E-9A55-0D3D3C8E8E01"; // not lower case
    CalibrationRecord badSensor = test::PlainRecord(random, 1'700'000'000'000);
    badSensor.Sensor = 4;
    CalibrationRecord tooMany = test::PlainRecord(random, 1'700'000'000'000, 31);
    for (const CalibrationRecord& bad : {badUuid, badSensor, tooMany}) {
        EXPECT_FALSE(database_.Store({{good, bad}, {}}, Queue::ForSending));
        EXPECT_FALSE(database_.LastError().isEmpty());
    }
    // A record that the database itself refuses (a true temperature is
    // never missing) undoes the records and queue entries before it.
    CalibrationRecord refused = test::PlainRecord(random, 1'700'000'000'000);
    refused.Points.back().TrueTemp = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(database_.Store({{good, refused}, {}}, Queue::ForSending));
    EXPECT_FALSE(database_.LastError().isEmpty());
    EXPECT_EQ(database_.List({})->size(), 0u);
    EXPECT_EQ(database_.UnsentCount(), 0);
}

TEST_P(RecordStore, AConnectionServesOnlyTheThreadThatOpenedIt) {
    bool stored = true;
    QString error;
    std::thread other([&] {
        stored = database_.Store({}, Queue::No);
        error = database_.LastError();
    });
    other.join();
    EXPECT_FALSE(stored);
    EXPECT_TRUE(error.contains(QStringLiteral("vláknu")));
    EXPECT_TRUE(database_.Store({}, Queue::No));
}

INSTANTIATE_TEST_SUITE_P(Engines, RecordStore, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         test::EngineName);

} // namespace
} // namespace zorm
