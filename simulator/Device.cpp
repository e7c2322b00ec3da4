#include "simulator/Device.h"

namespace Sim {

size_t Device::commandLength(uint8_t firstByte)
{
    // The program command carries its settings (10 bytes) after the command
    // byte; all other commands are one byte.
    return (firstByte & 0x3F) == 0x14 ? 11 : 1;
}

std::optional<Bytes> applyAnswerFaults(std::optional<Bytes> answer, bool silent, int shortBy,
                                       bool wrongEcho)
{
    if (!answer || silent)
        return std::nullopt;
    if (wrongEcho && !answer->empty())
        (*answer)[0] ^= 0x01;
    const size_t drop = std::min(answer->size(), static_cast<size_t>(shortBy));
    answer->resize(answer->size() - drop);
    return answer;
}

} // namespace Sim
