#include "Terminal.h"

#include <chrono>
#include <thread>
#include <utility>

namespace Ohmrida {

namespace {

// Keeps the port open for one exchange and closes it on every way out.
class OpenPort {
public:
    explicit OpenPort(AsynchSerialInterface &port) : port_(port) { port_.Open(); }
    ~OpenPort() { port_.Close(); }
    OpenPort(const OpenPort &) = delete;
    OpenPort &operator=(const OpenPort &) = delete;

private:
    AsynchSerialInterface &port_;
};

constexpr size_t IdentifyAnswerLength = 11;
constexpr size_t AckLength = 2;
constexpr size_t StatusALength = 14;
constexpr size_t StatusBLength = 5;
constexpr size_t StatusCLength = 16;
constexpr size_t LoggerInfoLength = 5;
constexpr size_t LoggerPhasesLength = 23;
constexpr size_t LoggerValueLength = 6;
constexpr int LoggerPhaseCount = 10;
constexpr auto VarnStartPause = std::chrono::milliseconds(1000);

uint16_t word(const uint8_t *bytes)
{
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

int32_t hms(const uint8_t *bytes)
{
    return bytes[0] * 3600 + bytes[1] * 60 + bytes[2];
}

// Sends and reads on an open port; false on any transport failure.
bool transfer(AsynchSerialInterface &port, const uint8_t *command, size_t commandLength, uint8_t *answer,
              size_t answerLength)
{
    try {
        port.Send(command, commandLength);
        port.Receive(answer, answerLength);
        return true;
    } catch (const AsynchSerialInterface::ExCantSend &) {
    } catch (const AsynchSerialInterface::ExCantReceive &) {
    }
    return false;
}

} // namespace

uint8_t Identify(AsynchSerialInterface &port)
{
    // The answer lands in the buffer that held the command.
    uint8_t r[IdentifyAnswerLength] = {};
    // A port that other programs keep busy is asked again (each try waits
    // for their exchange): its charger is there, only occupied.
    constexpr int BusyTries = 3;
    for (int attempt = 1;; ++attempt) {
        r[0] = CmdIdentify;
        try {
            OpenPort open(port);
            if (!transfer(port, r, 1, r, IdentifyAnswerLength))
                return NoDevice;
            break;
        } catch (const AsynchSerialInterface::ExPortBusy &) {
            if (attempt == BusyTries)
                return NoDevice;
        } catch (const AsynchSerialInterface::ExCantOpen &) {
            return NoDevice;
        }
    }
    if (r[0] != CmdIdentify)
        return NoDevice;
    if (r[7] == 0 && r[9] == 0)
        return DeviceLumo;
    if (r[7] == 1 && r[9] == 0)
        return DeviceTesk;
    if (r[7] == 1 && r[9] == 1)
        return DeviceVarn;
    return DeviceOhmrida;
}

bool ProbeLogger(AsynchSerialInterface &port)
{
    uint8_t r[LoggerInfoLength] = {};
    const uint8_t command = CmdLoggerInfo;
    try {
        OpenPort open(port);
        transfer(port, &command, 1, r, LoggerInfoLength);
    } catch (const AsynchSerialInterface::ExCantOpen &) {
        return false;
    }
    // A short answer leaves zeros behind, which never match.
    return r[0] == CmdLoggerInfo && r[3] == 0x0D && r[4] == 0x0A;
}

Terminal::Terminal(std::string name, AsynchSerialInterface *port, uint8_t deviceType, uint8_t address)
    : name_(std::move(name)), port_(port), deviceType_(deviceType), address_(address)
{
}

bool Terminal::SendCommand(uint8_t code)
{
    const uint8_t c = static_cast<uint8_t>(code | address_);
    if (!port_)
        return false;
    uint8_t a[AckLength] = {0, 0};
    return accepted(c, a, transfer(*port_, &c, 1, a, AckLength));
}

bool Terminal::accepted(uint8_t command, const uint8_t *ack, bool complete)
{
    // Chargers do not always acknowledge; silence is taken as consent, only a
    // complete answer with a wrong echo or a non-zero code is a refusal.
    if (!complete)
        return ack[1] == 0;
    return ack[0] == command && ack[1] == 0;
}

bool Terminal::SendProgram(const ProgramSettings &settings)
{
    const uint8_t m[11] = {
        static_cast<uint8_t>(CmdProgram | address_),
        settings.program,
        0x01,
        static_cast<uint8_t>(settings.batteryType),
        settings.cells,
        static_cast<uint8_t>(settings.capacity >> 8),
        static_cast<uint8_t>(settings.capacity & 0xFF),
        static_cast<uint8_t>(settings.dischargeCurrent >> 8),
        static_cast<uint8_t>(settings.dischargeCurrent & 0xFF),
        static_cast<uint8_t>(settings.chargeCurrent >> 8),
        static_cast<uint8_t>(settings.chargeCurrent & 0xFF),
    };
    uint8_t ack[AckLength] = {};
    return accepted(m[0], ack, exchange(m, sizeof m, ack, AckLength));
}

bool Terminal::Start()
{
    sent_ = false;
    if (!port_)
        return true;
    try {
        OpenPort open(*port_);
        sent_ = true;
        if (!SendCommand(CmdStart))
            return false;
        if (deviceType_ != DeviceVarn)
            return true;
        std::this_thread::sleep_for(VarnStartPause);
        if (!SendCommand(CmdStartVarn2))
            return false;
        std::this_thread::sleep_for(VarnStartPause);
        return SendCommand(CmdStartVarn3) || SendCommand(CmdStartVarn3Alt);
    } catch (const AsynchSerialInterface::ExCantOpen &) {
        return true;
    }
}

bool Terminal::Stop()
{
    sent_ = false;
    if (!port_)
        return true;
    try {
        OpenPort open(*port_);
        sent_ = true;
        return SendCommand(CmdStop);
    } catch (const AsynchSerialInterface::ExCantOpen &) {
        return true;
    }
}

bool Terminal::exchange(const uint8_t *command, size_t commandLength, uint8_t *answer, size_t answerLength)
{
    sent_ = false;
    if (!port_)
        return false;
    try {
        OpenPort open(*port_);
        sent_ = true;
        return transfer(*port_, command, commandLength, answer, answerLength);
    } catch (const AsynchSerialInterface::ExCantOpen &) {
        return false;
    }
}

bool Terminal::readStatusOpen(StatusValues &values, ProgramSettings &settings)
{
    uint8_t A[StatusALength] = {};
    uint8_t B[StatusBLength] = {};
    uint8_t C[StatusCLength] = {};
    const uint8_t commandA = static_cast<uint8_t>(CmdStatusA | address_);
    const uint8_t commandB = static_cast<uint8_t>(CmdStatusB | address_);
    const uint8_t commandC = static_cast<uint8_t>(CmdStatusC | address_);
    // The first failure ends the read: a silent device costs one time-out.
    // An answer that does not echo its command belongs to something else (a
    // garbled or stale answer); its bytes are no measurement.
    if (!transfer(*port_, &commandA, 1, A, StatusALength) || A[0] != commandA
        || !transfer(*port_, &commandB, 1, B, StatusBLength) || B[0] != commandB
        || !transfer(*port_, &commandC, 1, C, StatusCLength) || C[0] != commandC)
        return false;

    StatusValues v;
    ProgramSettings s;
    v.modeFlags = A[1];
    v.errorCode = A[2];
    s.program = A[3];
    s.batteryType = static_cast<int8_t>(A[4]);
    s.cells = A[5];
    s.capacity = word(A + 6);
    s.dischargeCurrent = word(A + 8);
    s.chargeCurrent = word(A + 10);
    v.voltage = word(C + 5) * 5;   // the device counts in steps of 5 mV
    if (v.modeFlags & 0x02) {
        v.current = s.dischargeCurrent;
        v.capacity = word(C + 1);
        v.time = hms(C + 7);
    } else if (v.modeFlags & 0x01) {
        // Lead batteries are charged with what the charger measures, not
        // with the programmed current.
        v.current = s.batteryType == 2 ? word(B + 3) : s.chargeCurrent;
        v.capacity = word(C + 3);
        v.time = hms(C + 10);
    }
    values = v;
    settings = s;
    return true;
}

bool Terminal::ReadStatus(StatusValues &values, ProgramSettings &settings)
{
    sent_ = false;
    if (!port_)
        return false;
    try {
        OpenPort open(*port_);
        sent_ = true;
        return readStatusOpen(values, settings);
    } catch (const AsynchSerialInterface::ExCantOpen &) {
        return false;
    }
}

bool Terminal::ReadLoggerHeader(ProgramSettings &settings, int32_t &chargeInterval, int32_t &dischargeInterval,
                                int32_t phaseCounts[10])
{
    StatusValues scratch;
    const bool statusRead = ReadStatus(scratch, settings);
    if (!port_)
        return false;

    uint8_t I[LoggerInfoLength] = {};
    uint8_t T[LoggerPhasesLength] = {};
    const uint8_t infoCommand = CmdLoggerInfo;
    const uint8_t phasesCommand = CmdLoggerPhases;
    try {
        OpenPort open(*port_);
        if (!transfer(*port_, &infoCommand, 1, I, LoggerInfoLength) ||
            !transfer(*port_, &phasesCommand, 1, T, LoggerPhasesLength))
            return false;
    } catch (const AsynchSerialInterface::ExCantOpen &) {
        return false;
    }
    chargeInterval = I[1];
    dischargeInterval = I[2];
    for (int k = 0; k < LoggerPhaseCount; ++k)
        phaseCounts[k] = word(T + 1 + 2 * k);
    return statusRead;
}

int32_t Terminal::ReadLoggerValue()
{
    int32_t millivolts = 0;
    ReadLoggerValue(millivolts);
    return millivolts;
}

Terminal::LoggerRead Terminal::ReadLoggerValue(int32_t &millivolts)
{
    // Zeros before the read: a first byte still 0 means nothing arrived (the
    // echo is 0xF2).
    uint8_t V[LoggerValueLength] = {};
    const uint8_t command = CmdLoggerValue;
    const bool complete = exchange(&command, 1, V, LoggerValueLength);
    if (!complete && V[0] == 0)
        return LoggerRead::NoAnswer;
    if (!complete || V[0] != command)
        return LoggerRead::BadAnswer;
    millivolts = word(V + 2) * 5;
    return LoggerRead::Ok;
}

int Terminal::MaxCurrent() const
{
    return MaxCurrentOf(deviceType_);
}

int Terminal::MinCurrent() const
{
    return MinCurrentOf(deviceType_);
}

int Terminal::MaxCurrentOf(uint8_t deviceType)
{
    switch (deviceType) {
    case DeviceOhmrida:
    case DeviceLumo:
        return 500;
    case DeviceTesk:
    case DeviceVarn:
        return 2000;
    default:
        return 0;
    }
}

int Terminal::MinCurrentOf(uint8_t deviceType)
{
    switch (deviceType) {
    case DeviceOhmrida:
    case DeviceLumo:
        return 10;
    case DeviceTesk:
        return 40;
    case DeviceVarn:
        return 50;
    default:
        return 0;
    }
}

} // namespace Ohmrida
