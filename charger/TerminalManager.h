#pragma once
// Finds the chargers on COM1..COM9 and files their terminals by name.
// Pointers handed out by Get() and Next() are valid until the next Scan() or
// Clear(); long-lived users keep a copy of the terminal.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "AsynchSerialInterface.h"
#include "Terminal.h"

namespace Ohmrida {

class TerminalManager {
public:
    static constexpr int PortCount = 9;

    TerminalManager();
    ~TerminalManager();
    TerminalManager(const TerminalManager &) = delete;
    TerminalManager &operator=(const TerminalManager &) = delete;

    // Clear(), then ScanPort for COM1..COM9 in this order.
    void Scan();
    void ScanPort(AsynchSerialInterface &port);
    // Files a new terminal named label + port.PortName().
    void RegisterTerminal(const std::string &label, AsynchSerialInterface &port, uint8_t deviceType,
                          uint8_t address);
    void Clear();
    uint32_t Count() const;

    // Walk in byte order of the names: First(), then Next() up to Count() times.
    // Next() past the end returns an empty name and nullptr.
    void First();
    std::pair<std::string, Terminal *> Next();

    Terminal *Get(const std::string &name) const;
    // The logger on the first port that answers the probe, not filed; nullptr
    // when no port answers.
    std::unique_ptr<Terminal> FindLogger();

    // Port 1..9; throws std::out_of_range for other numbers.
    AsynchSerialInterface &Port(int number);

private:
    std::map<std::string, std::unique_ptr<Terminal>> registry_;
    std::map<std::string, std::unique_ptr<Terminal>>::const_iterator cursor_;
    std::unique_ptr<AsynchSerialInterface> ports_[PortCount];
};

} // namespace Ohmrida
