#include "windows/ZORM5801.h"

#include "data/calibrated_range.h"
#include "data/context.h"
#include "data/evaluation.h"
#include "data/param_files.h"
#include "link/connection_search.h"
#include "link/drv232.h"
#include "ui_ZORM5801.h"
#include "windows/AD7731.h"
#include "windows/Historie.h"
#include "windows/Informace.h"
#include "windows/Kalibrace.h"
#include "windows/access_hint.h"
#include "windows/fitting.h"
#include "windows/measurement_recorder.h"
#include "windows/message_box.h"
#include "windows/operator_input.h"
#include "windows/regional.h"

#include <QStyle>
#include <QTimer>

#include <array>

namespace zorm {

namespace {

// The periods of ComboBox1's items, in milliseconds. With no item selected
// (as at start, although the box shows "1 s") the period is one second.
constexpr std::array<int, 7> PeriodsMs = {1000, 2000, 5000, 10000, 15000, 30000, 60000};
constexpr int DefaultPeriodMs = 1000;

const QString FailedReading = QStringLiteral("- - - ");

// The results' colour, and that of a temperature outside the range the
// sensor was calibrated over.
const QColor ResultColour = Qt::blue;
const QColor ExtrapolatedColour(200, 90, 0);

// A reading outside the calibrated range stands out in its colour, and its
// tooltip names the range; every other result looks as always.
void ShowExtrapolation(QLabel& label, const std::optional<std::string>& hint) {
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, hint ? ExtrapolatedColour : ResultColour);
    label.setPalette(palette);
    label.setToolTip(hint ? QString::fromStdString(*hint) : QString());
}

} // namespace

THlavni::THlavni(Context& context, Drv232& link, MessageBoxService& boxes, ModalRunner& modal,
                 QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::THlavni>()), Timer1(new QTimer(this)),
      context_(context), link_(link), boxes_(boxes), modal_(modal) {
    ui->setupUi(this);
    recorder_ = new MeasurementRecorder(*this, boxes_, modal_, *ui->SpustitZaznam1,
                                        *ui->ZastavitZaznam1, *ui->Graf1);
    connect(this, &THlavni::PassMeasured, recorder_, &MeasurementRecorder::Record);
    Timer1->setObjectName(QStringLiteral("Timer1"));

    // The box shows "1 s" while no item is selected.
    ui->ComboBox1->setCurrentIndex(-1);
    ui->ComboBox1->setEditText(QStringLiteral("1 s"));

    QPalette blue = ui->Label2->palette();
    blue.setColor(QPalette::WindowText, ResultColour);
    for (QLabel* label : {ui->Label2, ui->Label3, ui->Label4}) {
        QFont font = label->font();
        font.setPixelSize(13);
        label->setFont(font);
        label->setPalette(blue);
    }
    QFont quitFont = ui->BitBtn2->font();
    quitFont.setPixelSize(13);
    quitFont.setBold(true);
    ui->BitBtn2->setFont(quitFont);
    QPalette black = ui->BitBtn2->palette();
    black.setColor(QPalette::ButtonText, Qt::black);
    ui->BitBtn2->setPalette(black);

    const QStyle* look = style();
    setWindowIcon(look->standardIcon(QStyle::SP_ComputerIcon));
    ui->BitBtn1->setIcon(look->standardIcon(QStyle::SP_MediaPlay));
    ui->BitBtn2->setIcon(look->standardIcon(QStyle::SP_DialogCloseButton));
    ui->BitBtn3->setIcon(look->standardIcon(QStyle::SP_BrowserReload));
    ui->BitBtn4->setIcon(look->standardIcon(QStyle::SP_DriveNetIcon));
    ui->BitBtn5->setIcon(look->standardIcon(QStyle::SP_MediaStop));
    ui->SpeedButton1->setIcon(look->standardIcon(QStyle::SP_FileDialogDetailedView));

    // "&K o n e c" holds the input focus at start.
    ui->BitBtn2->setFocus();

    CentreOnScreen(*this);

    connect(ui->BitBtn1, &QPushButton::clicked, this, &THlavni::BitBtn1Click);
    connect(ui->BitBtn2, &QPushButton::clicked, this, &THlavni::BitBtn2Click);
    connect(ui->BitBtn3, &QPushButton::clicked, this, &THlavni::BitBtn3Click);
    connect(ui->BitBtn4, &QPushButton::clicked, this, &THlavni::BitBtn4Click);
    connect(ui->BitBtn5, &QPushButton::clicked, this, &THlavni::BitBtn5Click);
    connect(ui->Button1, &QPushButton::clicked, this, &THlavni::Button1Click);
    connect(ui->Parametry1, &QAction::triggered, this, &THlavni::Parametry1Click);
    connect(ui->Inform, &QAction::triggered, this, &THlavni::InformClick);
    connect(ui->Historie1, &QAction::triggered, this, &THlavni::HistorieClick);
    connect(ui->SpeedButton1, &QToolButton::clicked, this, &THlavni::SpeedButton1Click);
    connect(Timer1, &QTimer::timeout, this, &THlavni::Timer1Timer);
    for (QWidget* watched :
         {static_cast<QWidget*>(ui->SpinEdit1), static_cast<QWidget*>(ui->CheckBox6),
          static_cast<QWidget*>(ui->CheckBox7)}) {
        watched->installEventFilter(this);
    }
}

