#include "windows/Graf.h"

#include "data/number_text.h"
#include "ui_Graf.h"
#include "windows/regional.h"

#include <QDateTime>
#include <QGraphicsLineItem>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <QScreen>
#include <QtCharts/QChart>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

namespace zorm {

namespace {

// The spans of the items of "Časový úsek"; the last item is everything kept.
constexpr std::array<std::int64_t, 3> SpanMs = {60'000, 600'000, 3'600'000};
constexpr int Everything = 3;

const std::array<QColor, SensorParamSet::Sensors> SensorColours = {
    QColor(0, 70, 200), QColor(200, 30, 30), QColor(0, 140, 60)};

QPen SensorPen(std::size_t k) {
    QPen pen(SensorColours[k], 1);
    pen.setCosmetic(true);
    return pen;
}

// A value as the main window shows it, or a dash for none.
QString ValueText(float value, ChartValue kind) {
    if (std::isnan(value)) {
        return QStringLiteral("–");
    }
    if (kind == ChartValue::Raw) {
        return QString::number(std::lround(value));
    }
    return QString::fromStdString(fixed(value, 6, 2, SystemDecimalSeparator())) +
           QStringLiteral(" °C");
}

} // namespace

// The three traces, drawn over the chart's plot area. Qt Charts' line series
// join their points across a gap; these lines break where a sensor gave no
// value.
class TraceLayer : public QGraphicsItem {
public:
    // Per sensor, its lines; a line of one point is a dot.
    using Lines = std::array<std::vector<QPolygonF>, SensorParamSet::Sensors>;

    explicit TraceLayer(QGraphicsItem* parent) : QGraphicsItem(parent) {}

    void Set(const QRectF& area, Lines lines) {
        prepareGeometryChange();
        area_ = area;
        lines_ = std::move(lines);
        update();
    }

    QRectF boundingRect() const override { return area_; }

    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        painter->setClipRect(area_);
        painter->setRenderHint(QPainter::Antialiasing);
        for (std::size_t k = 0; k < lines_.size(); ++k) {
            painter->setPen(SensorPen(k));
            for (const QPolygonF& line : lines_[k]) {
                if (line.size() == 1) {
                    painter->drawEllipse(line.front(), 1.5, 1.5);
                } else {
                    painter->drawPolyline(line);
                }
            }
        }
    }

private:
    QRectF area_;
    Lines lines_;
};

TGraf::TGraf(const ReadingHistory& history, QWidget* parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::TGraf>()), history_(history),
      chart_(new QChart), timeAxis_(new QDateTimeAxis), valueAxis_(new QValueAxis) {
    ui->setupUi(this);

    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->legend()->setAlignment(Qt::AlignTop);
    chart_->setMargins(QMargins(4, 4, 4, 4));
    // The scale's numbers with the decimal separator of the regional settings.
    chart_->setLocalizeNumbers(true);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(valueAxis_, Qt::AlignLeft);
    timeAxis_->setTickCount(7);
    // The series name and colour the sensors in the legend; the traces
    // themselves are drawn by the layer.
    for (std::size_t k = 0; k < SensorColours.size(); ++k) {
        auto* series = new QLineSeries;
        series->setName(QStringLiteral("Snímač %1").arg(k + 1));
        series->setPen(SensorPen(k));
        chart_->addSeries(series);
        series->attachAxis(timeAxis_);
        series->attachAxis(valueAxis_);
    }
    ui->GrafView->setChart(chart_);
    ui->GrafView->setRenderHint(QPainter::Antialiasing);
    traceLayer_ = new TraceLayer(chart_);
    traceLayer_->setZValue(100);
    cursor_ = new QGraphicsLineItem(chart_);
    cursor_->setPen(QPen(Qt::darkGray, 1, Qt::DashLine));
    cursor_->setZValue(101);
    cursor_->hide();

    ui->GrafView->viewport()->setMouseTracking(true);
    ui->GrafView->viewport()->installEventFilter(this);
    ui->Rozsah->setCurrentIndex(Everything);

    connect(ui->Rozsah, &QComboBox::currentIndexChanged, this, &TGraf::Prekresli);
    connect(ui->Pauza, &QPushButton::toggled, this, &TGraf::PauzaClick);
    connect(ui->PevneMeritko, &QCheckBox::toggled, this, &TGraf::PevneMeritkoClick);
    connect(ui->MeritkoOd, &QDoubleSpinBox::valueChanged, this, &TGraf::Prekresli);
    connect(ui->MeritkoDo, &QDoubleSpinBox::valueChanged, this, &TGraf::Prekresli);
    // The axes' labels take their room once laid out: the traces follow.
    connect(chart_, &QChart::plotAreaChanged, this, &TGraf::PlaceTraces);
}

