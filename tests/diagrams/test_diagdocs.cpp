// The diagram commands: the diagram file (exact lines, round trip, tolerant
// reading, damaged and mutated files), page numbers, print, copy, export.

#include "tests/diagrams/AllocationWatch.h"
#include "diagrams/ChartGeometry.h"
#include "tests/diagrams/DiagramFuzz.h"
#include "tests/diagrams/DiagramTestData.h"
#include "tests/diagrams/WaitForCurves.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QDir>
#include <QPrinter>
#include <QProgressBar>
#include <QTest>

#include <gtest/gtest.h>

#include <random>

namespace {

class DiagramCommands : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));  // a decimal point
        service = data.AddDischargeCharge(17, 600, 60);
        tab.resize(600, 400);
        tab.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&tab));
    }

    QString TempFile(const QString& name = "test.dgr") const { return data.Path() + "/" + name; }

    QString WriteFile(const QByteArray& bytes, const QString& name = "test.dgr")
    {
        QFile f(TempFile(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        return f.fileName();
    }

    QStringList Saved() const
    {
        QStringList lines;
        commands.SaveDiagram(lines);
        return lines;
    }

    const Curve* CurveOf(TDiagramForm* form, int unit) const
    {
        const TDiagramForm::CurveKey* key = form->FindCurveKey(service, unit);
        return key ? form->Chart()->GetCurve(key->Name) : nullptr;
    }

    DiagramTestData data;
    int service = 0;
    QTabWidget tab;
    QMenu popup;
    TDiagramPropertyDialog dialog;
    TDiagramCommands commands{&tab, &popup, data.DataModule.get(), &dialog};
};

}  // namespace

TEST_F(DiagramCommands, TheDefaultChartWithTheVoltageCurveOfTreatment17SavesTheseLines)
{
    TDiagramForm* form = commands.NewDiagram();
    form->Chart()->SetYAxisEndValue(100);  // the default scaling of a bare chart
    ASSERT_NE(form->AddServiceCurve(17, 0), nullptr);
    commands.SaveDiagramFile(TempFile());
    const QStringList expected = {
        "ActiveYAxis=0", "YAxisStartValue=0", "YAxisEndValue=100", "YAxisDigits=0",
        "YAxisNumSegments=4", "YAxisNumSubSegments=5", "XAxisStartValue=0", "XAxisEndValue=600",
        "XAxisDigits=0", "XAxisNumSegments=5", "XAxisNumSubSegments=4", "Curve =17", "Unit =0",
        "DischargeLineColor =255", "DischargeLineStyle =0", "DischargeLineWidth =2",
        "ChargeLineColor =32768", "ChargeLineStyle =0", "ChargeLineWidth =2",
        "WaitLineColor =16711680", "WaitLineStyle =0", "WaitLineWidth =2", "OverlapPhases =0"};
    QFile f(TempFile());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), (expected.join("\r\n") + "\r\n").toLatin1());
}

TEST_F(DiagramCommands, SavingAndOpeningRestoresScalingCurvesAndStyles)
{
    TDiagramForm* form = commands.NewDiagram();
    TMultiChart* c = form->Chart();
    c->SetYAxisStartValue(2.5);
    c->SetYAxisEndValue(12.5);
    c->SetYAxisDigits(1);
    c->SetXAxisEndValue(960);
    c->SetXAxisNumSubSegments(3);
    Curve* voltage = form->AddServiceCurve(service, 0);
    form->AddServiceCurve(service, 1)->OverlapPhases = true;
    voltage->Styles[0] = LineStyle{8388608, psDash, 1};
    voltage->Styles[2] = LineStyle{65535, psSolid, 0};
    commands.SaveDiagramFile(TempFile());
    const QStringList saved = Saved();
    commands.CloseAllDiagrams();

    // Not painted while its curves load, so the pending recalculation shows.
    tab.hide();
    TDiagramForm* opened = commands.OpenDiagramFile(TempFile());
    ASSERT_TRUE(CurvesLoaded(*opened));
    EXPECT_EQ(tab.count(), 1);
    EXPECT_EQ(Saved(), saved);
    EXPECT_EQ(CurveOf(opened, 0)->Data.size(), 11u);  // measured values come from the database
    EXPECT_TRUE(opened->Chart()->NeedsRecalc());

    // Numbers follow the locale's separator; a decimal comma is no number elsewhere.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QStringList german = Saved();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(german.at(1), "YAxisStartValue=2,5");
    EXPECT_THROW(commands.LoadDiagram(german), DiagramError);
}

TEST_F(DiagramCommands, AMalformedOrMissingFileRemovesItsNewPageAndFailsOnce)
{
    commands.NewDiagram();
    int failures = 0;
    try {
        commands.OpenDiagramFile(WriteFile("YAxisEndValue=40\r\nXAxisNumSegments=fünf\r\nXAxisEndValue=50\r\n"));
    } catch (const DiagramError& e) {
        ++failures;
        EXPECT_TRUE(e.message().contains("fünf"));
    }
    EXPECT_EQ(failures, 1);
    EXPECT_THROW(commands.OpenDiagramFile(TempFile("missing.dgr")), DiagramError);
    EXPECT_EQ(tab.count(), 1);
    EXPECT_DOUBLE_EQ(commands.ActiveDiagram()->Chart()->YAxisEndValue(), 20);  // the open page is untouched
}

