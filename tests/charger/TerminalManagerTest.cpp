#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ScriptedPeer.h"
#include "TerminalManager.h"

using namespace ChargerTest;
using Ohmrida::Terminal;
using Ohmrida::TerminalManager;
using Clock = std::chrono::steady_clock;

namespace {

// The names in the manager's order; every entry is its own terminal's name.
std::vector<std::string> walk(TerminalManager &manager)
{
    std::vector<std::string> names;
    manager.First();
    for (uint32_t i = 0; i < manager.Count(); ++i) {
        const auto entry = manager.Next();
        EXPECT_EQ(entry.second ? entry.second->Name() : std::string("(none)"), entry.first);
        names.push_back(entry.first);
    }
    EXPECT_EQ(manager.Next().second, nullptr);
    return names;
}

} // namespace

TEST(TerminalManagerTest, NamesSortByteWiseNotByPortAndVarnGivesFourTerminals)
{
    TerminalManager manager;
    ScriptedPeer tesk(1, ChargerScript(3));
    ScriptedPeer lumo(2, ChargerScript(2));
    ScriptedPeer ohmrida(3, ChargerScript(1));
    ScriptedPeer varn(4, ChargerScript(4));
    manager.Scan();
    const std::vector<std::string> expected = {"Lumo an COM2",       "Ohmrida an COM3",    "Tesk an COM1",
                                               "Varn/Akku1 an COM4", "Varn/Akku2 an COM4", "Varn/Akku3 an COM4",
                                               "Varn/Akku4 an COM4"};
    EXPECT_EQ(walk(manager), expected);

    const Terminal *third = manager.Get("Varn/Akku3 an COM4");
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->Address(), 0x80);
    EXPECT_EQ(third->DeviceType(), 4);
    EXPECT_EQ(third->Port(), &manager.Port(4));
    EXPECT_EQ(manager.Get("Varn/Akku1 an COM4")->Address(), 0x00);
    for (const auto &[name, type] : {std::pair<const char *, int>{"Lumo an COM2", 2}, {"Ohmrida an COM3", 1},
                                     {"Tesk an COM1", 3}})
        EXPECT_EQ(manager.Get(name)->DeviceType(), type) << name;
    EXPECT_EQ(manager.Get("Varn/Akku5 an COM4"), nullptr);
    EXPECT_EQ(manager.Get("lumo an COM2"), nullptr);

    // The same hardware again gives the same names.
    manager.Scan();
    EXPECT_EQ(walk(manager), expected);
    EXPECT_EQ(lumo.CommandBytes(), (Bytes{0x16, 0x16}));
}

TEST(TerminalManagerTest, NothingFoundLeavesTheRegistryEmptyAtOnce)
{
    TerminalManager manager;
    manager.RegisterTerminal("Ohmrida an ", manager.Port(5), 1, 0x00);
    EXPECT_NE(manager.Get("Ohmrida an COM5"), nullptr);
    const auto start = Clock::now();
    manager.Scan();
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 1000);
    EXPECT_TRUE(walk(manager).empty());
    EXPECT_EQ(manager.FindLogger(), nullptr);
    EXPECT_THROW(manager.Port(10), std::out_of_range);
}

TEST(TerminalManagerTest, FindLoggerSkipsChargersOnLowerPorts)
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
    for (const ScriptedPeer *peer : {&charger1, &charger2, &logger})
        EXPECT_EQ(peer->CommandBytes(), Bytes{0xF0});
    EXPECT_EQ(manager.Count(), 0u);   // the logger is not filed
}

TEST(TerminalManagerTest, FindLoggerTakesTheLowestPortEvenWhenAHigherOneAnswersFirst)
{
    TerminalManager manager;
    ScriptedPeer charger(1, ChargerScript(2));
    // The logger on COM3 answers 300 ms late, the one on COM6 at once.
    ScriptedPeer slowLogger(3, [script = LoggerScript()](const Bytes &message) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return script(message);
    });
    ScriptedPeer fastLogger(6, LoggerScript());
    // Both find COM3; only the walk stops there, the search at once asks
    // every port once.
    const std::pair<std::unique_ptr<Terminal> (TerminalManager::*)(), Bytes> ways[] = {
        {&TerminalManager::FindLogger, Bytes{0xF0}}, {&TerminalManager::FindLoggerSequential, Bytes{}}};
    for (const auto &[find, fastProbes] : ways) {
        for (ScriptedPeer *peer : {&charger, &slowLogger, &fastLogger})
            peer->ClearReceived();
        const std::unique_ptr<Terminal> found = (manager.*find)();
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->Port(), &manager.Port(3));
        EXPECT_EQ(charger.CommandBytes(), Bytes{0xF0});
        EXPECT_EQ(slowLogger.CommandBytes(), Bytes{0xF0});
        EXPECT_EQ(fastLogger.CommandBytes(), fastProbes);
    }
}

TEST(TerminalManagerTest, APortHeldElsewhereIsSearchedAsTheWalkDoes)
{
    TerminalManager manager;
    ScriptedPeer ohmrida(2, ChargerScript(1));
    ScriptedPeer tesk(3, ChargerScript(3));

    // Held by the searching thread itself: busy, like ExCantOpen in the walk,
    // and no deadlock with a helper thread waiting for it.
    manager.Port(2).Open();
    manager.Scan();
    manager.Port(2).Close();
    EXPECT_EQ(walk(manager), (std::vector<std::string>{"Tesk an COM3"}));
    EXPECT_TRUE(ohmrida.CommandBytes().empty());
    EXPECT_EQ(manager.FindLogger(), nullptr);

    // Held by another thread for one exchange: the search waits for it and
    // then asks, as the walk would.
    std::mutex mutex;
    std::condition_variable opened;
    bool isOpen = false;
    std::thread other([&] {
        manager.Port(2).Open();
        {
            std::lock_guard<std::mutex> guard(mutex);
            isOpen = true;
        }
        opened.notify_one();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        manager.Port(2).Close();
    });
    {
        std::unique_lock<std::mutex> guard(mutex);
        opened.wait(guard, [&] { return isOpen; });
    }
    ohmrida.ClearReceived();
    manager.Scan();
    other.join();
    EXPECT_EQ(walk(manager), (std::vector<std::string>{"Ohmrida an COM2", "Tesk an COM3"}));
    EXPECT_EQ(ohmrida.CommandBytes(), Bytes{0x16});
}

TEST(TerminalManagerTest, SilentPortsCostOneTimeOutTogether)
{
    TerminalManager manager;
    const auto silence = [](const Bytes &) { return Bytes{}; };
    ScriptedPeer silent1(1, silence), silent4(4, silence), silent9(9, silence);
    ScriptedPeer lumo(5, ChargerScript(2));
    const int timeoutMs = Ohmrida::AsynchSerialInterface::ReadTimeoutMs(11);
    const auto start = Clock::now();
    manager.Scan();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(walk(manager), (std::vector<std::string>{"Lumo an COM5"}));
    EXPECT_GE(elapsed, timeoutMs - 50);
    EXPECT_LT(elapsed, 2 * timeoutMs);
    for (const ScriptedPeer *peer : {&silent1, &silent4, &silent9})
        EXPECT_EQ(peer->CommandBytes(), Bytes{0x16});
}
