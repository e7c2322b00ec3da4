#pragma once
// The registry of charger terminals found on COM1..COM9, filed by name, and
// the nine port objects they talk through. It belongs to one thread (the
// treatment engine's); pointers handed out by Get() and Next() are valid until
// that thread files the port again or clears the registry, so a treatment
// keeps a copy of its terminal. The search of all ports at once runs in the
// engine (one worker per port); here each port is asked in turn.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "charger/AsynchSerialInterface.h"
#include "charger/Terminal.h"

namespace Ohmrida {

class TerminalManager {
public:
    static constexpr int PortCount = 9;

    TerminalManager();
    ~TerminalManager();
    TerminalManager(const TerminalManager &) = delete;
    TerminalManager &operator=(const TerminalManager &) = delete;

    // Clear(), then ScanPort for COM1..COM9 in this order, one after the other.
    void Scan();
    void ScanPort(AsynchSerialInterface &port);
    // Replaces what is filed for port 1..9 by the terminals of a device of
    // that type (none for NoDevice): what a search found there.
    void FilePort(int number, uint8_t deviceType);
    // Files a new terminal named label + port.PortName().
    void RegisterTerminal(const std::string &label, AsynchSerialInterface &port, uint8_t deviceType,
                          uint8_t address);
    void Clear();
    uint32_t Count() const;

    // Walk in byte order of the names: First(), then Next() up to Count() times.
    // Next() past the end returns an empty name and nullptr.
    void First();
    std::pair<std::string, Terminal *> Next();
    // The filed terminals in name order.
    std::vector<const Terminal *> Terminals() const;

    Terminal *Get(const std::string &name) const;
    // The logger on the first port (in port order) that answers the probe, not
    // filed; nullptr when no port answers. COM1, COM2, ... are probed one
    // after the other up to the logger.
    std::unique_ptr<Terminal> FindLogger();
    // The logger's terminal on port 1..9 (not filed).
    std::unique_ptr<Terminal> LoggerOn(int number);

    // Port 1..9; throws std::out_of_range for other numbers.
    AsynchSerialInterface &Port(int number);

private:
    void fileTerminals(AsynchSerialInterface &port, uint8_t deviceType);

    std::map<std::string, std::unique_ptr<Terminal>> registry_;
    std::map<std::string, std::unique_ptr<Terminal>>::const_iterator cursor_;
    std::unique_ptr<AsynchSerialInterface> ports_[PortCount];
};

} // namespace Ohmrida
