// The information window: its look, the contact from the deployer's file or
// placeholders without it, and closing it, which leaves everything as it was.
#include "data/contact_file.h"
#include "tests/support/scratch_directory.h"
#include "tests/windows/main_window_fixture.h"
#include "windows/Informace.h"

#include <QAction>
#include <QFrame>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include <filesystem>
#include <fstream>

namespace zorm {
namespace {

using test::MainWindowTest;

class InfoWindow : public MainWindowTest {
protected:
    // The texts of the contact block, top to bottom: the name line, then the
    // caption and value(s) of each field.
    static QStringList Contact(TInfo& info) {
        QStringList texts;
        for (const char* name : {"Label2", "Label3", "Label4", "Label5", "Label6", "Label7",
                                 "Label8", "Label9", "Label10", "Label11"}) {
            texts.append(info.findChild<QLabel*>(QString::fromLatin1(name))->text());
        }
        return texts;
    }
};

TEST_F(InfoWindow, LooksAsDesigned) {
    TInfo info;
    EXPECT_EQ(info.windowTitle(), QStringLiteral("Informace"));
    EXPECT_EQ(info.size(), QSize(339, 390));
    EXPECT_EQ(info.geometry().center(),
              QGuiApplication::primaryScreen()->availableGeometry().center());

    auto* heading = info.findChild<QLabel*>(QStringLiteral("Label1"));
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(heading->text(), QStringLiteral("Servis, rozšíření a úpravy programu:"));
    EXPECT_EQ(heading->font().pixelSize(), 16);
    EXPECT_EQ(heading->palette().color(QPalette::WindowText), QColor(Qt::black));

    // The contact block sits in a frame, the button below it, centred.
    auto* panel = info.findChild<QFrame*>(QStringLiteral("Panel1"));
    ASSERT_NE(panel, nullptr);
    EXPECT_NE(panel->frameShape(), QFrame::NoFrame);
    auto* back = info.findChild<QPushButton*>(QStringLiteral("Button1"));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->text(), QStringLiteral("&Zpět"));
    EXPECT_GT(back->y(), panel->geometry().bottom());
    EXPECT_EQ(back->geometry().center().x(), info.rect().center().x());

