#include "windows/assistant_panel.h"

#include "data/context.h"
#include "data/evaluation.h"
#include "data/fit_statistics.h"
#include "data/number_text.h"
#include "windows/fitting.h"
#include "windows/message_box.h"
#include "windows/regional.h"

#include <QDialog>
#include <QDoubleSpinBox>
#include <QGraphicsSimpleTextItem>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

namespace zorm {

namespace {

const QString Closed = QStringLiteral("Asistent ▸");
const QString Opened = QStringLiteral("Asistent ◂");
// The button's place: a free spot right of the window's heading, its right
// edge in line with the two small arrow buttons below it.
const QRect ButtonPlace(622, 12, 81, 25);

const QString Dash = QStringLiteral("–");

// Readings older than the longest window are never judged again.
constexpr double KeptSeconds = LongestStabilityWindow + StabilityGapSeconds;

// Decimals of mean, standard deviation, peak to peak and slope.
constexpr std::array<int, 4> BitDecimals = {1, 2, 0, 2};
constexpr std::array<int, 4> CelsiusDecimals = {3, 4, 4, 4};

struct Look {
    QColor Background;
    QColor Text;
};

Look VerdictLook(Stability verdict) {
    switch (verdict) {
    case Stability::Stable:
        return {QColor(46, 125, 50), Qt::white};
    case Stability::Unstable:
        return {QColor(198, 40, 40), Qt::white};
    case Stability::TooFewData:
        break;
    }
    return {QColor(120, 120, 120), Qt::white};
}

QString Number(double value, int decimals) {
    return QString::fromStdString(fixed(value, 12, decimals, SystemDecimalSeparator()));
}

QString SensorTitle(const QString& what, int sensor) {
    return sensor == 0 ? what : what + QStringLiteral(": snímač č.") + QString::number(sensor);
}

// A small chart in `column`, named `name`, with no legend and small axes.
QChart* AddSmallChart(QVBoxLayout& column, const QString& name) {
    auto* view = new QChartView;
    view->setObjectName(name);
    view->setMinimumHeight(100);
    view->setRenderHint(QPainter::Antialiasing);
    view->setFocusPolicy(Qt::NoFocus);
    column.addWidget(view, 1);
    auto* chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->hide();
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->setBackgroundRoundness(0);
    // The regional decimal separator, and raw readings without a group
    // separator, as everywhere in the program.
    QLocale numbers = QLocale::system();
    numbers.setNumberOptions(QLocale::OmitGroupSeparator);
    chart->setLocale(numbers);
    chart->setLocalizeNumbers(true);
    view->setChart(chart);
    return chart;
}

QValueAxis* SmallAxis(QChart& chart, Qt::Alignment side, const QString& format) {
    auto* axis = new QValueAxis;
    QFont font = axis->labelsFont();
    font.setPointSize(7);
    axis->setLabelsFont(font);
    axis->setLabelFormat(format);
    chart.addAxis(axis, side);
    return axis;
}

QDoubleSpinBox* LimitField(double top, int decimals) {
    auto* field = new QDoubleSpinBox;
    // As wide as the figures above it; a limit of thousands scrolls.
    field->setMaximumWidth(72);
    field->setDecimals(decimals);
    field->setRange(std::pow(10.0, -decimals), top);
    field->setSingleStep(std::pow(10.0, -decimals));
    return field;
}

// A range around `low`..`high` with a little room, and some where the
// values are all the same.
std::pair<double, double> Padded(double low, double high, double least) {
    const double room = std::max((high - low) / 10, least);
    return {low - room, high + room};
}

} // namespace

AssistantPanel::AssistantPanel(const Context& context, MessageBoxService& boxes, QDialog& window)
    : QWidget(&window), context_(context), boxes_(boxes), window_(window),
      button_(new QPushButton(Closed, &window)) {
    setObjectName(QStringLiteral("Asistent"));
    button_->setObjectName(QStringLiteral("AsistentButton"));
    button_->setGeometry(ButtonPlace);
    button_->setAutoDefault(false);
    GrowToText(*button_);
    sinceStart_.start();
    clock_ = [this] { return static_cast<double>(sinceStart_.nsecsElapsed()) / 1e9; };

    Build();
    settings_ = saved_ = LoadAssistantSettings();
    {
        const QSignalBlocker blocks[] = {
            QSignalBlocker(windowSeconds_), QSignalBlocker(slopeCelsius_),
            QSignalBlocker(deviationCelsius_), QSignalBlocker(slopeBits_),
            QSignalBlocker(deviationBits_)};
        const StabilitySettings& stability = settings_.Stability;
        windowSeconds_->setValue(static_cast<int>(stability.WindowSeconds));
        slopeCelsius_->setValue(stability.Celsius.SlopePerMinute);
        deviationCelsius_->setValue(stability.Celsius.StandardDeviation);
        slopeBits_->setValue(stability.Bits.SlopePerMinute);
        deviationBits_->setValue(stability.Bits.StandardDeviation);
    }
    // As the fields hold them: a value of the file beyond a field's range or
    // decimals is taken as the field shows it.
    settings_.Stability = FieldSettings();
    narrow_ = window.width();
    SetOpen(settings_.Open);
    ShowStability();
    ClearFit();
    connect(button_, &QPushButton::clicked, this, &AssistantPanel::Toggle);
}

AssistantPanel::~AssistantPanel() = default;

void AssistantPanel::Build() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 8, 8, 8);
    layout->addWidget(BuildStability(), 3);
    layout->addWidget(BuildFit(), 2);
}

