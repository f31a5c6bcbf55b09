// The calibration window and the constants view, against the in-process
// simulator on its virtual clock, with scripted boxes, in a scratch working
// directory: collection, entry, the sensor switch, the fit and its report,
// the commit, the exchanges of the parameter sets, the export and its view;
// and the calibration assistant beside the window: the verdict as the
// readings settle, the statistics that stay with each point, the fit's
// quality, the panel remembered in the data folder.
#include "data/calibration.h"
#include "data/evaluation.h"
#include "data/fit_statistics.h"
#include "data/number_text.h"
#include "data/param_files.h"
#include "tests/support/sensor_image.h"
#include "tests/windows/calibration_fixture.h"
#include "tests/windows/main_window_fixture.h"
#include "windows/Kalibrace.h"
#include "windows/Kontrola.h"
#include "windows/assistant_panel.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QGraphicsSimpleTextItem>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QtCharts/QChartView>
#include <QtCharts/QScatterSeries>

#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string_view>

namespace zorm {
namespace {

namespace fs = std::filesystem;

using namespace test;

TEST_F(CalibrationWindow, ControlsAsDesigned) {
    Open();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalibrace snímačů"));
    // The calibration assistant's panel, open, widens the window to the
    // right; nothing of the window moves.
    for (const bool assistant : {false, true}) {
        SCOPED_TRACE(assistant ? "assistant open" : "assistant closed");
        if (assistant) {
            window->Assistant().Toggle();
        }
        EXPECT_EQ(window->size(), QSize(733 + (assistant ? AssistantPanel::Width : 0), 632));
        test::ExpectControls(
            *window,
            {
                {"Label7", "QLabel", "", {16, 8, 0, 0}, "Kalibrace", true},
                {"Label5", "QLabel", "Snímač teploty č.1", {120, 8, 0, 0}, "Kalibrace", true},
                {"Label8", "QLabel", "", {328, 8, 0, 0}, "Kalibrace", false},
                {"Label2", "QLabel", "Měřená hodnota [bit]", {16, 32, 0, 0}, "Kalibrace", true},
                {"Label1", "QLabel", "Skutečná teplota [°C]", {128, 32, 0, 0}, "Kalibrace", true},
                {"Label3",
                 "QLabel",
                 "Vypočítaná teplota [°C]",
                 {248, 32, 0, 0},
                 "Kalibrace",
                 false},
                {"Label6", "QLabel", "Odchylka [°C]", {376, 32, 0, 0}, "Kalibrace", false},
                {"Memo2", "QPlainTextEdit", "", {8, 48, 121, 481}, "Kalibrace", true},
                {"Memo1", "QPlainTextEdit", "", {128, 48, 121, 481}, "Kalibrace", true},
                {"Memo3", "QPlainTextEdit", "", {248, 48, 121, 481}, "Kalibrace", false},
                {"Memo4", "QPlainTextEdit", "", {368, 48, 89, 481}, "Kalibrace", false},
                {"VysNadpis", "QLabel", ". . .", {16, 536, 0, 0}, "Kalibrace", true},
                {"VysPolynom", "QLabel", " . . . . . . . . ", {16, 560, 0, 0}, "Kalibrace", true},
                {"RadioGroup1",
                 "QGroupBox",
                 "Volba snímače teploty",
                 {512, 48, 129, 105},
                 "Kalibrace",
                 true},
                {"SpeedButton2", "QToolButton", "", {680, 64, 23, 22}, "Kalibrace", true},
                {"SpeedButton1", "QToolButton", "", {680, 128, 23, 22}, "Kalibrace", true},
                {"Bevel1", "QFrame", "", {488, 200, 177, 225}, "Kalibrace", false},
                {"Button1", "QPushButton", "Kalibrace", {528, 208, 89, 33}, "Kalibrace", true},
                {"Edit1", "QLineEdit", "0.0", {512, 252, 121, 0}, "Kalibrace", false},
                {"BitBtn5",
                 "QPushButton",
                 "Zapiš teplotu",
                 {512, 280, 121, 25},
                 "Kalibrace",
                 false},
                {"BitBtn6",
                 "QPushButton",
                 "Regresní výpočet",
                 {512, 324, 0, 25},
                 "Kalibrace",
                 false},
                {"BitBtn3",
                 "QPushButton",
                 "Uložit na disk",
                 {512, 364, 121, 25},
                 "Kalibrace",
                 false},
                {"Label4", "QLabel", "Připraven k měření", {520, 404, 0, 0}, "Kalibrace", false},
                {"BitBtn1",
                 "QPushButton",
                 "Export kalibračních konstant",
                 {488, 440, 0, 41},
                 "Kalibrace",
                 true},
                {"BitBtn2",
                 "QPushButton",
                 "Kontrola kalibračních konstant",
                 {488, 488, 0, 25},
                 "Kalibrace",
                 true},
                {"BitBtn4", "QPushButton", "Zpět", {552, 552, 75, 25}, "Kalibrace", true},
            });
    }
    window->Assistant().Toggle();
    EXPECT_TRUE(Control<QRadioButton>("RadioGroup1Item1")->isChecked());
    EXPECT_EQ(Control<QToolButton>("SpeedButton2")->toolTip(),
              "Uživatelské parametry přepíše továrními parametry");
    EXPECT_EQ(Control<QToolButton>("SpeedButton1")->toolTip(),
              "Tovární parametry přepíše uživatelskými parametry");
    for (const char* column : {"Memo1", "Memo2", "Memo3", "Memo4"}) {
        auto* memo = Control<QPlainTextEdit>(column);
        EXPECT_TRUE(memo->isReadOnly()) << column;
        EXPECT_EQ(memo->document()->blockCount(), 30) << column;
    }
    EXPECT_EQ(Timer()->interval(), 333);
    EXPECT_EQ(Timer()->timerType(), Qt::PreciseTimer);
    EXPECT_FALSE(Timer()->isActive());
    EXPECT_EQ(Control<QLabel>("Label5")->palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_TRUE(Control<QPushButton>("Button1")->font().bold());
    const QStringList order = {"BitBtn3", "Memo1",   "Memo2",   "BitBtn4",     "Edit1",
                               "Memo3",   "BitBtn5", "BitBtn6", "RadioGroup1", "Memo4",
                               "Button1", "BitBtn1", "BitBtn2"};
    EXPECT_EQ(test::TabChain(Control("BitBtn3"), order), order);
    // The first of them that is shown holds the focus at the opening.
    window->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(window->focusWidget(), Control("Memo1"));
}

TEST_F(CalibrationWindow, ActivationCopiesTheUserSetAndListsACalibratedSensorOne) {
    context.UserParams.Count(1) = 5; // not calibrated: not listed
    Open();
    EXPECT_EQ(context.CalibSensor, 1);
    EXPECT_EQ(context.WorkParams, context.UserParams);
    EXPECT_FALSE(Shown("Memo3"));
    EXPECT_EQ(Text("Label7"), "");
    EXPECT_EQ(Text("VysNadpis"), ". . .");
    EXPECT_EQ(Text("VysPolynom"), " . . . . . . . . ");

    context.UserParams = CalibratedSet(1, 6);
    context.UserParams.Count(1) = 40; // a damaged count lists the 30 slots
    context.DeviceSettings.DeviceAddress = 7;
    Open();
    const Listing listing = MakeListing(context.UserParams, 1, Sep());
    ASSERT_EQ(listing.Rows.size(), 30u);
    for (int k : {1, 6, 30}) {
        SCOPED_TRACE(k);
        EXPECT_EQ(Row("Memo2", k).toStdString(), listing.Rows[k - 1].Raw);
        EXPECT_EQ(Row("Memo1", k).toStdString(), listing.Rows[k - 1].TrueTemp);
        EXPECT_EQ(Row("Memo3", k).toStdString(), listing.Rows[k - 1].Fitted);
        EXPECT_EQ(Row("Memo4", k).toStdString(), listing.Rows[k - 1].Deviation);
    }
    EXPECT_TRUE(Shown("Memo3") && Shown("Memo4") && Shown("Label3") && Shown("Label6"));
    EXPECT_EQ(Text("Label8").toStdString(), "Max.odchylka: " + listing.MaxDeviation);
    EXPECT_EQ(Text("Label7"), "Adresa 7");
    EXPECT_EQ(Text("VysNadpis"), "Výsledný polynom");
    EXPECT_EQ(Text("VysPolynom").toStdString(),
              PolynomialLine(CubicOf(context.UserParams.Coefficients, 1), Sep()));
}

TEST_F(CalibrationWindow, WholeCollectionOfTwentyNinePointsAndItsFit) {
    Open();
    window->Button1Click();
    EXPECT_TRUE(Timer()->isActive());
    EXPECT_TRUE(Shown("BitBtn5") && Shown("Bevel1") && Shown("Label4"));
    EXPECT_FALSE(Shown("Button1"));
    EXPECT_EQ(Text("Label4"), "Probíhá měření . . . ");
    EXPECT_EQ(context.WorkParams.Count(1), 1);

    Tick(1, 10000);
    EXPECT_EQ(context.WorkParams.Raw(1, 1), 10000);
    EXPECT_EQ(Row("Memo2", 1), "10000");
    const std::vector<std::uint8_t> frame = {'*', '1', '1', 13};
    std::vector<std::uint8_t> written;
    for (const sim::LineEvent& event : line.Events()) {
        written = event.Kind == sim::EventKind::Write ? event.Bytes : written;
    }
    EXPECT_EQ(written, frame);

    window->BitBtn5Click();
    EXPECT_FALSE(Timer()->isActive());
    EXPECT_TRUE(Shown("Edit1"));
    EXPECT_EQ(Control<QLineEdit>("Edit1")->text(), "");
    EXPECT_EQ(Control<QPushButton>("BitBtn5")->text(), "Potvrď zápis");
    EXPECT_TRUE(context.EntryOpen);
    EXPECT_EQ(Text("Label4"), "Zadání skutečné teploty");
    Control<QLineEdit>("Edit1")->setText(Local("20.057"));
    window->BitBtn5Click();
    EXPECT_EQ(context.WorkParams.TrueTemp(1, 1), 20.057F);
    EXPECT_EQ(Row("Memo1", 1), Local("20.06"));
    EXPECT_EQ(context.WorkParams.Count(1), 2);
    EXPECT_TRUE(Timer()->isActive());
    EXPECT_FALSE(Shown("Edit1"));
    EXPECT_EQ(Control<QPushButton>("BitBtn5")->text(), "Zapiš teplotu");
    EXPECT_EQ(Text("Label4"), "Probíhá měření . . .");

    for (int k = 2; k <= 29; ++k) {
        Tick(1, 10000 + 2500 * k);
        Enter(Local(k % 2 == 0 ? "20.5" : "19.75") + QString::number(k));
        // The fit is offered with the 4th point (Count 5), not before.
        EXPECT_EQ(Shown("BitBtn6"), k >= 4) << k;
    }
    EXPECT_EQ(TakeBoxes(), std::vector<QString>{
                               QStringLiteral("Byl dosažen max.počet hodnot, proveďte výpočet.")});
    EXPECT_EQ(context.WorkParams.Count(1), 30);
    EXPECT_FALSE(Shown("BitBtn5"));
    EXPECT_TRUE(Timer()->isActive());
    Tick(1, 99999); // slot 30 takes readings until the fit
    EXPECT_EQ(context.WorkParams.Raw(1, 30), 99999);

    window->BitBtn6Click();
    EXPECT_FALSE(Timer()->isActive());
    EXPECT_EQ(context.WorkParams.Count(1), 29);
    EXPECT_EQ(context.WorkParams.Raw(1, 30), 0);
    EXPECT_EQ(Row("Memo2", 30), "      ");
    const auto cubic = FitCubic(context.WorkParams, 1, 29);
    ASSERT_TRUE(cubic);
    EXPECT_EQ(CubicOf(context.WorkParams.Coefficients, 1), *cubic);
    const FitReport report = MakeFitReport(context.WorkParams, 1, 29, Sep());
    EXPECT_EQ(Row("Memo3", 29).toStdString(), report.Rows[28].Fitted);
    EXPECT_EQ(Row("Memo4", 29).toStdString(), report.Rows[28].Deviation);
    EXPECT_EQ(Row("Memo3", 30), "");
    EXPECT_EQ(Text("Label8").toStdString(), "Max.odchylka: " + report.MaxDeviation);
    EXPECT_EQ(Text("VysPolynom").toStdString(), PolynomialLine(*cubic, Sep()));
    EXPECT_TRUE(Shown("BitBtn3") && Shown("Memo3") && Shown("Memo4") && Shown("Label8"));
    EXPECT_FALSE(Shown("BitBtn6") || Shown("Label4") || Shown("Button1"));
    EXPECT_EQ(context.UserParams, SensorParamSet{}); // nothing committed yet
}

TEST_F(CalibrationWindow, RejectedEntriesAndFailedReadingsKeepThePointInProgress) {
    Open();
    window->Button1Click();
    Enter(Local("1.5")); // before any reading: the raw value is 0
    EXPECT_EQ(context.WorkParams.Raw(1, 1), 0);
    EXPECT_EQ(context.WorkParams.Count(1), 2);

    Tick(1, 5000);
    for (const char* typed : {"", "abc", "1..5", "1e39"}) {
        Enter(QString::fromLatin1(typed));
        EXPECT_EQ(TakeBoxes(), std::vector<QString>{QStringLiteral("Chybný formát čísla")})
            << typed;
        EXPECT_EQ(context.WorkParams.Count(1), 2);
        EXPECT_TRUE(Timer()->isActive());
        EXPECT_EQ(Text("Label4"), "Probíhá měření . . .");
    }
    line.Converter().SetFault(sim::Fault::Silence);
    window->Timer1Timer();
    EXPECT_EQ(Text("Label4"), "Chybné měření");
    EXPECT_EQ(context.WorkParams.Raw(1, 2), 5000);
    line.Converter().SetFault(sim::Fault::None);
    Tick(1, 6000);
    EXPECT_EQ(Text("Label4"), "Chybné měření"); // a good reading does not reset it
    Enter(Local("0.1"));
    EXPECT_EQ(context.WorkParams.Raw(1, 2), 6000);
    EXPECT_EQ(context.WorkParams.TrueTemp(1, 2), 0.1F);
    EXPECT_EQ(Row("Memo1", 2), Local("0.10"));

    // Enter in the field confirms the entry as "Potvrď zápis" does.
    Tick(1, 7000);
    window->BitBtn5Click();
    Control<QLineEdit>("Edit1")->setText(Local("0.2"));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(Control("Edit1"), &enter);
    EXPECT_FALSE(context.EntryOpen);
    EXPECT_EQ(context.WorkParams.TrueTemp(1, 3), 0.2F);
    EXPECT_EQ(context.WorkParams.Count(1), 4);
}

TEST_F(CalibrationWindow, ASensorSwitchCarriesTheCollectionToTheNewSensor) {
    context.UserParams = CalibratedSet(2, 3);
    Open();
    Collect(1, {{100, "1"}});
    Select(2);
    EXPECT_EQ(context.CalibSensor, 2);
    EXPECT_EQ(Text("Label5"), "Snímač teploty č.2");
    EXPECT_EQ(Row("Memo2", 1), "2000");  // listed
    EXPECT_EQ(Row("Memo2", 4), "     "); // blanked
    EXPECT_TRUE(Shown("Button1") && Timer()->isActive());
    Tick(2, 777);
    Enter(Local("5"));
    EXPECT_EQ(context.WorkParams.Raw(2, 3), 777);
    EXPECT_EQ(context.WorkParams.TrueTemp(2, 3), 5.0F);
    EXPECT_EQ(context.WorkParams.Count(2), 4);

    // A sensor without a slot in progress begins its points at slot 1.
    Select(3);
    EXPECT_EQ(Text("VysPolynom").toStdString(), PolynomialLine(Cubic{}, Sep()));
    context.WorkParams.Count(3) = 200;
    Tick(3, 888);
    EXPECT_EQ(context.WorkParams.Count(3), 1);
    EXPECT_EQ(context.WorkParams.Raw(3, 1), 888);
    EXPECT_EQ(Row("Memo2", 1), "888");
    // Slot 30 never takes a true temperature.
    context.WorkParams.Count(3) = 30;
    Enter(Local("7"));
    EXPECT_EQ(context.WorkParams.TrueTemp(3, 30), 0.0F);
    EXPECT_EQ(TakeBoxes(), std::vector<QString>{
                               QStringLiteral("Byl dosažen max.počet hodnot, proveďte výpočet.")});
    EXPECT_FALSE(Shown("BitBtn5"));
}

TEST_F(CalibrationWindow, LeavingTheSensorChoiceBlanksThePointColumns) {
    context.UserParams = CalibratedSet(1, 3);
    Open();
    test::ShowActive(*window);
    Control("RadioGroup1Item1")->setFocus();
    Control("RadioGroup1Item2")->setFocus(); // within the choice
    EXPECT_EQ(Row("Memo2", 1), "2000");
    Control("Button1")->setFocus();
    EXPECT_EQ(Row("Memo2", 1), "     ");
    EXPECT_EQ(Row("Memo1", 3), "     ");
    EXPECT_NE(Row("Memo3", 1), "");
}

TEST_F(CalibrationWindow, FailedFitsAreNeverOfferedForCommit) {
    Open();
    // Four equal readings: the system is singular.
    Collect(1, {{100, "1"}, {100, "2"}, {100, "3"}, {100, "4"}});
    window->BitBtn6Click();
    EXPECT_EQ(TakeBoxes(), std::vector<QString>{QStringLiteral("Chybný regresní výpočet")});
    EXPECT_EQ(context.WorkParams.Count(1), 4);
    EXPECT_EQ(CubicOf(context.WorkParams.Coefficients, 1), Cubic{});
    EXPECT_FALSE(Shown("BitBtn3") || Shown("Memo3") || Timer()->isActive());
    EXPECT_TRUE(Shown("Button1"));

    // Fewer than four points, and no slot at all.
    Collect(1, {{100, "1"}, {200, "2"}, {300, "3"}});
    EXPECT_FALSE(Shown("BitBtn6"));
    window->BitBtn6Click();
    EXPECT_EQ(TakeBoxes(), std::vector<QString>{QStringLiteral("Chybný regresní výpočet")});
    EXPECT_EQ(context.WorkParams.Count(1), 3);
    Select(3);
    window->BitBtn6Click();
    EXPECT_EQ(context.WorkParams.Count(3), 0);
    EXPECT_FALSE(Shown("BitBtn3"));

    // A good fit, then a new collection: neither the fit nor the commit
    // of the old one stays on offer.
    Select(1);
    Collect(1, {{1000, "1"}, {2000, "3"}, {3000, "4"}, {4000, "8"}});
    window->BitBtn6Click();
    EXPECT_TRUE(Shown("BitBtn3"));
    window->Button1Click();
    EXPECT_FALSE(Shown("BitBtn3") || Shown("BitBtn6"));
}

// The faulted row says so in both columns and no row below it shows
// anything, neither the listing of the opening nor an earlier report.
TEST_F(CalibrationWindow, DeviationsBeyondTheSingleRangeEndTheReport) {
    context.UserParams = CalibratedSet(1, 12);
    Open();
    // The middle point lies about 4.1E38 off the cubic through the others.
    Collect(1, {{0, "3e38"}, {1, "-3e38"}, {2, "3e38"}, {3, "-3e38"}, {4, "3e38"}});
    window->BitBtn6Click();
    EXPECT_EQ(TakeBoxes(), std::vector<QString>{QStringLiteral("Chyba výpočtu")});
    const FitReport report = MakeFitReport(context.WorkParams, 1, 5, Sep());
    ASSERT_EQ(report.Rows.size(), 2u);
    for (int k = 1; k <= 30; ++k) {
        SCOPED_TRACE(k);
        const std::string fitted = k <= 2   ? report.Rows[k - 1].Fitted
                                   : k == 3 ? EvaluationError
                                            : "";
        const std::string deviation = k <= 2   ? report.Rows[k - 1].Deviation
                                      : k == 3 ? EvaluationError
                                               : "";
        EXPECT_EQ(Row("Memo3", k).toStdString(), fitted);
        EXPECT_EQ(Row("Memo4", k).toStdString(), deviation);
    }
    EXPECT_FALSE(Shown("BitBtn3") || Shown("Label8"));
    EXPECT_TRUE(Shown("Button1"));
}

// A fit of n points shows its n rows and nothing below them: the rows of the
// listing made at the opening go. The point columns keep their rows.
TEST_F(CalibrationWindow, AFitLeavesNoRowOfTheListingBelowItsOwn) {
    context.UserParams = CalibratedSet(1, 12);
    Open();
    ASSERT_NE(Row("Memo3", 12), "");
    Collect(1, {{1000, "1"}, {2000, "3"}, {3000, "4"}, {4000, "8"}, {5000, "9"}});
    window->BitBtn6Click();
    const FitReport report = MakeFitReport(context.WorkParams, 1, 5, Sep());
    ASSERT_EQ(report.Rows.size(), 5u);
    for (int k = 1; k <= 30; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(Row("Memo3", k).toStdString(), k <= 5 ? report.Rows[k - 1].Fitted : "");
        EXPECT_EQ(Row("Memo4", k).toStdString(), k <= 5 ? report.Rows[k - 1].Deviation : "");
    }
    EXPECT_EQ(Row("Memo2", 12), "24000");
}

// Texts wider than designed (the entry's status line, a maximum with an
// exponent) widen their labels where they stand; a polynomial line that
// would reach "Zpět" continues on a second line left of it, whole.
TEST_F(CalibrationWindow, TextsFitTheirLabelsAndThePolynomialStaysLeftOfZpet) {
    SensorParamSet& user = context.UserParams;
    user.Raw(1, 1) = 1;
    user.TrueTemp(1, 1) = -1234567;
    user.Count(1) = 1;
    user.Calibrated(1) = 1;
    user.Coefficients.A3(1) = -1.2345678e-14;
    user.Coefficients.A2(1) = -2.3456789e-9;
    user.Coefficients.A1(1) = -0.0012345678;
    user.Coefficients.A0(1) = -12345.678;
    user.Coefficients.A0(2) = 1;
    Open();
    window->Button1Click();
    window->BitBtn5Click();
    EXPECT_EQ(Text("Label4"), "Zadání skutečné teploty");
    EXPECT_TRUE(Text("Label8").contains(QLatin1Char('E'))) << Text("Label8").toStdString();
    for (const auto& [name, place] :
         {std::pair{"Label4", QPoint(520, 404)}, std::pair{"Label8", QPoint(328, 8)},
          std::pair{"Label7", QPoint(16, 8)}}) {
        auto* label = Control<QLabel>(name);
        EXPECT_LE(label->sizeHint().width(), label->width()) << name;
        EXPECT_EQ(label->pos(), place) << name;
    }

    auto* polynomial = Control<QLabel>("VysPolynom");
    const QRect back = Control("BitBtn4")->geometry();
    EXPECT_EQ(Text("VysPolynom").toStdString(),
              PolynomialLine(CubicOf(user.Coefficients, 1), Sep()));
    EXPECT_EQ(polynomial->pos(), QPoint(16, 560));
    EXPECT_LT(polynomial->geometry().right(), back.left());
    EXPECT_GT(polynomial->height(), 2 * polynomial->fontMetrics().height() - 1); // two lines
    EXPECT_LE(polynomial->heightForWidth(polynomial->width()), polynomial->height());
    EXPECT_LE(polynomial->geometry().bottom(), window->height());
    // A short one stays on one line.
    Select(2);
    EXPECT_LT(polynomial->height(), 2 * polynomial->fontMetrics().height());
    EXPECT_LE(polynomial->heightForWidth(polynomial->width()), polynomial->height());
}

// Deviations of -0.5 and -80 (true minus fitted, the cubic gives 100):
// the listing's maximum is the larger one with its sign.
TEST_F(CalibrationWindow, ListingShowsTheLargestDeviationWithItsSign) {
    SensorParamSet& user = context.UserParams;
    user.Raw(1, 1) = 1;
    user.TrueTemp(1, 1) = 99.5F;
    user.Raw(1, 2) = 2;
    user.TrueTemp(1, 2) = 20;
    user.Count(1) = 2;
    user.Calibrated(1) = 1;
    user.Coefficients.A0(1) = 100;
    Open();
    EXPECT_EQ(Text("Label8"), "Max.odchylka: " + Local("-80.000"));
}

TEST_F(CalibrationWindow, CommitStoresTheFitAndAFailedSaveKeepsItInMemory) {
    context.UserParams = CalibratedSet(3, 5);
    Open();
    Collect(1, {{1000, "1"}, {2000, "3"}, {3000, "4"}, {4000, "8"}, {5000, "9"}});
    window->BitBtn6Click();
    window->BitBtn3Click();
    EXPECT_EQ(context.WorkParams.Calibrated(1), 1);
    EXPECT_EQ(context.UserParams, context.WorkParams);
    EXPECT_EQ(context.UserParams.Count(3), 5); // the other sensors as copied
    Context stored;
    ASSERT_TRUE(LoadParameters(stored));
    EXPECT_EQ(stored.UserParams, context.WorkParams);
    EXPECT_FALSE(Shown("BitBtn3"));
    EXPECT_TRUE(Shown("Button1"));
    EXPECT_TRUE(boxes.Shown.empty());

    MakeReadOnly(ParametersFileName);
    context.WorkParams.Raw(1, 1) = 9;
    window->BitBtn3Click();
    EXPECT_EQ(TakeBoxes(), std::vector<QString>{QStringLiteral("Chyba při ukládání konstant")});
    EXPECT_EQ(context.UserParams.Raw(1, 1), 9); // in memory all the same
}

// A commit takes the sensors fitted in this opening and nothing else:
// Parametry.par against the bytes every sensor must have after each of these
// sequences, starting from a user set in which all three are calibrated.
TEST_F(CalibrationWindow, CommitTakesOnlyTheSensorsFittedInThisOpening) {
    const Points first = {{1000, "1"}, {2000, "3"}, {3000, "4"}, {4000, "8"}, {5000, "9.5"}};
    const Points second = {{1500, "-2"}, {2500, "4.25"}, {3500, "7"}, {4500, "11"}};
    const Points singular = {{100, "1"}, {100, "2"}, {100, "3"}, {100, "4"}};
    SensorParamSet stored;
    Calibrate(stored, 1, 6);
    Calibrate(stored, 2, 5);
    Calibrate(stored, 3, 7);
    stored.Padding = {0xA5, 0x5A};

    struct Sequence {
        const char* name;
        std::function<void()> steps;
        std::map<int, const Points*> fitted; // the other sensors stay as stored
    };
    const Sequence sequences[] = {
        {"a collection left on sensor 1, then sensor 2 fitted",
         [&] {
             window->Button1Click(); // clears sensor 1 in the working copy
             Tick(1, 777);
             Select(2);
             Collect(2, second);
             window->BitBtn6Click();
         },
         {{2, &second}}},
        {"sensor 1 fitted, then sensor 2 selected",
         [&] {
             Collect(1, first);
             window->BitBtn6Click();
             Select(2);
         },
         {{1, &first}}},
        {"sensors 1 and 2 fitted, then sensor 1 collected again",
         [&] {
             Collect(1, first);
             window->BitBtn6Click();
             Select(2);
             Collect(2, second);
             window->BitBtn6Click();
             Select(1);
             Collect(1, {{9000, "90"}, {9100, "91"}});
         },
         {{2, &second}}},
        {"sensor 1 fitted, then a failed fit of sensor 2",
         [&] {
             Collect(1, first);
             window->BitBtn6Click();
             Select(2);
             Collect(2, singular);
             window->BitBtn6Click();
             EXPECT_EQ(TakeBoxes(),
                       std::vector<QString>{QStringLiteral("Chybný regresní výpočet")});
         },
         {{1, &first}}},
    };
    for (const Sequence& sequence : sequences) {
        SCOPED_TRACE(sequence.name);
        fs::remove(ParametersFileName);
        context.UserParams = stored;
        Open();
        sequence.steps();
        ASSERT_TRUE(Shown("BitBtn3"));
        window->BitBtn3Click();
        EXPECT_TRUE(boxes.Shown.empty());

        SensorParamSet expected = stored;
        for (const auto& [s, points] : sequence.fitted) {
            SetCollectedFit(expected, s, *points);
            // Listed again when selected.
            EXPECT_EQ(context.WorkParams.Calibrated(s), 1);
        }
        const SensorParamSet::Image file = StoredUserSet();
        for (int s = 1; s <= 3; ++s) {
            EXPECT_EQ(SensorBytes(file, s), SensorBytes(expected.ToBytes(), s)) << "sensor " << s;
        }
        EXPECT_EQ(file, expected.ToBytes());
        EXPECT_EQ(context.UserParams, expected);
    }
}

// Every control of the window that hides itself leaves the focus with the
// window: never with the sensor options, where the next click elsewhere
// blanked the point columns and an arrow key switched the sensor.
TEST_F(CalibrationWindow, ControlsThatHideThemselvesLeaveTheFocusWithTheWindow) {
    Open();
    test::ShowActive(*window);
    const auto press = [this](const char* name) {
        QWidget* control = Control(name);
        control->setFocus();
        test::Press(window.get(), Qt::Key_Space);
        EXPECT_TRUE(control->isHidden()) << name;
        EXPECT_EQ(QApplication::focusWidget(), window.get()) << name;
    };
    press("Button1");
    for (const auto& [raw, typed] : Points{{1000, "1"}, {2000, "3"}, {3000, "4"}, {4000, "8"}}) {
        Tick(1, raw);
        window->BitBtn5Click();
        ASSERT_EQ(QApplication::focusWidget(), Control("Edit1"));
        Control<QLineEdit>("Edit1")->setText(Local(typed));
        test::Press(window.get(), Qt::Key_Return); // Enter confirms and hides the field
        EXPECT_TRUE(Control("Edit1")->isHidden());
        EXPECT_EQ(QApplication::focusWidget(), window.get());
    }
    press("BitBtn6");
    test::Press(window.get(), Qt::Key_Down);
    EXPECT_EQ(context.CalibSensor, 1);
    Control("Memo2")->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(Row("Memo1", 1), Local("1.00"));
    EXPECT_EQ(Row("Memo2", 4), "4000");
    press("BitBtn3");
    press("BitBtn1");

    // The entry button goes with the 29th point.
    window->Button1Click();
    context.WorkParams.Count(1) = 29;
    window->BitBtn5Click();
    Control<QLineEdit>("Edit1")->setText(Local("5"));
    press("BitBtn5");
    EXPECT_EQ(TakeBoxes(), std::vector<QString>{
                               QStringLiteral("Byl dosažen max.počet hodnot, proveďte výpočet.")});
}

TEST_F(CalibrationWindow, ExchangesAskTwiceAndLeaveTheWorkingCopyAlone) {
    context.UserParams = CalibratedSet(1, 4);
    context.FactoryParams = CalibratedSet(2, 6);
    const SensorParamSet user = context.UserParams;
    const SensorParamSet factory = context.FactoryParams;
    Open();

    boxes.Answers = {BoxAnswer::No};
    window->SpeedButton1Click();
    boxes.Answers = {BoxAnswer::Yes, BoxAnswer::No};
    window->SpeedButton2Click();
    EXPECT_EQ(TakeBoxes(),
              (std::vector<QString>{"Chceš parametry všech snímačů uložit jako tovární parametry?",
                                    "Chceš nahradit parametry všech snímačů továrními parametry?",
                                    "Opravdu mám přepsat uživatelské parametry?"}));
    EXPECT_EQ(context.UserParams, user);
    EXPECT_EQ(context.FactoryParams, factory);
    EXPECT_FALSE(fs::exists(ParametersFileName));

    boxes.Answers = {BoxAnswer::Yes, BoxAnswer::Yes};
    window->SpeedButton2Click();
    EXPECT_EQ(context.UserParams, factory);
    EXPECT_EQ(context.WorkParams, user);
    Context stored;
    ASSERT_TRUE(LoadParameters(stored));
    EXPECT_EQ(stored.UserParams, factory);
    boxes.Answers = {BoxAnswer::Yes, BoxAnswer::Yes};
    context.UserParams = user;
    window->SpeedButton1Click();
    EXPECT_EQ(context.FactoryParams, user);
    EXPECT_EQ(TakeBoxes(),
              (std::vector<QString>{"Chceš nahradit parametry všech snímačů továrními parametry?",
                                    "Opravdu mám přepsat uživatelské parametry?",
                                    "Nové uživatelské parametry byl uloženy na disk",
                                    "Chceš parametry všech snímačů uložit jako tovární parametry?",
                                    "Opravdu mám přepsat tovární parametry?",
                                    "Nové tovární parametry byl uloženy na disk"}));

    MakeReadOnly(ParametersFileName);
    boxes.Answers = {BoxAnswer::Yes, BoxAnswer::Yes};
    window->SpeedButton1Click();
    EXPECT_EQ(TakeBoxes().back(), "Chyba při ukládání na disk");
}

TEST_F(CalibrationWindow, ExportTakesTheUserSetAndTheViewShowsIt) {
    context.UserParams.Coefficients.A1(1) = 1;
    context.UserParams.Coefficients.A3(2) = -0.00001234;
    context.UserParams.Coefficients.A0(3) = 1234.5;
    Open();
    Collect(1, {{1000, "1"}, {2000, "3"}, {3000, "4"}, {4000, "8"}});
    window->BitBtn6Click(); // a fit, not committed: the export ignores it
    window->BitBtn1Click();
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(context.PolyCoeffs, context.UserParams.Coefficients);
    const auto image = context.UserParams.Coefficients.ToBytes();
    EXPECT_EQ(FileBytes(ConstantsFileName), std::vector<std::uint8_t>(image.begin(), image.end()));
    EXPECT_TRUE(fs::exists(ConstantsTextFileName));
    EXPECT_FALSE(Shown("BitBtn1"));
    EXPECT_TRUE(Shown("BitBtn2"));

    context.PolyCoeffs = PolyCoeffs{};
    modal.Drive = [this](QDialog& dialog) {
        auto* view = qobject_cast<TKontrol*>(&dialog);
        EXPECT_NE(view, nullptr);
        view->FormActivate();
        const auto value = [view](const char* name) {
            return view->findChild<QLabel*>(QString::fromLatin1(name))->text();
        };
        EXPECT_EQ(value("Label13"), "1");
        EXPECT_EQ(value("Label12"), "0");
        EXPECT_EQ(value("Label15"), Local("-1.234E-5"));
        EXPECT_EQ(value("Label22"), Local("1234.5"));
        EXPECT_EQ(view->windowTitle(), "Kontrola kalibračních konstant");
        EXPECT_EQ(view->size(), QSize(904, 359));
        return 0;
    };
    window->BitBtn2Click();
    EXPECT_EQ(modal.Runs, 1);
    EXPECT_TRUE(boxes.Shown.empty());

    // Without the file the view says so once and shows what is in memory.
    fs::remove(ConstantsFileName);
    window->BitBtn2Click();
    EXPECT_EQ(TakeBoxes(), std::vector<QString>{
                               QStringLiteral("Chyba při čtení konstant ze souboru ZORM5816.par")});
}

TEST_F(CalibrationWindow, ExportFailuresShowTheirBoxesAndBringTheButtonBack) {
    Open();
    MakeReadOnly(ConstantsFileName);
    window->BitBtn1Click();
    EXPECT_EQ(TakeBoxes(), std::vector<QString>{QStringLiteral(
                               "Chyba při ukládání konstant do souboru ZORM5816.par")});
    EXPECT_TRUE(fs::exists(ConstantsTextFileName)); // still attempted
    EXPECT_TRUE(Shown("BitBtn1"));
    EXPECT_FALSE(Shown("BitBtn2"));

    fs::permissions(ConstantsFileName, fs::perms::owner_write, fs::perm_options::add);
    MakeReadOnly(ConstantsTextFileName);
    window->BitBtn1Click();
    EXPECT_EQ(TakeBoxes(), std::vector<QString>{QStringLiteral(
                               "Chyba při ukládání konstant do souboru ZORM5816.txt")});
    EXPECT_TRUE(Shown("BitBtn1"));
}

TEST_F(CalibrationWindow, BackAndEscapeStoreNothing) {
    Open();
    Collect(1, {{1000, "1"}, {2000, "3"}, {3000, "4"}, {4000, "8"}});
    window->BitBtn6Click();
    window->Button1Click();
    Control<QPushButton>("BitBtn4")->click();
    EXPECT_EQ(window->result(), QDialog::Rejected);
    EXPECT_FALSE(Timer()->isActive());

    Open();
    window->Button1Click();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &escape);
    EXPECT_EQ(window->result(), QDialog::Rejected);
    EXPECT_FALSE(Timer()->isActive());
    EXPECT_EQ(context.UserParams, SensorParamSet{});
    EXPECT_FALSE(fs::exists(ParametersFileName));
}

// The main window opens the calibration window; its periodic measurement
// and the window's readings take turns on the line.
class MainWindowCalibration : public test::MainWindowTest {};

TEST_F(MainWindowCalibration, MenuOpensTheWindowWhileThePeriodicMeasurementGoesOn) {
    DeviceSettings settings;
    settings.PortNumber = 1;
    settings.DeviceAddress = 1;
    WriteSettings(settings);
    sim::SimLine line = ports.Add(1);
    window.FormActivate();
    boxes.Shown.clear();
    Control<QPushButton>("BitBtn3")->click(); // periodic, 1 s
    line.ClearEvents();

    modal.Drive = [&](QDialog& dialog) {
        auto* calibration = qobject_cast<TKalibrace*>(&dialog);
        EXPECT_NE(calibration, nullptr);
        calibration->FormActivate();
        calibration->findChild<QRadioButton*>("RadioGroup1Item2")->setChecked(true);
        calibration->Button1Click();
        QEventLoop loop;
        QTimer::singleShot(1500, &loop, &QEventLoop::quit);
        loop.exec();
        return 0;
    };
    Control<QAction>("Parametry1")->trigger();
    EXPECT_EQ(modal.Runs, 1);
    int channel1 = 0;
    int channel2 = 0;
    for (const test::Frame& frame : Frames(line)) {
        channel1 += frame[2] == '1' ? 1 : 0;
        channel2 += frame[2] == '2' ? 1 : 0;
    }
    EXPECT_EQ(channel1, 1); // the main window's pass after 1 s
    EXPECT_GE(channel2, 4); // the readings every 333 ms
    EXPECT_EQ(Control<QLabel>("Label2")->text(), "21500");
    EXPECT_EQ(context.WorkParams.Raw(2, 1), 22500);
}

// The calibration assistant beside the window, on the line's virtual clock:
// its ticks come 333 ms apart.
class Assistant : public CalibrationWindow {
protected:
    void Open() {
        CalibrationWindow::Open();
        window->Assistant().SetClock(
            [line = line] { return std::chrono::duration<double>(line.Now()).count(); });
    }
    AssistantPanel& Panel() { return window->Assistant(); }

