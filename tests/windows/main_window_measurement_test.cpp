// Measurement from the main window: which sensors are asked, what their
// labels show, the settings taken when the focus leaves a control, the
// periodic measurement and its timer.
#include "tests/windows/main_window_fixture.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace zorm {
namespace {

using test::Frame;
using test::FrameList;
using test::MainWindowTest;

constexpr std::uint8_t CR = 13;
const QString Dashes = QStringLiteral("- - - ");

QString DecimalPoint() {
    return QLocale::system().decimalPoint();
}

void RunEventsFor(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

class Measurement : public MainWindowTest {
protected:
    static Frame Measure(int command, int channel) {
        return Bytes({command, '1', '0' + channel, CR});
    }
};

TEST_F(Measurement, OnlyTickedSensorsAreAskedAndOnlyTheirLabelsChange) {
    sim::SimLine line = Connect();

    Tick({});
    window.BitBtn1Click();
    EXPECT_TRUE(Frames(line).empty());
    EXPECT_EQ(Labels(), (QStringList{"Teplota 1", "Teplota 2", "Teplota 3"}));

    Tick({2});
    window.BitBtn1Click();
    EXPECT_EQ(Frames(line), FrameList{Measure('*', 2)});
    EXPECT_EQ(Labels(), (QStringList{"Teplota 1", "22500", "Teplota 3"}));

    line.ClearEvents();
    Tick({1, 3});
    window.BitBtn1Click();
    EXPECT_EQ(Frames(line), (FrameList{Measure('*', 1), Measure('*', 3)}));
    EXPECT_EQ(Labels(), (QStringList{"21500", "22500", "23500"}));
}

TEST_F(Measurement, ShowsRawReadingsOrTemperaturesFromTheUserCubic) {
    sim::SimLine line = Connect(0, 1);
    line.Converter().Config().Raw = {1234, 1234, 1234};
    // Sensor 1: t = raw; sensor 2: t = 0.01 raw - 50; sensor 3 overflows.
    context.UserParams.Coefficients.A1(1) = 1.0;
    context.UserParams.Coefficients.A1(2) = 0.01;
    context.UserParams.Coefficients.A0(2) = -50.0;
    context.UserParams.Coefficients.A3(3) = 1e300;
    Tick({1, 2, 3});

    window.BitBtn1Click();
    EXPECT_EQ(Labels(), (QStringList{"1234" + DecimalPoint() + "00", "-37" + DecimalPoint() + "66",
                                     QStringLiteral("Chyba výpočtu")}));

    context.DeviceSettings.ShowCelsius = 0;
    window.BitBtn1Click();
    EXPECT_EQ(Labels(), (QStringList{"1234", "1234", "1234"}));
}

// In °C a sensor whose four coefficients are all zero (never calibrated)
// reads "nekalibrováno", not a temperature of 0.00 nobody measured, and the
// text fits its label; everything else reads as before.
TEST_F(Measurement, NeverCalibratedSensorSaysSoInCelsius) {
    sim::SimLine line = Connect(0, 1);
    context.UserParams.Coefficients.A1(2) = 1.0;
    context.UserParams.Coefficients.A0(3) = -0.0;
    Tick({1, 2, 3});
    window.BitBtn1Click();
    const QString none = QStringLiteral("nekalibrováno");
    EXPECT_EQ(Labels(), (QStringList{none, "22500" + DecimalPoint() + "00", none}));
    auto* frame = Control<QGroupBox>("GroupBox2");
    for (const char* name : {"Label2", "Label4"}) {
        auto* label = Control<QLabel>(name);
        EXPECT_LE(label->sizeHint().width(), label->width()) << name;
        EXPECT_LE(label->geometry().right(), frame->width()) << name;
    }
    EXPECT_LT(frame->geometry().right(), Control<QPushButton>("BitBtn1")->x());

    line.Converter().SetFaultForNext(sim::Fault::MissingCr, 1);
    window.BitBtn1Click();
    EXPECT_EQ(Labels().front(), Dashes);
    context.DeviceSettings.ShowCelsius = 0;
    window.BitBtn1Click();
    EXPECT_EQ(Labels(), (QStringList{"21500", "22500", "23500"}));
}

TEST_F(Measurement, SettingsChangeOnlyWhenTheFocusLeavesTheirControl) {
    sim::SimLine line = Connect(0, 0);
    auto* filter = Control<QCheckBox>("CheckBox6");
    auto* celsius = Control<QCheckBox>("CheckBox7");
    ASSERT_FALSE(filter->isChecked());
    ASSERT_FALSE(celsius->isChecked());
    context.UserParams.Coefficients.A0(1) = 5.0; // t = 5 whatever the reading

    filter->setChecked(true);
    celsius->setChecked(true);
    window.BitBtn1Click();
    EXPECT_EQ(context.DeviceSettings.FilterOn, 0);
    EXPECT_EQ(context.DeviceSettings.ShowCelsius, 0);
    EXPECT_EQ(Frames(line), FrameList{Measure('*', 1)});
    EXPECT_EQ(Control<QLabel>("Label2")->text(), "21500");

    // The whole window losing the focus (a box, another program) does not count.
    LeaveFocus(filter, Qt::ActiveWindowFocusReason);
    LeaveFocus(celsius, Qt::ActiveWindowFocusReason);
    EXPECT_EQ(context.DeviceSettings.FilterOn, 0);
    EXPECT_EQ(context.DeviceSettings.ShowCelsius, 0);

    LeaveFocus(filter);
    LeaveFocus(celsius, Qt::MouseFocusReason);
    EXPECT_EQ(context.DeviceSettings.FilterOn, 1);
    EXPECT_EQ(context.DeviceSettings.ShowCelsius, 1);
    line.ClearEvents();
    window.BitBtn1Click();
    EXPECT_EQ(Frames(line), FrameList{Measure('#', 1)});
    EXPECT_EQ(Control<QLabel>("Label2")->text(), "5" + DecimalPoint() + "00");

    filter->setChecked(false);
    LeaveFocus(filter);
    EXPECT_EQ(context.DeviceSettings.FilterOn, 0);
}

TEST_F(Measurement, AddressFieldSetsTheAddressWhenLeft) {
    auto* address = Control<QSpinBox>("SpinEdit1");
    address->setValue(7);
    EXPECT_EQ(context.DeviceSettings.DeviceAddress, 0);
    LeaveFocus(address);
    EXPECT_EQ(context.DeviceSettings.DeviceAddress, 7);
}

TEST_F(Measurement, FailedReadingsShowDashesAndThePassGoesOn) {
    sim::SimLine line = Connect();
    Tick({1, 2, 3});
    line.Converter().SetFaultForNext(sim::Fault::MissingCr, 1);
    window.BitBtn1Click();
    EXPECT_EQ(Labels(), (QStringList{Dashes, "22500", "23500"}));
}

TEST_F(Measurement, WithoutAnOpenPortEverySensorShowsDashes) {
    window.FormActivate(); // nothing to find
    ASSERT_FALSE(link.IsOpen());
    Tick({1, 3});
    window.BitBtn1Click();
    EXPECT_EQ(Labels(), (QStringList{Dashes, "Teplota 2", Dashes}));
}

TEST_F(Measurement, PeriodicMeasurementTakesThePeriodOfTheChosenItem) {
    auto* periods = Control<QComboBox>("ComboBox1");
    auto* timer = Control<QTimer>("Timer1");
    auto* start = Control<QPushButton>("BitBtn3");
    auto* stop = Control<QPushButton>("BitBtn5");

    // No item chosen yet, although the box shows "1 s".
    window.BitBtn3Click();
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);
    EXPECT_TRUE(start->isHidden());
    EXPECT_FALSE(stop->isHidden());
    window.BitBtn5Click();
    EXPECT_FALSE(timer->isActive());
    EXPECT_FALSE(start->isHidden());
    EXPECT_TRUE(stop->isHidden());

    const int expected[] = {1000, 2000, 5000, 10000, 15000, 30000, 60000};
    for (int item = 0; item < 7; ++item) {
        periods->setCurrentIndex(item);
        window.BitBtn3Click();
        EXPECT_EQ(timer->interval(), expected[item]) << periods->currentText().toStdString();
        EXPECT_TRUE(timer->isActive());
        window.BitBtn5Click();
    }

    // A period chosen while measuring waits for the next start.
    periods->setCurrentIndex(6);
    window.BitBtn3Click();
    periods->setCurrentIndex(0);
    EXPECT_EQ(timer->interval(), 60000);
    EXPECT_GT(timer->remainingTime(), 59000);
}

TEST_F(Measurement, FirstPassComesOnePeriodLaterAndStopEndsThePasses) {
    sim::SimLine line = Connect();
    window.BitBtn3Click();
    RunEventsFor(50);
    EXPECT_TRUE(Frames(line).empty());
    EXPECT_EQ(Labels()[0], "Teplota 1");

    // Shorten the period so that the ticks come within the test.
    auto* timer = Control<QTimer>("Timer1");
    timer->setInterval(5);
    RunEventsFor(60);
    const std::size_t passes = Frames(line).size();
    EXPECT_GE(passes, 2u);
    EXPECT_EQ(Labels()[0], "21500");

    line.Converter().Config().Raw[0] = 100;
    window.BitBtn5Click();
    RunEventsFor(30);
    EXPECT_EQ(Frames(line).size(), passes);
    EXPECT_EQ(Labels()[0], "21500");
}

TEST_F(Measurement, PassesNeverRunInsideARunningPass) {
    sim::SimLine line = Connect();
    Tick({1, 2, 3});
    // Something inside the pass runs the event loop while ticks are due and
    // the operator presses "Jednorázové měření".
    auto* once = Control<QPushButton>("BitBtn1");
    int presses = 0;
    beforeRead = [once, &presses] {
        if (++presses <= 5) {
            QMetaObject::invokeMethod(once, &QPushButton::click, Qt::QueuedConnection);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    };
    window.BitBtn3Click();
    Control<QTimer>("Timer1")->setInterval(0);
    RunEventsFor(30);
    window.BitBtn5Click();
    beforeRead = nullptr;
    RunEventsFor(10);

    // Every frame is answered before the next one goes out, three per pass.
    int writes = 0;
    bool awaitingReply = false;
    for (const sim::LineEvent& event : line.Events()) {
        if (event.Kind == sim::EventKind::Write) {
            EXPECT_FALSE(awaitingReply) << "frame " << writes << " went out inside an exchange";
            awaitingReply = true;
            ++writes;
        } else if (event.Kind == sim::EventKind::Read) {
            awaitingReply = false;
        }
    }
    EXPECT_GE(writes, 6);
    const FrameList frames = Frames(line);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i], Measure('*', static_cast<int>(i % 3) + 1)) << i;
    }
}

