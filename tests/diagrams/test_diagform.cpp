// The diagram window: curves from recorded samples, curve keys, live
// samples, scroll bars and the zoom stack.

#include "DiagramTestData.h"
#include "Diagform.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <tuple>

namespace {

class DiagramWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        battery = data.AddBattery();
        service = data.AddService(battery, 17);
        data.AddStep(service, 1, 0);
        data.AddStep(service, 2, 1);
        data.AddSample(service, 1, 0, 5200, 1000);
        data.AddSample(service, 1, 60, 5000, 1000);
        data.AddSample(service, 2, 120, 5100, 800);
        data.AddSample(service, 9, 150, 9999, 9999);  // its step is missing
        data.AddSample(service, 2, 180, 5300, 800);
        form = std::make_unique<TDiagramForm>(data.DataModule.get());
        form->resize(600, 400);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    void Drag(QPoint from, QPoint to)
    {
        TMultiChart* chart = form->Chart();
        QTest::mousePress(chart, Qt::LeftButton, {}, from);
        QTest::mouseMove(chart, to);
        QTest::mouseRelease(chart, Qt::LeftButton, {}, to);
    }

    // Drags over the middle half of the plot area.
    void ZoomToMiddle()
    {
        const QRect plot = form->Chart()->PlotRect();
        Drag(plot.topLeft() + QPoint(plot.width() / 5, plot.height() / 5),
             plot.bottomRight() - QPoint(plot.width() / 5, plot.height() / 5));
    }

    ZOOMSTATE Scaling() const
    {
        const TMultiChart& c = *form->Chart();
        return ZOOMSTATE{c.XAxisStartValue(),  c.XAxisEndValue(),    c.YAxisStartValue(),
                         c.YAxisEndValue(),    c.XAxisNumSegments(), c.XAxisNumSubSegments(),
                         c.YAxisNumSegments(), c.YAxisNumSubSegments(), c.XAxisDigits(),
                         c.YAxisDigits()};
    }

    static void ExpectSame(const ZOOMSTATE& a, const ZOOMSTATE& b)
    {
        EXPECT_EQ(std::tie(a.XStart, a.XEnd, a.YStart, a.YEnd, a.XNumSegments, a.YNumSegments,
                           a.XDigits, a.YDigits),
                  std::tie(b.XStart, b.XEnd, b.YStart, b.YEnd, b.XNumSegments, b.YNumSegments,
                           b.XDigits, b.YDigits));
    }

    DiagramTestData data;
    int battery = 0;
    int service = 0;
    std::unique_ptr<TDiagramForm> form;
};

}  // namespace

TEST_F(DiagramWindow, ANewWindowScalesItsAxesAndScrollBars)
{
    TMultiChart* c = form->Chart();
    EXPECT_EQ(c->YAxis(0).UnitText, "V");
    EXPECT_DOUBLE_EQ(c->YAxis(0).EndValue, 20);
    EXPECT_DOUBLE_EQ(c->YAxis(1).MaxValue, 4000);
    EXPECT_TRUE(c->XAxisIsTimeAxis());

    EXPECT_TRUE(QTest::qWaitFor([&] { return form->VScrollBar()->maximum() == 16; }));
    EXPECT_EQ(form->VScrollBar()->value(), 16);
    EXPECT_EQ(form->VScrollBar()->pageStep(), 4);
    EXPECT_EQ(form->HScrollBar()->maximum(), 5035);
    EXPECT_EQ(form->HScrollBar()->value(), 0);
    EXPECT_EQ(form->HScrollBar()->pageStep(), 5);

    // A zero range, or one wider than the scrollable range, is not applied.
    Axis a;
    a.StartValue = a.EndValue = 5;
    a.MaxValue = 100;
    EXPECT_FALSE(HorizontalScrollFigures(a).MaximumValid);
    a.EndValue = 500;
    EXPECT_FALSE(VerticalScrollFigures(a).MaximumValid);
}

TEST_F(DiagramWindow, ScrollingThreeSegmentsMovesTheVisibleTimeWindow)
{
    QScrollBar* bar = form->HScrollBar();
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->maximum() == 5035; }));
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() - 5, bar->height() / 2));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->Chart()->XAxisStartValue() == 360.0; }));
    EXPECT_DOUBLE_EQ(form->Chart()->XAxisEndValue(), 960.0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->value() == 3; }));

    // One step up on the vertical bar moves the voltage range up one segment.
    // (after the horizontal scroll is painted: painting sets the bars' positions)
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->Chart()->NeedsRecalc(); }));
    QTest::keyClick(form->VScrollBar(), Qt::Key_Up);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->Chart()->YAxisEndValue() == 25.0; }));
    EXPECT_DOUBLE_EQ(form->Chart()->YAxisStartValue(), 5.0);
}

