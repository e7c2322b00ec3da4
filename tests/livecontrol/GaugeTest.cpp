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

TEST(ArcGauge, ClientArea95x60GivesTheDocumentedArcDashesAndCentredLabels)
{
    const ClientBounds client = ClientBounds::OfSize(95, 60);
    EXPECT_EQ(ArcGaugeCentre(client), QPoint(47, 55));
    EXPECT_EQ(ArcGaugeLeftEnd(client), QPoint(25, 45));
    ArcScala arc;
    arc.SetArc(13, ArcGaugeLeftEnd(client), ArcGaugeCentre(client));
    EXPECT_NEAR(arc.Radius(), std::sqrt(650.0), 1e-9);
    EXPECT_NEAR(arc.TotalAngle() * 180.0 / M_PI, 128.9, 0.05);
    ASSERT_EQ(arc.ArcPoints.size(), 13u);
    EXPECT_EQ(arc.ArcPoints[6], QPoint(47, 30));
    EXPECT_EQ(arc.ArcPoints.back(), QPoint(70, 44));
    EXPECT_EQ(CalcLabelAnchors(arc, 4, 15).front(), QPoint(10, 38));
    EXPECT_EQ(arc.BoundingRect(), QRect(QPoint(22, 30), QPoint(71, 79)));

    // The widget uses the same geometry, centres its labels on the anchors
    // and draws thirteen dashes, long ones at segment boundaries.
    auto gauge = GaugeOf95x60();
    EXPECT_EQ(gauge->Arc().ArcPoints, arc.ArcPoints);
    const QFontMetrics metrics(gauge->font());
    EXPECT_EQ(gauge->LabelPoints().front(),
              QPoint(10, 38) - QPoint(metrics.horizontalAdvance(gauge->LabelTexts()[0]) / 2, metrics.height() / 2));
    ASSERT_EQ(gauge->DashEnds().size(), 13u);
    EXPECT_NE(gauge->LongDashLength(), gauge->ShortDashLength());
    for (unsigned i = 0; i < 13; ++i)
        EXPECT_EQ(gauge->DashEnds()[i],
                  arc.PointAt(i / 12.0, i % 3 == 0 ? gauge->LongDashLength() : gauge->ShortDashLength()))
            << "dash " << i;
}

TEST(ArcGauge, LabelsHaveADecimalCommaAndNoGroupSeparator)
{
    auto gauge = GaugeOf95x60();
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German));
    gauge->SetSegments(3);
    gauge->SetEnd(0.6);
    gauge->SetDigits(1);
    const QStringList oneDecimal = gauge->LabelTexts();
    ScaleModel scale;
    scale.End = scale.Range = 2000;
    const QStringList large = CalcLabelTexts(scale, 2, 0);
    QLocale::setDefault(saved);
    EXPECT_EQ(oneDecimal, QStringList({"0,0", "0,2", "0,4", "0,6"}));
    EXPECT_EQ(large, QStringList({"0", "1000", "2000"}));
}

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
