// The main window's readings outside the range their sensor was calibrated
// over.
#include "tests/windows/main_window_fixture.h"

#include <QLocale>

namespace zorm {
namespace {

QString Local(QString number) {
    return number.replace('.', QLocale::system().decimalPoint());
}

// The main window in °C: a reading outside the raw range of the sensor's
// points reads in another colour with the range in its tooltip, for a cubic
// that rises and one that falls; inside the range, shown raw, failed, or
// without a calibration it looks as always.
class Extrapolation : public test::MainWindowTest {
protected:
    QLabel* Result(int s) {
        return Control<QLabel>(QStringLiteral("Label%1").arg(s + 1).toLatin1().constData());
    }
    QColor Colour(int s) { return Result(s)->palette().color(QPalette::WindowText); }
};

TEST_F(Extrapolation, ReadingsOutsideTheCalibratedRangeStandOut) {
    sim::SimLine line = Connect(0, 1);
    // -20.5 °C at 10000 and 141.5 °C at 74800 on sensor 1, the mirror image
    // on sensor 3; sensor 2 has points but no calibration in force.
    SensorParamSet& user = context.UserParams;
    for (const int s : {1, 2, 3}) {
        const std::int32_t raws[] = {30000, 74800, 10000, 52000};
        for (int k = 1; k <= 4; ++k) {
            user.Raw(s, k) = raws[k - 1];
        }
        user.Count(s) = 4;
        user.Calibrated(s) = 1;
    }
    user.Coefficients.A1(1) = 0.0025;
    user.Coefficients.A0(1) = -45.5;
    user.Coefficients.A1(3) = -0.0025;
    user.Coefficients.A0(3) = 166.5;
    Tick({1, 2, 3});
    const QString range = Local(QStringLiteral("mimo kalibrovaný rozsah −20.50 až 141.50 °C"));
    const QColor blue(Qt::blue);

    for (const std::int32_t outside : {9999, 74801}) {
        line.Converter().Config().Raw = {outside, outside, outside};
        window.BitBtn1Click();
        for (const int s : {1, 3}) {
            EXPECT_NE(Colour(s), blue) << s << " " << outside;
            EXPECT_EQ(Result(s)->toolTip(), range) << s << " " << outside;
        }
        EXPECT_EQ(Colour(1), Colour(3));
        EXPECT_EQ(Result(2)->text(), "nekalibrováno");
        EXPECT_EQ(Colour(2), blue);
        EXPECT_EQ(Result(2)->toolTip(), "");
    }
    for (const std::int32_t inside : {10000, 40000, 74800}) {
        line.Converter().Config().Raw = {inside, inside, inside};
        window.BitBtn1Click();
        for (const int s : {1, 3}) {
            EXPECT_EQ(Colour(s), blue) << s << " " << inside;
            EXPECT_EQ(Result(s)->toolTip(), "") << s << " " << inside;
        }
    }

    line.Converter().Config().Raw = {99999, 99999, 99999};
    window.BitBtn1Click();
    ASSERT_NE(Colour(1), blue);
    line.Converter().SetFaultForNext(sim::Fault::Silence, 1);
    window.BitBtn1Click();
    EXPECT_EQ(Result(1)->text(), "- - - ");
    EXPECT_EQ(Colour(1), blue);
    EXPECT_EQ(Result(1)->toolTip(), "");
    context.DeviceSettings.ShowCelsius = 0;
    window.BitBtn1Click();
    EXPECT_EQ(Result(3)->text(), "99999");
    EXPECT_EQ(Colour(3), blue);
    EXPECT_EQ(Result(3)->toolTip(), "");
}

} // namespace
} // namespace zorm
