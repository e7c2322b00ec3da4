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

    // Clear(), then identifies COM1..COM9 all at once, one thread per port,
    // and files what it found as ScanSequential() would: the same names,
    // types and addresses, the same exchange on each port. Ports that answer
    // nothing therefore cost one read time-out together instead of one each.
    // An exception from one port's exchange is rethrown after the ports below
    // it were filed, as the one-by-one walk would have done.
    void Scan();
    // Clear(), then ScanPort for COM1..COM9 in this order, one after the other.
    void ScanSequential();
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
    // The logger on the first port (in port order) that answers the probe, not
    // filed; nullptr when no port answers. Every port is probed at once, so
    // ports above the logger get the probe too.
    std::unique_ptr<Terminal> FindLogger();
    // The same, probing COM1, COM2, ... one after the other up to the logger.
    std::unique_ptr<Terminal> FindLoggerSequential();

    // Port 1..9; throws std::out_of_range for other numbers.
    AsynchSerialInterface &Port(int number);

private:
    void fileTerminals(AsynchSerialInterface &port, uint8_t deviceType);

    std::map<std::string, std::unique_ptr<Terminal>> registry_;
    std::map<std::string, std::unique_ptr<Terminal>>::const_iterator cursor_;
    std::unique_ptr<AsynchSerialInterface> ports_[PortCount];
};

} // namespace Ohmrida
