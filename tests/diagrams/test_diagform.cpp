// The diagram window: curves from recorded samples, curve keys, live
// samples and the zoom stack; its property dialog's scaling, accepted or
// rejected with a beep.

#include "tests/diagrams/DiagramTestData.h"
#include "tests/diagrams/WaitForCurves.h"
#include "diagrams/Diagform.h"
#include "diagrams/Diagpropdlg.h"
#include "tests/support/WindowParts.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class DiagramWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));  // a decimal point
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

class PropertyDialog : public DiagramWindow
{
protected:
    void Open(TDiagramPropertyDialog::Page page)
    {
        dialog.SetDiagram(form.get());
        dialog.SelectPage(page);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }

    // Clicks the indicator: a stretched radio button reacts only there and on its text.
    static void ClickRadio(QRadioButton* button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    }

    QLineEdit* Edit(const char* name) const { return Part<QLineEdit>(dialog, name); }

    static void Type(QLineEdit* edit, const QString& text)
    {
        edit->selectAll();
        QTest::keyClicks(edit, text);
        ASSERT_EQ(edit->text(), text);
    }

    // Value range and segments, and a time range in seconds (hours and minutes 0).
    void SetScaling(const QString& yStart, const QString& yEnd, int ySegments, const QString& tStart,
                    const QString& tEnd)
    {
        Type(Edit("edYStart"), yStart);
        Type(Edit("edYEnd"), yEnd);
        Part<QSpinBox>(dialog, "udYSegments")->setValue(ySegments);
        for (const char* zero : {"edXStartH", "edXStartM", "edXEndH", "edXEndM"})
            Type(Edit(zero), "0");
        Type(Edit("edXStartS"), tStart);
        Type(Edit("edXEndS"), tEnd);
        Part<QSpinBox>(dialog, "udXSegments")->setValue(5);
    }

    // Presses "Übernehmen"; true when the input was rejected.
    bool TakeIt()
    {
        QSignalSpy rejected(&dialog, &TDiagramPropertyDialog::InputRejected);
        QTest::mouseClick(Part<QPushButton>(dialog, "btnTakeIt"), Qt::LeftButton);
        return rejected.count() == 1;
    }

    TDiagramPropertyDialog dialog;
};

}  // namespace

TEST_F(DiagramWindow, CurvesComeFromTheSamplesAndLiveSamplesOfTheirTreatment)
{
    Curve* voltage = form->AddServiceCurve(service, 0);
    ASSERT_NE(voltage, nullptr);
    ASSERT_TRUE(CurvesLoaded(*form));
    ASSERT_EQ(voltage->Data.size(), 4u);  // the sample of the missing step is left out
    EXPECT_FLOAT_EQ(voltage->Data[0].Value, 5.2f);
    EXPECT_EQ(std::make_tuple(voltage->Data[0].Phase, voltage->Data[2].Phase, voltage->Data[3].Time),
              std::make_tuple(0, 1, 180.0f));

    // Shown already, no such treatment, no such unit.
    for (const auto& [id, unit] : {std::pair{service, 0}, std::pair{4711, 0}, std::pair{service, 7}})
        EXPECT_EQ(form->AddServiceCurve(id, unit), nullptr);
    Curve* current = form->AddServiceCurve(service, 1);
    ASSERT_NE(current, nullptr);
    ASSERT_TRUE(CurvesLoaded(*form));
    EXPECT_EQ(std::make_pair(current->Data[2].Value, current->YAxis), std::make_pair(800.0f, 1));
    const QString name = form->FindCurveKey(service, 1)->Name;
    form->RemoveServiceCurve(name);
    EXPECT_TRUE(!form->FindCurveKey(service, 1) && !form->Chart()->GetCurve(name));

    form->AddLiveSample(service + 1, 0, 200, 5.4, 1);  // a treatment not shown
    form->AddLiveSample(service, 1, 200, 900, 1);      // its current is not shown
    EXPECT_EQ(std::make_pair(voltage->Data.size(), form->Chart()->CurveCount()), std::make_pair(size_t(4), 1));
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
    // The value axis snaps to whole segments (4..16 becomes 5..15).
    EXPECT_EQ(once, (std::vector<double>{120, 480, 5, 15, 5, 5, 0, 0}));
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
    EXPECT_EQ(std::make_pair(form->Chart()->YAxis(1).StartValue, form->Chart()->YAxis(1).EndValue),
              std::make_pair(0.0, 20.0));
    EXPECT_NE(form->Chart()->YAxis(0).EndValue, 20);  // the voltage axis keeps its zoom
    const QScrollBar* valueBar = Part<QScrollBar>(*form, "VScrollBar");
    EXPECT_TRUE(QTest::qWaitFor([&] { return valueBar->maximum() == 4000 / 5 - 4; }));
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

    // As the engine deletes and notifies the windows.
    ASSERT_TRUE(data.Records->DeleteService(service));
    data.DataModule->Follow({RecordChange::ServiceDeleted, 0, service});
    EXPECT_EQ(std::make_tuple(form->Chart()->CurveCount(), form->FindCurveKey(service, 0), form->FindCurveKey(service, 1),
                              form->FindCurveKey(other, 0) != nullptr),
              std::make_tuple(2, nullptr, nullptr, true));

    // Deleting a battery deletes its treatments.
    ASSERT_TRUE(data.Records->DeleteBattery(secondBattery));
    data.DataModule->Follow({RecordChange::BatteryDeleted, secondBattery, 0});
    EXPECT_EQ(form->FindCurveKey(third, 1), nullptr);
    EXPECT_EQ(form->Chart()->CurveNames().size(), 1);
    // A live sample of the deleted treatment is ignored.
    form->AddLiveSample(service, 0, 240, 5.4, 1);
    EXPECT_EQ(form->Chart()->CurveCount(), 1);
}