TEST_F(Measurement, SlowPassesDoNotPileUpTicks) {
    sim::SimLine line = Connect();
    beforeRead = [] { QThread::msleep(20); };
    window.BitBtn3Click();
    Control<QTimer>("Timer1")->setInterval(1);
    RunEventsFor(100);
    window.BitBtn5Click();
    const std::size_t passes = Frames(line).size();
    // About one pass per 20 ms, never one per millisecond of the period.
    EXPECT_GE(passes, 2u);
    EXPECT_LE(passes, 8u);
    RunEventsFor(30);
    EXPECT_EQ(Frames(line).size(), passes);
}

TEST_F(Measurement, DiagnosticsLineGoesToItsLabel) {
    auto* text = Control<QLabel>("Label8");
    window.Button1Click();
    EXPECT_EQ(text->text(), "Chyba");

    sim::SimLine line = Connect();
    line.Converter().Config().DiagnosticWords[0] = 513;
    line.Converter().Config().DiagnosticCount = 7;
    window.Button1Click();
    EXPECT_TRUE(text->text().startsWith("Vysledek: 513   0   ")) << text->text().toStdString();
    EXPECT_TRUE(text->text().endsWith("   N:7")) << text->text().toStdString();
    EXPECT_EQ(Frames(line), FrameList{Bytes({'!', 1, 1, CR})});
    EXPECT_TRUE(text->isHidden());
}

} // namespace
} // namespace zorm
