// bench_engine: how long the window thread's event loop stands still while a
// treatment's charger has stopped answering and the clock ticks every second.
// Measured twice in one run: with the tick carried out on the window thread
// (the service manager called directly, as the program did before the engine)
// and with the treatment engine polling on its own thread. Goal: under 50 ms.
//
// The charger is a pseudo-terminal nobody answers on, so every status read
// takes its full read time-out.

#include "tests/support/StallProbe.h"
#include "charger/TerminalManager.h"
#include "database/RecordStore.h"
#include "database/SqlStore.h"
#include "treatment/Serviceman.h"
#include "treatment/TreatmentEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int ClockMs = 1000;
constexpr int RunMs = 8000;

// Runs the event loop for RunMs with a 1 s clock calling `tick` and returns
// the longest time between two turns of a 5 ms probe timer.
qint64 LongestStall(const std::function<void()> &tick)
{
    StallProbe probe;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, tick);
    probe.Start();
    ticker.start(ClockMs);
    QTimer::singleShot(RunMs, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    return probe.Longest();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::fprintf(stderr, "bench_engine: no pseudo-terminal\n");
        return 1;
    }
    setenv("BRASKON_COM1", ptsname(master), 1);

    QTemporaryDir directory;
    const auto store = std::make_shared<SqlStore>(directory.path());
    RecordStore database(store);
    RecordStore::Battery battery;
    battery.Capacity = 1000;
    battery.Type = 1;
    battery.Cells = battery.Form = 4;
    database.AddBattery(battery, 0);
    const std::string log = directory.filePath("log.txt").toStdString();

    qint64 before = 0;
    {
        Ohmrida::TerminalManager terminals;
        terminals.RegisterTerminal("Lumo an ", terminals.Port(1), Ohmrida::DeviceLumo, 0);
        TServiceManager manager(database, terminals, log);
        manager.StartStandardService(battery.ID, 1, 100, 100, "Lumo an COM1");
        before = LongestStall([&] { manager.Tick(); });
    }
    qint64 after = 0;
    {
        // The engine finds no charger on the silent port: its registry gets
        // the terminal as a search would have filed it.
        TTreatmentEngine engine(store, log);
        engine.RunOnEngine([](TServiceManager &manager) {
            Ohmrida::TerminalManager &terminals = manager.Terminals();
            terminals.RegisterTerminal("Lumo an ", terminals.Port(1), Ohmrida::DeviceLumo, 0);
        });
        engine.StartStandard(battery.ID, 1, 100, 100, "Lumo an COM1");
        after = LongestStall([&] { engine.Tick(); });
    }
    std::printf("longest stall of the window thread, silent charger, %d ms clock, %d s:\n", ClockMs, RunMs / 1000);
    std::printf("  tick on the window thread: %6lld ms\n", static_cast<long long>(before));
    std::printf("  treatment engine:          %6lld ms   (goal < 50 ms: %s)\n", static_cast<long long>(after),
                after < 50 ? "met" : "missed");
    close(master);
    return 0;
}
