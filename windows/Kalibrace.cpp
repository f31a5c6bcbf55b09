#include "windows/Kalibrace.h"

#include "data/calibration.h"
#include "data/context.h"
#include "data/evaluation.h"
#include "data/number_text.h"
#include "data/param_files.h"
#include "link/drv232.h"
#include "records/record_keeper.h"
#include "records/record_stamp.h"
#include "ui_Kalibrace.h"
#include "windows/Kontrola.h"
#include "windows/Reference.h"
#include "windows/assistant_panel.h"
#include "windows/fitting.h"
#include "windows/message_box.h"
#include "windows/regional.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDateTime>
#include <QSignalBlocker>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <utility>

namespace zorm {

namespace {

// The reading tick of a collection.
constexpr int TickMs = 333;

// Rows of the four point columns, one for each slot of a sensor.
constexpr int Rows = SensorParamSet::Points;

// The polynomial line keeps this far left of "Zpět".
constexpr int PolynomialGap = 8;

const QString PolynomialHeading = QStringLiteral("Výsledný polynom");
const QString Measuring = QStringLiteral("Probíhá měření . . .");

QString SensorHeading(int s) {
    return QStringLiteral("Snímač teploty č.") + QString::number(s);
}

// Row k (1..30) of a point column.
void SetRow(QPlainTextEdit* column, int k, const QString& text) {
    QTextCursor cursor(column->document()->findBlockByNumber(k - 1));
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(text);
}

void SetRow(QPlainTextEdit* column, int k, const std::string& text) {
    SetRow(column, k, QString::fromStdString(text));
}

void SetColour(QWidget* widget, QPalette::ColorRole role, Qt::GlobalColor colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

} // namespace

TKalibrace::TKalibrace(Context& context, Drv232& link, MessageBoxService& boxes, ModalRunner& modal,
                       QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TKalibrace>()), Timer1(new QTimer(this)),
      sensors_(new QButtonGroup(this)), context_(context), link_(link), boxes_(boxes),
      modal_(modal) {
    ui->setupUi(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(TickMs);
    // Never earlier than the period; see Timer1Timer for the spacing.
    Timer1->setTimerType(Qt::PreciseTimer);

    for (QPlainTextEdit* column : {ui->Memo1, ui->Memo2, ui->Memo3, ui->Memo4}) {
        column->setPlainText(QString(Rows - 1, QLatin1Char('\n')));
    }
    SetColour(ui->Label5, QPalette::WindowText, Qt::blue);
    SetColour(ui->Button1, QPalette::ButtonText, Qt::red);
    SetColour(ui->Label4, QPalette::WindowText, Qt::red);

    const QStyle* look = style();
    ui->SpeedButton1->setIcon(look->standardIcon(QStyle::SP_ArrowDown));
    ui->SpeedButton2->setIcon(look->standardIcon(QStyle::SP_ArrowUp));
    ui->BitBtn1->setIcon(look->standardIcon(QStyle::SP_DialogSaveButton));
    ui->BitBtn2->setIcon(look->standardIcon(QStyle::SP_FileDialogContentsView));
    ui->BitBtn3->setIcon(look->standardIcon(QStyle::SP_DriveHDIcon));
    ui->BitBtn4->setIcon(look->standardIcon(QStyle::SP_DialogCancelButton));
    ui->BitBtn5->setIcon(look->standardIcon(QStyle::SP_DialogApplyButton));
    ui->BitBtn6->setIcon(look->standardIcon(QStyle::SP_FileDialogDetailedView));

    // Texts the system's font writes wider than designed widen their
    // controls; the polynomial line continues on a second line rather than
    // run under "Zpět".
    for (QPushButton* button : findChildren<QPushButton*>()) {
        GrowToText(*button);
    }
    for (QLabel* label : {ui->Label2, ui->Label1, ui->Label3, ui->Label6}) {
        GrowToText(*label);
    }
    ui->VysPolynom->setWordWrap(true);
    ui->VysPolynom->resize(ui->BitBtn4->x() - PolynomialGap - ui->VysPolynom->x(),
                           ui->VysPolynom->height());
    assistant_ = new AssistantPanel(context_, boxes_, *this);
    CentreOnScreen(*this);

    sensors_->addButton(ui->RadioGroup1Item1, 1);
    sensors_->addButton(ui->RadioGroup1Item2, 2);
    sensors_->addButton(ui->RadioGroup1Item3, 3);
    connect(sensors_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) {
            RadioGroup1Click();
        }
    });
    // The selection is left when the focus moves from its option buttons to
    // another control of this window; moving between the options, or to a
    // message box or another program, does not count.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        const auto isOption = [this](QWidget* w) {
            return w != nullptr && sensors_->buttons().contains(qobject_cast<QAbstractButton*>(w));
        };
        if (isOption(old) && now != nullptr && !isOption(now) && now->window() == this) {
            RadioGroup1Exit();
        }
    });

    connect(Timer1, &QTimer::timeout, this, &TKalibrace::Timer1Timer);
    connect(ui->Button1, &QPushButton::clicked, this, &TKalibrace::Button1Click);
    connect(ui->BitBtn5, &QPushButton::clicked, this, &TKalibrace::BitBtn5Click);
    connect(ui->BitBtn6, &QPushButton::clicked, this, &TKalibrace::BitBtn6Click);
    connect(ui->BitBtn3, &QPushButton::clicked, this, &TKalibrace::BitBtn3Click);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &TKalibrace::BitBtn1Click);
    connect(ui->BitBtn2, &QPushButton::clicked, this, &TKalibrace::BitBtn2Click);
    connect(ui->BitBtn4, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->SpeedButton1, &QToolButton::clicked, this, &TKalibrace::SpeedButton1Click);
    connect(ui->SpeedButton2, &QToolButton::clicked, this, &TKalibrace::SpeedButton2Click);
    // Enter in the entry field confirms it, as "Potvrď zápis" does.
    connect(ui->Edit1, &QLineEdit::returnPressed, this, [this] {
        if (context_.EntryOpen && !ui->BitBtn5->isHidden()) {
            BitBtn5Click();
        }
    });
}

