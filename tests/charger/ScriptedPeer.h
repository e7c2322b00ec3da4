#pragma once
// A device on the far end of a pseudo-terminal, for the charger tests.
//
// The peer owns the master side; BRASKON_COM<n> points at the slave side.
// A thread reads every message the system sends (one command byte, or the
// eleven bytes of a program message) and writes whatever the script answers,
// which may be nothing, a short answer or garbage.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ChargerTest {

using Bytes = std::vector<uint8_t>;

struct ReceivedMessage {
    Bytes bytes;
    std::chrono::steady_clock::time_point at;
};

class ScriptedPeer {
public:
    using Script = std::function<Bytes(const Bytes &message)>;

    // Attaches to COM<portNumber> at once.
    ScriptedPeer(int portNumber, Script script);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer &) = delete;
    ScriptedPeer &operator=(const ScriptedPeer &) = delete;

    const std::string &SlavePath() const { return slavePath_; }
    std::vector<ReceivedMessage> Received() const;
    std::vector<uint8_t> CommandBytes() const;   // first byte of every message
    void ClearReceived();
    // Writes bytes unasked, as a device with a stale answer would.
    void Inject(const Bytes &bytes);

private:
    void run();
    bool readExactly(uint8_t *buffer, size_t n, int timeoutMs);

    int portNumber_;
    Script script_;
    int master_ = -1;
    int slaveKeeper_ = -1;
    std::string slavePath_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<ReceivedMessage> received_;
    std::thread thread_;
};

// Answers of a well-behaved device.
Bytes IdentifyAnswer(uint8_t r7, uint8_t r9);
// The identification answer of a device type 1 (Ohmrida) .. 4 (Varn).
Bytes IdentifyAnswerFor(uint8_t deviceType);
inline Bytes Ack(uint8_t command, uint8_t code = 0) { return {command, code}; }

// A charger of the given type (1..4) that answers every command properly
// (identification, acknowledgements, a fixed status) and answers the logger
// probe unlike the logger.
ScriptedPeer::Script ChargerScript(uint8_t deviceType);
// The Kestrix logger: info F0 0A 3C 0D 0A, a phase table, values and status.
ScriptedPeer::Script LoggerScript();

// Points every COM1..COM9 at a path that does not exist, so nothing falls
// back to the machine's own /dev/ttyS*.
void DetachAllPorts();

} // namespace ChargerTest
