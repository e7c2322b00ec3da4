#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace Sim {

// A misbehaviour that fires once the running program reaches a step
// (1-based) and has spent some model seconds in it.
struct StepTrigger {
    int step = 1;
    double afterSeconds = 0;
};

// Faults of one channel (or of the logger), set at start or at run time.
struct Faults {
    bool silent = false;                  // no answer at all
    int shortBy = 0;                      // answers lose their last bytes
    bool wrongEcho = false;               // answer byte 0 is not the command
    std::set<uint8_t> refused;            // command codes (address bits removed) answered with 1
    bool idleStart = false;               // start acknowledged, but the channel stays idle
    std::optional<StepTrigger> errorAt;   // error code errorCode at a step
    uint8_t errorCode = 0;
    std::optional<StepTrigger> idleAt;    // program ends by itself at a step (as if stopped by hand)

    // Applies "silent", "short[=N]", "wrong-echo", "refuse=0x17[/0x15...]",
    // "idle-start", "error=E[@STEP[+SECONDS]]" or "idle@STEP[+SECONDS]".
    // Returns an error text, empty on success. "error=E" without a step is
    // not kept here: immediateError receives E, the caller raises it now.
    std::string apply(const std::string& text, std::optional<uint8_t>& immediateError);
};

} // namespace Sim
