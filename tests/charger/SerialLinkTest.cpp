// The serial link on pseudo-terminals: time-outs, stale input, exclusive open across threads and
// processes (one port shared by two threads is crossed by the logger readout beside polling).
#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include "AsynchSerialInterface.h"
#include "ScriptedPeer.h"

extern char **environ;

using namespace ChargerTest;
using Ohmrida::AsynchSerialInterface;
using Clock = std::chrono::steady_clock;

namespace {

Bytes echo(const Bytes &message) { return {message.at(0), 0x00}; }

// Runs this test program in another process to open COM<portNumber> (see test_main.cpp).
int openInOtherProcess(int portNumber)
{
    std::string port = std::to_string(portNumber);
    char *const args[] = {const_cast<char *>("charger_tests"), const_cast<char *>("--open-port"), port.data(), nullptr};
    pid_t child = 0;
    int status = 0;
    if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, args, environ) != 0 ||
        waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

TEST(SerialLinkTest, ShortReadTimesOutAndKeepsTheBytesThatArrived)
{
    ScriptedPeer peer(2, [](const Bytes &) { return Bytes{0xAB, 0xCD}; });
    AsynchSerialInterface port(2);
    uint8_t buffer[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    const uint8_t command = 0x11;
    port.Open();
    port.Send(&command, 1);
    const auto start = Clock::now();
    EXPECT_THROW(port.Receive(buffer, 5), AsynchSerialInterface::ExCantReceive);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    port.Close();
    EXPECT_TRUE(elapsed >= 1150 && elapsed <= 2500) << elapsed;   // 1000 + 5 * 50 ms
    EXPECT_EQ((Bytes{0xAB, 0xCD, 0xEE, 0xEE, 0xEE}), Bytes(buffer, buffer + 5));
}

TEST(SerialLinkTest, ReopeningDiscardsStaleInput)
{
    ScriptedPeer peer(6, echo);
    AsynchSerialInterface port(6);
    port.Open();
    port.Close();
    port.Close();   // harmless
    peer.Inject({0x99, 0x98, 0x97});   // an answer too late for an earlier exchange
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Bytes answer(2);
    const uint8_t command = 0x13;
    port.Open();
    port.Send(&command, 1);
    port.Receive(answer.data(), 2);
    port.Close();
    EXPECT_EQ(answer, (Bytes{0x13, 0x00}));
}

TEST(SerialLinkTest, SecondOpenerOfTheDeviceIsRefused)
{
    ScriptedPeer peer(7, echo);
    AsynchSerialInterface first(7), second(7);
    first.Open();
    // The same thread opening twice is refused, not deadlocked.
    EXPECT_THROW(first.Open(), AsynchSerialInterface::ExCantOpen);
    EXPECT_TRUE(first.IsOpen());
    EXPECT_THROW(second.Open(), AsynchSerialInterface::ExCantOpen);
    EXPECT_EQ(openInOtherProcess(7), 3);
    first.Close();
    EXPECT_EQ(openInOtherProcess(7), 0);
    second.Open();
    second.Close();
}
