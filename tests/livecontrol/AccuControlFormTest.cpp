// The live control window fed the way the service manager feeds it.
#include <gtest/gtest.h>

#include "livecontrol/Accuctrlform.h"
#include "livecontrol/StepListModel.h"

#include "database/Datamodule.h"

#include "tests/support/WindowParts.h"

#include <QImage>
#include <QCoreApplication>
#include <QLabel>
#include <QTableView>

namespace {

class AccuControlFormTest : public ::testing::Test {
protected:
    // No step rows: the step grid is the main window's and the end-to-end tests' concern.
    AccuControlFormTest() : form([](StepRecord&) { return false; }, nullptr) {}

    // The status line's whole text: it may be cut, the full text is its tool tip then.
    QString Status() const
    {
        return statusLine->toolTip().isEmpty() ? statusLine->text() : statusLine->toolTip();
    }

    TAccuControlForm form;
    QLabel* const statusLine = Part<QLabel>(form, "StatusLabel");
    QLabel* const percent = Part<QLabel>(form, "PercentLabel");
    TPie* const pie = Part<TPie>(form, "PercentPie");
    TCircleShape* const ring = Part<TCircleShape>(form, "HundredPercentCircle");
    TPerformanceGraph* const chart = Part<TPerformanceGraph>(form, "pf");
    TArcGauge* const voltageGauge = Part<TArcGauge>(form, "VoltageGauge");
    TArcGauge* const currentGauge = Part<TArcGauge>(form, "CurrentGauge");
    QLabel* const capacity = Part<QLabel>(form, "CapacityLabel");
    QLabel* const caption = Part<QLabel>(form, "TerminalLabel");
    QLabel* const voltageText = Part<QLabel>(form, "VPanel");
    QLabel* const currentText = Part<QLabel>(form, "APanel");
    QLabel* const timeText = Part<QLabel>(form, "TimePanel");
};

}  // namespace

TEST_F(AccuControlFormTest, CapacityPieRingAndColoursBelowAboveAndExactlyNominalAndWhileWaiting)
{
    const QColor red(255, 0, 0), maroon(128, 0, 0), lime(0, 255, 0), green(0, 128, 0);
    // Nominal 0 hides the group instead of dividing.
    form.SetStepFunction(Laden);
    form.ShowCapacity(700);
    EXPECT_TRUE(percent->isHidden());
    form.SetNominalCapacity(1000);
    struct Case {
        int function, capacity;
        const char* percent;
        int startAngle, span;   // span < 0: not checked
        bool ringFilled;
        QColor pie;
    };
    // Exactly nominal is not over: the whole disc, not a one-degree sliver.
    // An unknown step function (7) keeps the colours.
    const Case cases[] = {{Laden, 600, "60%", -127, 217, false, lime},
                          {Entladen, 1250, "125%", -1, 91, true, maroon},
                          {Laden, 1000, "100%", -271, 360, false, lime},
                          {Laden, 1001, "100%", 0, -1, true, green},
                          {Entladen, 100, "10%", 0, -1, false, red},
                          {7, 300, "30%", 0, -1, false, red}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity);
        form.SetStepFunction(c.function);
        form.ShowCapacity(c.capacity);
        EXPECT_EQ(percent->text(), c.percent);
        EXPECT_FALSE(pie->isHidden());
        if (c.span >= 0) {
            EXPECT_EQ(std::make_pair(pie->StartAngle(), pie->PaintedSpan()),
                      std::make_pair(c.startAngle, c.span));
        }
        EXPECT_EQ(ring->Filled(), c.ringFilled);
        EXPECT_EQ(pie->BrushColor(), c.pie);
    }
    EXPECT_EQ(form.PointColor(), red);
    form.SetStepFunction(Entladen);
    form.ShowCapacity(1250);
    EXPECT_EQ(ring->BrushColor(), red);

    // A wait step hides the group and paints blue points.
    form.SetStepFunction(Laden);
    form.ShowCapacity(500);
    form.AddVoltagePoint(6.0);   // takes the colour of the previous tick
    form.SetStepFunction(Warten);
    form.ShowCapacity(500);
    EXPECT_TRUE(percent->isHidden());
    EXPECT_TRUE(ring->isHidden());
    form.AddVoltagePoint(6.0);
    ASSERT_EQ(chart->Points().size(), 2u);
    EXPECT_EQ(std::make_tuple(chart->Points()[0].color, chart->Points()[1].color, chart->Points()[1].height),
              std::make_tuple(lime, QColor(0, 0, 255), 50));   // 6 V of a 12 V scale
}