QWidget* AssistantPanel::BuildStability() {
    stabilityBox_ = new QGroupBox;
    stabilityBox_->setObjectName(QStringLiteral("Stabilita"));
    auto* column = new QVBoxLayout(stabilityBox_);

    verdict_ = new QLabel;
    verdict_->setObjectName(QStringLiteral("Verdikt"));
    verdict_->setAlignment(Qt::AlignCenter);
    verdict_->setAutoFillBackground(true);
    QFont large = verdict_->font();
    large.setPixelSize(22);
    large.setBold(true);
    verdict_->setFont(large);
    verdict_->setMinimumHeight(36);
    column->addWidget(verdict_);

    // The figures in bits and in °C, and under them the limits they are
    // held to.
    auto* figures = new QGridLayout;
    figures->setVerticalSpacing(1);
    figures->addWidget(new QLabel(QStringLiteral("[bit]")), 0, 1, Qt::AlignRight);
    figures->addWidget(new QLabel(QStringLiteral("[°C]")), 0, 2, Qt::AlignRight);
    const std::array<QString, 4> names = {
        QStringLiteral("Průměr"), QStringLiteral("Směrodatná odchylka"), QStringLiteral("Rozkmit"),
        QStringLiteral("Směrnice [/min]")};
    const std::array<const char*, 2> units = {"Bit", "Celsius"};
    const std::array<const char*, 4> kinds = {"Prumer", "Odchylka", "Rozkmit", "Smernice"};
    for (std::size_t row = 0; row < names.size(); ++row) {
        figures->addWidget(new QLabel(names[row]), static_cast<int>(row) + 1, 0);
        for (std::size_t unit = 0; unit < units.size(); ++unit) {
            auto* value = new QLabel;
            value->setObjectName(QString::fromLatin1(kinds[row]) +
                                 QString::fromLatin1(units[unit]));
            value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            figures->addWidget(value, static_cast<int>(row) + 1, static_cast<int>(unit) + 1);
            figures_[unit][row] = value;
        }
    }
    slopeBits_ = LimitField(10000, 1);
    slopeBits_->setObjectName(QStringLiteral("MezSmerniceBit"));
    slopeCelsius_ = LimitField(10, 4);
    slopeCelsius_->setObjectName(QStringLiteral("MezSmerniceCelsius"));
    deviationBits_ = LimitField(10000, 1);
    deviationBits_->setObjectName(QStringLiteral("MezOdchylkyBit"));
    deviationCelsius_ = LimitField(10, 4);
    deviationCelsius_->setObjectName(QStringLiteral("MezOdchylkyCelsius"));
    figures->setRowMinimumHeight(5, 4);
    figures->addWidget(new QLabel(QStringLiteral("Mez směrnice [/min]")), 6, 0);
    figures->addWidget(slopeBits_, 6, 1);
    figures->addWidget(slopeCelsius_, 6, 2);
    figures->addWidget(new QLabel(QStringLiteral("Mez odchylky")), 7, 0);
    figures->addWidget(deviationBits_, 7, 1);
    figures->addWidget(deviationCelsius_, 7, 2);
    figures->setColumnStretch(0, 1);
    column->addLayout(figures);

    auto* window = new QHBoxLayout;
    window->addWidget(new QLabel(QStringLiteral("Okno")));
    windowSeconds_ = new QSpinBox;
    windowSeconds_->setObjectName(QStringLiteral("Okno"));
    windowSeconds_->setRange(ShortestStabilityWindow, LongestStabilityWindow);
    windowSeconds_->setSuffix(QStringLiteral(" s"));
    window->addWidget(windowSeconds_);
    window->addStretch(1);
    count_ = new QLabel;
    count_->setObjectName(QStringLiteral("Odecty"));
    window->addWidget(count_);
    column->addLayout(window);

    readingsChart_ = AddSmallChart(*column, QStringLiteral("GrafOdectu"));
    timeAxis_ = SmallAxis(*readingsChart_, Qt::AlignBottom, QStringLiteral("%.0f s"));
    timeAxis_->setTickCount(4);
    // Three labels: more are cut to "..." in the chart's small height.
    readingAxis_ = SmallAxis(*readingsChart_, Qt::AlignLeft, QStringLiteral("%.0f"));
    readingAxis_->setTickCount(3);
    readingsLine_ = new QLineSeries;
    QPen pen(QColor(0, 70, 200), 1);
    pen.setCosmetic(true);
    readingsLine_->setPen(pen);
    readingsChart_->addSeries(readingsLine_);
    readingsLine_->attachAxis(timeAxis_);
    readingsLine_->attachAxis(readingAxis_);

    connect(windowSeconds_, &QSpinBox::valueChanged, this, &AssistantPanel::SettingsEdited);
    for (QDoubleSpinBox* field : {slopeCelsius_, deviationCelsius_, slopeBits_, deviationBits_}) {
        connect(field, &QDoubleSpinBox::valueChanged, this, &AssistantPanel::SettingsEdited);
    }
    return stabilityBox_;
}

