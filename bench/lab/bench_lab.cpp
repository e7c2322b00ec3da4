// bench_lab: a lab of nine Varns (36 treatments) on braskon-sim, recorded by
// the treatment engine at a 1 s clock. Prints how often each treatment was
// polled per minute (goal 60), the commits per tick and the write-ahead log
// bytes per poll (read from the WAL file's frame headers before the engine
// closes it), and the longest stall of this thread's event loop, which plays
// the window thread (goal under 50 ms).
//
//   bench_lab [seconds]   (default 60)

#include "tests/support/StallProbe.h"
#include "tests/support/SimulatorProcess.h"

#include "database/RecordStore.h"
#include "database/SqlStore.h"
#include "treatment/TreatmentEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int Ports = 9, Channels = 4, ClockMs = 1000;

struct WalFigures {
    qint64 commits = 0, frames = 0, bytes = 0;
};

// Commit frames and bytes of the current generation of the log (frames whose
// salt matches the header's; a checkpoint restarts the log with a new salt).
WalFigures ReadWal(const QString &path)
{
    WalFigures figures;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return figures;
    const QByteArray wal = file.readAll();
    if (wal.size() < 32)
        return figures;
    const auto u32 = [&](qint64 at) { return qFromBigEndian<quint32>(wal.constData() + at); };
    const qint64 pageSize = u32(8);
    const quint32 salt1 = u32(16), salt2 = u32(20);
    for (qint64 at = 32; at + 24 + pageSize <= wal.size(); at += 24 + pageSize) {
        if (u32(at + 8) != salt1 || u32(at + 12) != salt2)
            break;
        ++figures.frames;
        figures.bytes += 24 + pageSize;
        if (u32(at + 4) != 0)
            ++figures.commits;
    }
    return figures;
}

bool RunUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;

    std::vector<std::string> options;
    for (int port = 1; port <= Ports; ++port) {
        options.push_back("--port");
        options.push_back(std::to_string(port) + "=varn");
    }
    options.push_back("--speed");
    options.push_back("1");
    SimTest::SimulatorProcess simulator(options);
    simulator.start();

    QTemporaryDir directory;
    const auto store = std::make_shared<SqlStore>(directory.path());
    std::vector<int> batteries;
    {
        RecordStore records(store);
        for (int i = 0; i < Ports * Channels; ++i) {
            RecordStore::Battery battery;
            battery.Capacity = 2000;
            battery.Type = 1;
            battery.Cells = battery.Form = 4;
            records.AddBattery(battery, 0);
            batteries.push_back(battery.ID);
        }
    }
    const QString walPath = directory.filePath(SqlStore::fileName() + QStringLiteral("-wal"));

    TTreatmentEngine engine(store, directory.filePath(QStringLiteral("log.txt")).toStdString());
    for (int port = 1; port <= Ports; ++port)
        for (int channel = 1; channel <= Channels; ++channel)
            engine.StartStandard(batteries[size_t((port - 1) * Channels + channel - 1)], 3, 100, 100,
                                 "Varn/Akku" + std::to_string(channel) + " an COM" + std::to_string(port));
    if (!RunUntil([&] { return !engine.Busy() && engine.Treatments().size() == size_t(Ports * Channels); }, 60000)) {
        std::fprintf(stderr, "bench_lab: the treatments did not start\n");
        return 1;
    }
    // The first round of a port runs the Varn start sequences (2 s a channel).
    engine.Tick();
    if (!RunUntil([&] { return !engine.Busy(); }, 60000))
        return 1;

    std::map<int, int> polls;
    int ticks = 0;
    QObject::connect(&engine, &TTreatmentEngine::Polled, [&](const PollReport &report) {
        if (report.Polled && report.Answered)
            ++polls[report.ServiceID];
    });
    const WalFigures walBefore = ReadWal(walPath);
    QElapsedTimer clock;
    clock.start();
    StallProbe probe;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ticks += engine.Tick() ? 1 : 0; });
    probe.Start();
    ticker.start(ClockMs);
    RunUntil([&] { return clock.elapsed() >= seconds * 1000; }, seconds * 1000 + 1000);
    ticker.stop();
    probe.Stop();
    RunUntil([&] { return !engine.Busy(); }, 30000);
    const WalFigures walAfter = ReadWal(walPath);

    int total = 0, fewest = 1 << 30, most = 0;
    for (const auto &entry : polls) {
        total += entry.second;
        fewest = std::min(fewest, entry.second);
        most = std::max(most, entry.second);
    }
    const double minutes = seconds / 60.0;
    const qint64 commits = walAfter.commits - walBefore.commits;
    const qint64 walBytes = walAfter.bytes - walBefore.bytes;
    std::printf("lab of %d Varns (%d treatments) at a %d ms clock, %d s, %d ticks:\n", Ports, Ports * Channels,
                ClockMs, seconds, ticks);
    std::printf("  polls per treatment per minute: %.1f (fewest %.1f, most %.1f; goal 60)\n",
                total / double(std::max<size_t>(1, polls.size())) / minutes, fewest / minutes, most / minutes);
    for (const PortPace &pace : engine.Paces())
        std::printf("  COM%d: round of %d treatments %d ms, period %d ms%s\n", pace.Port, pace.Treatments,
                    pace.RoundMs, pace.PeriodMs, pace.Stretched ? " (stretched)" : "");
    if (walAfter.frames < walBefore.frames)
        std::printf("  (the log was checkpointed meanwhile; WAL figures not comparable)\n");
    else
        std::printf("  commits per tick: %.2f   WAL bytes per poll: %.0f\n", static_cast<double>(commits) / double(std::max(1, ticks)),
                    static_cast<double>(walBytes) / double(std::max(1, total)));
    std::printf("  longest stall of the window thread: %lld ms (goal < 50 ms: %s)\n",
                static_cast<long long>(probe.Longest()), probe.Longest() < 50 ? "met" : "missed");
    return 0;
}
