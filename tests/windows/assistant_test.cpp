// The calibration assistant beside the calibration window, against the
// in-process simulator on its virtual clock: the verdict as the readings
// settle, the statistics that stay with each point, the fit's quality, the
// panel remembered in the data folder.
#include "data/calibration.h"
#include "tests/windows/main_window_fixture.h"
#include "windows/Kalibrace.h"
#include "windows/assistant_panel.h"

#include <QDoubleSpinBox>
#include <QGraphicsSimpleTextItem>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QtCharts/QChartView>
#include <QtCharts/QScatterSeries>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>

namespace zorm {
namespace {

using namespace std::chrono_literals;

QString Local(QString number) {
    return number.replace('.', QLocale::system().decimalPoint());
}

class Assistant : public testing::Test {
protected:
    test::ScratchDirectory scratch{test::ScratchDirectory::Enter};
    Context context;
    sim::SimPorts ports;
    sim::SimLine line = ports.Add(1);
    Drv232 link{context, ports.Opener()};
    test::ScriptedBoxes boxes;
    test::ScriptedModal modal;
    std::unique_ptr<TKalibrace> window;

    void SetUp() override {
        context.DeviceSettings.DeviceAddress = 1;
        ASSERT_TRUE(link.OpenPort(1));
    }

    // A new opening of the window, whose assistant tells time by the line.
    void Open() {
        window = std::make_unique<TKalibrace>(context, link, boxes, modal);
        window->Assistant().SetClock(
            [line = line] { return std::chrono::duration<double>(line.Now()).count(); });
        window->FormActivate();
    }
    AssistantPanel& Panel() { return window->Assistant(); }

    template <typename T = QWidget> T* Control(const char* name) {
        T* control = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    QString Text(const char* label) { return Control<QLabel>(label)->text(); }

    // A tick 333 ms after the one before, the converter reading `raw` on
    // sensor s.
    void Tick(int s, std::int32_t raw) {
        line.Converter().Config().Raw[static_cast<std::size_t>(s - 1)] = raw;
        const sim::VirtualTime start = line.Now();
        window->Timer1Timer();
        line.Advance(start + 333ms - line.Now());
    }
    // The readings of sensor 1 settling from 20 600 towards 20 000 (time
    // constant 12 s) from `from` seconds into the collection for `seconds`.
    void Settle(double from, double seconds) {
        for (double t = from; t < from + seconds; t += 0.333) {
            Tick(1, 20000 + static_cast<std::int32_t>(std::lround(600 * std::exp(-t / 12))));
        }
    }
    // "Zapiš teplotu", the text typed, "Potvrď zápis".
    void Enter(const QString& typed) {
        window->BitBtn5Click();
        Control<QLineEdit>("Edit1")->setText(typed);
        window->BitBtn5Click();
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
        Enter(Local(QString::fromLatin1(typed)));
    }
    window->BitBtn6Click();
    const std::vector<CalibrationPoint> fitted = PointsOf(context.WorkParams, 1, 7);
    const std::vector<FitDeviation> rows =
        FitDeviations(CubicOf(context.WorkParams.Coefficients, 1), fitted);

    EXPECT_TRUE(Text("FitS").startsWith(QStringLiteral("s = "))) << Text("FitS").toStdString();
    EXPECT_TRUE(Text("FitS").endsWith(QStringLiteral(" °C (ν = 3)")));
    EXPECT_TRUE(Text("FitMax").endsWith(QStringLiteral(" °C (bod 5)")));
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
        Enter(Local(QString::fromLatin1(typed)));
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
