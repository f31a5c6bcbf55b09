// A main window in a scratch working directory, over simulated ports, with
// scripted message boxes and a fresh context.
#pragma once

#include "data/context.h"
#include "data/param_files.h"
#include "link/drv232.h"
#include "sim/sim_port.h"
#include "tests/support/scratch_directory.h"
#include "tests/windows/window_test_support.h"
#include "windows/ZORM5801.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace zorm::test {

using Frame = std::vector<std::uint8_t>;
using FrameList = std::vector<Frame>;

class MainWindowTest : public testing::Test {
protected:
    // First, so that everything below works in the scratch directory.
    ScratchDirectory scratch{ScratchDirectory::Enter};
    Context context;
    sim::SimPorts ports;
    // Runs before every read of a port, when set.
    std::function<void()> beforeRead;
    Drv232 link{context, [this](std::uint8_t n) { return OpenHooked(n); }};
    ScriptedBoxes boxes;
    ScriptedModal modal;
    THlavni window{context, link, boxes, modal};

    std::unique_ptr<SerialPort> OpenHooked(std::uint8_t n);

    template <typename T> T* Control(const char* name) {
        T* control = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    // Writes Parametry.par with these settings, as a former run would have.
    static void WriteSettings(const DeviceSettings& settings) {
        Context former;
        former.DeviceSettings = settings;
        ASSERT_TRUE(SaveParameters(former));
    }

    // A converter at port 1, address 1, found at start-up with these settings.
    sim::SimLine Connect(std::uint8_t filterOn = 0, std::uint8_t showCelsius = 0) {
        DeviceSettings settings;
        settings.PortNumber = 1;
        settings.DeviceAddress = 1;
        settings.FilterOn = filterOn;
        settings.ShowCelsius = showCelsius;
        WriteSettings(settings);
        sim::SimLine line = ports.Add(1);
        window.FormActivate();
        EXPECT_TRUE(link.IsOpen());
        line.ClearEvents();
        boxes.Shown.clear();
        return line;
    }

    // Ticks the check boxes of `sensors` and unticks the others.
    void Tick(std::initializer_list<int> sensors) {
        for (int s = 1; s <= 3; ++s) {
            const QString name = QStringLiteral("CheckBox%1").arg(s);
            window.findChild<QCheckBox*>(name)->setChecked(
                std::find(sensors.begin(), sensors.end(), s) != sensors.end());
        }
    }

    // The three result labels.
    QStringList Labels() {
        return {Control<QLabel>("Label2")->text(), Control<QLabel>("Label3")->text(),
                Control<QLabel>("Label4")->text()};
    }

    // The input focus moves from `control` to another control of the window.
    static void LeaveFocus(QWidget* control, Qt::FocusReason reason = Qt::TabFocusReason) {
        QFocusEvent leave(QEvent::FocusOut, reason);
        QCoreApplication::sendEvent(control, &leave);
    }

    // Every frame written on the line, oldest first.
    static FrameList Frames(const sim::SimLine& line) {
        FrameList frames;
        for (const sim::LineEvent& event : line.Events()) {
            if (event.Kind == sim::EventKind::Write) {
                frames.push_back(event.Bytes);
            }
        }
        return frames;
    }

    static Frame Bytes(std::initializer_list<int> values) {
        Frame bytes;
        for (int value : values) {
            bytes.push_back(static_cast<std::uint8_t>(value));
        }
        return bytes;
    }
};

// A port that runs the test's hook before each read and otherwise passes
// everything on to the simulated port.
class HookedPort : public SerialPort {
public:
    HookedPort(std::unique_ptr<SerialPort> inner, const std::function<void()>& beforeRead)
        : inner_(std::move(inner)), beforeRead_(beforeRead) {}

    bool SetLineFormat(const LineFormat& format) override { return inner_->SetLineFormat(format); }
    bool SetTimeouts(const CommTimeouts& timeouts) override {
        return inner_->SetTimeouts(timeouts);
    }
    bool SetRts(bool asserted) override { return inner_->SetRts(asserted); }
    bool Write(std::span<const std::uint8_t> bytes) override { return inner_->Write(bytes); }
    bool Read(std::span<std::uint8_t> buffer, std::size_t& received) override {
        if (beforeRead_) {
            beforeRead_();
        }
        return inner_->Read(buffer, received);
    }
    bool DiscardInput() override { return inner_->DiscardInput(); }
    void Sleep(std::chrono::milliseconds duration) override { inner_->Sleep(duration); }
    bool Close() override { return inner_->Close(); }

private:
    std::unique_ptr<SerialPort> inner_;
    const std::function<void()>& beforeRead_;
};

inline std::unique_ptr<SerialPort> MainWindowTest::OpenHooked(std::uint8_t n) {
    std::unique_ptr<SerialPort> port = ports.Opener()(n);
    if (!port) {
        return port;
    }
    return std::make_unique<HookedPort>(std::move(port), beforeRead);
}

} // namespace zorm::test
