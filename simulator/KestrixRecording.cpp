#include "simulator/KestrixRecording.h"

#include "simulator/BatteryModel.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace Sim {

namespace {

constexpr size_t MaxPhases = 10;
constexpr long MaxValuesPerPhase = 65535;
constexpr long MaxVoltageMv = 65535L * 5;

bool parseNumber(const std::string& text, long minimum, long maximum, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return *end == '\0' && value >= minimum && value <= maximum;
}

std::vector<std::string> splitItems(const std::string& text, const char* separators)
{
    std::vector<std::string> items;
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t end = text.find_first_of(separators, begin);
        if (end != begin)
            items.push_back(text.substr(begin, end - begin));
        if (end == std::string::npos)
            break;
        begin = end + 1;
    }
    return items;
}

int defaultFunctionCount(int program)
{
    switch (program) {
    case 3: return 2;
    case 4: return 3;
    case 5: return 4;
    default: return 1;
    }
}

// Sets one numeric setting; returns an error text or "".
std::string setSetting(KestrixRecording& r, const std::string& key, const std::string& value)
{
    long n = 0;
    auto need = [&](long lo, long hi) { return parseNumber(value, lo, hi, n); };
    if (key == "program") {
        if (!need(0, 255)) return "program must be 0..255";
        r.program = static_cast<uint8_t>(n);
    } else if (key == "type") {
        if (!need(0, 2)) return "type must be 0 (NC), 1 (NMH) or 2 (lead)";
        r.batteryType = static_cast<int8_t>(n);
    } else if (key == "cells") {
        if (!need(1, 255)) return "cells must be 1..255";
        r.cells = static_cast<uint8_t>(n);
    } else if (key == "capacity") {
        if (!need(0, 65535)) return "capacity must be 0..65535";
        r.capacity = static_cast<uint16_t>(n);
    } else if (key == "discharge" || key == "discharge-current") {
        if (!need(0, 65535)) return "discharge current must be 0..65535";
        r.dischargeCurrent = static_cast<uint16_t>(n);
    } else if (key == "charge" || key == "charge-current") {
        if (!need(0, 65535)) return "charge current must be 0..65535";
        r.chargeCurrent = static_cast<uint16_t>(n);
    } else if (key == "charge-interval") {
        if (!need(0, 255)) return "charge interval must be 0..255";
        r.chargeInterval = static_cast<uint8_t>(n);
    } else if (key == "discharge-interval") {
        if (!need(0, 255)) return "discharge interval must be 0..255";
        r.dischargeInterval = static_cast<uint8_t>(n);
    } else {
        return "unknown key: " + key;
    }
    return {};
}

} // namespace

void KestrixRecording::generate(const std::vector<int>& counts)
{
    const Chemistry chemistry = chemistryFromType(batteryType);
    bool charging = !(program == 2 || program == 3 || program == 5);
    phases.clear();
    for (size_t i = 0; i < counts.size() && i < MaxPhases; ++i) {
        const int count = counts[i];
        std::vector<int> values;
        for (int j = 0; j < count; ++j) {
            const double progress = count > 1 ? static_cast<double>(j) / (count - 1) : 1.0;
            double cell;
            if (charging) {
                // A nickel charge ends 2 % past full, showing the -dV at the end.
                const double put = progress * (chemistry == Chemistry::Lead ? 1.0 : 1.02);
                cell = chargeCellVoltage(chemistry, std::min(put, 1.0), std::max(0.0, put - 1.0));
            } else {
                cell = dischargeCellVoltage(chemistry, 1.0 - progress * 0.98);
            }
            values.push_back(static_cast<int>(std::lround(cell * cells * 1000.0 / 5.0)) * 5);
        }
        phases.push_back(values);
        charging = !charging;
    }
}

std::string KestrixRecording::applySettings(const std::string& text)
{
    std::vector<int> counts;
    bool countsGiven = false;
    for (const std::string& item : splitItems(text, " \t,")) {
        const auto eq = item.find('=');
        if (eq == std::string::npos)
            return "expected key=value: " + item;
        const std::string key = item.substr(0, eq);
        const std::string value = item.substr(eq + 1);
        if (key == "intervals") {
            const auto parts = splitItems(value, "/");
            if (parts.size() != 2)
                return "intervals expects CHARGE/DISCHARGE seconds, e.g. intervals=60/30";
            std::string error = setSetting(*this, "charge-interval", parts[0]);
            if (error.empty())
                error = setSetting(*this, "discharge-interval", parts[1]);
            if (!error.empty())
                return error;
        } else if (key == "counts" || key == "values") {
            countsGiven = true;
            for (const std::string& part : splitItems(value, "/+")) {
                long n = 0;
                if (!parseNumber(part, 0, MaxValuesPerPhase, n))
                    return "bad value count: " + part;
                counts.push_back(static_cast<int>(n));
            }
            if (counts.size() > MaxPhases)
                return "at most 10 phases";
        } else {
            const std::string error = setSetting(*this, key, value);
            if (!error.empty())
                return error;
        }
    }
    if (!countsGiven)
        counts.assign(static_cast<size_t>(defaultFunctionCount(program)), 61);
    generate(counts);
    return {};
}

std::string KestrixRecording::load(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        return "cannot read " + path;
    KestrixRecording loaded = *this;
    loaded.phases.clear();
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        const auto hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string key;
        if (!(words >> key))
            continue;
        const std::string where = path + ":" + std::to_string(lineNumber) + ": ";
        if (key == "phase") {
            if (loaded.phases.size() == MaxPhases)
                return where + "at most 10 phases";
            std::vector<int> values;
            std::string word;
            while (words >> word) {
                long mv = 0;
                if (!parseNumber(word, 0, MaxVoltageMv, mv))
                    return where + "bad voltage (mV): " + word;
                values.push_back(static_cast<int>(mv));
            }
            if (values.size() > static_cast<size_t>(MaxValuesPerPhase))
                return where + "too many values";
            loaded.phases.push_back(values);
            continue;
        }
        std::string value, extra;
        if (!(words >> value) || (words >> extra))
            return where + "expected: " + key + " <number>";
        const std::string error = setSetting(loaded, key, value);
        if (!error.empty())
            return where + error;
    }
    *this = loaded;
    return {};
}

} // namespace Sim
