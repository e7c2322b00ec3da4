#pragma once

#include <string>

namespace Sim {

// The device end of one emulated serial port. The slave side is the path
// clients open as their COM port; we keep one slave descriptor ourselves so
// the line does not hang up while no client has it open.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Throws std::runtime_error when no pseudo-terminal can be created.
    void open();
    void close();
    bool isOpen() const { return master_ >= 0; }

    int masterFd() const { return master_; }
    const std::string& path() const { return path_; }

    // A client that set exclusive mode (TIOCEXCL) would lock itself out of
    // its next open, because our own slave descriptor keeps the line alive.
    void releaseExclusive() const;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

} // namespace Sim
