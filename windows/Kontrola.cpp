#include "windows/Kontrola.h"

#include "data/context.h"
#include "data/number_text.h"
#include "data/param_files.h"
#include "ui_Kontrola.h"
#include "windows/fitting.h"
#include "windows/message_box.h"
#include "windows/regional.h"

#include <QLabel>
#include <QStyle>

namespace zorm {

namespace {

void Style(QLabel* label, Qt::GlobalColor colour, bool bold) {
    QFont font = label->font();
    font.setPixelSize(13);
    font.setBold(bold);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

} // namespace

TKontrol::TKontrol(Context& context, MessageBoxService& boxes, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TKontrol>()), context_(context), boxes_(boxes) {
    ui->setupUi(this);
    for (QLabel* heading : {ui->Label1, ui->Label6, ui->Label7, ui->Label8}) {
        Style(heading, Qt::blue, false);
    }
    for (QLabel* heading : {ui->Label2, ui->Label3, ui->Label4, ui->Label5}) {
        Style(heading, Qt::red, false);
    }
    for (QLabel* value : ValueLabels()) {
        Style(value, Qt::black, true);
    }
    ui->BitBtn4->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    connect(ui->BitBtn4, &QPushButton::clicked, this, &QDialog::reject);

    // Centred over the main window, at the top of the owners.
    QWidget* main = parent;
    while (main != nullptr && main->parentWidget() != nullptr) {
        main = main->parentWidget();
    }
    if (main != nullptr) {
        PlaceOnScreen(*this, main->geometry().center() - rect().center());
    }
}

TKontrol::~TKontrol() = default;

std::array<QLabel*, 12> TKontrol::ValueLabels() const {
    // Row r is sensor r; the columns are A3, A2, A1 and A0.
    return {ui->Label11, ui->Label12, ui->Label13, ui->Label14, ui->Label15, ui->Label16,
            ui->Label17, ui->Label18, ui->Label19, ui->Label20, ui->Label21, ui->Label22};
}

void TKontrol::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!activated_) {
        QMetaObject::invokeMethod(this, &TKontrol::FormActivate, Qt::QueuedConnection);
    }
}

void TKontrol::FormActivate() {
    if (activated_) {
        return;
    }
    activated_ = true;
    if (!LoadConstants(context_)) {
        boxes_.Show(BoxKind::Error,
                    QStringLiteral("Chyba při čtení konstant ze souboru ZORM5816.par"),
                    BoxButtons::Ok);
    }
    const std::array<QLabel*, 12> values = ValueLabels();
    const char sep = SystemDecimalSeparator();
    const PolyCoeffs& c = context_.PolyCoeffs;
    for (int s = 1; s <= 3; ++s) {
        const std::array<double, 4> row = {c.A3(s), c.A2(s), c.A1(s), c.A0(s)};
        for (int column = 0; column < 4; ++column) {
            values[static_cast<std::size_t>(4 * (s - 1) + column)]->setText(
                QString::fromStdString(general(row[column], 8, sep)));
        }
    }
}

} // namespace zorm
