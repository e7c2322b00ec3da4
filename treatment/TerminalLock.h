#pragma once
// Keeps other processes on this machine off a charger terminal while a
// treatment runs on it: an exclusive flock on a lock file per terminal, in the
// user's runtime folder ($XDG_RUNTIME_DIR/braskon, else /tmp/braskon-<uid>).
// The kernel drops the lock when the process ends in any way, so a killed
// recorder never leaves a terminal locked.

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

// Another process holds the terminal; what() is the German message for the user.
class TerminalBusyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TerminalLock {
public:
    // Takes the lock of the terminal or throws TerminalBusyError naming the
    // process that holds it (std::runtime_error when the folder is unusable).
    // The device behind the name's COM port is part of the key, so that one
    // name on differently wired ports (tests on pseudo-terminals) are distinct.
    // Within one process the lock is shared: a second Acquire of a terminal
    // this process holds succeeds, and the lock goes with the last holder.
    static std::unique_ptr<TerminalLock> Acquire(const std::string &terminalName);
    ~TerminalLock();
    TerminalLock(const TerminalLock &) = delete;
    TerminalLock &operator=(const TerminalLock &) = delete;

    const std::string &Path() const;
    static std::string Directory();

    struct File;

private:
    explicit TerminalLock(std::shared_ptr<File> file) : file_(std::move(file)) {}
    std::shared_ptr<File> file_;
};
