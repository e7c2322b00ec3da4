#pragma once
// One serial port COM1..COM9, opened for one exchange at a time.
//
// The device behind COMn is the path in the environment variable BRASKON_COM<n>
// when it is set, else the device assigned in SerialPorts (the user's
// settings), else /dev/ttyS<n-1>; it is looked up at every Open(), so the
// mapping may change while the object exists.
//
// Open() takes the port object's own lock and keeps it until Close(): two
// threads of the engine may share one port object (a search beside the
// polling), and their exchanges must never interleave on the wire. A second
// thread calling Open() waits until the first one has closed. Other processes
// and other port objects on the same device are kept out by exclusive open
// (an advisory lock on the device and TIOCEXCL); an Open() that finds the
// device held that way waits for it, at most BusyWaitMs, and only then gives
// up with ExPortBusy. Several programs can so share one charger (the four
// channels of a Varn run by four processes): each waits for the other's
// exchange instead of losing its own.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace Ohmrida {

class AsynchSerialInterface {
public:
    struct ExCantOpen {};
    // The device exists but another process (or port object) kept it open
    // for longer than BusyWaitMs.
    struct ExPortBusy : ExCantOpen {};
    struct ExCantSend {};
    // Carries how many bytes did arrive before the read gave up.
    struct ExCantReceive {
        size_t received = 0;
    };

    explicit AsynchSerialInterface(int portNumber);
    ~AsynchSerialInterface();
    AsynchSerialInterface(const AsynchSerialInterface &) = delete;
    AsynchSerialInterface &operator=(const AsynchSerialInterface &) = delete;

    // The longest time one operation of this program keeps a port open: the
    // start of a Varn channel (two pauses of 1 s and three answers of up to
    // 1.1 s each). An Open() waits that long for another process's operation.
    static constexpr int BusyWaitMs = 2 * 1000 + 3 * 1100;

    // Opens the device exclusively, 9600 8N1 raw, no flow control, DTR and RTS
    // off, and discards pending input. Throws ExCantOpen (the lock is
    // released), ExPortBusy when the device stayed held elsewhere for waitMs.
    void Open(int waitMs = BusyWaitMs);
    // Closes the device and releases the lock; harmless when closed.
    void Close();

    // Writes all n bytes or throws ExCantSend.
    void Send(const uint8_t *bytes, size_t n);
    // Reads n bytes within 1000 + 50*n ms or throws ExCantReceive; the bytes
    // that did arrive are in the buffer, the rest is untouched.
    void Receive(uint8_t *buffer, size_t n);

    int PortNumber() const { return portNumber_; }
    const std::string &PortName() const { return portName_; }   // "COM3"
    // The device path Open() would use now.
    std::string DevicePath() const;
    bool IsOpen() const;
    // True while the calling thread holds the port between Open() and Close();
    // work handed to another thread must not wait for such a port.
    bool HeldByCurrentThread() const;

    static int ReadTimeoutMs(size_t n) { return 1000 + 50 * static_cast<int>(n); }

private:
    void acquire();
    void release();

    const int portNumber_;
    const std::string portName_;
    int handle_ = -1;

    mutable std::mutex mutex_;
    std::condition_variable freed_;
    bool busy_ = false;
    std::thread::id owner_;
};

} // namespace Ohmrida
