// The menu "Záznam" of the main window: a pass reaches the log and the chart,
// a full disk stops the log after the pass while the measurement goes on,
// the chart's pause, spans, scale and cursor, and the bound of the ring.
#include "tests/windows/main_window_fixture.h"
#include "windows/Graf.h"
#include "windows/measurement_recorder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLocale>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QValueAxis>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <fstream>
#include <iterator>
#include <system_error>

namespace zorm {
namespace {

using test::MainWindowTest;

class Recording : public MainWindowTest {
protected:
    const QString logPath = QDir(QString::fromStdString(scratch.Path().string()))
                                .absoluteFilePath(QStringLiteral("mereni.csv"));
    // What the file dialog offered.
    QString offered;

    MeasurementRecorder& Recorder() { return window.Zaznam(); }

    // "Spustit záznam…", with logPath chosen in the file dialog.
    void StartLog() {
        modal.Drive = [this](QDialog& dialog) {
            auto& files = dynamic_cast<QFileDialog&>(dialog);
            EXPECT_EQ(files.acceptMode(), QFileDialog::AcceptSave);
            offered = files.selectedFiles().value(0);
            files.selectFile(logPath);
            return static_cast<int>(QDialog::Accepted);
        };
        Recorder().SpustitZaznam();
        modal.Drive = nullptr;
    }

