// The live control window fed the way the service manager feeds it.
#include <gtest/gtest.h>

#include "livecontrol/Accuctrlform.h"

#include "database/Datamodule.h"

#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <QLocale>

#include <map>
#include <utility>

namespace {

const QColor Blue(0, 0, 255);
const QColor Red(255, 0, 0);
const QColor Maroon(128, 0, 0);
const QColor Lime(0, 255, 0);
const QColor Green(0, 128, 0);

// Step rows of table sub, keyed by (treatment, step).
class FakeSteps {
public:
    std::map<std::pair<int, int>, StepRecord> rows;
    int reads = 0;

    void Put(int serviceID, int step, int function, int current, int duration, int capacity, int state)
    {
        rows[{serviceID, step}] = {serviceID, step, function, current, duration, capacity, state, 0};
    }
    StepListModel::StepReader Reader()
    {
        return [this](StepRecord& step) {
            ++reads;
            const auto it = rows.find({step.ServiceID, step.Step});
            if (it == rows.end())
                return false;
            step = it->second;
            return true;
        };
    }
};

class AccuControlFormTest : public ::testing::Test {
protected:
    AccuControlFormTest() : form(steps.Reader(), nullptr) {}

    QString GridText(int row, int column) const
    {
        return form.SubServiceQuery->index(row, column).data().toString();
    }

    FakeSteps steps;
    TAccuControlForm form;
};

}  // namespace

TEST_F(AccuControlFormTest, ShowTimeTexts)
{
    const std::pair<int, const char*> cases[] = {
        {0, "0:0:0"}, {59, "0:0:59"}, {60, "0:1:0"}, {3599, "0:59:59"}, {86399, "23:59:59"}, {3725, "1:2:5"}};
    for (const auto& [seconds, text] : cases) {
        form.ShowTime(seconds);
        EXPECT_EQ(form.TimePanel->text(), text) << seconds;
    }
}

TEST_F(AccuControlFormTest, VoltageAndCurrentTextsUseTheLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German));
    form.ShowVoltage(7.215);
    form.ShowCurrent(0.5);
    QLocale::setDefault(saved);
    EXPECT_EQ(form.VPanel->text(), "7,215 V");
    EXPECT_EQ(form.APanel->text(), "0,5 A");
    EXPECT_EQ(form.VoltageGauge->Value(), 7.215);
}

TEST_F(AccuControlFormTest, CapacityBelowAboveAndExactlyNominal)
{
    form.SetNominalCapacity(1000);
    form.SetStepFunction(Laden);
    form.ShowCapacity(600);
    EXPECT_EQ(form.CapacityLabel->text(), "600mAh");
    EXPECT_EQ(form.PercentLabel->text(), "60%");
    EXPECT_EQ(form.PercentPie->StartAngle(), -127);
    EXPECT_EQ(form.PercentPie->EndAngle(), 90);
    EXPECT_EQ(form.PercentPie->BrushColor(), Lime);
    EXPECT_EQ(form.PointColor(), Lime);
    EXPECT_FALSE(form.HundredPercentCircle->Filled());
    EXPECT_FALSE(form.PercentPie->isHidden());

    form.SetStepFunction(Entladen);
    form.ShowCapacity(1250);
    EXPECT_EQ(form.PercentLabel->text(), "125%");
    EXPECT_TRUE(form.HundredPercentCircle->Filled());
    EXPECT_EQ(form.HundredPercentCircle->BrushColor(), Red);
    EXPECT_EQ(form.PercentPie->BrushColor(), Maroon);
    EXPECT_EQ(form.PercentPie->StartAngle(), -1);
    EXPECT_EQ(form.PercentPie->PaintedSpan(), 91);

    // Exactly nominal is not over: the whole disc, not a one-degree sliver.
    form.SetStepFunction(Laden);
    form.ShowCapacity(1000);
    EXPECT_EQ(form.PercentLabel->text(), "100%");
    EXPECT_FALSE(form.HundredPercentCircle->Filled());
    EXPECT_EQ(form.PercentPie->StartAngle(), -271);
    EXPECT_EQ(form.PercentPie->PaintedSpan(), 360);
    form.ShowCapacity(1001);
    EXPECT_TRUE(form.HundredPercentCircle->Filled());
    EXPECT_EQ(form.PercentPie->BrushColor(), Green);

    // An unknown step function keeps the colours.
    form.SetStepFunction(Entladen);
    form.ShowCapacity(100);
    form.SetStepFunction(7);
    form.ShowCapacity(300);
    EXPECT_EQ(form.PointColor(), Red);
    EXPECT_EQ(form.PercentPie->BrushColor(), Red);
    EXPECT_EQ(form.PercentLabel->text(), "30%");
}

