// The bounds every answer is held against, at their edges.
#include <gtest/gtest.h>

#include "charger/Plausibility.h"

using namespace Ohmrida;
using namespace Ohmrida::Plausible;

namespace {

// Program 3 of a 4-cell NMH battery, 1000 mAh, discharge 500 mA, charge 300 mA.
const ProgramSettings sent{3, 1, 4, 1000, 500, 300};

StatusValues Discharging(int voltage, int capacity, int time)
{
    StatusValues v;
    v.modeFlags = 0x02;
    v.current = 500;
    v.voltage = voltage;
    v.capacity = capacity;
    v.time = time;
    return v;
}

} // namespace

TEST(PlausibilityTest, StatusAgainstTheLoadedProgramAndTheBattery)
{
    ProgramSettings otherCells = sent;
    otherCells.cells = 5;
    ProgramSettings charging = sent;
    charging.program = 1;
    ProgramSettings lead{1, 2, 6, 7200, 500, 700};
    StatusValues leadCharge;
    leadCharge.modeFlags = 0x01;
    leadCharge.voltage = 13000;
    leadCharge.current = 775;   // 700 mA + 10 % + 5 mA is the most
    StatusValues both = Discharging(4800, 0, 0);
    both.modeFlags = 0x03;
    // Values, echoed settings, loaded settings, terminal type; the reason's
    // beginning ("" when plausible).
    const std::tuple<StatusValues, ProgramSettings, ProgramSettings, uint8_t, std::string> cases[] = {
        {Discharging(4800, 139, 1000), sent, sent, 3, ""},
        {Discharging(8000, 0, 0), sent, sent, 3, ""},                  // 2.0 V a nickel cell, the most
        {Discharging(8005, 0, 0), sent, sent, 3, "Spannung 8005 mV"},
        {Discharging(4800, 0, 0), otherCells, sent, 3, "gemeldetes Programm"},
        {Discharging(4800, 0, 0), sent, charging, 3, "gemeldetes Programm"},
        {Discharging(4800, 0, 0), charging, charging, 3, "Programm 1 kennt"},
        {both, sent, sent, 3, "Betriebsart 3"},
        {Discharging(4800, 156, 1000), sent, sent, 3, "Kapazit"},   // 500 mA x 1001 s + 10 % + 2 = 154 mAh
        {leadCharge, lead, lead, 3, ""},
        {[&] { StatusValues v = leadCharge; v.current = 776; return v; }(), lead, lead, 3, "Strom 776 mA"},
        {[&] { StatusValues v = leadCharge; v.voltage = 16805; return v; }(), lead, lead, 3, "Spannung 16805"},
    };
    for (const auto &[values, echoed, loaded, type, reason] : cases) {
        const std::string problem = CheckStatus(values, echoed, loaded, type);
        EXPECT_EQ(problem.substr(0, reason.size()), reason) << problem;
        EXPECT_EQ(problem.empty(), reason.empty()) << problem;
    }
}

TEST(PlausibilityTest, CountersCarryOnAtTheDevicesPace)
{
    // Last counters, new counters, current, seconds of the PC's clock since,
    // device speed; the reason's beginning.
    const std::tuple<Progress, Progress, int, double, double, std::string> cases[] = {
        {{600, 80}, {610, 81}, 500, 10, 1, ""},
        {{600, 80}, {599, 80}, 500, 10, 1, "Zeit l"},                  // backwards
        {{600, 80}, {600, 79}, 500, 10, 1, "Kapazit"},
        {{600, 80}, {613, 81}, 500, 10, 1, ""},                        // 10 s + 5 % + 0.5 s + 2 s = 13 s
        {{600, 80}, {614, 81}, 500, 10, 1, "Zeit springt um 14 s"},
        {{600, 80}, {1200, 160}, 500, 10, 100, ""},                    // braskon-sim at 100 times
        {{600, 80}, {600 + 118, 80}, 500, -1, 1, ""},                  // no earlier moment: only not backwards
        {{600, 80}, {610, 84}, 500, 10, 1, "Kapazit"},                 // 500 mA x 11 s = 1.5 mAh (+10 %, +2)
    };
    for (const auto &[last, now, current, elapsed, speed, reason] : cases) {
        const std::string problem = CheckProgress(last, now, current, elapsed, speed);
        EXPECT_EQ(problem.substr(0, reason.size()), reason) << problem;
        EXPECT_EQ(problem.empty(), reason.empty()) << problem;
    }
}

TEST(PlausibilityTest, LoggerHeaderAndValues)
{
    const int32_t good[LoggerPhases] = {121, 61};
    const int32_t afterEnd[LoggerPhases] = {121, 0, 5};
    const int32_t full[LoggerPhases] = {40000, 25535};
    const int32_t tooMany[LoggerPhases] = {40000, 25535, 1};
    const int32_t single[LoggerPhases] = {1};
    ProgramSettings noProgram = sent;
    noProgram.program = 0;
    // Settings, charge and discharge interval, counts; the reason's beginning.
    const std::tuple<ProgramSettings, int, int, const int32_t *, std::string> cases[] = {
        {sent, 60, 30, good, ""},
        {sent, 60, 30, afterEnd, "Phase 3"},
        {sent, 60, 30, full, ""},
        {sent, 60, 30, tooMany, "65536 Werte"},
        {sent, 60, 0, good, "Messabstand 0 s"},   // program 3 begins with a discharge
        {sent, 0, 0, single, ""},                 // one value needs no interval
        {noProgram, 60, 30, good, "aufgezeichnetes Programm 0"},
    };
    for (const auto &[settings, charge, discharge, counts, reason] : cases) {
        const std::string problem = CheckLoggerHeader(settings, charge, discharge, counts);
        EXPECT_EQ(problem.substr(0, reason.size()), reason) << problem;
        EXPECT_EQ(problem.empty(), reason.empty()) << problem;
    }
    EXPECT_EQ(CheckLoggerValue(8000, sent), "");
    EXPECT_EQ(CheckLoggerValue(129245, sent).substr(0, 16), "Spannung 129245 ");
}
