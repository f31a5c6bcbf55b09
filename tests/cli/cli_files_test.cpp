// The commands over the files of the data folder: fit against the window's
// own fit on many point sets, its commit byte for byte, export, ports, and
// the failures that must leave every file as it was.
#include "tests/cli/cli_fixture.h"

#include "cli/session.h"
#include "data/calibration.h"
#include "data/number_text.h"
#include "records/record_database.h"
#include "records/record_stamp.h"
#include "tests/support/commit_record_check.h"
#include "tests/support/instruments.h"
#include "tests/support/pg_cluster.h"

#include <QCoreApplication>

#include <QJsonArray>

#include <bit>
#include <cstdio>
#include <cstring>
#include <random>

namespace zorm {
namespace {

using test::CliResult;
using test::CliTest;
using test::FileBytes;

struct Point {
    std::int32_t Raw;
    float TrueTemp;
};

std::uint64_t Bits(double v) {
    return std::bit_cast<std::uint64_t>(v);
}

// The points as a points file: each temperature with enough digits to give
// back the same single, and the decimal separator given.
std::string PointsText(const std::vector<Point>& points, char sep) {
    std::string text = "# raw;true\r\n";
    for (const Point& p : points) {
        char number[32];
        std::snprintf(number, sizeof number, "%.9g", static_cast<double>(p.TrueTemp));
        std::string t = number;
        std::replace(t.begin(), t.end(), '.', sep);
        text += std::to_string(p.Raw) + " ; " + t + "\r\n";
    }
    return text;
}

class Fit : public CliTest {
protected:
    // The points file can be read by anyone (ReadOnlyFolder runs as
    // nobody).
    Fit() {
        std::filesystem::permissions(elsewhere.Path(),
                                     std::filesystem::perms::group_exec |
                                         std::filesystem::perms::others_exec,
                                     std::filesystem::perm_options::add);
    }

    CliResult RunFit(const std::vector<Point>& points, int sensor, std::vector<std::string> more,
                     char sep = '.') {
        std::ofstream(pointsFile, std::ios::binary) << PointsText(points, sep);
        std::vector<std::string> args{"fit", "--sensor", std::to_string(sensor), "--points",
                                      pointsFile.string()};
        args.insert(args.end(), more.begin(), more.end());
        return Run(args);
    }

    // The records of the data folder's Historie.sqlite, read as the window
    // program reads them.
    std::vector<RecordDetails> Records() const {
        int argc = 1;
        char name[] = "cli_tests";
        char* argv[] = {name, nullptr};
        const QCoreApplication application(argc, argv);
        RecordDatabase database(
            DatabasePlace::LocalFile(QString::fromStdString((Data() / HistoryFileName).string())));
        std::vector<std::string> uuids;
        for (const RecordSummary& row : database.List({}).value_or(std::vector<RecordSummary>{})) {
            uuids.push_back(row.Uuid);
        }
        return database.Read(uuids).value_or(std::vector<RecordDetails>{});
    }
    CalibrationRecord FirstRecord() const {
        const std::vector<RecordDetails> records = Records();
        EXPECT_EQ(records.size(), 1U);
        return records.empty() ? CalibrationRecord{} : records.front().Written;
    }

