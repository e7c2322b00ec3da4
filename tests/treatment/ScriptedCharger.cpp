#include "ScriptedCharger.h"

#include <cstdlib>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace TreatmentTest {

namespace {

std::string variableName(int portNumber)
{
    return "BRASKON_COM" + std::to_string(portNumber);
}

} // namespace

ScriptedCharger::ScriptedCharger(int portNumber, uint8_t deviceType)
    : portNumber_(portNumber), deviceType_(deviceType)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    const std::string slavePath = ptsname(master_);
    // One slave descriptor kept open spares the master the hang-up between
    // exchanges; raw mode passes every byte unchanged.
    slaveKeeper_ = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    if (slaveKeeper_ < 0)
        throw std::runtime_error("cannot open " + slavePath);
    termios settings{};
    tcgetattr(slaveKeeper_, &settings);
    cfmakeraw(&settings);
    tcsetattr(slaveKeeper_, TCSANOW, &settings);
    setenv(variableName(portNumber_).c_str(), slavePath.c_str(), 1);
    thread_ = std::thread([this] { run(); });
}

ScriptedCharger::~ScriptedCharger()
{
    stop_ = true;
    thread_.join();
    setenv(variableName(portNumber_).c_str(), ("/nonexistent/com" + std::to_string(portNumber_)).c_str(), 1);
    ::close(slaveKeeper_);
    ::close(master_);
}

void ScriptedCharger::SetStatus(uint8_t address, const ChannelStatus &status)
{
    std::lock_guard<std::mutex> guard(mutex_);
    status_[address] = status;
}

void ScriptedCharger::SetSilent(bool silent)
{
    silent_ = silent;
}

std::vector<Bytes> ScriptedCharger::Messages() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return messages_;
}

Bytes ScriptedCharger::Wire() const
{
    Bytes wire;
    for (const Bytes &message : Messages())
        wire.insert(wire.end(), message.begin(), message.end());
    return wire;
}

void ScriptedCharger::ClearMessages()
{
    std::lock_guard<std::mutex> guard(mutex_);
    messages_.clear();
}

Bytes ScriptedCharger::ProgramOf(uint8_t address) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = programs_.find(address);
    return found == programs_.end() ? Bytes() : found->second;
}

bool ScriptedCharger::readExactly(uint8_t *buffer, size_t n)
{
    size_t got = 0;
    while (got < n && !stop_) {
        pollfd waiter{master_, POLLIN, 0};
        if (::poll(&waiter, 1, 20) <= 0)
            continue;
        const ssize_t r = ::read(master_, buffer + got, n - got);
        if (r > 0)
            got += static_cast<size_t>(r);
    }
    return got == n;
}

void ScriptedCharger::run()
{
    while (!stop_) {
        uint8_t command = 0;
        if (!readExactly(&command, 1))
            return;
        Bytes message{command};
        if (command < 0xF0 && (command & 0x3F) == 0x14) {
            uint8_t rest[10];
            if (!readExactly(rest, 10))
                return;
            message.insert(message.end(), rest, rest + 10);
        }
        const Bytes reply = answer(message);
        if (!reply.empty() && !silent_) {
            if (::write(master_, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size()))
                return;
        }
    }
}

Bytes ScriptedCharger::answer(const Bytes &message)
{
    std::lock_guard<std::mutex> guard(mutex_);
    messages_.push_back(message);
    const uint8_t command = message[0];
    if (command == 0x16) {
        Bytes r(11, 0);
        r[0] = 0x16;
        // r[7], r[9]: 0/0 Lumo, 1/0 Tesk, 1/1 Varn, anything else Ohmrida.
        switch (deviceType_) {
        case 2: r[7] = 0; r[9] = 0; break;
        case 3: r[7] = 1; r[9] = 0; break;
        case 4: r[7] = 1; r[9] = 1; break;
        default: r[7] = 2; r[9] = 0; break;
        }
        return r;
    }
    if (command >= 0xF0)
        return {};   // not a logger
    const uint8_t address = command & 0xC0;
    const uint8_t code = command & 0x3F;
    const ChannelStatus status = status_[address];
    Bytes program = programs_[address];
    if (program.size() != 11)
        program.assign(11, 0);
    switch (code) {
    case 0x14:
        programs_[address] = message;
        return {command, 0};
    case 0x13: case 0x15: case 0x17: case 0x18: case 0x19:
        return {command, 0};
    case 0x11: {
        Bytes a(14, 0);
        a[0] = command;
        a[1] = status.modeFlags;
        a[2] = status.errorCode;
        a[3] = program[1];
        // program echo: type, cells, capacity, discharge, charge current
        for (int i = 0; i < 8; ++i)
            a[4 + i] = program[3 + i];
        return a;
    }
    case 0x21:
        return {command, 0, 0, 0, 0};
    case 0x12: {
        Bytes c(16, 0);
        c[0] = command;
        const bool discharging = status.modeFlags & 0x02;
        const int capacityIndex = discharging ? 1 : 3;
        c[capacityIndex] = static_cast<uint8_t>(status.capacity >> 8);
        c[capacityIndex + 1] = static_cast<uint8_t>(status.capacity);
        const int steps = status.voltage / 5;
        c[5] = static_cast<uint8_t>(steps >> 8);
        c[6] = static_cast<uint8_t>(steps);
        const int timeIndex = discharging ? 7 : 10;
        c[timeIndex] = static_cast<uint8_t>(status.time / 3600);
        c[timeIndex + 1] = static_cast<uint8_t>(status.time / 60 % 60);
        c[timeIndex + 2] = static_cast<uint8_t>(status.time % 60);
        return c;
    }
    default:
        return {command, 1};
    }
}

} // namespace TreatmentTest
