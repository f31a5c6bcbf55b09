// The history window over a real SQLite file (and a shared database that
// cannot be reached): the list newest first, page by page; the filters;
// a record's details; a correction in the trail and the list; the station
// settings; exports through the save dialog; the restore into the
// calibration window; the pending count and "Odeslat nyní". Every answer
// of the store comes from its worker thread, as in the program.
#include "data/number_text.h"
#include "records/certificate_number.h"
#include "records/record_stamp.h"
#include "reports/certificate.h"
#include "reports/record_view.h"
#include "sim/sim_port.h"
#include "tests/reports/known_record.h"
#include "tests/support/random_records.h"
#include "tests/windows/calibration_fixture.h"
#include "tests/windows/main_window_fixture.h"
#include "tests/windows/records_fixture.h"
#include "windows/Historie.h"
#include "windows/Reference.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTextBrowser>

#include <algorithm>
#include <bit>
#include <set>

namespace zorm {
namespace {

using namespace test;

constexpr std::int64_t Day = 86'400'000;

class HistoryWindow : public testing::Test {
protected:
    ScratchDirectory scratch{ScratchDirectory::Enter};
    Context context;
    sim::SimPorts ports;
    Drv232 link{context, ports.Opener()};
    ScriptedBoxes boxes;
    ScriptedModal modal;
    std::optional<RecordsOnDisk> records;
    std::unique_ptr<THistorie> window;
    // What the test stored, newest first.
    std::vector<CalibrationRecord> stored;
    Random random{11};

    void SetUp() override {
        context.DeviceSettings.PortNumber = 1;
        context.DeviceSettings.DeviceAddress = 1;
    }

    // `count` records of the last 60 days with a few tags, types,
    // addresses and sensors; some share their millisecond.
    void Store(int count) {
        const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
        RecordBatch batch;
        for (int i = 0; i < count; ++i) {
            const std::int64_t time = i % 7 == 1
                                          ? batch.Records.back().TimeUtcMs
                                          : now - static_cast<std::int64_t>(random() % (60 * Day));
            CalibrationRecord record = PlainRecord(random, time, 4 + static_cast<int>(i % 5));
            record.Tag = i % 5 == 0 ? std::nullopt
                                    : std::optional<std::string>("TT-" + std::to_string(i % 5));
            record.ConverterType = i % 3 == 0 ? "ZORM5817A" : "ZORM5816A";
            record.Address = 1 + static_cast<int>(i % 4) % 3;
            batch.Records.push_back(record);
        }
        RecordDatabase database(DatabasePlace::LocalFile(QString::fromLatin1(HistoryFileName)));
        ASSERT_TRUE(database.Store(batch, Queue::No)) << database.LastError().toStdString();
        stored.insert(stored.end(), batch.Records.begin(), batch.Records.end());
        std::ranges::sort(stored, [](const CalibrationRecord& a, const CalibrationRecord& b) {
            return std::tie(a.TimeUtcMs, a.Uuid) > std::tie(b.TimeUtcMs, b.Uuid);
        });
    }

    void Open() {
        if (!records) {
            records.emplace();
        }
        window = std::make_unique<THistorie>(context, link, records->keeper, boxes, modal);
        Await();
    }
    void Await() {
        ASSERT_TRUE(AwaitUntil([this] { return !window->Ceka(); }));
    }

