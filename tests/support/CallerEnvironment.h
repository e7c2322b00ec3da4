#pragma once
// The variables through which a user points the programs at devices, a
// database and a station name. Test programs start without the caller's, so
// a developer's own setup cannot change what a test finds; tests that need
// one set it themselves (the simulator sets the ports).

#include <cstdlib>
#include <string>

inline void ForgetCallersEnvironment()
{
    for (int port = 1; port <= 9; ++port)
        ::unsetenv(("BRASKON_COM" + std::to_string(port)).c_str());
    ::unsetenv("BRASKON_DATABASE");
    ::unsetenv("BRASKON_HOST");
}