    test::ScratchDirectory elsewhere;
    const std::filesystem::path pointsFile = elsewhere.Path() / "points.csv";
};

// The window's fit (FitCubic over the working copy) and its report for the
// same points, against what the command reports: every coefficient to the
// bit, the polynomial line and every row.
TEST_F(Fit, CoefficientBitsAndReportAreTheWindowsOnRandomPointSets) {
    std::mt19937_64 rng(5816);
    std::uniform_int_distribution<int> count(4, 29);
    std::uniform_int_distribution<std::int32_t> raw(0, 99999);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    int fitted = 0;
    int singular = 0;
    for (int i = 0; i < 300 && !HasFailure(); ++i) {
        const int n = count(rng);
        const int sensor = 1 + i % 3;
        std::vector<Point> points;
        for (int k = 0; k < n; ++k) {
            // A curve like a sensor's; every seventh set has all its readings
            // at two values, which leaves the system singular or nearly so.
            const std::int32_t x = i % 7 == 0 ? 50000 + (k % 2) * (i % 3) : raw(rng);
            const double t = 2e-15 * x * x * x + 1.1e-9 * x * x + 0.0103 * x - 221.7;
            points.push_back({x, static_cast<float>(t + 0.05 * unit(rng))});
        }
        SensorParamSet window;
        for (int k = 1; k <= n; ++k) {
            window.Raw(sensor, k) = points[k - 1].Raw;
            window.TrueTemp(sensor, k) = points[k - 1].TrueTemp;
        }
        const std::optional<Cubic> want = FitCubic(window, sensor, n);
        const char sep = i % 2 == 0 ? '.' : ',';
        environment.DecimalSeparator = sep;
        const CliResult result = RunFit(points, sensor, {"--json"}, sep);
        SCOPED_TRACE(PointsText(points, sep));
        if (!want) {
            ++singular;
            EXPECT_EQ(result.Status, cli::FileFailed);
            EXPECT_NE(result.Json["error"].toString().indexOf("no fit"), -1);
            continue;
        }
        ++fitted;
        ASSERT_EQ(result.Status, 0) << result.Err;
        const QJsonObject c = result.Json["coefficients"].toObject();
        EXPECT_EQ(Bits(c["A3"].toDouble()), Bits(want->A3));
        EXPECT_EQ(Bits(c["A2"].toDouble()), Bits(want->A2));
        EXPECT_EQ(Bits(c["A1"].toDouble()), Bits(want->A1));
        EXPECT_EQ(Bits(c["A0"].toDouble()), Bits(want->A0));
        EXPECT_EQ(result.Json["polynomial"].toString().toStdString(), PolynomialLine(*want, sep));
        window.Coefficients.A3(sensor) = want->A3;
        window.Coefficients.A2(sensor) = want->A2;
        window.Coefficients.A1(sensor) = want->A1;
        window.Coefficients.A0(sensor) = want->A0;
        const FitReport report = MakeFitReport(window, sensor, n, sep);
        const QJsonArray rows = result.Json["rows"].toArray();
        ASSERT_EQ(rows.size(), n);
        for (int k = 0; k < n; ++k) {
            const QJsonObject row = rows[k].toObject();
            EXPECT_EQ(row["raw"].toInt(), points[k].Raw);
            EXPECT_EQ(row["true"].toDouble(), double{points[k].TrueTemp});
            EXPECT_EQ(row["fitted"].toString().toStdString(), report.Rows[k].Fitted);
            EXPECT_EQ(row["deviation"].toString().toStdString(), report.Rows[k].Deviation);
        }
        EXPECT_EQ(result.Json["max_deviation"].toString().toStdString(), report.MaxDeviation);
        EXPECT_FALSE(result.Json["committed"].toBool());
    }
    EXPECT_GT(fitted, 200);
    EXPECT_GT(singular, 0);
    EXPECT_TRUE(Files().empty()); // a fit alone writes nothing
}

TEST_F(Fit, TextReportAsTheCalibrationWindowShowsIt) {
    environment.DecimalSeparator = ',';
    const CliResult result = RunFit({{0, 1}, {1, 2}, {2, 9}, {3, 28}}, 2, {}, ',');
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(result.Out, "Výsledný polynom\n"
                          "y = 1*x^3 + 0*x^2 + 0*x + 1\n"
                          "Měřená hodnota [bit]\tSkutečná teplota [°C]\tVypočítaná teplota "
                          "[°C]\tOdchylka [°C]\n"
                          "0\t1,00\t1,000\t0,000\n"
                          "1\t2,00\t2,000\t0,000\n"
                          "2\t9,00\t9,000\t0,000\n"
                          "3\t28,00\t28,000\t0,000\n"
                          "Max.odchylka: 0,0000\n");
}

// The commit puts the sensor's points, Count, coefficients and Calibrated
// into the user set; every other byte of Parametry.par stays as it was.
TEST_F(Fit, CommitChangesOnlyTheFittedSensorOfTheUserSet) {
    std::mt19937 rng(1653);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::vector<Point> points{
        {12000, -20.15f}, {21500, 21.5f}, {30000, 80.25f}, {45000, 150.5f}, {60000, 260.0f}};
    for (int sensor = 1; sensor <= 3; ++sensor) {
        SCOPED_TRACE(sensor);
        std::string before(ParametersFileSize, '\0');
        for (char& b : before) {
            b = static_cast<char>(byte(rng));
        }
        std::ofstream(Data() / "Parametry.par", std::ios::binary) << before;
        const CliResult result = RunFit(points, sensor, {"--commit", "--json"});
        ASSERT_EQ(result.Status, 0) << result.Err;
        EXPECT_TRUE(result.Json["committed"].toBool());

        // The expected file: the old bytes with the sensor's fields of the
        // user set (the block at 5) replaced, offsets as in the file format.
        std::string want = before;
        const auto put = [&want](std::size_t offset, const auto& value) {
            std::memcpy(want.data() + 5 + offset, &value, sizeof value);
        };
        for (int k = 1; k <= 30; ++k) {
            const bool used = k <= static_cast<int>(points.size());
            put(120 * (sensor - 1) + 4 * (k - 1), used ? points[k - 1].TrueTemp : 0.0f);
            put(360 + 120 * (sensor - 1) + 4 * (k - 1), used ? points[k - 1].Raw : 0);
        }
        const QJsonObject c = result.Json["coefficients"].toObject();
        put(720 + 8 * (sensor - 1), c["A3"].toDouble());
        put(744 + 8 * (sensor - 1), c["A2"].toDouble());
        put(768 + 8 * (sensor - 1), c["A1"].toDouble());
        put(792 + 8 * (sensor - 1), c["A0"].toDouble());
        put(816 + (sensor - 1), std::uint8_t{5});
        put(819 + (sensor - 1), std::uint8_t{1});
        EXPECT_TRUE(FileBytes(Data() / "Parametry.par") == want);
    }
}

TEST_F(Fit, CommitWithoutParametersMakesTheFileOfAFirstStart) {
    const CliResult result = RunFit({{0, 1}, {1, 2}, {2, 9}, {3, 28}}, 1, {"--commit"});
    ASSERT_EQ(result.Status, 0) << result.Err;
    EXPECT_NE(result.Out.find(", user set, sensor 1\n-> "), std::string::npos);
    EXPECT_TRUE(result.Out.ends_with(", calibration record " + FirstRecord().Uuid + "\n"));
    Context context;
    {
        const test::WorkingDirectory inside(Data());
        ASSERT_TRUE(LoadParameters(context));
    }
    EXPECT_EQ(context.DeviceSettings, (DeviceSettings{1, 0, 1, 1, 0}));
    EXPECT_EQ(CubicOf(context.UserParams.Coefficients, 1), (Cubic{1, 0, 0, 1}));
    EXPECT_EQ(context.UserParams.Count(1), 4);
    EXPECT_EQ(context.FactoryParams, SensorParamSet{});
}

// Points that give no fit, a points file that cannot be read or is wrong,
// a damaged Parametry.par or a folder that takes nothing: status 3, and
// every file stays as it was.
TEST_F(Fit, FailuresLeaveEveryFileAsItWas) {
    Context context;
    context.UserParams.Coefficients.A0(2) = 42;
    SaveParameters(context);
    const auto before = Files();
    const std::vector<Point> good{{0, 1}, {1, 2}, {2, 9}, {3, 28}};

    const CliResult singular = RunFit({{100, 1}, {100, 2}, {100, 3}, {100, 4}}, 2, {"--commit"});
    EXPECT_EQ(singular.Status, cli::FileFailed);
    EXPECT_EQ(singular.Out, "");
    EXPECT_NE(singular.Err.find("the points give no fit"), std::string::npos);

    for (const auto& [text, error] : std::vector<std::pair<std::string, std::string>>{
             {"0;1\n1;2\n2;9\n", "3 points; a fit takes 4 to 29"},
             {"0;1\n1;2\n\n2;x\n3;28\n", "line 4: the temperature 'x' is no number"},
             {"0;1\n-1;2\n2;9\n3;28\n", "line 2: the raw reading '-1' is no whole number"},
             {"0;1;2\n", "line 1: expected a raw reading and a temperature separated by ';'"}}) {
        std::ofstream(pointsFile, std::ios::binary) << text;
        const CliResult result =
            Run({"fit", "--sensor", "1", "--points", pointsFile.string(), "--commit", "--json"});
        EXPECT_EQ(result.Status, cli::FileFailed) << text;
        EXPECT_NE(result.Json["error"].toString().toStdString().find(error), std::string::npos)
            << result.Json["error"].toString().toStdString();
    }
    const CliResult missing =
        Run({"fit", "--sensor", "1", "--points", (Data() / "none.csv").string()});
    EXPECT_EQ(missing.Status, cli::FileFailed);
    EXPECT_EQ(Files(), before);

    std::ofstream(pointsFile, std::ios::binary) << PointsText(good, '.');
    {
        const test::ReadOnlyFolder readOnly(Data());
        const CliResult unwritable =
            Run({"fit", "--sensor", "1", "--points", pointsFile.string(), "--commit", "--json"});
        EXPECT_EQ(unwritable.Status, cli::FileFailed);
        EXPECT_FALSE(unwritable.Json["committed"].toBool());
        EXPECT_NE(unwritable.Json["error"].toString().indexOf("cannot write"), -1)
            << unwritable.Err;
    }
    EXPECT_EQ(Files(), before);

    std::ofstream(Data() / "Parametry.par", std::ios::binary | std::ios::app) << "x";
    const CliResult damaged = RunFit(good, 1, {"--commit"});
    EXPECT_EQ(damaged.Status, cli::FileFailed);
    EXPECT_NE(damaged.Err.find("is damaged: 1654 bytes"), std::string::npos);
    EXPECT_EQ(FileBytes(Data() / "Parametry.par"), before.at("Parametry.par") + "x");
}

// The record of a commit: the values the data/ functions give for its
// points and the calibration in force before, the station's operator and
// reference, the converter of Parametry.par or of --port and --address
// with its tag; a record file the folder refuses fails with status 3 after
// Parametry.par took the fit.
TEST_F(Fit, CommitLeavesACalibrationRecord) {
    Context context;
    context.DeviceSettings = {3, 2, 1, 1, 0};
    const Cubic before{0, 0, 0.004, -60};
    SetCubic(context.UserParams.Coefficients, 2, before);
    context.UserParams.Calibrated(2) = 1;
    SaveParameters(context);
    std::ofstream(Data() / "Stanice.ini") << "Operator=Jana Nováková\nReferenceDescription=Pt100\n"
                                             "Tag.COM3.2=TT-32\nTag.COM5.7=TT-57\n";
    const std::vector<Point> points{
        {12000, -11.95f}, {18000, 12.07f}, {25000, 40.03f}, {33000, 71.96f}, {41000, 104.1f}};
    std::vector<CalibrationPoint> stored;
    for (const Point& p : points) {
        stored.push_back({p.Raw, p.TrueTemp});
    }

    const CliResult result = RunFit(points, 2, {"--commit", "--json"});
    ASSERT_EQ(result.Status, 0) << result.Err;
    const QJsonObject json = result.Json["record"].toObject();
    EXPECT_TRUE(json["written"].toBool());
    EXPECT_TRUE(json["shared_database"].isNull());
    EXPECT_EQ(json["file"].toString().toStdString(), (Data() / "Historie.sqlite").string());
    CalibrationRecord record = FirstRecord();
    EXPECT_EQ(json["uuid"].toString().toStdString(), record.Uuid);
    test::ExpectCommitRecord(record, 2, stored, before);
    EXPECT_EQ(Bits(record.AsLeft.A1),
              Bits(result.Json["coefficients"].toObject()["A1"].toDouble()));
    EXPECT_EQ(record.ConverterType, "neuvedeno");
    EXPECT_EQ(record.Port, 3);
    EXPECT_EQ(record.Address, 2);
    EXPECT_EQ(record.Tag, std::optional<std::string>("TT-32"));
    EXPECT_EQ(record.Operator, "Jana Nováková");
    EXPECT_EQ(record.Reference, (ReferenceInstrument{"Pt100", "neuvedeno", "neuvedeno"}));
    EXPECT_FALSE(record.ProgramVersion.empty());

    // Another converter named; the calibration before is now the first fit.
    ASSERT_EQ(RunFit(points, 2, {"--commit", "--port", "5", "--address", "7"}).Status, 0);
    const std::vector<RecordDetails> both = Records();
    ASSERT_EQ(both.size(), 2U);
    const CalibrationRecord& second =
        both[0].Written.Uuid == record.Uuid ? both[1].Written : both[0].Written;
    EXPECT_EQ(second.Port, 5);
    EXPECT_EQ(second.Address, 7);
    EXPECT_EQ(second.Tag, std::optional<std::string>("TT-57"));
    test::ExpectCommitRecord(second, 2, stored, record.AsLeft);

    // A reference in use past its due date: no question, a warning, and the
    // record notes it.
    const Date today = LocalToday();
    const Instrument late = test::InstrumentDueIn(-1, "Pt100 B");
    {
        RecordDatabase file(DatabasePlace::LocalFile(
            QString::fromStdString((Data() / "Historie.sqlite").string())));
        ASSERT_TRUE(file.AddInstrument(late));
    }
    std::ofstream(Data() / "Stanice.ini", std::ios::app) << "ReferenceInUse=" << late.Uuid << '\n';
    const CliResult overdue = RunFit(points, 2, {"--commit", "--json"});
    ASSERT_EQ(overdue.Status, 0) << overdue.Err;
    EXPECT_TRUE(overdue.Json["record"].toObject()["reference_overdue"].toBool());
    EXPECT_NE(overdue.Err.find("the record notes it as overdue"), std::string::npos) << overdue.Err;
    for (const RecordDetails& details : Records()) {
        if (details.Written.Uuid ==
            overdue.Json["record"].toObject()["uuid"].toString().toStdString()) {
            EXPECT_EQ(details.Written.Reference, late.Identity);
            ASSERT_TRUE(details.Written.ReferenceUsed);
            EXPECT_EQ(*details.Written.ReferenceUsed, SnapshotOf(late, today));
        }
    }
    EXPECT_EQ(Records().size(), 3U);

    std::filesystem::remove(Data() / "Historie.sqlite");
    std::filesystem::create_directory(Data() / "Historie.sqlite");
    const CliResult refused = RunFit(points, 1, {"--commit", "--json"});
    EXPECT_EQ(refused.Status, cli::FileFailed);
    EXPECT_TRUE(refused.Json["committed"].toBool());
    EXPECT_FALSE(refused.Json["record"].toObject()["written"].toBool());
    EXPECT_NE(refused.Err.find("the fit is saved in Parametry.par, but its calibration record "
                               "could not be written"),
              std::string::npos)
        << refused.Err;
    Context after;
    {
        const test::WorkingDirectory inside(Data());
        ASSERT_TRUE(LoadParameters(after));
    }
    EXPECT_EQ(after.UserParams.Count(1), points.size());
}

// With a shared database the record waits in the local file when the server
// cannot be reached, and goes with the next commit once it can; an address
// with a password is wrong usage before anything is written, and a station
// address that cannot be used leaves the record local with a warning.
TEST_F(Fit, CommitSendsTheRecordToASharedDatabaseOrLetsItWait) {
    const std::vector<Point> points{{0, 1}, {1, 2}, {2, 9}, {3, 28}, {4, 65}};
    const auto before = Files();
    const CliResult password =
        RunFit(points, 1, {"--commit", "--history", "postgresql://zorm:heslo@db/zorm"});
    EXPECT_EQ(password.Status, cli::WrongUsage);
    EXPECT_NE(password.Err.find("--history: "), std::string::npos);
    EXPECT_EQ(Files(), before);

    const std::string away =
        DatabaseUrl{"zorm", (elsewhere.Path() / "no-server").string(), std::nullopt, "zorm"}.Text();
    const CliResult waiting = RunFit(points, 1, {"--commit", "--json", "--history", away});
    ASSERT_EQ(waiting.Status, 0) << waiting.Err;
    QJsonObject json = waiting.Json["record"].toObject();
    EXPECT_EQ(json["shared_database"].toString().toStdString(), away);
    EXPECT_EQ(json["sent"].toInt(-1), 0);
    EXPECT_EQ(json["waiting"].toInt(-1), 1);
    EXPECT_FALSE(json["send_error"].toString().isEmpty());
    EXPECT_NE(waiting.Err.find("1 record(s) wait in Historie.sqlite"), std::string::npos)
        << waiting.Err;

    test::PgCluster cluster;
    cluster.CreateDatabase("zorm");
    const std::string server = cluster.Url("zorm").Text();
    const CliResult sent = RunFit(points, 2, {"--commit", "--json", "--history", server});
    ASSERT_EQ(sent.Status, 0) << sent.Err;
    json = sent.Json["record"].toObject();
    EXPECT_EQ(json["sent"].toInt(-1), 2);
    EXPECT_EQ(json["waiting"].toInt(-1), 0);
    EXPECT_TRUE(json["send_error"].isNull());
    EXPECT_EQ(cluster.Psql("zorm", "SELECT count(*) FROM calibration_record"), "2\n");

    std::ofstream(Data() / "Stanice.ini") << "SharedDatabase=postgresql://a:b@c/d\n";
    const CliResult local = RunFit(points, 3, {"--commit", "--json"});
    ASSERT_EQ(local.Status, 0) << local.Err;
    EXPECT_TRUE(local.Json["record"].toObject()["shared_database"].isNull());
    EXPECT_NE(local.Err.find("warning: "), std::string::npos);
    EXPECT_EQ(Records().size(), 3U);
}

using Export = CliTest;

TEST_F(Export, WritesTheUserSetsCoefficientsAsTheWindowsExportDoes) {
    Context context;
    for (int s = 1; s <= 3; ++s) {
        context.UserParams.Coefficients.A3(s) = 1.234567891e-12 * s;
        context.UserParams.Coefficients.A2(s) = -3.3e-8;
        context.UserParams.Coefficients.A1(s) = 0.0025;
        context.UserParams.Coefficients.A0(s) = -12.5 - s;
        context.FactoryParams.Coefficients.A0(s) = 99; // never exported
    }
    SaveParameters(context);
    environment.DecimalSeparator = ',';

    const CliResult result = Run({"export", "--json"});
    ASSERT_EQ(result.Status, 0) << result.Err;
    // The 96 bytes of the user set's coefficient table in Parametry.par.
    const std::string parameters = FileBytes(Data() / "Parametry.par");
    EXPECT_EQ(FileBytes(Data() / "ZORM5816.par"), parameters.substr(5 + 720, 96));
    test::ScratchDirectory window;
    {
        const test::WorkingDirectory inside(window.Path());
        context.PolyCoeffs = context.UserParams.Coefficients;
        ASSERT_TRUE(ExportConstantsText(context, ','));
    }
    EXPECT_EQ(FileBytes(Data() / "ZORM5816.txt"), FileBytes(window.Path() / "ZORM5816.txt"));
    EXPECT_EQ(result.Json["files"].toArray(),
              QJsonArray({QString::fromStdString((Data() / "ZORM5816.par").string()),
                          QString::fromStdString((Data() / "ZORM5816.txt").string())}));
    const QJsonObject second = result.Json["coefficients"].toArray()[1].toObject();
    EXPECT_EQ(Bits(second["A3"].toDouble()), Bits(1.234567891e-12 * 2));
    EXPECT_EQ(second["polynomial"].toString(),
              "y = 2,4691358E-12*x^3 + -3,3E-8*x^2 + 0,0025*x + -14,5");

    const CliResult text = Run({"export"});
    EXPECT_EQ(text.Status, 0) << text.Err;
    EXPECT_TRUE(text.Out.starts_with("Snímač 1: y = 1,2345679E-12*x^3 + -3,3E-8*x^2 + 0,0025*x "
                                     "+ -13,5\nSnímač 2: "))
        << text.Out;
}

TEST_F(Export, WithoutUsableParametersOrWritableFolderNothingIsWritten) {
    const CliResult missing = Run({"export", "--json"});
    EXPECT_EQ(missing.Status, cli::FileFailed);
    EXPECT_TRUE(Files().empty());

    std::ofstream(Data() / "Parametry.par", std::ios::binary) << std::string(5, '\1');
    EXPECT_EQ(Run({"export"}).Status, cli::FileFailed);
    EXPECT_EQ(test::EntryNames(Data()), std::vector<std::string>{"Parametry.par"});

    SaveParameters(Context{});
    const auto before = Files();
    {
        const test::ReadOnlyFolder readOnly(Data());
        const CliResult unwritable = Run({"export", "--json"});
        EXPECT_EQ(unwritable.Status, cli::FileFailed);
        EXPECT_EQ(unwritable.Json["error"].toString().toStdString(),
                  "cannot write " + (Data() / "ZORM5816.par").string());
        EXPECT_EQ(unwritable.Json["files"].toArray(), QJsonArray());
    }
    EXPECT_EQ(Files(), before);
}

using Ports = CliTest;

TEST_F(Ports, TheTableOfTheWindowProgramAndItsJson) {
    machine.AddUsbSerial("ttyUSB0", "1-2", "A10K1234");
    Context context;
    context.DeviceSettings.PortNumber = 7;
    SaveParameters(context);
    const CliResult text = Run({"ports"});
    EXPECT_EQ(text.Status, 0) << text.Err;
    EXPECT_NE(text.Out.find("COM1   " + machine.Node("ttyUSB0").string() +
                            " driver ftdi_sio, USB 0403:6001"),
              std::string::npos)
        << text.Out;
    EXPECT_TRUE(text.Out.ends_with("The search starts at COM7 (PortNumber in Parametry.par), "
                                   "where nothing is, and goes down from there.\n"));

    const CliResult json = Run({"ports", "--json"});
    EXPECT_EQ(json.Status, 0) << json.Err;
    const QJsonObject port = json.Json["ports"].toArray()[0].toObject();
    EXPECT_EQ(port["number"].toInt(), 1);
    EXPECT_EQ(port["kind"].toString(), "device");
    EXPECT_EQ(port["device"].toObject()["usb"].toString(), "0403:6001");
    EXPECT_EQ(port["device"].toObject()["serial"].toString(), "A10K1234");
    EXPECT_EQ(json.Json["port_number"].toInt(), 7);
    EXPECT_EQ(json.Json["search_start"].toInt(), 7);
}

using Usage = CliTest;

TEST_F(Usage, MistakesAreStatusTwoWithOneDocumentAndHelpIsStatusZero) {
    for (const std::vector<std::string>& wrong :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate"},
                                               {"register"},
                                               {"identify", "extra"},
                                               {"identify", "--sensors", "1"},
                                               {"identify", "--port", "0"},
                                               {"identify", "--port"},
                                               {"identify", "--address", "11"},
                                               {"identify", "--port", "1", "--port", "2"},
                                               {"measure", "--raw", "--celsius"},
                                               {"measure", "--sensors", "1,1"},
                                               {"measure", "--sensors", "4"},
                                               {"measure", "--interval", "-1"},
                                               {"measure", "--count", "0"},
                                               {"measure", "--raw=yes"},
                                               {"scan", "--timeout-ms", "100ms"},
                                               {"fit", "--sensor", "1"},
                                               {"fit", "--sensor", "4", "--points", "p.csv"},
                                               {"--bogus", "ports"}}) {
        std::string joined;
        for (const std::string& a : wrong) {
            joined += a + " ";
        }
        SCOPED_TRACE(joined);
        const CliResult text = Run(wrong);
        EXPECT_EQ(text.Status, cli::WrongUsage);
        EXPECT_EQ(text.Out, "");
        std::vector<std::string> withJson = wrong;
        withJson.push_back("--json");
        const CliResult json = Run(withJson);
        EXPECT_EQ(json.Status, cli::WrongUsage);
        EXPECT_FALSE(json.Json["error"].toString().isEmpty());
    }
    EXPECT_TRUE(Files().empty());

    const CliResult help = Run({"--help"});
    EXPECT_EQ(help.Status, 0);
    for (const cli::CommandSpec& command : cli::Commands()) {
        EXPECT_NE(help.Out.find("  " + std::string(command.Name)), std::string::npos)
            << command.Name;
    }
    const CliResult measureHelp = Run({"measure", "--help"});
    EXPECT_EQ(measureHelp.Status, 0);
    EXPECT_NE(measureHelp.Out.find("--unfiltered"), std::string::npos);
    EXPECT_EQ(Run({"--version"}).Out, cli::VersionText());

    const CliResult noFolder = Run({"ports", "--data-dir", (Data() / "none").string()});
    EXPECT_EQ(noFolder.Status, cli::WrongUsage); // --data-dir given twice
    const std::vector<std::string_view> args{"ports", "--data-dir", "/nonexistent/zorm"};
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(cli::Run(args, out, err, environment), cli::FileFailed);
    EXPECT_EQ(err.str(), "zorm5816-cli: cannot enter the data folder /nonexistent/zorm: No such "
                         "file or directory\n");
}

} // namespace
} // namespace zorm
