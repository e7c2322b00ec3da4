// The terminal search and the logger search against scripted peers; names,
// order, types and addresses are checked against braskon-sim.
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ScriptedPeer.h"
#include "TerminalManager.h"

using namespace ChargerTest;
using Ohmrida::Terminal;
using Ohmrida::TerminalManager;

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

TEST(TerminalManagerTest, FindLoggerTakesTheLowestPortEvenWhenAHigherOneAnswersFirst)
{
    TerminalManager manager;
    ScriptedPeer charger(1, ChargerScript(2)), varn(2, ChargerScript(4));
    // The logger on COM3 answers 300 ms late, the one on COM6 at once.
    ScriptedPeer slowLogger(3, [script = LoggerScript()](const Bytes &message) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return script(message);
    });
    ScriptedPeer fastLogger(6, LoggerScript());
    // Both find COM3; only the walk stops there, the search at once asks every port once.
    const std::pair<std::unique_ptr<Terminal> (TerminalManager::*)(), Bytes> ways[] = {
        {&TerminalManager::FindLogger, Bytes{0xF0}}, {&TerminalManager::FindLoggerSequential, Bytes{}}};
    for (const auto &[find, fastProbes] : ways) {
        for (ScriptedPeer *peer : {&charger, &varn, &slowLogger, &fastLogger})
            peer->ClearReceived();
        const std::unique_ptr<Terminal> found = (manager.*find)();
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(std::make_tuple(found->Name(), found->Port(), int(found->DeviceType()), int(found->Address())),
                  std::make_tuple(std::string("Kestrix"), &manager.Port(3), 5, 0));
        for (ScriptedPeer *peer : {&charger, &varn, &slowLogger})
            EXPECT_EQ(peer->CommandBytes(), Bytes{0xF0});
        EXPECT_EQ(fastLogger.CommandBytes(), fastProbes);
    }
    EXPECT_EQ(manager.Count(), 0u);   // the logger is not filed
}

TEST(TerminalManagerTest, APortHeldElsewhereIsSearchedAsTheWalkDoes)
{
    TerminalManager manager;
    ScriptedPeer ohmrida(2, ChargerScript(1)), tesk(3, ChargerScript(3));

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
    std::promise<void> opened;
    std::thread other([&] {
        manager.Port(2).Open();
        opened.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        manager.Port(2).Close();
    });
    opened.get_future().wait();
    ohmrida.ClearReceived();
    manager.Scan();
    other.join();
    EXPECT_EQ(walk(manager), (std::vector<std::string>{"Ohmrida an COM2", "Tesk an COM3"}));
    EXPECT_EQ(ohmrida.CommandBytes(), Bytes{0x16});
}
