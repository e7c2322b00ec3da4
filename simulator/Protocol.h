#pragma once
// The command bytes the simulated devices understand, and the big-endian word
// every answer uses, shared by the charger and the logger.

#include "simulator/Device.h"

#include <cstdint>

namespace Sim {

constexpr uint8_t CmdStatusA = 0x11;
constexpr uint8_t CmdStatusC = 0x12;
constexpr uint8_t CmdStop = 0x13;
constexpr uint8_t CmdProgram = 0x14;
constexpr uint8_t CmdStart = 0x15;
constexpr uint8_t CmdIdentify = 0x16;
constexpr uint8_t CmdVarnStartA = 0x17;
constexpr uint8_t CmdVarnStartB = 0x18;
constexpr uint8_t CmdVarnArm = 0x19;
constexpr uint8_t CmdStatusB = 0x21;
constexpr uint8_t CmdInfo = 0xF0;
constexpr uint8_t CmdPhaseTable = 0xF1;
constexpr uint8_t CmdNextValue = 0xF2;

inline void appendWord(Bytes& bytes, unsigned word)
{
    bytes.push_back(static_cast<uint8_t>(word >> 8 & 0xFF));
    bytes.push_back(static_cast<uint8_t>(word & 0xFF));
}

} // namespace Sim
