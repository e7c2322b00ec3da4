#pragma once
// A device on the far end of a pseudo-terminal, for the tests that script a
// charger or logger byte by byte: it owns the master side, points
// BRASKON_COM<n> at the slave side, and a thread reads every message (one
// command byte, or the eleven bytes of a program message) and writes whatever
// the script answers: nothing, a short answer or garbage.

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

    ScriptedPeer(int portNumber, Script script);   // attached to COM<portNumber> at once
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer &) = delete;
    ScriptedPeer &operator=(const ScriptedPeer &) = delete;

    std::vector<ReceivedMessage> Received() const;
    Bytes CommandBytes() const;   // first byte of every message
    void ClearReceived();
    // Unasked, as a device with a stale answer would; returns once the bytes
    // wait on the port's side.
    void Inject(const Bytes &bytes);

private:
    void run();
    bool readExactly(uint8_t *buffer, size_t n, int timeoutMs);

    int portNumber_;
    Script script_;
    int master_ = -1;
    int slaveKeeper_ = -1;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<ReceivedMessage> received_;
    std::thread thread_;
};

Bytes IdentifyAnswerFor(uint8_t deviceType);   // 1 (Ohmrida) .. 4 (Varn)
inline Bytes Ack(uint8_t command, uint8_t code = 0) { return {command, code}; }

// A charger of type 1..4 that identifies itself, acknowledges every other
// command and answers the logger probe unlike the logger.
ScriptedPeer::Script ChargerScript(uint8_t deviceType);
// The Kestrix logger as far as the search sees it: info F0 0A 3C 0D 0A.
ScriptedPeer::Script LoggerScript();

// Points COM1..COM9 at paths that do not exist, so nothing falls back to the
// machine's own /dev/ttyS*.
void DetachAllPorts();

} // namespace ChargerTest
