// The live control window fed the way the service manager feeds it.
#include <gtest/gtest.h>

#include "livecontrol/Accuctrlform.h"

#include "database/Datamodule.h"

#include <QImage>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>

#include <map>
#include <utility>

namespace {

class AccuControlFormTest : public ::testing::Test {
protected:
    AccuControlFormTest() : form(Reader(), nullptr) {}

    // Step rows of table sub, keyed by (treatment, step).
    StepListModel::StepReader Reader()
    {
        return [this](StepRecord& step) {
            const auto it = steps.find({step.ServiceID, step.Step});
            if (it != steps.end())
                step = it->second;
            return it != steps.end();
        };
    }
    void Put(int serviceID, int step, int function, int current, int duration, int capacity, int state)
    {
        steps[{serviceID, step}] = {serviceID, step, function, current, duration, capacity, state, 0};
    }
    QString GridText(int row, int column) const { return form.SubServiceQuery->index(row, column).data().toString(); }
    // The status line's whole text: it may be cut, the full text is its tool tip then.
    QString Status() const
    {
        return form.StatusLabel->toolTip().isEmpty() ? form.StatusLabel->text() : form.StatusLabel->toolTip();
    }
    void ShowAtDefaultSize(const QString& caption, double nominalVolts, double maxAmps)
    {
        form.resize(287, 201);
        form.show();
        form.SetupService(7, caption, nominalVolts, maxAmps);
    }

    std::map<std::pair<int, int>, StepRecord> steps;
    TAccuControlForm form;
};

}  // namespace

TEST_F(AccuControlFormTest, CapacityPieRingAndColoursBelowAboveAndExactlyNominalAndWhileWaiting)
{
    const QColor red(255, 0, 0), maroon(128, 0, 0), lime(0, 255, 0), green(0, 128, 0);
    // Nominal 0 hides the group instead of dividing.
    form.SetStepFunction(Laden);
    form.ShowCapacity(700);
    EXPECT_TRUE(form.PercentLabel->isHidden());
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
        EXPECT_EQ(form.PercentLabel->text(), c.percent);
        EXPECT_FALSE(form.PercentPie->isHidden());
        if (c.span >= 0) {
            EXPECT_EQ(std::make_pair(form.PercentPie->StartAngle(), form.PercentPie->PaintedSpan()),
                      std::make_pair(c.startAngle, c.span));
        }
        EXPECT_EQ(form.HundredPercentCircle->Filled(), c.ringFilled);
        EXPECT_EQ(form.PercentPie->BrushColor(), c.pie);
    }
    EXPECT_EQ(form.PointColor(), red);
    form.SetStepFunction(Entladen);
    form.ShowCapacity(1250);
    EXPECT_EQ(form.HundredPercentCircle->BrushColor(), red);

    // A wait step hides the group and paints blue points.
    form.SetStepFunction(Laden);
    form.ShowCapacity(500);
    form.AddVoltagePoint(6.0);   // takes the colour of the previous tick
    form.SetStepFunction(Warten);
    form.ShowCapacity(500);
    EXPECT_TRUE(form.PercentLabel->isHidden());
    EXPECT_TRUE(form.HundredPercentCircle->isHidden());
    form.AddVoltagePoint(6.0);
    ASSERT_EQ(form.pf->Points().size(), 2u);
    EXPECT_EQ(std::make_tuple(form.pf->Points()[0].color, form.pf->Points()[1].color, form.pf->Points()[1].height),
              std::make_tuple(lime, QColor(0, 0, 255), 50));   // 6 V of a 12 V scale
}

TEST_F(AccuControlFormTest, ASilentChargerIsShownUntilItAnswersAgain)
{
    ShowAtDefaultSize("Ohmrida an COM1: Akku 3", 12, 2);
    form.ShowVoltage(13.2);
    auto hasNeedleRed = [](QWidget* gauge) {
        const QImage image = gauge->grab().toImage().convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) == qRgb(255, 0, 0))
                    return true;
        return false;
    };
    ASSERT_TRUE(hasNeedleRed(form.VoltageGauge));
    const QList<QWidget*> readings = {form.VoltageGauge, form.CurrentGauge, form.pf,
                                      form.VPanel,       form.APanel,       form.TimePanel};

    form.ShowNoAnswer(130);
    EXPECT_TRUE(form.NoAnswer());
    EXPECT_TRUE(form.StatusLabel->isVisible());
    EXPECT_EQ(form.StatusLabel->text(), "keine Antwort seit 0:2:10");
    for (QWidget* greyed : readings)
        EXPECT_FALSE(greyed->isEnabled());
    EXPECT_FALSE(hasNeedleRed(form.VoltageGauge));
    form.ShowNoAnswer(3725);
    EXPECT_EQ(form.StatusLabel->text(), "keine Antwort seit 1:2:5");

    form.ShowTime(61);   // the next answered poll starts with ShowTime
    EXPECT_FALSE(form.NoAnswer());
    EXPECT_FALSE(form.StatusLabel->isVisible());
    for (QWidget* reading : readings)
        EXPECT_TRUE(reading->isEnabled());
    EXPECT_TRUE(hasNeedleRed(form.VoltageGauge));
}

