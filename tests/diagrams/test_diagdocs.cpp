// The diagram commands: the diagram file (exact lines, round trip, tolerant
// reading, damaged files), page numbers, print, copy, export.

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
    c->SetYAxisDigits(1);
    c->SetXAxisEndValue(960);
    c->SetXAxisNumSubSegments(3);
    Curve* voltage = form->AddServiceCurve(service, 0);
    form->AddServiceCurve(service, 1)->OverlapPhases = true;
    voltage->Styles[0] = LineStyle{8388608, psDash, 1};
    voltage->Styles[2] = LineStyle{65535, psSolid, 0};
    const QString path = TempFile("roundtrip.dgr");
    commands.SaveDiagramFile(path);
    const QStringList saved = Saved();
    commands.CloseAllDiagrams();

    TDiagramForm* opened = commands.OpenDiagramFile(path);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(tab.count(), 1);
    EXPECT_EQ(Saved(), saved);
    const Curve* v = opened->Chart()->GetCurve(opened->FindCurveKey(service, 0)->Name);
    EXPECT_EQ(v->Data.size(), 11u);  // measured values come from the database
    EXPECT_TRUE(opened->Chart()->NeedsRecalc());

    // Numbers follow the locale's separator; a decimal comma is no number elsewhere.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QStringList german = Saved();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(german.at(1), "YAxisStartValue=2,5");
    EXPECT_THROW(commands.LoadDiagram(german), DiagramError);
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

    // Numbers outside their range do not break the chart.
    commands.LoadDiagram({"ActiveYAxis=7", "YAxisNumSegments=0", "XAxisNumSubSegments=-2",
                          "Curve =17", "Unit =9", "WaitLineColor =1"});
    EXPECT_EQ(commands.ActiveDiagram()->Chart()->ActiveYAxis(), 0);
    EXPECT_EQ(commands.ActiveDiagram()->Chart()->CurveCount(), 0);
    EXPECT_FALSE(commands.ActiveDiagram()->Chart()->CopyToPicture(false).isNull());
}

TEST_F(DiagramCommands, SavingWithoutADiagramWritesAnEmptyFile)
{
    commands.NewDiagram();
    commands.CloseActiveDiagram();
    const QString path = TempFile("empty.dgr");
    WriteFile("empty.dgr", "old content");
    commands.SaveDiagramFile(path);
    EXPECT_EQ(QFile(path).size(), 0);
}

TEST_F(DiagramCommands, ExportCopyAndPrintProduceTheChartImage)
{
    TDiagramForm* form = commands.NewDiagram();
    form->AddServiceCurve(service, 0);
    const QString bmp = TempFile("diagram.bmp");
    commands.ExportDiagram(bmp);
    EXPECT_EQ(QImage(bmp, "BMP").size(), form->Chart()->size());
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
    form->Chart()->repaint();
    EXPECT_EQ(form->Chart()->PlotRect().left(), 60);
}
