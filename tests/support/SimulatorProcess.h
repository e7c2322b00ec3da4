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
// --soc, --kestrix-file, ...); --env-file, --trace and --control are added,
// in a private temporary directory, so several tests may run in parallel.
// start() sets BRASKON_COM<n> for every simulated port and points every
// other COM1..COM9 at a path that does not exist (a search skips them at
// once); stop() and the destructor restore the variables.
//
//   SimTest::SimulatorProcess sim({"--port", "1=lumo", "--port", "3=varn", "--speed", "600"});
//   sim.start();
//   sim.control("fault 3.2 silent");
//   ... run code that opens COM1 / COM3 ...
//   auto lines = sim.trace();   // e.g. "COM3 rx 51 tx 51 00"
class SimulatorProcess {
public:
    explicit SimulatorProcess(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Launches the simulator and waits until all its ports exist. Throws
    // std::runtime_error with the simulator's own output when it cannot be
    // started or does not get ready in time.
    void start(std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // Ends the simulator (SIGTERM, SIGKILL after 3 s) and restores the
    // BRASKON_COM variables. Harmless when not running.
    void stop();

    // Pseudo-terminal path of a simulated COM number, "" when not simulated.
    std::string portPath(int comNumber) const;
    // Every exchange so far, one line each: "COM<n> rx <hex bytes> tx <hex
    // bytes>" ("tx -" when not answered, "tx - discarded" for an incomplete
    // command dropped after a gap).
    std::vector<std::string> trace() const;
    // Index of the first trace line at or after fromLine that contains the
    // text, waiting up to the deadline; -1 when none came.
    int waitForTrace(const std::string& text, std::chrono::milliseconds deadline, size_t fromLine = 0) const;
    // Sends one control command (see braskon-sim --help) and returns the reply
    // ("ok ..."); throws std::runtime_error when it is rejected or unreachable.
    std::string control(const std::string& line);
    std::string logText() const;   // the simulator's stdout and stderr

    static std::string simulatorPath() { return BRASKON_SIM_PATH; }

private:
    std::vector<std::string> arguments_;
    std::string workDir_;
    pid_t pid_ = -1;
    std::map<int, std::string> ports_;
    std::map<std::string, std::optional<std::string>> savedVariables_;
};

} // namespace SimTest
