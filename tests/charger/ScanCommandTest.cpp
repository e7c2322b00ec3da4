// braskon-cli scan against scripted chargers.

#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "ScriptedPeer.h"

using namespace ChargerTest;

namespace {

// The command's exit status and output.
std::pair<int, std::string> runScan()
{
    std::string output;
    FILE *pipe = popen("'" BRASKON_CLI_PATH "' scan", "r");
    char buffer[512];
    for (size_t count; pipe && (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, count);
    const int status = pipe ? pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

} // namespace

TEST(ScanCommandTest, ListsTerminalsWithTypeAndAddressNothingFoundIsNoError)
{
    DetachAllPorts();
    EXPECT_EQ(runScan(), std::make_pair(0, std::string()));
    ScriptedPeer tesk(1, ChargerScript(3)), varn(2, ChargerScript(4));
    EXPECT_EQ(runScan(), std::make_pair(0, std::string("Tesk an COM1\t3\t0x00\n"
                                                       "Varn/Akku1 an COM2\t4\t0x00\n"
                                                       "Varn/Akku2 an COM2\t4\t0x40\n"
                                                       "Varn/Akku3 an COM2\t4\t0x80\n"
                                                       "Varn/Akku4 an COM2\t4\t0xc0\n")));
}