TGraf::~TGraf() = default;

void TGraf::UmistiVedle(const QWidget& window) {
    const QScreen* screen = window.screen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    const QRect beside = window.frameGeometry();
    QPoint place = beside.topRight() + QPoint(8, 0);
    if (place.x() + width() > area.right()) {
        place = beside.topLeft() - QPoint(width() + 8, 0);
    }
    place.setX(std::clamp(place.x(), area.left(), std::max(area.left(), area.right() - width())));
    place.setY(std::clamp(place.y(), area.top(), std::max(area.top(), area.bottom() - height())));
    move(place);
}

void TGraf::PassAdded(bool celsius) {
    kind_ = celsius ? ChartValue::Celsius : ChartValue::Raw;
    if (isVisible() && !pausedAt_) {
        Prekresli();
    }
}

std::pair<std::int64_t, std::int64_t> TGraf::Span() const {
    const bool empty = history_.Size() == 0;
    std::int64_t to = QDateTime::currentMSecsSinceEpoch();
    if (pausedAt_) {
        to = *pausedAt_;
    } else if (!empty) {
        to = history_.At(history_.Size() - 1).UnixMs;
    }
    const auto item = static_cast<std::size_t>(ui->Rozsah->currentIndex());
    if (item < SpanMs.size()) {
        return {to - SpanMs[item], to};
    }
    // Everything kept, and at least a second.
    const std::int64_t from = empty ? to : history_.At(0).UnixMs;
    return {std::min(from, to - 1000), to};
}

void TGraf::Prekresli() {
    std::tie(from_, to_) = Span();
    const int columns = std::max(1, static_cast<int>(std::lround(chart_->plotArea().width())));
    float low = std::numeric_limits<float>::infinity();
    float high = -low;
    for (std::size_t k = 0; k < traces_.size(); ++k) {
        traces_[k] = ThinTrace(history_, static_cast<int>(k + 1), kind_, from_, to_, columns);
        for (const TracePoint& point : traces_[k]) {
            low = std::min(low, point.Value);
            high = std::max(high, point.Value);
        }
    }

    if (ui->PevneMeritko->isChecked()) {
        const double a = ui->MeritkoOd->value();
        const double b = ui->MeritkoDo->value();
        valueAxis_->setRange(std::min(a, b), a == b ? a + 1 : std::max(a, b));
    } else if (low <= high) {
        // A flat line gets some room around it: half a degree, or five bits.
        const double room = low < high ? (high - low) / 20.0 : kind_ == ChartValue::Raw ? 5 : 0.5;
        valueAxis_->setRange(low - room, high + room);
        valueAxis_->applyNiceNumbers();
    }
    const bool raw = kind_ == ChartValue::Raw;
    valueAxis_->setTitleText(raw ? QStringLiteral("bit") : QStringLiteral("°C"));
    valueAxis_->setLabelFormat(raw ? QStringLiteral("%.0f") : QStringLiteral("%.2f"));
    timeAxis_->setFormat(to_ - from_ > SpanMs.back() ? QStringLiteral("d.M. HH:mm")
                                                     : QStringLiteral("HH:mm:ss"));
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(from_), QDateTime::fromMSecsSinceEpoch(to_));
    PlaceTraces();
}

