// The reference instruments of the station ("Referenční přístroje"): the list
// (retired ones greyed at its end, overdue ones marked), adding an
// instrument, retiring one, picking the one in use, and the conditions of the
// calibrations that the station settings keep (ambient temperature, humidity,
// the tolerance of the certificates). Opened from the history window.
//
// The list lives in the station's record file (History); the pick and the
// conditions go into the station settings, which the window changes in place
// and saves to Stanice.ini at once.
#pragma once

#include "records/reference_instrument.h"

#include <QDialog>

#include <memory>
#include <optional>
#include <vector>

class QLineEdit;

namespace Ui {
class TReference;
}

namespace zorm {

class History;
class MessageBoxService;
struct StationSettings;

class TReference : public QDialog {
    Q_OBJECT

public:
    TReference(History& history, StationSettings& settings, MessageBoxService& boxes,
               QWidget* parent = nullptr);
    ~TReference() override;

    // "Používat vybraný": the selected instrument becomes the one in use.
    void PouzivatClick();
    // "Vyřadit vybraný…": retires the selected instrument after a question;
    // when it was the one in use, none is in use afterwards.
    void VyraditClick();
    // "Přidat přístroj": the instrument of the entry fields joins the list.
    void PridatClick();
    // "Uložit podmínky": the ambient temperature, humidity and tolerance.
    void UlozitPodminkyClick();

private:
    // Reads the list again and shows it, `select` selected where given.
    void NactiSeznam(const std::string& select = {});
    // The instrument of the selected row, unless it is retired.
    const Instrument* Vybrany() const;
    // Saves the settings; on failure an error box, and `undo` puts them back.
    bool UlozNastaveni(const StationSettings& undo);
    void UkazPodminky();
    // A number field: nothing when empty, `bad` set when not a number.
    std::optional<double> Cislo(const QLineEdit& field, bool& bad) const;

    std::unique_ptr<Ui::TReference> ui;
    History& history_;
    StationSettings& settings_;
    MessageBoxService& boxes_;
    std::vector<Instrument> instruments_;
};

// Before a commit: where the instrument in use is past its due date on
// `today`, a warning box asks whether to go on. True when the commit may go
// on (no instrument in use, one in time, or the answer Yes); the record then
// notes the overdue reference itself (StampRecord).
bool ConfirmReferenceInUse(const std::optional<Instrument>& inUse, Date today,
                           MessageBoxService& boxes);

} // namespace zorm
