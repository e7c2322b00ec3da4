// braskon-cli scan against scripted chargers.

#include <string>

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ScriptedPeer.h"

extern char **environ;

using namespace ChargerTest;

namespace {

struct RunResult {
    int exitStatus = -1;
    std::string output;
};

RunResult runScan()
{
    RunResult result;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    char *const args[] = {const_cast<char *>(BRASKON_CLI_PATH), const_cast<char *>("scan"), nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, BRASKON_CLI_PATH, &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned == 0) {
        char buffer[512];
        ssize_t count;
        while ((count = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
            result.output.append(buffer, static_cast<size_t>(count));
        int status = 0;
        if (waitpid(child, &status, 0) == child && WIFEXITED(status))
            result.exitStatus = WEXITSTATUS(status);
    }
    close(pipeEnds[0]);
    return result;
}

} // namespace

TEST(ScanCommandTest, ListsTerminalsWithTypeAndAddressNothingFoundIsNoError)
{
    DetachAllPorts();
    RunResult result = runScan();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "");

    ScriptedPeer tesk(1, ChargerScript(3));
    ScriptedPeer varn(2, ChargerScript(4));
    result = runScan();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "Tesk an COM1\t3\t0x00\n"
                             "Varn/Akku1 an COM2\t4\t0x00\n"
                             "Varn/Akku2 an COM2\t4\t0x40\n"
                             "Varn/Akku3 an COM2\t4\t0x80\n"
                             "Varn/Akku4 an COM2\t4\t0xc0\n");
}