TEST_F(PropertyDialog, StepsAreAcceptedOrRejectedWithABeepOnBothAxes)
{
    TMultiChart* c = form->Chart();
    c->SetXAxisStartValue(3725);
    c->SetXAxisEndValue(7200);
    Open(TDiagramPropertyDialog::PageScaling);
    EXPECT_EQ(QStringList({Edit("edXStartH")->text(), Edit("edXStartM")->text(), Edit("edXStartS")->text(),
                           Edit("edXEndH")->text()}),
              QStringList({"1", "2", "5", "2"}));
    c->SetXAxisStartValue(0);
    c->SetXAxisEndValue(600);

    const std::array<const char*, 5> rejected[] = {
        {"0", "0.004", "4", "0", "5"},  // value step 0.001
        {"0", "1", "5", "0", "4"},      // 0.8 s per segment
        {"1", "0", "5", "0", "5"},      // end before start
        {"0", "1", "5", "10", "5"},
        {"0", "eins", "5", "0", "5"},
        {"0", "1", "5", "0", "x"},
    };
    for (const auto& r : rejected) {
        SetScaling(r[0], r[1], QString(r[2]).toInt(), r[3], r[4]);
        EXPECT_TRUE(TakeIt()) << r[1] << " " << r[4];
    }
    EXPECT_EQ(std::make_tuple(c->YAxisEndValue(), c->XAxisEndValue(), form->ZoomStackSize()),
              std::make_tuple(20.0, 600.0, 0));

    SetScaling("0", "1", 10, "0", "5");  // five one-second segments
    EXPECT_FALSE(TakeIt());
    EXPECT_EQ(std::make_tuple(c->YAxisEndValue(), c->YAxisDigits(), c->XAxisEndValue()),
              std::make_tuple(1.0, 1, 5.0));
    SetScaling("0", "0.008", 4, "0", "0");  // step 0.002
    Type(Edit("edXEndM"), "75");  // minutes are not limited to 60
    EXPECT_FALSE(TakeIt());
    EXPECT_EQ(std::make_tuple(c->YAxisEndValue(), c->YAxisDigits(), c->XAxisEndValue(), form->ZoomStackSize()),
              std::make_tuple(0.008, 3, 4500.0, 2));

    // Choosing the current axis fills its scaling; taking it switches to it
    // and leaves the voltage axis.
    ClickRadio(Part<QRadioButton>(dialog, "rbAxis_mA"));
    EXPECT_EQ(std::make_pair(Edit("edYEnd")->text(), c->ActiveYAxis()), std::make_pair(QString("2000"), 0));
    SetScaling("0", "1000", 5, "0", "600");
    EXPECT_FALSE(TakeIt());
    EXPECT_EQ(std::make_tuple(c->ActiveYAxis(), c->YAxisEndValue(), c->YAxis(0).EndValue),
              std::make_tuple(1, 1000.0, 0.008));
}