    void Tick(int s, std::int32_t raw) {
        const sim::VirtualTime start = line.Now();
        CalibrationWindow::Tick(s, raw);
        line.Advance(start + std::chrono::milliseconds(333) - line.Now());
    }
    // The readings of sensor 1 settling from 20 600 towards 20 000 (time
    // constant 12 s) from `from` seconds into the collection for `seconds`.
    void Settle(double from, double seconds) {
        for (double t = from; t < from + seconds; t += 0.333) {
            Tick(1, 20000 + static_cast<std::int32_t>(std::lround(600 * std::exp(-t / 12))));
        }
    }
    Stability VerdictAt(int slot) {
        const std::optional<PointStability>& taken = window->StabilityAtPoint(1, slot);
        EXPECT_TRUE(taken) << slot;
        return taken ? taken->Judgement.Verdict : Stability::TooFewData;
    }
};

// Without a calibration in force, judged in bits against 2 bits/min and
// 1 bit: "málo dat" until the readings cover the 30 s window, "nestabilní"
// while they still fall, "stabilní" once they have settled, and never back.
TEST_F(Assistant, VerdictGoesFromTooFewDataToUnstableToStableAsTheReadingsSettle) {
    Open();
    Panel().Toggle();
    window->Button1Click();
    std::vector<std::pair<QString, double>> changes;
    for (int k = 0; k < 450; ++k) {
        const double t = k * 0.333;
        Settle(t, 0.333);
        const QString verdict = Text("Verdikt");
        if (changes.empty() || changes.back().first != verdict) {
            changes.emplace_back(verdict, t);
        }
    }
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].first, "málo dat");
    EXPECT_EQ(changes[1].first, "nestabilní");
    EXPECT_EQ(changes[2].first, "stabilní");
    // The window is covered from 29 s on (a second's gap allowed at its start).
    EXPECT_GE(changes[1].second, 28.9);
    EXPECT_LE(changes[1].second, 30.0);
    // The slope of the readings falls below 2 bits/min some 110 s in.
    EXPECT_GT(changes[2].second, 95);
    EXPECT_LT(changes[2].second, 125);
    EXPECT_EQ(Text("PrumerCelsius"), "–");
    EXPECT_NE(Text("PrumerBit"), "–");
    EXPECT_TRUE(Control<QLabel>("PrumerBit")->font().bold());
}

