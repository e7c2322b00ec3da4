#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include "AsynchSerialInterface.h"
#include "ScriptedPeer.h"
#include "Terminal.h"

extern char **environ;

using namespace ChargerTest;
using Ohmrida::AsynchSerialInterface;
using Clock = std::chrono::steady_clock;

namespace {

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

Bytes echo(const Bytes &message)
{
    return {message.at(0), 0x00};
}

// Runs this test program in another process to open COM<portNumber>.
int openInOtherProcess(int portNumber)
{
    const std::string port = std::to_string(portNumber);
    char *const args[] = {const_cast<char *>("charger_tests"), const_cast<char *>("--open-port"),
                          const_cast<char *>(port.c_str()), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, args, environ) != 0)
        return -1;
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override { DetachAllPorts(); }
    void TearDown() override { DetachAllPorts(); }
};

} // namespace

TEST_F(SerialLinkTest, NamesThePortAndResolvesTheDeviceAtEveryOpen)
{
    AsynchSerialInterface port(3);
    EXPECT_EQ(port.PortNumber(), 3);
    EXPECT_EQ(port.PortName(), "COM3");
    unsetenv("BRASKON_COM3");
    EXPECT_EQ(port.DevicePath(), "/dev/ttyS2");

    // The variable is read when the port opens, not when the object is built.
    ScriptedPeer first(3, echo);
    uint8_t answer[2] = {};
    const uint8_t command = 0x13;
    port.Open();
    port.Send(&command, 1);
    port.Receive(answer, 2);
    port.Close();
    {
        ScriptedPeer second(3, [](const Bytes &m) { return Bytes{m.at(0), 0x07}; });
        port.Open();
        port.Send(&command, 1);
        port.Receive(answer, 2);
        port.Close();
        EXPECT_EQ(answer[1], 0x07);
        EXPECT_EQ(second.Received().size(), 1u);
    }
    EXPECT_EQ(first.Received().size(), 1u);
}

TEST_F(SerialLinkTest, MissingPortFailsAtOnce)
{
    AsynchSerialInterface port(5);
    const auto start = Clock::now();
    EXPECT_THROW(port.Open(), AsynchSerialInterface::ExCantOpen);
    EXPECT_LT(msSince(start), 500);
    EXPECT_FALSE(port.IsOpen());
    // The lock was given back: a later open fails the same way instead of waiting.
    EXPECT_THROW(port.Open(), AsynchSerialInterface::ExCantOpen);
    // A plain file is no serial port either.
    setenv("BRASKON_COM5", "/dev/null", 1);
    EXPECT_THROW(port.Open(), AsynchSerialInterface::ExCantOpen);
}

TEST_F(SerialLinkTest, TransferOnClosedPortThrows)
{
    AsynchSerialInterface port(1);
    uint8_t byte = 0x16;
    EXPECT_THROW(port.Send(&byte, 1), AsynchSerialInterface::ExCantSend);
    EXPECT_THROW(port.Receive(&byte, 1), AsynchSerialInterface::ExCantReceive);
}

