// Gauge geometry, labels, needle and its partial repaint.
#include <gtest/gtest.h>

#include "livecontrol/Instruments.h"
#include "WaitFor.h"

#include <QApplication>
#include <QLocale>
#include <QPaintEvent>
#include <QTest>

#include <cmath>

namespace {

constexpr double Pi = 3.14159265358979323846;

// Restores the default locale when a test changed it.
struct DefaultLocale {
    QLocale saved;
    explicit DefaultLocale(QLocale::Language language) { QLocale::setDefault(QLocale(language)); }
    ~DefaultLocale() { QLocale::setDefault(saved); }
};

std::unique_ptr<TArcGauge> GaugeOf95x60()
{
    auto gauge = std::make_unique<TArcGauge>();
    gauge->resize(95, 60);
    gauge->SetSegments(4);
    gauge->SetSubSegments(3);
    return gauge;
}

}  // namespace

TEST(ArcScalaGeometry, ClientArea95x60GivesTheDocumentedArc)
{
    const ClientBounds client = ClientBounds::OfSize(95, 60);
    EXPECT_EQ(ArcGaugeCentre(client), QPoint(47, 55));
    EXPECT_EQ(ArcGaugeLeftEnd(client), QPoint(25, 45));

    ArcScala arc;
    arc.SetArc(13, ArcGaugeLeftEnd(client), ArcGaugeCentre(client));
    EXPECT_NEAR(arc.Radius(), std::sqrt(650.0), 1e-9);
    EXPECT_NEAR(arc.TotalAngle() * 180.0 / Pi, 128.9, 0.05);
    ASSERT_EQ(arc.ArcPoints.size(), 13u);
    EXPECT_EQ(arc.ArcPoints.front(), QPoint(25, 45));
    EXPECT_EQ(arc.ArcPoints[6], QPoint(47, 30));
    EXPECT_EQ(arc.ArcPoints.back(), QPoint(70, 44));

    const auto anchors = CalcLabelAnchors(arc, 4, 15);
    ASSERT_EQ(anchors.size(), 5u);
    EXPECT_EQ(anchors.front(), QPoint(10, 38));
    EXPECT_EQ(arc.BoundingRect(), QRect(QPoint(22, 30), QPoint(71, 79)));
}

TEST(ArcScalaGeometry, WidgetUsesTheSameGeometryAndCentresItsLabels)
{
    auto gauge = GaugeOf95x60();
    EXPECT_EQ(gauge->Arc().Centre(), QPoint(47, 55));
    EXPECT_EQ(gauge->Arc().ArcPoints.front(), QPoint(25, 45));
    EXPECT_EQ(gauge->Arc().ArcPoints.back(), QPoint(70, 44));

    const QFontMetrics metrics(gauge->font());
    const QPoint expected = QPoint(10, 38) - QPoint(metrics.horizontalAdvance(gauge->LabelTexts()[0]) / 2,
                                                    metrics.height() / 2);
    EXPECT_EQ(gauge->LabelPoints().front(), expected);
}

TEST(ArcScalaGeometry, ThirteenDashesLongAtSegmentBoundaries)
{
    auto gauge = GaugeOf95x60();
    EXPECT_EQ(gauge->NumPoints(), 13u);
    ASSERT_EQ(gauge->DashEnds().size(), 13u);
    const ArcScala& arc = gauge->Arc();
    for (unsigned i = 0; i < 13; ++i) {
        const double t = i / 12.0;
        const bool isLong = (i % 3 == 0);
        const QPoint expected = arc.PointAt(t, isLong ? gauge->LongDashLength() : gauge->ShortDashLength());
        EXPECT_EQ(gauge->DashEnds()[i], expected) << "dash " << i;
        // A long dash reaches farther from the centre than a short one would.
        const QPoint shortEnd = arc.PointAt(t, gauge->ShortDashLength());
        const QPoint longEnd = arc.PointAt(t, gauge->LongDashLength());
        EXPECT_EQ(gauge->DashEnds()[i] == longEnd, isLong) << "dash " << i;
        EXPECT_NE(shortEnd, longEnd);
    }
}

TEST(GaugeSetters, InvalidValuesAreIgnored)
{
    auto gauge = GaugeOf95x60();
    gauge->SetEnd(12);

    gauge->SetEnd(gauge->Start());
    EXPECT_EQ(gauge->End(), 12.0);
    gauge->SetStart(gauge->End());
    EXPECT_EQ(gauge->Start(), 0.0);
    EXPECT_EQ(gauge->Range(), 12.0);

    gauge->SetFactor(0);
    EXPECT_EQ(gauge->Factor(), 1.0);
    gauge->SetSegments(0);
    EXPECT_EQ(gauge->Segments(), 4u);
    gauge->SetSubSegments(0);
    EXPECT_EQ(gauge->SubSegments(), 3u);
    gauge->SetDigits(4);
    EXPECT_EQ(gauge->Digits(), 0u);
    EXPECT_EQ(gauge->LabelTexts(), QStringList({"0", "3", "6", "9", "12"}));

    gauge->SetStart(2);
    EXPECT_EQ(gauge->Range(), 10.0);
}

TEST(GaugeLabels, OneDecimalUsesTheLocaleDecimalComma)
{
    DefaultLocale german(QLocale::German);
    TArcGauge gauge;
    gauge.resize(95, 60);
    gauge.SetSegments(3);
    gauge.SetEnd(0.6);
    gauge.SetDigits(1);
    EXPECT_EQ(gauge.LabelTexts(), QStringList({"0,0", "0,2", "0,4", "0,6"}));
}

TEST(GaugeLabels, LargeValuesHaveNoGroupSeparator)
{
    DefaultLocale german(QLocale::German);
    ScaleModel scale;
    scale.End = 2000;
    scale.Range = 2000;
    EXPECT_EQ(CalcLabelTexts(scale, 2, 0), QStringList({"0", "1000", "2000"}));
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
    gauge->SetValue(6);
    EXPECT_EQ(gauge->NeedleTip(), arc.PointAt(0.5, 0));

    // Factor divides the value before it is placed; the labels ignore it.
    gauge->SetFactor(2);
    gauge->SetValue(12);
    EXPECT_EQ(gauge->NeedleTip(), arc.PointAt(0.5, 0));
    EXPECT_EQ(gauge->LabelTexts().back(), "12");
}

TEST(GaugeNeedle, AreaIsSpannedByPivotAndTipGrownByTheNeedleWidth)
{
    EXPECT_EQ(NeedleArea(QPoint(47, 55), QPoint(25, 45), 2), QRect(QPoint(23, 43), QPoint(49, 57)));
    EXPECT_EQ(NeedleArea(QPoint(47, 55), QPoint(70, 44), 1), QRect(QPoint(46, 43), QPoint(71, 56)));
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
    ASSERT_TRUE(WaitFor([&] { return recorder.events > 0; }));

    const QRegion expected = QRegion(oldArea) + QRegion(newArea);
    EXPECT_TRUE(recorder.painted.contains(oldArea.center()));
    EXPECT_TRUE(recorder.painted.contains(newArea.center()));
    EXPECT_TRUE(recorder.painted.subtracted(expected).isEmpty()) << "repainted outside the needle areas";
    EXPECT_FALSE(recorder.painted.contains(QPoint(90, 5)));
}
