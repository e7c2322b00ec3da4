#pragma once
// A charger on a scripted pseudo-terminal whose status answers the test sets,
// so every poll reads exactly what the test wants. BRASKON_COM<n> points at it
// while it exists.

#include "ScriptedPeer.h"

#include <atomic>
#include <map>
#include <mutex>

namespace TreatmentTest {

using ChargerTest::Bytes;

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

    void SetStatus(uint8_t address, const ChannelStatus &status);
    void SetSilent(bool silent) { silent_ = silent; }   // answers nothing at all

    std::vector<Bytes> Messages() const;   // every message received, in order
    Bytes Wire() const;                    // all received bytes in one sequence
    void ClearMessages() { peer_.ClearReceived(); }
    Bytes ProgramOf(uint8_t address) const;   // last program message of a channel

private:
    Bytes answer(const Bytes &message);

    uint8_t deviceType_;
    std::atomic<bool> silent_{false};
    mutable std::mutex mutex_;
    std::map<uint8_t, ChannelStatus> status_;
    std::map<uint8_t, Bytes> programs_;
    ChargerTest::ScriptedPeer peer_;   // last: its thread starts after, and stops before, the state above
};

} // namespace TreatmentTest
