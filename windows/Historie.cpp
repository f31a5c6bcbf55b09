#include "windows/Historie.h"

#include "data/context.h"
#include "records/history.h"
#include "records/record_keeper.h"
#include "records/record_stamp.h"
#include "reports/certificate.h"
#include "reports/record_export.h"
#include "reports/record_view.h"
#include "ui_Historie.h"
#include "windows/Kalibrace.h"
#include "windows/Reference.h"
#include "windows/fitting.h"
#include "windows/message_box.h"
#include "windows/regional.h"
#include "windows/save_dialog.h"

#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QSaveFile>
#include <QSignalBlocker>

#include <array>

namespace zorm {

namespace {

constexpr std::array<CorrectedField, 6> CorrectableFields = {CorrectedField::Tag,
                                                             CorrectedField::Operator,
                                                             CorrectedField::ReferenceDescription,
                                                             CorrectedField::ReferenceSerial,
                                                             CorrectedField::ReferenceCertificate,
                                                             CorrectedField::Note};

// The filter's date range offered at first: the last month.
constexpr int OfferedDays = 30;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

std::string Trimmed(const QLineEdit& entry) {
    return entry.text().trimmed().toStdString();
}

std::optional<std::string> Given(const QLineEdit& entry) {
    const std::string text = Trimmed(entry);
    return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

std::int64_t DayStart(const QDate& date) {
    return LocalDayStartUtcMs(date.year(), date.month(), date.day());
}

} // namespace

THistorie::THistorie(Context& context, Drv232& link, RecordKeeper& records,
                     MessageBoxService& boxes, ModalRunner& modal, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::THistorie>()), context_(context), link_(link),
      records_(records), boxes_(boxes), modal_(modal) {
    ui->setupUi(this);
    QTableWidget& list = *ui->Seznam;
    const auto& headings = RecordListHeadings();
    list.setColumnCount(static_cast<int>(headings.size()));
    QStringList captions;
    for (const char* heading : headings) {
        captions << QString::fromUtf8(heading);
    }
    list.setHorizontalHeaderLabels(captions);
    list.verticalHeader()->hide();
    list.horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    for (const CorrectedField field : CorrectableFields) {
        ui->OpravaPole->addItem(QString::fromUtf8(CorrectedFieldCaption(field)),
                                static_cast<int>(field));
    }
    const QDate today = QDate::currentDate();
    ui->FiltrOd->setDate(today.addDays(-OfferedDays));
    ui->FiltrDo->setDate(today);
    ui->Rozdeleni->setSizes({width() * 11 / 20, width() * 9 / 20});
    CentreOnScreen(*this);

    connect(ui->Vybrat, &QPushButton::clicked, this, &THistorie::Vyber);
    connect(ui->ZrusitVyber, &QPushButton::clicked, this, &THistorie::ZrusVyber);
    connect(ui->DalsiZaznamy, &QPushButton::clicked, this, &THistorie::DalsiZaznamy);
    connect(ui->Seznam, &QTableWidget::itemSelectionChanged, this, &THistorie::ZobrazVybrany);
    connect(ui->ZapsatOpravu, &QPushButton::clicked, this, &THistorie::ZapisOpravu);
    connect(ui->Obnovit, &QPushButton::clicked, this, &THistorie::Obnov);
    connect(ui->ExportZaznamu, &QPushButton::clicked, this, &THistorie::ExportZaznamu);
    connect(ui->ExportSeznamu, &QPushButton::clicked, this, &THistorie::ExportSeznamu);
    connect(ui->KalibracniList, &QPushButton::clicked, this, &THistorie::KalibracniList);
    connect(ui->ReferencniPristroje, &QPushButton::clicked, this, &THistorie::ReferencniPristroje);
    connect(ui->UlozitNastaveni, &QPushButton::clicked, this, &THistorie::UlozNastaveni);
    connect(ui->OdeslatNyni, &QPushButton::clicked, this, &THistorie::OdesliNyni);
    connect(ui->Zavrit, &QPushButton::clicked, this, &QDialog::accept);
    // Enter in a filter field selects, as "Vybrat" does.
    for (QLineEdit* entry : {ui->FiltrOznaceni, ui->FiltrTyp}) {
        connect(entry, &QLineEdit::returnPressed, this, &THistorie::Vyber);
    }

    History& store = records_.Store();
    connect(&store, &History::Listed, this, &THistorie::Listed);
    connect(&store, &History::RecordsReady, this, &THistorie::RecordsReady);
    connect(&store, &History::PendingChanged, this, &THistorie::ShowPending);
    connect(&store, &History::SendingFinished, this, &THistorie::SendingFinished);
    connect(&store, &History::CertificateNumberReady, this, &THistorie::CertificateNumbered);
    ui->OdeslatNyni->setEnabled(store.HasSharedDatabase());

    // Records a commit could not write go now, if the file takes them.
    if (!records_.WriteWaiting()) {
        boxes_.Show(BoxKind::Error,
                    QStringLiteral("Kalibrační záznamy, které čekají v paměti programu (%1), se "
                                   "ani teď nepodařilo uložit.\n\nDůvod: %2")
                        .arg(records_.Waiting())
                        .arg(records_.LastError()),
                    BoxButtons::Ok);
    }
    station_ = LoadStationSettings();
    ShowStationSettings();
    ShowPending();
    RequestFirstPage();
    ui->Obnovit->setEnabled(false);
    ui->ExportZaznamu->setEnabled(false);
    ui->KalibracniList->setEnabled(false);
    ui->ZapsatOpravu->setEnabled(false);
}

THistorie::~THistorie() = default;

bool THistorie::Ceka() const {
    return listRequest_ != 0 || detailsRequest_ != 0 || exportRequest_ != 0 ||
           certificateRequest_ != 0;
}

RecordFilter THistorie::FilterOfControls() const {
    RecordFilter filter;
    filter.Tag = Given(*ui->FiltrOznaceni);
    filter.ConverterType = Given(*ui->FiltrTyp);
    if (ui->FiltrAdresa->value() != ui->FiltrAdresa->minimum()) {
        filter.Address = ui->FiltrAdresa->value();
    }
    if (ui->FiltrSnimac->currentIndex() > 0) {
        filter.Sensor = ui->FiltrSnimac->currentIndex();
    }
    if (ui->FiltrOdZapnuto->isChecked()) {
        filter.FromUtcMs = DayStart(ui->FiltrOd->date());
    }
    if (ui->FiltrDoZapnuto->isChecked()) {
        filter.ToUtcMs = DayStart(ui->FiltrDo->date().addDays(1));
    }
    return filter;
}

void THistorie::Vyber() {
    query_.Filter = FilterOfControls();
    RequestFirstPage();
}

void THistorie::ZrusVyber() {
    ui->FiltrOznaceni->clear();
    ui->FiltrTyp->clear();
    ui->FiltrAdresa->setValue(ui->FiltrAdresa->minimum());
    ui->FiltrSnimac->setCurrentIndex(0);
    ui->FiltrOdZapnuto->setChecked(false);
    ui->FiltrDoZapnuto->setChecked(false);
    Vyber();
}

void THistorie::RequestFirstPage() {
    ui->Seznam->setRowCount(0);
    listedRows_ = 0;
    next_.reset();
    query_.Before.reset();
    RequestPage();
}

void THistorie::DalsiZaznamy() {
    if (!next_ || listRequest_ != 0) {
        return;
    }
    query_.Before = next_;
    RequestPage();
}

void THistorie::RequestPage() {
    query_.Limit = PageRows;
    ui->DalsiZaznamy->setEnabled(false);
    ui->StavSeznamu->setText(QStringLiteral("Načítám seznam…"));
    listRequest_ = records_.Store().RequestList(query_);
}

void THistorie::Listed(std::uint64_t request, const RecordList& list) {
    if (request != listRequest_) {
        return; // a page that a newer request replaced
    }
    listRequest_ = 0;
    if (!list.Error.isEmpty()) {
        ui->StavSeznamu->setText(QStringLiteral("Seznam nelze načíst: ") + list.Error);
        return;
    }
    QTableWidget& table = *ui->Seznam;
    const char sep = SystemDecimalSeparator();
    table.setUpdatesEnabled(false);
    for (const RecordSummary& row : list.Rows) {
        const int at = table.rowCount();
        table.insertRow(at);
        const auto texts = RecordListRow(row, sep);
        for (std::size_t column = 0; column < texts.size(); ++column) {
            auto* cell = new QTableWidgetItem(Text(texts[column]));
            cell->setData(Qt::UserRole, Text(row.Uuid));
            table.setItem(at, static_cast<int>(column), cell);
        }
    }
    table.setUpdatesEnabled(true);
    if (!query_.Before) {
        SelectShownOrNewest();
    }
    listedRows_ += static_cast<int>(list.Rows.size());
    const bool full = static_cast<int>(list.Rows.size()) == query_.Limit;
    if (full) {
        next_ = ListPosition{list.Rows.back().TimeUtcMs, list.Rows.back().Uuid};
    } else {
        next_.reset();
    }
    ui->DalsiZaznamy->setEnabled(full);
    ui->PocetZaznamu->setText(QStringLiteral("Zobrazeno záznamů: %1%2")
                                  .arg(listedRows_)
                                  .arg(full ? QStringLiteral(" (a další)") : QString()));
    ui->StavSeznamu->setText(
        list.SharedError.isEmpty()
            ? QString()
            : QStringLiteral("Sdílená databáze není dostupná, seznam ukazuje záznamy tohoto "
                             "počítače: ") +
                  list.SharedError);
}

void THistorie::SelectShownOrNewest() {
    QTableWidget& table = *ui->Seznam;
    if (shown_) {
        const QString uuid = Text(shown_->Written.Uuid);
        for (int row = 0; row < table.rowCount(); ++row) {
            if (table.item(row, 0)->data(Qt::UserRole).toString() == uuid) {
                // Its details are shown already (or asked for again).
                const QSignalBlocker quiet(table);
                table.selectRow(row);
                return;
            }
        }
        return;
    }
    if (table.rowCount() > 0) {
        table.selectRow(0);
    }
}

void THistorie::ZobrazVybrany() {
    const QList<QTableWidgetItem*> chosen = ui->Seznam->selectedItems();
    if (chosen.isEmpty()) {
        return;
    }
    detailsRequest_ = records_.Store().RequestRecords(
        {chosen.front()->data(Qt::UserRole).toString().toStdString()});
}

void THistorie::RecordsReady(std::uint64_t request, const RecordsRead& read) {
    if (request == exportRequest_) {
        exportRequest_ = 0;
        if (!read.Error.isEmpty()) {
            boxes_.Show(BoxKind::Error,
                        QStringLiteral("Záznamy pro export nelze načíst: ") + read.Error,
                        BoxButtons::Ok);
            return;
        }
        WriteExport(exportPath_, exportJson_, read.Records);
        return;
    }
    if (request != detailsRequest_) {
        return;
    }
    detailsRequest_ = 0;
    if (!read.Error.isEmpty() || read.Records.empty()) {
        shown_.reset();
        ui->Podrobnosti->setPlainText(QStringLiteral("Záznam nelze načíst: ") + read.Error);
    } else {
        shown_ = read.Records.front();
        ui->Podrobnosti->setHtml(Text(RecordDetailsHtml(*shown_, SystemDecimalSeparator())));
    }
    const bool shown = shown_.has_value();
    ui->Obnovit->setEnabled(shown);
    ui->ExportZaznamu->setEnabled(shown);
    ui->KalibracniList->setEnabled(shown && certificateRequest_ == 0);
    ui->ZapsatOpravu->setEnabled(shown);
}

void THistorie::ZapisOpravu() {
    if (!shown_) {
        return;
    }
    const auto field = static_cast<CorrectedField>(ui->OpravaPole->currentData().toInt());
    const std::string value = Trimmed(*ui->OpravaHodnota);
    // An empty tag takes the tag away and an empty note the note; the
    // other fields always name someone or something.
    if (value.empty() && field != CorrectedField::Tag && field != CorrectedField::Note) {
        boxes_.Show(BoxKind::Error, QStringLiteral("Zadejte novou hodnotu údaje."), BoxButtons::Ok);
        return;
    }
    station_ = LoadStationSettings();
    History& store = records_.Store();
    if (!store.Correct(NewCorrection(shown_->Written.Uuid, field, value, station_))) {
        boxes_.Show(BoxKind::Error,
                    QStringLiteral("Opravu nelze uložit.\n\nDůvod: ") + store.LastError(),
                    BoxButtons::Ok);
        return;
    }
    ui->OpravaHodnota->clear();
    detailsRequest_ = store.RequestRecords({shown_->Written.Uuid});
    RequestFirstPage();
}

void THistorie::Obnov() {
    if (!shown_) {
        return;
    }
    const CalibrationRecord& record = shown_->Latest;
    const DeviceSettings& device = context_.DeviceSettings;
    const std::optional<std::string> tag = station_.TagOf(device.PortNumber, device.DeviceAddress);
    const bool sameConverter = record.Port == device.PortNumber &&
                               record.Address == device.DeviceAddress &&
                               (!record.Tag || !tag || *record.Tag == *tag);
    if (!sameConverter &&
        boxes_.Show(
            BoxKind::Warning,
            QStringLiteral("Záznam je z převodníku na portu COM%1, adresa %2%3; nastaven "
                           "je port COM%4, adresa %5%6. Převzít přesto jeho kalibraci "
                           "snímače %7?")
                .arg(record.Port)
                .arg(record.Address)
                .arg(record.Tag ? QStringLiteral(", označení ") + Text(*record.Tag) : QString())
                .arg(device.PortNumber)
                .arg(device.DeviceAddress)
                .arg(tag ? QStringLiteral(", označení ") + Text(*tag) : QString())
                .arg(record.Sensor),
            BoxButtons::YesNo) != BoxAnswer::Yes) {
        return;
    }
    TKalibrace kalibrace(context_, link_, boxes_, modal_, this);
    kalibrace.SetRecords(&records_);
    kalibrace.ObnovZeZaznamu(record);
    modal_.Run(kalibrace);
    // The commit's record, if the operator committed.
    RequestFirstPage();
}

std::optional<std::pair<QString, bool>> THistorie::AskExportFile(const QString& offeredName) {
    const QString csv = QStringLiteral("Soubory CSV (*.csv)");
    const QString json = QStringLiteral("Soubory JSON (*.json)");
    QFileDialog dialog(this, QStringLiteral("Export kalibračních záznamů"), QDir::currentPath(),
                       csv + QStringLiteral(";;") + json);
    // No default suffix: a name without one takes that of the type chosen.
    PrepareSaveDialog(dialog, QString(), offeredName);
    if (modal_.Run(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    QString path = QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
    if (QFileInfo(path).suffix().isEmpty()) {
        path +=
            dialog.selectedNameFilter() == json ? QStringLiteral(".json") : QStringLiteral(".csv");
    }
    return std::pair{
        path, QFileInfo(path).suffix().compare(QStringLiteral("json"), Qt::CaseInsensitive) == 0};
}

void THistorie::WriteExport(const QString& path, bool json,
                            const std::vector<RecordDetails>& records) {
    const std::string text =
        json ? RecordsJson(records) : RecordsCsv(records, SystemDecimalSeparator());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit()) {
        boxes_.Show(BoxKind::Error,
                    QStringLiteral("Export nelze zapsat.\n\nSoubor: ") +
                        QDir::toNativeSeparators(path) + QStringLiteral("\nDůvod: ") +
                        file.errorString(),
                    BoxButtons::Ok);
        return;
    }
    ui->StavSeznamu->setText(QStringLiteral("Exportováno záznamů: %1 do %2")
                                 .arg(records.size())
                                 .arg(QDir::toNativeSeparators(path)));
}

void THistorie::ExportZaznamu() {
    if (!shown_) {
        return;
    }
    const auto file = AskExportFile(
        QStringLiteral("kalibrace-%1.csv").arg(Text(shown_->Written.Uuid.substr(0, 8))));
    if (file) {
        WriteExport(file->first, file->second, {*shown_});
    }
}

void THistorie::ExportSeznamu() {
    const auto file = AskExportFile(QStringLiteral("kalibrace"));
    if (!file) {
        return;
    }
    exportPath_ = file->first;
    exportJson_ = file->second;
    ui->StavSeznamu->setText(QStringLiteral("Načítám záznamy pro export…"));
    exportRequest_ = records_.Store().RequestMatching(query_.Filter);
}

void THistorie::KalibracniList() {
    if (!shown_ || certificateRequest_ != 0) {
        return;
    }
    // A record without its reference's U or without a usable fit makes no
    // certificate: say why before a number is given to it.
    const auto figures = FiguresOf(shown_->Latest, LoadStationSettings().Tolerance);
    if (const std::string* why = std::get_if<std::string>(&figures)) {
        boxes_.Show(BoxKind::Error,
                    QStringLiteral("Kalibrační list tohoto záznamu nelze vystavit: ") + Text(*why),
                    BoxButtons::Ok);
        return;
    }
    certified_ = shown_;
    ui->KalibracniList->setEnabled(false);
    ui->StavSeznamu->setText(QStringLiteral("Přiděluji číslo kalibračního listu…"));
    certificateRequest_ =
        records_.Store().RequestCertificateNumber(shown_->Written.Uuid, StationName());
}

void THistorie::CertificateNumbered(std::uint64_t request, const CertificateNumberAnswer& answer) {
    if (request != certificateRequest_) {
        return;
    }
    certificateRequest_ = 0;
    const RecordDetails record = *std::exchange(certified_, std::nullopt);
    ui->KalibracniList->setEnabled(shown_.has_value());
    ui->StavSeznamu->clear();
    if (!answer.Issued) {
        boxes_.Show(BoxKind::Error,
                    QStringLiteral("Číslo kalibračního listu nelze přidělit: ") + answer.Error,
                    BoxButtons::Ok);
        return;
    }
    QFileDialog dialog(this, QStringLiteral("Uložit kalibrační list"), QDir::currentPath(),
                       QStringLiteral("Dokumenty PDF (*.pdf)"));
    PrepareSaveDialog(dialog, QStringLiteral("pdf"), CertificateFileName(answer.Issued->Number));
    if (modal_.Run(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const QString path = QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
    const QString error = WriteCertificate(
        CertificateIssuedToday(record, answer.Issued->Number, SystemDecimalSeparator()), path);
    if (!error.isEmpty()) {
        boxes_.Show(BoxKind::Error, error, BoxButtons::Ok);
        return;
    }
    ui->StavSeznamu->setText(QStringLiteral("Kalibrační list %1 uložen do %2")
                                 .arg(Text(answer.Issued->Number))
                                 .arg(QDir::toNativeSeparators(path)));
}

void THistorie::ReferencniPristroje() {
    TReference references(records_.Store(), station_, boxes_, this);
    modal_.Run(references);
    // The window saved what it changed; the other fields keep what is typed.
    station_ = LoadStationSettings();
    ShowReferenceInUse();
}

void THistorie::ShowReferenceInUse() {
    const std::optional<Instrument> inUse = records_.Store().InstrumentInUse(station_);
    if (!inUse) {
        ui->ReferenceVPouzivani->setText(QStringLiteral("žádný; záznamy berou údaje výše"));
        return;
    }
    QString text = QStringLiteral("%1, výrobní číslo %2, platný do %3; má přednost před údaji výše")
                       .arg(Text(inUse->Identity.Description))
                       .arg(Text(inUse->Identity.SerialNumber))
                       .arg(Text(CzechDateText(inUse->Due)));
    if (Overdue(*inUse, LocalToday())) {
        text += QStringLiteral(" (po termínu kalibrace)");
    }
    ui->ReferenceVPouzivani->setText(text);
}

void THistorie::ShowStationSettings() {
    ui->Operator->setText(Text(station_.Operator));
    ui->ReferencePopis->setText(Text(station_.Reference.Description));
    ui->ReferenceCislo->setText(Text(station_.Reference.SerialNumber));
    ui->ReferenceCertifikat->setText(Text(station_.Reference.CertificateNumber));
    ShowReferenceInUse();
    const DeviceSettings& device = context_.DeviceSettings;
    ui->PrevodnikMisto->setText(QStringLiteral("%1 na portu COM%2, adresa %3")
                                    .arg(context_.DeviceType.empty()
                                             ? QStringLiteral("převodník (nepřipojen)")
                                             : Text(context_.DeviceType))
                                    .arg(device.PortNumber)
                                    .arg(device.DeviceAddress));
    ui->Oznaceni->setText(
        Text(station_.TagOf(device.PortNumber, device.DeviceAddress).value_or("")));
    ui->SdilenaDatabaze->setText(Text(station_.SharedDatabase));
    const SharedDatabaseInUse& shared = records_.Shared();
    QString inUse = shared.Url ? Text(shared.Url->Text())
                               : QStringLiteral("žádná, záznamy jsou jen v souboru ") +
                                     QString::fromLatin1(HistoryFileName);
    if (!shared.Problem.empty()) {
        inUse += QStringLiteral("\n") + Text(shared.Problem);
    }
    ui->SdilenaVBehu->setText(inUse + QStringLiteral("\nZměna adresy platí od příštího spuštění "
                                                     "programu."));
}

void THistorie::UlozNastaveni() {
    const std::string shared = Trimmed(*ui->SdilenaDatabaze);
    if (!shared.empty()) {
        const auto parsed = ParseDatabaseUrl(shared);
        if (const std::string* why = std::get_if<std::string>(&parsed)) {
            boxes_.Show(BoxKind::Error,
                        QStringLiteral("Adresu sdílené databáze nelze použít: ") + Text(*why),
                        BoxButtons::Ok);
            return;
        }
    }
    // What another program wrote meanwhile (tags of other converters, lines
    // of a newer program) stays.
    StationSettings settings = LoadStationSettings();
    settings.Operator = Trimmed(*ui->Operator);
    settings.Reference = {Trimmed(*ui->ReferencePopis), Trimmed(*ui->ReferenceCislo),
                          Trimmed(*ui->ReferenceCertifikat)};
    const DeviceSettings& device = context_.DeviceSettings;
    settings.Tags[{device.PortNumber, device.DeviceAddress}] = Trimmed(*ui->Oznaceni);
    settings.SharedDatabase = shared;
    if (!SaveStationSettings(settings)) {
        boxes_.Show(BoxKind::Error,
                    QStringLiteral("Nastavení stanice nelze uložit do souboru ") +
                        QString::fromLatin1(StationSettingsFileName) + QStringLiteral("."),
                    BoxButtons::Ok);
        return;
    }
    station_ = settings;
    ui->NastaveniStav->setText(QStringLiteral("Uloženo; platí pro další kalibrace."));
}

void THistorie::ShowPending() {
    History& store = records_.Store();
    if (!store.HasSharedDatabase()) {
        ui->Cekajici->setText(QString());
        return;
    }
    const std::optional<int> pending = store.Pending();
    QString text = pending ? QStringLiteral("Čeká na odeslání: %1").arg(*pending)
                           : QStringLiteral("Čekající záznamy nelze zjistit");
    // The reason can be long: the tooltip holds it, the line stays short.
    if (pending && *pending > 0 && !sendError_.isEmpty()) {
        text += QStringLiteral(" (sdílená databáze nedostupná)");
    }
    ui->Cekajici->setText(text);
    ui->Cekajici->setToolTip(sendError_);
}

void THistorie::SendingFinished(int, const QString& error) {
    sendError_ = error;
    ShowPending();
    ui->OdeslatNyni->setEnabled(true);
}

void THistorie::OdesliNyni() {
    ui->OdeslatNyni->setEnabled(false);
    ui->Cekajici->setText(QStringLiteral("Odesílám…"));
    records_.Store().SendNow();
}

} // namespace zorm
