// Gauge geometry, labels, needle and its partial repaint.
#include <gtest/gtest.h>

#include "livecontrol/Instruments.h"

#include <QApplication>
#include <QLocale>
#include <QPaintEvent>
#include <QTest>

#include <cmath>

namespace {

std::unique_ptr<TArcGauge> GaugeOf95x60()
{
    auto gauge = std::make_unique<TArcGauge>();
    gauge->resize(95, 60);
    gauge->SetSegments(4);
    gauge->SetSubSegments(3);
    gauge->SetEnd(12);
    return gauge;
}

}  // namespace

TEST(ArcGauge, TheNeedleIsClampedToTheScaleAndItsMoveRepaintsOnlyAroundOldAndNew)
{
    auto gauge = GaugeOf95x60();
    const ArcScala& arc = gauge->Arc();
    gauge->SetValue(1000);
    EXPECT_EQ(gauge->NeedleTip(), arc.PointAt(1.0, 0));
    gauge->SetValue(-1000);
    EXPECT_EQ(gauge->NeedleTip(), arc.PointAt(0.0, 0));
    // Factor divides the value before it is placed; the labels ignore it.
    gauge->SetFactor(2);
    gauge->SetValue(12);
    EXPECT_EQ(gauge->NeedleTip(), arc.PointAt(0.5, 0));
    EXPECT_EQ(gauge->LabelTexts().back(), "12");

    gauge->SetFactor(1);
    gauge->SetNeedleWidth(2);
    gauge->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(gauge.get()));
    QApplication::processEvents();
    struct PaintRecorder : QObject {
        QRegion painted;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                painted += static_cast<QPaintEvent*>(event)->region();
            return false;
        }
    } recorder;
    gauge->installEventFilter(&recorder);
    const QRect oldArea = gauge->CurrentNeedleArea();
    gauge->SetValue(3);
    const QRect newArea = gauge->CurrentNeedleArea();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.painted.isEmpty(); }));
    EXPECT_TRUE(recorder.painted.contains(oldArea.center()));
    EXPECT_TRUE(recorder.painted.contains(newArea.center()));
    EXPECT_TRUE(recorder.painted.subtracted(QRegion(oldArea) + QRegion(newArea)).isEmpty());
}