TKalibrace::~TKalibrace() {
    // The focus moves on while the controls go; by then this is no longer a
    // calibration window, and it must not hear of it.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
}

void TKalibrace::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // After the showing is through, so that the window is drawn first.
    if (!activated_) {
        QMetaObject::invokeMethod(this, &TKalibrace::FormActivate, Qt::QueuedConnection);
    }
}

void TKalibrace::done(int result) {
    // Closing stores nothing, and no reading lands after it.
    Timer1->stop();
    assistant_->Remember();
    QDialog::done(result);
}

void TKalibrace::FormActivate() {
    if (activated_) {
        return;
    }
    activated_ = true;
    ShowText(*ui->Label4, QStringLiteral("Připraven k měření"));
    context_.CalibSensor = 1;
    context_.WorkParams = context_.UserParams;
    if (context_.WorkParams.Calibrated(1) != 0) {
        VypisHodnoty(1);
        ShowText(*ui->Label7, QStringLiteral("Adresa ") +
                                  QString::number(context_.DeviceSettings.DeviceAddress));
        ShowPolynomial(1);
    }
    if (restore_) {
        ObnovZaznam();
    }
}

void TKalibrace::ShowPolynomial(int s) {
    ShowText(*ui->VysNadpis, PolynomialHeading);
    QLabel& line = *ui->VysPolynom;
    line.setText(QString::fromStdString(
        PolynomialLine(CubicOf(context_.WorkParams.Coefficients, s), SystemDecimalSeparator())));
    line.resize(line.width(), line.heightForWidth(line.width()));
}

void TKalibrace::BlankPointColumns() {
    const QString blank(5, QLatin1Char(' '));
    for (int k = 1; k <= Rows; ++k) {
        SetRow(ui->Memo1, k, blank);
        SetRow(ui->Memo2, k, blank);
    }
}

