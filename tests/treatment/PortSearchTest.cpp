// The engine's search of all ports and braskon-cli scan against braskon-sim,
// whose devices answer from their own reading of the protocol (the logger
// search against it is crossed by the readout tests).

#include "charger/TerminalManager.h"
#include "treatment/TreatmentEngine.h"

#include "tests/support/SimulatorProcess.h"

#include <QElapsedTimer>
#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <algorithm>
#include <tuple>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

// What the walk of the registry shows: name, type, address, port.
using Entry = std::tuple<std::string, int, int, int>;

std::vector<Entry> entries(Ohmrida::TerminalManager &manager)
{
    std::vector<Entry> found;
    manager.First();
    for (uint32_t i = 0; i < manager.Count(); ++i) {
        const auto [name, terminal] = manager.Next();
        found.emplace_back(name, terminal->DeviceType(), terminal->Address(), terminal->Port()->PortNumber());
    }
    return found;
}

// The trace lines [from, to), per port.
std::map<std::string, std::vector<std::string>> wirePerPort(const SimTest::SimulatorProcess &sim, size_t from,
                                                            size_t to = SIZE_MAX)
{
    const std::vector<std::string> lines = sim.trace();
    std::map<std::string, std::vector<std::string>> wire;
    for (size_t i = from; i < lines.size() && i < to; ++i)
        wire[lines[i].substr(0, lines[i].find(' '))].push_back(lines[i]);
    return wire;
}

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// braskon-cli scan's exit status and output.
std::pair<int, std::string> scanCommand()
{
    std::string output;
    FILE *pipe = popen("'" BRASKON_CLI_PATH "' scan", "r");
    char buffer[512];
    for (size_t count; pipe && (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, count);
    const int status = pipe ? pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

} // namespace

// Five silent chargers, a logger and three chargers (one a Varn) on all nine
// ports: the engine's search files exactly what the walk files and puts the
// same bytes on every port, in a fraction of the time; its answers come port
// by port, the ports that answer long before the silent ones.
TEST(PortSearch, SearchAtOnceFilesWhatTheWalkFilesWithTheSameWireOnEveryPort)
{
    SimTest::SimulatorProcess sim({"--port", "1=ohmrida", "--port", "2=tesk", "--port", "3=lumo", "--port",
                                   "4=kestrix", "--port", "5=varn", "--port", "6=ohmrida", "--port", "7=lumo",
                                   "--port", "8=tesk", "--port", "9=varn", "--fault", "1:silent", "--fault",
                                   "3:silent", "--fault", "6:silent", "--fault", "8:silent", "--fault", "9:silent"});
    sim.start();
    const int identifyTimeoutMs = Ohmrida::AsynchSerialInterface::ReadTimeoutMs(11);

    Ohmrida::TerminalManager walker;
    auto start = Clock::now();
    walker.Scan();
    const long long walkMs = msSince(start);
    const size_t walkEnd = sim.trace().size();
    const std::vector<Entry> walked = entries(walker);

    TTreatmentEngine engine;
    std::vector<Entry> found, arrived;
    long long firstAnswerMs = -1, searchMs = -1;
    QObject::connect(&engine, &TTreatmentEngine::TerminalsFound, [&](int, const QVector<TerminalInfo> &terminals) {
        if (firstAnswerMs < 0)
            firstAnswerMs = msSince(start);
        for (const TerminalInfo &t : terminals)
            arrived.emplace_back(t.Name.toStdString(), t.Kind, t.Address, t.Port);
    });
    QObject::connect(&engine, &TTreatmentEngine::SearchFinished, [&](int, const QVector<TerminalInfo> &terminals) {
        searchMs = msSince(start);
        for (const TerminalInfo &t : terminals)
            found.emplace_back(t.Name.toStdString(), t.Kind, t.Address, t.Port);
    });
    start = Clock::now();
    engine.SearchTerminals();
    for (QDeadlineTimer deadline(10000); searchMs < 0 && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_GE(searchMs, 0);
    EXPECT_EQ(found, walked);
    std::sort(arrived.begin(), arrived.end());
    EXPECT_EQ(arrived, walked);
    EXPECT_LT(firstAnswerMs, identifyTimeoutMs / 2) << "the chargers that answer are listed at once";
    EXPECT_EQ(walked, (std::vector<Entry>{{"Lumo an COM7", 2, 0x00, 7},
                                          {"Tesk an COM2", 3, 0x00, 2},
                                          {"Varn/Akku1 an COM5", 4, 0x00, 5},
                                          {"Varn/Akku2 an COM5", 4, 0x40, 5},
                                          {"Varn/Akku3 an COM5", 4, 0x80, 5},
                                          {"Varn/Akku4 an COM5", 4, 0xC0, 5}}));
    const auto walkWire = wirePerPort(sim, 0, walkEnd);
    EXPECT_EQ(walkWire.size(), 9u);
    EXPECT_EQ(walkWire.at("COM1"), std::vector<std::string>{"COM1 rx 16 tx -"});
    EXPECT_EQ(wirePerPort(sim, walkEnd), walkWire);
    // Silent ports cost one time-out each in the walk, one together in the search.
    EXPECT_GE(walkMs, 5 * identifyTimeoutMs);
    EXPECT_GE(searchMs, identifyTimeoutMs - 50);
    EXPECT_LT(searchMs, 2 * identifyTimeoutMs) << "the walk took " << walkMs << " ms";

    // braskon-cli scan files the same, one line per terminal with type and address.
    EXPECT_EQ(scanCommand(), std::make_pair(0, std::string("Lumo an COM7\t2\t0x00\n"
                                                           "Tesk an COM2\t3\t0x00\n"
                                                           "Varn/Akku1 an COM5\t4\t0x00\n"
                                                           "Varn/Akku2 an COM5\t4\t0x40\n"
                                                           "Varn/Akku3 an COM5\t4\t0x80\n"
                                                           "Varn/Akku4 an COM5\t4\t0xc0\n")));
}
