// The AD converter register window against the in-process simulator: its
// controls, the opening, register reads and writes, the RTS polarity and the
// hidden reset.
#include "tests/windows/main_window_fixture.h"
#include "windows/AD7731.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>

#include <algorithm>
#include <filesystem>
#include <string>

namespace zorm {
namespace {

using test::FrameList;
using test::MainWindowTest;

constexpr std::uint8_t CR = 13;
const QString Warning = QStringLiteral(
    "Upozornění: Funkce v tomto okně jsou určeny pro testování a výrobní nastavení zařízení!");
const QString ReadError = QStringLiteral("Chyba při čtení registrů.");
const QString WriteError = QStringLiteral("Chyba při zápisu registrů.");

template <typename T> T* In(QWidget& window, const char* name) {
    T* control = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name << " missing or of another kind";
    return control;
}

// A converter at port 1, address 1, already connected; a register window over
// it that is not shown, so that each test runs the handlers itself.
class RegisterWindow : public MainWindowTest {
protected:
    sim::SimLine line = ports.Add(1);
    TADconv registers{context, link, boxes};

    void SetUp() override {
        context.DeviceSettings.DeviceAddress = 1;
        context.DeviceSettings.RtsOnTransmit = 1;
        ASSERT_TRUE(link.OpenPort(1));
        line.ClearEvents();
    }

    template <typename T> T* Control(const char* name) { return In<T>(registers, name); }

    // Chooses item `index` of a register list.
    void Choose(const char* list, int index) {
        const QList<QRadioButton*> items = Control<QGroupBox>(list)->findChildren<QRadioButton*>();
        ASSERT_LT(index, items.size());
        items[index]->setChecked(true);
    }

    QStringList Texts(std::initializer_list<const char*> names) {
        QStringList texts;
        for (const char* name : names) {
            texts.append(Control<QLabel>(name)->text());
        }
        return texts;
    }
    // Exactly one box was shown since the last look, of this kind and text,
    // with OK only.
    void ExpectOnlyBox(BoxKind kind, const QString& text) {
        ASSERT_EQ(boxes.Shown.size(), 1u);
        EXPECT_EQ(boxes.Shown[0].Kind, kind);
        EXPECT_EQ(boxes.Shown[0].Text, text);
        EXPECT_EQ(boxes.Shown[0].Buttons, BoxButtons::Ok);
        boxes.Shown.clear();
    }

    QStringList ReadLabels() {
        return Texts({"Label11", "Label12", "Label13", "Label14", "Label15", "Label16"});
    }
    QStringList WriteLabels() { return Texts({"Label4", "Label5"}); }

    void Type(const QString& high, const QString& low) {
        Control<QLineEdit>("Edit2")->setText(high);
        Control<QLineEdit>("Edit3")->setText(low);
    }

