// Damaged diagram files: files no chart can draw are refused by the open
// command with the reason, and thousands of mutated files neither crash, hang
// nor make the chart allocate without bound.

#include "AllocationWatch.h"
#include "ChartGeometry.h"
#include "DiagramFuzz.h"
#include "DiagramTestData.h"

#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <random>

namespace {

class DiagramFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const int battery = data.AddBattery();
        service = data.AddService(battery, 17);
        data.AddStep(service, 1, 0);
        data.AddStep(service, 2, 1);
        for (int t = 0; t <= 3000; t += 30)
            data.AddSample(service, t < 1500 ? 1 : 2, t, 5000 + t, t < 1500 ? 1000 : 500);
        // Not shown: the chart draws into its bitmap all the same, and a
        // shown window costs a few milliseconds per page.
        tab.resize(600, 400);
    }

    QString Path() const { return data.Path() + "/fuzz.dgr"; }

    DiagramTestData data;
    int service = 0;
    QTabWidget tab;
    QMenu popup;
    TDiagramPropertyDialog dialog;
    TDiagramCommands commands{&tab, &popup, data.DataModule.get(), &dialog};
};

QByteArray RandomBytes(int size, unsigned seed)
{
    std::mt19937 random(seed);
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

TEST_F(DiagramFiles, TheOpenCommandRefusesWhatNoChartCanDrawAndSaysWhy)
{
    QByteArray curveLines;
    while (curveLines.size() <= 2 * 1024 * 1024)
        curveLines += "Curve =17\r\nUnit =0\r\n";
    const struct
    {
        QByteArray Content;
        const char* Reason;
    } cases[] = {
        {"XAxisNumSegments=2147483647\r\n", "Zeile 1: 2147483647 für XAxisNumSegments"},
        {"ActiveYAxis=0\r\nYAxisNumSegments=30000000\r\n", "Zeile 2: 30000000 für YAxisNumSegments"},
        {"XAxisNumSegments=1000000\r\n", "XAxisNumSegments liegt außerhalb von"},
        {"YAxisNumSubSegments=101\r\n", "YAxisNumSubSegments"},
        {"XAxisEndValue=99999999999999999999\r\n", "für XAxisEndValue liegt außerhalb"},
        {"YAxisStartValue=inf\r\n", "YAxisStartValue"},
        {"YAxisEndValue=nan\r\n", "YAxisEndValue"},
        {"XAxisDigits=400\r\n", "XAxisDigits"},
        {"Curve =17\r\nUnit =0\r\nChargeLineWidth =2147483647\r\n", "Zeile 3"},
        {"Curve =17\r\nUnit =0\r\nWaitLineStyle =6\r\n", "WaitLineStyle"},
        {curveLines, "zu groß"},
        {RandomBytes(10 * 1024, 1).replace('=', 'x'), "keine Diagrammeinträge"},
        {"", "keine Diagrammeinträge"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Reason);
        QFile file(Path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.Content);
        file.close();
        QElapsedTimer timer;
        timer.start();
        QString reason;
        try {
            commands.OpenDiagramFile(Path());
        } catch (const DiagramError& e) {
            reason = e.message();
        }
        EXPECT_LT(timer.elapsed(), 1000);
        EXPECT_TRUE(reason.contains(QString::fromUtf8(c.Reason))) << reason.toStdString();
        EXPECT_EQ(tab.count(), 0);  // the new page is removed again
    }
    // Values at the limits still open.
    QFile file(Path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("XAxisNumSegments=100\r\nYAxisNumSubSegments=100\r\nXAxisEndValue=1e9\r\n"
               "Curve =17\r\nUnit =1\r\nChargeLineWidth =20\r\nWaitLineStyle =5\r\n");
    file.close();
    TDiagramForm* form = commands.OpenDiagramFile(Path());
    EXPECT_EQ(form->Chart()->XAxisNumSegments(), 100);
    EXPECT_EQ(form->Chart()->GetCurve(form->Chart()->CurveNames().value(0))->Styles[1].Width, 20);
}

TEST_F(DiagramFiles, TheChartLayoutCapsWhatASetterLetsThrough)
{
    TDiagramForm* form = commands.NewDiagram();
    form->AddServiceCurve(service, 0);
    form->AddServiceCurve(service, 1);
    TMultiChart* chart = form->Chart();
    chart->SetXAxisNumSegments(2147483647);
    chart->SetXAxisNumSubSegments(2147483647);
    chart->SetYAxisNumSegments(30000000);
    chart->SetXAxisEndValue(1e20);
    chart->SetYAxisEndValue(std::numeric_limits<double>::infinity());
    AllocationWatch::Start();
    QElapsedTimer timer;
    timer.start();
    const QImage picture = chart->CopyToPicture(false);
    const size_t largest = AllocationWatch::Stop();
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_FALSE(picture.isNull());
    EXPECT_LE(chart->XTickPos().size(), size_t(ChartGeometry::MaxLayoutTicks + 1));
    EXPECT_LE(chart->YTickPos().size(), size_t(ChartGeometry::MaxLayoutTicks + 1));
    EXPECT_LT(largest, size_t(16) << 20);
    // Time labels of absurd values stay defined.
    EXPECT_EQ(ChartGeometry::TimeLabel(-1e20), "-277777777777:46:40");
    EXPECT_EQ(ChartGeometry::TimeLabel(std::nan("")), "");
}

// A few thousand mutated files in seconds; the fuzz benchmark runs more.
TEST_F(DiagramFiles, MutatedFilesNeitherCrashNorHangNorAllocateWithoutBound)
{
    constexpr int kFiles = 2000;
    const QByteArray seed = DiagramFuzz::SeedFile(service);
    DiagramFuzz::Mutator mutator(20240613);
    int opened = 0;
    qint64 slowest = 0;
    size_t largestTicks = 0;
    QElapsedTimer total;
    total.start();
    AllocationWatch::Start();
    for (int i = 0; i < kFiles; ++i) {
        const QByteArray bytes = mutator.Mutate(seed);
        const DiagramFuzz::Outcome outcome = DiagramFuzz::OpenAndDraw(commands, Path(), bytes);
        opened += outcome.Opened ? 1 : 0;
        slowest = std::max(slowest, outcome.Nanoseconds);
        largestTicks = std::max(largestTicks, outcome.LargestTickArray);
        ASSERT_LT(outcome.Nanoseconds, 2000000000LL) << bytes.toStdString();
        ASSERT_EQ(tab.count(), 0) << bytes.toStdString();
    }
    const size_t largestAllocation = AllocationWatch::Stop();
    RecordProperty("seconds", QString::number(total.elapsed() / 1000.0).toStdString());
    RecordProperty("slowest_ms", QString::number(slowest / 1e6).toStdString());
    RecordProperty("largest_allocation", std::to_string(largestAllocation));
    EXPECT_GT(opened, kFiles / 10);
    EXPECT_LT(opened, kFiles);
    EXPECT_LE(largestTicks, size_t(ChartGeometry::MaxLayoutTicks + 1));
    EXPECT_LT(largestAllocation, size_t(16) << 20);
}

}  // namespace
