// Texts that fit their controls and windows that fit the screen: the width a
// control's text needs, the growth of a control and of the frames around it,
// the place of a window on an area with and without room for it, and every
// window of the program on the screen the tests run on (registered once more
// on a small scaled screen and on a large one, tests/windows/CMakeLists.txt).
#include "records/history.h"
#include "records/station_settings.h"
#include "tests/windows/main_window_fixture.h"
#include "tests/windows/records_fixture.h"
#include "windows/AD7731.h"
#include "windows/Historie.h"
#include "windows/Informace.h"
#include "windows/Kalibrace.h"
#include "windows/Kontrola.h"
#include "windows/Reference.h"
#include "windows/fitting.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

namespace zorm {
namespace {

const QString LongCaption = QStringLiteral("Kontrola kalibračních konstant");

// A push button needs what Qt's own measure gives it for a long text, with
// or without a picture; a short text needs less than the least width the
// style gives every button with a text, but more than the text.
TEST(WidthForText, PushButtonsAsQtMeasuresThemWithoutTheStylesLeastWidth) {
    QWidget window;
    auto* plain = new QPushButton(LongCaption, &window);
    auto* pictured = new QPushButton(LongCaption, &window);
    pictured->setIcon(window.style()->standardIcon(QStyle::SP_FileDialogContentsView));
    auto* brief = new QPushButton(QStringLiteral("&Zpět"), &window);
    EXPECT_EQ(WidthForText(*plain), plain->sizeHint().width());
    EXPECT_EQ(WidthForText(*pictured), pictured->sizeHint().width());
    EXPECT_GE(WidthForText(*pictured), WidthForText(*plain) + pictured->iconSize().width() + 4);
    EXPECT_LE(WidthForText(*brief), brief->sizeHint().width());
    EXPECT_GT(WidthForText(*brief), brief->fontMetrics().horizontalAdvance(QStringLiteral("Zpět")));
}

// A label in a frame in a window: a text that fits changes nothing, and a
// control never narrows; a wider one widens the label where it stands, the
// frame only when the label would reach into its margin (the narrowest gap
// right of its controls), and the window likewise.
TEST(GrowToText, WidensTheControlAndOnlyTheFramesItWouldNotFitIn) {
    QWidget window;
    window.resize(300, 200);
    auto* frame = new QFrame(&window);
    frame->setGeometry(16, 10, 160, 100);
    auto* label = new QLabel(QStringLiteral("x"), frame);
    label->setGeometry(8, 8, 60, 20);
    auto* wide = new QLabel(frame);
    wide->setGeometry(8, 40, 140, 20); // the frame's margin: 12
    auto* button = new QPushButton(&window);
    button->setGeometry(240, 150, 50, 25); // the window's margin: 10

    GrowToText(*label);
    EXPECT_EQ(label->geometry(), QRect(8, 8, 60, 20));
    // Up to the frame's margin: only the label grows.
    QString text = QStringLiteral("x");
    while (QLabel(text).sizeHint().width() <= 100) {
        text += QLatin1Char('x');
    }
    text.chop(1);
    const int within = QLabel(text).sizeHint().width();
    ASSERT_GT(within, 60);
    ShowText(*label, text);
    EXPECT_EQ(label->geometry(), QRect(8, 8, within, 20));
    EXPECT_EQ(frame->geometry(), QRect(16, 10, 160, 100));

    // Beyond it: the frame and then the window grow, positions stay.
    ShowText(*label, text.repeated(8));
    const int needed = label->sizeHint().width();
    ASSERT_GT(16 + 8 + needed + 12 + 10, 300);
    EXPECT_EQ(label->geometry(), QRect(8, 8, needed, 20));
    EXPECT_EQ(frame->geometry(), QRect(16, 10, 8 + needed + 12, 100));
    EXPECT_EQ(window.width(), 16 + 8 + needed + 12 + 10);
    EXPECT_EQ(button->geometry(), QRect(240, 150, 50, 25));

    ShowText(*label, QStringLiteral("x"));
    EXPECT_EQ(label->width(), needed);
}

TEST(PlaceWithin, KeepsTheDesignedPlaceWhereItFitsElseMovesTheLeastWayOntoTheArea) {
    const QRect area(0, 30, 1024, 738); // a panel above it
    const struct {
        QRect designed;
        QPoint placed;
    } cases[] = {
        {{612, 186, 400, 500}, {612, 186}}, // fits
        {area, {0, 30}},                    // exactly
        {{612, 186, 730, 564}, {294, 186}}, // off to the right
        {{100, 300, 300, 500}, {100, 268}}, // off the bottom
        {{-50, 10, 300, 200}, {0, 30}},     // off to the left and the top
        {{100, -24, 733, 948}, {100, 30}},  // taller than the area: its top on it
        {{400, 100, 1200, 300}, {0, 100}},  // wider than the area
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PlaceWithin(c.designed, area), c.placed)
            << c.designed.x() << "," << c.designed.y();
    }
}

// Where the screen has room for a window at its designed place, it is there;
// otherwise it lies wholly on the available area in each direction it fits,
// and its top left corner is on the area in any case.
void ExpectPlaced(const QWidget& window, QPoint designed, QSize frame = {0, 0}) {
    SCOPED_TRACE(window.objectName().toStdString());
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize size = window.size() + frame;
    if (available.contains(QRect(designed, size))) {
        EXPECT_EQ(window.pos(), designed);
        return;
    }
    const QRect placed(window.pos(), size);
    EXPECT_TRUE(available.contains(placed.topLeft()));
    if (size.width() <= available.width()) {
        EXPECT_LE(placed.right(), available.right());
    }
    if (size.height() <= available.height()) {
        EXPECT_LE(placed.bottom(), available.bottom());
    }
}

class Placement : public test::MainWindowTest {};

TEST_F(Placement, EveryWindowAtItsPlaceOrOnTheScreen) {
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    ExpectPlaced(window, centre - window.rect().center());
    TKalibrace calibration(context, link, boxes, modal, &window);
    ExpectPlaced(calibration, centre - calibration.rect().center());
    TInfo info;
    ExpectPlaced(info, centre - info.rect().center());
    TADconv registers(context, link, boxes);
    ExpectPlaced(registers, QPoint(612, 186));
    test::RecordsOnDisk records;
    StationSettings settings;
    TReference references(records.history, settings, boxes);
    ExpectPlaced(references, centre - references.rect().center());
    // The constants view is centred over the main window, with a frame as
    // large as the main window's.
    window.show();
    TKontrol view(context, boxes, &calibration);
    ExpectPlaced(view, window.geometry().center() - view.rect().center(),
                 window.frameGeometry().size() - window.size());
    THistorie history(context, link, records.keeper, boxes, modal, &window);
    ExpectPlaced(history, centre - history.rect().center());
}

// No text of any window is cut off in the font the tests run with, as the
// windows open: every label (one that wraps aside), push button, check box
// and option placed by the window's design rather than by a layout.
TEST_F(Placement, EveryTextOfEveryWindowFitsItsControl) {
    TKalibrace calibration(context, link, boxes, modal);
    TInfo info;
    TADconv registers(context, link, boxes);
    TKontrol view(context, boxes);
    for (QWidget* opened :
         std::initializer_list<QWidget*>{&window, &calibration, &info, &registers, &view}) {
        for (const QWidget* control : opened->findChildren<QWidget*>()) {
            if (control->parentWidget()->layout() == nullptr) {
                EXPECT_LE(WidthForText(*control), control->width())
                    << opened->objectName().toStdString() << " "
                    << control->objectName().toStdString();
            }
        }
    }
}

} // namespace
} // namespace zorm
