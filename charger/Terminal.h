#pragma once
// One charging channel (or the logger) and the byte exchanges with it.
// Every operation opens the port for itself, closes it on every path and turns
// transport failures into "no answer" results; nothing here throws.

#include <cstdint>
#include <string>
#include <vector>

#include "charger/AsynchSerialInterface.h"

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
inline bool operator==(const ProgramSettings &a, const ProgramSettings &b)
{
    return a.program == b.program && a.batteryType == b.batteryType && a.cells == b.cells && a.capacity == b.capacity
           && a.dischargeCurrent == b.dischargeCurrent && a.chargeCurrent == b.chargeCurrent;
}
inline bool operator!=(const ProgramSettings &a, const ProgramSettings &b) { return !(a == b); }

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

// How an exchange ended. Ok: accepted, or a complete answer that passed the
// checks of the wire. Refused: the device answered the command with a result
// code other than 0, also when asked again. Unintelligible: an answer that no
// device sends (wrong echo, too short, a minute of 61, no line end), also when
// asked again; `Problem` says why. NoAnswer: silence, or the port cannot be
// opened.
struct Reply {
    enum Kind : uint8_t { Ok, Refused, Unintelligible, NoAnswer };
    Kind kind = NoAnswer;
    uint8_t command = 0;          // the command byte of the exchange that decided
    std::vector<uint8_t> bytes;   // what came back, every answer of the operation in order
    std::string problem;          // German, for Unintelligible
    bool Accepted() const { return kind == Ok; }
};
// "11 01 00 ..." for messages and the log.
std::string HexText(const std::vector<uint8_t> &bytes);
// "Start (0x15)": the command's name as messages give it.
std::string CommandName(uint8_t command);

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
    // open. A refusal or an unintelligible acknowledgement is asked again (a
    // flipped byte must not refuse a command), up to MaxCommandAttempts times:
    // Refused needs the same refusal twice. Silence and unintelligible answers
    // are not refusals: the chargers do not always acknowledge, and the next
    // status read tells.
    Reply SendCommand(uint8_t code);
    static constexpr int MaxCommandAttempts = 3;

    // Loads, starts and stops as SendCommand does; whether the command went
    // out at all (the port could be opened, also after waiting for another
    // program's exchange) says LastCommandSent. Start: a Varn channel needs
    // 0x15, 0x19 and 0x17 (or 0x18 when 0x17 is refused), one second apart;
    // refused when 0x15 or 0x19 is refused, or both 0x17 and 0x18.
    Reply SendProgram(const ProgramSettings &settings);
    Reply Start();
    Reply Stop();
    // Decodes the three status answers. Ok only when all three came complete
    // with their echo and with hours, minutes and seconds a clock can show;
    // otherwise neither record is written. The first fault ends the read.
    // Whether the values are plausible for the program is the caller's to
    // check (Plausibility.h).
    Reply ReadStatus(StatusValues &values, ProgramSettings &settings);
    // Logger only: the recorded settings, intervals and phase counts. Ok only
    // when every answer came complete with its echo and line end and the
    // header is plausible (Plausible::CheckLoggerHeader); nothing is written
    // otherwise.
    Reply ReadLoggerHeader(ProgramSettings &settings, int32_t &chargeInterval, int32_t &dischargeInterval,
                           int32_t phaseCounts[10]);
    // Logger only: the next stored voltage in mV, 0 when the exchange failed.
    int32_t ReadLoggerValue();
    // Logger only: the next stored voltage into millivolts (untouched unless
    // Ok). NoAnswer: not a single byte came back, so the logger may not have
    // seen the request; Unintelligible: a short answer, a wrong echo or no
    // line end, so the logger has most likely moved on to the next value.
    Reply ReadLoggerValue(int32_t &millivolts);

    // Whether the last SendProgram, Start, Stop or ReadStatus reached the
    // wire; false when the port could not be opened (missing, or held by
    // another program past AsynchSerialInterface::BusyWaitMs).
    bool LastCommandSent() const { return sent_; }

    int MaxCurrent() const { return MaxCurrentOf(deviceType_); }   // mA, 0 for unknown types
    int MinCurrent() const { return MinCurrentOf(deviceType_); }
    static int MaxCurrentOf(uint8_t deviceType);
    static int MinCurrentOf(uint8_t deviceType);

private:
    Reply exchange(const uint8_t *command, size_t commandLength, size_t answerLength);
    Reply commandOnce(const uint8_t *message, size_t length);
    Reply command(const uint8_t *message, size_t length);
    Reply readStatusOpen(StatusValues &values, ProgramSettings &settings);
    std::string name_;
    AsynchSerialInterface *port_;
    uint8_t deviceType_;
    uint8_t address_;
    bool sent_ = false;
};

} // namespace Ohmrida
