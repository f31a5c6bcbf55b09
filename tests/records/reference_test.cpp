// Reference instruments: the due date's edges, the days of the record file,
// what a commit copies of the instrument in use and of the environment, the
// station settings that pick them, and the list and the certificate numbers
// in both engines.
#include "records/certificate_number.h"
#include "records/record_database.h"
#include "records/record_stamp.h"
#include "records/reference_instrument.h"
#include "tests/records/store_fixture.h"
#include "tests/support/random_records.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <thread>

namespace zorm {
namespace {

using namespace std::chrono;

constexpr Date Day(int y, unsigned m, unsigned d) {
    return Date{year(y), month(m), day(d)};
}

Instrument Pt100(const std::string& uuid, Date calibrated, Date due) {
    return {uuid, {"Pt100 reference", "12345", "K-2024/117"}, 0.02, calibrated, due, false};
}

TEST(Instruments, AreOverdueFromTheDayAfterTheirDueDate) {
    const struct {
        Date due;
        Date day;
        bool overdue;
    } cases[] = {
        {Day(2024, 3, 1), Day(2024, 2, 29), false}, // leap day before
        {Day(2024, 3, 1), Day(2024, 3, 1), false},  // the due date itself
        {Day(2024, 3, 1), Day(2024, 3, 2), true},      {Day(2024, 2, 29), Day(2024, 3, 1), true},
        {Day(2023, 12, 31), Day(2024, 1, 1), true}, // over a year's end
        {Day(2024, 12, 31), Day(2024, 12, 31), false}, {Day(2025, 1, 1), Day(2024, 12, 31), false},
        {Day(2024, 3, 1), Day(2025, 3, 1), true}, // a year late
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(DateText(c.due) + " on " + DateText(c.day));
        const Instrument instrument = Pt100("", Day(2023, 1, 1), c.due);
        EXPECT_EQ(Overdue(instrument, c.day), c.overdue);
        EXPECT_EQ(SnapshotOf(instrument, c.day).Overdue, c.overdue);
    }
}

// The local day of a commit decides: 23:30 UTC is already the next day an
// hour east of Greenwich, and still the day before five hours west.
TEST(Instruments, TheLocalDayOfAMomentAndDateTexts) {
    const std::int64_t lateEvening = 1'709'335'800'000; // 2024-03-01T23:30:00Z
    EXPECT_EQ(LocalDate(lateEvening, 0), Day(2024, 3, 1));
    EXPECT_EQ(LocalDate(lateEvening, 3600), Day(2024, 3, 2));
    EXPECT_EQ(LocalDate(lateEvening - 24 * 3'600'000 - 4 * 3'600'000, -5 * 3600), Day(2024, 2, 29));
    EXPECT_EQ(LocalDate(-1, 0), Day(1969, 12, 31));

    // Every day of four centuries reads back from its text.
    for (sys_days d = sys_days(Day(1900, 1, 1)); d < sys_days(Day(2300, 1, 1)); d += days(1)) {
        const Date date(d);
        ASSERT_EQ(ParseDate(DateText(date)), date) << DateText(date);
    }
    EXPECT_EQ(DateText(Day(987, 1, 2)), "0987-01-02");
    EXPECT_EQ(CzechDateText(Day(2024, 3, 1)), "1. 3. 2024");
    for (const char* wrong :
         {"2023-02-29", "2024-13-01", "2024-00-10", "2024-04-31", "24-01-01", "2024-1-01",
          "2024-01-1 ", "2024/01/01", "+024-01-01", "-024-01-01", "2024-01-+1", ""}) {
        EXPECT_EQ(ParseDate(wrong), std::nullopt) << wrong;
    }
}

TEST(Instruments, WhatKeepsOneFromTheListIsNamed) {
    const Instrument good = Pt100("", Day(2024, 3, 1), Day(2025, 3, 1));
    EXPECT_EQ(InstrumentProblem(good), std::nullopt);
    Instrument sameDay = good;
    sameDay.Due = sameDay.Calibrated;
    EXPECT_EQ(InstrumentProblem(sameDay), std::nullopt);

    const auto problem = [&good](auto change) {
        Instrument instrument = good;
        change(instrument);
        return InstrumentProblem(instrument).value_or("");
    };
    EXPECT_NE(problem([](Instrument& i) { i.Identity.Description = " \t"; }).find("popis"),
              std::string::npos);
    EXPECT_NE(problem([](Instrument& i) { i.Identity.SerialNumber.clear(); }).find("výrobní"),
              std::string::npos);
    for (const double u : {0.0, -0.01, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity()}) {
        EXPECT_NE(problem([u](Instrument& i) { i.Expanded = u; }).find("nejistota"),
                  std::string::npos)
            << u;
    }
    EXPECT_NE(problem([](Instrument& i) { i.Due = Day(2024, 2, 29); }).find("dříve"),
              std::string::npos);
    EXPECT_NE(problem([](Instrument& i) { i.Due = Day(2025, 2, 30); }).find("datum"),
              std::string::npos);

    const std::string question = OverdueQuestion(good);
    EXPECT_NE(question.find("Pt100 reference"), std::string::npos) << question;
    EXPECT_NE(question.find("12345"), std::string::npos) << question;
    EXPECT_NE(question.find("1. 3. 2025"), std::string::npos) << question;
}

TEST(RecordStamp, CopiesTheInstrumentInUseAndTheEnvironment) {
    StationSettings settings;
    settings.Reference = {"typed by hand", "1", "2"};
    settings.AmbientTemperature = 23.1;
    settings.AmbientHumidity = 41;
    const Date today = LocalToday();
    const Instrument inTime = Pt100("5f0c3e2a-8d1b-4c6e-9f7a-2b3c4d5e6f70", Day(2020, 1, 1), today);
    CalibrationRecord record;
    StampRecord(record, settings, "2.0", inTime);
    EXPECT_EQ(record.Reference, inTime.Identity);
    ASSERT_TRUE(record.ReferenceUsed);
    EXPECT_EQ(*record.ReferenceUsed,
              (ReferenceSnapshot{inTime.Uuid, 0.02, Day(2020, 1, 1), today, false}));
    EXPECT_EQ(LocalDate(record.TimeUtcMs, record.UtcOffsetSeconds), today);
    EXPECT_EQ(record.AmbientTemperature, 23.1);
    EXPECT_EQ(record.AmbientHumidity, 41);

    Instrument late = inTime;
    late.Due = Date(sys_days(today) - days(1));
    StampRecord(record, settings, "2.0", late);
    EXPECT_TRUE(record.ReferenceUsed->Overdue);

    // Without an instrument the hand-typed reference, and no snapshot left
    // over from a stamp before.
    settings.AmbientHumidity.reset();
    StampRecord(record, settings, "2.0");
    EXPECT_EQ(record.Reference, settings.Reference);
    EXPECT_EQ(record.ReferenceUsed, std::nullopt);
    EXPECT_EQ(record.AmbientHumidity, std::nullopt);
}

TEST(StationSettings, PickTheReferenceAndKeepTheConditions) {
    const StationSettings settings =
        ParseStationSettings("ReferenceInUse=5f0c3e2a-8d1b-4c6e-9f7a-2b3c4d5e6f70\n"
                             "AmbientTemperature= 23,5 \n"
                             "ambienthumidity=41.25\n"
                             "Tolerance=0.1\n");
    EXPECT_EQ(settings.ReferenceInUse, "5f0c3e2a-8d1b-4c6e-9f7a-2b3c4d5e6f70");
    EXPECT_EQ(settings.AmbientTemperature, 23.5);
    EXPECT_EQ(settings.AmbientHumidity, 41.25);
    EXPECT_EQ(settings.Tolerance, 0.1);
    EXPECT_TRUE(settings.Other.empty());
    const std::string text = FormatStationSettings(settings);
    EXPECT_NE(text.find("AmbientTemperature=23.5\n"), std::string::npos) << text;
    EXPECT_EQ(ParseStationSettings(text), settings);

    // What is no number stays in the file as typed and counts as not given.
    const StationSettings typed = ParseStationSettings("Tolerance=0,1 °C\nAmbientHumidity=inf\n");
    EXPECT_EQ(typed.Tolerance, std::nullopt);
    EXPECT_EQ(typed.AmbientHumidity, std::nullopt);
    EXPECT_EQ(typed.Other.size(), 2u);
    EXPECT_EQ(ParseStationSettings(FormatStationSettings(typed)), typed);

    for (const char* number : {"-0,5", " 1e3", "12.", ".5"}) {
        EXPECT_TRUE(ParseDecimal(number)) << number;
    }
    for (const char* text : {"", "+1", "1,2,3", "12 °C", "nan", "1e999"}) {
        EXPECT_EQ(ParseDecimal(text), std::nullopt) << text;
    }
}

class InstrumentStore : public ::testing::TestWithParam<Engine> {
protected:
    test::ScratchDirectory scratch_;
    DatabasePlace place_ = test::FreshPlace(GetParam(), scratch_);
    RecordDatabase database_{place_};