    std::string LogBytes() const {
        std::ifstream in(logPath.toStdString(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // The text after the byte order mark.
    QString LogText() const { return QString::fromStdString(LogBytes()); }

    // The status line's text, empty while it is hidden.
    QString Status() {
        if (window.statusBar()->isHidden()) {
            return {};
        }
        return Control<QLabel>("ZaznamStav")->text();
    }

    static QString Decimal() { return QLocale::system().decimalPoint(); }
    static QString Field() { return Decimal() == "," ? ";" : ","; }

    template <typename T> static T* Part(const QWidget* graf, const char* name) {
        T* part = graf->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(part, nullptr) << name;
        return part;
    }
    static QChart* ChartOf(const TGraf* graf) {
        return Part<QChartView>(graf, "GrafView")->chart();
    }
    static QValueAxis* ValueAxis(const TGraf* graf) {
        return qobject_cast<QValueAxis*>(ChartOf(graf)->axes(Qt::Vertical).value(0));
    }
    static QDateTimeAxis* TimeAxis(const TGraf* graf) {
        return qobject_cast<QDateTimeAxis*>(ChartOf(graf)->axes(Qt::Horizontal).value(0));
    }
    static std::int64_t NewestTime(const ReadingHistory& history) {
        return history.At(history.Size() - 1).UnixMs;
    }
};

TEST_F(Recording, APassReachesTheLogAndTheChart) {
    sim::SimLine line = Connect(0, 1);
    // Sensor 1: t = raw / 16 - 1000; sensors 2 and 3 have no calibration.
    context.UserParams.Coefficients.A1(1) = 0.0625;
    context.UserParams.Coefficients.A0(1) = -1000;
    Tick({1, 2, 3});

    StartLog();
    ASSERT_TRUE(Recorder().Logging());
    EXPECT_TRUE(offered.endsWith(".csv"));
    EXPECT_EQ(QFileInfo(offered).absolutePath(), QDir::currentPath());
    EXPECT_TRUE(
        QFileInfo(offered).fileName().contains(QRegularExpression("^zaznam-\\d{8}-\\d{6}\\.csv$")))
        << offered.toStdString();
    EXPECT_EQ(Status(), "Záznam: mereni.csv, řádků: 0");
    Recorder().Graf();
    TGraf* graf = Recorder().ChartWindow();
    ASSERT_NE(graf, nullptr);
    EXPECT_TRUE(graf->isVisible());

    // Sensor 2 stays silent in this pass.
    int reads = 0;
    beforeRead = [&] {
        if (++reads == 1) {
            line.Converter().SetFaultForNext(sim::Fault::Silence, 1);
        }
    };
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    window.BitBtn1Click();
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    beforeRead = nullptr;
    EXPECT_EQ(Labels().value(0), "343" + Decimal() + "75");
    EXPECT_EQ(Labels().value(1), "- - - ");

    const QStringList lines = LogText().split("\r\n");
    ASSERT_EQ(lines.size(), 3) << LogText().toStdString();
    EXPECT_EQ(LogBytes().substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_TRUE(lines[0].startsWith("Čas" + Field() + "Snímač 1 [bit]")) << lines[0].toStdString();
    const QString time = lines[1].section(Field(), 0, 0);
    const QDateTime stamp = QDateTime::fromString(time, Qt::ISODateWithMs);
    EXPECT_GE(stamp.toMSecsSinceEpoch(), before) << time.toStdString();
    EXPECT_LE(stamp.toMSecsSinceEpoch(), after) << time.toStdString();
    EXPECT_EQ(stamp.offsetFromUtc(), QDateTime::currentDateTime().offsetFromUtc());
    const QString f = Field();
    EXPECT_EQ(lines[1].mid(time.size()),
              f + "21500" + f + "343" + Decimal() + "75" + f + f + f + "23500" + f);
    EXPECT_TRUE(lines[2].isEmpty());
    EXPECT_EQ(Status(), "Záznam: mereni.csv, řádků: 1");

    // The chart has it: the cursor reads it out, the scale holds it.
    ASSERT_EQ(Recorder().History().Size(), 1U);
    ASSERT_TRUE(graf->UkazKurzor(after));
    EXPECT_TRUE(Part<QLabel>(graf, "Kurzor")
                    ->text()
                    .endsWith("Snímač 1: 343" + Decimal() + "75 °C    Snímač 2: –    Snímač 3: –"))
        << Part<QLabel>(graf, "Kurzor")->text().toStdString();
    EXPECT_LE(ValueAxis(graf)->min(), 343.75);
    EXPECT_GE(ValueAxis(graf)->max(), 343.75);
    EXPECT_EQ(TimeAxis(graf)->max().toMSecsSinceEpoch(), stamp.toMSecsSinceEpoch());

    // Stopped: the file keeps what it has, the chart goes on.
    const QString logged = LogText();
    Recorder().ZastavitZaznam();
    EXPECT_FALSE(Recorder().Logging());
    EXPECT_EQ(Status(), "");
    window.BitBtn1Click();
    EXPECT_EQ(LogText(), logged);
    EXPECT_EQ(Recorder().History().Size(), 2U);
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(Recording, PassesDuringTheCalibrationWindowReachTheLogAndTheChart) {
    Connect();
    Tick({1});
    StartLog();
    Recorder().Graf();
    window.BitBtn3Click(); // every second
    // The calibration window's own modal loop runs for 2.5 s.
    modal.Drive = [](QDialog& dialog) {
        QTimer::singleShot(2500, &dialog, &QDialog::reject);
        return dialog.exec();
    };
    window.Parametry1Click();
    window.BitBtn5Click();

    const ReadingHistory& history = Recorder().History();
    EXPECT_GE(history.Size(), 2U);
    EXPECT_EQ(Recorder().LogLines(), history.Size());
    EXPECT_EQ(LogText().count("\r\n"), static_cast<qsizetype>(history.Size() + 1));
    EXPECT_EQ(TimeAxis(Recorder().ChartWindow())->max().toMSecsSinceEpoch(), NewestTime(history));
}

TEST_F(Recording, AFileThatCannotBeMadeIsReportedAndNothingIsLogged) {
    Connect();
    const QString missing = logPath + "/chybi.csv";
    modal.Drive = [&](QDialog& dialog) {
        dynamic_cast<QFileDialog&>(dialog).selectFile(missing);
        return static_cast<int>(QDialog::Accepted);
    };
    Recorder().SpustitZaznam();
    EXPECT_FALSE(Recorder().Logging());
    ASSERT_EQ(boxes.Shown.size(), 1U);
    EXPECT_EQ(boxes.Shown[0].Kind, BoxKind::Error);
    EXPECT_TRUE(boxes.Shown[0].Text.startsWith("Soubor záznamu nelze zapsat."));
    EXPECT_TRUE(boxes.Shown[0].Text.contains(QDir::toNativeSeparators(missing)));
    EXPECT_EQ(Status(), "");

    // Cancelling the dialog starts nothing and says nothing.
    modal.Drive = [](QDialog&) { return static_cast<int>(QDialog::Rejected); };
    Recorder().SpustitZaznam();
    EXPECT_FALSE(Recorder().Logging());
    EXPECT_EQ(boxes.Shown.size(), 1U);
}

#ifndef _WIN32
// Lets the files of this process grow to `bytes` only, as a full disk would,
// until the object goes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        const rlimit limit{bytes, old_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
};

TEST_F(Recording, AFullDiskStopsTheLogAfterThePassAndTheMeasurementGoesOn) {
    sim::SimLine line = Connect();
    Tick({1});
    StartLog();
    ASSERT_TRUE(Recorder().Logging());
    window.BitBtn1Click();
    const QString oneLine = LogText();
    {
        // Room for the lines so far and half a line more.
        const FileSizeLimit full(static_cast<rlim_t>(oneLine.toUtf8().size() + 20));
        line.Converter().Config().Raw[0] = 12345;
        window.BitBtn1Click();
    }
    EXPECT_FALSE(Recorder().Logging());
    EXPECT_EQ(Labels().value(0), "12345");
    // The box comes after the pass, so that it holds up no measurement.
    EXPECT_TRUE(boxes.Shown.empty());
    QCoreApplication::processEvents();
    ASSERT_EQ(boxes.Shown.size(), 1U);
    EXPECT_EQ(boxes.Shown[0].Kind, BoxKind::Error);
    const QString& text = boxes.Shown[0].Text;
    EXPECT_TRUE(text.startsWith("Zápis do záznamu se nezdařil, záznam je zastaven."))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QDir::toNativeSeparators(logPath)));
    EXPECT_TRUE(text.endsWith(QString::fromStdString(std::generic_category().message(EFBIG))))
        << text.toStdString();
    // The file ends with its last whole line.
    EXPECT_EQ(LogText(), oneLine);
    EXPECT_EQ(Status(), "");
    EXPECT_TRUE(window.findChild<QAction*>("SpustitZaznam1")->isEnabled());
    EXPECT_FALSE(window.findChild<QAction*>("ZastavitZaznam1")->isEnabled());

    line.Converter().Config().Raw[0] = 11111;
    window.BitBtn1Click();
    EXPECT_EQ(Labels().value(0), "11111");
    EXPECT_EQ(Recorder().History().Size(), 3U);
    EXPECT_EQ(boxes.Shown.size(), 1U);
}
#endif

TEST_F(Recording, ChartPausesFollowsItsSpansKeepsAFixedScaleAndReadsOutTheCursor) {
    sim::SimLine line = Connect();
    Tick({1});
    Recorder().Graf();
    TGraf* graf = Recorder().ChartWindow();
    const ReadingHistory& history = Recorder().History();
    window.BitBtn1Click();
    auto* span = Part<QComboBox>(graf, "Rozsah");
    span->setCurrentIndex(1);
    EXPECT_EQ(TimeAxis(graf)->max().toMSecsSinceEpoch(), NewestTime(history));
    EXPECT_EQ(TimeAxis(graf)->max().toMSecsSinceEpoch() - TimeAxis(graf)->min().toMSecsSinceEpoch(),
              600'000);
    EXPECT_LT(ValueAxis(graf)->max(), 30000);

    // Paused: the passes come in, the chart stands.
    auto* pause = Part<QPushButton>(graf, "Pauza");
    pause->click();
    EXPECT_EQ(pause->text(), "Pokračovat");
    const QDateTime end = TimeAxis(graf)->max();
    QThread::msleep(5);
    line.Converter().Config().Raw[0] = 30000;
    window.BitBtn1Click();
    EXPECT_EQ(history.Size(), 2U);
    EXPECT_EQ(TimeAxis(graf)->max(), end);
    EXPECT_LT(ValueAxis(graf)->max(), 30000);
    pause->click();
    EXPECT_EQ(pause->text(), "Pozastavit");
    EXPECT_EQ(TimeAxis(graf)->max().toMSecsSinceEpoch(), NewestTime(history));
    EXPECT_GE(ValueAxis(graf)->max(), 30000);

    span->setCurrentIndex(0);
    EXPECT_EQ(TimeAxis(graf)->min().msecsTo(TimeAxis(graf)->max()), 60'000);
    // Everything kept: both passes, and at least a second.
    span->setCurrentIndex(3);
    EXPECT_EQ(TimeAxis(graf)->min().toMSecsSinceEpoch(),
              std::min(history.At(0).UnixMs, NewestTime(history) - 1000));

    // A fixed scale starts where the automatic one stood, then holds.
    const double autoLow = ValueAxis(graf)->min();
    Part<QCheckBox>(graf, "PevneMeritko")->click();
    auto* low = Part<QDoubleSpinBox>(graf, "MeritkoOd");
    auto* high = Part<QDoubleSpinBox>(graf, "MeritkoDo");
    EXPECT_TRUE(low->isEnabled());
    EXPECT_EQ(low->value(), autoLow);
    low->setValue(0);
    high->setValue(100);
    line.Converter().Config().Raw[0] = 50000;
    window.BitBtn1Click();
    EXPECT_EQ(ValueAxis(graf)->min(), 0);
    EXPECT_EQ(ValueAxis(graf)->max(), 100);

    // The mouse at the right end of the plot: the newest pass.
    QChartView* view = Part<QChartView>(graf, "GrafView");
    const QRectF area = ChartOf(graf)->plotArea();
    const QPoint at =
        view->mapFromScene(ChartOf(graf)->mapToScene(area.topRight() + QPointF(-1, 5)));
    QMouseEvent move(QEvent::MouseMove, at, view->viewport()->mapToGlobal(at), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &move);
    EXPECT_TRUE(Part<QLabel>(graf, "Kurzor")
                    ->text()
                    .endsWith("Snímač 1: 50000    Snímač 2: –    Snímač 3: –"))
        << Part<QLabel>(graf, "Kurzor")->text().toStdString();
}

TEST_F(Recording, TheRingHoldsItsBoundOverAHundredThousandPasses) {
    sim::SimLine line = Connect();
    Tick({1});
    constexpr int Passes = 100'000;
    for (int n = 0; n < Passes; ++n) {
        line.Converter().Config().Raw[0] = n % 100'000;
        window.BitBtn1Click();
        if (n % 1000 == 0) {
            line.ClearEvents();
            line.Converter().ClearLog();
        }
    }
    const ReadingHistory& history = Recorder().History();
    ASSERT_EQ(history.Capacity(), ReadingHistory::DefaultCapacity);
    ASSERT_EQ(history.Size(), history.Capacity());
    // The newest passes, in order.
    const auto first = static_cast<int>(Passes - history.Size());
    for (std::size_t i = 0; i < history.Size(); ++i) {
        ASSERT_EQ(history.At(i).Raw[0], static_cast<float>(first + static_cast<int>(i))) << i;
    }
}

} // namespace
} // namespace zorm