void TKalibrace::RadioGroup1Click() {
    BlankPointColumns();
    for (QWidget* result : {static_cast<QWidget*>(ui->Memo3), static_cast<QWidget*>(ui->Memo4),
                            static_cast<QWidget*>(ui->Label3), static_cast<QWidget*>(ui->Label6),
                            static_cast<QWidget*>(ui->Label8)}) {
        result->hide();
    }
    const int s = sensors_->checkedId();
    context_.CalibSensor = static_cast<std::uint8_t>(s);
    if (context_.WorkParams.Calibrated(s) != 0) {
        VypisHodnoty(static_cast<std::uint8_t>(s));
    }
    ShowText(*ui->Label5, SensorHeading(s));
    ui->Button1->show();
    ShowPolynomial(s);
}

void TKalibrace::RadioGroup1Exit() {
    BlankPointColumns();
}

void TKalibrace::Button1Click() {
    const int s = context_.CalibSensor;
    ui->BitBtn5->show();
    ui->Bevel1->show();
    ui->Label4->show();
    ShowText(*ui->Label4, Measuring + QLatin1Char(' '));
    ui->Button1->hide();
    // A fit left over from an earlier collection must not act on this one,
    // which has no points yet. The commit stays on offer only for a fit of
    // another sensor that waits for it: it never takes this collection.
    ui->BitBtn6->hide();
    Unfit(s);
    assistant_->CollectionStarted(s);
    Timer1->start();

    SensorParamSet& work = context_.WorkParams;
    work.Count(s) = 1;
    for (int k = 1; k <= Rows; ++k) {
        work.TrueTemp(s, k) = 0;
        work.Raw(s, k) = 0;
    }
    work.Coefficients.A3(s) = 0;
    work.Coefficients.A2(s) = 0;
    work.Coefficients.A1(s) = 0;
    work.Coefficients.A0(s) = 0;
    context_.EntryOpen = false;

    for (QWidget* result : {static_cast<QWidget*>(ui->Label8), static_cast<QWidget*>(ui->Memo3),
                            static_cast<QWidget*>(ui->Memo4), static_cast<QWidget*>(ui->Label3),
                            static_cast<QWidget*>(ui->Label6)}) {
        result->hide();
    }
}

int TKalibrace::SlotOf(int s) const {
    const int count = context_.WorkParams.Count(s);
    return count < 1 || count > Rows ? 1 : count;
}

int TKalibrace::SlotInProgress(int s) {
    Unfit(s);
    const int k = SlotOf(s);
    context_.WorkParams.Count(s) = static_cast<std::uint8_t>(k);
    return k;
}

void TKalibrace::Timer1Timer() {
    // The next reading is due a full period after this one began, so that
    // readings never come closer than the period, also when an exchange of
    // the main window held this one back.
    Timer1->start();
    ZmerData();
}

void TKalibrace::ZmerData() {
    const int s = context_.CalibSensor;
    if (!link_.MeasureChannel(static_cast<std::uint8_t>(s))) {
        ShowText(*ui->Label4, QStringLiteral("Chybné měření"));
        assistant_->Tick(s, std::nullopt);
        return;
    }
    const int k = SlotInProgress(s);
    context_.WorkParams.Raw(s, k) = context_.LastReading;
    SetRow(ui->Memo2, k, QString::number(context_.LastReading));
    assistant_->Tick(s, context_.LastReading);
}

void TKalibrace::BitBtn5Click() {
    const int s = context_.CalibSensor;
    if (!context_.EntryOpen) {
        Timer1->stop();
        assistant_->PointTaken(s, SlotOf(s));
        ui->Edit1->show();
        ui->Edit1->clear();
        ui->Edit1->setFocus();
        ShowText(*ui->BitBtn5, QStringLiteral("Potvrď zápis"));
        context_.EntryOpen = true;
        ShowText(*ui->Label4, QStringLiteral("Zadání skutečné teploty"));
        return;
    }

    ui->Edit1->hide();
    ShowText(*ui->BitBtn5, QStringLiteral("Zapiš teplotu"));
    context_.EntryOpen = false;
    const std::optional<float> typed =
        ParseTemperature(ui->Edit1->text().toStdString(), SystemDecimalSeparator());
    SensorParamSet& work = context_.WorkParams;
    if (!typed) {
        boxes_.Show(BoxKind::Error, QStringLiteral("Chybný formát čísla"), BoxButtons::Ok);
    } else {
        const int k = SlotInProgress(s);
        // Slot 30 only ever holds the reading of a point that is never
        // confirmed: 29 points are the most a collection completes.
        if (k < Rows) {
            work.TrueTemp(s, k) = *typed;
            SetRow(ui->Memo1, k, fixed(*typed, 6, 2, SystemDecimalSeparator()));
            work.Count(s) = static_cast<std::uint8_t>(k + 1);
        }
        if (work.Count(s) == Rows) {
            boxes_.Show(BoxKind::Information,
                        QStringLiteral("Byl dosažen max.počet hodnot, proveďte výpočet."),
                        BoxButtons::Ok);
            ui->BitBtn5->hide();
        }
    }
    if (work.Count(s) > MinFitPoints) {
        ui->BitBtn6->show();
    }
    Timer1->start();
    ShowText(*ui->Label4, Measuring);
}

