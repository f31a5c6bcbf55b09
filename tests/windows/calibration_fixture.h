// The calibration window against the in-process simulator on its virtual
// clock, with scripted boxes, in a scratch working directory: the fixture
// of its tests and the helpers that collect, fit and check points.
#pragma once

#include "data/calibration.h"
#include "data/context.h"
#include "data/param_files.h"
#include "link/drv232.h"
#include "sim/sim_port.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/sensor_image.h"
#include "tests/windows/window_test_support.h"
#include "windows/Kalibrace.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTextBlock>
#include <QTimer>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace zorm::test {

namespace fs = std::filesystem;

// "21.5" with the decimal separator of the regional settings.
inline QString Local(const char* number) {
    return QString::fromLatin1(number).replace('.', QLocale::system().decimalPoint());
}

inline char Sep() {
    return QLocale::system().decimalPoint().front().toLatin1();
}

inline std::vector<std::uint8_t> FileBytes(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void MakeReadOnly(const char* name) {
    std::ofstream(name, std::ios::app).flush();
    fs::permissions(name, fs::perms::owner_read);
}

// Points as the operator collects them: the raw reading a tick takes, and
// the text typed for it.
using Points = std::vector<std::pair<std::int32_t, const char*>>;

// The coefficients of the fit of points 1..n of sensor s, where it has one.
inline bool SetFit(SensorParamSet& set, int s, int n) {
    const auto cubic = FitCubic(set, s, n);
    if (cubic) {
        set.Coefficients.A3(s) = cubic->A3;
        set.Coefficients.A2(s) = cubic->A2;
        set.Coefficients.A1(s) = cubic->A1;
        set.Coefficients.A0(s) = cubic->A0;
    }
    return cubic.has_value();
}

// Points 1..n of sensor s in `set` with the cubic 0.5 + 0.002 x + 1e-8 x^2
// and a little scatter, committed as a calibration.
inline void Calibrate(SensorParamSet& set, int s, int n) {
    for (int k = 1; k <= n; ++k) {
        const double x = 2000.0 * k;
        set.Raw(s, k) = static_cast<std::int32_t>(x);
        set.TrueTemp(s, k) = static_cast<float>(0.5 + 0.002 * x + 1e-8 * x * x + 0.01 * (k % 3));
    }
    set.Count(s) = static_cast<std::uint8_t>(n);
    set.Calibrated(s) = 1;
    SetFit(set, s, n);
}

inline SensorParamSet CalibratedSet(int s, int n) {
    SensorParamSet set;
    Calibrate(set, s, n);
    return set;
}

// Sensor s of `set` as a commit stores it after a fit of `points` collected
// in the window: the points in the first slots and zeros after them, their
// number, the coefficients of their fit and the flag.
inline void SetCollectedFit(SensorParamSet& set, int s, const Points& points) {
    for (int k = 1; k <= SensorParamSet::Points; ++k) {
        const std::size_t i = static_cast<std::size_t>(k - 1);
        float typed = 0;
        if (i < points.size()) {
            const std::string_view text = points[i].second;
            std::from_chars(text.data(), text.data() + text.size(), typed);
        }
        set.Raw(s, k) = i < points.size() ? points[i].first : 0;
        set.TrueTemp(s, k) = typed;
    }
    set.Count(s) = static_cast<std::uint8_t>(points.size());
    set.Calibrated(s) = 1;
    EXPECT_TRUE(SetFit(set, s, static_cast<int>(points.size())));
}

// The bytes of sensor s in the image of a parameter set: its true
// temperatures, raw readings, four coefficients, Count and Calibrated.
inline std::vector<std::uint8_t> SensorBytes(const SensorParamSet::Image& image, int s) {
    std::vector<std::uint8_t> bytes;
    for (const auto& [offset, size] : SensorRanges(s)) {
        const auto from = image.begin() + static_cast<std::ptrdiff_t>(offset);
        bytes.insert(bytes.end(), from, from + static_cast<std::ptrdiff_t>(size));
    }
    bytes.push_back(image[CalibratedByte(s)]);
    return bytes;
}

// The user set as Parametry.par holds it, after the five bytes of settings.
inline SensorParamSet::Image StoredUserSet() {
    const std::vector<std::uint8_t> file = FileBytes(ParametersFileName);
    SensorParamSet::Image image{};
    EXPECT_EQ(file.size(), 5 + 2 * SensorParamSet::Size);
    if (file.size() >= 5 + SensorParamSet::Size) {
        std::copy_n(file.begin() + 5, SensorParamSet::Size, image.begin());
    }
    return image;
}

class CalibrationWindow : public testing::Test {
protected:
    ScratchDirectory scratch{ScratchDirectory::Enter};
    Context context;
    sim::SimPorts ports;
    sim::SimLine line = ports.Add(1);
    Drv232 link{context, ports.Opener()};
    ScriptedBoxes boxes;
    ScriptedModal modal;
    std::unique_ptr<TKalibrace> window;

    void SetUp() override {
        context.DeviceSettings.DeviceAddress = 1;
        ASSERT_TRUE(link.OpenPort(1));
    }

    void Open() {
        window = std::make_unique<TKalibrace>(context, link, boxes, modal);
        window->FormActivate();
    }

    template <typename T = QWidget> T* Control(const char* name) {
        T* control = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    bool Shown(const char* name) { return !Control(name)->isHidden(); }
    QString Text(const char* label) { return Control<QLabel>(label)->text(); }
    QString Row(const char* column, int k) {
        return Control<QPlainTextEdit>(column)->document()->findBlockByNumber(k - 1).text();
    }
    QTimer* Timer() { return Control<QTimer>("Timer1"); }

    // The converter reads `raw` on channel s, and a tick takes the reading.
    void Tick(int s, std::int32_t raw) {
        line.Converter().Config().Raw[static_cast<std::size_t>(s - 1)] = raw;
        window->Timer1Timer();
    }
    // "Zapiš teplotu", the text typed, "Potvrď zápis".
    void Enter(const QString& typed) {
        window->BitBtn5Click();
        Control<QLineEdit>("Edit1")->setText(typed);
        window->BitBtn5Click();
    }
    // A new collection of these points on the selected sensor.
    void Collect(int s, const Points& points) {
        window->Button1Click();
        for (const auto& [raw, typed] : points) {
            Tick(s, raw);
            Enter(Local(typed));
        }
    }
    void Select(int s) {
        Control<QRadioButton>(QStringLiteral("RadioGroup1Item%1").arg(s).toLatin1().constData())
            ->setChecked(true);
    }
    std::vector<QString> TakeBoxes() {
        std::vector<QString> texts = boxes.Texts();
        boxes.Shown.clear();
        return texts;
    }
};

} // namespace zorm::test