// With a calibration in force in the user set (the window's working copy of
// the sensor is cleared by the collection), the verdict is taken in °C: a
// reading that wanders by a bit is within 1 bit but not within 0.005 °C at
// 0.01 °C per bit, until the limit is raised in the panel, which judges the
// same readings again at once. W counts: a window of 10 s is covered sooner.
TEST_F(Assistant, JudgedInCelsiusThroughTheCubicInForceAgainstLimitsSetInThePanel) {
    context.UserParams.Coefficients.A1(1) = 0.01;
    context.UserParams.Coefficients.A0(1) = -200;
    Open();
    Panel().Toggle();
    window->Button1Click();
    for (int k = 0; k < 100; ++k) {
        Tick(1, 20000 + (k % 3) - 1);
    }
    ASSERT_TRUE(Panel().Judgement().Celsius);
    EXPECT_EQ(Text("Verdikt"), "nestabilní");
    EXPECT_EQ(Text("PrumerCelsius"), Local("0.000"));
    EXPECT_TRUE(Control<QLabel>("PrumerCelsius")->font().bold());
    EXPECT_FALSE(Control<QLabel>("PrumerBit")->font().bold());
    Control<QDoubleSpinBox>("MezOdchylkyCelsius")->setValue(0.01);
    EXPECT_EQ(Text("Verdikt"), "stabilní");

    window->Button1Click();
    EXPECT_EQ(Text("Verdikt"), "málo dat");
    Control<QSpinBox>("Okno")->setValue(10);
    for (int k = 0; k < 31; ++k) {
        Tick(1, 20000);
    }
    EXPECT_EQ(Text("Verdikt"), "stabilní");
}

