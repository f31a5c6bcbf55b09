// The reference instruments window over a real record file in a scratch data
// folder: the list as the operator reads it, adding, retiring and picking an
// instrument, the conditions of the calibrations, a settings file that
// cannot be written; and the question before a commit with an overdue
// reference.
#include "data/number_text.h"
#include "records/history.h"
#include "records/record_stamp.h"
#include "records/station_settings.h"
#include "tests/support/scratch_directory.h"
#include "tests/windows/window_test_support.h"
#include "windows/Reference.h"
#include "windows/regional.h"

#include <QDateEdit>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

#include <filesystem>

namespace zorm {
namespace {

using namespace std::chrono;

Instrument Made(const std::string& description, Date due, bool retired = false) {
    return {NewUuid(), {description, "SN " + description, "K " + description},
            0.02,      year(2020) / 1 / 1,
            due,       retired};
}

class ReferenceWindow : public ::testing::Test {
protected:
    test::ScratchDirectory scratch_{test::ScratchDirectory::Enter};
    History history_{QStringLiteral("Historie.sqlite"), std::nullopt};
    StationSettings settings_;
    test::ScriptedBoxes boxes_;
    const Date today_ = LocalToday();
    Instrument inTime_ = Made("Pt100 A", Date(sys_days(today_) + days(30)));
    Instrument late_ = Made("Pt100 B", Date(sys_days(today_) - days(1)));
    Instrument gone_ = Made("Pt100 C", Date(sys_days(today_) + days(300)));

    void SetUp() override {
        ASSERT_TRUE(history_.Open());
        // The retired one first, so that the list must put it last.
        for (const Instrument* instrument : {&gone_, &inTime_, &late_}) {
            ASSERT_TRUE(history_.AddInstrument(*instrument));
        }
        ASSERT_TRUE(history_.RetireInstrument(gone_.Uuid));
        gone_.Retired = true;
        settings_.ReferenceInUse = inTime_.Uuid;
    }

    template <typename T> static T* Control(QWidget& window, const char* name) {
        T* control = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    // Each row as its texts, and whether it is grey.
    static std::vector<std::pair<QStringList, bool>> Rows(QWidget& window) {
        auto* list = Control<QTreeWidget>(window, "Seznam");
        std::vector<std::pair<QStringList, bool>> rows;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* row = list->topLevelItem(i);
            QStringList texts;
            for (int column = 0; column < list->columnCount(); ++column) {
                texts.append(row->text(column));
            }
            rows.emplace_back(texts, row->foreground(0).color() == QColor(Qt::gray));
        }
        return rows;
    }

    static void Select(QWidget& window, int row) {
        auto* list = Control<QTreeWidget>(window, "Seznam");
        list->setCurrentItem(list->topLevelItem(row));
    }
};

TEST_F(ReferenceWindow, ListsAddsRetiresAndPicksTheInstrumentInUse) {
    TReference window(history_, settings_, boxes_);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Referenční přístroje"));
    const auto rows = Rows(window);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].first,
              (QStringList{"Pt100 A", "SN Pt100 A", "K Pt100 A",
                           general(0.02, 6, SystemDecimalSeparator()).c_str(), "1. 1. 2020",
                           CzechDateText(inTime_.Due).c_str(), "používá se"}));
    EXPECT_EQ(rows[1].first.last(), QStringLiteral("po lhůtě"));
    EXPECT_EQ(rows[2].first.first(), QStringLiteral("Pt100 C"));
    EXPECT_EQ(rows[2].first.last(), QStringLiteral("vyřazen"));
    EXPECT_EQ(std::vector<bool>({rows[0].second, rows[1].second, rows[2].second}),
              std::vector<bool>({false, false, true}));
    auto* list = Control<QTreeWidget>(window, "Seznam");
    EXPECT_EQ(list->topLevelItem(1)->foreground(5).color(), QColor(Qt::red));
    EXPECT_TRUE(Control<QLabel>(window, "PouzivanyPristroj")->text().contains("Pt100 A"));

