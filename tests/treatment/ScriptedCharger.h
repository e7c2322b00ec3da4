#pragma once
// A charger on a scripted pseudo-terminal whose status answers the test sets,
// so every poll reads exactly what the test wants. BRASKON_COM<n> points at it
// while it exists.

#include "tests/support/ScriptedPeer.h"

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
    int current = 0;         // mA measured while charging (lead batteries report it)
};

class ScriptedCharger {
public:
    // deviceType 1 (Ohmrida) .. 4 (Varn): what it answers to the identification.
    ScriptedCharger(int portNumber, uint8_t deviceType)
        : deviceType_(deviceType), peer_(portNumber, [this](const Bytes &message) { return answer(message); })
    {
    }
    void SetStatus(uint8_t address, const ChannelStatus &status)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        status_[address] = status;
    }
    void SetSilent(bool silent) { silent_ = silent; }   // answers nothing at all
    void ClearMessages() { peer_.ClearReceived(); }
    std::vector<Bytes> Messages() const   // every message received, in order
    {
        std::vector<Bytes> messages;
        for (const ChargerTest::ReceivedMessage &message : peer_.Received())
            messages.push_back(message.bytes);
        return messages;
    }
    Bytes Wire() const   // all received bytes in one sequence
    {
        Bytes wire;
        for (const Bytes &message : Messages())
            wire.insert(wire.end(), message.begin(), message.end());
        return wire;
    }
    Bytes ProgramOf(uint8_t address) const   // last program message of a channel
    {
        std::lock_guard<std::mutex> guard(mutex_);
        auto found = programs_.find(address);
        return found == programs_.end() ? Bytes() : found->second;
    }

private:
    Bytes answer(const Bytes &message)
    {
        const uint8_t command = message[0];
        if (silent_ || command >= 0xF0)   // silent, or asked as a logger
            return {};
        if (command == 0x16)
            return ChargerTest::IdentifyAnswerFor(deviceType_);
        std::lock_guard<std::mutex> guard(mutex_);
        const uint8_t address = command & 0xC0;
        const ChannelStatus status = status_[address];
        Bytes program = programs_[address];
        program.resize(11);
        switch (command & 0x3F) {
        case 0x14:
            programs_[address] = message;
            return {command, 0};
        case 0x13: case 0x15: case 0x17: case 0x18: case 0x19:
            return {command, 0};
        case 0x11: {
            // mode, error, then the program echo: number, type, cells, capacity, currents
            Bytes a = {command, status.modeFlags, status.errorCode, program[1]};
            a.insert(a.end(), program.begin() + 3, program.end());
            a.resize(14);
            return a;
        }
        case 0x21:
            return {command, 0, 0, static_cast<uint8_t>(status.current >> 8), static_cast<uint8_t>(status.current)};
        case 0x12: {
            Bytes c(16, 0);
            c[0] = command;
            const bool discharging = status.modeFlags & 0x02;
            const int capacityAt = discharging ? 1 : 3, timeAt = discharging ? 7 : 10;
            c[capacityAt] = static_cast<uint8_t>(status.capacity >> 8);
            c[capacityAt + 1] = static_cast<uint8_t>(status.capacity);
            c[5] = static_cast<uint8_t>(status.voltage / 5 >> 8);
            c[6] = static_cast<uint8_t>(status.voltage / 5);
            c[timeAt] = static_cast<uint8_t>(status.time / 3600);
            c[timeAt + 1] = static_cast<uint8_t>(status.time / 60 % 60);
            c[timeAt + 2] = static_cast<uint8_t>(status.time % 60);
            return c;
        }
        default:
            return {command, 1};
        }
    }

    uint8_t deviceType_;
    std::atomic<bool> silent_{false};
    mutable std::mutex mutex_;
    std::map<uint8_t, ChannelStatus> status_;
    std::map<uint8_t, Bytes> programs_;
    ChargerTest::ScriptedPeer peer_;   // last: its thread starts after, and stops before, the state above
};

} // namespace TreatmentTest
