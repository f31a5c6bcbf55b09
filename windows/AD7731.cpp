#include "windows/AD7731.h"

#include "data/context.h"
#include "data/hex_byte.h"
#include "data/param_files.h"
#include "link/drv232.h"
#include "ui_AD7731.h"
#include "windows/fitting.h"
#include "windows/message_box.h"
#include "windows/operator_input.h"

#include <QFontMetrics>
#include <QRadioButton>
#include <QValidator>

#include <algorithm>
#include <cstdint>

namespace zorm {

namespace {

// Room the frame of a group takes beside its title.
constexpr int TitleMargin = 8;

// The selector of a register list: the index of its chosen item, counted from
// 0 in the order the items stand, or 255 while no item is chosen.
std::uint8_t Selector(const QGroupBox& group) {
    const QList<QRadioButton*> items =
        group.findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i]->isChecked()) {
            return static_cast<std::uint8_t>(i);
        }
    }
    return 255;
}

// Shrinks the font of `control` by half points, down to 6 points, until
// `text` takes at most `room` pixels. The system's font may write wider than
// the one the window was laid out with, and a caption cut off reads worse
// than a slightly smaller one. A font that fits stays as it is.
void FitFont(QWidget& control, const QString& text, int room) {
    QFont font = control.font();
    while (QFontMetrics(font).horizontalAdvance(text) > room && font.pointSizeF() > 6) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    if (font != control.font()) {
        control.setFont(font);
    }
}

// A register list's title is written on the frame's top edge; its items keep
// the window's font whatever the title needs.
void FitTitle(QGroupBox& group) {
    for (QRadioButton* item : group.findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly)) {
        item->setFont(group.font());
    }
    FitFont(group, group.title(), group.width() - TitleMargin);
}

QString HexText(std::uint8_t value) {
    return QString::fromLatin1(HexByteText(value));
}

// Turns letters into capitals as they are typed or pasted: ParseHexByte
// takes upper-case digits only, and "7f" would send 112 where the operator
// meant 127. What a field holds is still read by ParseHexByte's rules.
class CapitalLetters final : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& position) const override {
        input = input.toUpper();
        position = std::min(position, static_cast<int>(input.size()));
        return Acceptable;
    }
};

} // namespace

TADconv::TADconv(Context& context, Drv232& link, MessageBoxService& boxes, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TADconv>()), context_(context), link_(link),
      boxes_(boxes) {
    ui->setupUi(this);
    // The designed place on the screen where it fits there; a dialog would
    // otherwise be centred over its owner.
    PlaceOnScreen(*this, QPoint(612, 186));
    FitTitle(*ui->RadioGroup1);
    FitTitle(*ui->RadioGroup2);
    // The entry row's caption ends where Edit2 begins.
    FitFont(*ui->Label1, ui->Label1->text(), ui->Edit2->x() - ui->Label1->x());
    for (QLineEdit* entry : {ui->Edit2, ui->Edit3}) {
        entry->setValidator(new CapitalLetters(entry));
    }

    connect(ui->Button1, &QPushButton::clicked, this, &TADconv::Button1Click);
    connect(ui->Button2, &QPushButton::clicked, this, &TADconv::Button2Click);
    connect(ui->Button3, &QPushButton::clicked, this, &TADconv::Button3Click);
    ui->CheckBox6->installEventFilter(this);
}

TADconv::~TADconv() = default;

bool TADconv::event(QEvent* event) {
    // Queued, so that the window is drawn before the warning covers it.
    if (event->type() == QEvent::Show && !activated_) {
        QMetaObject::invokeMethod(this, &TADconv::FormActivate, Qt::QueuedConnection);
    }
    return QDialog::event(event);
}

bool TADconv::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->CheckBox6 && FocusLeftForAnotherControl(*event)) {
        CheckBox6Exit();
    }
    return QDialog::eventFilter(watched, event);
}

void TADconv::FormActivate() {
    if (activated_) {
        return;
    }
    activated_ = true;
    ui->CheckBox6->setChecked(context_.DeviceSettings.RtsOnTransmit != 0);
    boxes_.Show(BoxKind::Warning,
                QStringLiteral("Upozornění: Funkce v tomto okně jsou určeny pro testování a "
                               "výrobní nastavení zařízení!"),
                BoxButtons::Ok);
}

void TADconv::Button1Click() {
    if (!link_.ReadAdcRegister(Selector(*ui->RadioGroup1))) {
        boxes_.Show(BoxKind::Error, QStringLiteral("Chyba při čtení registrů."), BoxButtons::Ok);
        return;
    }
    const AdcRegBytes& bytes = context_.AdcRegBytes;
    ui->Label11->setText(QString::number(bytes[2]));
    ui->Label12->setText(QString::number(bytes[1]));
    ui->Label13->setText(QString::number(bytes[0]));
    ui->Label14->setText(HexText(bytes[2]));
    ui->Label15->setText(HexText(bytes[1]));
    ui->Label16->setText(HexText(bytes[0]));
}

void TADconv::Button2Click() {
    // An empty entry ends the taking of values there, without a message; the
    // write goes out in any case with the bytes as they then stand.
    AdcRegBytes& bytes = context_.AdcRegBytes;
    const QString high = ui->Edit2->text();
    const QString low = ui->Edit3->text();
    if (!high.isEmpty()) {
        bytes[1] = ParseHexByte(high.toStdString());
        ui->Label4->setText(QString::number(bytes[1]));
        if (!low.isEmpty()) {
            bytes[0] = ParseHexByte(low.toStdString());
            ui->Label5->setText(QString::number(bytes[0]));
        }
    }
    if (!link_.WriteAdcRegister(Selector(*ui->RadioGroup2))) {
        boxes_.Show(BoxKind::Error, QStringLiteral("Chyba při zápisu registrů."), BoxButtons::Ok);
    }
}

void TADconv::Button3Click() {
    context_.DeviceSettings.PortNumber = 1;
    context_.DeviceSettings.DeviceAddress = 1;
    SensorParamSet& user = context_.UserParams;
    for (int s = 1; s <= SensorParamSet::Sensors; ++s) {
        user.Coefficients.A3(s) = 0;
        user.Coefficients.A2(s) = 0;
        user.Coefficients.A1(s) = 1;
        user.Coefficients.A0(s) = 0;
        user.Count(s) = 0;
        user.Calibrated(s) = 0;
    }
    if (!SaveParameters(context_)) {
        boxes_.Show(BoxKind::Error, QStringLiteral("Chyba při ukládání konstant"), BoxButtons::Ok);
    }
}

void TADconv::CheckBox6Exit() {
    context_.DeviceSettings.RtsOnTransmit = ui->CheckBox6->isChecked() ? 1 : 0;
}

} // namespace zorm
