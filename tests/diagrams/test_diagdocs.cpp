// The diagram commands: pages and their numbers, the diagram file (exact
// lines, round trip, tolerant reading, damaged files), print, copy, export.

#include "DiagramTestData.h"
#include "Diagdocs.h"
#include "Diagform.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QPrinter>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class DiagramCommands : public ::testing::Test
{
protected:
    void SetUp() override
    {
        battery = data.AddBattery();
        service = data.AddService(battery, 17);
        data.AddStep(service, 1, 0);
        data.AddStep(service, 2, 1);
        for (int t = 0; t <= 600; t += 60)
            data.AddSample(service, t < 300 ? 1 : 2, t, 5000 + t, 1000);
        tab.resize(600, 400);
        tab.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&tab));
    }

    QString TempFile(const QString& name) const { return data.Path() + "/" + name; }

    void WriteFile(const QString& name, const QByteArray& bytes)
    {
        QFile f(TempFile(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QStringList Saved() const
    {
        QStringList lines;
        commands.SaveDiagram(lines);
        return lines;
    }

    DiagramTestData data;
    int battery = 0;
    int service = 0;
    QTabWidget tab;
    QMenu popup;
    TDiagramPropertyDialog dialog;
    TDiagramCommands commands{&tab, &popup, data.DataModule.get(), &dialog};
};

const QStringList kDefaultHeader = {
    "ActiveYAxis=0",        "YAxisStartValue=0", "YAxisEndValue=100",     "YAxisDigits=0",
    "YAxisNumSegments=4",   "YAxisNumSubSegments=5", "XAxisStartValue=0", "XAxisEndValue=600",
    "XAxisDigits=0",        "XAxisNumSegments=5", "XAxisNumSubSegments=4"};

}  // namespace

TEST_F(DiagramCommands, TheDefaultChartWithTheVoltageCurveOfTreatment17SavesTheseLines)
{
    TDiagramForm* form = commands.NewDiagram();
    // The default scaling of a bare chart on the active voltage axis.
    form->Chart()->SetYAxisEndValue(100);
    ASSERT_EQ(service, 17);
    ASSERT_NE(form->AddServiceCurve(17, 0), nullptr);
    const QString path = TempFile("default.dgr");
    commands.SaveDiagramFile(path);

    QStringList expected = kDefaultHeader;
    expected << "Curve =17" << "Unit =0" << "DischargeLineColor =255" << "DischargeLineStyle =0"
             << "DischargeLineWidth =2" << "ChargeLineColor =32768" << "ChargeLineStyle =0"
             << "ChargeLineWidth =2" << "WaitLineColor =16711680" << "WaitLineStyle =0"
             << "WaitLineWidth =2" << "OverlapPhases =0";
    EXPECT_EQ(Saved(), expected);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), (expected.join("\r\n") + "\r\n").toLatin1());
}

TEST_F(DiagramCommands, SavingAndOpeningRestoresScalingCurvesAndStyles)
{
    TDiagramForm* form = commands.NewDiagram();
    TMultiChart* c = form->Chart();
    c->SetYAxisStartValue(2.5);
    c->SetYAxisEndValue(12.5);
    c->SetYAxisNumSegments(5);
    c->SetYAxisDigits(1);
    c->SetXAxisStartValue(60);
    c->SetXAxisEndValue(960);
    c->SetXAxisNumSegments(6);
    c->SetXAxisNumSubSegments(3);
    Curve* voltage = form->AddServiceCurve(service, 0);
    Curve* current = form->AddServiceCurve(service, 1);
    voltage->Styles[0] = LineStyle{8388608, psDash, 1};
    voltage->Styles[2] = LineStyle{65535, psSolid, 0};
    current->OverlapPhases = true;
    const QString path = TempFile("roundtrip.dgr");
    commands.SaveDiagramFile(path);
    const QStringList saved = Saved();
    commands.CloseAllDiagrams();

    TDiagramForm* opened = commands.OpenDiagramFile(path);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(tab.count(), 1);
    EXPECT_EQ(Saved(), saved);
    TMultiChart* o = opened->Chart();
    EXPECT_DOUBLE_EQ(o->YAxisStartValue(), 2.5);
    EXPECT_DOUBLE_EQ(o->XAxisEndValue(), 960);
    EXPECT_EQ(o->XAxisNumSubSegments(), 3);
    ASSERT_EQ(o->CurveCount(), 2);
    const TDiagramForm::CurveKey* key = opened->FindCurveKey(service, 0);
    ASSERT_NE(key, nullptr);
    const Curve* v = o->GetCurve(key->Name);
    EXPECT_EQ(v->Styles[0].Color, 8388608);
    EXPECT_EQ(v->Styles[0].Style, psDash);
    EXPECT_EQ(v->Styles[2].Width, 0);
    EXPECT_EQ(v->Data.size(), 11u);  // measured values come from the database
    EXPECT_TRUE(o->GetCurve(opened->FindCurveKey(service, 1)->Name)->OverlapPhases);
    EXPECT_TRUE(o->NeedsRecalc());
}