// The judgement at "Zapiš teplotu" stays with its slot, panel open or not:
// an unsettled first point, a settled second, a third whose entry was
// refused and which the fit then drops; a new collection starts afresh.
TEST_F(Assistant, StatisticsOfEachPointFollowItsSlot) {
    Open();
    window->Button1Click();
    Settle(0, 40);
    Enter(Local("20.5"));
    Settle(40, 120);
    Control<QSpinBox>("Okno")->setValue(60);
    Enter(Local("20.1"));
    Settle(160, 2);
    Enter(QStringLiteral("x"));
    ASSERT_EQ(boxes.Texts(), std::vector<QString>{QStringLiteral("Chybný formát čísla")});

    EXPECT_EQ(VerdictAt(1), Stability::Unstable);
    EXPECT_EQ(window->StabilityAtPoint(1, 1)->Settings.WindowSeconds, 30);
    EXPECT_EQ(VerdictAt(2), Stability::Stable);
    EXPECT_EQ(window->StabilityAtPoint(1, 2)->Settings.WindowSeconds, 60);
    EXPECT_EQ(VerdictAt(3), Stability::Stable);
    EXPECT_FALSE(window->StabilityAtPoint(1, 4));
    EXPECT_FALSE(window->StabilityAtPoint(2, 1));

    window->BitBtn6Click(); // two points: refused, and slot 3 is dropped
    EXPECT_FALSE(window->StabilityAtPoint(1, 3));
    EXPECT_TRUE(window->StabilityAtPoint(1, 1) && window->StabilityAtPoint(1, 2));
    window->Button1Click();
    EXPECT_FALSE(window->StabilityAtPoint(1, 1) || window->StabilityAtPoint(1, 2));
    EXPECT_FALSE(Panel().IsOpen());
}

