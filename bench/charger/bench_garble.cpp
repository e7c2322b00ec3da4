// bench_garble: treatments through a line that garbles a share of the
// charger's answers, until thousands of answers have passed, and what became
// of them: how many the line garbled, how many the program turned down, how
// many garbled readings it took (harmless ones: unused bytes, or within
// every bound), and whether any stored sample or step result lies outside the
// bounds or any step ended other than as the charger did. Then the Kestrix is
// read out through the same kind of line.
//
//   bench_garble [ANSWERS [SHARE [SEED]]]   defaults: 5000 answers, 0.15, 2203

#include "tests/support/GarblingPeer.h"
#include "tests/support/LineAnalysis.h"
#include "tests/support/SimulatorProcess.h"

#include "charger/Plausibility.h"
#include "charger/TerminalManager.h"
#include "database/RecordStore.h"
#include "treatment/KestrixReadout.h"
#include "treatment/PortSearch.h"
#include "treatment/Serviceman.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
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
    const int loggerValues = std::max(2, answers / 2);
    SimTest::SimulatorProcess sim({"--port", "1=lumo", "--port", "2=kestrix", "--speed", "60", "--soc", "60",
                                   "--kestrix",
                                   "program=3 type=1 cells=4 capacity=1000 discharge=500 charge=300 intervals=60/30 "
                                   "counts=" + std::to_string(loggerValues / 2) + "/"
                                       + std::to_string(loggerValues - loggerValues / 2)});
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
    // Why answers were turned down, from the log's lines "address ? why bytes".
    manager.FlushLog();
    std::map<std::string, int> reasons;
    std::ifstream log(dir.filePath(QStringLiteral("log.txt")).toStdString());
    for (std::string logLine; std::getline(log, logLine);) {
        const size_t mark = logLine.find("\t?\t");
        if (mark == std::string::npos)
            continue;
        std::string why = logLine.substr(mark + 3, logLine.find('\t', mark + 3) - mark - 3);
        // The words up to the first number name the check.
        why = why.substr(0, why.find_first_of("0123456789"));
        ++reasons[why];
    }
    for (const auto &[why, count] : reasons)
        std::printf("    %6d  %s\n", count, why.c_str());
    const bool sound = figures.samplesOutOfBounds == 0 && figures.stepResultsOutOfBounds == 0 && figures.stepsNotOK == 0;

    // The logger, through a line of its own.
    SimTest::GarblingPeer loggerLine(2, sim.portPath(2), share, seed + 1);
    TPortSearch search(terminals);
    const TKestrixReadout::StopFlag stop = std::make_shared<std::atomic<bool>>(false);
    TKestrixReadout readout(data, search, terminals, stop);
    QEventLoop loop;
    LoggerOutcome outcome;
    QString failure;
    QObject::connect(&readout, &TKestrixReadout::ShowInfo, [&](int message, const QString &text) {
        // No one reads a failure's message here: it ends the readout.
        if (message == TKestrixReadout::MsgInitializing)
            return;
        failure = text;
        stop->store(true);
        readout.CheckStop();
    });
    QObject::connect(&readout, &TKestrixReadout::Finished, [&](const LoggerOutcome &end) {
        outcome = end;
        loop.quit();
    });
    readout.Start(battery);
    loop.exec();
    int stored = 0, outOfBounds = 0;
    for (const Sample &sample : data.Samples(outcome.ServiceID)) {
        ++stored;
        outOfBounds += sample.Voltage < 0 || sample.Voltage > maxVoltage;
    }
    const SimTest::LineCounts loggerCounts = SimTest::CountLine(loggerLine.Log());
    std::printf("  logger readout: %s\n", failure.isEmpty() ? "complete" : failure.toUtf8().constData());
    std::printf("  answers from the logger / garbled    %6d / %d\n", loggerCounts.Answers, loggerCounts.Garbled);
    std::printf("  values read / left out / stored      %6d / %d / %d of %d\n", outcome.Position,
                int(outcome.Skipped.size()), stored, loggerValues);
    std::printf("  values outside the bounds            %6d\n", outOfBounds);
    const bool loggerSound = outOfBounds == 0 && outcome.Maximum == loggerValues;
    std::printf("  %s\n", sound && loggerSound ? "every record plausible" : "IMPLAUSIBLE RECORDS");
    return sound && loggerSound ? 0 : 1;
}
