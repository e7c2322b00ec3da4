// bench_export: the protocol and the samples CSV of a treatment with
// 2,000,000 samples. Prints, beside the SQL floor of the same rows (the one
// query iterated; `sqlite3 -csv`):
//  - braskon-cli export protocol / samples: time and peak memory (GNU time);
//  - the window's way (the export on a work thread, as the main window runs
//    it): time, growth of this process's peak memory, and the longest stall
//    of this thread's event loop meanwhile (goal under 50 ms);
//  - the protocol printed into a PDF file the same way (pages painted on the
//    work thread while the rows are read): time, pages, memory, stall.
// Goals: protocol within 3 s, samples within 1.5 times sqlite3 -csv.

#include "tests/support/PeakMemory.h"
#include "tests/support/StallProbe.h"
#include "export/StreamedExport.h"
#include "mainwindow/PrintWork.h"

#include "database/RecordStore.h"
#include "database/SqlStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

constexpr int Samples = 2000000;

struct Run {
    double seconds = 0;
    long peakKb = 0;
};

// A program under GNU time: wall time and its peak resident memory.
Run Measure(const QString &program, const QStringList &arguments, const QString &output = QString())
{
    QProcess process;
    if (!output.isEmpty())
        process.setStandardOutputFile(output);
    QTemporaryDir scratch;
    const QString figures = scratch.filePath(QStringLiteral("time"));
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral("/usr/bin/time"),
                  QStringList{QStringLiteral("-f"), QStringLiteral("%M"), QStringLiteral("-o"), figures, program}
                      + arguments);
    process.waitForFinished(-1);
    Run run;
    run.seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    QFile file(figures);
    if (file.open(QIODevice::ReadOnly))
        run.peakKb = file.readAll().trimmed().split('\n').last().toLong();
    if (process.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
    return run;
}

