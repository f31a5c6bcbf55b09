// Helpers of the window tests: a message-box service that records every box
// and answers it from a script, a modal runner driven by the test, and a
// check of a window's controls against its design.
#pragma once

#include "windows/message_box.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <deque>
#include <functional>
#include <vector>

namespace zorm::test {

struct ShownBox {
    BoxKind Kind;
    QString Text;
    BoxButtons Buttons;
};

class ScriptedBoxes : public MessageBoxService {
public:
    // Answers of the coming questions, in order. A box with only OK needs no
    // answer; a question nobody scripted fails the test and gets "No".
    std::deque<BoxAnswer> Answers;
    std::vector<ShownBox> Shown;

    BoxAnswer Show(BoxKind kind, const QString& text, BoxButtons buttons) override {
        Shown.push_back({kind, text, buttons});
        if (buttons == BoxButtons::Ok) {
            return BoxAnswer::Ok;
        }
        if (Answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text.toStdString();
            return BoxAnswer::No;
        }
        const BoxAnswer answer = Answers.front();
        Answers.pop_front();
        return answer;
    }

    std::vector<QString> Texts() const {
        std::vector<QString> texts;
        for (const ShownBox& box : Shown) {
            texts.push_back(box.Text);
        }
        return texts;
    }
};

// Hands every modal window to the test instead of running an event loop.
class ScriptedModal : public ModalRunner {
public:
    std::function<int(QDialog&)> Drive;
    int Runs = 0;

    int Run(QDialog& dialog) override {
        ++Runs;
        return Drive ? Drive(dialog) : 0;
    }
};

// One control of a window as designed.
struct ExpectedControl {
    const char* Name;
    const char* Kind;   // its Qt class
    QString Caption;    // label or button text, frame title, entry text
    QRect Place;        // left, top, width x height; a size of 0 is not checked
    const char* Parent; // the frame holding the control, or the client area
    bool Visible;
};

// Checks each of `controls` in `window`: kind, parent, place, visibility and
// caption.
inline void ExpectControls(const QWidget& window, const std::vector<ExpectedControl>& controls) {
    for (const ExpectedControl& expected : controls) {
        SCOPED_TRACE(expected.Name);
        auto* control = window.findChild<QWidget*>(QString::fromLatin1(expected.Name));
        ASSERT_NE(control, nullptr);
        EXPECT_STREQ(control->metaObject()->className(), expected.Kind);
        EXPECT_EQ(control->parentWidget()->objectName(), expected.Parent);
        EXPECT_EQ(control->pos(), expected.Place.topLeft());
        if (expected.Place.width() > 0) {
            EXPECT_EQ(control->width(), expected.Place.width());
        }
        if (expected.Place.height() > 0) {
            EXPECT_EQ(control->height(), expected.Place.height());
        }
        EXPECT_EQ(!control->isHidden(), expected.Visible);
        QString caption;
        if (auto* label = qobject_cast<QLabel*>(control)) {
            caption = label->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            caption = button->text();
        } else if (auto* frame = qobject_cast<QGroupBox*>(control)) {
            caption = frame->title();
        } else if (auto* entry = qobject_cast<QLineEdit*>(control)) {
            caption = entry->text();
        }
        EXPECT_EQ(caption, expected.Caption);
    }
}

// The controls among `order` in the order Tab visits them, starting at
// `first` and going once round the focus chain, counting the controls that
// take the focus by Tab. An option button stands for the group that holds it.
inline QStringList TabChain(QWidget* first, const QStringList& order) {
    const auto stop = [](QWidget* widget) {
        return qobject_cast<QRadioButton*>(widget) ? widget->parentWidget()->objectName()
                                                   : widget->objectName();
    };
    QStringList chain;
    QWidget* widget = first;
    do {
        const QString name = stop(widget);
        const bool takesTab = (widget->focusPolicy() & Qt::TabFocus) != 0;
        if (takesTab && order.contains(name) && (chain.isEmpty() || chain.last() != name)) {
            chain.append(name);
        }
        widget = widget->nextInFocusChain();
    } while (widget != first);
    return chain;
}

// Shows `window` and waits until it is the active window, which the focus
// of its controls needs.
inline void ShowActive(QWidget& window) {
    window.show();
    window.activateWindow();
    for (int spin = 0; spin < 100 && QApplication::activeWindow() != &window; ++spin) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_EQ(QApplication::activeWindow(), &window);
}

inline void SendKey(QWidget* to, QEvent::Type type, int key,
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool autoRepeat = false) {
    QKeyEvent event(type, key, modifiers, QString(), autoRepeat);
    QCoreApplication::sendEvent(to, &event);
}

// A key pressed and let go on the control of `window` that has the focus.
inline void Press(QWidget* window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = window->focusWidget();
    ASSERT_NE(focus, nullptr);
    SendKey(focus, QEvent::KeyPress, key, modifiers);
    SendKey(focus, QEvent::KeyRelease, key, modifiers);
}

} // namespace zorm::test