TEST_F(DiagramCommands, ExportCopyAndPrintProduceTheChartImage)
{
    TDiagramForm* form = commands.NewDiagram();
    form->AddServiceCurve(service, 0);
    commands.ExportDiagram(TempFile("diagram.bmp"));
    EXPECT_EQ(QImage(TempFile("diagram.bmp"), "BMP").size(), form->Chart()->size());
    EXPECT_THROW(commands.ExportDiagram(TempFile("no/such/folder.bmp")), DiagramError);

    commands.CopyDiagram();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), form->Chart()->size());

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(TempFile("diagram.pdf"));
    commands.PrintDiagram(printer, QFont());
    EXPECT_GT(QFile(TempFile("diagram.pdf")).size(), 1000);
    // The next screen paint is scaled for the window again.
    form->Chart()->repaint();
    EXPECT_EQ(form->Chart()->PlotRect().left(), 60);
}

TEST_F(DiagramCommands, ARecordingOpensScaledToItsDataAndShowAllScalesAgainAfterAZoom)
{
    // Three and a half hours, 5.0 to 17.6 V at 1000, then 500 mA.
    const int recording = data.AddDischargeCharge(0, 12600, 60);
    auto select = [&](int id) {
        TBRASKDataModule::Service s;
        s.ID = id;
        ASSERT_TRUE(data.DataModule->LoadService(s));
        data.DataModule->ReopenBatteries(s.BatteryID);
        data.DataModule->ReopenServices(id);
        ASSERT_EQ(data.DataModule->SelectedServiceID(), id);
    };
    auto scaling = [](const TMultiChart& c, int axis) {
        const Axis& x = c.XAxis();
        const Axis& y = c.YAxis(axis);
        return std::make_tuple(x.StartValue, x.EndValue, x.NumSegments, y.StartValue, y.EndValue, y.NumSegments);
    };
    select(recording);
    commands.ShowCurveOfCurrentService(0);
    commands.ShowCurveOfCurrentService(1);
    TDiagramForm* form = commands.ActiveDiagram();
    ASSERT_TRUE(CurvesLoaded(*form));
    TMultiChart& c = *form->Chart();
    const auto fittedVolts = std::make_tuple(0.0, 14400.0, 4, 5.0, 20.0, 3);
    EXPECT_EQ(scaling(c, 0), fittedVolts);
    EXPECT_EQ(scaling(c, 1), std::make_tuple(0.0, 14400.0, 4, 0.0, 1000.0, 5));
    EXPECT_EQ(form->ZoomStackSize(), 0);
    c.repaint();
    EXPECT_EQ(QStringList({c.XLabels().value(1), c.YLabels().value(1)}), QStringList({"1:0:0", "10"}));

    // A zoom with the mouse is the user's scaling: another recording added
    // and a live point beyond the axes leave it.
    const QRect plot = c.PlotRect();
    QTest::mousePress(&c, Qt::LeftButton, {}, plot.topLeft() + QPoint(2, 2));
    QTest::mouseMove(&c, plot.bottomRight() - QPoint(2, 2));
    QTest::mouseRelease(&c, Qt::LeftButton, {}, plot.bottomRight() - QPoint(2, 2));
    const auto zoomed = scaling(c, 0);
    ASSERT_NE(zoomed, fittedVolts);
    select(service);
    commands.ShowCurveOfCurrentService(0);
    ASSERT_TRUE(CurvesLoaded(*form));
    form->AddLiveSample(recording, 0, 15000, 18.0, 1);
    EXPECT_EQ(scaling(c, 0), zoomed);

    // "Alles zeigen" takes in everything and can be taken back; from then on
    // a live point beyond the axes scales them again.
    commands.ShowAll();
    EXPECT_EQ(scaling(c, 0), std::make_tuple(0.0, 18000.0, 5, 5.0, 20.0, 3));
    EXPECT_EQ(form->ZoomStackSize(), 2);
    form->AddLiveSample(recording, 0, 18060, 21.0, 1);
    EXPECT_EQ(scaling(c, 0), std::make_tuple(0.0, 21600.0, 6, 5.0, 25.0, 4));
    form->ZoomBack();
    EXPECT_EQ(scaling(c, 0), zoomed);

    // A diagram file keeps its own scaling.
    commands.SaveDiagramFile(TempFile());
    TDiagramForm* opened = commands.OpenDiagramFile(TempFile());
    EXPECT_EQ(scaling(*opened->Chart(), 0), zoomed);
    EXPECT_FALSE(opened->FollowsData());
}