QWidget* AssistantPanel::BuildFit() {
    fitBox_ = new QGroupBox;
    fitBox_->setObjectName(QStringLiteral("KvalitaFitu"));
    auto* column = new QVBoxLayout(fitBox_);
    fitS_ = new QLabel;
    fitS_->setObjectName(QStringLiteral("FitS"));
    fitLargest_ = new QLabel;
    fitLargest_->setObjectName(QStringLiteral("FitMax"));
    fitU_ = new QLabel;
    fitU_->setObjectName(QStringLiteral("FitU"));
    column->addWidget(fitS_);
    column->addWidget(fitLargest_);
    column->addWidget(fitU_);

    fitChart_ = AddSmallChart(*column, QStringLiteral("GrafOdchylek"));
    trueAxis_ = SmallAxis(*fitChart_, Qt::AlignBottom, QStringLiteral("%.0f °C"));
    deviationAxis_ = SmallAxis(*fitChart_, Qt::AlignLeft, QStringLiteral("%.3f"));
    zero_ = new QLineSeries;
    zero_->setName(QStringLiteral("Nula"));
    zero_->setPen(QPen(Qt::gray, 1, Qt::DashLine));
    deviations_ = new QScatterSeries;
    deviations_->setName(QStringLiteral("Odchylky"));
    deviations_->setMarkerSize(7);
    deviations_->setColor(QColor(0, 70, 200));
    deviations_->setBorderColor(QColor(0, 70, 200));
    standingOut_ = new QScatterSeries;
    standingOut_->setName(QStringLiteral("Odlehlé body"));
    standingOut_->setMarkerSize(10);
    standingOut_->setColor(QColor(198, 40, 40));
    standingOut_->setBorderColor(QColor(198, 40, 40));
    for (QXYSeries* series : std::initializer_list<QXYSeries*>{zero_, deviations_, standingOut_}) {
        fitChart_->addSeries(series);
        series->attachAxis(trueAxis_);
        series->attachAxis(deviationAxis_);
    }
    connect(fitChart_, &QChart::plotAreaChanged, this, &AssistantPanel::PlaceNumbers);

    outliers_ = new QLabel;
    outliers_->setObjectName(QStringLiteral("Odlehle"));
    outliers_->setWordWrap(true);
    column->addWidget(outliers_);
    return fitBox_;
}

