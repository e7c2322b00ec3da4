#include "ScriptedCharger.h"

namespace TreatmentTest {

ScriptedCharger::ScriptedCharger(int portNumber, uint8_t deviceType)
    : deviceType_(deviceType), peer_(portNumber, [this](const Bytes &message) { return answer(message); })
{
}

void ScriptedCharger::SetStatus(uint8_t address, const ChannelStatus &status)
{
    std::lock_guard<std::mutex> guard(mutex_);
    status_[address] = status;
}

std::vector<Bytes> ScriptedCharger::Messages() const
{
    std::vector<Bytes> messages;
    for (const ChargerTest::ReceivedMessage &message : peer_.Received())
        messages.push_back(message.bytes);
    return messages;
}

Bytes ScriptedCharger::Wire() const
{
    Bytes wire;
    for (const Bytes &message : Messages())
        wire.insert(wire.end(), message.begin(), message.end());
    return wire;
}

Bytes ScriptedCharger::ProgramOf(uint8_t address) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = programs_.find(address);
    return found == programs_.end() ? Bytes() : found->second;
}

Bytes ScriptedCharger::answer(const Bytes &message)
{
    if (silent_)
        return {};
    const uint8_t command = message[0];
    if (command == 0x16)
        return ChargerTest::IdentifyAnswerFor(deviceType_);
    if (command >= 0xF0)
        return {};   // not a logger
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
        return {command, 0, 0, 0, 0};
    case 0x12: {
        Bytes c(16, 0);
        c[0] = command;
        const bool discharging = status.modeFlags & 0x02;
        const int capacityAt = discharging ? 1 : 3;
        c[capacityAt] = static_cast<uint8_t>(status.capacity >> 8);
        c[capacityAt + 1] = static_cast<uint8_t>(status.capacity);
        c[5] = static_cast<uint8_t>(status.voltage / 5 >> 8);
        c[6] = static_cast<uint8_t>(status.voltage / 5);
        const int timeAt = discharging ? 7 : 10;
        c[timeAt] = static_cast<uint8_t>(status.time / 3600);
        c[timeAt + 1] = static_cast<uint8_t>(status.time / 60 % 60);
        c[timeAt + 2] = static_cast<uint8_t>(status.time % 60);
        return c;
    }
    default:
        return {command, 1};
    }
}

} // namespace TreatmentTest