bool TKalibrace::Regrese3(int n) {
    const int s = context_.CalibSensor;
    const std::optional<Cubic> cubic = FitCubic(context_.WorkParams, s, n);
    if (!cubic) {
        return false;
    }
    SetCubic(context_.WorkParams.Coefficients, s, *cubic);
    return true;
}

void TKalibrace::Unfit(int s) {
    fitted_.erase(s);
    unsaved_.erase(s);
    restoredFrom_.erase(s);
    OfferCommit();
    assistant_->Unfitted(s);
}

const std::optional<PointStability>& TKalibrace::StabilityAtPoint(int s, int slot) const {
    return assistant_->StabilityAtPoint(s, slot);
}

void TKalibrace::OfferCommit() {
    ui->BitBtn3->setVisible(!unsaved_.empty());
}

void TKalibrace::FitFailed(const QString& message) {
    boxes_.Show(BoxKind::Error, message, BoxButtons::Ok);
    ui->Button1->show();
    OfferCommit();
}

void TKalibrace::ShowReport(const FitReport& report) {
    const int rows = static_cast<int>(report.Rows.size());
    for (int k = 1; k <= Rows; ++k) {
        QString fitted;
        QString deviation;
        if (k <= rows) {
            fitted = QString::fromStdString(report.Rows[k - 1].Fitted);
            deviation = QString::fromStdString(report.Rows[k - 1].Deviation);
        } else if (k == rows + 1 && report.Faulted) {
            fitted = deviation = QString::fromUtf8(EvaluationError);
        }
        SetRow(ui->Memo3, k, fitted);
        SetRow(ui->Memo4, k, deviation);
    }
}

void TKalibrace::BitBtn6Click() {
    const int s = context_.CalibSensor;
    Timer1->stop();
    // Whatever the outcome, the working copy of the sensor changes here.
    Unfit(s);

    // The point in progress is dropped; what remains are the completed
    // points. A sensor without a slot in progress (Count 0, or a damaged
    // Count above 30) has nothing to drop and no points to fit.
    SensorParamSet& work = context_.WorkParams;
    const int inProgress = work.Count(s);
    const bool hasSlot = inProgress >= 1 && inProgress <= Rows;
    int n = 0;
    if (hasSlot) {
        work.Raw(s, inProgress) = 0;
        assistant_->PointDropped(s, inProgress);
        n = inProgress - 1;
        work.Count(s) = static_cast<std::uint8_t>(n);
        SetRow(ui->Memo2, n + 1, QString(6, QLatin1Char(' ')));
    }
    for (QWidget* entry : {static_cast<QWidget*>(ui->BitBtn6), static_cast<QWidget*>(ui->BitBtn5),
                           static_cast<QWidget*>(ui->Label4), static_cast<QWidget*>(ui->Edit1)}) {
        entry->hide();
    }

    if (!hasSlot || n < MinFitPoints || !Regrese3(n)) {
        FitFailed(QStringLiteral("Chybný regresní výpočet"));
        return;
    }
    ShowPolynomial(s);
    for (QWidget* result : {static_cast<QWidget*>(ui->Memo3), static_cast<QWidget*>(ui->Memo4),
                            static_cast<QWidget*>(ui->Label3), static_cast<QWidget*>(ui->Label6)}) {
        result->show();
    }
    const FitReport report = MakeFitReport(work, s, n, SystemDecimalSeparator());
    ShowReport(report);
    if (report.Faulted) {
        // Only the huge coefficients of a nearly singular system get here;
        // such a fit is not offered for the commit.
        FitFailed(QString::fromUtf8(EvaluationError));
        return;
    }
    ShowText(*ui->Label8,
             QStringLiteral("Max.odchylka: ") + QString::fromStdString(report.MaxDeviation));
    ui->Label8->show();
    fitted_.insert(s);
    unsaved_.insert(s);
    OfferCommit();
    std::optional<double> referenceExpanded;
    if (records_ != nullptr) {
        if (const auto inUse = records_->InstrumentInUse()) {
            referenceExpanded = inUse->Expanded;
        }
    }
    assistant_->Fitted(s, PointsOf(work, s, n), CubicOf(work.Coefficients, s), referenceExpanded);
}

