#include "windows/Informace.h"

#include "data/contact_file.h"
#include "ui_Informace.h"
#include "windows/fitting.h"

#include <QGuiApplication>
#include <QScreen>

#include <string>

namespace zorm {

namespace {

void Style(QLabel* label, int pixels, const QColor& colour) {
    QFont font = label->font();
    font.setPixelSize(pixels);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

QString OrPlaceholder(const std::string& value) {
    return QString::fromStdString(value.empty() ? ContactPlaceholder : value);
}

// Widens a contact field to its text, at most to `widest`; a text longer
// than that ends in "…" and shows whole as the field's tooltip.
void FitField(QLabel& field, int widest) {
    const QString text = field.text();
    const int needed = WidthForText(field);
    if (needed > widest) {
        const int padding = needed - field.fontMetrics().horizontalAdvance(text);
        field.setText(field.fontMetrics().elidedText(text, Qt::ElideRight, widest - padding));
        field.setToolTip(text);
    }
    GrowToText(field);
}

} // namespace

TInfo::TInfo(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TInfo>()) {
    ui->setupUi(this);

    Style(ui->Label1, 16, Qt::black);
    Style(ui->Label2, 16, Qt::darkMagenta);
    for (QLabel* caption : {ui->Label3, ui->Label6, ui->Label8, ui->Label10}) {
        Style(caption, 13, Qt::darkGreen);
    }
    for (QLabel* value : {ui->Label4, ui->Label5, ui->Label7, ui->Label9}) {
        Style(value, 13, Qt::black);
    }
    Style(ui->Label11, 13, Qt::blue);

    const ServiceContact contact = LoadContact();
    ui->Label2->setText(OrPlaceholder(contact.Name));
    ui->Label4->setText(OrPlaceholder(contact.Street));
    // The second address line stays empty rather than repeat the placeholder.
    ui->Label5->setText(QString::fromStdString(contact.Town));
    ui->Label7->setText(OrPlaceholder(contact.Phone));
    ui->Label9->setText(OrPlaceholder(contact.Email));
    ui->Label11->setText(OrPlaceholder(contact.Internet));

    // Long contact texts widen their fields, the panel and the window, as
    // far as the screen leaves room; the name line wraps in the panel's width
    // and the button stays centred below it.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int widest = screen == nullptr
                           ? QWIDGETSIZE_MAX
                           : screen->availableGeometry().width() - (width() - ui->Label4->width());
    for (QLabel* field : {ui->Label4, ui->Label5, ui->Label7, ui->Label9, ui->Label11}) {
        FitField(*field, widest);
    }
    GrowToText(*ui->Label1);
    ui->Label2->resize(ui->Panel1->width() - 2 * ui->Label2->x(), ui->Label2->height());
    ui->Button1->move((width() - ui->Button1->width()) / 2, ui->Button1->y());
    CentreOnScreen(*this);
    connect(ui->Button1, &QPushButton::clicked, this, &TInfo::Button1Click);
}

TInfo::~TInfo() = default;

void TInfo::Button1Click() {
    close();
}

} // namespace zorm