void AssistantPanel::SetClock(std::function<double()> clock) {
    clock_ = std::move(clock);
}

void AssistantPanel::Toggle() {
    SetOpen(!settings_.Open);
    Save();
}

void AssistantPanel::SetOpen(bool open) {
    settings_.Open = open;
    const int height = window_.height();
    if (open) {
        narrow_ = window_.width();
        setGeometry(narrow_, 0, Width, height);
        window_.resize(narrow_ + Width, height);
        show();
        ShowStability();
        if (window_.isVisible()) {
            // A window that no longer fits the screen moves onto it.
            PlaceOnScreen(window_, window_.pos());
        }
    } else {
        hide();
        // Closed, the panel takes no room: the margin right of the window's
        // own controls, which a control growing to its text keeps, stays
        // as designed (windows/fitting.h).
        setGeometry(0, 0, 0, 0);
        window_.resize(narrow_, height);
    }
    ShowText(*button_, open ? Opened : Closed);
}

StabilitySettings AssistantPanel::FieldSettings() const {
    StabilitySettings stability;
    stability.WindowSeconds = windowSeconds_->value();
    stability.Celsius = {slopeCelsius_->value(), deviationCelsius_->value()};
    stability.Bits = {slopeBits_->value(), deviationBits_->value()};
    return stability;
}

void AssistantPanel::SettingsEdited() {
    settings_.Stability = FieldSettings();
    Judge(judgedAt_);
}

void AssistantPanel::Remember() {
    if (settings_ != saved_) {
        Save();
    }
}

void AssistantPanel::Save() {
    if (SaveAssistantSettings(settings_)) {
        saved_ = settings_;
    } else {
        boxes_.Show(BoxKind::Error,
                    QStringLiteral("Nastavení asistenta nelze uložit do souboru Stanice.ini"),
                    BoxButtons::Ok);
    }
}

std::optional<Cubic> AssistantPanel::InForce(int sensor) const {
    if (sensor < 1 || sensor > SensorParamSet::Sensors ||
        !HasCalibration(context_.UserParams.Coefficients, sensor)) {
        return std::nullopt;
    }
    return CubicOf(context_.UserParams.Coefficients, sensor);
}

void AssistantPanel::CollectionStarted(int sensor) {
    sensor_ = sensor;
    readings_.clear();
    for (std::optional<PointStability>& point : points_[static_cast<std::size_t>(sensor - 1)]) {
        point.reset();
    }
    judgement_ = {};
    ShowStability();
}

void AssistantPanel::Tick(int sensor, std::optional<std::int32_t> raw) {
    const double now = clock_();
    if (sensor != sensor_) {
        // The collection goes on for another sensor.
        sensor_ = sensor;
        readings_.clear();
    }
    if (raw) {
        readings_.push_back({now, *raw});
    }
    const auto old = std::find_if(readings_.begin(), readings_.end(), [&](const TimedReading& r) {
        return r.Seconds >= now - KeptSeconds;
    });
    readings_.erase(readings_.begin(), old);
    Judge(now);
}

void AssistantPanel::Judge(double now) {
    judgedAt_ = now;
    judgement_ = JudgeStability(readings_, now, settings_.Stability, InForce(sensor_));
    if (settings_.Open) {
        ShowStability();
    }
}

void AssistantPanel::PointTaken(int sensor, int slot) {
    if (sensor != sensor_) {
        sensor_ = sensor;
        readings_.clear();
    }
    Judge(clock_());
    if (slot >= 1 && slot <= SensorParamSet::Points) {
        points_[static_cast<std::size_t>(sensor - 1)][static_cast<std::size_t>(slot - 1)] =
            PointStability{judgement_, settings_.Stability};
    }
}

void AssistantPanel::PointDropped(int sensor, int slot) {
    if (slot >= 1 && slot <= SensorParamSet::Points) {
        points_[static_cast<std::size_t>(sensor - 1)][static_cast<std::size_t>(slot - 1)].reset();
    }
}