// The export on a work thread while this thread's event loop is probed.
struct WindowRun {
    double seconds = 0;
    long grownKb = 0;
    qint64 stallMs = 0;
};
WindowRun BesideTheWindow(const std::function<void()> &work)
{
    PeakMemory::Reset();
    const long before = PeakMemory::Kb();
    QElapsedTimer clock;
    clock.start();
    StallProbe probe;
    probe.Start();
    std::unique_ptr<QThread> thread(QThread::create(work));
    QObject::connect(thread.get(), &QThread::finished, QCoreApplication::instance(), &QCoreApplication::quit);
    thread->start();
    QCoreApplication::exec();
    thread->wait();
    WindowRun run;
    run.seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    run.grownKb = PeakMemory::Kb() - before;
    run.stallMs = probe.Longest();
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir directory;
    const auto store = std::make_shared<SqlStore>(directory.path());
    int service = 0;
    {
        RecordStore records(store);
        RecordStore::Battery battery;
        battery.Capacity = 2000;
        battery.Type = 1;
        battery.Cells = battery.Form = 4;
        records.AddBattery(battery, 0);
        RecordStore::Service treatment;
        treatment.BatteryID = battery.ID;
        treatment.Program = 3;
        std::vector<StepRecord> steps{{0, 1, 0, 500, 0, 0, 0, 0}, {0, 2, 1, 500, 0, 0, 0, 0}};
        records.InsertServiceWithSteps(treatment, steps);
        service = treatment.ID;
        records.InTransaction([&] {
            store->exec(QStringLiteral("INSERT INTO samples (F_ServiceID, F_Step, F_Time, F_Voltage, F_Current) "
                                       "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < ?) "
                                       "SELECT ?, 1 + i * 2 / ?, i, 1000 + i % 700, -500 + i % 1000 FROM n"),
                        {Samples - 1, service, Samples});
        });
    }
    const QString database = directory.filePath(SqlStore::fileName());
    const QString out = directory.filePath(QStringLiteral("out"));
    const QString id = QString::number(service);

    // The floors.
    QElapsedTimer clock;
    clock.start();
    {
        QSqlQuery rows = store->exec(
            QStringLiteral("SELECT s.F_Step, s.F_Time, s.F_Voltage, s.F_Current, sub.F_Function FROM samples s "
                           "JOIN sub ON sub.F_ServiceID = s.F_ServiceID AND sub.F_Step = s.F_Step "
                           "WHERE s.F_ServiceID = ? ORDER BY s.rowid"),
            {service});
        qint64 sum = 0;
        while (rows.next())
            sum += rows.value(1).toInt() + rows.value(2).toInt() + rows.value(3).toInt() + rows.value(4).toInt();
        if (sum == 42)
            std::printf(" ");
    }
    const double queryFloor = static_cast<double>(clock.elapsed()) / 1000.0;
    const Run sqliteCsv = Measure(QStringLiteral("sqlite3"),
                                  {QStringLiteral("-csv"), database,
                                   QStringLiteral("SELECT F_Time, F_Step, F_Voltage, F_Current FROM samples WHERE "
                                                  "F_ServiceID = %1 ORDER BY rowid")
                                       .arg(service)},
                                  out);

    // The command line.
    const QString cli = QStringLiteral(BRASKON_CLI_PATH);
    const Run cliProtocol = Measure(cli, {QStringLiteral("--database"), directory.path(), QStringLiteral("export"),
                                          QStringLiteral("protocol"), id, QStringLiteral("-o"), out});
    const Run cliRtf = Measure(cli, {QStringLiteral("--database"), directory.path(), QStringLiteral("export"),
                                     QStringLiteral("protocol"), id, QStringLiteral("--rtf"), QStringLiteral("-o"), out});
    const Run cliSamples = Measure(cli, {QStringLiteral("--database"), directory.path(), QStringLiteral("export"),
                                         QStringLiteral("samples"), QStringLiteral("--service"), id,
                                         QStringLiteral("-o"), out});

    // The window's way.
    const WindowRun protocol = BesideTheWindow([&] {
        StreamedExport::SaveProtocol(*store, service, Richie::Format::PlainText, QStringLiteral("Sans Serif"), 10, out);
    });
    const WindowRun csv = BesideTheWindow([&] { StreamedExport::SaveSamplesCsv(*store, service, out); });
    const QString pdf = directory.filePath(QStringLiteral("protokoll.pdf"));
    const WindowRun printed = BesideTheWindow([&] {
        PrintWork::SavePdf(pdf, QStringLiteral("Messprotokoll"), QStringLiteral("Sans Serif"), 10,
                           PrintWork::ProtocolLines(store, service));
    });
    qint64 pages = 0;
    {
        QFile file(pdf);
        if (file.open(QIODevice::ReadOnly)) {
            // Counted in pieces: the file runs to many megabytes.
            while (!file.atEnd()) {
                const QByteArray piece = file.read(1 << 20);
                pages += piece.count("/Type /Page\n") + piece.count("/Type /Page ") + piece.count("/Type /Page/");
            }
        }
    }

    std::printf("treatment of %d samples:\n", Samples);
    std::printf("  SQL floor: the protocol's query iterated %.2f s; sqlite3 -csv %.2f s (%ld KB)\n", queryFloor,
                sqliteCsv.seconds, sqliteCsv.peakKb);
    std::printf("  braskon-cli export protocol:       %.2f s, %ld KB peak (goal 3 s: %s)\n", cliProtocol.seconds,
                cliProtocol.peakKb, cliProtocol.seconds <= 3 ? "met" : "missed");
    std::printf("  braskon-cli export protocol --rtf: %.2f s, %ld KB peak\n", cliRtf.seconds, cliRtf.peakKb);
    std::printf("  braskon-cli export samples:        %.2f s, %ld KB peak (%.2f x sqlite3 -csv; goal 1.5: %s)\n",
                cliSamples.seconds, cliSamples.peakKb, cliSamples.seconds / sqliteCsv.seconds,
                cliSamples.seconds <= 1.5 * sqliteCsv.seconds ? "met" : "missed");
    std::printf("  window: protocol %.2f s, peak memory +%ld KB, longest stall %lld ms (goal < 50 ms: %s)\n",
                protocol.seconds, protocol.grownKb, static_cast<long long>(protocol.stallMs),
                protocol.stallMs < 50 ? "met" : "missed");
    std::printf("  window: samples CSV %.2f s, peak memory +%ld KB, longest stall %lld ms (goal < 50 ms: %s)\n",
                csv.seconds, csv.grownKb, static_cast<long long>(csv.stallMs), csv.stallMs < 50 ? "met" : "missed");
    std::printf("  window: protocol printed to PDF %.2f s (%lld pages, %lld KB), peak memory +%ld KB, longest stall "
                "%lld ms (goal < 50 ms: %s)\n",
                printed.seconds, static_cast<long long>(pages), static_cast<long long>(QFile(pdf).size() / 1024),
                printed.grownKb, static_cast<long long>(printed.stallMs), printed.stallMs < 50 ? "met" : "missed");
    return 0;
}
