#include "windows/message_box.h"

#include "windows/operator_input.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

#include <optional>

namespace zorm {

namespace {

QString TitleOf(BoxKind kind) {
    switch (kind) {
    case BoxKind::Error:
        return QStringLiteral("Error");
    case BoxKind::Warning:
        return QStringLiteral("Warning");
    case BoxKind::Information:
        break;
    }
    return QStringLiteral("Information");
}

QMessageBox::Icon IconOf(BoxKind kind) {
    switch (kind) {
    case BoxKind::Error:
        return QMessageBox::Critical;
    case BoxKind::Warning:
        return QMessageBox::Warning;
    case BoxKind::Information:
        break;
    }
    return QMessageBox::Information;
}

} // namespace

BoxAnswer QtMessageBoxService::Show(BoxKind kind, const QString& text, BoxButtons buttons) {
    // A box waits for the operator, not for the converter: over a busy
    // window it shows the normal cursor.
    std::optional<CursorOverride> normal;
    if (QGuiApplication::overrideCursor() != nullptr) {
        normal.emplace(Qt::ArrowCursor);
    }
    // Owned by the active window, so that it stays above it and blocks it.
    QMessageBox box(IconOf(kind), TitleOf(kind), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    if (buttons == BoxButtons::Ok) {
        box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.exec();
        return BoxAnswer::Ok;
    }
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes ? BoxAnswer::Yes : BoxAnswer::No;
}

int QtModalRunner::Run(QDialog& dialog) {
    return dialog.exec();
}

} // namespace zorm
