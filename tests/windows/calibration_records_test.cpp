// The records the calibration window's commit leaves in a real SQLite file:
// one per sensor the commit brings and none twice, over random sequences of
// fits, abandoned collections, commits and new openings; each against the
// data/ functions of its points and of the calibration in force before; a
// file the data folder refuses; and a restored record committed again. Each
// point keeps the stability the assistant saw it taken with; a restored one
// has none.
#include "data/fit_statistics.h"
#include "data/number_text.h"
#include "records/record_stamp.h"
#include "records/station_settings.h"
#include "tests/support/commit_record_check.h"
#include "tests/support/instruments.h"
#include "tests/windows/calibration_fixture.h"
#include "tests/windows/records_fixture.h"

#include <QLabel>

#include <cstdio>
#include <map>
#include <random>
#include <set>

namespace zorm {
namespace {

using namespace test;

// The points as the operator collects them, and as the window stores them.
struct Collection {
    std::vector<std::string> Texts;
    std::vector<CalibrationPoint> Stored;
};

Collection RandomCollection(std::mt19937& random) {
    Collection c;
    const int n = 4 + static_cast<int>(random() % 5);
    for (int k = 0; k < n; ++k) {
        const auto raw = static_cast<std::int32_t>(5000 + 6000 * k + random() % 1000);
        char text[32];
        std::snprintf(text, sizeof text, "%.2f",
                      -20.0 + 0.004 * raw + static_cast<double>(random() % 200) / 1000);
        c.Texts.push_back(Local(text).toStdString());
        c.Stored.push_back({raw, *ParseTemperature(c.Texts.back(), Sep())});
    }
    return c;
}

class CommitRecords : public CalibrationWindow {
protected:
    RecordsOnDisk records;

    void SetUp() override {
        CalibrationWindow::SetUp();
        StationSettings station;
        station.Operator = "Jana Nováková";
        station.Reference = {"Pt100", "12345", "K-2024/117"};
        station.Tags[{1, 1}] = "TT-101";
        ASSERT_TRUE(SaveStationSettings(station));
        context.DeviceType = "ZORM5816A";
        context.DeviceSettings.PortNumber = 1;
    }

    void OpenWithRecords() {
        Open();
        window->SetRecords(&records.keeper);
    }

    // Collects the points on the sensor selected and fits them.
    void Fit(int s, const Collection& points) {
        Select(s);
        // Not Collect(): these texts carry the regional separator already.
        window->Button1Click();
        for (std::size_t k = 0; k < points.Stored.size(); ++k) {
            Tick(s, points.Stored[k].Raw);
            Enter(QString::fromStdString(points.Texts[k]));
        }
        window->BitBtn6Click();
        ASSERT_TRUE(Shown("BitBtn3"));
    }

    // A record of `sensor` as a commit of `points` over the calibration in
    // force `before` must leave it, stamped by this station.
    static void ExpectRecord(const CalibrationRecord& r, int sensor,
                             const std::vector<CalibrationPoint>& points, const Cubic& before) {
        EXPECT_EQ(r.ConverterType, "ZORM5816A");
        EXPECT_EQ(r.Port, 1);
        EXPECT_EQ(r.Address, 1);
        EXPECT_EQ(r.Tag, std::optional<std::string>("TT-101"));
        EXPECT_EQ(r.Operator, "Jana Nováková");
        EXPECT_EQ(r.Reference, (ReferenceInstrument{"Pt100", "12345", "K-2024/117"}));
        EXPECT_EQ(r.ProgramVersion, "test");
        ExpectCommitRecord(r, sensor, points, before);
    }

    // Each point of `r` keeps what the assistant judged when "Zapiš teplotu"
    // took it in this opening.
    void ExpectStabilities(const CalibrationRecord& r) {
        for (std::size_t k = 0; k < r.Points.size(); ++k) {
            const std::optional<PointStability>& taken =
                window->StabilityAtPoint(r.Sensor, static_cast<int>(k) + 1);
            EXPECT_TRUE(taken && SameStability(r.Points[k].Stability, taken)) << k;
        }
    }

