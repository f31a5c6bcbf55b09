#include "windows/Informace.h"

#include "data/contact_file.h"
#include "ui_Informace.h"

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

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    connect(ui->Button1, &QPushButton::clicked, this, &TInfo::Button1Click);
}

TInfo::~TInfo() = default;

void TInfo::Button1Click() {
    close();
}

} // namespace zorm
