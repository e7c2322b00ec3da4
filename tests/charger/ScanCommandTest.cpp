// braskon-cli scan against scripted chargers.

#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "ScriptedPeer.h"

using namespace ChargerTest;

namespace {

struct RunResult {
    int exitStatus = -1;
    std::string output;
};

RunResult runScan()
{
    RunResult result;
    FILE *pipe = popen("'" BRASKON_CLI_PATH "' scan", "r");
    if (!pipe)
        return result;
    char buffer[512];
    for (size_t count; (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, count);
    const int status = pclose(pipe);
    if (WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
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