    // The records written since the first `known` ones, by sensor.
    std::map<int, CalibrationRecord> NewRecords(std::size_t known) {
        std::map<int, CalibrationRecord> bySensor;
        const std::vector<RecordDetails> all = records.All();
        for (std::size_t i = known; i < all.size(); ++i) {
            EXPECT_TRUE(bySensor.emplace(all[i].Written.Sensor, all[i].Written).second)
                << "two records of sensor " << all[i].Written.Sensor << " in one commit";
        }
        return bySensor;
    }
};

// A model of the window: what was fitted since the opening, what since the
// last commit, and the calibration in force. Each commit must add exactly
// the records of the sensors fitted since the last one.
TEST_F(CommitRecords, OneRecordPerSensorACommitBringsOverRandomSequences) {
    std::mt19937 random(17);
    context.UserParams = CalibratedSet(2, 5);
    std::map<int, Cubic> inForce;
    for (int s = 1; s <= 3; ++s) {
        inForce[s] = CubicOf(context.UserParams.Coefficients, s);
    }
    std::map<int, std::vector<CalibrationPoint>> fitted;
    std::set<int> unsaved;
    std::size_t known = 0;
    int commits = 0;
    OpenWithRecords();
    for (int step = 0; step < 90; ++step) {
        SCOPED_TRACE(step);
        const int s = static_cast<int>(random() % 3) + 1;
        switch (random() % 6) {
        case 0:
        case 1: {
            const Collection points = RandomCollection(random);
            Fit(s, points);
            fitted[s] = points.Stored;
            unsaved.insert(s);
            break;
        }
        case 2: // a collection started and left
            Select(s);
            window->Button1Click();
            fitted.erase(s);
            unsaved.erase(s);
            break;
        case 3:
        case 4: {
            ASSERT_EQ(Shown("BitBtn3"), !unsaved.empty());
            // Pressed also when hidden: a commit without a new fit.
            window->BitBtn3Click();
            const std::map<int, CalibrationRecord> added = NewRecords(known);
            ASSERT_EQ(added.size(), unsaved.size());
            for (const int sensor : unsaved) {
                SCOPED_TRACE(sensor);
                ASSERT_TRUE(added.contains(sensor));
                ExpectRecord(added.at(sensor), sensor, fitted.at(sensor), inForce.at(sensor));
                ExpectStabilities(added.at(sensor));
            }
            for (const auto& [sensor, points] : fitted) {
                inForce[sensor] = *FitCubic(points);
            }
            known += added.size();
            commits += unsaved.empty() ? 0 : 1;
            unsaved.clear();
            break;
        }
        case 5: // closed and opened again
            OpenWithRecords();
            fitted.clear();
            unsaved.clear();
            break;
        }
    }
    EXPECT_GE(commits, 10);
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(records.keeper.Waiting(), 0U);
}

// The data folder refuses the record file (a folder stands where it would
// be): the box says so, Parametry.par is saved all the same, and the record
// goes into the file with the next commit, together with that commit's own.
TEST_F(CommitRecords, ARefusedFileGivesABoxAndTheRecordComesWithTheNextCommit) {
    std::mt19937 random(3);
    const Collection first = RandomCollection(random);
    const Collection second = RandomCollection(random);
    fs::create_directory(HistoryFileName);
    OpenWithRecords();
    Fit(1, first);
    window->BitBtn3Click();
    ASSERT_EQ(boxes.Shown.size(), 1U);
    EXPECT_EQ(boxes.Shown[0].Kind, BoxKind::Error);
    EXPECT_TRUE(boxes.Shown[0].Text.startsWith(
        "Kalibrační záznam se nepodařilo uložit (čekajících záznamů: 1)"))
        << boxes.Shown[0].Text.toStdString();
    EXPECT_EQ(StoredUserSet(), context.UserParams.ToBytes());
    EXPECT_EQ(context.UserParams.Calibrated(1), 1);
    EXPECT_EQ(records.keeper.Waiting(), 1U);
    boxes.Shown.clear();

    fs::remove(HistoryFileName);
    Fit(2, second);
    window->BitBtn3Click();
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(records.keeper.Waiting(), 0U);
    const std::map<int, CalibrationRecord> written = NewRecords(0);
    ASSERT_EQ(written.size(), 2U);
    ExpectRecord(written.at(1), 1, first.Stored, Cubic{});
    ExpectRecord(written.at(2), 2, second.Stored, Cubic{});
    EXPECT_LE(written.at(1).TimeUtcMs, written.at(2).TimeUtcMs); // stamped at its own commit
}

// A record restored into the working copy is listed as a fit and committed
// as one; its commit's record names it, a collection in between does not.
TEST_F(CommitRecords, ARestoredCalibrationIsCommittedAndItsRecordNamesTheRestoredOne) {
    std::mt19937 random(5);
    const Collection older = RandomCollection(random);
    const Collection newer = RandomCollection(random);
    OpenWithRecords();
    Fit(3, older);
    window->BitBtn3Click();
    Fit(3, newer);
    window->BitBtn3Click();
    const std::vector<RecordDetails> before = records.All();
    ASSERT_EQ(before.size(), 2U);
    const CalibrationRecord restored = before[0].Written;
    const Cubic newerCubic = CubicOf(context.UserParams.Coefficients, 3);

    window = std::make_unique<TKalibrace>(context, link, boxes, modal);
    window->SetRecords(&records.keeper);
    window->ObnovZeZaznamu(restored);
    window->FormActivate();
    EXPECT_EQ(context.CalibSensor, 3);
    EXPECT_TRUE(Control<QRadioButton>("RadioGroup1Item3")->isChecked());
    EXPECT_EQ(CubicBits(CubicOf(context.WorkParams.Coefficients, 3)), CubicBits(restored.AsLeft));
    std::vector<CalibrationPoint> inSlots = older.Stored;
    inSlots.resize(30);
    EXPECT_EQ(PointsOf(context.WorkParams, 3, 30), inSlots);
    EXPECT_EQ(context.WorkParams.Count(3), older.Stored.size());
    EXPECT_EQ(Row("Memo2", 1), QString::number(older.Stored[0].Raw));
    EXPECT_TRUE(Shown("Memo3") && Shown("Label8") && Shown("BitBtn3"));
    EXPECT_EQ(Text("VysPolynom").toStdString(), PolynomialLine(restored.AsLeft, Sep()));
    EXPECT_TRUE(Text("Label4").startsWith("Obnoveno ze záznamu z "));
    EXPECT_EQ(CubicBits(CubicOf(context.UserParams.Coefficients, 3)), CubicBits(newerCubic));

    window->BitBtn3Click();
    std::map<int, CalibrationRecord> added = NewRecords(2);
    ASSERT_EQ(added.size(), 1U);
    EXPECT_EQ(added.at(3).RestoredFrom, std::optional<std::string>(restored.Uuid));
    ExpectRecord(added.at(3), 3, older.Stored, newerCubic);
    EXPECT_EQ(CubicBits(CubicOf(context.UserParams.Coefficients, 3)), CubicBits(restored.AsLeft));

    window->ObnovZeZaznamu(before[1].Written); // in the open window
    Fit(3, newer);
    window->BitBtn3Click();
    added = NewRecords(3);
    ASSERT_EQ(added.size(), 1U);
    EXPECT_EQ(added.at(3).RestoredFrom, std::nullopt);
    ExpectStabilities(added.at(3));

    // Restored over points taken in this opening, whose stabilities the
    // assistant still holds: the restored points were taken otherwise.
    ASSERT_TRUE(restored.Points[0].Stability);
    window->ObnovZeZaznamu(restored);
    window->BitBtn3Click();
    added = NewRecords(4);
    ASSERT_EQ(added.size(), 1U);
    EXPECT_EQ(added.at(3).RestoredFrom, std::optional<std::string>(restored.Uuid));
    EXPECT_TRUE(window->StabilityAtPoint(3, 1));
    for (const RecordPoint& point : added.at(3).Points) {
        EXPECT_FALSE(point.Stability);
    }
    EXPECT_TRUE(boxes.Shown.empty());
}

// With a reference in use past its due date the commit asks first: No
// leaves Parametry.par, the user set and the record file as they were and
// the fit still offered; Yes commits, and the record keeps the instrument
// with its dates and notes it overdue. An instrument due today is not asked
// about.
TEST_F(CommitRecords, AnOverdueReferenceIsAskedAboutBeforeTheCommit) {
    const Date today = LocalToday();
    const Instrument late = InstrumentDueIn(-1, "Pt100 B");
    ASSERT_TRUE(records.history.AddInstrument(late));
    StationSettings station = LoadStationSettings();
    station.ReferenceInUse = late.Uuid;
    ASSERT_TRUE(SaveStationSettings(station));
    std::mt19937 random(11);
    const Collection points = RandomCollection(random);
    SaveParameters(context);
    const SensorParamSet::Image stored = StoredUserSet();
    OpenWithRecords();
    Fit(2, points);
    // The assistant's U takes the U of the instrument in use.
    const auto u =
        EstimateUncertainty(points.Stored, CubicOf(context.WorkParams.Coefficients, 2), 0.03);
    ASSERT_TRUE(u);
    EXPECT_EQ(window->findChild<QLabel*>("FitU")->text(),
              "U = " + QString::fromStdString(UncertaintyText(u->Stated, Sep())) +
                  " °C (k = 2, reference " + QString::fromStdString(general(0.03, 3, Sep())) +
                  " °C)");

    boxes.Answers = {BoxAnswer::No};
    window->BitBtn3Click();
    ASSERT_EQ(boxes.Shown.size(), 1U);
    EXPECT_EQ(boxes.Shown[0].Kind, BoxKind::Warning);
    EXPECT_TRUE(boxes.Shown[0].Text.contains("Pt100 B"));
    EXPECT_EQ(StoredUserSet(), stored);
    EXPECT_EQ(context.UserParams.Calibrated(2), 0);
    EXPECT_TRUE(records.All().empty());
    EXPECT_TRUE(Shown("BitBtn3"));

    boxes.Answers = {BoxAnswer::Yes};
    window->BitBtn3Click();
    EXPECT_EQ(boxes.Shown.size(), 2U);
    EXPECT_EQ(context.UserParams.Calibrated(2), 1);
    std::map<int, CalibrationRecord> added = NewRecords(0);
    ASSERT_EQ(added.size(), 1U);
    const CalibrationRecord& record = added.at(2);
    EXPECT_EQ(record.Reference, late.Identity);
    ASSERT_TRUE(record.ReferenceUsed);
    EXPECT_EQ(*record.ReferenceUsed, SnapshotOf(late, today));
    EXPECT_TRUE(record.ReferenceUsed->Overdue);

    const Instrument dueToday = InstrumentDueIn(0, "Pt100 C");
    ASSERT_TRUE(records.history.AddInstrument(dueToday));
    station.ReferenceInUse = dueToday.Uuid;
    ASSERT_TRUE(SaveStationSettings(station));
    Fit(2, points);
    window->BitBtn3Click();
    EXPECT_EQ(boxes.Shown.size(), 2U);
    added = NewRecords(1);
    ASSERT_EQ(added.size(), 1U);
    ASSERT_TRUE(added.at(2).ReferenceUsed);
    EXPECT_FALSE(added.at(2).ReferenceUsed->Overdue);
    EXPECT_EQ(added.at(2).ReferenceUsed->InstrumentUuid, dueToday.Uuid);
}

} // namespace
} // namespace zorm