    // A retired instrument can be neither used nor retired again.
    Select(window, 2);
    EXPECT_FALSE(Control<QPushButton>(window, "Pouzivat")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(window, "Vyradit")->isEnabled());

    // Adding: what is missing is said, and nothing is added.
    Control<QLineEdit>(window, "VyrobniCislo")->setText("777");
    Control<QLineEdit>(window, "Nejistota")->setText("0,015");
    window.PridatClick();
    ASSERT_EQ(boxes_.Shown.size(), 1u);
    EXPECT_EQ(boxes_.Shown[0].Kind, BoxKind::Error);
    EXPECT_TRUE(boxes_.Shown[0].Text.contains("popis"));
    EXPECT_EQ(history_.Instruments()->size(), 3u);
    Control<QLineEdit>(window, "Popis")->setText("  Pt100 D ");
    Control<QDateEdit>(window, "Kalibrovano")->setDate(QDate(2024, 2, 29));
    Control<QDateEdit>(window, "PlatnostDo")->setDate(QDate(2099, 2, 28));
    window.PridatClick();
    ASSERT_EQ(boxes_.Shown.size(), 1u);
    const auto instruments = history_.Instruments();
    ASSERT_EQ(instruments->size(), 4u);
    const Instrument& added = instruments->back();
    EXPECT_EQ(added.Identity, (ReferenceInstrument{"Pt100 D", "777", ""}));
    EXPECT_EQ(added.Expanded, 0.015);
    EXPECT_EQ(added.Calibrated, year(2024) / 2 / 29);
    EXPECT_EQ(added.Due, year(2099) / 2 / 28);
    EXPECT_TRUE(Control<QLineEdit>(window, "Popis")->text().isEmpty());
    EXPECT_EQ(list->currentItem()->text(0), QStringLiteral("Pt100 D"));

    // Picking it: the settings and Stanice.ini name it.
    window.PouzivatClick();
    EXPECT_EQ(settings_.ReferenceInUse, added.Uuid);
    EXPECT_EQ(LoadStationSettings().ReferenceInUse, added.Uuid);
    EXPECT_EQ(history_.InstrumentInUse(settings_), added);
    EXPECT_EQ(Rows(window)[2].first.last(), QStringLiteral("používá se"));

    // Retiring it asks first; then none is in use, and it stays, grey.
    boxes_.Answers = {BoxAnswer::No, BoxAnswer::Yes};
    window.VyraditClick();
    EXPECT_FALSE(history_.Instruments()->back().Retired);
    window.VyraditClick();
    ASSERT_EQ(boxes_.Shown.size(), 3u);
    EXPECT_EQ(boxes_.Shown[2].Kind, BoxKind::Warning);
    EXPECT_TRUE(boxes_.Shown[2].Text.contains("Pt100 D"));
    EXPECT_TRUE(history_.Instruments()->back().Retired);
    EXPECT_TRUE(settings_.ReferenceInUse.empty());
    EXPECT_TRUE(LoadStationSettings().ReferenceInUse.empty());
    EXPECT_EQ(history_.InstrumentInUse(settings_), std::nullopt);
    const auto after = Rows(window);
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[3].first.first(), QStringLiteral("Pt100 D"));
    EXPECT_TRUE(after[3].second);

    // The window lies on the screen.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(window.geometry())) << window.width() << "x" << window.height();
}

