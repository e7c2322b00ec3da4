#pragma once
// One charging channel (or the logger) and the byte exchanges with it.
// Every operation opens the port for itself, closes it on every path and turns
// transport failures into "no answer" results; nothing here throws.

#include <cstdint>
#include <string>

#include "AsynchSerialInterface.h"

namespace Ohmrida {

// The program loaded into a terminal, and its echo in the status answer.
struct ProgramSettings {
    uint8_t program = 0;            // 1 charge .. 5 two times discharge-charge
    int8_t batteryType = 0;         // 0 NC, 1 NMH, 2 lead
    uint8_t cells = 0;
    uint16_t capacity = 0;          // mAh
    uint16_t dischargeCurrent = 0;  // mA
    uint16_t chargeCurrent = 0;     // mA
};

// One status read.
struct StatusValues {
    uint8_t modeFlags = 0;   // bit 0 charging, bit 1 discharging
    uint8_t errorCode = 0;   // 0 no error
    int32_t current = 0;     // mA
    int32_t capacity = 0;    // mAh
    int32_t voltage = 0;     // mV
    int32_t time = 0;        // s
};

enum DeviceTypes : uint8_t {
    NoDevice = 0, DeviceOhmrida = 1, DeviceLumo = 2, DeviceTesk = 3, DeviceVarn = 4, DeviceKestrix = 5
};

enum CommandCodes : uint8_t {
    CmdStatusA = 0x11, CmdStatusC = 0x12, CmdStop = 0x13, CmdProgram = 0x14, CmdStart = 0x15,
    CmdIdentify = 0x16, CmdStartVarn3 = 0x17, CmdStartVarn3Alt = 0x18, CmdStartVarn2 = 0x19,
    CmdStatusB = 0x21, CmdLoggerInfo = 0xF0, CmdLoggerPhases = 0xF1, CmdLoggerValue = 0xF2
};

// Device type of the charger on the port, 0 when nothing answers properly. A
// port held by other programs is asked up to three times, each time after
// waiting for their exchange.
uint8_t Identify(AsynchSerialInterface &port);
// True when the Kestrix logger answers on the port.
bool ProbeLogger(AsynchSerialInterface &port);

class Terminal {
public:
    Terminal(std::string name, AsynchSerialInterface *port, uint8_t deviceType, uint8_t address);

    const std::string &Name() const { return name_; }
    AsynchSerialInterface *Port() const { return port_; }
    uint8_t DeviceType() const { return deviceType_; }
    uint8_t Address() const { return address_; }

    // Sends code|Address and reads the 2-byte acknowledgement; the port must be
    // open. No or a one-byte answer counts as accepted; a wrong echo or a
    // non-zero result code does not.
    bool SendCommand(uint8_t code);

    // SendProgram, Start and Stop return false only when the terminal refused
    // the command (a full acknowledgement with a wrong echo or a non-zero
    // result code). Silence and an unopenable port are not a refusal: the
    // chargers do not always acknowledge, and the next status read tells.
    // Whether the command went out at all (the port could be opened, also
    // after waiting for another program's exchange) says LastCommandSent.
    bool SendProgram(const ProgramSettings &settings);
    // Starts the loaded program; a Varn channel needs 0x15, 0x19 and 0x17
    // (or 0x18 when 0x17 is refused), one second apart. Refused when 0x15 or
    // 0x19 is refused, or both 0x17 and 0x18.
    bool Start();
    bool Stop();
    // False when any of the three status exchanges failed (no answer, a short
    // answer, or an answer whose first byte is not the command); then neither
    // record is written.
    bool ReadStatus(StatusValues &values, ProgramSettings &settings);
    // Logger only. False when an exchange failed; settings are written only
    // when the status read succeeded, the intervals and counts only when the
    // info and phase-table exchanges succeeded.
    bool ReadLoggerHeader(ProgramSettings &settings, int32_t &chargeInterval, int32_t &dischargeInterval,
                          int32_t phaseCounts[10]);
    // Logger only: the next stored voltage in mV, 0 when the exchange failed.
    int32_t ReadLoggerValue();
    // Logger only: the next stored voltage into millivolts (untouched unless
    // Ok). NoAnswer: not a single byte came back, so the logger may not have
    // seen the request; BadAnswer: a short answer or a wrong echo, so the
    // logger has most likely moved on to the next value already.
    enum class LoggerRead { Ok, NoAnswer, BadAnswer };
    LoggerRead ReadLoggerValue(int32_t &millivolts);

    // Whether the last SendProgram, Start, Stop or ReadStatus reached the
    // wire; false when the port could not be opened (missing, or held by
    // another program past AsynchSerialInterface::BusyWaitMs).
    bool LastCommandSent() const { return sent_; }

    int MaxCurrent() const;   // mA, 0 for unknown types
    int MinCurrent() const;
    static int MaxCurrentOf(uint8_t deviceType);
    static int MinCurrentOf(uint8_t deviceType);

private:
    bool exchange(const uint8_t *command, size_t commandLength, uint8_t *answer, size_t answerLength);
    static bool accepted(uint8_t command, const uint8_t *ack, bool complete);
    bool readStatusOpen(StatusValues &values, ProgramSettings &settings);

    std::string name_;
    AsynchSerialInterface *port_;
    uint8_t deviceType_;
    uint8_t address_;
    bool sent_ = false;
};

} // namespace Ohmrida
