// The terminal search against braskon-sim, whose devices answer from their own
// reading of the protocol: names, order, addresses and the logger search.

#include "TerminalManager.h"

#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(SimulatorScan, NamesSortByTextNotByPortAndTheLoggerIsFoundBehindChargers)
{
    SimTest::SimulatorProcess sim(
        {"--port", "1=tesk", "--port", "2=ohmrida", "--port", "3=varn", "--port", "4=kestrix", "--port", "5=lumo"});
    sim.start();
    Ohmrida::TerminalManager manager;
    manager.Scan();

    std::vector<std::string> names;
    manager.First();
    for (uint32_t i = 0; i < manager.Count(); ++i)
        names.push_back(manager.Next().first);
    EXPECT_EQ(names, (std::vector<std::string>{"Lumo an COM5", "Ohmrida an COM2", "Tesk an COM1",
                                               "Varn/Akku1 an COM3", "Varn/Akku2 an COM3", "Varn/Akku3 an COM3",
                                               "Varn/Akku4 an COM3"}));
    const int types[] = {2, 1, 3};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(manager.Get(names[i])->DeviceType(), types[i]) << names[i];
    const Ohmrida::Terminal *third = manager.Get("Varn/Akku3 an COM3");
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->Address(), 0x80);
    EXPECT_EQ(third->DeviceType(), 4);
    EXPECT_EQ(third->Port(), &manager.Port(3));

    Ohmrida::TerminalManager searcher;
    const std::unique_ptr<Ohmrida::Terminal> logger = searcher.FindLogger();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->Name(), "Kestrix");
    EXPECT_EQ(logger->Port(), &searcher.Port(4));
    EXPECT_EQ(logger->DeviceType(), 5);
    EXPECT_EQ(logger->Address(), 0);
    // The chargers were asked first and did not pass for the logger.
    for (const char *probe : {"COM1 rx F0", "COM2 rx F0", "COM3 rx F0"})
        EXPECT_GE(sim.waitForTrace(probe, std::chrono::seconds(1)), 0) << probe;
    EXPECT_EQ(searcher.Count(), 0u);
}