TEST_F(DiagramCommands, NumbersFollowTheLocaleSeparator)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TDiagramForm* form = commands.NewDiagram();
    form->Chart()->SetYAxisStartValue(0.5);
    const QStringList lines = Saved();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(lines.at(1), "YAxisStartValue=0,5");
    // A decimal comma is no number under a locale with a decimal point.
    EXPECT_THROW(commands.LoadDiagram(lines), DiagramError);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    commands.NewDiagram();
    commands.LoadDiagram(lines);
    EXPECT_DOUBLE_EQ(commands.ActiveDiagram()->Chart()->YAxisStartValue(), 0.5);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

TEST_F(DiagramCommands, BlanksAroundKeysAndValuesAndAnyLineEndsAreAccepted)
{
    WriteFile("blanks.dgr",
              "YAxisEndValue = 40 \r\n\r\n  Curve = 17\rUnit=\t0\nWaitLineWidth = 3\r\n"
              "no key here\r\nUnknownKey=1\r\n");
    TDiagramForm* form = commands.OpenDiagramFile(TempFile("blanks.dgr"));
    EXPECT_DOUBLE_EQ(form->Chart()->YAxisEndValue(), 40);
    const TDiagramForm::CurveKey* key = form->FindCurveKey(17, 0);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(form->Chart()->GetCurve(key->Name)->Styles[2].Width, 3);
}

TEST_F(DiagramCommands, StyleLinesBeforeTheFirstUnitAreIgnored)
{
    commands.NewDiagram();
    commands.LoadDiagram({"DischargeLineColor =65280", "OverlapPhases =1", "Curve =17",
                          "DischargeLineWidth =4", "Unit =0", "ChargeLineStyle =1"});
    TDiagramForm* form = commands.ActiveDiagram();
    const Curve* c = form->Chart()->GetCurve(form->FindCurveKey(17, 0)->Name);
    EXPECT_EQ(c->Styles[0].Color, 255);
    EXPECT_EQ(c->Styles[0].Width, 2);
    EXPECT_FALSE(c->OverlapPhases);
    EXPECT_EQ(c->Styles[1].Style, psDash);
}

TEST_F(DiagramCommands, AMalformedFileRemovesItsNewPageAndFailsOnce)
{
    commands.NewDiagram();
    WriteFile("bad.dgr", "YAxisEndValue=40\r\nXAxisNumSegments=fünf\r\nXAxisEndValue=50\r\n");
    int failures = 0;
    try {
        commands.OpenDiagramFile(TempFile("bad.dgr"));
    } catch (const DiagramError& e) {
        ++failures;
        EXPECT_TRUE(e.message().contains("fünf"));
    }
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(tab.count(), 1);
    EXPECT_EQ(tab.tabText(0), "Diagramm1");
    EXPECT_DOUBLE_EQ(commands.ActiveDiagram()->Chart()->YAxisEndValue(), 20);

    EXPECT_THROW(commands.OpenDiagramFile(TempFile("missing.dgr")), DiagramError);
    EXPECT_EQ(tab.count(), 1);
    commands.NewDiagram();
    EXPECT_EQ(tab.tabText(1), "Diagramm4");  // numbers of removed pages stay used
}

TEST_F(DiagramCommands, DamagedNumbersOutsideTheirRangeDoNotBreakTheChart)
{
    commands.NewDiagram();
    commands.LoadDiagram({"ActiveYAxis=7", "YAxisNumSegments=0", "XAxisNumSubSegments=-2",
                          "Curve =17", "Unit =9", "WaitLineColor =1"});
    TDiagramForm* form = commands.ActiveDiagram();
    EXPECT_EQ(form->Chart()->ActiveYAxis(), 0);
    EXPECT_EQ(form->Chart()->CurveCount(), 0);
    EXPECT_FALSE(form->Chart()->CopyToPicture(false).isNull());
}