double TGraf::XOf(std::int64_t unixMs) const {
    const QRectF area = chart_->plotArea();
    const double span = static_cast<double>(std::max<std::int64_t>(1, to_ - from_));
    return area.left() + static_cast<double>(unixMs - from_) * area.width() / span;
}

void TGraf::PlaceTraces() {
    const QRectF area = chart_->plotArea();
    const double low = valueAxis_->min();
    const double span = valueAxis_->max() - low;
    const auto yOf = [&](float value) {
        return area.bottom() - (static_cast<double>(value) - low) * area.height() / span;
    };
    TraceLayer::Lines lines;
    for (std::size_t k = 0; k < traces_.size(); ++k) {
        for (const TracePoint& point : traces_[k]) {
            if (point.StartsLine || lines[k].empty()) {
                lines[k].emplace_back();
            }
            lines[k].back().append(QPointF(XOf(point.UnixMs), yOf(point.Value)));
        }
    }
    traceLayer_->Set(area, std::move(lines));
    PlaceCursor();
}

void TGraf::PlaceCursor() {
    if (!mouse_) {
        HideCursor();
        return;
    }
    const QRectF area = chart_->plotArea();
    const QPointF at = chart_->mapFromScene(ui->GrafView->mapToScene(mouse_->toPoint()));
    if (!area.contains(at)) {
        HideCursor();
        return;
    }
    const double share = (at.x() - area.left()) / std::max(1.0, area.width());
    UkazKurzor(from_ + std::llround(share * static_cast<double>(to_ - from_)));
}

bool TGraf::UkazKurzor(std::int64_t unixMs) {
    const std::size_t nearest = history_.Nearest(unixMs);
    if (nearest == history_.Size() || history_.At(nearest).UnixMs < from_ ||
        history_.At(nearest).UnixMs > to_) {
        HideCursor();
        return false;
    }
    const ChartSample& sample = history_.At(nearest);
    const QRectF area = chart_->plotArea();
    const double x = XOf(sample.UnixMs);
    cursor_->setLine(x, area.top(), x, area.bottom());
    cursor_->show();
    QString text = QDateTime::fromMSecsSinceEpoch(sample.UnixMs)
                       .toString(QStringLiteral("d.M.yyyy HH:mm:ss.zzz"));
    for (int sensor = 1; sensor <= SensorParamSet::Sensors; ++sensor) {
        text += QStringLiteral("    Snímač %1: ").arg(sensor) +
                ValueText(ValueOf(sample, sensor, kind_), kind_);
    }
    ui->Kurzor->setText(text);
    return true;
}

void TGraf::HideCursor() {
    cursor_->hide();
}

bool TGraf::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->GrafView->viewport()) {
        if (event->type() == QEvent::MouseMove) {
            mouse_ = static_cast<QMouseEvent*>(event)->position();
            PlaceCursor();
        } else if (event->type() == QEvent::Leave) {
            mouse_.reset();
            HideCursor();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TGraf::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Prekresli();
}

void TGraf::PauzaClick(bool paused) {
    if (paused) {
        pausedAt_ = Span().second;
        ui->Pauza->setText(QStringLiteral("Pokračovat"));
    } else {
        pausedAt_.reset();
        ui->Pauza->setText(QStringLiteral("Pozastavit"));
    }
    Prekresli();
}

void TGraf::PevneMeritkoClick(bool fixed) {
    if (fixed) {
        // The fixed scale starts where the automatic one stands.
        const QSignalBlocker blockFrom(ui->MeritkoOd);
        const QSignalBlocker blockTo(ui->MeritkoDo);
        ui->MeritkoOd->setValue(valueAxis_->min());
        ui->MeritkoDo->setValue(valueAxis_->max());
    }
    ui->MeritkoOd->setEnabled(fixed);
    ui->MeritkoDo->setEnabled(fixed);
    Prekresli();
}

} // namespace zorm