// After the fit: s with n - 4 degrees of freedom, the largest deviation and
// its point, the deviations charted against the true temperatures with the
// points numbered as in the columns, the point typed a degree wrong marked
// and named. Four points have no s and are not judged; a new collection of
// the sensor clears the section, choosing another sensor does not. No text
// of the panel is cut off.
TEST_F(Assistant, FitQualityNamesThePointThatStandsOut) {
    Open();
    Panel().Toggle();
    const std::vector<std::pair<std::int32_t, const char*>> points = {
        {10000, "-20.49"}, {20000, "4.49"},   {30000, "29.5"}, {40000, "54.51"},
        {50000, "80.5"},   {60000, "104.49"}, {70000, "129.5"}};
    window->Button1Click();
    for (const auto& [raw, typed] : points) {
        Tick(1, raw);
        Enter(Local(typed));
    }
    window->BitBtn6Click();
    const std::vector<CalibrationPoint> fitted = PointsOf(context.WorkParams, 1, 7);
    const std::vector<FitDeviation> rows =
        FitDeviations(CubicOf(context.WorkParams.Coefficients, 1), fitted);

    EXPECT_TRUE(Text("FitS").startsWith(QStringLiteral("s = "))) << Text("FitS").toStdString();
    EXPECT_TRUE(Text("FitS").endsWith(QStringLiteral(" °C (ν = 3)")));
    EXPECT_TRUE(Text("FitMax").endsWith(QStringLiteral(" °C (bod 5)")));
    // No reference instrument picked: the fit's own part of U.
    const auto u = EstimateUncertainty(fitted, CubicOf(context.WorkParams.Coefficients, 1), 0);
    ASSERT_TRUE(u);
    EXPECT_EQ(Text("FitU"), "U = " + QString::fromStdString(UncertaintyText(u->Stated, Sep())) +
                                " °C (k = 2, bez referenčního přístroje)");
    const QStringList lines = Text("Odlehle").split('\n');
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("bod 5: odchylka "))) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" s")));

    QChart* chart = Control<QChartView>("GrafOdchylek")->chart();
    std::map<QString, QList<QPointF>> series;
    for (QAbstractSeries* s : chart->series()) {
        if (auto* scatter = qobject_cast<QScatterSeries*>(s)) {
            series[scatter->name()] = scatter->points();
        }
    }
    ASSERT_EQ(series["Odlehlé body"].size(), 1);
    EXPECT_EQ(series["Odlehlé body"][0], QPointF(80.5F, rows[4].Deviation));
    EXPECT_EQ(series["Odchylky"].size(), 6);
    EXPECT_EQ(series["Odchylky"][0], QPointF(-20.49F, rows[0].Deviation));
    std::map<QString, QPointF> numbers;
    for (QGraphicsItem* item : chart->childItems()) {
        if (auto* number = dynamic_cast<QGraphicsSimpleTextItem*>(item)) {
            numbers[number->text()] = number->data(0).toPointF();
        }
    }
    ASSERT_EQ(numbers.size(), 7u);
    for (int k = 1; k <= 7; ++k) {
        EXPECT_EQ(numbers[QString::number(k)].x(), fitted[k - 1].TrueTemp) << k;
    }

    // Nothing of the panel is cut off once it is laid out.
    window->show();
    QCoreApplication::processEvents();
    for (const QLabel* label : Panel().findChildren<QLabel*>()) {
        if (!label->wordWrap()) {
            EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
        }
    }
    window->hide();

    // Another sensor chosen: the fit of sensor 1 stays, with its sensor named.
    Control<QRadioButton>("RadioGroup1Item2")->setChecked(true);
    EXPECT_EQ(Control<QGroupBox>("KvalitaFitu")->title(), "Kvalita fitu: snímač č.1");
    Control<QRadioButton>("RadioGroup1Item1")->setChecked(true);
    window->Button1Click();
    EXPECT_EQ(Text("FitS"), "Ukáže se po regresním výpočtu.");
    EXPECT_EQ(Text("Odlehle"), "");
    for (const auto& [raw, typed] :
         std::vector<std::pair<std::int32_t, const char*>>(points.begin(), points.begin() + 4)) {
        Tick(1, raw);
        Enter(Local(typed));
    }
    window->BitBtn6Click();
    EXPECT_EQ(Text("FitS"), "s: není (4 body, ν = 0)");
    EXPECT_EQ(Text("Odlehle"), "Odlehlé body se posuzují od 6 bodů.");
}

