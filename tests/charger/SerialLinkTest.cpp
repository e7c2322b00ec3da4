// The serial link on pseudo-terminals: time-outs, stale input, exclusive open across threads and
// processes (one port shared by two threads is crossed by the logger readout beside polling).
#include <chrono>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "charger/AsynchSerialInterface.h"
#include "tests/support/ScriptedPeer.h"

extern char **environ;

using namespace ChargerTest;
using Ohmrida::AsynchSerialInterface;
using Clock = std::chrono::steady_clock;

namespace {

Bytes echo(const Bytes &message) { return {message.at(0), 0x00}; }

// Runs this test program in another process to open COM<portNumber> (see test_main.cpp).
// Starts this test program as another process that opens COM<n>, waiting at
// most waitMs for it; join() gives its exit status (0 opened, 3 busy).
class OtherProcess {
public:
    OtherProcess(int portNumber, int waitMs)
    {
        std::string port = std::to_string(portNumber), wait = std::to_string(waitMs);
        char *const args[] = {const_cast<char *>("charger_tests"), const_cast<char *>("--open-port"), port.data(),
                              wait.data(), nullptr};
        int output[2];
        if (pipe(output) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, output[0]);
        if (posix_spawn(&child_, "/proc/self/exe", &actions, nullptr, args, environ) != 0)
            child_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        close(output[1]);
        output_ = output[0];
    }
    ~OtherProcess()
    {
        if (output_ >= 0)
            close(output_);
    }
    // Returns once the other program says it waits for the port (false when
    // it ended without waiting).
    bool waits()
    {
        char text[16] = {};
        return output_ >= 0 && read(output_, text, sizeof text - 1) > 0 && std::string(text).rfind("waiting", 0) == 0;
    }
    int join()
    {
        int status = 0;
        if (child_ == 0 || waitpid(child_, &status, 0) != child_ || !WIFEXITED(status))
            return -1;
        return WEXITSTATUS(status);
    }

private:
    pid_t child_ = 0;
    int output_ = -1;
};

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
    Bytes answer(2);
    const uint8_t command = 0x13;
    port.Open();
    port.Send(&command, 1);
    port.Receive(answer.data(), 2);
    port.Close();
    EXPECT_EQ(answer, (Bytes{0x13, 0x00}));
}

// Another port object or another program finds the device held: it waits
// for the holder's exchange, and gives up only after its wait.
TEST(SerialLinkTest, SecondOpenerWaitsForTheFirstWithinItsWait)
{
    ScriptedPeer peer(7, echo);
    AsynchSerialInterface first(7), second(7);
    first.Open();
    // The same thread opening twice is refused at once, not deadlocked.
    EXPECT_THROW(first.Open(), AsynchSerialInterface::ExCantOpen);
    EXPECT_TRUE(first.IsOpen());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(second.Open(100), AsynchSerialInterface::ExPortBusy);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
    EXPECT_EQ(OtherProcess(7, 100).join(), 3);
    // Released while the other program waits: it gets the port.
    OtherProcess waiting(7, 5000);
    ASSERT_TRUE(waiting.waits());
    first.Close();
    EXPECT_EQ(waiting.join(), 0);
    second.Open();
    second.Close();
}