TEST_F(DiagramCommands, TheOpenCommandRefusesWhatNoChartCanDrawAndSaysWhy)
{
    QByteArray curveLines;
    while (curveLines.size() <= 2 * 1024 * 1024)
        curveLines += "Curve =17\r\nUnit =0\r\n";
    std::mt19937 random(1);
    QByteArray garbage(10 * 1024, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random());
    garbage.replace('=', 'x');
    const std::pair<QByteArray, const char*> cases[] = {
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
        {garbage, "keine Diagrammeinträge"},
        {"", "keine Diagrammeinträge"},
    };
    for (const auto& [content, expected] : cases) {
        SCOPED_TRACE(expected);
        QElapsedTimer timer;
        timer.start();
        QString reason;
        try {
            commands.OpenDiagramFile(WriteFile(content));
        } catch (const DiagramError& e) {
            reason = e.message();
        }
        EXPECT_LT(timer.elapsed(), 1000);
        EXPECT_TRUE(reason.contains(QString::fromUtf8(expected))) << reason.toStdString();
        EXPECT_EQ(tab.count(), 0);  // the new page is removed again
    }
    // Values at the limits still open.
    TDiagramForm* form = commands.OpenDiagramFile(
        WriteFile("XAxisNumSegments=100\r\nYAxisNumSubSegments=100\r\nXAxisEndValue=1e9\r\n"
                  "Curve =17\r\nUnit =1\r\nChargeLineWidth =20\r\nWaitLineStyle =5\r\n"));
    EXPECT_EQ(form->Chart()->XAxisNumSegments(), 100);
    EXPECT_EQ(CurveOf(form, 1)->Styles[1].Width, 20);
}

// A few thousand mutated files in seconds; the fuzz benchmark runs more.
TEST_F(DiagramCommands, MutatedFilesNeitherCrashNorHangNorAllocateWithoutBound)
{
    // Never shown: a shown window costs a few milliseconds per page.
    QTabWidget hidden;
    hidden.resize(600, 400);
    TDiagramCommands unseen{&hidden, &popup, data.DataModule.get(), &dialog};
    constexpr int kFiles = 2000;
    const QByteArray seed = DiagramFuzz::SeedFile(service);
    DiagramFuzz::Mutator mutator(20240613);
    int opened = 0;
    size_t largestTicks = 0;
    AllocationWatch::Start();
    for (int i = 0; i < kFiles; ++i) {
        const QByteArray bytes = mutator.Mutate(seed);
        const DiagramFuzz::Outcome outcome = DiagramFuzz::OpenAndDraw(unseen, TempFile(), bytes);
        opened += outcome.Opened ? 1 : 0;
        largestTicks = std::max(largestTicks, outcome.LargestTickArray);
        ASSERT_LT(outcome.Nanoseconds, 2000000000LL) << bytes.toStdString();
        ASSERT_EQ(hidden.count(), 0) << bytes.toStdString();
    }
    EXPECT_LT(AllocationWatch::Stop(), size_t(16) << 20);
    EXPECT_GT(opened, kFiles / 10);
    EXPECT_LT(opened, kFiles);
    EXPECT_LE(largestTicks, size_t(ChartGeometry::MaxLayoutTicks + 1));
}

// A long recording loads beside the window: the page says so, fills and is
// drawn when all samples are in; a page closed while it loads ends its read.
TEST_F(DiagramCommands, ALongRecordingLoadsBesideTheWindowAndItsPageClosesWhileLoading)
{
    constexpr int kSamples = 60000;
    const int recording = data.AddService(data.AddBattery());
    data.AddStep(recording, 1, 0);
    data.AddStep(recording, 2, 1);
    QVector<Sample> samples;
    for (int t = 0; t < kSamples; ++t)
        samples.append(Sample{recording, t < kSamples / 2 ? 1 : 2, t, 5000 + t % 700, 1000});
    data.Records->InsertSamples(samples);
    TBRASKDataModule::Service s;
    s.ID = recording;
    ASSERT_TRUE(data.DataModule->LoadService(s));
    data.DataModule->ReopenBatteries(s.BatteryID);
    data.DataModule->ReopenServices(recording);
    const auto threads = [] { return QDir(QStringLiteral("/proc/self/task")).count(); };
    const auto threadsBefore = threads();

    commands.ShowCurveOfCurrentService(0);
    TDiagramForm* form = commands.ActiveDiagram();
    ASSERT_TRUE(form->Loading());
    const auto* progress = form->findChild<QProgressBar*>(QStringLiteral("LoadProgress"));
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->isVisible());
    const Curve* curve = form->Chart()->GetCurve(form->FindCurveKey(recording, 0)->Name);
    ASSERT_TRUE(QTest::qWaitFor([&] { return curve->Data.size() == size_t(kSamples) && curve->PointCount() > 0; }));
    EXPECT_FALSE(progress->isVisible());
    EXPECT_FLOAT_EQ(curve->Data.back().Time, float(kSamples - 1));
    EXPECT_EQ(form->Chart()->XAxis().EndValue, 64800);  // scaled to its data: 18 hours

    // Closed while it loads, with another page loading beside it.
    commands.ShowCurveOfCurrentService(1);
    commands.NewDiagram();
    commands.ShowCurveOfCurrentService(0);
    ASSERT_TRUE(commands.ActiveDiagram()->Loading());
    commands.CloseActiveDiagram();
    commands.CloseAllDiagrams();
    EXPECT_EQ(tab.count(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return threads() <= threadsBefore; }));
}