// The gauges' full scale follows the battery's nominal voltage and the
// largest current, each limit itself still on the smaller scale; a step
// without a duration yet shows 0.
TEST_F(AccuControlFormTest, GaugeScalesFollowTheBatteryAndAStepWithoutDurationShowsZero)
{
    const std::pair<double, double> voltages[] = {{1.2, 8},    {6.0, 8},  {6.01, 12}, {10.0, 12},
                                                  {10.01, 20}, {18.0, 20}, {18.01, 48}};
    for (const auto &[nominal, end] : voltages) {
        form.SetupService(7, "Lumo an COM1: Akku 3", nominal, 0.5);
        EXPECT_EQ(voltageGauge->End(), end) << nominal << " V";
    }
    const std::tuple<double, double, unsigned> currents[] = {{0.59, 0.6, 1}, {0.6, 2, 0}};
    for (const auto &[maximum, end, digits] : currents) {
        TAccuControlForm page([](StepRecord &) { return false; }, nullptr);
        page.SetupService(7, "Lumo an COM1: Akku 3", 6, maximum);
        const TArcGauge* gauge = Part<TArcGauge>(page, "CurrentGauge");
        EXPECT_EQ(std::make_pair(gauge->End(), gauge->Digits()), std::make_pair(end, digits))
            << maximum << " A";
    }
    EXPECT_EQ(StepListModel::DurationDisplay(0), "0");
    EXPECT_EQ(StepListModel::DurationDisplay(3725), "1:2:5");
}

// A silent charger greys the readings; a failing write is said beside it; the
// caption stays clear of the capacity text at the default size.
TEST_F(AccuControlFormTest, NoAnswerAndWriteFailureAreShownUntilEachEnds)
{
    form.resize(287, 201);
    form.show();
    form.SetupService(7, "Ohmrida-Lader an COM1: Akku 151", 6, 0.5);
    form.SetNominalCapacity(1000);
    form.SetStepFunction(Laden);
    form.ShowCapacity(600);
    form.ShowVoltage(5.9);
    const int capacityTextLeft = capacity->geometry().right() + 1
                                 - capacity->fontMetrics().horizontalAdvance(capacity->text());
    EXPECT_LT(caption->geometry().right(), capacityTextLeft);
    EXPECT_EQ(caption->toolTip().isEmpty(), caption->text() == "Ohmrida-Lader an COM1: Akku 151");
    auto hasNeedleRed = [](QWidget* gauge) {
        const QImage image = gauge->grab().toImage().convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) == qRgb(255, 0, 0))
                    return true;
        return false;
    };
    const QList<QWidget*> readings = {voltageGauge, currentGauge, chart, voltageText, currentText, timeText};
    ASSERT_TRUE(hasNeedleRed(voltageGauge));
    form.ShowNoAnswer(3725, QStringLiteral("unverst\u00e4ndliche Antwort"));
    EXPECT_EQ(std::make_tuple(form.NoAnswer(), statusLine->isVisible(), Status()),
              std::make_tuple(true, true, QStringLiteral("unverst\u00e4ndliche Antwort seit 1:2:5")));
    for (QWidget* greyed : readings)
        EXPECT_FALSE(greyed->isEnabled());
    EXPECT_FALSE(hasNeedleRed(voltageGauge));
    form.ShowTime(61);   // the next answered poll starts with ShowTime
    for (QWidget* reading : readings)
        EXPECT_TRUE(reading->isEnabled());
    EXPECT_TRUE(hasNeedleRed(voltageGauge));

    WriteStatus status;
    status.Failing = true;
    status.Since = QDateTime(QDate(2024, 3, 1), QTime(14, 5, 9));
    status.WaitingSamples = 12;
    form.ShowWriteStatus(status);
    EXPECT_TRUE(form.WriteFailing());
    EXPECT_TRUE(statusLine->isVisible());
    const QString failing = QStringLiteral("Speichern fehlgeschlagen seit 14:05:09 \u2013 12 Messwerte warten");
    EXPECT_EQ(Status(), failing);
    EXPECT_LT(statusLine->geometry().right(),
              percent->geometry().right() - percent->fontMetrics().horizontalAdvance("60%"))
        << "the status stays clear of the percentage";
    EXPECT_TRUE(voltageText->isEnabled()) << "the readings are fresh; only their storing fails";

    // A silent charger as well: both are said, and the end of one leaves the other.
    form.ShowNoAnswer(130, QStringLiteral("keine Antwort"));
    EXPECT_EQ(Status(), QStringLiteral("keine Antwort seit 0:2:10; ") + failing);
    form.ShowTime(61);
    EXPECT_FALSE(form.NoAnswer());
    EXPECT_EQ(Status(), failing);

    WriteStatus recovered;
    recovered.RecoveredSamples = 12;
    form.ShowWriteStatus(recovered);
    EXPECT_FALSE(form.WriteFailing());
    EXPECT_FALSE(statusLine->isVisible());
}