    // The RTS level of each exchange while its frame went out.
    std::vector<bool> TransmitLevels() const {
        std::vector<bool> levels;
        std::optional<bool> rts;
        for (const sim::LineEvent& event : line.Events()) {
            if (event.Kind == sim::EventKind::SetRts) {
                rts = event.Rts;
            } else if (event.Kind == sim::EventKind::Write && rts) {
                levels.push_back(*rts);
            }
        }
        return levels;
    }
};

TEST_F(RegisterWindow, ControlsHaveTheirKindsCaptionsPlacesAndVisibility) {
    EXPECT_EQ(registers.windowTitle(), QStringLiteral("Testování AD převodníku"));
    EXPECT_EQ(registers.size(), QSize(730, 564));
    // At its designed place where the screen has room for it there, else
    // wholly on the screen's available area.
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect designed(QPoint(612, 186), registers.size());
    if (available.contains(designed)) {
        EXPECT_EQ(registers.pos(), designed.topLeft());
    } else {
        EXPECT_TRUE(available.contains(QRect(registers.pos(), registers.size())));
    }

    const std::vector<test::ExpectedControl> controls = {
        {"Bevel1", "QFrame", "", {24, 16, 465, 185}, "ADconv", true},
        {"RadioGroup1",
         "QGroupBox",
         "Čtení registru AD převodníku",
         {40, 24, 169, 169},
         "ADconv",
         true},
        {"Label8", "QLabel", "Dekadicky:", {224, 40, 0, 0}, "ADconv", true},
        {"Label11", "QLabel", "RegD3", {328, 40, 0, 0}, "ADconv", true},
        {"Label12", "QLabel", "RegD2", {384, 40, 0, 0}, "ADconv", true},
        {"Label13", "QLabel", "RegD1", {440, 40, 0, 0}, "ADconv", true},
        {"Label9", "QLabel", "Hexadecimálně:", {224, 64, 0, 0}, "ADconv", true},
        {"Label14", "QLabel", "RegH3", {328, 64, 0, 0}, "ADconv", true},
        {"Label15", "QLabel", "RegH2", {384, 64, 0, 0}, "ADconv", true},
        {"Label16", "QLabel", "RegH1", {440, 64, 0, 0}, "ADconv", true},
        {"Button1", "QPushButton", "Přečti z registru", {280, 128, 113, 25}, "ADconv", true},
        {"Bevel2", "QFrame", "", {24, 216, 465, 145}, "ADconv", true},
        {"RadioGroup2",
         "QGroupBox",
         "Zápis do registrů AD převodníku",
         {40, 224, 169, 129},
         "ADconv",
         true},
        {"Label2", "QLabel", "Dekadicky", {224, 240, 0, 0}, "ADconv", true},
        {"Label4", "QLabel", "RegD2", {312, 240, 0, 0}, "ADconv", true},
        {"Label5", "QLabel", "RegD1", {376, 240, 0, 0}, "ADconv", true},
        {"Label1", "QLabel", "Hexadecimálně:", {224, 280, 0, 0}, "ADconv", true},
        {"Edit2", "QLineEdit", "0", {312, 272, 41, 0}, "ADconv", true},
        {"Edit3", "QLineEdit", "0", {376, 272, 41, 0}, "ADconv", true},
        {"Button2", "QPushButton", "Zapiš do registru", {288, 320, 113, 25}, "ADconv", true},
        {"Button3", "QPushButton", "Nulování parametrů", {520, 64, 137, 25}, "ADconv", false},
        {"CheckBox6", "QCheckBox", "RTS", {552, 104, 49, 17}, "ADconv", true},
    };
    test::ExpectControls(registers, controls);

    const auto items = [this](const char* list) {
        QStringList texts;
        for (const QRadioButton* item : Control<QGroupBox>(list)->findChildren<QRadioButton*>()) {
            EXPECT_FALSE(item->isChecked()) << item->text().toStdString();
            texts.append(item->text());
        }
        return texts;
    };
    EXPECT_EQ(items("RadioGroup1"),
              (QStringList{"Status registr (1)", "Data registr (3)", "Mode registr (2)",
                           "Filter registr (2)", "Offset registr (1)", "Gain registr (1)"}));
    EXPECT_EQ(items("RadioGroup2"), (QStringList{"Mode registr (2)", "Filter registr (2)",
                                                 "Offset registr (1)", "Gain registr (1)"}));
}

TEST_F(RegisterWindow, TabOrderRunsThroughBothListsTheEntriesAndTheButtons) {
    const QStringList order = {"RadioGroup1", "RadioGroup2", "Edit2",   "Edit3",
                               "Button1",     "Button2",     "Button3", "CheckBox6"};
    // A register list takes the focus through its items.
    QWidget* first = Control<QGroupBox>("RadioGroup1")->findChildren<QRadioButton*>().first();
    EXPECT_EQ(test::TabChain(first, order), order);
}

TEST_F(RegisterWindow, OpeningShowsTheRtsPolarityAndWarnsOncePerOpening) {
    for (const std::uint8_t rts : {0, 1, 0}) {
        SCOPED_TRACE(rts);
        context.DeviceSettings.RtsOnTransmit = rts;
        bool checked = !rts;
        modal.Drive = [&](QDialog& dialog) {
            auto* opened = dynamic_cast<TADconv*>(&dialog);
            EXPECT_NE(opened, nullptr);
            dialog.show();
            QCoreApplication::processEvents();
            // Neither a second showing nor a message box runs it again.
            dialog.hide();
            dialog.show();
            QCoreApplication::processEvents();
            opened->FormActivate();
            checked = In<QCheckBox>(dialog, "CheckBox6")->isChecked();
            return 0;
        };
        window.SpeedButton1Click();
        EXPECT_EQ(checked, rts != 0);
        ExpectOnlyBox(BoxKind::Warning, Warning);
    }
    EXPECT_EQ(modal.Runs, 3);
    // The window is destroyed when it closes.
    EXPECT_EQ(window.findChildren<TADconv*>().size(), 0);
    EXPECT_TRUE(Frames(line).empty());
}

TEST_F(RegisterWindow, ReadShowsTheThreeBytesFromIndexTwoDownInDecimalAndHex) {
    line.Converter().Register(sim::ModeRegister) = {0x12, 0xAB, 0x05};
    Choose("RadioGroup1", 2);

    registers.Button1Click();

    EXPECT_EQ(Frames(line), (FrameList{Bytes({'$', 1, 0x12, 2, CR})}));
    EXPECT_EQ(ReadLabels(), (QStringList{"5", "171", "18", "05", "AB", "12"}));
    EXPECT_TRUE(boxes.Shown.empty());

    // Every list item reads its own register.
    line.ClearEvents();
    const int codes[] = {0x10, 0x11, 0x12, 0x13, 0x15, 0x16};
    const int counts[] = {1, 3, 2, 2, 1, 1};
    FrameList expected;
    for (int item = 0; item < 6; ++item) {
        Choose("RadioGroup1", item);
        registers.Button1Click();
        expected.push_back(Bytes({'$', 1, codes[item], counts[item], CR}));
    }
    EXPECT_EQ(Frames(line), expected);
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(RegisterWindow, ReadWithNoItemChosenAsksForTheStatusRegister) {
    line.Converter().Register(sim::StatusRegister) = {0x80, 0x00, 0x00};
    line.Converter().Register(sim::ModeRegister) = {0x11, 0x11, 0x11};
    registers.Button1Click();
    EXPECT_EQ(Frames(line), (FrameList{Bytes({'$', 1, 0x10, 1, CR})}));
    EXPECT_EQ(ReadLabels(), (QStringList{"0", "0", "128", "00", "00", "80"}));
}

TEST_F(RegisterWindow, FailedReadShowsItsBoxAndLeavesTheLabels) {
    line.Converter().Register(sim::DataRegister) = {1, 2, 3};
    Choose("RadioGroup1", 1);
    registers.Button1Click();
    const QStringList shown = {"3", "2", "1", "03", "02", "01"};
    ASSERT_EQ(ReadLabels(), shown);

    line.Converter().Register(sim::DataRegister) = {7, 8, 9};
    for (const sim::Fault fault :
         {sim::Fault::BadCheckByte, sim::Fault::ShortReply, sim::Fault::Garbage}) {
        SCOPED_TRACE(sim::FaultName(fault));
        line.Converter().SetFault(fault);
        registers.Button1Click();
        ExpectOnlyBox(BoxKind::Error, ReadError);
        EXPECT_EQ(ReadLabels(), shown);
    }
    // A bad check byte still brought the bytes; they are not shown.
    line.Converter().SetFault(sim::Fault::BadCheckByte);
    registers.Button1Click();
    EXPECT_EQ(context.AdcRegBytes, (AdcRegBytes{7, 8, 9}));
    ExpectOnlyBox(BoxKind::Error, ReadError);
    EXPECT_EQ(ReadLabels(), shown);

    link.ClosePort();
    registers.Button1Click();
    ExpectOnlyBox(BoxKind::Error, ReadError);
}

TEST_F(RegisterWindow, WriteSendsTheHighEntryFirstAndShowsWhatWasSent) {
    Choose("RadioGroup2", 0);
    Type("7F", "0");

    registers.Button2Click();

    EXPECT_EQ(Frames(line), (FrameList{Bytes({'&', 1, 0x02, 2, 127, 0, CR})}));
    EXPECT_EQ(WriteLabels(), (QStringList{"127", "0"}));
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(line.Converter().Register(sim::ModeRegister),
              (std::array<std::uint8_t, 3>{0, 127, 0}));

    // What was written reads back.
    Choose("RadioGroup1", 2);
    registers.Button1Click();
    EXPECT_EQ(ReadLabels(), (QStringList{"0", "127", "0", "00", "7F", "00"}));

    // Entries the parser takes in its own way: the labels show what goes out.
    line.ClearEvents();
    Choose("RadioGroup2", 3);
    Type("G1", "A");
    registers.Button2Click();
    EXPECT_EQ(Frames(line), (FrameList{Bytes({'&', 1, 0x06, 1, 0, 160, CR})}));
    EXPECT_EQ(WriteLabels(), (QStringList{"0", "160"}));
}

// Letters typed into the entries become capitals, so "7f" typed is "7F" on
// screen and 127 on the line, where lower case would have sent 112.
TEST_F(RegisterWindow, TypedLettersBecomeCapitalsSoWhatIsShownIsWhatIsSent) {
    Choose("RadioGroup2", 0);
    const auto type = [this](const char* name, const QString& keys) {
        auto* entry = Control<QLineEdit>(name);
        entry->clear();
        for (const QChar key : keys) {
            QKeyEvent press(QEvent::KeyPress, key.toUpper().unicode(), Qt::NoModifier,
                            QString(key));
            QCoreApplication::sendEvent(entry, &press);
        }
        return entry->text();
    };
    EXPECT_EQ(type("Edit2", "7f"), "7F");
    EXPECT_EQ(type("Edit3", "0a"), "0A");
    registers.Button2Click();
    EXPECT_EQ(Frames(line), (FrameList{Bytes({'&', 1, 0x02, 2, 127, 10, CR})}));
    EXPECT_EQ(WriteLabels(), (QStringList{"127", "10"}));
}

TEST_F(RegisterWindow, EmptyEntryEndsTheTakingOfValuesButTheWriteGoesOut) {
    context.AdcRegBytes = {0x11, 0x22, 0x33};

    // No item chosen: register code 0 with one byte.
    Type("", "5A");
    registers.Button2Click();
    EXPECT_EQ(Frames(line), (FrameList{Bytes({'&', 1, 0x00, 1, 0x22, 0x11, CR})}));
    EXPECT_EQ(context.AdcRegBytes, (AdcRegBytes{0x11, 0x22, 0x33}));
    EXPECT_EQ(WriteLabels(), (QStringList{"RegD2", "RegD1"}));
    EXPECT_TRUE(boxes.Shown.empty());

    line.ClearEvents();
    Choose("RadioGroup2", 1);
    Type("5A", "");
    registers.Button2Click();
    EXPECT_EQ(Frames(line), (FrameList{Bytes({'&', 1, 0x03, 2, 0x5A, 0x11, CR})}));
    EXPECT_EQ(context.AdcRegBytes, (AdcRegBytes{0x11, 0x5A, 0x33}));
    EXPECT_EQ(WriteLabels(), (QStringList{"90", "RegD1"}));
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(RegisterWindow, FailedWriteShowsItsBox) {
    Choose("RadioGroup2", 2);
    for (const sim::Fault fault : {sim::Fault::WrongFirstByte, sim::Fault::Silence}) {
        SCOPED_TRACE(sim::FaultName(fault));
        line.Converter().SetFault(fault);
        registers.Button2Click();
        ExpectOnlyBox(BoxKind::Error, WriteError);
        // The values were taken all the same.
        EXPECT_EQ(WriteLabels(), (QStringList{"0", "0"}));
    }
    link.ClosePort();
    registers.Button2Click();
    ExpectOnlyBox(BoxKind::Error, WriteError);
}

TEST_F(RegisterWindow, RtsPolarityChangesWhenTheFocusLeavesTheCheckBox) {
    registers.FormActivate();
    auto* rts = Control<QCheckBox>("CheckBox6");
    ASSERT_TRUE(rts->isChecked());

    rts->setChecked(false);
    registers.Button1Click();
    // Focus taken by a message box or another program does not count.
    LeaveFocus(rts, Qt::ActiveWindowFocusReason);
    LeaveFocus(rts, Qt::PopupFocusReason);
    EXPECT_EQ(context.DeviceSettings.RtsOnTransmit, 1);
    registers.Button1Click();

    LeaveFocus(rts);
    EXPECT_EQ(context.DeviceSettings.RtsOnTransmit, 0);
    registers.Button1Click();

    rts->setChecked(true);
    LeaveFocus(rts, Qt::MouseFocusReason);
    EXPECT_EQ(context.DeviceSettings.RtsOnTransmit, 1);
    registers.Button2Click();

    EXPECT_EQ(TransmitLevels(), (std::vector<bool>{true, true, false, true}));
    // Nothing reaches the disk here.
    EXPECT_FALSE(std::filesystem::exists(ParametersFileName));
}

TEST_F(RegisterWindow, ResetSetsPortAddressAndIdentityPolynomialsAndSaves) {
    DeviceSettings& settings = context.DeviceSettings;
    settings = {7, 3, 0, 1, 1};
    SensorParamSet& user = context.UserParams;
    for (int s = 1; s <= 3; ++s) {
        user.Coefficients.A3(s) = 0.5 * s;
        user.Coefficients.A2(s) = -2.0;
        user.Coefficients.A1(s) = 3.25;
        user.Coefficients.A0(s) = 40.0 + s;
        user.Count(s) = static_cast<std::uint8_t>(5 + s);
        user.Calibrated(s) = 1;
        user.TrueTemp(s, 1) = 21.5f;
        user.Raw(s, 30) = 12345;
    }
    user.Padding = {0xA5, 0x5A};
    context.FactoryParams = user;
    context.WorkParams = user;
    const SensorParamSet before = user;

    registers.Button3Click();

    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(settings, (DeviceSettings{1, 1, 0, 1, 1}));
    // A3, A2, A1, A0 of sensors 1..3: the identity y = x for each.
    EXPECT_EQ(user.Coefficients.Values,
              (std::array<double, 12>{0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0}));
    for (int s = 1; s <= 3; ++s) {
        SCOPED_TRACE(s);
        EXPECT_EQ(user.Count(s), 0);
        EXPECT_EQ(user.Calibrated(s), 0);
        // The points stay.
        EXPECT_EQ(user.TrueTemp(s, 1), 21.5f);
        EXPECT_EQ(user.Raw(s, 30), 12345);
    }
    EXPECT_EQ(user.Padding, before.Padding);
    EXPECT_EQ(context.FactoryParams, before);
    EXPECT_EQ(context.WorkParams, before);

    Context saved;
    ASSERT_TRUE(LoadParameters(saved));
    EXPECT_EQ(saved.DeviceSettings, settings);
    EXPECT_EQ(saved.UserParams, user);
    EXPECT_EQ(saved.FactoryParams, before);
    EXPECT_TRUE(Frames(line).empty());
}

TEST_F(RegisterWindow, ResetThatCannotBeSavedShowsItsBoxAndKeepsTheValues) {
    std::filesystem::create_directory(ParametersFileName);
    context.DeviceSettings.PortNumber = 9;
    context.UserParams.Coefficients.A1(2) = 7;

    registers.Button3Click();

    ExpectOnlyBox(BoxKind::Error, QStringLiteral("Chyba při ukládání konstant"));
    EXPECT_EQ(context.DeviceSettings.PortNumber, 1);
    EXPECT_EQ(context.UserParams.Coefficients.A1(2), 1);
    EXPECT_TRUE(std::filesystem::is_directory(ParametersFileName));
}

// The main window opens the register window only through its picture button,
// which only the service switch shows; the reset stays hidden even then.
TEST_F(RegisterWindow, ServiceSwitchShowsOnlyThePictureButton) {
    window.show();
    auto* speed = In<QToolButton>(window, "SpeedButton1");
    EXPECT_FALSE(speed->isVisible());
    const QStringList hidden = {"Label1", "SpinEdit1", "BitBtn4", "Button1", "Label8", "BitBtn5"};
    const auto visible = [&] {
        QStringList shown;
        for (const QString& name : hidden) {
            if (window.findChild<QWidget*>(name)->isVisible()) {
                shown.append(name);
            }
        }
        return shown;
    };
    ASSERT_TRUE(visible().isEmpty());

    window.ZobrazServisniTlacitko();

    EXPECT_TRUE(speed->isVisible());
    EXPECT_TRUE(visible().isEmpty());
    bool resetHidden = false;
    modal.Drive = [&](QDialog& dialog) {
        dialog.show();
        resetHidden = In<QPushButton>(dialog, "Button3")->isHidden();
        return 0;
    };
    speed->click();
    EXPECT_EQ(modal.Runs, 1);
    EXPECT_TRUE(resetHidden);
}

} // namespace
} // namespace zorm