TEST_F(SerialLinkTest, ShortReadTimesOutAndKeepsTheBytesThatArrived)
{
    ScriptedPeer peer(2, [](const Bytes &) { return Bytes{0xAB, 0xCD}; });
    AsynchSerialInterface port(2);
    uint8_t buffer[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    const uint8_t command = 0x11;
    port.Open();
    port.Send(&command, 1);
    const auto start = Clock::now();
    EXPECT_THROW(port.Receive(buffer, 5), AsynchSerialInterface::ExCantReceive);
    const long long elapsed = msSince(start);
    port.Close();
    EXPECT_GE(elapsed, 1150);   // 1000 + 5 * 50 ms
    EXPECT_LE(elapsed, 2500);
    EXPECT_EQ(buffer[0], 0xAB);
    EXPECT_EQ(buffer[1], 0xCD);
    EXPECT_EQ(buffer[2], 0xEE);
    EXPECT_EQ(buffer[4], 0xEE);
}

TEST_F(SerialLinkTest, CloseTwiceIsHarmlessAndReopeningWorks)
{
    ScriptedPeer peer(4, echo);
    AsynchSerialInterface port(4);
    port.Open();
    EXPECT_TRUE(port.IsOpen());
    port.Close();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    port.Open();
    const uint8_t command = 0x15;
    uint8_t answer[2] = {};
    port.Send(&command, 1);
    port.Receive(answer, 2);
    port.Close();
    EXPECT_EQ(answer[0], 0x15);
}

TEST_F(SerialLinkTest, StaleInputIsDiscardedAtOpen)
{
    ScriptedPeer peer(6, [](const Bytes &m) { return Bytes{m.at(0), 0x00}; });
    AsynchSerialInterface port(6);
    // An answer that came too late for an earlier exchange.
    port.Open();
    port.Close();
    peer.Inject({0x99, 0x98, 0x97});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port.Open();
    const uint8_t command = 0x13;
    uint8_t answer[2] = {};
    port.Send(&command, 1);
    port.Receive(answer, 2);
    port.Close();
    EXPECT_EQ(answer[0], 0x13);
    EXPECT_EQ(answer[1], 0x00);
}

TEST_F(SerialLinkTest, SecondOpenerOfTheDeviceIsRefused)
{
    ScriptedPeer peer(7, echo);
    AsynchSerialInterface first(7);
    AsynchSerialInterface second(7);
    first.Open();
    EXPECT_THROW(second.Open(), AsynchSerialInterface::ExCantOpen);
    EXPECT_EQ(openInOtherProcess(7), 3);
    first.Close();
    EXPECT_EQ(openInOtherProcess(7), 0);
    second.Open();
    second.Close();
}

TEST_F(SerialLinkTest, SameThreadOpeningTwiceIsRefusedNotDeadlocked)
{
    ScriptedPeer peer(8, echo);
    AsynchSerialInterface port(8);
    port.Open();
    EXPECT_THROW(port.Open(), AsynchSerialInterface::ExCantOpen);
    EXPECT_TRUE(port.IsOpen());
    port.Close();
}

TEST_F(SerialLinkTest, SecondThreadWaitsUntilTheFirstHasClosed)
{
    ScriptedPeer peer(9, echo);
    AsynchSerialInterface port(9);
    std::atomic<bool> holding{false};
    Clock::time_point closedAt;
    Clock::time_point secondOpenedAt;
    std::thread holder([&] {
        port.Open();
        holding = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        closedAt = Clock::now();
        port.Close();
    });
    while (!holding)
        std::this_thread::yield();
    bool opened = false;
    try {
        port.Open();
        secondOpenedAt = Clock::now();
        opened = true;
        port.Close();
    } catch (const AsynchSerialInterface::ExCantOpen &) {
    }
    holder.join();
    ASSERT_TRUE(opened);
    EXPECT_GE(secondOpenedAt, closedAt);
}

TEST_F(SerialLinkTest, TwoThreadsOnOnePortNeverInterleaveExchanges)
{
    ScriptedPeer peer(1, ChargerScript(1));
    AsynchSerialInterface port(1);
    Ohmrida::Terminal terminal("Ohmrida an COM1", &port, 1, 0x00);
    constexpr int Rounds = 15;
    std::atomic<int> failures{0};
    auto poll = [&] {
        for (int i = 0; i < Rounds; ++i) {
            Ohmrida::StatusValues values;
            Ohmrida::ProgramSettings settings;
            if (!terminal.ReadStatus(values, settings) || values.voltage != 1280 || settings.capacity != 1800)
                ++failures;
        }
    };
    std::thread logger(poll);
    poll();
    logger.join();
    EXPECT_EQ(failures, 0);
    const std::vector<uint8_t> commands = peer.CommandBytes();
    ASSERT_EQ(commands.size(), 3u * 2 * Rounds);
    for (size_t i = 0; i < commands.size(); i += 3) {
        EXPECT_EQ(commands[i], 0x11) << "at " << i;
        EXPECT_EQ(commands[i + 1], 0x21) << "at " << i;
        EXPECT_EQ(commands[i + 2], 0x12) << "at " << i;
    }
}
