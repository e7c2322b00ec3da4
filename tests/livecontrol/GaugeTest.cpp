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
    return gauge;
}

}  // namespace

TEST(ArcScalaGeometry, ClientArea95x60GivesTheDocumentedArcAndCentredLabels)
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

    // The widget uses the same geometry and centres its labels on the anchors.
    auto gauge = GaugeOf95x60();
    EXPECT_EQ(gauge->Arc().ArcPoints, arc.ArcPoints);
    const QFontMetrics metrics(gauge->font());
    EXPECT_EQ(gauge->LabelPoints().front(),
              QPoint(10, 38) - QPoint(metrics.horizontalAdvance(gauge->LabelTexts()[0]) / 2,
                                      metrics.height() / 2));
}

TEST(ArcScalaGeometry, ThirteenDashesLongAtSegmentBoundaries)
{
    auto gauge = GaugeOf95x60();
    ASSERT_EQ(gauge->DashEnds().size(), 13u);
    for (unsigned i = 0; i < 13; ++i) {
        const bool isLong = (i % 3 == 0);
        const int length = isLong ? gauge->LongDashLength() : gauge->ShortDashLength();
        EXPECT_EQ(gauge->DashEnds()[i], gauge->Arc().PointAt(i / 12.0, length)) << "dash " << i;
    }
    EXPECT_NE(gauge->LongDashLength(), gauge->ShortDashLength());
}

TEST(GaugeSetters, InvalidValuesAreIgnored)
{
    auto gauge = GaugeOf95x60();
    gauge->SetEnd(12);
    gauge->SetEnd(gauge->Start());
    gauge->SetStart(gauge->End());
    gauge->SetFactor(0);
    gauge->SetSegments(0);
    gauge->SetSubSegments(0);
    gauge->SetDigits(4);
    EXPECT_EQ(gauge->Range(), 12.0);
    EXPECT_EQ(gauge->Factor(), 1.0);
    EXPECT_EQ(gauge->SubSegments(), 3u);
    EXPECT_EQ(gauge->LabelTexts(), QStringList({"0", "3", "6", "9", "12"}));
    gauge->SetStart(2);
    EXPECT_EQ(gauge->Range(), 10.0);
}

TEST(GaugeLabels, DecimalCommaAndNoGroupSeparator)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German));
    TArcGauge gauge;
    gauge.resize(95, 60);
    gauge.SetSegments(3);
    gauge.SetEnd(0.6);
    gauge.SetDigits(1);
    const QStringList oneDecimal = gauge.LabelTexts();
    ScaleModel scale;
    scale.End = 2000;
    scale.Range = 2000;
    const QStringList large = CalcLabelTexts(scale, 2, 0);
    QLocale::setDefault(saved);
    EXPECT_EQ(oneDecimal, QStringList({"0,0", "0,2", "0,4", "0,6"}));
    EXPECT_EQ(large, QStringList({"0", "1000", "2000"}));
}

TEST(GaugeNeedle, ClampedToBothEndsOfTheScale)
{
    auto gauge = GaugeOf95x60();
    gauge->SetEnd(12);
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
}

namespace {
// Collects the regions of the paint events a widget receives.
class PaintRecorder : public QObject {
public:
    QRegion painted;
    int events = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(event)->region();
            ++events;
        }
        return false;
    }
};
}  // namespace

TEST(GaugeNeedle, ValueChangeRepaintsOnlyAroundOldAndNewNeedle)
{
    TArcGauge gauge;
    gauge.resize(95, 60);
    gauge.SetEnd(12);
    gauge.SetNeedleWidth(2);
    gauge.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&gauge));
    QApplication::processEvents();

    PaintRecorder recorder;
    gauge.installEventFilter(&recorder);
    const QRect oldArea = gauge.CurrentNeedleArea();
    gauge.SetValue(3);
    const QRect newArea = gauge.CurrentNeedleArea();
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.events > 0; }));
    EXPECT_TRUE(recorder.painted.contains(oldArea.center()));
    EXPECT_TRUE(recorder.painted.contains(newArea.center()));
    EXPECT_TRUE(recorder.painted.subtracted(QRegion(oldArea) + QRegion(newArea)).isEmpty());
}
