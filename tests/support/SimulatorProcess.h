#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace SimTest {

// Runs braskon-sim as a child process for a test and wires this process to it.
//
// The arguments are the simulator's own options (--port, --speed, --fault,
// --soc, --kestrix-file, ...). SimulatorProcess adds --env-file, --trace and
// --control itself, each in a private temporary directory, so several tests
// may run in parallel.
//
// start() sets BRASKON_COM<n> for every simulated port and points every
// other COM1..COM9 at a path that does not exist (a port scan then skips them
// at once). stop() and the destructor end the simulator and restore the
// variables to what they were before start().
//
//   SimTest::SimulatorProcess sim({"--port", "1=lumo", "--port", "3=varn", "--speed", "600"});
//   sim.start();
//   sim.control("fault 3.2 silent");
//   ... run code that opens COM1 / COM3 ...
//   auto lines = sim.trace();   // e.g. "COM3 rx 51 tx 51 00"
class SimulatorProcess {
public:
    explicit SimulatorProcess(std::vector<std::string> arguments);
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Launches the simulator and waits (up to the deadline) until all its
    // ports exist. Throws std::runtime_error with the simulator's own output
    // when it cannot be started or does not get ready in time.
    void start(std::chrono::milliseconds deadline = std::chrono::seconds(10));

    // Ends the simulator (SIGTERM, then SIGKILL after 3 s) and restores the
    // BRASKON_COM variables. Harmless when not running.
    void stop();

    bool running() const;

    // Pseudo-terminal path of a simulated COM number, "" when not simulated.
    std::string portPath(int comNumber) const;

    // Every exchange so far, one line each:
    //   "COM<n> rx <hex bytes> tx <hex bytes>"   ("tx -" when not answered,
    //   "tx - discarded" for an incomplete command dropped after a gap).
    std::vector<std::string> trace() const;

    // Polls the trace until a line containing the text appears at index
    // >= fromLine. Returns that line's index, or -1 after the deadline.
    int waitForTrace(const std::string& text, std::chrono::milliseconds deadline,
                     size_t fromLine = 0) const;

    // Sends one control command (see braskon-sim --help) and returns the
    // simulator's reply ("ok ..."). Throws std::runtime_error when the
    // simulator rejects the command ("error: ...") or cannot be reached.
    std::string control(const std::string& line);

    // The private directory with env file, trace, control socket and log.
    const std::string& workDirectory() const { return workDir_; }
    std::string logText() const;   // the simulator's stdout and stderr

    static std::string simulatorPath();

private:
    void setPortVariables();
    void restorePortVariables();

    std::vector<std::string> arguments_;
    std::string workDir_;
    pid_t pid_ = -1;
    std::map<int, std::string> ports_;
    std::map<std::string, std::optional<std::string>> savedVariables_;
};

} // namespace SimTest
