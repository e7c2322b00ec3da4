#pragma once

#include "simulator/Device.h"
#include "simulator/Options.h"
#include "simulator/PseudoTerminal.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace Sim {

class ChargerChannel;
class ChargerDevice;
class KestrixDevice;
struct Faults;

// Owns the emulated ports, the trace and the control socket and runs
// everything from one poll() loop.
class Simulator {
public:
    explicit Simulator(Options options);
    ~Simulator();

    // Creates the ports and applies the start options. Throws
    // std::runtime_error with a clear message on any failure.
    void setUp();
    // Runs until stopRequested becomes non-zero.
    void run(const volatile std::sig_atomic_t& stopRequested);

    // Executes one control command; returns "ok ..." or "error: ...".
    std::string execute(const std::string& line);

    std::string portLines(const char* prefix) const;

private:
    using Clock = std::chrono::steady_clock;

    struct Port {
        int com = 0;
        PseudoTerminal pty;
        std::unique_ptr<Device> device;
        ChargerDevice* charger = nullptr;    // same object as device, when a charger
        KestrixDevice* kestrix = nullptr;    // same object as device, when the logger
        Bytes pending;
        Clock::time_point lastByte;
        bool unplugged = false;
    };
    struct ControlClient { int fd = -1; std::string buffer; };

    void advanceModel();
    void serviceInput(Port& port);
    void dropStalledInput(Port& port);
    void traceExchange(const Port& port, const Bytes& received, const std::optional<Bytes>& answer,
                       const char* note = nullptr);
    void openControlSocket();
    void acceptControlClient();
    bool serviceControlClient(ControlClient& client);   // false: connection ended
    void writeEnvFile() const;

    Port* findPort(int com);
    // Resolves a target (N, N.C or all); returns an error text or "".
    std::string resolve(const std::string& target, std::vector<Port*>& ports,
                        std::vector<ChargerChannel*>& channels, std::vector<Faults*>& faults);

    Options options_;
    std::vector<std::unique_ptr<Port>> ports_;
    FILE* trace_ = nullptr;
    int controlFd_ = -1;
    std::vector<ControlClient> controlClients_;
    Clock::time_point lastAdvance_;
};

} // namespace Sim
