// The main window under the operator's hands: where the focus goes when the
// measurement buttons change places, Enter on a focused button, the wait
// cursor while the converter is busy, and a typed period.
#include "tests/windows/main_window_fixture.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <vector>

namespace zorm {
namespace {

using test::MainWindowTest;
using test::Press;
using test::SendKey;

class Operator : public MainWindowTest {
protected:
    // The window on screen and active, started against a converter on port 1
    // (no Parametry.par: filter on).
    sim::SimLine ShowConnected() {
        sim::SimLine line = ports.Add(1);
        window.FormActivate();
        test::ShowActive(window);
        line.ClearEvents();
        return line;
    }
};

TEST_F(Operator, FocusFollowsTheSwappedButtonSoAStraySpaceKeepsTheFilter) {
    ShowConnected();
    auto* start = Control<QPushButton>("BitBtn3");
    auto* stop = Control<QPushButton>("BitBtn5");
    auto* filter = Control<QCheckBox>("CheckBox6");
    ASSERT_TRUE(filter->isChecked());

    start->setFocus();
    Press(&window, Qt::Key_Space);
    EXPECT_TRUE(Control<QTimer>("Timer1")->isActive());
    EXPECT_EQ(window.focusWidget(), stop);
    Press(&window, Qt::Key_Space);
    EXPECT_FALSE(Control<QTimer>("Timer1")->isActive());
    EXPECT_EQ(window.focusWidget(), start);

    // A second Space starts the measurement again rather than unticking the
    // filter, and the filter setting stays as it was.
    Press(&window, Qt::Key_Space);
    EXPECT_TRUE(Control<QTimer>("Timer1")->isActive());
    EXPECT_TRUE(filter->isChecked());
    EXPECT_EQ(context.DeviceSettings.FilterOn, 1);
}

TEST_F(Operator, EnterPressesTheFocusedButtonAndSpaceStillDoes) {
    sim::SimLine line = ShowConnected();
    auto* once = Control<QPushButton>("BitBtn1");
    auto* sensor2 = Control<QCheckBox>("CheckBox2");
    const auto passes = [&line] { return Frames(line).size(); };

    once->setFocus();
    Press(&window, Qt::Key_Return);
    EXPECT_EQ(passes(), 1u);
    Press(&window, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(passes(), 2u);
    Press(&window, Qt::Key_Space);
    EXPECT_EQ(passes(), 3u);
    // Held down, it presses once; with Ctrl or Alt it is no press.
    SendKey(once, QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, true);
    Press(&window, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(passes(), 3u);

    // A check box is no button: Enter leaves it as it is.
    sensor2->setFocus();
    Press(&window, Qt::Key_Return);
    EXPECT_FALSE(sensor2->isChecked());
}

TEST(EnterKey, PressesTheFocusedButtonOfAWindowThatKnowsNothingOfIt) {
    QWidget other;
    auto* layout = new QVBoxLayout(&other);
    auto* push = new QPushButton(QStringLiteral("push"));
    auto* tool = new QToolButton;
    layout->addWidget(push);
    layout->addWidget(tool);
    int pushed = 0;
    int tooled = 0;
    QObject::connect(push, &QPushButton::clicked, [&pushed] { ++pushed; });
    QObject::connect(tool, &QToolButton::clicked, [&tooled] { ++tooled; });

    for (QAbstractButton* button :
         {static_cast<QAbstractButton*>(push), static_cast<QAbstractButton*>(tool)}) {
        SendKey(button, QEvent::KeyPress, Qt::Key_Return);
        SendKey(button, QEvent::KeyRelease, Qt::Key_Return);
    }
    EXPECT_EQ(pushed, 1);
    EXPECT_EQ(tooled, 1);
}

// A reconnect that finds the converter hides "Připojení přístroje": the focus
// stays with the window rather than pass to the period list, where the next
// arrow key would change the period.
TEST_F(Operator, ReconnectButtonLeavesTheFocusWithTheWindowWhenItGoes) {
    window.FormActivate(); // nothing to find
    test::ShowActive(window);
    auto* reconnect = Control<QPushButton>("BitBtn4");
    ASSERT_FALSE(reconnect->isHidden());
    ports.Add(1);
    reconnect->setFocus();
    Press(&window, Qt::Key_Space);
    EXPECT_TRUE(reconnect->isHidden());
    EXPECT_EQ(QApplication::focusWidget(), &window);
}

// The rule holds in any window: a control hidden with the focus, or inside a
// frame that is hidden, leaves the focus with the window; hiding a control
// without the focus moves nothing.
TEST(HiddenFocus, StaysWithTheWindowOfAWindowThatKnowsNothingOfIt) {
    QWidget other;
    auto* layout = new QVBoxLayout(&other);
    auto* first = new QPushButton(QStringLiteral("first"));
    auto* frame = new QWidget;
    auto* inFrame = new QPushButton(QStringLiteral("in the frame"), frame);
    auto* last = new QPushButton(QStringLiteral("last"));
    for (QWidget* control : {static_cast<QWidget*>(first), frame, static_cast<QWidget*>(last)}) {
        layout->addWidget(control);
    }
    test::ShowActive(other);

    first->setFocus();
    last->hide();
    EXPECT_EQ(QApplication::focusWidget(), first);
    first->hide();
    EXPECT_EQ(QApplication::focusWidget(), &other);
    inFrame->setFocus();
    frame->hide();
    EXPECT_EQ(QApplication::focusWidget(), &other);
}

// The shape of the cursor over the program's windows, or -1 for none set.
int OverrideCursor() {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor == nullptr ? -1 : cursor->shape();
}

TEST_F(Operator, WaitCursorWhileTheConverterIsBusyGoneOnEveryWayOut) {
    std::vector<int> atReads;
    beforeRead = [&atReads] { atReads.push_back(OverrideCursor()); };
    DeviceSettings settings;
    settings.PortNumber = 3;
    WriteSettings(settings);
    ports.Add(3).Converter().SetFault(sim::Fault::Silence);
    ports.Add(2);
    const std::vector<int> waiting(2, Qt::WaitCursor);

    // The search past a silent port finds the converter on the next one.
    window.FormActivate();
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(atReads, waiting);
    EXPECT_EQ(OverrideCursor(), -1);

    // A measurement pass, one sensor of it failing.
    atReads.clear();
    ports.Remove(3);
    Control<QCheckBox>("CheckBox2")->setChecked(true);
    window.BitBtn1Click();
    EXPECT_EQ(atReads, waiting);
    EXPECT_EQ(OverrideCursor(), -1);

    // A search that finds nothing.
    link.ClosePort();
    ports.Remove(2);
    window.BitBtn4Click();
    EXPECT_EQ(boxes.Shown.back().Text, QStringLiteral("Zařízení není připojeno."));
    EXPECT_EQ(OverrideCursor(), -1);
}

TEST_F(Operator, TypedPeriodThatIsNoItemCountsAsNoItem) {
    auto* periods = Control<QComboBox>("ComboBox1");
    auto* timer = Control<QTimer>("Timer1");
    const struct {
        int chosen;
        const char* typed;
        int period;
    } table[] = {{3, "7 s", 1000}, {6, "", 1000}, {1, "30 s", 30000}, {5, "10", 1000}};
    for (const auto& row : table) {
        SCOPED_TRACE(row.typed);
        periods->setCurrentIndex(row.chosen);
        periods->setEditText(QString::fromLatin1(row.typed));
        window.BitBtn3Click();
        EXPECT_EQ(timer->interval(), row.period);
        window.BitBtn5Click();
    }
}

} // namespace
} // namespace zorm