// Gauges and strip chart grow with the page; the step rows stay whole and
// readable from the design size up.
TEST(AccuControlFormLayout, InstrumentsGrowWithThePageAndEveryStepRowStaysVisible)
{
    TAccuControlForm form(
        [](StepRecord& step) {
            if (step.Step > 6)
                return false;
            step.Function = step.Step % 2;
            step.Parameter = 500;
            return true;
        },
        nullptr);
    form.SetupService(7, "Lumo an COM1: Akku 3", 6, 0.5);
    form.show();
    const QWidget* voltagePanel = Part<QWidget>(form, "VGaugePanel");
    const QWidget* currentPanel = Part<QWidget>(form, "AGaugePanel");
    const QWidget* chartPanel = Part<QWidget>(form, "ChartPanel");
    TArcGauge* voltageGauge = Part<TArcGauge>(form, "VoltageGauge");
    const QTableView* grid = Part<QTableView>(form, "SubServicesDBGrid");
    const StepListModel* steps = Part<StepListModel>(form, "SubServiceQuery");
    const QLabel* timeText = Part<QLabel>(form, "TimePanel");
    ASSERT_EQ(steps->rowCount(), 6);
    // The width the scale and its labels take in the gauge's picture.
    auto drawnWidth = [](QWidget* gauge) {
        const QImage image = gauge->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int left = image.width(), right = -1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) < 80) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        return right - left + 1;
    };
    int lastGauge = 0, lastChart = 0, lastDrawn = 0;
    // The window's design size, a page of the first start, a page of a large window.
    for (const QSize page : {QSize(287, 201), QSize(326, 440), QSize(476, 620)}) {
        SCOPED_TRACE(page.width());
        form.resize(page);
        QCoreApplication::processEvents();
        const QRect gauge = voltagePanel->geometry();
        const QRect chart = chartPanel->geometry();
        if (page == QSize(287, 201)) {
            EXPECT_EQ(std::make_tuple(gauge, currentPanel->geometry(), chart),
                      std::make_tuple(QRect(2, 36, 95, 60), QRect(97, 36, 95, 60), QRect(192, 36, 95, 60)));
        } else {
            EXPECT_GT(gauge.width(), lastGauge);
            EXPECT_GT(chart.width() * chart.height(), lastChart);
            EXPECT_GT(drawnWidth(voltageGauge), lastDrawn);
            // Every row whole inside the grid, in a font no smaller than at the design size.
            const QRect view = grid->viewport()->rect();
            for (int row = 0; row < 6; ++row)
                EXPECT_TRUE(view.contains(grid->visualRect(steps->index(row, 0))))
                    << row;
        }
        EXPECT_LE(chartPanel->geometry().bottom(), grid->geometry().top());
        EXPECT_LE(timeText->geometry().bottom(), grid->geometry().top());
        lastGauge = gauge.width();
        lastChart = chart.width() * chart.height();
        lastDrawn = drawnWidth(voltageGauge);
    }
    EXPECT_GT(lastDrawn, 2 * 95 * 8 / 10);   // the scale spans most of a gauge twice the design width
}
