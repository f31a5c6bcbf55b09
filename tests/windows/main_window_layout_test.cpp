// The main window as the operator first sees it: every control by its name,
// kind, caption, place and visibility, the menu, the period list, the fonts
// and the tab order.
#include "data/context.h"
#include "link/drv232.h"
#include "tests/windows/window_test_support.h"
#include "windows/ZORM5801.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include <optional>
#include <vector>

namespace zorm {
namespace {

class MainWindowLayout : public testing::Test {
protected:
    Context context;
    Drv232 link{context, [](std::uint8_t) { return std::unique_ptr<SerialPort>(); }};
    test::ScriptedBoxes boxes;
    test::ScriptedModal modal;
    THlavni window{context, link, boxes, modal};

    template <typename T> T* Control(const char* name) {
        T* control = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name << " missing or of another kind";
        return control;
    }
};

TEST_F(MainWindowLayout, ControlsHaveTheirKindsCaptionsPlacesAndVisibility) {
    const std::vector<test::ExpectedControl> controls = {
        {"Label1", "QLabel", "Adresa přístroje", {16, 16, 0, 0}, "centralwidget", false},
        {"SpinEdit1", "QSpinBox", "", {24, 32, 57, 22}, "centralwidget", false},
        {"BitBtn4",
         "QPushButton",
         "Připojení přístroje",
         {104, 32, 153, 25},
         "centralwidget",
         false},
        {"SpeedButton1", "QToolButton", "", {440, 8, 23, 22}, "centralwidget", false},
        {"CheckBox6", "QCheckBox", "Filtr měření", {24, 72, 97, 17}, "centralwidget", true},
        {"CheckBox7", "QCheckBox", "°C", {24, 104, 57, 17}, "centralwidget", true},
        {"GroupBox1", "QGroupBox", "Snímače teploty", {48, 200, 113, 129}, "centralwidget", true},
        {"CheckBox1", "QCheckBox", "Snímač 1", {16, 32, 0, 0}, "GroupBox1", true},
        {"CheckBox2", "QCheckBox", "Snímač 2", {16, 64, 0, 0}, "GroupBox1", true},
        {"CheckBox3", "QCheckBox", "Snímač 3", {16, 96, 0, 0}, "GroupBox1", true},
        {"GroupBox2", "QGroupBox", "Měřené teploty", {184, 200, 105, 129}, "centralwidget", true},
        {"Label2", "QLabel", "Teplota 1", {16, 32, 0, 0}, "GroupBox2", true},
        {"Label3", "QLabel", "Teplota 2", {16, 64, 0, 0}, "GroupBox2", true},
        {"Label4", "QLabel", "Teplota 3", {16, 96, 0, 0}, "GroupBox2", true},
        {"BitBtn1",
         "QPushButton",
         "Jednorázové měření",
         {320, 208, 153, 25},
         "centralwidget",
         true},
        {"BitBtn3", "QPushButton", "Periodické měření", {320, 264, 153, 25}, "centralwidget", true},
        {"Label7", "QLabel", "Perioda [s]:", {320, 312, 0, 0}, "centralwidget", true},
        {"BitBtn5", "QPushButton", "Stop měření", {336, 360, 121, 25}, "centralwidget", false},
        {"Button1", "QPushButton", "TEST", {48, 408, 75, 25}, "centralwidget", false},
        {"Label8", "QLabel", "Label8", {56, 448, 0, 0}, "centralwidget", false},
        {"BitBtn2", "QPushButton", "&K o n e c", {176, 496, 121, 33}, "centralwidget", true},
    };
    test::ExpectControls(window, controls);

    // Buttons with pictures carry an icon; the picture-only button nothing else.
    for (const char* name : {"BitBtn1", "BitBtn2", "BitBtn3", "BitBtn4", "BitBtn5"}) {
        EXPECT_FALSE(Control<QPushButton>(name)->icon().isNull()) << name;
    }
    auto* speed = Control<QToolButton>("SpeedButton1");
    EXPECT_FALSE(speed->icon().isNull());
    EXPECT_TRUE(speed->autoRaise());
    EXPECT_TRUE(Control<QPushButton>("Button1")->icon().isNull());
}

TEST_F(MainWindowLayout, WindowMenuAndInitialStates) {
    EXPECT_EQ(window.objectName(), "Hlavni");
    EXPECT_EQ(window.windowTitle(), QStringLiteral("ZORM5816A: převodník teploty"));
    EXPECT_EQ(window.size(), QSize(526, 599));
    EXPECT_EQ(window.font().pointSize(), 8);

    // The menus "Záznam" and "Historie kalibrací" come after the two menus
    // of old, which keep their places; the status line of "Záznam" stays
    // hidden until a log runs. The history opens without a converter too.
    const QList<QAction*> menu = window.menuBar()->actions();
    ASSERT_EQ(menu.size(), 4);
    EXPECT_EQ(menu[0]->objectName(), "Parametry1");
    EXPECT_EQ(menu[0]->text(), "Kalibrace");
    EXPECT_FALSE(menu[0]->isEnabled());
    EXPECT_EQ(menu[1]->objectName(), "Inform");
    EXPECT_EQ(menu[1]->text(), "&Info");
    EXPECT_TRUE(menu[1]->isEnabled());
    ASSERT_NE(menu[2]->menu(), nullptr);
    EXPECT_EQ(menu[2]->text(), "&Záznam");
    QStringList items;
    for (const QAction* item : menu[2]->menu()->actions()) {
        items.append(item->isSeparator() ? "-"
                                         : item->text() + (item->isEnabled() ? "" : " (off)"));
    }
    EXPECT_EQ(items, (QStringList{"&Spustit záznam…", "&Zastavit záznam (off)", "-", "&Graf"}));
    EXPECT_EQ(menu[3]->objectName(), "Historie1");
    EXPECT_EQ(menu[3]->text(), "&Historie kalibrací");
    EXPECT_TRUE(menu[3]->isEnabled());
    EXPECT_TRUE(window.statusBar()->isHidden());

    auto* spin = Control<QSpinBox>("SpinEdit1");
    EXPECT_EQ(spin->minimum(), 1);
    EXPECT_EQ(spin->maximum(), 10);
    EXPECT_EQ(spin->value(), 1);

    EXPECT_FALSE(Control<QCheckBox>("CheckBox6")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>("CheckBox7")->isChecked());
    EXPECT_TRUE(Control<QCheckBox>("CheckBox1")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>("CheckBox2")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>("CheckBox3")->isChecked());

    auto* timer = Control<QTimer>("Timer1");
    EXPECT_FALSE(timer->isActive());
}

TEST_F(MainWindowLayout, PeriodListShowsOneSecondWithNoItemSelected) {
    auto* periods = Control<QComboBox>("ComboBox1");
    EXPECT_TRUE(periods->isEditable());
    EXPECT_EQ(periods->pos(), QPoint(392, 312));
    EXPECT_EQ(periods->width(), 57);
    QStringList items;
    for (int i = 0; i < periods->count(); ++i) {
        items.append(periods->itemText(i));
    }
    EXPECT_EQ(items, (QStringList{"1 s", "2 s", "5 s", "10 s", "15 s", "30 s", "60 s"}));
    EXPECT_EQ(periods->currentIndex(), -1);
    EXPECT_EQ(periods->currentText(), "1 s");
}

TEST_F(MainWindowLayout, ResultLabelsAndQuitButtonHaveTheirFonts) {
    for (const char* name : {"Label2", "Label3", "Label4"}) {
        auto* label = Control<QLabel>(name);
        EXPECT_EQ(label->font().pixelSize(), 13) << name;
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::blue)) << name;
    }
    auto* quit = Control<QPushButton>("BitBtn2");
    EXPECT_EQ(quit->font().pixelSize(), 13);
    EXPECT_TRUE(quit->font().bold());
    EXPECT_EQ(quit->palette().color(QPalette::ButtonText), QColor(Qt::black));
    // The other controls keep the window's font.
    EXPECT_FALSE(Control<QPushButton>("BitBtn1")->font().bold());
    EXPECT_EQ(Control<QCheckBox>("CheckBox6")->font().pointSize(), 8);
}

TEST_F(MainWindowLayout, TabOrderStartsAtTheQuitButton) {
    const QStringList order = {"BitBtn2",   "SpinEdit1", "CheckBox1", "CheckBox2", "CheckBox3",
                               "BitBtn1",   "BitBtn3",   "BitBtn4",   "ComboBox1", "BitBtn5",
                               "CheckBox6", "CheckBox7", "Button1"};
    auto* first = Control<QWidget>("BitBtn2");
    EXPECT_EQ(window.focusWidget(), first);

    EXPECT_EQ(test::TabChain(first, order), order);
    EXPECT_EQ(Control<QToolButton>("SpeedButton1")->focusPolicy(), Qt::NoFocus);
}

} // namespace
} // namespace zorm
