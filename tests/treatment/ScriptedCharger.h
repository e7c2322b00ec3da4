#pragma once
// A charger on the far end of a pseudo-terminal whose status answers the test
// sets, so every poll reads exactly what the test wants. It records every
// message it receives. BRASKON_COM<n> points at it while it exists.

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace TreatmentTest {

using Bytes = std::vector<uint8_t>;

// What the next status reads of one channel report.
struct ChannelStatus {
    uint8_t modeFlags = 0;   // bit 0 charging, bit 1 discharging
    uint8_t errorCode = 0;
    int voltage = 0;         // mV, multiple of 5
    int capacity = 0;        // mAh of the running function
    int time = 0;            // s of the running function
};

class ScriptedCharger {
public:
    // deviceType 1 (Ohmrida) .. 4 (Varn): what it answers to the identification.
    ScriptedCharger(int portNumber, uint8_t deviceType);
    ~ScriptedCharger();
    ScriptedCharger(const ScriptedCharger &) = delete;
    ScriptedCharger &operator=(const ScriptedCharger &) = delete;

    void SetStatus(uint8_t address, const ChannelStatus &status);
    // A silent device answers nothing at all.
    void SetSilent(bool silent);

    // Every message received, in order (one command byte, or the 11 bytes of a
    // program message).
    std::vector<Bytes> Messages() const;
    // All received bytes in one sequence.
    Bytes Wire() const;
    void ClearMessages();
    // The last program message a channel got (empty if none).
    Bytes ProgramOf(uint8_t address) const;

private:
    void run();
    bool readExactly(uint8_t *buffer, size_t n);
    Bytes answer(const Bytes &message);

    int portNumber_;
    uint8_t deviceType_;
    int master_ = -1;
    int slaveKeeper_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<bool> silent_{false};
    mutable std::mutex mutex_;
    std::map<uint8_t, ChannelStatus> status_;
    std::map<uint8_t, Bytes> programs_;
    std::vector<Bytes> messages_;
    std::thread thread_;
};

} // namespace TreatmentTest