void TKalibrace::VypisHodnoty(std::uint8_t s) {
    ShowText(*ui->Label5, SensorHeading(s));
    for (QWidget* result : {static_cast<QWidget*>(ui->Memo3), static_cast<QWidget*>(ui->Memo4),
                            static_cast<QWidget*>(ui->Label3), static_cast<QWidget*>(ui->Label6)}) {
        result->show();
    }
    const Listing listing = MakeListing(context_.WorkParams, s, SystemDecimalSeparator());
    for (int k = 1; k <= static_cast<int>(listing.Rows.size()); ++k) {
        const ListingRow& row = listing.Rows[k - 1];
        SetRow(ui->Memo2, k, row.Raw);
        SetRow(ui->Memo1, k, row.TrueTemp);
        SetRow(ui->Memo3, k, row.Fitted);
        SetRow(ui->Memo4, k, row.Deviation);
    }
    ShowText(*ui->Label8,
             QStringLiteral("Max.odchylka: ") + QString::fromStdString(listing.MaxDeviation));
    ui->Label8->show();
}

void TKalibrace::BitBtn3Click() {
    // A reference past its due date is asked about before anything is saved;
    // No leaves the fit offered for the commit.
    if (records_ != nullptr &&
        !ConfirmReferenceInUse(records_->InstrumentInUse(), LocalToday(), boxes_)) {
        return;
    }
    const SensorParamSet before = context_.UserParams;
    // Only what was fitted in this opening: a collection started and left,
    // or a fit that failed, never replaces a stored calibration.
    for (const int s : CommitFitted(context_.WorkParams, context_.UserParams, fitted_)) {
        context_.WorkParams.Calibrated(s) = 1;
    }
    // A sensor committed before in this opening comes again unchanged; only
    // the fits since then are new calibrations with a record of their own.
    const std::set<int> brought = std::exchange(unsaved_, {});
    if (!SaveParameters(context_)) {
        boxes_.Show(BoxKind::Error, QStringLiteral("Chyba při ukládání konstant"), BoxButtons::Ok);
    }
    ZapisZaznamy(before, brought);
    ui->BitBtn3->hide();
    ui->Button1->show();
}

void TKalibrace::ZapisZaznamy(const SensorParamSet& before, const std::set<int>& brought) {
    if (records_ == nullptr) {
        return;
    }
    std::map<int, std::optional<std::string>> sensors;
    std::map<int, PointStabilities> stabilities;
    for (const int s : brought) {
        const auto restored = restoredFrom_.find(s);
        if (restored != restoredFrom_.end()) {
            // Restored points were not taken in this opening.
            sensors[s] = restored->second;
            continue;
        }
        sensors[s] = std::nullopt;
        for (int slot = 1; slot <= SensorParamSet::Points; ++slot) {
            stabilities[s].push_back(StabilityAtPoint(s, slot));
        }
    }
    const DeviceSettings& device = context_.DeviceSettings;
    if (!records_->Commit(context_.WorkParams, before, sensors,
                          {context_.DeviceType, device.PortNumber, device.DeviceAddress},
                          stabilities)) {
        boxes_.Show(BoxKind::Error,
                    QStringLiteral("Kalibrační záznam se nepodařilo uložit (čekajících záznamů: "
                                   "%1). Program je zkusí uložit znovu při příštím uložení "
                                   "kalibrace a při otevření historie kalibrací.\n\nDůvod: %2")
                        .arg(records_->Waiting())
                        .arg(records_->LastError()),
                    BoxButtons::Ok);
    }
}

