// bench_garble: treatments through a line that garbles a share of the
// charger's answers, until thousands of answers have passed, and what became
// of them: how many the line garbled, how many the program turned down, how
// many garbled readings it took (harmless ones: unused bytes, or within
// every bound), and whether any stored sample or step result lies outside the
// bounds or any step ended other than as the charger did.
//
//   bench_garble [ANSWERS [SHARE [SEED]]]   defaults: 5000 answers, 0.15, 2203

#include "GarblingPeer.h"
#include "LineAnalysis.h"
#include "SimulatorProcess.h"

#include "charger/Plausibility.h"
#include "charger/TerminalManager.h"
#include "database/RecordStore.h"
#include "treatment/Serviceman.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

struct Figures {
    int treatments = 0, samples = 0, samplesOutOfBounds = 0, steps = 0, stepsNotOK = 0, stepResultsOutOfBounds = 0;
    int rejected = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int answers = argc > 1 ? std::max(100, std::atoi(argv[1])) : 5000;
    const double share = argc > 2 ? std::atof(argv[2]) : 0.15;
    const unsigned seed = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 2203;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "bench_garble: no temporary directory\n");
        return 1;
    }
    SimTest::SimulatorProcess sim({"--port", "1=lumo", "--speed", "60", "--soc", "60"});
    sim.start();
    sim.control("set-capacity 1 60");
    RecordStore data(dir.path());
    RecordStore::Battery battery;
    battery.ID = 1;
    battery.Capacity = 1000;
    battery.Type = 1;
    battery.Cells = 4;
    data.InsertBattery(battery);
    data.SetMinDeltaU(0);
    data.SetMinDeltaI(0);
    Ohmrida::TerminalManager terminals;
    terminals.Scan();
    if (!terminals.Get("Lumo an COM1")) {
        std::fprintf(stderr, "bench_garble: no Lumo on the simulated COM1\n");
        return 1;
    }
    SimTest::GarblingPeer line(1, sim.portPath(1), share, seed);
    TServiceManager manager(data, terminals, dir.filePath(QStringLiteral("log.txt")).toStdString());

    Figures figures;
    const int maxVoltage = Ohmrida::Plausible::MaxVoltage(battery.Type, battery.Cells);
    const auto start = std::chrono::steady_clock::now();
    while (SimTest::CountLine(line.Log()).Answers < answers) {
        // Program 3 and a user program with a time limit, in turn.
        const bool user = figures.treatments % 2 == 1;
        sim.control(user ? "set-soc 1 10" : "set-soc 1 60");
        Service *service = user ? manager.StartUserService(1, {{Laden, 500, 120}, {Entladen, 500, 0}}, "Lumo an COM1")
                                : manager.StartStandardService(1, 3, 500, 500, "Lumo an COM1");
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (service->ServiceState() != Service::Ended && std::chrono::steady_clock::now() < until) {
            manager.Tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        manager.Tick();
        ++figures.treatments;
        figures.rejected += service->RejectedAnswers();
        for (const Sample &sample : data.Samples(service->ID())) {
            ++figures.samples;
            figures.samplesOutOfBounds += sample.Voltage < 0 || sample.Voltage > maxVoltage
                                          || (sample.Current != 0 && sample.Current != 500);
        }
        for (int step = 1; step <= service->StepCount(); ++step) {
            StepRecord row{service->ID(), step};
            data.GetSubService(row);
            ++figures.steps;
            figures.stepsNotOK += row.State != OK;
            figures.stepResultsOutOfBounds += row.Capacity > 500 * (row.Duration + 1) / 3600 * 11 / 10 + 2;
        }
        manager.StopService(service);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const SimTest::LineCounts line_ = SimTest::CountLine(line.Log());
    std::printf("bench_garble: %.0f %% of the answers garbled on the line (seed %u), %.0f s\n", share * 100, seed,
                seconds);
    std::printf("  answers from the charger             %6d\n", line_.Answers);
    std::printf("  garbled on the line                  %6d\n", line_.Garbled);
    std::printf("  status reads / with a garbled answer %6d / %d\n", line_.StatusReads, line_.GarbledReads);
    std::printf("  answers the program turned down      %6d\n", figures.rejected);
    std::printf("  garbled status reads taken           %6d   (garbled bytes it does not use, or within every bound)\n",
                std::max(0, line_.GarbledReads - figures.rejected));
    std::printf("  treatments / steps / samples         %6d / %d / %d\n", figures.treatments, figures.steps,
                figures.samples);
    std::printf("  samples outside the bounds           %6d\n", figures.samplesOutOfBounds);
    std::printf("  step results outside the bounds      %6d\n", figures.stepResultsOutOfBounds);
    std::printf("  steps not ended as the charger did   %6d\n", figures.stepsNotOK);
    const bool sound = figures.samplesOutOfBounds == 0 && figures.stepResultsOutOfBounds == 0 && figures.stepsNotOK == 0;
    std::printf("  %s\n", sound ? "every record plausible" : "IMPLAUSIBLE RECORDS");
    return sound ? 0 : 1;
}
