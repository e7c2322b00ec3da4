// The walk of the ports and the logger probe against scripted peers (the
// engine's search of all ports at once, and names, order, types and
// addresses, are checked against braskon-sim).
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/ScriptedPeer.h"
#include "charger/TerminalManager.h"

using namespace ChargerTest;
using Ohmrida::AsynchSerialInterface;
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

TEST(TerminalManagerTest, FindLoggerStopsAtTheLowestPortThatAnswers)
{
    TerminalManager manager;
    ScriptedPeer charger(1, ChargerScript(2)), varn(2, ChargerScript(4));
    ScriptedPeer logger(3, LoggerScript()), higherLogger(6, LoggerScript());
    const std::unique_ptr<Terminal> found = manager.FindLogger();
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::make_tuple(found->Name(), found->Port(), int(found->DeviceType()), int(found->Address())),
              std::make_tuple(std::string("Kestrix"), &manager.Port(3), 5, 0));
    for (ScriptedPeer *peer : {&charger, &varn, &logger})
        EXPECT_EQ(peer->CommandBytes(), Bytes{0xF0});
    EXPECT_TRUE(higherLogger.CommandBytes().empty());
    EXPECT_EQ(manager.Count(), 0u);   // the logger is not filed
}

TEST(TerminalManagerTest, APortHeldElsewhereIsWaitedForAndFilingAPortReplacesItsTerminals)
{
    TerminalManager manager;
    ScriptedPeer ohmrida(2, ChargerScript(1)), tesk(3, ChargerScript(3));

    // Held by the searching thread itself: busy at once, no deadlock.
    manager.Port(2).Open();
    manager.Scan();
    manager.Port(2).Close();
    EXPECT_EQ(walk(manager), (std::vector<std::string>{"Tesk an COM3"}));
    EXPECT_TRUE(ohmrida.CommandBytes().empty());

    // Held by another thread, or through another port object (as another
    // program holds it), for one exchange: the walk waits and then asks.
    AsynchSerialInterface other(2);
    for (AsynchSerialInterface *holder : {&manager.Port(2), &other}) {
        std::promise<void> opened;
        std::thread elsewhere([&] {
            holder->Open();
            opened.set_value();
            // A hold of an exchange's length, on purpose: nothing outside the
            // port shows the walk waiting for it, so the walk must outlast it.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            holder->Close();
        });
        opened.get_future().wait();
        ohmrida.ClearReceived();
        manager.Scan();
        elsewhere.join();
        EXPECT_EQ(walk(manager), (std::vector<std::string>{"Ohmrida an COM2", "Tesk an COM3"}));
        EXPECT_EQ(ohmrida.CommandBytes(), Bytes{0x16});
    }

    // What a search found on a port replaces what was filed for it.
    manager.FilePort(2, Ohmrida::DeviceVarn);
    manager.FilePort(3, Ohmrida::NoDevice);
    EXPECT_EQ(walk(manager), (std::vector<std::string>{"Varn/Akku1 an COM2", "Varn/Akku2 an COM2",
                                                       "Varn/Akku3 an COM2", "Varn/Akku4 an COM2"}));
    EXPECT_EQ(manager.Get("Varn/Akku4 an COM2")->Address(), 0xC0);
}