    template <typename T = QWidget> T* Control(const char* name) {
        T* control = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    QTableWidget& List() { return *Control<QTableWidget>("Seznam"); }
    QString Cell(int row, const char* heading) {
        const auto& headings = RecordListHeadings();
        const auto column =
            std::ranges::find(headings, std::string_view(heading)) - headings.begin();
        return List().item(row, static_cast<int>(column))->text();
    }

    // The UUIDs of the rows shown, top down; with `allPages` after asking
    // for every further page.
    std::vector<std::string> Listed(bool allPages = true) {
        while (allPages && Control("DalsiZaznamy")->isEnabled()) {
            window->DalsiZaznamy();
            Await();
        }
        std::vector<std::string> uuids;
        for (int row = 0; row < List().rowCount(); ++row) {
            uuids.push_back(List().item(row, 0)->data(Qt::UserRole).toString().toStdString());
        }
        return uuids;
    }
    std::vector<std::string> Expected(const std::function<bool(const CalibrationRecord&)>& keep) {
        std::vector<std::string> uuids;
        for (const CalibrationRecord& record : stored) {
            if (keep(record)) {
                uuids.push_back(record.Uuid);
            }
        }
        return uuids;
    }

    // Shows the record of row `row` and waits for its details.
    void Show(int row) {
        List().selectRow(row);
        Await();
        ASSERT_TRUE(window->Zobrazeny());
    }
    QString Details() { return Control<QTextBrowser>("Podrobnosti")->toPlainText(); }
};

TEST_F(HistoryWindow, ListsNewestFirstAPageAtATime) {
    Store(450);
    Open();
    EXPECT_EQ(window->windowTitle(), "Historie kalibrací");
    EXPECT_EQ(List().rowCount(), THistorie::PageRows);
    EXPECT_TRUE(Control("DalsiZaznamy")->isEnabled());
    EXPECT_EQ(Control<QLabel>("PocetZaznamu")->text(), "Zobrazeno záznamů: 200 (a další)");
    const std::vector<std::string> all = Listed();
    EXPECT_EQ(all, Expected([](const CalibrationRecord&) { return true; }));
    EXPECT_FALSE(Control("DalsiZaznamy")->isEnabled());
    EXPECT_EQ(Control<QLabel>("PocetZaznamu")->text(), "Zobrazeno záznamů: 450");
    const CalibrationRecord& newest = stored.front();
    EXPECT_EQ(Cell(0, "Čas").toStdString(),
              RecordTimeText(newest.TimeUtcMs, newest.UtcOffsetSeconds));
    EXPECT_EQ(Cell(0, "Snímač"), QString::number(newest.Sensor));
    EXPECT_EQ(Cell(0, "Bodů"), QString::number(newest.Points.size()));
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(HistoryWindow, FiltersByTagTypeAddressSensorAndDate) {
    Store(300);
    Open();
    Control<QLineEdit>("FiltrOznaceni")->setText("TT-2");
    window->Vyber();
    Await();
    EXPECT_EQ(Listed(), Expected([](const CalibrationRecord& r) { return r.Tag == "TT-2"; }));

    window->ZrusVyber();
    Await();
    Control<QLineEdit>("FiltrTyp")->setText("ZORM5817A");
    Control<QSpinBox>("FiltrAdresa")->setValue(2);
    Control<QComboBox>("FiltrSnimac")->setCurrentIndex(3);
    window->Vyber();
    Await();
    const auto typed = Expected([](const CalibrationRecord& r) {
        return r.ConverterType == "ZORM5817A" && r.Address == 2 && r.Sensor == 3;
    });
    EXPECT_FALSE(typed.empty());
    EXPECT_EQ(Listed(), typed);

    // Days of this computer's calendar, both included.
    window->ZrusVyber();
    Await();
    const QDate from = QDate::currentDate().addDays(-40);
    const QDate to = QDate::currentDate().addDays(-20);
    Control<QCheckBox>("FiltrOdZapnuto")->setChecked(true);
    Control<QDateEdit>("FiltrOd")->setDate(from);
    Control<QCheckBox>("FiltrDoZapnuto")->setChecked(true);
    Control<QDateEdit>("FiltrDo")->setDate(to);
    window->Vyber();
    Await();
    const auto dated = Expected([&](const CalibrationRecord& r) {
        const QDate day = QDateTime::fromMSecsSinceEpoch(r.TimeUtcMs).date();
        return day >= from && day <= to;
    });
    EXPECT_GT(dated.size(), 50U);
    EXPECT_EQ(Listed(), dated);

    window->ZrusVyber();
    Await();
    EXPECT_EQ(Listed().size(), stored.size());
}

TEST_F(HistoryWindow, DetailsShowTheRecordAndACorrectionJoinsTheTrailAndTheList) {
    StationSettings station;
    station.Operator = "Petr Dvořák";
    ASSERT_TRUE(SaveStationSettings(station));
    Store(3);
    stored.front().Points[1].AsFoundDeviation.reset();
    Open();
    Show(0);
    const CalibrationRecord& r = stored.front();
    EXPECT_EQ(window->Zobrazeny()->Written.Uuid, r.Uuid);
    const QString details = Details();
    const char sep = Sep();
    for (const RecordPoint& p : r.Points) {
        for (const std::string& text :
             {std::to_string(p.Raw), fixed(p.TrueTemp, 6, 2, sep), fixed(*p.Fitted, 6, 3, sep)}) {
            EXPECT_TRUE(details.contains(QString::fromStdString(text))) << text;
        }
    }
    // The coefficients in general(8), then their bits: as left first.
    const auto bits = [](double v) {
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx",
                      static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(v)));
        return QString::fromLatin1(hex);
    };
    const qsizetype asLeft = details.indexOf("po kalibraci (as left)");
    const qsizetype asFound = details.indexOf("před kalibrací (as found)");
    ASSERT_TRUE(asLeft >= 0 && asFound > asLeft);
    EXPECT_EQ(details.indexOf(bits(r.AsLeft.A1)), details.indexOf(bits(r.AsLeft.A1), asLeft));
    EXPECT_LT(details.indexOf(bits(r.AsLeft.A1)), asFound);
    EXPECT_GT(details.indexOf(bits(r.AsFound.A0)), asFound);
    EXPECT_TRUE(details.contains(QString::fromStdString(general(r.AsLeft.A3, 8, sep))));
    EXPECT_TRUE(details.contains("Počet bodů n:\n" + QString::number(r.Points.size())));
    EXPECT_TRUE(details.contains(QString::fromStdString(fixed(*r.ResidualSd, 6, 4, sep))));
    EXPECT_TRUE(details.contains("Opravy\nžádné"));

