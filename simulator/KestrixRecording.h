#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Sim {

// The treatment a Kestrix logger holds: its program settings, the sampling
// intervals and per phase (at most ten) the stored voltages in mV.
struct KestrixRecording {
    uint8_t program = 3;
    int8_t batteryType = 1;
    uint8_t cells = 4;
    uint16_t capacity = 1000;
    uint16_t dischargeCurrent = 500;
    uint16_t chargeCurrent = 300;
    uint8_t chargeInterval = 60;       // s between two values while charging
    uint8_t dischargeInterval = 30;    // s between two values while discharging
    std::vector<std::vector<int>> phases;

    // Fills the phases with model curves: phase i runs the i-th function of
    // the program (discharge first for programs 2, 3 and 5, then alternating).
    void generate(const std::vector<int>& counts);

    // "program=3 type=1 cells=4 capacity=1000 discharge=500 charge=300
    //  intervals=60/30 counts=121/61" (blanks or commas between the items;
    //  intervals are charge/discharge). Unnamed items keep their values;
    //  without counts, each function of the program gets 61 values.
    // Returns an error text, empty on success.
    std::string applySettings(const std::string& text);

    // Text file: "key value" lines (program, type, cells, capacity,
    // discharge-current, charge-current, charge-interval, discharge-interval)
    // and one "phase <mV> <mV> ..." line per phase; '#' starts a comment.
    std::string load(const std::string& path);
};

} // namespace Sim
