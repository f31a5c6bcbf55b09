// The main window: start-up, the search for the converter, measurement.
#pragma once

#include "data/measurement_log.h"

#include <QMainWindow>

#include <memory>

class QPushButton;
class QTimer;

namespace Ui {
class THlavni;
}

namespace zorm {

struct Context;
class Drv232;
class MessageBoxService;
class MeasurementRecorder;
class ModalRunner;
class PortAccessLog;
class RecordKeeper;

class THlavni : public QMainWindow {
    Q_OBJECT

public:
    THlavni(Context& context, Drv232& link, MessageBoxService& boxes, ModalRunner& modal,
            QWidget* parent = nullptr);
    ~THlavni() override;

    // Start-up: loads Parametry.par and searches for the converter. Runs once,
    // on the first activation of the window; later calls do nothing.
    void FormActivate();
    // Tries the ports from PortNumber downwards, 29 of them, wrapping from 1
    // to 29. True when a port answered the identification; that port stays
    // open and becomes PortNumber.
    bool PripojZarizeni();

    // The record of ports whose device refused this user; the search clears
    // it, and a search that finds nothing explains it in one more box.
    void SetPortAccessLog(PortAccessLog* log) { accessLog_ = log; }
    // The calibration records: the calibration window's commits leave them,
    // the history window shows them. Without it neither happens.
    void SetRecords(RecordKeeper* records) { records_ = records; }

    // "Připojení přístroje": search again.
    void BitBtn4Click();
    // "&K o n e c": save the settings, then close.
    void BitBtn2Click();
    // "Jednorázové měření" and each tick of Timer1: one measurement pass.
    void BitBtn1Click();
    void Timer1Timer();
    // "Periodické měření" and "Stop měření".
    void BitBtn3Click();
    void BitBtn5Click();
    // "TEST": the diagnostics line into Label8.
    void Button1Click();
    // Menu "Kalibrace": the calibration window, modally.
    void Parametry1Click();
    // Menu "&Info": the information window, modally.
    void InformClick();
    // Menu "&Historie kalibrací": the history window, modally; also without a
    // converter.
    void HistorieClick();
    // The hidden picture button: the AD converter register window, modally.
    void SpeedButton1Click();
    // Service access (the program's --service switch): shows the picture
    // button that opens the register window. Nothing else changes.
    void ZobrazServisniTlacitko();

    // The address field and the two setting check boxes act when the input
    // focus leaves them.
    void SpinEdit1Exit();
    void CheckBox6Exit();
    void CheckBox7Exit();

    // The menu "Záznam": the measurement log and the chart, fed by PassMeasured.
    MeasurementRecorder& Zaznam() { return *recorder_; }

signals:
    // At the end of each measurement pass: what each sensor gave.
    void PassMeasured(const zorm::MeasurementPass& pass);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // "Periodické měření" and "Stop měření" change places.
    void SwapButtons(QPushButton* pressed, QPushButton* next);
    // Measures every ticked sensor once and shows the results.
    void ZmerTeploty();
    // The state after a search that found the converter.
    void ShowConnected();
    // The setting check boxes show FilterOn and ShowCelsius.
    void ShowSettings();
    // After "Zařízení není připojeno.": the devices that refused this user.
    void ExplainDeniedAccess();

    std::unique_ptr<Ui::THlavni> ui;
    QTimer* Timer1;

    Context& context_;
    Drv232& link_;
    MessageBoxService& boxes_;
    // The calibration, information and register windows open through it.
    ModalRunner& modal_;

    PortAccessLog* accessLog_ = nullptr;
    RecordKeeper* records_ = nullptr;
    MeasurementRecorder* recorder_;

    bool activated_ = false;
    bool measuring_ = false;
};

} // namespace zorm