THlavni::~THlavni() = default;

bool THlavni::event(QEvent* event) {
    // The start-up runs after the activation is through, so that the window is
    // drawn before the search blocks it.
    if (event->type() == QEvent::WindowActivate && !activated_) {
        QMetaObject::invokeMethod(this, &THlavni::FormActivate, Qt::QueuedConnection);
    }
    return QMainWindow::event(event);
}

bool THlavni::eventFilter(QObject* watched, QEvent* event) {
    if (FocusLeftForAnotherControl(*event)) {
        if (watched == ui->SpinEdit1) {
            SpinEdit1Exit();
        } else if (watched == ui->CheckBox6) {
            CheckBox6Exit();
        } else if (watched == ui->CheckBox7) {
            CheckBox7Exit();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void THlavni::FormActivate() {
    if (activated_) {
        return;
    }
    activated_ = true;

    DeviceSettings& settings = context_.DeviceSettings;
    if (!LoadParameters(context_)) {
        boxes_.Show(BoxKind::Error, QStringLiteral("Chyba při čtení parametrů."), BoxButtons::Ok);
        settings.PortNumber = 1;
        settings.RtsOnTransmit = 1;
        settings.FilterOn = 1;
    }
    if (PripojZarizeni()) {
        ShowConnected();
    } else {
        link_.ClosePort();
        boxes_.Show(BoxKind::Error, QStringLiteral("Zařízení není připojeno."), BoxButtons::Ok);
        ExplainDeniedAccess();
        ui->BitBtn4->show();
    }
    ShowSettings();
}

bool THlavni::PripojZarizeni() {
    // A silent port costs over a second. The box that reports the converter
    // shows the normal cursor all the same.
    const CursorOverride wait(Qt::WaitCursor);
    if (accessLog_ != nullptr) {
        accessLog_->Clear();
    }
    DeviceSettings& settings = context_.DeviceSettings;
    context_.DeviceType.clear();
    const std::optional<FoundConverter> found =
        SearchConverter(link_, settings.PortNumber, [this] { ui->BitBtn4->hide(); });
    if (!found) {
        return false;
    }
    context_.DeviceType = found->DeviceType;
    boxes_.Show(BoxKind::Information,
                QStringLiteral("Připojeno zařízení ") + QString::fromLatin1(context_.DeviceType) +
                    QStringLiteral(" na portu COM") + QString::number(found->Port),
                BoxButtons::Ok);
    settings.PortNumber = found->Port;
    return true;
}

void THlavni::BitBtn4Click() {
    if (PripojZarizeni()) {
        ShowConnected();
        ui->BitBtn4->hide();
    } else {
        link_.ClosePort();
        boxes_.Show(BoxKind::Error, QStringLiteral("Zařízení není připojeno."), BoxButtons::Ok);
        ExplainDeniedAccess();
        // Whatever answered during the search, the operator can try again.
        ui->BitBtn4->show();
    }
    ShowSettings();
}

void THlavni::ShowConnected() {
    ui->SpinEdit1->setValue(context_.DeviceSettings.DeviceAddress);
    ui->SpinEdit1->setEnabled(false);
    ui->Parametry1->setEnabled(true);
}

void THlavni::ExplainDeniedAccess() {
    if (accessLog_ != nullptr && !accessLog_->Denied().empty()) {
        boxes_.Show(BoxKind::Warning, DeniedAccessHint(accessLog_->Denied(), CurrentUserName()),
                    BoxButtons::Ok);
    }
}

void THlavni::ShowSettings() {
    ui->CheckBox6->setChecked(context_.DeviceSettings.FilterOn != 0);
    ui->CheckBox7->setChecked(context_.DeviceSettings.ShowCelsius != 0);
}

void THlavni::BitBtn2Click() {
    if (!SaveParameters(context_)) {
        boxes_.Show(BoxKind::Error, QStringLiteral("Chyba při ukládání parametrů"), BoxButtons::Ok);
    }
    close();
}

void THlavni::BitBtn1Click() {
    ZmerTeploty();
}

void THlavni::Timer1Timer() {
    ZmerTeploty();
}

void THlavni::ZmerTeploty() {
    // A pass blocks the window, so a tick cannot start while one runs; the
    // guard keeps it so should a nested event loop ever run inside a pass.
    if (measuring_) {
        return;
    }
    measuring_ = true;
    const CursorOverride wait(Qt::WaitCursor);

    const bool celsius = context_.DeviceSettings.ShowCelsius != 0;
    MeasurementPass pass = BeginPass(celsius);
    const char sep = SystemDecimalSeparator();
    const std::array<const QCheckBox*, 3> ticked = {ui->CheckBox1, ui->CheckBox2, ui->CheckBox3};
    const std::array<QLabel*, 3> shown = {ui->Label2, ui->Label3, ui->Label4};
    for (int sensor = 1; sensor <= 3; ++sensor) {
        if (!ticked[sensor - 1]->isChecked()) {
            continue;
        }
        QLabel& label = *shown[sensor - 1];
        const bool measured = link_.MeasureChannel(static_cast<std::uint8_t>(sensor));
        pass.Sensors[static_cast<std::size_t>(sensor - 1)] =
            ReadingAfterMeasure(context_.UserParams, sensor, measured, context_.LastReading);
        std::optional<std::string> outside;
        if (!measured) {
            ShowText(label, FailedReading);
        } else if (celsius) {
            ShowText(label, QString::fromStdString(CelsiusText(context_.UserParams,
                                                               context_.LastReading, sensor, sep)));
            outside = ExtrapolationHint(context_.UserParams, sensor, context_.LastReading, sep);
        } else {
            ShowText(label, QString::number(context_.LastReading));
        }
        ShowExtrapolation(label, outside);
    }

    measuring_ = false;
    emit PassMeasured(pass);
}

void THlavni::BitBtn3Click() {
    // The period of the item the box shows; a typed text that is no item
    // counts as no item selected.
    const int item = ui->ComboBox1->findText(ui->ComboBox1->currentText());
    const bool listed = item >= 0 && item < static_cast<int>(PeriodsMs.size());
    // The first pass runs one period from now.
    Timer1->start(listed ? PeriodsMs[static_cast<std::size_t>(item)] : DefaultPeriodMs);
    SwapButtons(ui->BitBtn3, ui->BitBtn5);
}

void THlavni::BitBtn5Click() {
    Timer1->stop();
    SwapButtons(ui->BitBtn5, ui->BitBtn3);
}

void THlavni::SwapButtons(QPushButton* pressed, QPushButton* next) {
    // The button shown takes the focus before the pressed one goes, so the
    // focus never passes on to the next control in the tab order, where a
    // stray Space would untick a setting.
    next->show();
    next->setFocus();
    pressed->hide();
}

void THlavni::Button1Click() {
    ui->Label8->setText(QString::fromLatin1(link_.ReadDiagnostics(1)));
}

void THlavni::Parametry1Click() {
    TKalibrace kalibrace(context_, link_, boxes_, modal_, this);
    kalibrace.SetRecords(records_);
    modal_.Run(kalibrace);
}

void THlavni::HistorieClick() {
    if (records_ == nullptr) {
        return;
    }
    THistorie historie(context_, link_, *records_, boxes_, modal_, this);
    modal_.Run(historie);
}

void THlavni::InformClick() {
    TInfo info(this);
    modal_.Run(info);
}

void THlavni::SpeedButton1Click() {
    TADconv registers(context_, link_, boxes_, this);
    modal_.Run(registers);
}

void THlavni::ZobrazServisniTlacitko() {
    ui->SpeedButton1->show();
}

void THlavni::SpinEdit1Exit() {
    context_.DeviceSettings.DeviceAddress = static_cast<std::uint8_t>(ui->SpinEdit1->value());
}

void THlavni::CheckBox6Exit() {
    context_.DeviceSettings.FilterOn = ui->CheckBox6->isChecked() ? 1 : 0;
}

void THlavni::CheckBox7Exit() {
    context_.DeviceSettings.ShowCelsius = ui->CheckBox7->isChecked() ? 1 : 0;
}

} // namespace zorm