    const struct {
        const char* name;
        int pixels;
        QColor colour;
    } looks[] = {
        {"Label2", 16, QColor(128, 0, 128)}, {"Label3", 13, QColor(0, 128, 0)},
        {"Label4", 13, Qt::black},           {"Label5", 13, Qt::black},
        {"Label6", 13, QColor(0, 128, 0)},   {"Label7", 13, Qt::black},
        {"Label8", 13, QColor(0, 128, 0)},   {"Label9", 13, Qt::black},
        {"Label10", 13, QColor(0, 128, 0)},  {"Label11", 13, Qt::blue},
    };
    for (const auto& look : looks) {
        auto* label = info.findChild<QLabel*>(QString::fromLatin1(look.name));
        ASSERT_NE(label, nullptr) << look.name;
        EXPECT_EQ(label->parentWidget(), panel) << look.name;
        EXPECT_EQ(label->font().pixelSize(), look.pixels) << look.name;
        EXPECT_EQ(label->palette().color(QPalette::WindowText), look.colour) << look.name;
    }
}

TEST_F(InfoWindow, ShowsPlaceholdersWithoutTheContactFile) {
    TInfo info;
    EXPECT_EQ(Contact(info),
              (QStringList{"neuvedeno", "Adress:", "neuvedeno", "", "Phone:", "neuvedeno",
                           "Email:", "neuvedeno", "Internet:", "neuvedeno"}));
}

TEST_F(InfoWindow, ShowsTheContactFileAsPlainText) {
    std::ofstream(ContactFileName) << "Name=Servis <b>Č</b>\n"
                                      "Street=Ulice 1\n"
                                      "Town=100 00 Město\n"
                                      "Phone=+1 555 0100\n"
                                      "Internet=<a href=x>w</a>\n";
    TInfo info;
    EXPECT_EQ(Contact(info), (QStringList{"Servis <b>Č</b>", "Adress:", "Ulice 1", "100 00 Město",
                                          "Phone:", "+1 555 0100", "Email:", "neuvedeno",
                                          "Internet:", "<a href=x>w</a>"}));
    for (const char* value : {"Label2", "Label4", "Label5", "Label7", "Label9", "Label11"}) {
        EXPECT_EQ(info.findChild<QLabel*>(QString::fromLatin1(value))->textFormat(), Qt::PlainText)
            << value;
    }
}

// Long texts widen their fields, the panel and the window, where they
// stand; the button stays centred below the panel. A text the screen has no
// room for ends in "…" and shows whole as the field's tooltip.
TEST_F(InfoWindow, LongContactTextsWidenTheWindowAsFarAsTheScreenAllows) {
    const QString town =
        QStringLiteral("739 91 Jablunkov – Návsí, okres Frýdek-Místek, Česká republika");
    const QString email =
        QStringLiteral("servis.prevodniku.teploty@velmi-dlouha-domena-firmy.example.cz");
    const QString endless = QStringLiteral("https://example.cz/") + QString(3000, QLatin1Char('x'));
    std::ofstream(ContactFileName)
        << "Town=" << town.toStdString() << "\nEmail=" << email.toStdString()
        << "\nInternet=" << endless.toStdString() << "\n";
    TInfo info;
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    auto* panel = info.findChild<QFrame*>(QStringLiteral("Panel1"));
    auto* back = info.findChild<QPushButton*>(QStringLiteral("Button1"));
    const auto field = [&info](const char* name) {
        return info.findChild<QLabel*>(QString::fromLatin1(name));
    };
    EXPECT_EQ(field("Label5")->text(), town);
    EXPECT_EQ(field("Label9")->text(), email);
    for (const char* name : {"Label4", "Label5", "Label7", "Label9", "Label11"}) {
        SCOPED_TRACE(name);
        QLabel* value = field(name);
        EXPECT_EQ(value->x(), 88);
        EXPECT_LE(value->sizeHint().width(), value->width());
        EXPECT_LE(value->geometry().right(), panel->width());
    }
    EXPECT_EQ(panel->pos(), QPoint(16, 48));
    EXPECT_LE(panel->geometry().right(), info.width());
    EXPECT_GT(info.width(), 339);
    EXPECT_LE(info.width(), available.width());
    EXPECT_EQ(back->geometry().center().x(), info.rect().center().x());
    EXPECT_EQ(back->y(), 320);

    QLabel* web = field("Label11");
    EXPECT_TRUE(web->text().endsWith(QChar(0x2026)));
    EXPECT_TRUE(endless.startsWith(web->text().chopped(1)));
    EXPECT_EQ(web->toolTip(), endless);
    EXPECT_TRUE(field("Label9")->toolTip().isEmpty());
}

TEST_F(InfoWindow, MenuOpensItModallyAndItClosesEitherWayLeavingAllAsItWas) {
    std::ofstream(ContactFileName) << "Phone=1\n";
    const auto before = test::EntryNames(".");
    const DeviceSettings settings = context.DeviceSettings;
    auto* menu = window.findChild<QAction*>(QStringLiteral("Inform"));
    ASSERT_NE(menu, nullptr);

    for (const bool byButton : {true, false}) {
        SCOPED_TRACE(byButton ? "Zpět" : "close box");
        bool closed = false;
        modal.Drive = [&](QDialog& dialog) {
            EXPECT_NE(dynamic_cast<TInfo*>(&dialog), nullptr);
            EXPECT_EQ(dialog.parentWidget(), &window);
            dialog.show();
            if (byButton) {
                dialog.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
            } else {
                dialog.close();
            }
            closed = !dialog.isVisible();
            return dialog.result();
        };
        menu->trigger();
        EXPECT_TRUE(closed);
    }
    EXPECT_EQ(modal.Runs, 2);
    EXPECT_EQ(window.findChildren<TInfo*>().size(), 0);
    EXPECT_EQ(test::EntryNames("."), before);
    EXPECT_EQ(context.DeviceSettings, settings);
    EXPECT_TRUE(boxes.Shown.empty());
}

} // namespace
} // namespace zorm
