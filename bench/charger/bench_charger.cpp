// bench_charger: how long the terminal search and the logger search take,
// the engine's search of every port at once (one worker per port) against
// the one-by-one walk, on
//   - nine pseudo-terminals that exist but never answer (goal: the search
//     at once within 1.7 s, one read time-out), and
//   - a mixed lab on braskon-sim: five silent chargers, the logger and three
//     chargers, one of them a Varn.

#include "tests/support/SimulatorProcess.h"
#include "charger/TerminalManager.h"
#include "treatment/PortSearch.h"
#include "treatment/TreatmentEngine.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double GoalMs = 1700;
constexpr int Repeats = 3;

double timeMs(const std::function<void()> &work)
{
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Nine pseudo-terminals nobody reads from: open, configurable, silent.
class SilentPorts {
public:
    SilentPorts()
    {
        for (int com = 1; com <= Ohmrida::TerminalManager::PortCount; ++com) {
            const int master = posix_openpt(O_RDWR | O_NOCTTY);
            if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
                std::fprintf(stderr, "no pseudo-terminal\n");
                std::exit(1);
            }
            masters_.push_back(master);
            setenv(("BRASKON_COM" + std::to_string(com)).c_str(), ptsname(master), 1);
        }
    }
    ~SilentPorts()
    {
        for (int master : masters_)
            ::close(master);
    }

private:
    std::vector<int> masters_;
};

void row(const char *what, double walkMs, const std::vector<double> &atOnceMs)
{
    std::vector<double> sorted = atOnceMs;
    std::sort(sorted.begin(), sorted.end());
    std::printf("  %-34s walk %8.0f ms   at once %6.0f ms (median of %zu, %.0f..%.0f)   %5.1fx\n", what, walkMs,
                sorted[sorted.size() / 2], sorted.size(), sorted.front(), sorted.back(),
                walkMs / sorted[sorted.size() / 2]);
}

// Measures the terminal and the logger search both ways on whatever the
// ports are now; returns the median of the terminal search at once.
double measure(const char *lab, size_t expectedTerminals, bool expectLogger)
{
    std::printf("%s\n", lab);
    Ohmrida::TerminalManager manager;
    bool ok = true;

    const double scanWalk = timeMs([&] { manager.Scan(); });
    ok &= manager.Count() == expectedTerminals;
    std::vector<double> scanAtOnce;
    TTreatmentEngine engine;
    for (int i = 0; i < Repeats; ++i) {
        scanAtOnce.push_back(timeMs([&] {
            QEventLoop loop;
            QObject::connect(&engine, &TTreatmentEngine::SearchFinished, &loop,
                             [&](int, const QVector<TerminalInfo> &found) {
                                 ok &= size_t(found.size()) == expectedTerminals;
                                 loop.quit();
                             });
            engine.SearchTerminals();
            loop.exec();
        }));
    }
    row("terminal search", scanWalk, scanAtOnce);

    const double loggerWalk = timeMs([&] { ok &= (manager.FindLogger() != nullptr) == expectLogger; });
    std::vector<double> loggerAtOnce;
    TPortSearch search(manager);
    for (int i = 0; i < Repeats; ++i)
        loggerAtOnce.push_back(timeMs([&] {
            QEventLoop loop;
            search.FindLogger([&](int port) {
                ok &= (port != 0) == expectLogger;
                loop.quit();
            });
            loop.exec();
        }));
    row("logger search", loggerWalk, loggerAtOnce);
    if (!ok)
        std::printf("  WRONG RESULT: %zu terminals and %s logger expected\n", expectedTerminals,
                    expectLogger ? "a" : "no");
    std::sort(scanAtOnce.begin(), scanAtOnce.end());
    return scanAtOnce[scanAtOnce.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    try {
        std::printf("read time-out of the identification: %d ms, of the logger probe: %d ms\n\n",
                    Ohmrida::AsynchSerialInterface::ReadTimeoutMs(11),
                    Ohmrida::AsynchSerialInterface::ReadTimeoutMs(5));
        double silentMs = 0;
        {
            SilentPorts ports;
            silentMs = measure("nine silent pseudo-terminals", 0, false);
        }
        std::printf("  goal: terminal search at once <= %.0f ms: %s\n\n", GoalMs,
                    silentMs <= GoalMs ? "met" : "NOT met");

        SimTest::SimulatorProcess sim({"--port", "1=ohmrida", "--port", "2=tesk", "--port", "3=lumo", "--port",
                                       "4=kestrix", "--port", "5=varn", "--port", "6=ohmrida", "--port", "7=lumo",
                                       "--port", "8=tesk", "--port", "9=varn", "--fault", "1:silent", "--fault",
                                       "3:silent", "--fault", "6:silent", "--fault", "8:silent", "--fault",
                                       "9:silent"});
        sim.start();
        measure("mixed lab on braskon-sim (silent COM1,3,6,8,9; Tesk COM2, logger COM4, Varn COM5, Lumo COM7)", 6,
                true);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "bench_charger: %s\n", error.what());
        return 1;
    }
    return 0;
}