const std::optional<PointStability>& AssistantPanel::StabilityAtPoint(int sensor, int slot) const {
    static const std::optional<PointStability> none;
    if (sensor < 1 || sensor > SensorParamSet::Sensors || slot < 1 ||
        slot > SensorParamSet::Points) {
        return none;
    }
    return points_[static_cast<std::size_t>(sensor - 1)][static_cast<std::size_t>(slot - 1)];
}

void AssistantPanel::ShowStability() {
    stabilityBox_->setTitle(SensorTitle(QStringLiteral("Stabilita odečtů"), sensor_));
    const Stability verdict = judgement_.Verdict;
    verdict_->setText(QString::fromUtf8(StabilityText(verdict)));
    const Look look = VerdictLook(verdict);
    QPalette palette = verdict_->palette();
    palette.setColor(QPalette::Window, look.Background);
    palette.setColor(QPalette::WindowText, look.Text);
    verdict_->setPalette(palette);

    // The unit the verdict is taken in stands out.
    const std::array<const std::optional<WindowStatistics>*, 2> units = {&judgement_.Bits,
                                                                         &judgement_.Celsius};
    const std::array<const std::array<int, 4>*, 2> decimals = {&BitDecimals, &CelsiusDecimals};
    const std::size_t judged = judgement_.Celsius ? 1 : 0;
    for (std::size_t unit = 0; unit < units.size(); ++unit) {
        const std::optional<WindowStatistics>& s = *units[unit];
        const std::array<double, 4> values =
            s ? std::array<double, 4>{s->Mean, s->StandardDeviation, s->PeakToPeak,
                                      s->SlopePerMinute}
              : std::array<double, 4>{};
        for (std::size_t row = 0; row < values.size(); ++row) {
            QLabel& label = *figures_[unit][row];
            label.setText(s ? Number(values[row], (*decimals[unit])[row]) : Dash);
            QFont font = label.font();
            font.setBold(s && unit == judged);
            label.setFont(font);
        }
    }
    const int n = judgement_.Bits ? judgement_.Bits->Count : 0;
    count_->setText(QStringLiteral("odečtů v okně: %1").arg(n));
    ShowReadingsChart(judgement_.Celsius ? InForce(sensor_) : std::nullopt);
}

void AssistantPanel::ShowReadingsChart(const std::optional<Cubic>& celsius) {
    const double w = settings_.Stability.WindowSeconds;
    std::vector<double> times;
    std::vector<std::int32_t> raws;
    for (const TimedReading& r : readings_) {
        if (r.Seconds >= judgedAt_ - w && r.Seconds <= judgedAt_) {
            times.push_back(r.Seconds - judgedAt_);
            raws.push_back(r.Raw);
        }
    }
    std::optional<std::vector<double>> temperatures;
    if (celsius) {
        temperatures = FittedTemperatures(*celsius, raws);
    }
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(raws.size()));
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (std::size_t i = 0; i < raws.size(); ++i) {
        const double value = temperatures ? (*temperatures)[i] : raws[i];
        low = std::min(low, value);
        high = std::max(high, value);
        points.append(QPointF(times[i], value));
    }
    readingsLine_->replace(points);
    timeAxis_->setRange(-w, 0);
    const QString format = temperatures ? QStringLiteral("%.3f") : QStringLiteral("%.0f");
    if (readingAxis_->labelFormat() != format) {
        readingAxis_->setLabelFormat(format);
    }
    if (low <= high) {
        const auto [from, to] = Padded(low, high, temperatures ? 0.001 : 1);
        readingAxis_->setRange(from, to);
    }
}

