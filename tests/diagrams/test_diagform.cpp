// The diagram window: curves from recorded samples, curve keys, live
// samples, scroll bars and the zoom stack.

#include "DiagramTestData.h"
#include "Diagform.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

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
        const int samples[][4] = {
            {1, 0, 5200, 1000}, {1, 60, 5000, 1000}, {2, 120, 5100, 800},
            {9, 150, 9999, 9999},  // its step is missing
            {2, 180, 5300, 800}};
        for (const auto& s : samples)
            data.AddSample(service, s[0], s[1], s[2], s[3]);
        form = std::make_unique<TDiagramForm>(data.DataModule.get());
        form->resize(600, 400);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    // Drags over the middle half of the plot area.
    void ZoomToMiddle()
    {
        const QRect plot = form->Chart()->PlotRect();
        const QPoint margin(plot.width() / 5, plot.height() / 5);
        QTest::mousePress(form->Chart(), Qt::LeftButton, {}, plot.topLeft() + margin);
        QTest::mouseMove(form->Chart(), plot.bottomRight() - margin);
        QTest::mouseRelease(form->Chart(), Qt::LeftButton, {}, plot.bottomRight() - margin);
        form->Chart()->repaint();
    }

    std::vector<double> Scaling() const
    {
        const TMultiChart& c = *form->Chart();
        return {c.XAxisStartValue(), c.XAxisEndValue(), c.YAxisStartValue(), c.YAxisEndValue(),
                double(c.XAxisNumSegments()), double(c.YAxisNumSegments()), double(c.XAxisDigits()),
                double(c.YAxisDigits())};
    }

    DiagramTestData data;
    int battery = 0;
    int service = 0;
    std::unique_ptr<TDiagramForm> form;
};

}  // namespace

TEST_F(DiagramWindow, CurvesComeFromTheSamplesAndLiveSamplesOfTheirTreatment)
{
    Curve* voltage = form->AddServiceCurve(service, 0);
    ASSERT_NE(voltage, nullptr);
    ASSERT_EQ(voltage->Data.size(), 4u);  // the sample of the missing step is left out
    EXPECT_FLOAT_EQ(voltage->Data[0].Value, 5.2f);
    EXPECT_EQ(std::make_tuple(voltage->Data[0].Phase, voltage->Data[2].Phase, voltage->Data[3].Time),
              std::make_tuple(0, 1, 180.0f));

    // Shown already, no such treatment, no such unit.
    for (const auto& [id, unit] : {std::pair{service, 0}, std::pair{4711, 0}, std::pair{service, 7}})
        EXPECT_EQ(form->AddServiceCurve(id, unit), nullptr);
    Curve* current = form->AddServiceCurve(service, 1);
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(std::make_pair(current->Data[2].Value, current->YAxis), std::make_pair(800.0f, 1));
    const QString name = form->FindCurveKey(service, 1)->Name;
    EXPECT_TRUE(name.startsWith(QStringLiteral("Akku %1, ").arg(battery)) && name.endsWith(", mA"));
    form->RemoveServiceCurve(name);
    EXPECT_EQ(form->FindCurveKey(service, 1), nullptr);
    EXPECT_EQ(form->Chart()->GetCurve(name), nullptr);

    form->AddLiveSample(service + 1, 0, 200, 5.4, 1);  // a treatment not shown
    form->AddLiveSample(service, 1, 200, 900, 1);      // its current is not shown
    EXPECT_EQ(voltage->Data.size(), 4u);
    EXPECT_EQ(form->Chart()->CurveCount(), 1);
    form->Chart()->repaint();
    form->AddLiveSample(service, 0, 240, 5.45, 1);
    ASSERT_EQ(voltage->Data.size(), 5u);
    EXPECT_FLOAT_EQ(voltage->Data.back().Value, 5.45f);
    EXPECT_TRUE(form->Chart()->NeedsRecalc());
}

TEST_F(DiagramWindow, ZoomBackRestoresEachScalingAndAfterAnAxisSwitchAppliesToTheActiveAxis)
{
    QSignalSpy available(form.get(), &TDiagramForm::ZoomBackAvailable);
    form->Chart()->repaint();
    const auto before = Scaling();
    ZoomToMiddle();
    EXPECT_EQ(available.count(), 1);
    const auto once = Scaling();
    EXPECT_NE(once, before);
    ZoomToMiddle();
    EXPECT_EQ(form->ZoomStackSize(), 2);
    EXPECT_NE(Scaling(), once);
    form->ZoomBack();
    EXPECT_EQ(Scaling(), once);
    form->ZoomBack();
    form->ZoomBack();  // an empty stack changes nothing
    EXPECT_EQ(Scaling(), before);
    EXPECT_EQ(form->ZoomStackSize(), 0);

    ZoomToMiddle();
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
    for (const auto& [id, unit] : {std::pair{service, 0}, std::pair{service, 1}, std::pair{other, 0}, std::pair{third, 1}})
        ASSERT_NE(form->AddServiceCurve(id, unit), nullptr);

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