// The first opening is narrow; the panel opened, a window of 60 s and a
// limit set are there again at the next opening, the window wide at once;
// closed, the next opening is narrow again. The button stays where it is.
TEST_F(Assistant, PanelRememberedAcrossOpenings) {
    Open();
    EXPECT_FALSE(Panel().IsOpen());
    EXPECT_TRUE(Panel().isHidden());
    EXPECT_EQ(window->width(), 733);
    auto* button = Control<QPushButton>("AsistentButton");
    EXPECT_EQ(button->text(), "Asistent ▸");
    const QRect place = button->geometry();
    EXPECT_LE(place.right(), 733 - 30);

    button->click();
    EXPECT_TRUE(Panel().IsOpen());
    EXPECT_EQ(window->width(), 733 + AssistantPanel::Width);
    EXPECT_EQ(Panel().geometry(), QRect(733, 0, AssistantPanel::Width, 632));
    EXPECT_EQ(button->text(), "Asistent ◂");
    Control<QSpinBox>("Okno")->setValue(60);
    Control<QDoubleSpinBox>("MezSmerniceBit")->setValue(3.5);
    window->reject();

    Open();
    EXPECT_TRUE(Panel().IsOpen());
    EXPECT_FALSE(Panel().isHidden());
    EXPECT_EQ(window->width(), 733 + AssistantPanel::Width);
    EXPECT_EQ(Control<QSpinBox>("Okno")->value(), 60);
    EXPECT_EQ(Control<QDoubleSpinBox>("MezSmerniceBit")->value(), 3.5);
    Control<QPushButton>("AsistentButton")->click();
    EXPECT_EQ(window->width(), 733);
    EXPECT_EQ(Control<QPushButton>("AsistentButton")->geometry(), place);
    window.reset();

    Open();
    EXPECT_FALSE(Panel().IsOpen());
    EXPECT_EQ(window->width(), 733);
    EXPECT_EQ(Control<QSpinBox>("Okno")->value(), 60);
    EXPECT_TRUE(boxes.Shown.empty());
}

// A data folder that takes no Stanice.ini: the operator is told, the panel
// opens all the same.
TEST_F(Assistant, PanelThatCannotBeRememberedSaysSo) {
    std::filesystem::create_directory("Stanice.ini");
    Open();
    Panel().Toggle();
    EXPECT_TRUE(Panel().IsOpen());
    EXPECT_EQ(boxes.Texts(), std::vector<QString>{QStringLiteral(
                                 "Nastavení asistenta nelze uložit do souboru Stanice.ini")});
}

} // namespace
} // namespace zorm
