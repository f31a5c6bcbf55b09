// The menu "Záznam" of the main window: the measurement log and the chart,
// both fed by the main window's measurement passes, single and periodic,
// also while the calibration window is open.
//
// The passes go into the reading history (a day of passes at the shortest
// period), which the chart window draws, and, while logging, one line each
// into the log file (data/measurement_log.h). While logging, the status line
// of the main window shows the file's name and how many passes it holds. A
// write error stops the log and says so in a box after the pass; the
// measurement goes on.
#pragma once

#include "data/measurement_log.h"
#include "data/reading_history.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class QAction;
class QLabel;
class QMainWindow;

namespace zorm {

class LogFile;
class MessageBoxService;
class ModalRunner;
class TGraf;

// A pass that begins now: the local time and its offset from UTC.
MeasurementPass BeginPass(bool celsiusShown);

class MeasurementRecorder : public QObject {
    Q_OBJECT

public:
    // Serves the three actions of the window's menu "Záznam" and shows its
    // status in the window's status bar. The file dialog runs through
    // `modal`, the error boxes through `boxes`.
    MeasurementRecorder(QMainWindow& window, MessageBoxService& boxes, ModalRunner& modal,
                        QAction& startLog, QAction& stopLog, QAction& chart);
    ~MeasurementRecorder() override;

    // One pass of the main window.
    void Record(const MeasurementPass& pass);

    // "Spustit záznam…": asks for the file (a new name in the data folder
    // offered), then logs into it from the next pass on.
    void SpustitZaznam();
    // "Zastavit záznam".
    void ZastavitZaznam();
    // "Graf": opens the chart window, or brings it to the front.
    void Graf();

    bool Logging() const { return log_ != nullptr; }
    // The file logged into, also after the log stopped.
    const QString& LogPath() const { return logPath_; }
    // Passes written into the current log.
    std::uint64_t LogLines() const { return logLines_; }
    const ReadingHistory& History() const { return history_; }
    // Null until "Graf" was chosen.
    TGraf* ChartWindow() const { return chart_; }

private:
    void StopLog();
    void ShowLogState();
    void ShowErrorAfterPass(const QString& text);

    QMainWindow& window_;
    MessageBoxService& boxes_;
    ModalRunner& modal_;
    QAction& startLog_;
    QAction& stopLog_;
    QLabel* status_;

    ReadingHistory history_;
    bool celsius_ = false;
    TGraf* chart_ = nullptr;

    std::unique_ptr<LogFile> log_;
    QString logPath_;
    // The decimal separator of the whole file, taken when it was started.
    char logDecimal_ = '.';
    std::uint64_t logLines_ = 0;
};

} // namespace zorm
