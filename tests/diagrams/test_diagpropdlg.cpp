// The property dialog: scaling accepted or rejected with a beep, the style
// and width interlock, colour lists and curve removal.

#include "DiagramTestData.h"
#include "Diagform.h"
#include "Diagpropdlg.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class PropertyDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        service = data.AddService(data.AddBattery());
        data.AddStep(service, 1, 0);
        data.AddSample(service, 1, 0, 5000, 1000);
        form = std::make_unique<TDiagramForm>(data.DataModule.get());
        form->resize(500, 350);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    void Open(TDiagramPropertyDialog::Page page)
    {
        dialog.SetDiagram(form.get(), form->Chart());
        dialog.SelectPage(page);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }

    // Clicks the indicator: a stretched radio button reacts only there and on its text.
    static void ClickRadio(QRadioButton* button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    }

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
        Type(dialog.edYStart, yStart);
        Type(dialog.edYEnd, yEnd);
        dialog.udYSegments->setValue(ySegments);
        for (QLineEdit* zero : {dialog.edXStartH, dialog.edXStartM, dialog.edXEndH, dialog.edXEndM})
            Type(zero, "0");
        Type(dialog.edXStartS, tStart);
        Type(dialog.edXEndS, tEnd);
        dialog.udXSegments->setValue(5);
    }

    // Presses "Übernehmen"; true when the input was rejected.
    bool TakeIt()
    {
        QSignalSpy rejected(&dialog, &TDiagramPropertyDialog::InputRejected);
        QTest::mouseClick(dialog.btnTakeIt, Qt::LeftButton);
        return rejected.count() == 1;
    }

    DiagramTestData data;
    int service = 0;
    std::unique_ptr<TDiagramForm> form;
    TDiagramPropertyDialog dialog;
};

}  // namespace

TEST_F(PropertyDialog, StepsAreAcceptedOrRejectedWithABeepOnBothAxes)
{
    TMultiChart* c = form->Chart();
    c->SetXAxisStartValue(3725);
    c->SetXAxisEndValue(7200);
    Open(TDiagramPropertyDialog::PageScaling);
    EXPECT_EQ(QStringList({dialog.edXStartH->text(), dialog.edXStartM->text(), dialog.edXStartS->text(),
                           dialog.edXEndH->text()}),
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
    Type(dialog.edXEndM, "75");             // minutes are not limited to 60
    EXPECT_FALSE(TakeIt());
    EXPECT_EQ(std::make_tuple(c->YAxisEndValue(), c->YAxisDigits(), c->XAxisEndValue(), form->ZoomStackSize()),
              std::make_tuple(0.008, 3, 4500.0, 2));

    // Choosing the current axis fills its scaling; taking it switches to it
    // and leaves the voltage axis.
    ClickRadio(dialog.rbAxis_mA);
    EXPECT_EQ(std::make_pair(dialog.edYEnd->text(), c->ActiveYAxis()), std::make_pair(QString("2000"), 0));
    SetScaling("0", "1000", 5, "0", "600");
    EXPECT_FALSE(TakeIt());
    EXPECT_EQ(std::make_tuple(c->ActiveYAxis(), c->YAxisEndValue(), c->YAxis(0).EndValue),
              std::make_tuple(1, 1000.0, 0.008));
}

TEST_F(PropertyDialog, StylesColoursAndCurveRemoval)
{
    Curve* curve = form->AddServiceCurve(service, 0);
    curve->Styles[0].Color = ColorValue(1, 2, 3);
    curve->Styles[1].Style = psClear;
    Open(TDiagramPropertyDialog::PageDrawing);
    // An unknown colour shows black, and taking makes it black.
    EXPECT_EQ(dialog.cbDischargeLineColor->currentText() + dialog.cbChargeLineStyle->currentText(), "clBlackpsSolid");

    // A non-solid style forces width 1, a wider line forces solid.
    dialog.cbDischargeLineStyle->setFocus();
    QTest::keyClick(dialog.cbDischargeLineStyle, Qt::Key_Down);
    QTest::keyClick(dialog.cbDischargeLineStyle, Qt::Key_Down);
    EXPECT_EQ(dialog.cbDischargeLineStyle->currentText(), "psDot");
    EXPECT_EQ(dialog.udDischargeLineWidth->value(), 1);
    ClickRadio(dialog.rbOverlapPhases);
    EXPECT_FALSE(TakeIt());
    EXPECT_EQ(std::make_tuple(curve->Styles[0].Color, curve->Styles[0].Style, curve->Styles[0].Width),
              std::make_tuple(0, psDot, 1));
    EXPECT_EQ(curve->Styles[2].Color, 16711680);  // no controls for the wait style
    EXPECT_TRUE(curve->OverlapPhases);
    QTest::keyClick(dialog.udDischargeLineWidth, Qt::Key_Up);
    EXPECT_EQ(dialog.cbDischargeLineStyle->currentText(), "psSolid");

    form->AddServiceCurve(service, 1);
    dialog.hide();
    Open(TDiagramPropertyDialog::PageCurves);
    ASSERT_EQ(dialog.cbCurves2->count(), 2);
    EXPECT_TRUE(dialog.cbCurves2->itemText(0).endsWith(", mA"));  // descending order
    const QString removed = dialog.cbCurves2->currentText();
    QTest::mouseClick(dialog.btnRemoveCurve, Qt::LeftButton);
    EXPECT_EQ(dialog.cbCurves->count(), 1);
    EXPECT_TRUE(!form->Chart()->GetCurve(removed) && !form->FindCurveKeyByName(removed));
}
