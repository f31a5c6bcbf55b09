// The calibration assistant: a panel right of the calibration window's
// controls, shown and hidden by the window's button "Asistent ▸", which
// widens the window by the panel and narrows it back. It advises and never
// blocks:
//
// - the stability of the sensor being collected, from the readings of the
//   window's tick over the last W seconds (data/reading_stability.h): the
//   verdict in large letters, mean, standard deviation, peak to peak and
//   slope in bits and, with a calibration in force in UserParams, in °C, and
//   a small chart of the readings; W and the limits are set in the panel;
// - the quality of the last fit (data/fit_statistics.h): s, the largest
//   deviation and a chart of the deviations against the true temperature
//   with the points numbered as in the window's columns, the points that
//   stand out marked and named under it.
//
// Whether the panel is open, W and the limits are kept in Stanice.ini in the
// data folder (records/assistant_settings.h). The statistics of the window at
// the moment "Zapiš teplotu" fixed a point's reading stay with the point
// (StabilityAtPoint), whether the panel is open or not.
#pragma once

#include "data/calibration.h"
#include "data/reading_stability.h"
#include "records/assistant_settings.h"

#include <QElapsedTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

class QChart;
class QDialog;
class QDoubleSpinBox;
class QGraphicsSimpleTextItem;
class QGroupBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QScatterSeries;
class QSpinBox;
class QValueAxis;

namespace zorm {

struct Context;
class MessageBoxService;

class AssistantPanel : public QWidget {
    Q_OBJECT

public:
    // How wide the open panel makes the window.
    static constexpr int Width = 320;

    // Puts the button "Asistent ▸" on `window`, right of the window's
    // controls, and the panel beside them, open when it was open the last
    // time (the window is then made wider at once). `window` is laid out as
    // designed and grown to its texts before.
    AssistantPanel(const Context& context, MessageBoxService& boxes, QDialog& window);
    ~AssistantPanel() override;

    // Seconds on a clock that does not jump; by default the time since the
    // panel was made. The tests put in the simulator's virtual clock.
    void SetClock(std::function<double()> clock);

    bool IsOpen() const { return settings_.Open; }
    // The button: opens the panel (the window widens to the right) or closes
    // it (the window narrows back), and remembers which.
    void Toggle();
    // Remembers W and the limits when they changed; the window calls it when
    // it closes.
    void Remember();

    // What the calibration window tells the panel:
    // a new collection of `sensor`: its readings and its points'
    // statistics so far are gone;
    void CollectionStarted(int sensor);
    // a tick of the collection of `sensor` took `raw`, or failed (nothing);
    void Tick(int sensor, std::optional<std::int32_t> raw);
    // "Zapiš teplotu" fixed the reading of point `slot` (1..30) of `sensor`:
    // the statistics of the window now stay with that point;
    void PointTaken(int sensor, int slot);
    // the regression step dropped the point in progress at `slot`;
    void PointDropped(int sensor, int slot);
    // a fit of `sensor` through `points` gave `cubic`; `referenceExpanded`:
    // U (k = 2) of the reference instrument in use, where one is picked;
    void Fitted(int sensor, std::span<const CalibrationPoint> points, const Cubic& cubic,
                std::optional<double> referenceExpanded);
    // the working copy of `sensor` changed, so its fit no longer stands.
    void Unfitted(int sensor);

    // The statistics with which point `slot` (1..30) of `sensor` was taken
    // in this opening of the window; nothing for a point not taken so (a
    // stored one, one of an earlier collection) and outside the slots.
    const std::optional<PointStability>& StabilityAtPoint(int sensor, int slot) const;

    // The judgement the panel shows, of the last tick.
    const StabilityJudgement& Judgement() const { return judgement_; }

private:
    void Build();
    QWidget* BuildStability();
    QWidget* BuildFit();
    void SetOpen(bool open);
    // W and the limits as the panel's fields show them.
    StabilitySettings FieldSettings() const;
    void SettingsEdited();
    void Save();
    std::optional<Cubic> InForce(int sensor) const;
    // Judges the readings at `now` and, when the panel is open, shows it.
    void Judge(double now);
    void ShowStability();
    void ShowReadingsChart(const std::optional<Cubic>& celsius);
    void ClearFit();
    void PlaceNumbers();

    const Context& context_;
    MessageBoxService& boxes_;
    QDialog& window_;
    QPushButton* button_;

    AssistantSettings settings_;
    // What Stanice.ini holds, as far as this panel knows.
    AssistantSettings saved_;
    QElapsedTimer sinceStart_;
    std::function<double()> clock_;
    // The window's width with the panel closed.
    int narrow_ = 0;

    // The readings of the sensor being collected, the last 300 s of them.
    int sensor_ = 0;
    std::vector<TimedReading> readings_;
    double judgedAt_ = 0;
    StabilityJudgement judgement_;
    std::array<std::array<std::optional<PointStability>, SensorParamSet::Points>,
               SensorParamSet::Sensors>
        points_;

    // Stability.
    QGroupBox* stabilityBox_ = nullptr;
    QLabel* verdict_ = nullptr;
    // Mean, standard deviation, peak to peak, slope; in bits and in °C.
    std::array<std::array<QLabel*, 4>, 2> figures_{};
    QLabel* count_ = nullptr;
    QChart* readingsChart_ = nullptr;
    QLineSeries* readingsLine_ = nullptr;
    QValueAxis* timeAxis_ = nullptr;
    QValueAxis* readingAxis_ = nullptr;
    QSpinBox* windowSeconds_ = nullptr;
    QDoubleSpinBox* slopeCelsius_ = nullptr;
    QDoubleSpinBox* deviationCelsius_ = nullptr;
    QDoubleSpinBox* slopeBits_ = nullptr;
    QDoubleSpinBox* deviationBits_ = nullptr;

    // Fit quality.
    QGroupBox* fitBox_ = nullptr;
    int fitSensor_ = 0;
    QLabel* fitS_ = nullptr;
    QLabel* fitLargest_ = nullptr;
    QLabel* fitU_ = nullptr;
    QLabel* outliers_ = nullptr;
    QChart* fitChart_ = nullptr;
    QScatterSeries* deviations_ = nullptr;
    QScatterSeries* standingOut_ = nullptr;
    QLineSeries* zero_ = nullptr;
    QValueAxis* trueAxis_ = nullptr;
    QValueAxis* deviationAxis_ = nullptr;
    std::vector<QGraphicsSimpleTextItem*> numbers_;
};

} // namespace zorm
