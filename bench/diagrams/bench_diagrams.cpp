// Figures of the diagram code: recalculation and repaint of a chart with one
// million points, loading a treatment's curve of 100,000 samples beside the
// raw query on the same database, opening the diagram of a recording of
// 2,000,000 samples as the window does (time until drawn, peak memory, the
// window thread's longest stall meanwhile; goal under 50 ms), and a long fuzz
// run of mutated diagram files through the open command (number of files as
// first argument, default 20000). Prints the figures.

#include "tests/diagrams/AllocationWatch.h"
#include "tests/diagrams/DiagramFuzz.h"
#include "tests/diagrams/DiagramTestData.h"
#include "tests/diagrams/WaitForCurves.h"
#include "tests/support/PeakMemory.h"
#include "tests/support/StallProbe.h"
#include "diagrams/Diagform.h"
#include "diagrams/MultiChart.h"

#include "database/Datamodule.h"
#include "database/RecordStore.h"
#include "database/SqlStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <functional>

namespace {

// Best of several runs, in milliseconds.
double BestOf(int runs, const std::function<void()>& work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

void ChartFigures()
{
    constexpr int kPoints = 1000000;
    constexpr int kCurves = 3;
    TMultiChart chart;
    chart.resize(1600, 900);
    chart.SetXAxisIsTimeAxis(true);
    chart.SetFrameStyle(fsFull);
    chart.SetXAxisEndValue(kPoints / kCurves);
    for (int c = 0; c < kCurves; ++c) {
        const QString name = QStringLiteral("Kurve %1").arg(c);
        Curve* curve = chart.AddCurve(name, 0);
        curve->Data.reserve(kPoints / kCurves + 1);
        for (int i = 0; i < kPoints / kCurves + (c == 0 ? kPoints % kCurves : 0); ++i) {
            const double t = i;
            const double value = 50 + 30 * std::sin(t / 20000.0 + c) + 8 * std::sin(t * 0.37)
                                 + static_cast<double>((static_cast<long long>(i) * 7919) % 101 - 50) * 0.05;
            curve->Data.push_back(Curve::DataPoint{static_cast<float>(t),
                                                   static_cast<float>(value),
                                                   static_cast<int16_t>((i / 50000) % 3)});
        }
    }
    QImage image(chart.size(), QImage::Format_RGB32);
    {
        QPainter p(&image);
        chart.PaintTo(p, false);  // first paint: plot area and cache
    }
    const double recalc = BestOf(5, [&] { chart.Recalculate(); });
    size_t cached = 0;
    for (const QString& name : chart.CurveNames())
        cached += chart.GetCurve(name)->PointCount();
    const double repaint = BestOf(10, [&] {
        QPainter p(&image);
        chart.PaintTo(p, false);
    });
    const double copy = BestOf(10, [&] { chart.CopyToPicture(false); });
    std::printf("Chart, %d points in %d curves, 1600 x 900:\n", kPoints, kCurves);
    std::printf("  Recalculate:                  %8.1f ms (%zu cached points)\n", recalc, cached);
    std::printf("  repaint without recalculation:%8.1f ms\n", repaint);
    std::printf("  CopyToPicture (bitmap):       %8.1f ms\n", copy);

    // A zoomed view: one tenth of the time range visible.
    chart.SetXAxisStartValue(100000);
    chart.SetXAxisEndValue(100000 + kPoints / kCurves / 10.0);
    {
        QPainter p(&image);
        chart.PaintTo(p, false);
    }
    const double zoomedRecalc = BestOf(5, [&] { chart.Recalculate(); });
    const double zoomedRepaint = BestOf(10, [&] {
        QPainter p(&image);
        chart.PaintTo(p, false);
    });
    std::printf("  zoomed to a tenth: Recalculate %.1f ms, repaint %.1f ms\n", zoomedRecalc,
                zoomedRepaint);
}

void LoadFigures()
{
    constexpr int kSamples = 100000;
    QTemporaryDir dir;
    auto dataModule = std::make_unique<TBRASKDataModule>(dir.path());
    RecordStore records(dataModule->SharedStore());
    TBRASKDataModule::Battery battery;
    battery.ID = records.PeekBatteryID();
    records.AdvanceBatteryID();
    battery.Capacity = 2000;
    battery.Cells = 4;
    records.InsertBattery(battery);
    TBRASKDataModule::Service service;
    service.BatteryID = battery.ID;
    service.Program = 3;
    records.InsertService(service);
    for (int step = 1; step <= 2; ++step) {
        StepRecord record;
        record.ServiceID = service.ID;
        record.Step = step;
        record.Function = step - 1;
        record.Parameter = 1000;
        records.InsertStep(record);
    }

    // The samples go in through a connection of our own, in one transaction.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                    QStringLiteral("bench"));
        db.setDatabaseName(dataModule->DatabaseFile());
        if (!db.open()) {
            std::printf("cannot open %s\n", qPrintable(dataModule->DatabaseFile()));
            return;
        }
        db.transaction();
        QSqlQuery insert(db);
        insert.prepare(QStringLiteral("INSERT INTO samples (F_ServiceID, F_Step, F_Time, "
                                      "F_Voltage, F_Current) VALUES (?, ?, ?, ?, ?)"));
        for (int i = 0; i < kSamples; ++i) {
            insert.addBindValue(service.ID);
            insert.addBindValue(i < kSamples / 2 ? 1 : 2);
            insert.addBindValue(i * 2);
            insert.addBindValue(4800 + (i % 1000));
            insert.addBindValue(1000);
            if (!insert.exec()) {
                std::printf("insert failed: %s\n", qPrintable(insert.lastError().text()));
                return;
            }
        }
        db.commit();

        const double raw = BestOf(3, [&] {
            QSqlQuery q(db);
            q.setForwardOnly(true);
            q.prepare(QStringLiteral("SELECT * FROM samples WHERE F_ServiceID = ?"));
            q.addBindValue(service.ID);
            q.exec();
            long long sum = 0;
            while (q.next())
                sum += q.value(2).toInt() + q.value(3).toInt() + q.value(4).toInt()
                       + q.value(5).toInt();
            if (sum == 42)
                std::printf(" ");
        });

        double load = 1e300;
        size_t points = 0;
        for (int run = 0; run < 3; ++run) {
            TDiagramForm form(dataModule.get());
            QElapsedTimer timer;
            timer.start();
            Curve* curve = form.AddServiceCurve(service.ID, 0);
            CurvesLoaded(form);
            load = std::min(load, static_cast<double>(timer.nsecsElapsed()) / 1e6);
            points = curve ? curve->Data.size() : 0;
        }

        // For comparison: one step lookup per sample, on a tenth of them.
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < kSamples / 10; ++i) {
            StepRecord record;
            record.ServiceID = service.ID;
            record.Step = i % 2 + 1;
            dataModule->GetSubService(record);
        }
        const double perSample = static_cast<double>(timer.nsecsElapsed()) / 1e6 * 10;

        std::printf("Curve of a treatment with %d samples:\n", kSamples);
        std::printf("  raw query (all columns):      %8.1f ms\n", raw);
        std::printf("  AddServiceCurve until loaded: %8.1f ms (%zu points), ratio %.2f\n", load,
                    points, load / raw);
        std::printf("  a step lookup per sample would add about %.0f ms\n", perSample);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench"));
}

// Counts the paint events a widget gets.
struct PaintWatch : QObject
{
    explicit PaintWatch(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++Count;
        return false;
    }
    int Count = 0;
};

void LongRecordingFigures()
{
    constexpr int kSamples = 2000000;
    DiagramTestData data;
    const int service = data.AddService(data.AddBattery());
    data.AddStep(service, 1, 0);
    data.AddStep(service, 2, 1);
    data.Records->InTransaction([&] {
        data.Records->Store().exec(
            QStringLiteral("INSERT INTO samples (F_ServiceID, F_Step, F_Time, F_Voltage, F_Current) "
                           "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < ?) "
                           "SELECT ?, 1 + i * 2 / ?, i, 1000 + i % 700, -500 + i % 1000 FROM n"),
            {kSamples - 1, service, kSamples});
    });
    TBRASKDataModule::Service record;
    record.ID = service;
    data.DataModule->LoadService(record);
    data.DataModule->ReopenBatteries(record.BatteryID);
    data.DataModule->ReopenServices(service);

    // As before: the whole read on the window thread.
    QElapsedTimer clock;
    clock.start();
    const qsizetype rows = data.DataModule->SamplesAfter(service, 0).size();
    const double onWindowThread = static_cast<double>(clock.elapsed()) / 1000.0;

    QTabWidget tab;
    tab.resize(1200, 800);
    tab.show();
    QMenu popup;
    TDiagramPropertyDialog dialog;
    TDiagramCommands commands(&tab, &popup, data.DataModule.get(), &dialog);
    QCoreApplication::processEvents();
    PeakMemory::Reset();
    const long before = PeakMemory::Kb();
    StallProbe probe;
    probe.Start();
    clock.start();
    commands.ShowCurveOfCurrentService(0);
    const double request = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    TDiagramForm* form = commands.ActiveDiagram();
    // Drawn: the chart's first paint after its points are in.
    PaintWatch paints(form->Chart());
    CurvesLoaded(*form, 120000);
    const double loaded = static_cast<double>(clock.elapsed()) / 1000.0;
    const qint64 stallUntilLoaded = probe.Longest();
    const int paintsBefore = paints.Count;
    const bool painted = QTest::qWaitFor([&] { return paints.Count > paintsBefore; }, 10000);
    const double drawn = static_cast<double>(clock.elapsed()) / 1000.0;
    // A few turns of the probe after the paint, so its gap is counted.
    QTest::qWait(30);
    probe.Stop();
    const Curve* curve = form->Chart()->GetCurve(form->FindCurveKey(service, 0)->Name);
    const size_t points = curve ? curve->Data.size() : 0;
    QElapsedTimer part;
    part.start();
    form->FitToData();
    const double fit = static_cast<double>(part.nsecsElapsed()) / 1e6;
    part.start();
    form->Chart()->Recalculate();
    const double recalc = static_cast<double>(part.nsecsElapsed()) / 1e6;
    part.start();
    form->Chart()->repaint();
    const double paint = static_cast<double>(part.nsecsElapsed()) / 1e6;

    // A page closed while it loads: how long closing takes.
    commands.NewDiagram();
    commands.ShowCurveOfCurrentService(1);
    const auto* progress = commands.ActiveDiagram()->findChild<QProgressBar*>(QStringLiteral("LoadProgress"));
    const bool halfway = QTest::qWaitFor([&] { return progress->value() >= 20; }, 10000);
    clock.start();
    commands.CloseActiveDiagram();
    const double closing = static_cast<double>(clock.nsecsElapsed()) / 1e6;

    std::printf("Diagram of a recording with %d samples:\n", kSamples);
    std::printf("  read on the window thread (as before): %.2f s (%lld rows) -- the window stood that long\n",
                onWindowThread, static_cast<long long>(rows));
    std::printf("  beside the window: the command returns in %.1f ms, loaded after %.2f s, drawn after %.2f s "
                "(%zu points)\n",
                request, loaded, drawn, points);
    std::printf("  peak memory +%ld KB; window's longest stall while it loads, points mapped included: %lld ms "
                "(goal < 50 ms: %s); with the first paint: %lld ms\n",
                PeakMemory::Kb() - before, static_cast<long long>(stallUntilLoaded), stallUntilLoaded < 50 ? "met" : "missed",
                static_cast<long long>(probe.Longest()));
    std::printf("  the window thread's share, each once the points are in: fit to the data %.1f ms, "
                "recalculation %.1f ms, repaint %.1f ms\n",
                fit, recalc, paint);
    std::printf("  closing a page while it loads (%s): %.1f ms\n", halfway ? "a fifth read" : "not yet reading",
                closing);
    if (!painted)
        std::printf("  (not drawn within 10 s)\n");
}

void FuzzFigures(int files)
{
    DiagramTestData data;
    const int service = data.AddService(data.AddBattery());
    data.AddStep(service, 1, 0);
    data.AddStep(service, 2, 1);
    for (int t = 0; t <= 3000; t += 30)
        data.AddSample(service, t < 1500 ? 1 : 2, t, 5000 + t, t < 1500 ? 1000 : 500);
    QTabWidget tab;
    tab.resize(600, 400);
    QMenu popup;
    TDiagramPropertyDialog dialog;
    TDiagramCommands commands(&tab, &popup, data.DataModule.get(), &dialog);
    const QByteArray seed = DiagramFuzz::SeedFile(service);
    DiagramFuzz::Mutator mutator(1);
    int opened = 0;
    qint64 slowest = 0;
    size_t largestTicks = 0;
    QElapsedTimer timer;
    timer.start();
    AllocationWatch::Start();
    for (int i = 0; i < files; ++i) {
        const DiagramFuzz::Outcome outcome = DiagramFuzz::OpenAndDraw(
            commands, data.Path() + QStringLiteral("/fuzz%1.dgr").arg(i), mutator.Mutate(seed));
        opened += outcome.Opened ? 1 : 0;
        slowest = std::max(slowest, outcome.Nanoseconds);
        largestTicks = std::max(largestTicks, outcome.LargestTickArray);
    }
    const size_t largest = AllocationWatch::Stop();
    std::printf("Fuzz, %d mutated diagram files through the open command:\n", files);
    std::printf("  total %.1f s, %.2f ms a file, slowest %.1f ms\n", static_cast<double>(timer.elapsed()) / 1000.0,
                static_cast<double>(timer.elapsed()) / double(files), static_cast<double>(slowest) / 1e6);
    std::printf("  opened %d, refused %d, pages left %d\n", opened, files - opened, tab.count());
    std::printf("  largest tick array %zu, largest single allocation %.1f KB\n", largestTicks,
                static_cast<double>(largest) / 1024.0);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ChartFigures();
    LoadFigures();
    LongRecordingFigures();
    FuzzFigures(argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000);
    return 0;
}
