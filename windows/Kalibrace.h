// The calibration window: collects the points of one sensor (a reading every
// 333 ms, a true temperature typed for the current one), fits the cubic,
// lists a stored calibration, commits the working copy and exchanges the
// user and factory sets, exports the constants and opens their view.
//
// All work is done on WorkParams; UserParams changes only on a commit or a
// restore from the factory set.
#pragma once

#include <QDialog>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

class QButtonGroup;
class QShowEvent;
class QTimer;

namespace Ui {
class TKalibrace;
}

namespace zorm {

class AssistantPanel;
struct CalibrationRecord;
struct Context;
struct PointStability;
struct FitReport;
struct SensorParamSet;
class Drv232;
class MessageBoxService;
class ModalRunner;
class RecordKeeper;

class TKalibrace : public QDialog {
    Q_OBJECT

public:
    TKalibrace(Context& context, Drv232& link, MessageBoxService& boxes, ModalRunner& modal,
               QWidget* parent = nullptr);
    ~TKalibrace() override;

    // Where a commit leaves its calibration records; none: it leaves none.
    void SetRecords(RecordKeeper* records) { records_ = records; }
    // The calibration of `record` goes into the working copy of its sensor
    // when the window opens (or at once when it is open): its points and
    // coefficients, listed as a fit is, to be committed as one; the record
    // of that commit names `record`.
    void ObnovZeZaznamu(const CalibrationRecord& record);

    // Once per opening, when the window is first shown: sensor 1, WorkParams
    // from UserParams, and the listing of sensor 1 if it is calibrated.
    void FormActivate();

    // A sensor was selected: clear the point columns, list it if it is
    // calibrated, show its polynomial. A running collection goes on for the
    // newly selected sensor.
    void RadioGroup1Click();
    // The keyboard focus left the sensor selection.
    void RadioGroup1Exit();
    // "Kalibrace": a new collection for the selected sensor.
    void Button1Click();
    // Each tick of Timer1 takes one reading.
    void Timer1Timer();
    void ZmerData();
    // "Zapiš teplotu" opens the entry, "Potvrď zápis" stores it.
    void BitBtn5Click();
    // "Regresní výpočet": ends the collection, fits and reports.
    void BitBtn6Click();
    // Fits points 1..n of the selected sensor into WorkParams; false when
    // the system is singular or n is outside 4..30 (nothing is written).
    bool Regrese3(int n);
    // The stored points of sensor s with their fitted values and deviations.
    void VypisHodnoty(std::uint8_t s);

    // "Uložit na disk": the sensors fitted in this opening go from the working
    // copy into the user set, which is stored; every other sensor keeps what
    // the user set holds.
    void BitBtn3Click();
    // Factory set from user set, and user set from factory set, each after
    // two questions.
    void SpeedButton1Click();
    void SpeedButton2Click();
    // "Export kalibračních konstant" and "Kontrola kalibračních konstant".
    void BitBtn1Click();
    void BitBtn2Click();

    void done(int result) override;

    // The calibration assistant beside the window's controls ("Asistent ▸").
    AssistantPanel& Assistant() { return *assistant_; }
    // The stability of the readings when "Zapiš teplotu" took point `slot`
    // (1..30) of sensor s in this opening; it follows the point as the slots
    // do. Nothing for a point not taken so.
    const std::optional<PointStability>& StabilityAtPoint(int s, int slot) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The slot of the point in progress of sensor s, which a reading or an
    // entry is about to change (so the sensor no longer counts as fitted). A
    // sensor without one (Count 0, or a damaged Count above 30) begins its
    // points at slot 1.
    int SlotInProgress(int s);
    // That slot, without changing anything.
    int SlotOf(int s) const;
    // The working copy of sensor s changes outside a fit: it no longer counts
    // as fitted, and a commit leaves it as the user set holds it.
    void Unfit(int s);
    // "Uložit na disk" is on offer while a fit of this opening waits for it.
    void OfferCommit();
    // Shows the polynomial of sensor s under its heading.
    void ShowPolynomial(int s);
    // Rows 1..30 of the true-temperature and raw columns become blank.
    void BlankPointColumns();
    // A collection that ended without a fit: "Kalibrace" offers a new one,
    // and a fit of another sensor still waits for its commit.
    void FitFailed(const QString& message);
    // The fitted and deviation columns of a report: its rows, the faulted
    // one after them, and blank rows below.
    void ShowReport(const FitReport& report);
    // After a Yes to both questions, `to` becomes a copy of `from` and the
    // three records are stored; the outcome is reported either way.
    void ReplaceSet(const QString& question, const QString& confirmation,
                    const SensorParamSet& from, SensorParamSet& to, const QString& saved);
    void ShowExportFailure(const QString& message);
    // The restore asked for by ObnovZeZaznamu, once the working copy is there.
    void ObnovZaznam();
    // The records of the sensors a commit brought, over the user set as it
    // was `before` the commit; a box when the local file refuses them.
    void ZapisZaznamy(const SensorParamSet& before, const std::set<int>& brought);

    std::unique_ptr<Ui::TKalibrace> ui;
    QTimer* Timer1;
    // The three options of RadioGroup1, with the sensor numbers as ids.
    QButtonGroup* sensors_;
    AssistantPanel* assistant_;

    Context& context_;
    Drv232& link_;
    MessageBoxService& boxes_;
    ModalRunner& modal_;
    bool activated_ = false;
    // The sensors fitted successfully in this opening and not collected
    // again since: what a commit takes. Of them, those fitted since the last
    // commit.
    std::set<int> fitted_;
    std::set<int> unsaved_;

    RecordKeeper* records_ = nullptr;
    // A record to restore at the opening, and the sensors whose working copy
    // holds a restored record (by its UUID) until they are collected again.
    std::unique_ptr<CalibrationRecord> restore_;
    std::map<int, std::string> restoredFrom_;
};

} // namespace zorm
