#pragma once

#include <string>
#include <vector>

namespace Sim {

struct Options {
    struct Port { int com = 0; std::string type; };
    std::vector<Port> ports;
    double speed = 1.0;
    std::string envFile;
    std::string traceFile;
    std::string controlPath;
    std::string kestrixFile;
    std::string kestrixSpec;
    // Applied in order at start, as the control commands they stand for.
    std::vector<std::string> startCommands;
    int gapMs = 100;
    bool help = false;
    bool version = false;
    // Client mode: send one control command to a running simulator.
    std::string sendPath;
    std::string sendCommand;
};

// Returns an error text, empty on success.
std::string parseOptions(const std::vector<std::string>& arguments, Options& options);

const char* helpText();

} // namespace Sim