    void SetUp() override { ASSERT_TRUE(database_.Open()) << database_.LastError().toStdString(); }
};

TEST_P(InstrumentStore, InstrumentsAreAddedAndRetiredButNeverChangedOrDeleted) {
    test::Random random(5);
    std::vector<Instrument> added;
    for (int i = 0; i < 4; ++i) {
        Instrument instrument =
            Pt100(test::RandomUuid(random), Day(2024, 1, 10 + i), Day(2025, 1, 10 + i));
        instrument.Identity.Description = test::AwkwardText(random) + "x";
        instrument.Identity.SerialNumber = "SN " + std::to_string(i);
        instrument.Expanded = 0.015 + i / 1000.0;
        ASSERT_TRUE(database_.AddInstrument(instrument)) << database_.LastError().toStdString();
        added.push_back(instrument);
    }
    EXPECT_EQ(database_.Instruments(), added);

    // Refused: a problem, a UUID taken.
    Instrument wrong = added[0];
    wrong.Uuid = test::RandomUuid(random);
    wrong.Expanded = 0;
    EXPECT_FALSE(database_.AddInstrument(wrong));
    EXPECT_TRUE(database_.LastError().contains(QStringLiteral("nejistota")));
    EXPECT_FALSE(database_.AddInstrument(added[1]));

    ASSERT_TRUE(database_.RetireInstrument(added[2].Uuid));
    ASSERT_TRUE(database_.RetireInstrument(added[2].Uuid));
    added[2].Retired = true;
    EXPECT_EQ(database_.Instruments(), added);

    test::RawConnection raw(place_);
    const QString uuid = QString::fromStdString(added[1].Uuid);
    for (const QString& sql :
         {"UPDATE reference_instrument SET description = 'changed' WHERE uuid = '" + uuid + "'",
          "UPDATE reference_instrument SET due_on = '2030-01-01' WHERE uuid = '" + uuid + "'",
          "DELETE FROM reference_instrument WHERE uuid = '" + uuid + "'",
          QStringLiteral(
              "UPDATE reference_instrument SET retired_at = NULL WHERE retired_at IS NOT NULL")}) {
        EXPECT_FALSE(raw.Exec(sql)) << sql.toStdString();
    }
    EXPECT_EQ(database_.Instruments(), added);
}

TEST_P(InstrumentStore, ARecordKeepsItsNumberAndEachStationCountsOnItsOwn) {
    test::Random random(8);
    const std::string first = test::RandomUuid(random);
    const std::string second = test::RandomUuid(random);
    const auto one = database_.IssueCertificate(first, "kalibrace-1", 0, Queue::No);
    ASSERT_TRUE(one) << database_.LastError().toStdString();
    EXPECT_EQ(one->Number, "kalibrace-1/00001");
    EXPECT_EQ(one->Sequence, 1);
    EXPECT_EQ(one->RecordUuid, first);
    // Again, even for another station and a higher floor: the same number.
    EXPECT_EQ(database_.IssueCertificate(first, "kalibrace-2", 40, Queue::No), one);
    const auto two = database_.IssueCertificate(second, "kalibrace-1", 0, Queue::No);
    ASSERT_TRUE(two);
    EXPECT_EQ(two->Number, "kalibrace-1/00002");
    // Another station starts its own count; a floor from elsewhere lifts it.
    EXPECT_EQ(
        database_.IssueCertificate(test::RandomUuid(random), "kalibrace-2", 0, Queue::No)->Number,
        "kalibrace-2/00001");
    EXPECT_EQ(
        database_.IssueCertificate(test::RandomUuid(random), "kalibrace-1", 7, Queue::No)->Sequence,
        8);
    EXPECT_EQ(database_.LastCertificateSequence("kalibrace-1"), 8);
    EXPECT_EQ(database_.CertificatesOf(second), (std::vector<IssuedCertificate>{*two}));
    EXPECT_EQ(database_.ReadCertificates({one->Uuid, "no-uuid"}),
              (std::vector<IssuedCertificate>{*one}));

    // A number given elsewhere, stored twice, is kept once and is the one
    // the record has here from then on.
    IssuedCertificate elsewhere{test::RandomUuid(random), "kalibrace-3/00005", "kalibrace-3", 5,
                                test::RandomUuid(random), 1'709'300'000'000};
    ASSERT_TRUE(database_.StoreCertificates({elsewhere, elsewhere}, Queue::No));
    EXPECT_EQ(database_.IssueCertificate(elsewhere.RecordUuid, "kalibrace-1", 0, Queue::No),
              elsewhere);

    test::RawConnection raw(place_);
    EXPECT_FALSE(raw.Exec("UPDATE certificate SET sequence = 99"));
    EXPECT_FALSE(raw.Exec("DELETE FROM certificate"));
    EXPECT_EQ(raw.Value("SELECT count(*) FROM certificate"), "5");
}

// Four threads, each with its own connection (as four programs on one file
// or one server), give numbers for the same and for different records.
TEST_P(InstrumentStore, ProgramsGivingNumbersAtOnceNeverShareOne) {
    test::Random random(13);
    std::vector<std::string> records;
    for (int i = 0; i < 24; ++i) {
        records.push_back(test::RandomUuid(random));
    }
    std::vector<std::map<std::string, std::string>> seen(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            RecordDatabase database(place_);
            for (std::size_t k = 0; k < records.size(); ++k) {
                const std::string& record = records[(k + 6 * t) % records.size()];
                const auto issued = database.IssueCertificate(record, "kalibrace-1", 0, Queue::No);
                seen[t][record] = issued ? issued->Number : database.LastError().toStdString();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::set<std::string> numbers;
    for (const std::string& record : records) {
        for (int t = 1; t < 4; ++t) {
            EXPECT_EQ(seen[t][record], seen[0][record]);
        }
        numbers.insert(seen[0][record]);
    }
    EXPECT_EQ(numbers.size(), records.size());
    EXPECT_EQ(*numbers.rbegin(), "kalibrace-1/00024");
}

INSTANTIATE_TEST_SUITE_P(Engines, InstrumentStore,
                         ::testing::Values(Engine::Sqlite, Engine::Postgres), test::EngineName);

} // namespace
} // namespace zorm
