// Start-up and the search for the converter: the settings file, the order of
// the ports, what the operator is told and what the window shows afterwards.
#include "tests/windows/main_window_fixture.h"

#include "link/posix_serial_port.h"

#include <QAction>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <chrono>
#include <iostream>

namespace zorm {
namespace {

using test::MainWindowTest;
using test::ShownBox;

constexpr std::uint8_t CR = 13;

const QString ReadError = QStringLiteral("Chyba při čtení parametrů.");
const QString NotConnected = QStringLiteral("Zařízení není připojeno.");

QString Found(const char* type, int port) {
    return QStringLiteral("Připojeno zařízení ") + QString::fromLatin1(type) +
           QStringLiteral(" na portu COM") + QString::number(port);
}

// Ports from `first` downwards, wrapping from 1 to 29, `count` of them.
std::vector<std::uint8_t> Downwards(int first, int count) {
    std::vector<std::uint8_t> order;
    for (int port = first; static_cast<int>(order.size()) < count;
         port = port == 1 ? 29 : port - 1) {
        order.push_back(static_cast<std::uint8_t>(port));
    }
    return order;
}

class StartUp : public MainWindowTest {
protected:
    bool Connected() {
        return Control<QAction>("Parametry1")->isEnabled() &&
               !Control<QSpinBox>("SpinEdit1")->isEnabled();
    }
    bool ReconnectOffered() { return !Control<QPushButton>("BitBtn4")->isHidden(); }
    bool FilterShown() { return Control<QCheckBox>("CheckBox6")->isChecked(); }
    bool CelsiusShown() { return Control<QCheckBox>("CheckBox7")->isChecked(); }
};

TEST_F(StartUp, FirstStartWithoutSettingsFileReportsItThenSearchesFromPortOne) {
    sim::SimLine line = ports.Add(1); // answers address 0 as well as its own
    window.FormActivate();

    ASSERT_EQ(boxes.Shown.size(), 2u);
    EXPECT_EQ(boxes.Shown[0].Kind, BoxKind::Error);
    EXPECT_EQ(boxes.Shown[0].Text, ReadError);
    EXPECT_EQ(boxes.Shown[0].Buttons, BoxButtons::Ok);
    EXPECT_EQ(boxes.Shown[1].Kind, BoxKind::Information);
    EXPECT_EQ(boxes.Shown[1].Text, Found("ZORM5816A", 1));
    EXPECT_EQ(boxes.Shown[1].Buttons, BoxButtons::Ok);

    EXPECT_EQ(ports.Tried(), std::vector<std::uint8_t>{1});
    ASSERT_FALSE(Frames(line).empty());
    EXPECT_EQ(Frames(line)[0], Bytes({'%', '0', CR}));
    // RtsOnTransmit defaulted to 1: RTS asserted while the frame goes out.
    const auto firstRts =
        std::find_if(line.Events().begin(), line.Events().end(),
                     [](const auto& e) { return e.Kind == sim::EventKind::SetRts; });
    ASSERT_NE(firstRts, line.Events().end());
    EXPECT_TRUE(firstRts->Rts);

    const DeviceSettings& settings = context.DeviceSettings;
    EXPECT_EQ(settings.PortNumber, 1);
    EXPECT_EQ(settings.DeviceAddress, 0);
    EXPECT_EQ(settings.RtsOnTransmit, 1);
    EXPECT_EQ(settings.FilterOn, 1);
    EXPECT_EQ(settings.ShowCelsius, 0);
    EXPECT_TRUE(FilterShown());
    EXPECT_FALSE(CelsiusShown());
    EXPECT_TRUE(Connected());
    EXPECT_FALSE(ReconnectOffered());
    EXPECT_TRUE(link.IsOpen());

    // Filtered measurement with address 0, shown raw.
    line.ClearEvents();
    window.BitBtn1Click();
    EXPECT_EQ(Frames(line), test::FrameList{Bytes({'#', '0', '1', CR})});
    EXPECT_EQ(Control<QLabel>("Label2")->text(), "21500");
}

TEST_F(StartUp, SearchGoesDownFromPortNumberAndWrapsAround) {
    for (const int first : {3, 1, 29, 0, 30, 255}) {
        SCOPED_TRACE(first);
        context.DeviceSettings.PortNumber = static_cast<std::uint8_t>(first);
        ports.ClearTried();
        boxes.Shown.clear();

        EXPECT_FALSE(window.PripojZarizeni());
        // Port 0, and any port above 29, stands for 29.
        EXPECT_EQ(ports.Tried(), Downwards(first == 0 || first > 29 ? 29 : first, 29));
        EXPECT_TRUE(boxes.Shown.empty());
        EXPECT_EQ(context.DeviceSettings.PortNumber, first);
    }
}

TEST_F(StartUp, FoundPortBecomesPortNumberAndStaysOpen) {
    DeviceSettings settings;
    settings.PortNumber = 29;
    settings.DeviceAddress = 10;
    WriteSettings(settings);
    sim::ConverterConfig converter;
    converter.Address = 10;
    converter.AnswerBroadcast = false;
    converter.Type = {'1', '2', '3', '4'};
    sim::SimLine found = ports.Add(5, converter);
    // A converter at another address on the way answers nothing: "CHYBA".
    sim::SimLine other = ports.Add(7);

    window.FormActivate();

    EXPECT_EQ(ports.Tried(), Downwards(29, 25)); // 29 .. 5
    ASSERT_EQ(boxes.Texts(), std::vector<QString>{Found("ZORM1234A", 5)});
    EXPECT_EQ(boxes.Shown[0].Kind, BoxKind::Information);
    EXPECT_EQ(context.DeviceSettings.PortNumber, 5);
    EXPECT_TRUE(found.IsOpen());
    EXPECT_FALSE(other.IsOpen());
    // Address 10 goes out unchanged, as ':' in the identification.
    EXPECT_EQ(Frames(found), test::FrameList{Bytes({'%', ':', CR})});
    EXPECT_EQ(Frames(other), test::FrameList{Bytes({'%', ':', CR})});
    EXPECT_TRUE(Connected());
    EXPECT_EQ(Control<QSpinBox>("SpinEdit1")->value(), 10);
}

TEST_F(StartUp, PortNumberAboveTwentyNineStillReachesEveryPort) {
    DeviceSettings settings;
    settings.PortNumber = 40;
    WriteSettings(settings);
    sim::SimLine found = ports.Add(5); // answers address 0 as well

    window.FormActivate();

    EXPECT_EQ(ports.Tried(), Downwards(29, 25)); // 29 .. 5
    EXPECT_EQ(boxes.Texts(), std::vector<QString>{Found("ZORM5816A", 5)});
    EXPECT_EQ(context.DeviceSettings.PortNumber, 5);
    EXPECT_TRUE(found.IsOpen());
    EXPECT_TRUE(Connected());
}

TEST_F(StartUp, FailedSearchReportsItOffersReconnectAndClosesThePort) {
    DeviceSettings settings;
    settings.PortNumber = 2;
    settings.FilterOn = 1;
    settings.ShowCelsius = 1;
    WriteSettings(settings);
    sim::SimLine silent = ports.Add(2);
    silent.Converter().SetFault(sim::Fault::Silence);

    window.FormActivate();

    ASSERT_EQ(boxes.Texts(), std::vector<QString>{NotConnected});
    EXPECT_EQ(boxes.Shown[0].Kind, BoxKind::Error);
    EXPECT_EQ(ports.Tried().size(), 29u);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(silent.IsOpen());
    EXPECT_TRUE(ReconnectOffered());
    EXPECT_FALSE(Control<QAction>("Parametry1")->isEnabled());
    EXPECT_TRUE(Control<QSpinBox>("SpinEdit1")->isEnabled());
    EXPECT_EQ(context.DeviceSettings.PortNumber, 2);
    // The check boxes show the loaded settings although nothing was found, so
    // passing the focus through them changes nothing.
    EXPECT_TRUE(FilterShown());
    EXPECT_TRUE(CelsiusShown());
    LeaveFocus(Control<QCheckBox>("CheckBox6"));
    LeaveFocus(Control<QCheckBox>("CheckBox7"));
    EXPECT_EQ(context.DeviceSettings.FilterOn, 1);
    EXPECT_EQ(context.DeviceSettings.ShowCelsius, 1);
}

TEST_F(StartUp, FailedReconnectKeepsReconnectOfferedEvenAfterAnAnswerOfChyba) {
    window.FormActivate();
    ASSERT_TRUE(ReconnectOffered());
    sim::SimLine silent = ports.Add(1);
    silent.Converter().SetFault(sim::Fault::Silence);
    boxes.Shown.clear();
    ports.ClearTried();

    window.BitBtn4Click();

    EXPECT_EQ(ports.Tried(), Downwards(1, 29));
    EXPECT_EQ(boxes.Texts(), std::vector<QString>{NotConnected});
    EXPECT_TRUE(ReconnectOffered());
    EXPECT_FALSE(Control<QAction>("Parametry1")->isEnabled());
    EXPECT_FALSE(silent.IsOpen());
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(StartUp, SuccessfulReconnectHidesTheButtonAndEnablesCalibration) {
    DeviceSettings settings;
    settings.PortNumber = 1;
    settings.DeviceAddress = 4;
    settings.ShowCelsius = 1;
    WriteSettings(settings);
    window.FormActivate();
    ASSERT_TRUE(ReconnectOffered());
    ASSERT_FALSE(FilterShown());
    ASSERT_TRUE(CelsiusShown());

    sim::ConverterConfig converter;
    converter.Address = 4;
    ports.Add(3, converter);
    boxes.Shown.clear();
    window.BitBtn4Click();

    EXPECT_EQ(boxes.Texts(), std::vector<QString>{Found("ZORM5816A", 3)});
    EXPECT_FALSE(ReconnectOffered());
    EXPECT_TRUE(Connected());
    EXPECT_EQ(Control<QSpinBox>("SpinEdit1")->value(), 4);
    EXPECT_EQ(context.DeviceSettings.PortNumber, 3);
    EXPECT_FALSE(FilterShown());
    EXPECT_TRUE(CelsiusShown());
}

TEST_F(StartUp, RunsOnceOnTheFirstActivation) {
    window.show();
    window.activateWindow();
    for (int spin = 0; spin < 200 && boxes.Shown.empty(); ++spin) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    ASSERT_EQ(boxes.Texts(), (std::vector<QString>{ReadError, NotConnected}));

    // Activated again, or called again: no second start-up.
    window.hide();
    window.show();
    window.activateWindow();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    window.FormActivate();
    EXPECT_EQ(boxes.Shown.size(), 2u);
    EXPECT_EQ(ports.Tried().size(), 29u);
}

// Not a check of correctness: how long the window takes to go over 29 ports
// that do not exist. Printed for the record.
TEST(SearchTime, OverTwentyNineAbsentPorts) {
    test::ScratchDirectory scratch(test::ScratchDirectory::Enter);
    Context context;
    int opened = 0;
    // The real POSIX open, of port names that lead nowhere.
    Drv232 link(context, [&opened, &scratch](std::uint8_t n) -> std::unique_ptr<SerialPort> {
        ++opened;
        return PosixSerialPort::Open(scratch.Path() / ("COM" + std::to_string(n)));
    });
    test::ScriptedBoxes boxes;
    test::ScriptedModal modal;
    THlavni window(context, link, boxes, modal);
    context.DeviceSettings.PortNumber = 1;

    constexpr int Searches = 1000;
    std::vector<double> micros;
    for (int i = 0; i < Searches; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(window.PripojZarizeni());
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    EXPECT_EQ(opened, 29 * Searches);
    std::sort(micros.begin(), micros.end());
    std::cout << "search over 29 absent ports: median " << micros[Searches / 2] << " us, max "
              << micros.back() << " us (" << Searches << " searches)\n";
}

} // namespace
} // namespace zorm
