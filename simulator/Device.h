#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Sim {

using Bytes = std::vector<uint8_t>;

// What sits behind one serial port: a charger with one or four channels, or
// the logger. It receives complete commands and answers them or stays quiet.
class Device {
public:
    virtual ~Device() = default;

    // Bytes that make up the command starting with this byte.
    static size_t commandLength(uint8_t firstByte);

    // The answer to one complete command, or nothing (no answer on the wire).
    virtual std::optional<Bytes> handle(const Bytes& command) = 0;

    // Lets model time pass.
    virtual void advance(double modelSeconds) = 0;

    virtual int channelCount() const = 0;
    virtual std::string typeName() const = 0;
};

// Trims and spoils an answer as the faults ask.
std::optional<Bytes> applyAnswerFaults(std::optional<Bytes> answer, bool silent, int shortBy,
                                       bool wrongEcho);

} // namespace Sim