TEST_F(AccuControlFormTest, AtTheDefaultSizeTextsFitAndFourStepsShow)
{
    Put(7, 1, Entladen, 1000, 10572, 1510, Abgebrochen);
    Put(7, 2, Laden, 1000, 10572, 151080, OK);
    Put(7, 3, Warten, 0, 600, 0, Laeuft);
    Put(7, 4, Entladen, 1000, 0, 0, Folgt);
    ShowAtDefaultSize("Ohmrida-Lader an COM1: Akku 151", 12, 2);
    form.SetNominalCapacity(2000);
    form.SetStepFunction(Laden);
    form.ShowCapacity(151080);

    // Caption and capacity text never overlap; a cut caption keeps its text as tool tip.
    const int capacityTextLeft = form.CapacityLabel->geometry().right() + 1
                                 - form.CapacityLabel->fontMetrics().horizontalAdvance(form.CapacityLabel->text());
    EXPECT_LT(form.TerminalLabel->geometry().right(), capacityTextLeft);
    EXPECT_EQ(form.TerminalLabel->toolTip().isEmpty(), form.TerminalLabel->text() == "Ohmrida-Lader an COM1: Akku 151");

    QTableView* grid = form.SubServicesDBGrid;
    const QFontMetrics metrics(grid->font());
    for (int row = -1; row < 4; ++row) {   // -1: the column titles
        if (row >= 0) {
            EXPECT_LE(grid->rowViewportPosition(row) + grid->rowHeight(row), grid->viewport()->height()) << row;
        }
        for (int column = 0; column < StepListModel::ColumnCount; ++column) {
            const QString text =
                row < 0 ? form.SubServiceQuery->headerData(column, Qt::Horizontal).toString() : GridText(row, column);
            EXPECT_GE(grid->columnWidth(column), metrics.horizontalAdvance(text) + 6) << text.toStdString();
        }
    }
    EXPECT_EQ(GridText(0, StepListModel::DurationString), "2:56:12");
    EXPECT_FALSE(grid->wordWrap());
    EXPECT_FALSE(grid->horizontalScrollBar()->isVisible());
}

TEST_F(AccuControlFormTest, WriteFailureShowsBesideANoAnswerAndGoesWithTheRecovery)
{
    ShowAtDefaultSize("Lumo an COM1: Akku 3", 6, 0.5);
    form.SetNominalCapacity(1000);
    form.SetStepFunction(Laden);
    form.ShowCapacity(600);

    WriteStatus status;
    status.Failing = true;
    status.Since = QDateTime(QDate(2024, 3, 1), QTime(14, 5, 9));
    status.WaitingSamples = 12;
    form.ShowWriteStatus(status);
    EXPECT_TRUE(form.WriteFailing());
    EXPECT_TRUE(form.StatusLabel->isVisible());
    const QString failing = QStringLiteral("Speichern fehlgeschlagen seit 14:05:09 \u2013 12 Messwerte warten");
    EXPECT_EQ(Status(), failing);
    EXPECT_LT(form.StatusLabel->geometry().right(),
              form.PercentLabel->geometry().right() - form.PercentLabel->fontMetrics().horizontalAdvance("60%"))
        << "the status stays clear of the percentage";
    EXPECT_TRUE(form.VPanel->isEnabled()) << "the readings are fresh; only their storing fails";

    // A silent charger as well: both are said, and the end of one leaves the other.
    form.ShowNoAnswer(130);
    EXPECT_EQ(Status(), QStringLiteral("keine Antwort seit 0:2:10; ") + failing);
    form.ShowTime(61);
    EXPECT_FALSE(form.NoAnswer());
    EXPECT_EQ(Status(), failing);

    WriteStatus recovered;
    recovered.RecoveredSamples = 12;
    form.ShowWriteStatus(recovered);
    EXPECT_FALSE(form.WriteFailing());
    EXPECT_FALSE(form.StatusLabel->isVisible());
}
