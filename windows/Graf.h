// The chart window: the three sensors over time, as the main window shows
// them (°C or raw), from the passes the main window keeps in its reading
// history. It is not modal; the main window goes on working beside it.
//
// The time span ends at the newest pass and follows the passes as they come,
// unless paused; the passes keep coming into the history meanwhile. What is
// drawn is thinned to the plot's width in pixels (data/reading_history.h).
// The mouse over the plot places a cursor on the nearest pass and shows its
// time and values below the chart.
#pragma once

#include "data/reading_history.h"

#include <QPointF>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

class QChart;
class QDateTimeAxis;
class QGraphicsLineItem;
class QValueAxis;

namespace Ui {
class TGraf;
}

namespace zorm {

class TraceLayer;

class TGraf : public QWidget {
    Q_OBJECT

public:
    // `history` outlives the window.
    explicit TGraf(const ReadingHistory& history, QWidget* parent = nullptr);
    ~TGraf() override;

    // A pass has come into the history; `celsius`: the main window showed
    // temperatures in it, and so does the chart from now on.
    void PassAdded(bool celsius);
    // Draws the span again from the history.
    void Prekresli();
    // Places the cursor on the pass nearest to `unixMs` inside the drawn span
    // and shows its time and values; false (no cursor) when there is none.
    bool UkazKurzor(std::int64_t unixMs);

    // Opens beside `window` where the screen has room, else on the screen.
    void UmistiVedle(const QWidget& window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void PauzaClick(bool paused);
    void PevneMeritkoClick(bool fixed);
    // The span to draw, in milliseconds since 1970 UTC, both ends included.
    std::pair<std::int64_t, std::int64_t> Span() const;
    // The traces placed on the plot as it is laid out now.
    void PlaceTraces();
    // The cursor on the pass under the mouse, if the mouse is over the plot.
    void PlaceCursor();
    double XOf(std::int64_t unixMs) const;
    void HideCursor();

    std::unique_ptr<Ui::TGraf> ui;
    const ReadingHistory& history_;

    QChart* chart_;
    QDateTimeAxis* timeAxis_;
    QValueAxis* valueAxis_;
    TraceLayer* traceLayer_;
    QGraphicsLineItem* cursor_;

    ChartValue kind_ = ChartValue::Raw;
    // Where the span ended when the pause was pressed.
    std::optional<std::int64_t> pausedAt_;
    // The span and the thinned traces last drawn.
    std::int64_t from_ = 0;
    std::int64_t to_ = 0;
    std::array<std::vector<TracePoint>, SensorParamSet::Sensors> traces_;
    // The mouse over the plot, in the view's coordinates.
    std::optional<QPointF> mouse_;
};

} // namespace zorm