TEST_F(AccuControlFormTest, WaitStepHidesTheGroupAndPaintsBluePoints)
{
    form.SetNominalCapacity(1000);
    form.SetStepFunction(Laden);
    form.ShowCapacity(500);
    form.AddVoltagePoint(6.0);   // takes the colour of the previous tick
    form.SetStepFunction(Warten);
    form.ShowCapacity(500);
    EXPECT_TRUE(form.PercentLabel->isHidden());
    EXPECT_TRUE(form.HundredPercentCircle->isHidden());
    form.AddVoltagePoint(6.0);
    ASSERT_EQ(form.pf->Points().size(), 2u);
    EXPECT_EQ(form.pf->Points()[0].color, Lime);
    EXPECT_EQ(form.pf->Points()[1].color, Blue);
    EXPECT_EQ(form.pf->Points()[1].height, 50);   // 6 V of a 12 V scale
}

TEST_F(AccuControlFormTest, NominalCapacityZeroHidesTheGroupInsteadOfDividing)
{
    form.SetStepFunction(Laden);
    form.ShowCapacity(700);
    EXPECT_TRUE(form.PercentLabel->isHidden());
    EXPECT_EQ(form.PointColor(), Blue);
}

TEST_F(AccuControlFormTest, VoltageAndCurrentScalesFollowTheBatteryAndTerminal)
{
    const std::pair<double, double> cases[] = {{6, 8}, {7, 12}, {10, 12}, {12, 20}, {18, 20}, {24, 48}};
    for (const auto& [nominal, end] : cases) {
        TAccuControlForm window(steps.Reader(), nullptr);
        window.SetupService(1, "Ohmrida an COM1: Akku 3", nominal, 0.5);
        EXPECT_EQ(window.VoltageGauge->End(), end) << nominal << " V";
    }

    form.SetupService(1, "Lumo an COM2: Akku 4", 4, 0.5);
    EXPECT_EQ(form.CurrentGauge->End(), 0.6);
    EXPECT_EQ(form.CurrentGauge->Digits(), 1u);
    EXPECT_EQ(form.CurrentGauge->Segments(), 3u);
    EXPECT_EQ(form.TerminalLabel->text(), "Lumo an COM2: Akku 4");
    TAccuControlForm tesk(steps.Reader(), nullptr);
    tesk.SetupService(2, "Tesk an COM3: Akku 5", 4, 2.0);
    EXPECT_EQ(tesk.CurrentGauge->LabelTexts(), QStringList({"0", "1", "2"}));
}

TEST_F(AccuControlFormTest, StepListShowsTheTreatmentsRowsAndRefreshes)
{
    steps.Put(7, 1, Entladen, 200, 3725, 180, OK);
    steps.Put(7, 2, Laden, 500, 0, 0, Laeuft);
    steps.Put(8, 1, Laden, 100, 0, 0, Folgt);   // another treatment
    form.SetupService(7, "Ohmrida an COM1: Akku 3", 4, 0.5);

    ASSERT_EQ(form.SubServiceQuery->rowCount(), 2);
    EXPECT_EQ(GridText(0, StepListModel::FunctionString), "Entladen");
    EXPECT_EQ(GridText(0, StepListModel::Parameter), "200");
    EXPECT_EQ(GridText(0, StepListModel::DurationString), "1:2:5");
    EXPECT_EQ(GridText(0, StepListModel::StateString), "OK");
    EXPECT_EQ(GridText(1, StepListModel::DurationString), "0");
    EXPECT_EQ(GridText(1, StepListModel::StateString), "läuft");

    steps.Put(7, 2, Laden, 500, 60, 45, Fehler);
    form.RefreshSteps();
    EXPECT_EQ(GridText(1, StepListModel::StateString), "Fehler!");
    EXPECT_EQ(GridText(1, StepListModel::DurationString), "0:1:0");
}

TEST_F(AccuControlFormTest, ASilentChargerIsShownUntilItAnswersAgain)
{
    form.resize(287, 201);
    form.show();
    form.SetupService(7, "Ohmrida an COM1: Akku 3", 12, 2);
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

    form.ShowNoAnswer(130);
    EXPECT_TRUE(form.NoAnswer());
    EXPECT_TRUE(form.StatusLabel->isVisible());
    EXPECT_EQ(form.StatusLabel->text(), "keine Antwort seit 0:2:10");
    for (QWidget* greyed : {static_cast<QWidget*>(form.VoltageGauge), static_cast<QWidget*>(form.CurrentGauge),
                            static_cast<QWidget*>(form.pf), static_cast<QWidget*>(form.VPanel),
                            static_cast<QWidget*>(form.APanel), static_cast<QWidget*>(form.TimePanel)})
        EXPECT_FALSE(greyed->isEnabled());
    EXPECT_FALSE(hasNeedleRed(form.VoltageGauge));
    form.ShowNoAnswer(3725);
    EXPECT_EQ(form.StatusLabel->text(), "keine Antwort seit 1:2:5");

    // The next answered poll starts with ShowTime.
    form.ShowTime(61);
    EXPECT_FALSE(form.NoAnswer());
    EXPECT_FALSE(form.StatusLabel->isVisible());
    EXPECT_TRUE(form.VoltageGauge->isEnabled());
    EXPECT_TRUE(form.VPanel->isEnabled());
    EXPECT_TRUE(hasNeedleRed(form.VoltageGauge));
}