void AssistantPanel::Fitted(int sensor, std::span<const CalibrationPoint> points,
                            const Cubic& cubic, std::optional<double> referenceExpanded) {
    ClearFit();
    const std::vector<FitDeviation> rows = FitDeviations(cubic, points);
    const std::optional<float> largest = LargestDeviation(rows);
    if (!largest) {
        return;
    }
    fitSensor_ = sensor;
    fitBox_->setTitle(SensorTitle(QStringLiteral("Kvalita fitu"), sensor));
    const char sep = SystemDecimalSeparator();
    const int n = static_cast<int>(points.size());
    if (const std::optional<double> s = ResidualStandardDeviation(rows)) {
        fitS_->setText(QStringLiteral("s = %1 °C (ν = %2)")
                           .arg(QString::fromStdString(general(*s, 3, sep)))
                           .arg(n - MinFitPoints));
    } else {
        fitS_->setText(QStringLiteral("s: není (%1 body, ν = 0)").arg(n));
    }
    const auto first = std::find_if(rows.begin(), rows.end(), [&](const FitDeviation& row) {
        return std::fabs(row.Deviation) == std::fabs(*largest);
    });
    fitLargest_->setText(QStringLiteral("Největší odchylka: %1 °C (bod %2)")
                             .arg(QString::fromStdString(fixed(*largest, 6, 4, sep)))
                             .arg(first - rows.begin() + 1));
    // The largest expanded uncertainty over the calibrated range, as the
    // certificate will state it; without a reference instrument picked, the
    // fit's own part.
    if (const auto u = EstimateUncertainty(points, cubic, referenceExpanded.value_or(0))) {
        fitU_->setText(QStringLiteral("U = %1 °C (k = 2, %2)")
                           .arg(QString::fromStdString(UncertaintyText(u->Stated, sep)))
                           .arg(referenceExpanded ? QStringLiteral("reference %1 °C")
                                                        .arg(QString::fromStdString(
                                                            general(*referenceExpanded, 3, sep)))
                                                  : QStringLiteral("bez referenčního přístroje")));
    }

    const std::vector<Outlier> outliers = FindOutliers(points, cubic);
    QStringList lines;
    for (const Outlier& outlier : outliers) {
        lines.append(QString::fromStdString(OutlierLine(outlier, sep)));
    }
    if (n < MinOutlierPoints) {
        lines.append(QStringLiteral("Odlehlé body se posuzují od %1 bodů.").arg(MinOutlierPoints));
    } else if (outliers.empty()) {
        lines.append(QStringLiteral("Žádný bod se neodchyluje o více než 3 s."));
    }
    outliers_->setText(lines.join(QLatin1Char('\n')));

    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    double lowest = low;
    double highest = high;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const QPointF point(points[k].TrueTemp, rows[k].Deviation);
        const bool out = std::any_of(outliers.begin(), outliers.end(), [&](const Outlier& o) {
            return o.Point == static_cast<int>(k) + 1;
        });
        (out ? standingOut_ : deviations_)->append(point);
        auto* number = new QGraphicsSimpleTextItem(QString::number(k + 1), fitChart_);
        QFont font = number->font();
        font.setPointSize(7);
        number->setFont(font);
        number->setBrush(out ? QColor(198, 40, 40) : QColor(Qt::black));
        number->setData(0, point);
        numbers_.push_back(number);
        low = std::min(low, point.x());
        high = std::max(high, point.x());
        lowest = std::min(lowest, point.y());
        highest = std::max(highest, point.y());
    }
    const auto [left, right] = Padded(low, high, 1);
    trueAxis_->setRange(left, right);
    trueAxis_->applyNiceNumbers();
    zero_->replace(QList<QPointF>{QPointF(trueAxis_->min(), 0), QPointF(trueAxis_->max(), 0)});
    const auto [bottom, top] = Padded(std::min(lowest, 0.0), std::max(highest, 0.0), 0.001);
    deviationAxis_->setRange(bottom, top);
    deviationAxis_->applyNiceNumbers();
    PlaceNumbers();
}

void AssistantPanel::Unfitted(int sensor) {
    if (sensor == fitSensor_) {
        ClearFit();
    }
}

void AssistantPanel::ClearFit() {
    fitSensor_ = 0;
    fitBox_->setTitle(SensorTitle(QStringLiteral("Kvalita fitu"), 0));
    fitS_->setText(QStringLiteral("Ukáže se po regresním výpočtu."));
    fitLargest_->clear();
    fitU_->clear();
    outliers_->clear();
    deviations_->clear();
    standingOut_->clear();
    zero_->clear();
    for (QGraphicsSimpleTextItem* number : numbers_) {
        delete number;
    }
    numbers_.clear();
}

void AssistantPanel::PlaceNumbers() {
    // Each number right of and above its point.
    for (QGraphicsSimpleTextItem* number : numbers_) {
        const QPointF at = fitChart_->mapToPosition(number->data(0).toPointF(), deviations_);
        number->setPos(at + QPointF(4, -number->boundingRect().height() - 1));
    }
}

} // namespace zorm
