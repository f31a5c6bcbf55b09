#include "windows/operator_input.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>

namespace zorm {

namespace {

// Sees every key press and every hiding of the application before the
// control concerned does.
class OperatorInput final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide) {
            KeepFocusInWindow(watched);
            return false;
        }
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<const QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
            return false;
        }
        QAbstractButton* button = qobject_cast<QPushButton*>(watched);
        if (button == nullptr) {
            button = qobject_cast<QToolButton*>(watched);
        }
        if (button == nullptr) {
            return false;
        }
        // Holding Enter down presses the button once, not once per repeat.
        if (!key->isAutoRepeat()) {
            button->click();
        }
        return true;
    }

private:
    // The hide event comes before Qt passes the focus of a hidden control on
    // along the tab order; once the window holds it, nothing is passed on.
    static void KeepFocusInWindow(QObject* watched) {
        auto* hidden = qobject_cast<QWidget*>(watched);
        if (hidden == nullptr || hidden->isWindow()) {
            return;
        }
        QWidget* window = hidden->window();
        QWidget* focus = window->focusWidget();
        if (focus != nullptr && (focus == hidden || hidden->isAncestorOf(focus))) {
            window->setFocus(Qt::OtherFocusReason);
        }
    }
};

} // namespace

void InstallOperatorInput(QApplication& application) {
    application.installEventFilter(new OperatorInput(&application));
}

bool FocusLeftForAnotherControl(const QEvent& event) {
    if (event.type() != QEvent::FocusOut) {
        return false;
    }
    const Qt::FocusReason reason = static_cast<const QFocusEvent&>(event).reason();
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

CursorOverride::CursorOverride(Qt::CursorShape shape) {
    QGuiApplication::setOverrideCursor(shape);
}

CursorOverride::~CursorOverride() {
    QGuiApplication::restoreOverrideCursor();
}

} // namespace zorm
