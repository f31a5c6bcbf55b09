// The history window ("Historie kalibrací"): the calibration records newest
// first, a page at a time, filtered by the converter's tag, its type and
// address, the sensor and the date; a record's details; corrections as new
// rows; the restore of a record into the calibration window; exports of one
// record or of the filtered list; a record's calibration certificate; the
// station settings and its reference instruments; and what waits to be sent
// to the shared database.
//
// Nothing here waits for the network: the list and the records come from
// the store's worker as answers to numbered requests, and only the newest
// request of each kind counts. Corrections and settings are written on the
// spot (the local file and Stanice.ini).
#pragma once

#include "records/calibration_record.h"
#include "records/station_settings.h"

#include <QDialog>

#include <cstdint>
#include <memory>
#include <optional>

namespace Ui {
class THistorie;
}

namespace zorm {

struct Context;
struct CertificateNumberAnswer;
struct RecordList;
struct RecordsRead;
class Drv232;
class MessageBoxService;
class ModalRunner;
class RecordKeeper;

class THistorie : public QDialog {
    Q_OBJECT

public:
    // The rows one request of the list brings.
    static constexpr int PageRows = 200;

    THistorie(Context& context, Drv232& link, RecordKeeper& records, MessageBoxService& boxes,
              ModalRunner& modal, QWidget* parent = nullptr);
    ~THistorie() override;

    // "Vybrat": the list anew, filtered as the controls say; "Zrušit výběr":
    // the controls cleared and every record listed.
    void Vyber();
    void ZrusVyber();
    // "Další záznamy": the next page, below the rows shown.
    void DalsiZaznamy();
    // The row chosen in the list: its record's details are asked for.
    void ZobrazVybrany();
    // "Zapsat opravu": a correction of the record shown.
    void ZapisOpravu();
    // "Obnovit do kalibrace…": the calibration window with the record shown
    // in the working copy of its sensor.
    void Obnov();
    // "Export záznamu…" and "Export seznamu…": CSV or JSON, as the file
    // chosen in the save dialog ends.
    void ExportZaznamu();
    void ExportSeznamu();
    // "Kalibrační list…": the certificate of the record shown, as a PDF with
    // its JSON beside it, under the record's certificate number (asked of
    // the store first, then the file).
    void KalibracniList();
    // "Referenční přístroje…": the station's reference instruments, the one
    // in use and the conditions (TReference).
    void ReferencniPristroje();
    // "Uložit nastavení": the station settings into Stanice.ini.
    void UlozNastaveni();
    // "Odeslat nyní".
    void OdesliNyni();

    // A request of the list, of a record or of an export waits for its
    // answer.
    bool Ceka() const;
    // The record whose details are shown.
    const std::optional<RecordDetails>& Zobrazeny() const { return shown_; }

private:
    void Listed(std::uint64_t request, const RecordList& list);
    void RecordsReady(std::uint64_t request, const RecordsRead& read);
    void ShowPending();
    void SendingFinished(int sent, const QString& error);
    void CertificateNumbered(std::uint64_t request, const CertificateNumberAnswer& answer);
    // The first page of query_.
    void RequestFirstPage();
    void RequestPage();
    // After a first page: the row of the record shown, or with none shown
    // the newest one, whose details then come.
    void SelectShownOrNewest();
    RecordFilter FilterOfControls() const;
    void ShowStationSettings();
    // The instrument of the station's list in use, on the settings tab.
    void ShowReferenceInUse();
    // The save dialog for an export; the path with its suffix and whether
    // it is JSON, or nothing when the operator cancelled.
    std::optional<std::pair<QString, bool>> AskExportFile(const QString& offeredName);
    void WriteExport(const QString& path, bool json, const std::vector<RecordDetails>& records);

    std::unique_ptr<Ui::THistorie> ui;
    Context& context_;
    Drv232& link_;
    RecordKeeper& records_;
    MessageBoxService& boxes_;
    ModalRunner& modal_;

    StationSettings station_;
    RecordQuery query_;
    std::uint64_t listRequest_ = 0;
    std::uint64_t detailsRequest_ = 0;
    std::uint64_t exportRequest_ = 0;
    std::uint64_t certificateRequest_ = 0;
    // The record whose certificate waits for its number.
    std::optional<RecordDetails> certified_;
    QString exportPath_;
    bool exportJson_ = false;
    int listedRows_ = 0;
    // Where the next page starts, while the last one was full.
    std::optional<ListPosition> next_;
    std::optional<RecordDetails> shown_;
    QString sendError_;
};

} // namespace zorm
