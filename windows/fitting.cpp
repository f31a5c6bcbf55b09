#include "windows/fitting.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>
#include <cmath>

namespace zorm {

namespace {

// The width the button's style gives a push button for its picture and text
// side by side (4 pixels between them), as QPushButton::sizeHint measures it,
// but without the least width that a style gives any button with a text: a
// short text needs less.
int PushButtonWidth(const QPushButton& button) {
    QStyleOptionButton option;
    option.initFrom(&button);
    option.icon = button.icon();
    option.iconSize = button.iconSize();
    if (button.isFlat()) {
        option.features |= QStyleOptionButton::Flat;
    }
    if (button.autoDefault()) {
        option.features |= QStyleOptionButton::AutoDefaultButton;
    }
    if (button.isDefault()) {
        option.features |= QStyleOptionButton::DefaultButton;
    }
    const QFontMetrics metrics = button.fontMetrics();
    QSize label = metrics.size(Qt::TextShowMnemonic, button.text());
    if (!button.icon().isNull()) {
        label.rwidth() += button.iconSize().width() + (button.text().isEmpty() ? 0 : 4);
        label.rheight() = std::max(label.height(), button.iconSize().height());
    }
    return button.style()->sizeFromContents(QStyle::CT_PushButton, &option, label, &button).width();
}

// The room the window's designer left right of the controls in `outer`: the
// narrowest gap between a control's right edge and the frame's.
int RightMargin(const QWidget& outer) {
    int margin = outer.width();
    for (const QObject* child : outer.children()) {
        const auto* control = qobject_cast<const QWidget*>(child);
        if (control != nullptr && !control->isWindow()) {
            margin = std::min(margin, outer.width() - control->x() - control->width());
        }
    }
    return std::max(0, margin);
}

// The largest frame that the window manager has put around a window shown
// so far.
QSize FrameAllowance() {
    QSize allowance(0, 0);
    for (const QWidget* shown : QApplication::topLevelWidgets()) {
        if (shown->isVisible()) {
            allowance = allowance.expandedTo(shown->frameGeometry().size() - shown->size());
        }
    }
    return allowance;
}

} // namespace

int WidthForText(const QWidget& control) {
    if (const auto* label = qobject_cast<const QLabel*>(&control)) {
        return label->wordWrap() ? label->width() : label->sizeHint().width();
    }
    if (const auto* button = qobject_cast<const QPushButton*>(&control)) {
        return PushButtonWidth(*button);
    }
    if (qobject_cast<const QCheckBox*>(&control) != nullptr ||
        qobject_cast<const QRadioButton*>(&control) != nullptr) {
        return control.sizeHint().width();
    }
    return control.width();
}

void GrowToText(QWidget& control) {
    QWidget* inner = &control;
    int width = WidthForText(control);
    while (width > inner->width()) {
        QWidget* outer = inner->isWindow() ? nullptr : inner->parentWidget();
        const int margin = outer == nullptr ? 0 : RightMargin(*outer);
        inner->resize(width, inner->height());
        if (outer == nullptr) {
            return;
        }
        width = inner->x() + width + margin;
        inner = outer;
    }
}

void ShowText(QLabel& label, const QString& text) {
    label.setText(text);
    GrowToText(label);
}

void ShowText(QPushButton& button, const QString& text) {
    button.setText(text);
    GrowToText(button);
}

QPoint PlaceWithin(const QRect& designed, const QRect& available) {
    const auto axis = [](int start, int size, int from, int room) {
        return std::max(from, std::min(start, from + room - size));
    };
    return {axis(designed.x(), designed.width(), available.x(), available.width()),
            axis(designed.y(), designed.height(), available.y(), available.height())};
}

void PlaceOnScreen(QWidget& window, QPoint designed) {
    const QScreen* screen = QGuiApplication::screenAt(designed);
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        window.move(designed);
        return;
    }
    QRect available = screen->availableGeometry();
    // At a fractional scale the area in device pixels does not end on a
    // whole logical pixel, and a window flush with its far edge would reach
    // one device pixel beyond it.
    const qreal ratio = screen->devicePixelRatio();
    if (ratio != std::floor(ratio)) {
        available.adjust(0, 0, -1, -1);
    }
    window.move(PlaceWithin(QRect(designed, window.size() + FrameAllowance()), available));
}

void CentreOnScreen(QWidget& window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        PlaceOnScreen(window, screen->availableGeometry().center() - window.rect().center());
    }
}

} // namespace zorm
