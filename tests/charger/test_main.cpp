// The test program doubles as the "other program" of the exclusive-open
// tests: started as  charger_tests --open-port N WAITMS  it tries to open
// COM<N>, waiting at most WAITMS for it (saying "waiting" on its standard
// output when it has to), and exits 0 when it got the port, 3 when it did not.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "charger/AsynchSerialInterface.h"
#include "tests/support/CallerEnvironment.h"
#include "tests/support/ScriptedPeer.h"

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--open-port") == 0) {
        Ohmrida::AsynchSerialInterface port(std::atoi(argv[2]));
        try {
            try {
                port.Open(0);
            } catch (const Ohmrida::AsynchSerialInterface::ExPortBusy &) {
                // Held elsewhere: the parent learns that this program waits now.
                std::fputs("waiting\n", stdout);
                std::fflush(stdout);
                port.Open(std::atoi(argv[3]));
            }
        } catch (const Ohmrida::AsynchSerialInterface::ExCantOpen &) {
            return 3;
        }
        port.Close();
        return 0;
    }
    // The child above opens the port its parent test set up; the tests start clean.
    ForgetCallersEnvironment();
    // Nothing falls back to the machine's own serial ports.
    ChargerTest::DetachAllPorts();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
