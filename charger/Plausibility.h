#pragma once
// What an answer of a charger or of the logger can mean. The wire has no
// checksum, so a flipped byte decodes as readily as a true one; every answer
// is held against the bounds below before it becomes a reading, and one that
// fails counts as no reading. All bounds live here.
//
// Where they come from:
// - The wire: voltages in steps of 5 mV up to 65535 steps, times as hours,
//   minutes and seconds (one byte each), counts and currents as 16-bit words.
// - The chargers: currents from MinCurrent to MaxCurrent of the terminal's
//   type (10..500 mA for Ohmrida and Lumo, 40..2000 mA for Tesk, 50..2000 mA
//   for a Varn channel); the status echoes the program that was loaded, and
//   the function it reports (charging, discharging, idle) is one that program
//   runs.
// - The batteries: a nickel cell (NC, NMH) reads up to about 1.6 V at the end
//   of a charge, a lead cell up to 2.45 V (2.7 V while equalizing); the
//   bounds leave room for the drop across leads and contacts at 2 A.
// - The counters: a step's capacity cannot exceed its current times its time,
//   and neither counter runs backwards or further than the time since the
//   last reading allows (the devices count in real time; braskon-sim's count
//   faster and say how much in BRASKON_DEVICE_SPEED).
// - The Kestrix: ten phases, a 0 ending the list, at most LoggerMemoryValues
//   values in all, one value every 1..255 s.

#include "charger/Terminal.h"

#include <cstdint>
#include <string>

namespace Ohmrida {
namespace Plausible {

constexpr int MaxCellMillivoltsNickel = 2000;
constexpr int MaxCellMillivoltsLead = 2800;
constexpr int MaxWireMillivolts = 65535 * 5;
constexpr int MaxMinutesOrSeconds = 59;
// A measured current (lead charge) may exceed its setting this much.
constexpr int CurrentTolerancePercent = 10;
constexpr int CurrentSlackMa = 5;
// A capacity may exceed current x time this much (rounding, meter tolerance).
constexpr int CapacityTolerancePercent = 10;
constexpr int CapacitySlackMah = 2;
// Device seconds a counter may gain beyond the elapsed time: the PC's and the
// device's clocks read at slightly different moments, and whole seconds.
constexpr double ClockTolerance = 0.05;
constexpr double ClockLatencySeconds = 0.5;
constexpr int TimeSlackSeconds = 2;
// The logger's memory, in values of all phases together.
constexpr int LoggerMemoryValues = 65535;
constexpr int LoggerMinInterval = 1;
constexpr int LoggerMaxInterval = 255;
constexpr int LoggerPhases = 10;
// Program numbers a charger runs by itself (1 charge .. 5 two times discharge-charge).
constexpr int FirstDeviceProgram = 1;
constexpr int LastDeviceProgram = 5;
// The widest current range of all chargers (Ohmrida's minimum, Tesk's maximum).
constexpr int AnyChargerMinCurrent = 10;
constexpr int AnyChargerMaxCurrent = 2000;

// The highest voltage a battery of this type and cell count can show, in mV.
int MaxVoltage(int batteryType, int cells);

// Checks of one decoded status answer against the program that was loaded
// (`sent`) on a terminal of `deviceType`; empty when plausible, else why not
// (German). The idle answer's counters are not looked at (they decode as 0).
std::string CheckStatus(const StatusValues &values, const ProgramSettings &echoed, const ProgramSettings &sent,
                        uint8_t deviceType);

// Where a step's counters stood at the last accepted reading.
struct Progress {
    int Time = 0;       // s of the running function, as the device counts
    int Capacity = 0;   // mAh
};
// Checks that a reading of the same function carries on from `last`: neither
// counter runs backwards, the time gains at most what `elapsedSeconds` of the
// PC's clock allow at `deviceSpeed` device seconds per second (a negative
// elapsed time: unknown, no limit), the capacity at most what `currentMa`
// moves in the gained time. Empty when plausible, else why not.
std::string CheckProgress(const Progress &last, const Progress &now, int currentMa, double elapsedSeconds,
                          double deviceSpeed);

// The recorded settings, intervals and phase counts of the logger.
std::string CheckLoggerHeader(const ProgramSettings &settings, int32_t chargeInterval, int32_t dischargeInterval,
                              const int32_t phaseCounts[LoggerPhases]);
// One stored value of a recording of this battery type and cell count.
std::string CheckLoggerValue(int32_t millivolts, const ProgramSettings &settings);

} // namespace Plausible
} // namespace Ohmrida
