// bench_logger [VALUES]: the logger readout rate with every value stored
// (MinDeltaU 0), against braskon-sim's Kestrix on a pseudo-terminal.
//
// Prints values/s and the multiple of what a real 9600-baud line could carry:
// one value is 1 byte out and 6 bytes back, 10 bits per byte on the wire, so
// about 137 values/s. The database is a fresh one in a temporary directory,
// written with the module's full sync as in the program.

#include "tests/support/SimulatorProcess.h"
#include "database/Datamodule.h"
#include "database/RecordStore.h"
#include "treatment/TreatmentEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int values = argc > 1 ? std::max(2, std::atoi(argv[1])) : 4000;
    const int first = values / 2;
    const int second = values - first;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "bench_logger: no temporary directory\n");
        return 1;
    }
    SimTest::SimulatorProcess sim({"--port", "2=kestrix", "--kestrix",
                                   "program=3 type=1 cells=4 capacity=1000 discharge=500 charge=300 "
                                   "intervals=60/30 counts="
                                       + std::to_string(first) + "/" + std::to_string(second)});
    sim.start();

    TBRASKDataModule data(dir.path());
    TBRASKDataModule::Battery battery;
    battery.ID = 1;
    battery.Capacity = 1000;
    battery.Type = 1;
    battery.Cells = 4;
    RecordStore(data.SharedStore()).InsertBattery(battery);

    // The readout as the program runs it: on the treatment engine's thread.
    TTreatmentEngine engine(data.SharedStore(), std::string());
    engine.SetSamplingThresholds(0, 1);
    QElapsedTimer clock;
    int startedAt = -1;   // ms when the first value arrived: the search is not the readout
    LoggerOutcome outcome;
    QEventLoop loop;
    QObject::connect(&engine, &TTreatmentEngine::LoggerProgress, [&](int, int position) {
        if (startedAt < 0)
            startedAt = int(clock.elapsed()) - position;   // about 1 ms a value before the report came
    });
    QObject::connect(&engine, &TTreatmentEngine::LoggerFinished, [&](const LoggerOutcome &end) {
        outcome = end;
        loop.quit();
    });
    clock.start();
    engine.ReadLogger(battery);
    loop.exec();
    const double seconds = static_cast<double>(clock.elapsed() - std::max(0, startedAt)) / 1000.0;

    const int stored = int(data.Reader().Samples(outcome.ServiceID).size());
    constexpr double wireBudget = 9600.0 / 10.0 / 7.0;   // values/s on a real line
    const double rate = (outcome.Position - 1) / seconds;
    std::printf("logger readout, MinDeltaU 0: %d of %d values read, %d stored\n", outcome.Position, values, stored);
    std::printf("  %.2f s  %.0f values/s  = %.1f x the 9600-baud budget (%.0f values/s); goal >= 10 x\n",
                seconds, rate, rate / wireBudget, wireBudget);
    return stored == values && outcome.Position == values ? 0 : 1;
}