    // An operator field left empty names nobody: refused.
    Control<QComboBox>("OpravaPole")->setCurrentIndex(1);
    window->ZapisOpravu();
    EXPECT_EQ(boxes.Texts(), std::vector<QString>{"Zadejte novou hodnotu údaje."});
    Control<QComboBox>("OpravaPole")->setCurrentIndex(0); // the tag
    Control<QLineEdit>("OpravaHodnota")->setText(" TT-999 ");
    window->ZapisOpravu();
    Await();
    const RecordDetails& corrected = *window->Zobrazeny();
    EXPECT_EQ(corrected.Latest.Tag, std::optional<std::string>("TT-999"));
    EXPECT_EQ(corrected.Written.Tag, r.Tag);
    ASSERT_EQ(corrected.Trail.size(), 1U);
    EXPECT_EQ(corrected.Trail[0].Author, "Petr Dvořák");
    EXPECT_TRUE(Details().contains("Označení převodníku\nTT-999"));
    EXPECT_EQ(Cell(0, "Označení"), "TT-999");
    Control<QLineEdit>("FiltrOznaceni")->setText("TT-999");
    window->Vyber();
    Await();
    EXPECT_EQ(Listed(), std::vector<std::string>{r.Uuid});
}

// How settled each point's readings were, in the unit its verdict was taken
// in: °C through the calibration in force, bits where there were none in °C,
// a dash without statistics; a point taken otherwise has no line.
TEST_F(HistoryWindow, DetailsShowTheStabilityOfEachPointInTheUnitJudged) {
    CalibrationRecord record = PlainRecord(random, QDateTime::currentMSecsSinceEpoch(), 4);
    ASSERT_TRUE(record.Points[0].Stability && !record.Points[2].Stability);
    record.Points[1].Stability->Judgement.Celsius.reset();
    record.Points[3].Stability = PointStability{};
    record.Points[3].Stability->Settings.WindowSeconds = 45;
    {
        RecordDatabase database(DatabasePlace::LocalFile(QString::fromLatin1(HistoryFileName)));
        ASSERT_TRUE(database.Store({{record}, {}}, Queue::No))
            << database.LastError().toStdString();
    }
    Open();
    Show(0);
    const QString details = Details();
    const char sep = Sep();
    const auto line = [&](int point, int decimals, const char* unit) {
        const StabilityJudgement& j =
            record.Points[static_cast<std::size_t>(point - 1)].Stability->Judgement;
        const WindowStatistics& s = j.Celsius ? *j.Celsius : *j.Bits;
        return QStringLiteral("\n%1\n%2\n30\n%3 %5\n%4 %5/min\n")
            .arg(point)
            .arg(QString::fromUtf8(StabilityText(j.Verdict)),
                 QString::fromStdString(fixed(s.StandardDeviation, 6, decimals, sep)),
                 QString::fromStdString(fixed(s.SlopePerMinute, 6, decimals, sep)),
                 QString::fromUtf8(unit));
    };
    const qsizetype table = details.indexOf("Stabilita odečtů při zápisu bodů");
    ASSERT_GE(table, 0) << details.toStdString();
    EXPECT_GT(details.indexOf(line(1, 4, "°C")), table) << details.toStdString();
    EXPECT_GT(details.indexOf(line(2, 2, "bit")), table) << details.toStdString();
    EXPECT_TRUE(details.contains("\n4\nmálo dat\n45\n–\n–\n"));
    EXPECT_EQ(details.count("/min\n"), 2);
}

TEST_F(HistoryWindow, StationSettingsAreSavedAndTheNextRecordTakesThem) {
    context.DeviceSettings.PortNumber = 3;
    context.DeviceSettings.DeviceAddress = 4;
    context.DeviceType = "ZORM5816A";
    ASSERT_TRUE(SaveStationSettings(ParseStationSettings("Tag.COM1.1=TT-1\nFuture=kept\n")));
    Open();
    EXPECT_EQ(Control<QLabel>("PrevodnikMisto")->text(), "ZORM5816A na portu COM3, adresa 4");
    Control<QLineEdit>("Operator")->setText("Jana Nováková");
    Control<QLineEdit>("ReferencePopis")->setText("Pt100");
    Control<QLineEdit>("ReferenceCislo")->setText("12345");
    Control<QLineEdit>("ReferenceCertifikat")->setText("K-2024/117");
    Control<QLineEdit>("Oznaceni")->setText("TT-34");
    Control<QLineEdit>("SdilenaDatabaze")->setText("postgresql://kalibrace:heslo@db/zorm");
    window->UlozNastaveni();
    ASSERT_EQ(boxes.Shown.size(), 1U); // a password in the address
    EXPECT_TRUE(boxes.Shown[0].Text.startsWith("Adresu sdílené databáze nelze použít: "));
    EXPECT_EQ(LoadStationSettings(), ParseStationSettings("Tag.COM1.1=TT-1\nFuture=kept\n"));

    Control<QLineEdit>("SdilenaDatabaze")->setText("postgresql://kalibrace@db/zorm");
    window->UlozNastaveni();
    const StationSettings saved = LoadStationSettings();
    EXPECT_EQ(saved.Operator, "Jana Nováková");
    EXPECT_EQ(saved.Reference, (ReferenceInstrument{"Pt100", "12345", "K-2024/117"}));
    EXPECT_EQ(saved.TagOf(3, 4), std::optional<std::string>("TT-34"));
    EXPECT_EQ(saved.TagOf(1, 1), std::optional<std::string>("TT-1"));
    EXPECT_EQ(saved.SharedDatabase, "postgresql://kalibrace@db/zorm");
    EXPECT_EQ(saved.Other, (std::vector<std::pair<std::string, std::string>>{{"Future", "kept"}}));

    const SensorParamSet work = CalibratedSet(2, 5);
    ASSERT_TRUE(records->keeper.Commit(work, {}, {{2, std::nullopt}}, {"ZORM5816A", 3, 4}));
    const CalibrationRecord record = records->All().back().Written;
    EXPECT_EQ(record.Operator, "Jana Nováková");
    EXPECT_EQ(record.Reference.CertificateNumber, "K-2024/117");
    EXPECT_EQ(record.Tag, std::optional<std::string>("TT-34"));
}

TEST_F(HistoryWindow, ExportsOneRecordAndTheFilteredList) {
    Store(40);
    Open();
    Show(2);
    const auto save = [this](const QString& name, const QString& filter) {
        modal.Drive = [name, filter](QDialog& dialog) {
            auto& files = dynamic_cast<QFileDialog&>(dialog);
            EXPECT_EQ(files.acceptMode(), QFileDialog::AcceptSave);
            files.selectNameFilter(filter);
            files.selectFile(name);
            return static_cast<int>(QDialog::Accepted);
        };
    };
    const QString folder = QString::fromStdString(scratch.Path().string());
    save(folder + "/jeden", "Soubory JSON (*.json)");
    window->ExportZaznamu();
    QFile single(folder + "/jeden.json");
    ASSERT_TRUE(single.open(QIODevice::ReadOnly));
    const QJsonArray one = QJsonDocument::fromJson(single.readAll()).object()["records"].toArray();
    ASSERT_EQ(one.size(), 1);
    EXPECT_EQ(one[0].toObject()["uuid"].toString().toStdString(), stored[2].Uuid);

    Control<QComboBox>("FiltrSnimac")->setCurrentIndex(2);
    window->Vyber();
    Await();
    save(folder + "/seznam.csv", "Soubory CSV (*.csv)");
    window->ExportSeznamu();
    Await();
    QFile list(folder + "/seznam.csv");
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(list.readAll()).split("\r\n", Qt::SkipEmptyParts);
    std::size_t points = 0;
    for (const CalibrationRecord& r : stored) {
        points += r.Sensor == 2 ? r.Points.size() : 0;
    }
    EXPECT_EQ(static_cast<std::size_t>(lines.size()), 1 + points);
    EXPECT_TRUE(boxes.Shown.empty());

    save(folder + "/chybi/x.csv", "Soubory CSV (*.csv)");
    window->ExportZaznamu();
    ASSERT_EQ(boxes.Shown.size(), 1U);
    EXPECT_TRUE(boxes.Shown[0].Text.startsWith("Export nelze zapsat."));
}

// "Kalibrační list…" makes the certificate of the record shown under its
// number, the same number again for the same record; a record without its
// reference's U gets a box and no number. The reference instruments open
// from the settings tab, and the one picked there shows on it.
TEST_F(HistoryWindow, CertificateOfTheRecordShownAndTheReferenceInstruments) {
    RecordBatch batch;
    batch.Records.push_back(KnownRecord(12, true).Written);
    batch.Records.push_back(PlainRecord(random, QDateTime::currentMSecsSinceEpoch(), 6));
    {
        RecordDatabase database(DatabasePlace::LocalFile(QString::fromLatin1(HistoryFileName)));
        ASSERT_TRUE(database.Store(batch, Queue::No)) << database.LastError().toStdString();
    }
    Open();
    Show(0); // the plain record, the newer one
    window->KalibracniList();
    ASSERT_EQ(boxes.Shown.size(), 1U);
    EXPECT_TRUE(boxes.Shown[0].Text.startsWith("Kalibrační list tohoto záznamu nelze vystavit: "))
        << boxes.Shown[0].Text.toStdString();
    EXPECT_FALSE(window->Ceka());
    EXPECT_EQ(modal.Runs, 0);

    Show(1);
    const QString folder = QString::fromStdString(scratch.Path().string());
    QStringList offered;
    modal.Drive = [&](QDialog& dialog) {
        auto& files = dynamic_cast<QFileDialog&>(dialog);
        EXPECT_EQ(files.defaultSuffix(), "pdf");
        offered << QFileInfo(files.selectedFiles().value(0)).fileName();
        files.selectFile(folder + "/list" + QString::number(offered.size()));
        return static_cast<int>(QDialog::Accepted);
    };
    const std::string number = CertificateNumberText(StationName(), 1);
    for (int issue = 1; issue <= 2; ++issue) {
        window->KalibracniList();
        Await();
        const QString pdf = folder + "/list" + QString::number(issue) + ".pdf";
        QFile json(CertificateJsonPath(pdf));
        ASSERT_TRUE(QFileInfo(pdf).size() > 1000 && json.open(QIODevice::ReadOnly)) << issue;
        const QJsonObject document = QJsonDocument::fromJson(json.readAll()).object();
        EXPECT_EQ(document["number"].toString().toStdString(), number);
        EXPECT_EQ(document["record_uuid"].toString().toStdString(), batch.Records[0].Uuid);
        EXPECT_TRUE(
            Control<QLabel>("StavSeznamu")->text().contains(QString::fromStdString(number)));
    }
    EXPECT_EQ(offered, QStringList(2, CertificateFileName(number)));
    EXPECT_EQ(boxes.Shown.size(), 1U);

    const Instrument instrument{NewUuid(),
                                {"Pt100 D", "SN 9", "K-2026/3"},
                                0.02,
                                std::chrono::year(2026) / 1 / 5,
                                std::chrono::year(2099) / 1 / 5};
    modal.Drive = [&](QDialog& dialog) {
        EXPECT_NE(dynamic_cast<TReference*>(&dialog), nullptr);
        // What the window does when the operator adds one and picks it.
        EXPECT_TRUE(records->history.AddInstrument(instrument));
        StationSettings picked = LoadStationSettings();
        picked.ReferenceInUse = instrument.Uuid;
        EXPECT_TRUE(SaveStationSettings(picked));
        return static_cast<int>(QDialog::Accepted);
    };
    const QLabel& inUse = *Control<QLabel>("ReferenceVPouzivani");
    EXPECT_TRUE(inUse.text().startsWith("žádný")) << inUse.text().toStdString();
    window->ReferencniPristroje();
    EXPECT_TRUE(inUse.text().startsWith("Pt100 D, výrobní číslo SN 9, platný do 5. 1. 2099"))
        << inUse.text().toStdString();
}

// The restore opens the calibration window with the record in the working
// copy; committed there, the new record names it. A record of another
// converter asks first.
TEST_F(HistoryWindow, RestoreOpensTheCalibrationWindowAndItsCommitNamesTheRecord) {
    ports.Add(1);
    ASSERT_TRUE(link.OpenPort(1));
    Store(1);
    stored[0].Port = 1;
    Open();
    Show(0);
    const CalibrationRecord restored = window->Zobrazeny()->Written;
    modal.Drive = [](QDialog& dialog) {
        auto* calibration = qobject_cast<TKalibrace*>(&dialog);
        EXPECT_NE(calibration, nullptr);
        calibration->FormActivate();
        calibration->BitBtn3Click();
        return 0;
    };
    window->Obnov();
    Await();
    EXPECT_EQ(modal.Runs, 1);
    EXPECT_TRUE(boxes.Shown.empty());
    ASSERT_EQ(List().rowCount(), 2);
    EXPECT_EQ(Cell(0, "Stav"), "obnovený");
    const std::vector<RecordDetails> all = records->All();
    ASSERT_EQ(all.size(), 2U);
    EXPECT_EQ(all[1].Written.RestoredFrom, std::optional<std::string>(restored.Uuid));
    EXPECT_EQ(CubicOf(context.UserParams.Coefficients, restored.Sensor), restored.AsLeft);

    context.DeviceSettings.DeviceAddress = 7;
    Show(1);
    boxes.Answers = {BoxAnswer::No};
    window->Obnov();
    EXPECT_EQ(modal.Runs, 1);
    ASSERT_EQ(boxes.Shown.size(), 1U);
    EXPECT_TRUE(boxes.Shown[0].Text.startsWith("Záznam je z převodníku na portu COM1, adresa 1"));
    boxes.Answers = {BoxAnswer::Yes};
    window->Obnov();
    EXPECT_EQ(modal.Runs, 2);
}

// The shared database cannot be reached: the records wait, the window says
// how many, and "Odeslat nyní" tries again and says it failed.
TEST_F(HistoryWindow, PendingCountWithASharedDatabaseOutOfReach) {
    records.emplace(
        DatabaseUrl{"zorm", (scratch.Path() / "no-server").string(), std::nullopt, "zorm"});
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(records->history.Commit({PlainRecord(random, 1'700'000'000'000 + i)}));
    }
    Open();
    QLabel& pending = *Control<QLabel>("Cekajici");
    EXPECT_TRUE(pending.text().startsWith("Čeká na odeslání: 3")) << pending.text().toStdString();
    EXPECT_TRUE(
        Control<QLabel>("StavSeznamu")->text().startsWith("Sdílená databáze není dostupná"));
    ASSERT_EQ(List().rowCount(), 3);
    EXPECT_EQ(Cell(0, "Stav"), "čeká na odeslání");

    window->OdesliNyni();
    EXPECT_FALSE(Control("OdeslatNyni")->isEnabled());
    ASSERT_TRUE(AwaitUntil([&] { return Control("OdeslatNyni")->isEnabled(); }));
    EXPECT_EQ(pending.text(), "Čeká na odeslání: 3 (sdílená databáze nedostupná)");
    EXPECT_FALSE(pending.toolTip().isEmpty());
    EXPECT_EQ(records->history.Pending(), 3);
}

class MainWindowHistory : public MainWindowTest {};

TEST_F(MainWindowHistory, TheMenuOpensTheHistoryWithoutAConverter) {
    RecordsOnDisk records;
    window.SetRecords(&records.keeper);
    modal.Drive = [](QDialog& dialog) {
        EXPECT_NE(qobject_cast<THistorie*>(&dialog), nullptr);
        return 0;
    };
    Control<QAction>("Historie1")->trigger();
    EXPECT_EQ(modal.Runs, 1);
}

} // namespace
} // namespace zorm
