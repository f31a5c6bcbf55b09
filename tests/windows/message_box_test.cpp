// The Qt message boxes and the Qt modal runner, driven from a timer while
// their event loop runs.
#include "windows/message_box.h"
#include "windows/operator_input.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>

#include <functional>

namespace zorm {
namespace {

struct SeenBox {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QStringList Buttons;
};

// Waits for the modal box, notes what it shows, then lets `act` close it.
void WhenBoxOpens(SeenBox& seen, std::function<void(QMessageBox&)> act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, &seen, act] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        seen.Title = box->windowTitle();
        seen.Text = box->text();
        seen.Icon = box->icon();
        for (QAbstractButton* button : box->buttons()) {
            seen.Buttons.append(button->text());
        }
        act(*box);
    });
    poll->start(5);
}

void Click(QMessageBox& box, const QString& caption) {
    for (QAbstractButton* button : box.buttons()) {
        if (button->text() == caption) {
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << caption.toStdString();
    box.reject();
}

TEST(QtMessageBox, ErrorWithOkHasItsTitleIconAndOneButton) {
    QtMessageBoxService service;
    SeenBox seen;
    WhenBoxOpens(seen, [](QMessageBox& box) { Click(box, "OK"); });
    const BoxAnswer answer =
        service.Show(BoxKind::Error, QStringLiteral("Zařízení není připojeno."), BoxButtons::Ok);
    EXPECT_EQ(answer, BoxAnswer::Ok);
    EXPECT_EQ(seen.Title, "Error");
    EXPECT_EQ(seen.Text, QStringLiteral("Zařízení není připojeno."));
    EXPECT_EQ(seen.Icon, QMessageBox::Critical);
    EXPECT_EQ(seen.Buttons, QStringList{"OK"});
}

TEST(QtMessageBox, KindsGiveTitlesAndIcons) {
    QtMessageBoxService service;
    SeenBox warning;
    WhenBoxOpens(warning, [](QMessageBox& box) { Click(box, "OK"); });
    service.Show(BoxKind::Warning, "w", BoxButtons::Ok);
    EXPECT_EQ(warning.Title, "Warning");
    EXPECT_EQ(warning.Icon, QMessageBox::Warning);

    SeenBox information;
    WhenBoxOpens(information, [](QMessageBox& box) { Click(box, "OK"); });
    service.Show(BoxKind::Information, "i", BoxButtons::Ok);
    EXPECT_EQ(information.Title, "Information");
    EXPECT_EQ(information.Icon, QMessageBox::Information);
}

TEST(QtMessageBox, QuestionAnswersTheButtonChosen) {
    QtMessageBoxService service;
    SeenBox yes;
    WhenBoxOpens(yes, [](QMessageBox& box) { Click(box, "&Yes"); });
    EXPECT_EQ(service.Show(BoxKind::Warning, "?", BoxButtons::YesNo), BoxAnswer::Yes);
    EXPECT_EQ(yes.Buttons.size(), 2);
    EXPECT_TRUE(yes.Buttons.contains("&Yes"));
    EXPECT_TRUE(yes.Buttons.contains("&No"));

    SeenBox no;
    WhenBoxOpens(no, [](QMessageBox& box) { Click(box, "&No"); });
    EXPECT_EQ(service.Show(BoxKind::Warning, "?", BoxButtons::YesNo), BoxAnswer::No);

    // Closing the question without a button is no consent.
    SeenBox closed;
    WhenBoxOpens(closed, [](QMessageBox& box) { box.reject(); });
    EXPECT_EQ(service.Show(BoxKind::Warning, "?", BoxButtons::YesNo), BoxAnswer::No);
}

TEST(QtMessageBox, ShowsTheNormalCursorOverABusyWindow) {
    const auto cursor = [] {
        const QCursor* override = QGuiApplication::overrideCursor();
        return override == nullptr ? -1 : static_cast<int>(override->shape());
    };
    QtMessageBoxService service;
    int atBox = 0;
    SeenBox seen;
    WhenBoxOpens(seen, [&](QMessageBox& box) {
        atBox = cursor();
        Click(box, "OK");
    });
    {
        const CursorOverride busy(Qt::WaitCursor);
        service.Show(BoxKind::Information, "found", BoxButtons::Ok);
        EXPECT_EQ(atBox, Qt::ArrowCursor);
        EXPECT_EQ(cursor(), Qt::WaitCursor);
    }
    // Where nothing is busy, the box sets no cursor of its own.
    WhenBoxOpens(seen, [&](QMessageBox& box) {
        atBox = cursor();
        Click(box, "OK");
    });
    service.Show(BoxKind::Error, "idle", BoxButtons::Ok);
    EXPECT_EQ(atBox, -1);
    EXPECT_EQ(cursor(), -1);
}

TEST(QtModalRunner, RunsTheWindowModallyUntilItEnds) {
    QDialog dialog;
    bool wasModal = false;
    QTimer::singleShot(0, &dialog, [&] {
        wasModal = QApplication::activeModalWidget() == &dialog;
        dialog.done(7);
    });
    QtModalRunner runner;
    EXPECT_EQ(runner.Run(dialog), 7);
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(dialog.isVisible());
}

} // namespace
} // namespace zorm
