#include "simulator/Faults.h"

#include <cstdlib>

namespace Sim {

namespace {

bool parseInteger(const std::string& text, long minimum, long maximum, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 0);
    return *end == '\0' && value >= minimum && value <= maximum;
}

// "STEP[+SECONDS]"
bool parseTrigger(const std::string& text, StepTrigger& trigger)
{
    const auto plus = text.find('+');
    long step = 0;
    if (!parseInteger(text.substr(0, plus), 1, 100, step))
        return false;
    trigger.step = static_cast<int>(step);
    trigger.afterSeconds = 0;
    if (plus != std::string::npos) {
        char* end = nullptr;
        const std::string seconds = text.substr(plus + 1);
        trigger.afterSeconds = std::strtod(seconds.c_str(), &end);
        if (seconds.empty() || *end != '\0' || trigger.afterSeconds < 0)
            return false;
    }
    return true;
}

} // namespace

std::string Faults::apply(const std::string& text, std::optional<uint8_t>& immediateError)
{
    const auto eq = text.find('=');
    const auto at = text.find('@');
    const std::string kind = text.substr(0, std::min(eq, at));
    const std::string value = eq == std::string::npos ? std::string() : text.substr(eq + 1);

    if (kind == "silent" && value.empty()) {
        silent = true;
    } else if (kind == "short") {
        long n = 1;
        if (!value.empty() && !parseInteger(value, 1, 64, n))
            return "short expects a byte count 1..64: " + text;
        shortBy = static_cast<int>(n);
    } else if (kind == "wrong-echo" && value.empty()) {
        wrongEcho = true;
    } else if (kind == "refuse") {
        if (value.empty())
            return "refuse expects command codes, e.g. refuse=0x17";
        size_t begin = 0;
        while (begin <= value.size()) {
            const auto end = value.find_first_of("/,", begin);
            long code = 0;
            if (!parseInteger(value.substr(begin, end - begin), 0, 255, code))
                return "bad command code in " + text;
            refused.insert(static_cast<uint8_t>(code & 0x3F));
            if (end == std::string::npos)
                break;
            begin = end + 1;
        }
    } else if (kind == "idle-start" && value.empty()) {
        idleStart = true;
    } else if (kind == "error") {
        const auto valueAt = value.find('@');
        long code = 0;
        if (!parseInteger(value.substr(0, valueAt), 1, 255, code))
            return "error expects a code 1..255, e.g. error=5 or error=5@2+60: " + text;
        if (valueAt == std::string::npos) {
            immediateError = static_cast<uint8_t>(code);
        } else {
            StepTrigger trigger;
            if (!parseTrigger(value.substr(valueAt + 1), trigger))
                return "bad step in " + text;
            errorAt = trigger;
            errorCode = static_cast<uint8_t>(code);
        }
    } else if (kind == "idle" && at != std::string::npos && eq == std::string::npos) {
        StepTrigger trigger;
        if (!parseTrigger(text.substr(at + 1), trigger))
            return "bad step in " + text;
        idleAt = trigger;
    } else {
        return "unknown fault: " + text;
    }
    return {};
}

} // namespace Sim
