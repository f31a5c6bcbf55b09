#include "windows/Reference.h"

#include "data/number_text.h"
#include "records/history.h"
#include "records/record_stamp.h"
#include "records/station_settings.h"
#include "ui_Reference.h"
#include "windows/fitting.h"
#include "windows/message_box.h"
#include "windows/regional.h"

#include <QDate>
#include <QTreeWidgetItem>

#include <utility>

namespace zorm {

namespace {

enum Column { Description, Serial, Certificate, Expanded, Calibrated, Due, State };

Date DateOf(const QDate& date) {
    return Date{std::chrono::year(date.year()),
                std::chrono::month(static_cast<unsigned>(date.month())),
                std::chrono::day(static_cast<unsigned>(date.day()))};
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string Trimmed(const QLineEdit& field) {
    return field.text().trimmed().toStdString();
}

QString Named(const Instrument& instrument) {
    return Q(instrument.Identity.Description) + QStringLiteral(" (výrobní číslo ") +
           Q(instrument.Identity.SerialNumber) + QStringLiteral(")");
}

} // namespace

TReference::TReference(History& history, StationSettings& settings, MessageBoxService& boxes,
                       QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TReference>()), history_(history),
      settings_(settings), boxes_(boxes) {
    ui->setupUi(this);
    ui->Kalibrovano->setDate(QDate::currentDate());
    ui->PlatnostDo->setDate(QDate::currentDate().addYears(1));
    connect(ui->Pouzivat, &QPushButton::clicked, this, &TReference::PouzivatClick);
    connect(ui->Vyradit, &QPushButton::clicked, this, &TReference::VyraditClick);
    connect(ui->Pridat, &QPushButton::clicked, this, &TReference::PridatClick);
    connect(ui->UlozitPodminky, &QPushButton::clicked, this, &TReference::UlozitPodminkyClick);
    connect(ui->Zavrit, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->Seznam, &QTreeWidget::itemSelectionChanged, this, [this] {
        const bool usable = Vybrany() != nullptr;
        ui->Pouzivat->setEnabled(usable);
        ui->Vyradit->setEnabled(usable);
    });
    NactiSeznam(settings_.ReferenceInUse);
    UkazPodminky();
    resize(size().expandedTo(minimumSizeHint()));
    CentreOnScreen(*this);
}

TReference::~TReference() = default;

void TReference::NactiSeznam(const std::string& select) {
    const auto instruments = history_.Instruments();
    if (!instruments) {
        boxes_.Show(BoxKind::Error,
                    QStringLiteral("Seznam referenčních přístrojů nelze načíst: ") +
                        history_.LastError(),
                    BoxButtons::Ok);
    }
    instruments_ = instruments.value_or(std::vector<Instrument>{});
    const Date today = LocalToday();
    const char sep = SystemDecimalSeparator();
    ui->Seznam->clear();
    QTreeWidgetItem* selected = nullptr;
    // The instruments in use first, retired ones after them, each in the
    // order they were added.
    for (const bool retired : {false, true}) {
        for (std::size_t i = 0; i < instruments_.size(); ++i) {
            const Instrument& instrument = instruments_[i];
            if (instrument.Retired != retired) {
                continue;
            }
            const bool inUse = instrument.Uuid == settings_.ReferenceInUse && !retired;
            const bool overdue = Overdue(instrument, today);
            QString state = retired ? QStringLiteral("vyřazen")
                            : inUse ? QStringLiteral("používá se")
                                    : QStringLiteral("platný");
            if (!retired && overdue) {
                state = inUse ? QStringLiteral("používá se, po lhůtě") : QStringLiteral("po lhůtě");
            }
            auto* row = new QTreeWidgetItem(ui->Seznam,
                                            QStringList{Q(instrument.Identity.Description),
                                                        Q(instrument.Identity.SerialNumber),
                                                        Q(instrument.Identity.CertificateNumber),
                                                        Q(general(instrument.Expanded, 6, sep)),
                                                        Q(CzechDateText(instrument.Calibrated)),
                                                        Q(CzechDateText(instrument.Due)), state});
            row->setData(0, Qt::UserRole, static_cast<int>(i));
            for (int column = Description; column <= State; ++column) {
                if (retired) {
                    row->setForeground(column, Qt::gray);
                } else if (overdue && (column == Due || column == State)) {
                    row->setForeground(column, Qt::red);
                }
            }
            if (!select.empty() && instrument.Uuid == select) {
                selected = row;
            }
        }
    }
    for (int column = Description; column <= State; ++column) {
        ui->Seznam->resizeColumnToContents(column);
    }
    if (selected) {
        ui->Seznam->setCurrentItem(selected);
    }
    const bool usable = Vybrany() != nullptr;
    ui->Pouzivat->setEnabled(usable);
    ui->Vyradit->setEnabled(usable);

    QString inUse = QStringLiteral("Používaný referenční přístroj: žádný ze seznamu.");
    for (const Instrument& instrument : instruments_) {
        if (instrument.Uuid == settings_.ReferenceInUse && !instrument.Retired) {
            inUse = QStringLiteral("Používaný referenční přístroj: ") + Named(instrument) +
                    QStringLiteral(", platnost kalibrace do ") + Q(CzechDateText(instrument.Due)) +
                    (Overdue(instrument, today) ? QStringLiteral(" – lhůta uplynula.")
                                                : QStringLiteral("."));
        }
    }
    ui->PouzivanyPristroj->setText(inUse);
}

const Instrument* TReference::Vybrany() const {
    const QTreeWidgetItem* row = ui->Seznam->currentItem();
    if (row == nullptr || !row->isSelected()) {
        return nullptr;
    }
    const Instrument& instrument = instruments_[row->data(0, Qt::UserRole).toUInt()];
    return instrument.Retired ? nullptr : &instrument;
}

bool TReference::UlozNastaveni(const StationSettings& undo) {
    if (SaveStationSettings(settings_)) {
        return true;
    }
    settings_ = undo;
    boxes_.Show(BoxKind::Error,
                QStringLiteral("Nastavení stanice nelze uložit do souboru ") +
                    QString::fromLatin1(StationSettingsFileName) + QStringLiteral("."),
                BoxButtons::Ok);
    return false;
}

void TReference::PouzivatClick() {
    const Instrument* picked = Vybrany();
    if (picked == nullptr) {
        return;
    }
    const StationSettings before = settings_;
    settings_.ReferenceInUse = picked->Uuid;
    UlozNastaveni(before);
    NactiSeznam(settings_.ReferenceInUse);
}

void TReference::VyraditClick() {
    const Instrument* picked = Vybrany();
    if (picked == nullptr) {
        return;
    }
    const Instrument instrument = *picked;
    if (boxes_.Show(BoxKind::Warning,
                    QStringLiteral("Vyřadit referenční přístroj ") + Named(instrument) +
                        QStringLiteral("? Zůstane v seznamu kvůli záznamům, které ho uvádějí, "
                                       "ale už ho nepůjde používat."),
                    BoxButtons::YesNo) != BoxAnswer::Yes) {
        return;
    }
    if (!history_.RetireInstrument(instrument.Uuid)) {
        boxes_.Show(BoxKind::Error,
                    QStringLiteral("Referenční přístroj nelze vyřadit: ") + history_.LastError(),
                    BoxButtons::Ok);
    } else if (settings_.ReferenceInUse == instrument.Uuid) {
        const StationSettings before = settings_;
        settings_.ReferenceInUse.clear();
        UlozNastaveni(before);
    }
    NactiSeznam(instrument.Uuid);
}

void TReference::PridatClick() {
    Instrument instrument;
    instrument.Uuid = NewUuid();
    instrument.Identity = {Trimmed(*ui->Popis), Trimmed(*ui->VyrobniCislo),
                           Trimmed(*ui->CisloListu)};
    bool bad = false;
    // A missing or wrong number is no U at all, which InstrumentProblem names.
    instrument.Expanded = Cislo(*ui->Nejistota, bad).value_or(0);
    instrument.Calibrated = DateOf(ui->Kalibrovano->date());
    instrument.Due = DateOf(ui->PlatnostDo->date());
    if (const auto problem = InstrumentProblem(instrument)) {
        boxes_.Show(BoxKind::Error, Q(*problem), BoxButtons::Ok);
        return;
    }
    if (!history_.AddInstrument(instrument)) {
        boxes_.Show(BoxKind::Error,
                    QStringLiteral("Referenční přístroj nelze uložit: ") + history_.LastError(),
                    BoxButtons::Ok);
        return;
    }
    for (QLineEdit* field : {ui->Popis, ui->VyrobniCislo, ui->CisloListu, ui->Nejistota}) {
        field->clear();
    }
    NactiSeznam(instrument.Uuid);
}

std::optional<double> TReference::Cislo(const QLineEdit& field, bool& bad) const {
    const QString text = field.text().trimmed();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    const auto number = ParseDecimal(text.toStdString());
    bad = bad || !number;
    return number;
}

void TReference::UlozitPodminkyClick() {
    bool badTemperature = false;
    bool badHumidity = false;
    bool badTolerance = false;
    const auto temperature = Cislo(*ui->TeplotaOkoli, badTemperature);
    const auto humidity = Cislo(*ui->Vlhkost, badHumidity);
    const auto tolerance = Cislo(*ui->Tolerance, badTolerance);
    const std::pair<bool, const char*> problems[] = {
        {badTemperature, "Teplota okolí musí být číslo ve °C, nebo zůstat prázdná."},
        {badHumidity || (humidity && (*humidity < 0 || *humidity > 100)),
         "Relativní vlhkost musí být číslo od 0 do 100 %, nebo zůstat prázdná."},
        {badTolerance || (tolerance && *tolerance <= 0),
         "Tolerance musí být kladné číslo ve °C, nebo zůstat prázdná."},
    };
    for (const auto& [bad, text] : problems) {
        if (bad) {
            boxes_.Show(BoxKind::Error, QString::fromUtf8(text), BoxButtons::Ok);
            return;
        }
    }
    const StationSettings before = settings_;
    settings_.AmbientTemperature = temperature;
    settings_.AmbientHumidity = humidity;
    settings_.Tolerance = tolerance;
    UlozNastaveni(before);
    UkazPodminky();
}

void TReference::UkazPodminky() {
    const char sep = SystemDecimalSeparator();
    const std::pair<QLineEdit*, std::optional<double>> fields[] = {
        {ui->TeplotaOkoli, settings_.AmbientTemperature},
        {ui->Vlhkost, settings_.AmbientHumidity},
        {ui->Tolerance, settings_.Tolerance},
    };
    for (const auto& [field, value] : fields) {
        field->setText(value ? Q(general(*value, 8, sep)) : QString());
    }
}

bool ConfirmReferenceInUse(const std::optional<Instrument>& inUse, Date today,
                           MessageBoxService& boxes) {
    return !inUse || !Overdue(*inUse, today) ||
           boxes.Show(BoxKind::Warning, Q(OverdueQuestion(*inUse)), BoxButtons::YesNo) ==
               BoxAnswer::Yes;
}

} // namespace zorm
