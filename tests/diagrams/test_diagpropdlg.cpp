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
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class PropertyDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const int battery = data.AddBattery();
        service = data.AddService(battery);
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

    void SetScaling(const QString& yStart, const QString& yEnd, int ySegments,
                    const QString& tStart, const QString& tEnd, int tSegments)
    {
        Type(dialog.edYStart, yStart);
        Type(dialog.edYEnd, yEnd);
        dialog.udYSegments->setValue(ySegments);
        Type(dialog.edXStartH, "0");
        Type(dialog.edXStartM, "0");
        Type(dialog.edXStartS, tStart);
        Type(dialog.edXEndH, "0");
        Type(dialog.edXEndM, "0");
        Type(dialog.edXEndS, tEnd);
        dialog.udXSegments->setValue(tSegments);
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

TEST_F(PropertyDialog, ShowingFillsTheScalingOfTheActiveAxis)
{
    form->Chart()->SetXAxisStartValue(3725);
    form->Chart()->SetXAxisEndValue(7200);
    Open(TDiagramPropertyDialog::PageScaling);
    EXPECT_TRUE(dialog.rbAxis_V->isChecked());
    EXPECT_EQ(dialog.edYEnd->text(), "20");
    EXPECT_EQ(dialog.udYSegments->value(), 4);
    EXPECT_EQ(QStringList({dialog.edXStartH->text(), dialog.edXStartM->text(),
                           dialog.edXStartS->text(), dialog.edXEndH->text()}),
              QStringList({"1", "2", "5", "2"}));

    ClickRadio(dialog.rbAxis_mA);
    EXPECT_FALSE(dialog.rbAxis_V->isChecked());
    EXPECT_EQ(dialog.edYEnd->text(), "2000");
    EXPECT_EQ(form->Chart()->ActiveYAxis(), 0);  // only "Übernehmen" switches
}

TEST_F(PropertyDialog, StepsAreAcceptedOrRejectedWithABeepOnBothAxes)
{
    Open(TDiagramPropertyDialog::PageScaling);
    TMultiChart* c = form->Chart();
    struct Case {
        const char *yStart, *yEnd;
        int ySegments;
        const char *tStart, *tEnd;
    };
    const Case rejected[] = {
        {"0", "0.004", 4, "0", "5"},  // value step 0.001
        {"0", "1", 5, "0", "4"},      // 0.8 s per segment
        {"1", "0", 5, "0", "5"},      // end before start
        {"0", "1", 5, "10", "5"},
        {"0", "eins", 5, "0", "5"},
        {"0", "1", 5, "0", "x"},
    };
    for (const Case& r : rejected) {
        SetScaling(r.yStart, r.yEnd, r.ySegments, r.tStart, r.tEnd, 5);
        EXPECT_TRUE(TakeIt()) << r.yEnd << " " << r.tEnd;
    }
    EXPECT_DOUBLE_EQ(c->YAxisEndValue(), 20);
    EXPECT_DOUBLE_EQ(c->XAxisEndValue(), 600);
    EXPECT_EQ(form->ZoomStackSize(), 0);

    SetScaling("0", "1", 10, "0", "5", 5);  // five one-second segments
    EXPECT_FALSE(TakeIt());
    EXPECT_DOUBLE_EQ(c->YAxisEndValue(), 1);
    EXPECT_EQ(c->YAxisDigits(), 1);
    EXPECT_DOUBLE_EQ(c->XAxisEndValue(), 5);
    SetScaling("0", "0.008", 4, "0", "0", 5);  // step 0.002
    Type(dialog.edXEndM, "75");                // minutes are not limited to 60
    EXPECT_FALSE(TakeIt());
    EXPECT_DOUBLE_EQ(c->YAxisEndValue(), 0.008);
    EXPECT_EQ(c->YAxisDigits(), 3);
    EXPECT_DOUBLE_EQ(c->XAxisEndValue(), 4500);
    EXPECT_EQ(form->ZoomStackSize(), 2);

    // Taking the current axis switches to it and leaves the voltage axis.
    ClickRadio(dialog.rbAxis_mA);
    SetScaling("0", "1000", 5, "0", "600", 5);
    EXPECT_FALSE(TakeIt());
    EXPECT_EQ(c->ActiveYAxis(), 1);
    EXPECT_DOUBLE_EQ(c->YAxisEndValue(), 1000);
    EXPECT_DOUBLE_EQ(c->YAxis(0).EndValue, 0.008);
}

TEST_F(PropertyDialog, AnUnknownColourShowsBlackAndTakingMakesItBlack)
{
    Curve* curve = form->AddServiceCurve(service, 0);
    curve->Styles[0].Color = ColorValue(1, 2, 3);
    curve->Styles[1].Style = psClear;
    Open(TDiagramPropertyDialog::PageDrawing);
    EXPECT_EQ(dialog.cbDischargeLineColor->currentText(), "clBlack");
    EXPECT_EQ(dialog.cbChargeLineStyle->currentText(), "psSolid");
    EXPECT_FALSE(TakeIt());
    EXPECT_EQ(curve->Styles[0].Color, 0);
    EXPECT_EQ(curve->Styles[2].Color, 16711680);  // no controls for the wait style
}

TEST_F(PropertyDialog, NonSolidStylesForceWidthOneAndWiderLinesForceSolid)
{
    Curve* curve = form->AddServiceCurve(service, 0);
    Open(TDiagramPropertyDialog::PageDrawing);
    EXPECT_EQ(dialog.udDischargeLineWidth->value(), 2);
    dialog.cbDischargeLineStyle->setFocus();
    QTest::keyClick(dialog.cbDischargeLineStyle, Qt::Key_Down);
    QTest::keyClick(dialog.cbDischargeLineStyle, Qt::Key_Down);
    EXPECT_EQ(dialog.cbDischargeLineStyle->currentText(), "psDot");
    EXPECT_EQ(dialog.udDischargeLineWidth->value(), 1);

    ClickRadio(dialog.rbOverlapPhases);
    EXPECT_FALSE(TakeIt());
    EXPECT_EQ(curve->Styles[0].Style, psDot);
    EXPECT_EQ(curve->Styles[0].Width, 1);
    EXPECT_TRUE(curve->OverlapPhases);

    QTest::keyClick(dialog.udDischargeLineWidth, Qt::Key_Up);
    EXPECT_EQ(dialog.udDischargeLineWidth->value(), 2);
    EXPECT_EQ(dialog.cbDischargeLineStyle->currentText(), "psSolid");
    // The width wraps from 4 to 0.
    dialog.udChargeLineWidth->setValue(4);
    QTest::keyClick(dialog.udChargeLineWidth, Qt::Key_Up);
    EXPECT_EQ(dialog.udChargeLineWidth->value(), 0);
}

TEST_F(PropertyDialog, RemovingACurveDropsItFromListsWindowAndChart)
{
    form->AddServiceCurve(service, 0);
    form->AddServiceCurve(service, 1);
    Open(TDiagramPropertyDialog::PageCurves);
    ASSERT_EQ(dialog.cbCurves2->count(), 2);
    EXPECT_TRUE(dialog.cbCurves2->itemText(0).endsWith(", mA"));  // descending order
    const QString removed = dialog.cbCurves2->currentText();
    QTest::mouseClick(dialog.btnRemoveCurve, Qt::LeftButton);
    EXPECT_EQ(dialog.cbCurves->count(), 1);
    EXPECT_EQ(form->Chart()->GetCurve(removed), nullptr);
    EXPECT_EQ(form->FindCurveKeyByName(removed), nullptr);
}