TEST_F(ReferenceWindow, KeepsTheConditionsOfTheCalibrations) {
    settings_.Tolerance = 0.25;
    TReference window(history_, settings_, boxes_);
    auto* ambient = Control<QLineEdit>(window, "TeplotaOkoli");
    auto* humidity = Control<QLineEdit>(window, "Vlhkost");
    auto* tolerance = Control<QLineEdit>(window, "Tolerance");
    EXPECT_TRUE(ambient->text().isEmpty());
    EXPECT_EQ(tolerance->text(),
              QString::fromStdString(general(0.25, 8, SystemDecimalSeparator())));

    ambient->setText("23,5");
    humidity->setText(" 41 ");
    tolerance->setText("0.1");
    window.UlozitPodminkyClick();
    EXPECT_TRUE(boxes_.Shown.empty());
    EXPECT_EQ(settings_.AmbientTemperature, 23.5);
    EXPECT_EQ(settings_.AmbientHumidity, 41);
    EXPECT_EQ(settings_.Tolerance, 0.1);
    EXPECT_EQ(LoadStationSettings().AmbientTemperature, 23.5);

    const StationSettings kept = settings_;
    const struct {
        QLineEdit* field;
        const char* text;
        const char* said;
    } wrong[] = {
        {ambient, "23 °C", "Teplota okolí"},
        {humidity, "101", "vlhkost"},
        {tolerance, "0", "Tolerance"},
        {tolerance, "-0,1", "Tolerance"},
    };
    for (const auto& w : wrong) {
        const QString before = w.field->text();
        w.field->setText(QString::fromUtf8(w.text));
        window.UlozitPodminkyClick();
        ASSERT_FALSE(boxes_.Shown.empty());
        EXPECT_TRUE(boxes_.Shown.back().Text.contains(QString::fromUtf8(w.said))) << w.text;
        EXPECT_EQ(settings_, kept) << w.text;
        w.field->setText(before);
    }

    // Empty fields: not given.
    ambient->clear();
    humidity->clear();
    tolerance->clear();
    window.UlozitPodminkyClick();
    EXPECT_EQ(LoadStationSettings().AmbientTemperature, std::nullopt);
    EXPECT_EQ(settings_.Tolerance, std::nullopt);
}

TEST_F(ReferenceWindow, ASettingsFileThatCannotBeWrittenIsSaidAndTheSettingsStay) {
    std::filesystem::create_directory(StationSettingsFileName);
    TReference window(history_, settings_, boxes_);
    Select(window, 1);
    window.PouzivatClick();
    ASSERT_EQ(boxes_.Shown.size(), 1u);
    EXPECT_EQ(boxes_.Shown[0].Kind, BoxKind::Error);
    EXPECT_TRUE(boxes_.Shown[0].Text.contains("Stanice.ini"));
    EXPECT_EQ(settings_.ReferenceInUse, inTime_.Uuid);
}

TEST(ConfirmReferenceInUse, AsksOnlyForAnOverdueReferenceAndGoesOnOnlyOnYes) {
    test::ScriptedBoxes boxes;
    const Date today = year(2024) / 3 / 2;
    const Instrument due = Made("Pt100 E", year(2024) / 3 / 2);
    EXPECT_TRUE(ConfirmReferenceInUse(std::nullopt, today, boxes));
    EXPECT_TRUE(ConfirmReferenceInUse(due, today, boxes));
    EXPECT_TRUE(boxes.Shown.empty());

    const Instrument late = Made("Pt100 E", year(2024) / 3 / 1);
    boxes.Answers = {BoxAnswer::Yes, BoxAnswer::No};
    EXPECT_TRUE(ConfirmReferenceInUse(late, today, boxes));
    EXPECT_FALSE(ConfirmReferenceInUse(late, today, boxes));
    ASSERT_EQ(boxes.Shown.size(), 2u);
    EXPECT_EQ(boxes.Shown[0].Kind, BoxKind::Warning);
    EXPECT_EQ(boxes.Shown[0].Buttons, BoxButtons::YesNo);
    EXPECT_TRUE(boxes.Shown[0].Text.contains("1. 3. 2024"));
    EXPECT_TRUE(boxes.Shown[0].Text.contains("Pt100 E"));
}

} // namespace
} // namespace zorm