TEST_F(DiagramWindow, CurvesComeFromTheSamplesWithTheirStepsPhases)
{
    Curve* voltage = form->AddServiceCurve(service, 0);
    ASSERT_NE(voltage, nullptr);
    ASSERT_EQ(voltage->Data.size(), 4u);  // the sample of the missing step is left out
    EXPECT_FLOAT_EQ(voltage->Data[0].Value, 5.2f);
    EXPECT_EQ(voltage->Data[0].Phase, 0);
    EXPECT_EQ(voltage->Data[2].Phase, 1);
    EXPECT_FLOAT_EQ(voltage->Data[3].Time, 180.0f);

    EXPECT_EQ(form->AddServiceCurve(service, 0), nullptr);  // shown already
    Curve* current = form->AddServiceCurve(service, 1);
    ASSERT_NE(current, nullptr);
    EXPECT_FLOAT_EQ(current->Data[2].Value, 800.0f);
    EXPECT_EQ(current->YAxis, 1);
    EXPECT_EQ(form->AddServiceCurve(4711, 0), nullptr);  // no such treatment
    EXPECT_EQ(form->AddServiceCurve(service, 7), nullptr);
    EXPECT_EQ(form->Chart()->CurveCount(), 2);

    const TDiagramForm::CurveKey* key = form->FindCurveKey(service, 1);
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(key->Name.startsWith(QStringLiteral("Akku %1, ").arg(battery)));
    EXPECT_TRUE(key->Name.endsWith(", mA"));
    const QString name = key->Name;
    form->RemoveServiceCurve(name);
    EXPECT_EQ(form->FindCurveKey(service, 1), nullptr);
    EXPECT_EQ(form->Chart()->GetCurve(name), nullptr);
}

TEST_F(DiagramWindow, LiveSamplesReachOnlyCurvesOfTheirTreatment)
{
    Curve* voltage = form->AddServiceCurve(service, 0);
    ASSERT_NE(voltage, nullptr);
    form->AddLiveSample(service + 1, 0, 200, 5.4, 1);  // a treatment not shown
    form->AddLiveSample(service, 1, 200, 900, 1);      // its current is not shown
    EXPECT_EQ(voltage->Data.size(), 4u);
    EXPECT_EQ(form->Chart()->CurveCount(), 1);
    form->AddLiveSample(service, 0, 240, 5.45, 1);
    ASSERT_EQ(voltage->Data.size(), 5u);
    EXPECT_FLOAT_EQ(voltage->Data.back().Value, 5.45f);
    EXPECT_TRUE(form->Chart()->NeedsRecalc());
}

TEST_F(DiagramWindow, ZoomingTwiceAndBackTwiceRestoresTheFirstScaling)
{
    form->Chart()->repaint();
    const ZOOMSTATE before = Scaling();
    ZoomToMiddle();
    form->Chart()->repaint();
    const ZOOMSTATE once = Scaling();
    EXPECT_NE(once.XEnd, before.XEnd);
    ZoomToMiddle();
    EXPECT_EQ(form->ZoomStackSize(), 2);
    EXPECT_NE(Scaling().XEnd, once.XEnd);

    form->ZoomBack();
    ExpectSame(Scaling(), once);
    form->ZoomBack();
    form->ZoomBack();  // an empty stack changes nothing
    ExpectSame(Scaling(), before);
    EXPECT_EQ(form->ZoomStackSize(), 0);
}

TEST_F(DiagramWindow, ZoomBackAfterSwitchingTheAxisAppliesTheSavedRangeToTheActiveAxis)
{
    QSignalSpy available(form.get(), &TDiagramForm::ZoomBackAvailable);
    ZoomToMiddle();
    EXPECT_EQ(available.count(), 1);
    EXPECT_NE(form->Chart()->YAxis(0).EndValue, 20);
    form->Chart()->SetActiveYAxis(1);
    form->ZoomBack();
    EXPECT_DOUBLE_EQ(form->Chart()->YAxis(1).StartValue, 0);
    EXPECT_DOUBLE_EQ(form->Chart()->YAxis(1).EndValue, 20);
    EXPECT_NE(form->Chart()->YAxis(0).EndValue, 20);  // the voltage axis keeps its zoom
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->VScrollBar()->maximum() == 4000 / 5 - 4; }));
}

TEST_F(DiagramWindow, CurvesOfADeletedTreatmentOrBatteryAreDropped)
{
    // Another program: curve names of treatments started in the same second differ only there.
    const int other = data.AddService(battery, 0, 1);
    data.AddStep(other, 1, 1);
    data.AddSample(other, 1, 0, 4000, 500);
    const int secondBattery = data.AddBattery();
    const int third = data.AddService(secondBattery);
    ASSERT_NE(form->AddServiceCurve(service, 0), nullptr);
    ASSERT_NE(form->AddServiceCurve(service, 1), nullptr);
    ASSERT_NE(form->AddServiceCurve(other, 0), nullptr);
    ASSERT_NE(form->AddServiceCurve(third, 1), nullptr);

    ASSERT_TRUE(data.DataModule->DeleteService(service));
    EXPECT_EQ(form->Chart()->CurveCount(), 2);
    EXPECT_EQ(form->FindCurveKey(service, 0), nullptr);
    EXPECT_EQ(form->FindCurveKey(service, 1), nullptr);
    EXPECT_NE(form->FindCurveKey(other, 0), nullptr);

    // Deleting a battery deletes its treatments.
    data.DataModule->ReopenBatteries(secondBattery);
    data.DataModule->DeleteSelectedBattery();
    EXPECT_EQ(form->FindCurveKey(third, 1), nullptr);
    EXPECT_EQ(form->Chart()->CurveNames().size(), 1);
    // A live sample of the deleted treatment is ignored.
    form->AddLiveSample(service, 0, 240, 5.4, 1);
    EXPECT_EQ(form->Chart()->CurveCount(), 1);
}
