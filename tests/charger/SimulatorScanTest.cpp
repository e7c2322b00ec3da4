// The terminal search against braskon-sim, whose devices answer from their own
// reading of the protocol: names, order, addresses and the logger search.

#include "TerminalManager.h"

#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> WalkNames(Ohmrida::TerminalManager &manager)
{
    std::vector<std::string> names;
    manager.First();
    for (uint32_t i = 0; i < manager.Count(); ++i)
        names.push_back(manager.Next().first);
    return names;
}

} // namespace

TEST(SimulatorScan, LumoAndVarnGiveFiveTerminalsInNameOrder)
{
    SimTest::SimulatorProcess sim({"--port", "1=lumo", "--port", "3=varn"});
    sim.start();
    Ohmrida::TerminalManager manager;
    manager.Scan();

    EXPECT_EQ(WalkNames(manager),
              (std::vector<std::string>{"Lumo an COM1", "Varn/Akku1 an COM3", "Varn/Akku2 an COM3",
                                        "Varn/Akku3 an COM3", "Varn/Akku4 an COM3"}));
    const Ohmrida::Terminal *third = manager.Get("Varn/Akku3 an COM3");
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->Address(), 0x80);
    EXPECT_EQ(third->DeviceType(), 4);
    EXPECT_EQ(third->Port(), &manager.Port(3));
}

TEST(SimulatorScan, NamesSortByTextNotByPortAndOhmridaIsTypeOne)
{
    SimTest::SimulatorProcess sim({"--port", "1=tesk", "--port", "2=ohmrida"});
    sim.start();
    Ohmrida::TerminalManager manager;
    manager.Scan();

    EXPECT_EQ(WalkNames(manager), (std::vector<std::string>{"Ohmrida an COM2", "Tesk an COM1"}));
    EXPECT_EQ(manager.Get("Ohmrida an COM2")->DeviceType(), 1);
    EXPECT_EQ(manager.Get("Tesk an COM1")->DeviceType(), 3);
}

TEST(SimulatorScan, LoggerIsFoundBehindTwoChargers)
{
    SimTest::SimulatorProcess sim({"--port", "1=lumo", "--port", "2=varn", "--port", "4=kestrix"});
    sim.start();
    Ohmrida::TerminalManager manager;
    const std::unique_ptr<Ohmrida::Terminal> logger = manager.FindLogger();

    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->Name(), "Kestrix");
    EXPECT_EQ(logger->Port(), &manager.Port(4));
    EXPECT_EQ(logger->DeviceType(), 5);
    EXPECT_EQ(logger->Address(), 0);
    // The chargers were asked first and did not pass for the logger.
    EXPECT_GE(sim.waitForTrace("COM1 rx F0", std::chrono::seconds(1)), 0);
    EXPECT_GE(sim.waitForTrace("COM2 rx F0", std::chrono::seconds(1)), 0);
    EXPECT_EQ(manager.Count(), 0u);
}
