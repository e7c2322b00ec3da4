#include "charger/Plausibility.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace Ohmrida {
namespace Plausible {

namespace {

std::string format(const char *pattern, long long a, long long b = 0, long long c = 0)
{
    char text[200];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

// The most mAh a current of `currentMa` can move in `seconds`, with the tolerance.
long long maxCapacity(int currentMa, double seconds)
{
    const double moved = std::max(0, currentMa) * std::max(0.0, seconds) / 3600.0;
    return static_cast<long long>(moved * (100 + CapacityTolerancePercent) / 100) + CapacitySlackMah;
}

long long withTolerance(int currentMa)
{
    return static_cast<long long>(currentMa) * (100 + CurrentTolerancePercent) / 100 + CurrentSlackMa;
}

// The current that a running function is set to.
int setCurrent(const StatusValues &values, const ProgramSettings &sent)
{
    return (values.modeFlags & 0x02) ? sent.dischargeCurrent : sent.chargeCurrent;
}

bool runsFunction(uint8_t program, uint8_t modeFlags)
{
    switch (program) {
    case 1: return modeFlags != 0x02;   // charging only
    case 2: return modeFlags != 0x01;   // discharging only
    default: return true;
    }
}

} // namespace

int MaxVoltage(int batteryType, int cells)
{
    const int perCell = batteryType == 0 || batteryType == 1 ? MaxCellMillivoltsNickel : MaxCellMillivoltsLead;
    return static_cast<int>(std::min<long long>(MaxWireMillivolts, static_cast<long long>(perCell) * std::max(1, cells)));
}

std::string CheckStatus(const StatusValues &values, const ProgramSettings &echoed, const ProgramSettings &sent,
                        uint8_t deviceType)
{
    if (values.modeFlags > 0x02)
        return format("Betriebsart %lld ist weder Laden noch Entladen noch Ruhe", values.modeFlags);
    if (echoed != sent)
        return format("gemeldetes Programm %lld (Typ %lld, %lld Zellen, ...) ist nicht das geladene", echoed.program,
                      echoed.batteryType, echoed.cells);
    if (!runsFunction(sent.program, values.modeFlags))
        return format("Programm %lld kennt die gemeldete Betriebsart %lld nicht", sent.program, values.modeFlags);
    const int maxVoltage = MaxVoltage(sent.batteryType, sent.cells);
    if (values.voltage < 0 || values.voltage > maxVoltage)
        return format("Spannung %lld mV liegt nicht zwischen 0 und %lld mV", values.voltage, maxVoltage);
    if (values.modeFlags == 0)
        return {};
    const int current = setCurrent(values, sent);
    const int terminalMax = Terminal::MaxCurrentOf(deviceType);
    if (values.current < 0 || values.current > withTolerance(current)
        || (terminalMax > 0 && values.current > withTolerance(terminalMax)))
        return format("Strom %lld mA passt nicht zum eingestellten Strom %lld mA", values.current, current);
    if (values.capacity < 0 || values.capacity > maxCapacity(current, values.time + 1.0))
        return format("Kapazit\xC3\xA4t %lld mAh ist in %lld s mit %lld mA nicht zu erreichen", values.capacity,
                      values.time, current);
    return {};
}

std::string CheckProgress(const Progress &last, const Progress &now, int currentMa, double elapsedSeconds,
                          double deviceSpeed)
{
    if (now.Time < last.Time)
        return format("Zeit l\xC3\xA4uft r\xC3\xBC" "ckw\xC3\xA4rts (%lld s nach %lld s)", now.Time, last.Time);
    if (now.Capacity < last.Capacity)
        return format("Kapazit\xC3\xA4t l\xC3\xA4uft r\xC3\xBC" "ckw\xC3\xA4rts (%lld mAh nach %lld mAh)", now.Capacity,
                      last.Capacity);
    if (elapsedSeconds >= 0) {
        const double speed = std::max(1.0, deviceSpeed);
        const long long allowed = static_cast<long long>(
            std::ceil(speed * (elapsedSeconds * (1 + ClockTolerance) + ClockLatencySeconds)) + TimeSlackSeconds);
        if (now.Time - last.Time > allowed)
            return format("Zeit springt um %lld s, seit der letzten Antwort sind nur %lld s m\xC3\xB6glich",
                          now.Time - last.Time, allowed);
    }
    const long long gained = maxCapacity(currentMa, now.Time - last.Time + 1.0);
    if (now.Capacity - last.Capacity > gained)
        return format("Kapazit\xC3\xA4t springt um %lld mAh, in der Zeit sind h\xC3\xB6" "chstens %lld mAh m\xC3\xB6glich",
                      now.Capacity - last.Capacity, gained);
    return {};
}

std::string CheckLoggerHeader(const ProgramSettings &settings, int32_t chargeInterval, int32_t dischargeInterval,
                              const int32_t phaseCounts[LoggerPhases])
{
    if (settings.program < FirstDeviceProgram || settings.program > LastDeviceProgram)
        return format("aufgezeichnetes Programm %lld gibt es nicht", settings.program);
    if (settings.batteryType < 0 || settings.batteryType > 2)
        return format("aufgezeichneter Akkutyp %lld gibt es nicht", settings.batteryType);
    if (settings.cells < 1)
        return "Aufzeichnung ohne Zellen";
    for (const int current : {int(settings.dischargeCurrent), int(settings.chargeCurrent)})
        if (current < AnyChargerMinCurrent || current > AnyChargerMaxCurrent)
            return format("aufgezeichneter Strom %lld mA liegt nicht zwischen %lld und %lld mA", current,
                          AnyChargerMinCurrent, AnyChargerMaxCurrent);
    long long total = 0;
    bool ended = false;
    for (int k = 0; k < LoggerPhases; ++k) {
        const int32_t count = phaseCounts[k];
        if (count < 0 || (ended && count != 0))
            return format("Phase %lld hat %lld Werte nach dem Ende der Liste", k + 1, count);
        ended = ended || count == 0;
        total += count;
    }
    if (total > LoggerMemoryValues)
        return format("%lld Werte passen nicht in den Speicher (%lld)", total, LoggerMemoryValues);
    // Only the intervals of phases with two or more values are ever used.
    bool charging = !(settings.program == 2 || settings.program == 3 || settings.program == 5);
    for (int k = 0; k < LoggerPhases && phaseCounts[k] > 0; ++k, charging = !charging) {
        const int32_t interval = charging ? chargeInterval : dischargeInterval;
        if (phaseCounts[k] > 1 && (interval < LoggerMinInterval || interval > LoggerMaxInterval))
            return format("Messabstand %lld s liegt nicht zwischen %lld und %lld s", interval, LoggerMinInterval,
                          LoggerMaxInterval);
    }
    return {};
}

std::string CheckLoggerValue(int32_t millivolts, const ProgramSettings &settings)
{
    const int maxVoltage = MaxVoltage(settings.batteryType, settings.cells);
    if (millivolts < 0 || millivolts > maxVoltage)
        return format("Spannung %lld mV liegt nicht zwischen 0 und %lld mV", millivolts, maxVoltage);
    return {};
}

} // namespace Plausible
} // namespace Ohmrida
