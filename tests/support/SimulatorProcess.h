#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QProcess;
class QTemporaryDir;

namespace SimTest {

// Runs braskon-sim (with its own options: --port 1=lumo, --speed, --fault, ...)
// as a child process, its files in a private temporary directory. start()
// points BRASKON_COM1..9 at the simulated ports or at paths that do not exist;
// stop() and the destructor restore them.
class SimulatorProcess {
public:
    explicit SimulatorProcess(std::vector<std::string> arguments);
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Waits until all ports exist; throws std::runtime_error with the simulator's output.
    void start(std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // SIGTERM, SIGKILL after 3 s; harmless when not running.
    void stop();

    // Pseudo-terminal path of a simulated COM number, "" when not simulated.
    std::string portPath(int comNumber) const;
    // Every exchange so far: "COM3 rx 51 tx 51 00", "tx -" unanswered, "tx - discarded".
    std::vector<std::string> trace() const;
    // Index of the first trace line from fromLine on containing the text; -1 after the deadline.
    int waitForTrace(const std::string& text, std::chrono::milliseconds deadline, size_t fromLine = 0) const;
    // One control command (braskon-sim --help); the "ok ..." reply, else throws.
    std::string control(const std::string& line);
    // Raises BRASKON_DEVICE_SPEED now, for a program started before a later
    // "set-speed" to this speed.
    void allowSpeed(double speed) { setDeviceSpeed(speed); }
    std::string logText() const;   // the simulator's stdout and stderr

    static std::string simulatorPath() { return BRASKON_SIM_PATH; }

private:
    void setVariable(const std::string& name, const std::string& value);
    void setDeviceSpeed(double speed);

    std::vector<std::string> arguments_;
    double deviceSpeed_ = 0;
    std::unique_ptr<QTemporaryDir> directory_;
    std::string workDir_;
    std::unique_ptr<QProcess> process_;
    std::map<int, std::string> ports_;
    std::map<std::string, std::optional<std::string>> savedVariables_;
};

} // namespace SimTest
