#include "windows/measurement_recorder.h"

#include "data/log_file.h"
#include "windows/Graf.h"
#include "windows/message_box.h"
#include "windows/regional.h"
#include "windows/save_dialog.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>

#include <filesystem>
#include <string>

namespace zorm {

namespace {

QString Reasoned(const QString& what, const QString& path, const std::string& reason) {
    return what + QStringLiteral("\n\nSoubor: ") + QDir::toNativeSeparators(path) +
           QStringLiteral("\nDůvod: ") + QString::fromLocal8Bit(reason);
}

} // namespace

MeasurementPass BeginPass(bool celsiusShown) {
    const QDateTime now = QDateTime::currentDateTime();
    MeasurementPass pass;
    pass.UnixMs = now.toMSecsSinceEpoch();
    pass.UtcOffsetSeconds = now.offsetFromUtc();
    pass.CelsiusShown = celsiusShown;
    return pass;
}

MeasurementRecorder::MeasurementRecorder(QMainWindow& window, MessageBoxService& boxes,
                                         ModalRunner& modal, QAction& startLog, QAction& stopLog,
                                         QAction& chart)
    : QObject(&window), window_(window), boxes_(boxes), modal_(modal), startLog_(startLog),
      stopLog_(stopLog), status_(new QLabel) {
    status_->setObjectName(QStringLiteral("ZaznamStav"));
    QStatusBar* bar = window_.statusBar();
    bar->setSizeGripEnabled(false);
    bar->addWidget(status_, 1);
    connect(&startLog_, &QAction::triggered, this, &MeasurementRecorder::SpustitZaznam);
    connect(&stopLog_, &QAction::triggered, this, &MeasurementRecorder::ZastavitZaznam);
    connect(&chart, &QAction::triggered, this, &MeasurementRecorder::Graf);
    ShowLogState();
}

MeasurementRecorder::~MeasurementRecorder() = default;

void MeasurementRecorder::Record(const MeasurementPass& pass) {
    history_.Push(SampleOf(pass));
    celsius_ = pass.CelsiusShown;
    if (log_) {
        std::string reason;
        if (log_->Append(LogLine(pass, logDecimal_), reason)) {
            ++logLines_;
            ShowLogState();
        } else {
            StopLog();
            ShowErrorAfterPass(
                Reasoned(QStringLiteral("Zápis do záznamu se nezdařil, záznam je zastaven. "
                                        "Měření pokračuje."),
                         logPath_, reason));
        }
    }
    if (chart_ != nullptr) {
        chart_->PassAdded(celsius_);
    }
}

void MeasurementRecorder::SpustitZaznam() {
    if (log_) {
        return;
    }
    const MeasurementPass now = BeginPass(false);
    QFileDialog dialog(&window_, QStringLiteral("Spustit záznam"), QDir::currentPath(),
                       QStringLiteral("Soubory CSV (*.csv);;Všechny soubory (*)"));
    PrepareSaveDialog(dialog, QStringLiteral("csv"),
                      QString::fromStdString(DefaultLogFileName(now.UnixMs, now.UtcOffsetSeconds)));
    if (modal_.Run(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const QString path = QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
    const char decimal = SystemDecimalSeparator();
    std::string reason;
    std::unique_ptr<LogFile> log =
        LogFile::Create(std::filesystem::path(path.toStdU16String()), reason);
    if (!log || !log->Append(LogFileStart(decimal), reason)) {
        boxes_.Show(BoxKind::Error,
                    Reasoned(QStringLiteral("Soubor záznamu nelze zapsat."), path, reason),
                    BoxButtons::Ok);
        return;
    }
    log_ = std::move(log);
    logPath_ = path;
    logDecimal_ = decimal;
    logLines_ = 0;
    ShowLogState();
}

void MeasurementRecorder::ZastavitZaznam() {
    StopLog();
}

void MeasurementRecorder::StopLog() {
    // Waits for the last line's sync.
    log_.reset();
    ShowLogState();
}

void MeasurementRecorder::ShowLogState() {
    const bool logging = Logging();
    startLog_.setEnabled(!logging);
    stopLog_.setEnabled(logging);
    if (logging) {
        status_->setText(QStringLiteral("Záznam: %1, řádků: %2")
                             .arg(QFileInfo(logPath_).fileName())
                             .arg(logLines_));
        status_->setToolTip(QDir::toNativeSeparators(logPath_));
    }
    // The window looks as it always did while nothing is logged.
    window_.statusBar()->setVisible(logging);
}

void MeasurementRecorder::ShowErrorAfterPass(const QString& text) {
    // A box waits for the operator; the pass and the passes after it must
    // not.
    QMetaObject::invokeMethod(
        this, [this, text] { boxes_.Show(BoxKind::Error, text, BoxButtons::Ok); },
        Qt::QueuedConnection);
}

void MeasurementRecorder::Graf() {
    if (chart_ == nullptr) {
        chart_ = new TGraf(history_, &window_);
        chart_->PassAdded(celsius_);
        chart_->UmistiVedle(window_);
    }
    chart_->show();
    chart_->raise();
    chart_->activateWindow();
}

} // namespace zorm