TEST_F(DiagramCommands, SavingWithoutADiagramWritesAnEmptyFile)
{
    const QString path = TempFile("empty.dgr");
    WriteFile("empty.dgr", "old content");
    commands.SaveDiagramFile(path);
    EXPECT_EQ(QFile(path).size(), 0);
}

TEST_F(DiagramCommands, PageNumbersAreNeverReusedAndClosingActivatesTheFirstPage)
{
    commands.NewDiagram();
    commands.NewDiagram();
    EXPECT_EQ(commands.ActiveDiagramCaption(), "Diagramm2");
    commands.CloseActiveDiagram();
    commands.NewDiagram();
    EXPECT_EQ(tab.tabText(1), "Diagramm3");
    tab.setCurrentIndex(1);
    commands.CloseActiveDiagram();
    EXPECT_EQ(tab.currentIndex(), 0);
    EXPECT_EQ(commands.DiagramWindows().size(), 1u);
    commands.CloseAllDiagrams();
    EXPECT_EQ(tab.count(), 0);
    EXPECT_EQ(commands.ActiveDiagram(), nullptr);
    commands.CloseActiveDiagram();
    QStringList lines;
    commands.SaveDiagram(lines);
    EXPECT_TRUE(lines.isEmpty());
    EXPECT_FALSE(commands.HasPreviousZoom());
}

TEST_F(DiagramCommands, LiveSamplesReachEveryDiagramWindowInPageOrder)
{
    TDiagramForm* first = commands.NewDiagram();
    TDiagramForm* second = commands.NewDiagram();
    first->AddServiceCurve(service, 0);
    second->AddServiceCurve(service, 0);
    const std::vector<LiveSampleSink*> sinks = commands.LiveSampleSinks();
    ASSERT_EQ(sinks.size(), 2u);
    EXPECT_EQ(sinks[0], static_cast<LiveSampleSink*>(first));
    for (LiveSampleSink* sink : sinks)
        sink->AddLiveSample(service, 0, 660, 5.7, 1);
    for (TDiagramForm* form : {first, second})
        EXPECT_EQ(form->Chart()->GetCurve(form->FindCurveKey(service, 0)->Name)->Data.size(), 12u);
}

TEST_F(DiagramCommands, ShowCurveOfCurrentServiceMakesAPageWhenNeeded)
{
    data.DataModule->ReopenBatteries(battery);
    data.DataModule->ReopenServices(service);
    ASSERT_EQ(data.DataModule->SelectedServiceID(), service);
    commands.ShowCurveOfCurrentService(1);
    ASSERT_EQ(tab.count(), 1);
    EXPECT_NE(commands.ActiveDiagram()->FindCurveKey(service, 1), nullptr);
    commands.ShowCurveOfCurrentService(0);
    commands.ShowCurveOfCurrentService(0);
    EXPECT_EQ(tab.count(), 1);
    EXPECT_EQ(commands.ActiveDiagram()->Chart()->CurveCount(), 2);
}

TEST_F(DiagramCommands, ExportCopyAndPrintProduceTheChartImage)
{
    TDiagramForm* form = commands.NewDiagram();
    form->AddServiceCurve(service, 0);
    const QString bmp = TempFile("diagram.bmp");
    commands.ExportDiagram(bmp);
    QImage exported(bmp, "BMP");
    ASSERT_FALSE(exported.isNull());
    EXPECT_EQ(exported.size(), form->Chart()->size());
    EXPECT_THROW(commands.ExportDiagram(TempFile("no/such/folder.bmp")), DiagramError);

    commands.CopyDiagram();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), form->Chart()->size());

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString pdf = TempFile("diagram.pdf");
    printer.setOutputFileName(pdf);
    commands.PrintDiagram(printer, QFont());
    EXPECT_GT(QFile(pdf).size(), 1000);
    // The next screen paint is scaled for the window again.
    EXPECT_TRUE(form->Chart()->NeedsRecalc());
    form->Chart()->repaint();
    EXPECT_EQ(form->Chart()->PlotRect().left(), 60);
}

TEST_F(DiagramCommands, ZoomBackActsOnTheActiveDiagram)
{
    TDiagramForm* form = commands.NewDiagram();
    form->Chart()->AnnounceZooming();
    form->Chart()->SetXAxisEndValue(300);
    EXPECT_TRUE(commands.HasPreviousZoom());
    commands.ZoomBack();
    EXPECT_DOUBLE_EQ(form->Chart()->XAxisEndValue(), 600);
    EXPECT_FALSE(commands.HasPreviousZoom());
}