TEST_F(AccuControlFormTest, AtTheDefaultSizeTextsFitAndFourStepsShow)
{
    steps.Put(7, 1, Entladen, 1000, 10572, 1510, Abgebrochen);
    steps.Put(7, 2, Laden, 1000, 10572, 151080, OK);
    steps.Put(7, 3, Warten, 0, 600, 0, Laeuft);
    steps.Put(7, 4, Entladen, 1000, 0, 0, Folgt);
    form.resize(287, 201);
    form.show();
    form.SetupService(7, "Ohmrida-Lader an COM1: Akku 151", 12, 2);
    form.SetNominalCapacity(2000);
    form.SetStepFunction(Laden);
    form.ShowCapacity(151080);

    // Caption and capacity text never overlap; a cut caption keeps its text as tool tip.
    const int capacityTextLeft =
        form.CapacityLabel->geometry().right() + 1
        - form.CapacityLabel->fontMetrics().horizontalAdvance(form.CapacityLabel->text());
    EXPECT_LT(form.TerminalLabel->geometry().right(), capacityTextLeft);
    EXPECT_EQ(form.TerminalLabel->toolTip().isEmpty(), form.TerminalLabel->text() == "Ohmrida-Lader an COM1: Akku 151");

    QTableView* grid = form.SubServicesDBGrid;
    const QFontMetrics metrics(grid->font());
    for (int row = 0; row < 4; ++row) {
        EXPECT_LE(grid->rowViewportPosition(row) + grid->rowHeight(row), grid->viewport()->height()) << row;
        for (int column = 0; column < StepListModel::ColumnCount; ++column) {
            const QString text = GridText(row, column);
            EXPECT_GE(grid->columnWidth(column), metrics.horizontalAdvance(text) + 6) << text.toStdString();
        }
    }
    for (int column = 0; column < StepListModel::ColumnCount; ++column) {
        const QString title = form.SubServiceQuery->headerData(column, Qt::Horizontal).toString();
        EXPECT_GE(grid->columnWidth(column), metrics.horizontalAdvance(title) + 6) << title.toStdString();
    }
    EXPECT_EQ(GridText(0, StepListModel::DurationString), "2:56:12");
    EXPECT_FALSE(grid->wordWrap());
    EXPECT_FALSE(grid->horizontalScrollBar()->isVisible());
}

TEST_F(AccuControlFormTest, WriteFailureShowsBesideANoAnswerAndGoesWithTheRecovery)
{
    form.resize(287, 201);
    form.show();
    form.SetupService(7, "Lumo an COM1: Akku 3", 6, 0.5);
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
    // The line may be cut to stay clear of the percentage; the full text is its tool tip then.
    const QString shown = form.StatusLabel->toolTip().isEmpty() ? form.StatusLabel->text() : form.StatusLabel->toolTip();
    EXPECT_EQ(failing, shown);
    EXPECT_LT(form.StatusLabel->geometry().right(), form.PercentLabel->geometry().right()
                                                        - form.PercentLabel->fontMetrics().horizontalAdvance("60%"))
        << "the status stays clear of the percentage";
    EXPECT_TRUE(form.VPanel->isEnabled()) << "the readings are fresh; only their storing fails";

    // A silent charger as well: both are said, and the end of one leaves the other.
    form.ShowNoAnswer(130);
    const QString both = form.StatusLabel->toolTip().isEmpty() ? form.StatusLabel->text() : form.StatusLabel->toolTip();
    EXPECT_EQ(QStringLiteral("keine Antwort seit 0:2:10; ") + failing, both);
    form.ShowTime(61);
    EXPECT_FALSE(form.NoAnswer());
    EXPECT_TRUE(form.StatusLabel->isVisible());
    EXPECT_TRUE((form.StatusLabel->toolTip().isEmpty() ? form.StatusLabel->text() : form.StatusLabel->toolTip())
                    .startsWith("Speichern fehlgeschlagen"));

    WriteStatus recovered;
    recovered.RecoveredSamples = 12;
    form.ShowWriteStatus(recovered);
    EXPECT_FALSE(form.WriteFailing());
    EXPECT_FALSE(form.StatusLabel->isVisible());
}