void TKalibrace::ObnovZeZaznamu(const CalibrationRecord& record) {
    restore_ = std::make_unique<CalibrationRecord>(record);
    if (activated_) {
        ObnovZaznam();
    }
}

void TKalibrace::ObnovZaznam() {
    const CalibrationRecord record = *std::exchange(restore_, nullptr);
    const int s = record.Sensor;
    SetPoints(context_.WorkParams, s, CollectedPoints(record));
    SetCubic(context_.WorkParams.Coefficients, s, record.AsLeft);
    {
        const QSignalBlocker quiet(sensors_);
        sensors_->button(s)->setChecked(true);
    }
    RadioGroup1Click();
    VypisHodnoty(static_cast<std::uint8_t>(s));
    fitted_.insert(s);
    unsaved_.insert(s);
    restoredFrom_[s] = record.Uuid;
    OfferCommit();
    ShowText(*ui->Label4, QStringLiteral("Obnoveno ze záznamu z ") +
                              QDateTime::fromMSecsSinceEpoch(record.TimeUtcMs, Qt::OffsetFromUTC,
                                                             record.UtcOffsetSeconds)
                                  .toString(QStringLiteral("d. M. yyyy H:mm")));
    ui->Label4->show();
}

void TKalibrace::ReplaceSet(const QString& question, const QString& confirmation,
                            const SensorParamSet& from, SensorParamSet& to, const QString& saved) {
    if (boxes_.Show(BoxKind::Warning, question, BoxButtons::YesNo) != BoxAnswer::Yes ||
        boxes_.Show(BoxKind::Warning, confirmation, BoxButtons::YesNo) != BoxAnswer::Yes) {
        return;
    }
    to = from;
    if (SaveParameters(context_)) {
        boxes_.Show(BoxKind::Information, saved, BoxButtons::Ok);
    } else {
        boxes_.Show(BoxKind::Error, QStringLiteral("Chyba při ukládání na disk"), BoxButtons::Ok);
    }
}

void TKalibrace::SpeedButton1Click() {
    ReplaceSet(QStringLiteral("Chceš parametry všech snímačů uložit jako tovární parametry?"),
               QStringLiteral("Opravdu mám přepsat tovární parametry?"), context_.UserParams,
               context_.FactoryParams,
               QStringLiteral("Nové tovární parametry byl uloženy na disk"));
}

void TKalibrace::SpeedButton2Click() {
    ReplaceSet(QStringLiteral("Chceš nahradit parametry všech snímačů továrními parametry?"),
               QStringLiteral("Opravdu mám přepsat uživatelské parametry?"), context_.FactoryParams,
               context_.UserParams,
               QStringLiteral("Nové uživatelské parametry byl uloženy na disk"));
}

void TKalibrace::ShowExportFailure(const QString& message) {
    boxes_.Show(BoxKind::Error, message, BoxButtons::Ok);
    ui->BitBtn1->show();
    ui->BitBtn2->hide();
}

void TKalibrace::BitBtn1Click() {
    ui->BitBtn1->hide();
    ui->BitBtn2->show();
    context_.PolyCoeffs = context_.UserParams.Coefficients;
    if (!SaveConstants(context_)) {
        ShowExportFailure(QStringLiteral("Chyba při ukládání konstant do souboru ZORM5816.par"));
    }
    if (!ExportConstantsText(context_, SystemDecimalSeparator())) {
        ShowExportFailure(QStringLiteral("Chyba při ukládání konstant do souboru ZORM5816.txt"));
    }
}

void TKalibrace::BitBtn2Click() {
    TKontrol kontrola(context_, boxes_, this);
    modal_.Run(kontrola);
}

} // namespace zorm
