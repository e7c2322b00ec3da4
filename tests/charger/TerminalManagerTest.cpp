#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ScriptedPeer.h"
#include "TerminalManager.h"

using namespace ChargerTest;
using Ohmrida::Terminal;
using Ohmrida::TerminalManager;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> walk(TerminalManager &manager)
{
    std::vector<std::string> names;
    manager.First();
    for (uint32_t i = 0; i < manager.Count(); ++i) {
        const auto entry = manager.Next();
        EXPECT_NE(entry.second, nullptr);
        EXPECT_EQ(entry.second ? entry.second->Name() : std::string(), entry.first);
        names.push_back(entry.first);
    }
    return names;
}

class TerminalManagerTest : public ::testing::Test {
protected:
    void SetUp() override { DetachAllPorts(); }
    void TearDown() override { DetachAllPorts(); }
};

} // namespace

TEST_F(TerminalManagerTest, LumoAndVarnGiveFiveTerminalsInNameOrder)
{
    TerminalManager manager;
    ScriptedPeer lumo(1, ChargerScript(2));
    ScriptedPeer varn(3, ChargerScript(4));
    manager.Scan();
    ASSERT_EQ(manager.Count(), 5u);
    const std::vector<std::string> expected = {"Lumo an COM1", "Varn/Akku1 an COM3", "Varn/Akku2 an COM3",
                                               "Varn/Akku3 an COM3", "Varn/Akku4 an COM3"};
    EXPECT_EQ(walk(manager), expected);
    EXPECT_EQ(manager.Next().second, nullptr);

    const Terminal *third = manager.Get("Varn/Akku3 an COM3");
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->Address(), 0x80);
    EXPECT_EQ(third->DeviceType(), 4);
    EXPECT_EQ(third->Port(), &manager.Port(3));
    const Terminal *first = manager.Get("Varn/Akku1 an COM3");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Address(), 0x00);
    EXPECT_EQ(manager.Get("Lumo an COM1")->DeviceType(), 2);
    EXPECT_EQ(manager.Get("Varn/Akku5 an COM3"), nullptr);
    EXPECT_EQ(manager.Get("lumo an COM1"), nullptr);

    // The same hardware again gives the same names.
    manager.Scan();
    EXPECT_EQ(walk(manager), expected);
    EXPECT_EQ(lumo.CommandBytes(), (Bytes{0x16, 0x16}));
}

TEST_F(TerminalManagerTest, NamesSortByteWiseNotByPort)
{
    TerminalManager manager;
    ScriptedPeer tesk(1, ChargerScript(3));
    ScriptedPeer ohmrida(2, ChargerScript(1));
    manager.Scan();
    EXPECT_EQ(walk(manager), (std::vector<std::string>{"Ohmrida an COM2", "Tesk an COM1"}));
    EXPECT_EQ(manager.Get("Tesk an COM1")->DeviceType(), 3);
}

TEST_F(TerminalManagerTest, NothingFoundLeavesTheRegistryEmptyAtOnce)
{
    TerminalManager manager;
    manager.RegisterTerminal("Ohmrida an ", manager.Port(5), 1, 0x00);
    EXPECT_EQ(manager.Count(), 1u);
    EXPECT_NE(manager.Get("Ohmrida an COM5"), nullptr);
    const auto start = Clock::now();
    manager.Scan();
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 1000);
    EXPECT_EQ(manager.Count(), 0u);
    manager.First();
    EXPECT_EQ(manager.Next().second, nullptr);
    EXPECT_EQ(manager.FindLogger(), nullptr);
}

TEST_F(TerminalManagerTest, PortsAreNumberedOneToNine)
{
    TerminalManager manager;
    for (int n = 1; n <= 9; ++n) {
        EXPECT_EQ(manager.Port(n).PortNumber(), n);
        EXPECT_EQ(manager.Port(n).PortName(), "COM" + std::to_string(n));
    }
    EXPECT_THROW(manager.Port(0), std::out_of_range);
    EXPECT_THROW(manager.Port(10), std::out_of_range);
}

TEST_F(TerminalManagerTest, FindLoggerSkipsChargersOnLowerPorts)
{
    TerminalManager manager;
    ScriptedPeer charger1(1, ChargerScript(1));
    ScriptedPeer charger2(2, ChargerScript(4));
    ScriptedPeer logger(4, LoggerScript());
    const std::unique_ptr<Terminal> found = manager.FindLogger();
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Name(), "Kestrix");
    EXPECT_EQ(found->Port(), &manager.Port(4));
    EXPECT_EQ(found->DeviceType(), 5);
    EXPECT_EQ(found->Address(), 0x00);
    EXPECT_EQ(charger1.CommandBytes(), Bytes{0xF0});
    EXPECT_EQ(charger2.CommandBytes(), Bytes{0xF0});
    EXPECT_EQ(logger.CommandBytes(), Bytes{0xF0});
    EXPECT_EQ(manager.Count(), 0u);   // the logger is not filed
}
