#include "charger/Terminal.h"

#include "charger/Plausibility.h"

#include <algorithm>
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

// One command and its answer on an open port, as a Reply: Ok when the answer
// came complete with its echo, Unintelligible when it came short or with
// another first byte, NoAnswer when nothing came. The bytes that arrived are
// appended to `reply.bytes`.
Reply::Kind receiveAnswer(AsynchSerialInterface &port, const uint8_t *command, size_t commandLength,
                          uint8_t *answer, size_t answerLength, Reply &reply)
{
    reply.command = command[0];
    size_t received = answerLength;
    try {
        port.Send(command, commandLength);
        port.Receive(answer, answerLength);
    } catch (const AsynchSerialInterface::ExCantSend &) {
        received = 0;
    } catch (const AsynchSerialInterface::ExCantReceive &failure) {
        received = failure.received;
    }
    reply.bytes.insert(reply.bytes.end(), answer, answer + received);
    if (received == 0)
        return Reply::NoAnswer;
    if (received < answerLength) {
        reply.problem = "nur " + std::to_string(received) + " von " + std::to_string(answerLength) + " Bytes";
        return Reply::Unintelligible;
    }
    if (answer[0] != command[0]) {
        reply.problem = "Antwort beginnt mit " + HexText({answer[0]}) + " statt " + HexText({command[0]});
        return Reply::Unintelligible;
    }
    return Reply::Ok;
}

// Hours, minutes and seconds a clock can show.
bool clockTime(const uint8_t *bytes)
{
    return bytes[1] < 60 && bytes[2] < 60;
}

} // namespace

std::string HexText(const std::vector<uint8_t> &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const uint8_t byte : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

std::string CommandName(uint8_t command)
{
    const char *name = "Befehl";
    switch (command & 0x3F) {
    case CmdProgram: name = "Programm laden"; break;
    case CmdStart: case CmdStartVarn2: case CmdStartVarn3: case CmdStartVarn3Alt: name = "Start"; break;
    case CmdStop: name = "Stopp"; break;
    case CmdStatusA: case CmdStatusB: case CmdStatusC: name = "Status"; break;
    case CmdIdentify: name = "Kennung"; break;
    default: break;
    }
    if (command >= CmdLoggerInfo)
        name = command == CmdLoggerValue ? "Messwert" : "Kopfdaten";
    return std::string(name) + " (0x" + HexText({command}) + ")";
}

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

Reply Terminal::commandOnce(const uint8_t *message, size_t length)
{
    Reply reply;
    uint8_t ack[AckLength] = {0, 0};
    reply.kind = receiveAnswer(*port_, message, length, ack, AckLength, reply);
    if (reply.kind == Reply::Ok && ack[1] != 0)
        reply.kind = Reply::Refused;
    return reply;
}

Reply Terminal::command(const uint8_t *message, size_t length)
{
    // A refusal or a garbled acknowledgement is asked again: one flipped byte
    // on the line must neither refuse a command nor pass for an answer. A
    // refusal counts when the same code comes twice; an acceptance or silence
    // at once. The command is repeated as it was, which a device that did
    // take it takes again without harm.
    Reply reply;
    std::vector<uint8_t> bytes;
    int refusedWith = -1;
    for (int attempt = 0; attempt < MaxCommandAttempts; ++attempt) {
        const std::string problem = reply.problem;
        reply = commandOnce(message, length);
        bytes.insert(bytes.end(), reply.bytes.begin(), reply.bytes.end());
        reply.bytes = bytes;
        if (reply.problem.empty())
            reply.problem = problem;
        if (reply.kind == Reply::Ok || reply.kind == Reply::NoAnswer)
            return reply;
        if (reply.kind == Reply::Refused) {
            const int code = bytes.back();
            if (code == refusedWith)
                return reply;
            refusedWith = code;
        }
    }
    // No refusal came twice alike: what the device meant is unknown.
    reply.kind = Reply::Unintelligible;
    if (reply.problem.empty())
        reply.problem = "Ablehnung nicht best\xC3\xA4tigt";
    return reply;
}

Reply Terminal::SendCommand(uint8_t code)
{
    const uint8_t c = static_cast<uint8_t>(code | address_);
    if (!port_)
        return Reply{Reply::NoAnswer, c, {}, {}};
    return command(&c, 1);
}

Reply Terminal::SendProgram(const ProgramSettings &settings)
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
    sent_ = false;
    if (!port_)
        return Reply{Reply::NoAnswer, m[0], {}, {}};
    try {
        OpenPort open(*port_);
        sent_ = true;
        return command(m, sizeof m);
    } catch (const AsynchSerialInterface::ExCantOpen &) {
        return Reply{Reply::NoAnswer, m[0], {}, {}};
    }
}

Reply Terminal::Start()
{
    sent_ = false;
    const uint8_t first = static_cast<uint8_t>(CmdStart | address_);
    if (!port_)
        return Reply{Reply::NoAnswer, first, {}, {}};
    try {
        OpenPort open(*port_);
        sent_ = true;
        Reply reply = SendCommand(CmdStart);
        if (reply.kind == Reply::Refused || deviceType_ != DeviceVarn)
            return reply;
        std::this_thread::sleep_for(VarnStartPause);
        reply = SendCommand(CmdStartVarn2);
        if (reply.kind == Reply::Refused)
            return reply;
        std::this_thread::sleep_for(VarnStartPause);
        reply = SendCommand(CmdStartVarn3);
        if (reply.kind == Reply::Refused)
            reply = SendCommand(CmdStartVarn3Alt);
        return reply;
    } catch (const AsynchSerialInterface::ExCantOpen &) {
        return Reply{Reply::NoAnswer, first, {}, {}};
    }
}

Reply Terminal::Stop()
{
    sent_ = false;
    const uint8_t c = static_cast<uint8_t>(CmdStop | address_);
    if (!port_)
        return Reply{Reply::NoAnswer, c, {}, {}};
    try {
        OpenPort open(*port_);
        sent_ = true;
        return SendCommand(CmdStop);
    } catch (const AsynchSerialInterface::ExCantOpen &) {
        return Reply{Reply::NoAnswer, c, {}, {}};
    }
}

Reply Terminal::exchange(const uint8_t *command, size_t commandLength, size_t answerLength)
{
    Reply reply;
    reply.command = command[0];
    sent_ = false;
    if (!port_)
        return reply;
    try {
        OpenPort open(*port_);
        sent_ = true;
        std::vector<uint8_t> answer(answerLength, 0);
        reply.kind = receiveAnswer(*port_, command, commandLength, answer.data(), answerLength, reply);
    } catch (const AsynchSerialInterface::ExCantOpen &) {
        reply.kind = Reply::NoAnswer;
    }
    return reply;
}

Reply Terminal::readStatusOpen(StatusValues &values, ProgramSettings &settings)
{
    uint8_t A[StatusALength] = {};
    uint8_t B[StatusBLength] = {};
    uint8_t C[StatusCLength] = {};
    const uint8_t commandA = static_cast<uint8_t>(CmdStatusA | address_);
    const uint8_t commandB = static_cast<uint8_t>(CmdStatusB | address_);
    const uint8_t commandC = static_cast<uint8_t>(CmdStatusC | address_);
    // The first fault ends the read: a silent device costs one time-out. An
    // answer that does not echo its command belongs to something else (a
    // garbled or stale answer); its bytes are no measurement.
    Reply reply;
    if ((reply.kind = receiveAnswer(*port_, &commandA, 1, A, StatusALength, reply)) != Reply::Ok
        || (reply.kind = receiveAnswer(*port_, &commandB, 1, B, StatusBLength, reply)) != Reply::Ok
        || (reply.kind = receiveAnswer(*port_, &commandC, 1, C, StatusCLength, reply)) != Reply::Ok)
        return reply;
    if (!clockTime(C + 7) || !clockTime(C + 10)) {
        reply.kind = Reply::Unintelligible;
        reply.problem = "Zeit " + std::to_string(C[7]) + ":" + std::to_string(C[8]) + ":" + std::to_string(C[9])
                        + " oder " + std::to_string(C[10]) + ":" + std::to_string(C[11]) + ":"
                        + std::to_string(C[12]) + " hat Minuten oder Sekunden über 59";
        return reply;
    }

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
    return reply;
}

Reply Terminal::ReadStatus(StatusValues &values, ProgramSettings &settings)
{
    sent_ = false;
    Reply none{Reply::NoAnswer, static_cast<uint8_t>(CmdStatusA | address_), {}, {}};
    if (!port_)
        return none;
    try {
        OpenPort open(*port_);
        sent_ = true;
        return readStatusOpen(values, settings);
    } catch (const AsynchSerialInterface::ExCantOpen &) {
        return none;
    }
}

Reply Terminal::ReadLoggerHeader(ProgramSettings &settings, int32_t &chargeInterval, int32_t &dischargeInterval,
                                 int32_t phaseCounts[10])
{
    StatusValues scratch;
    ProgramSettings recorded;
    Reply reply = ReadStatus(scratch, recorded);
    if (reply.kind != Reply::Ok || !port_)
        return reply;

    uint8_t I[LoggerInfoLength] = {};
    uint8_t T[LoggerPhasesLength] = {};
    const uint8_t infoCommand = CmdLoggerInfo;
    const uint8_t phasesCommand = CmdLoggerPhases;
    try {
        OpenPort open(*port_);
        if ((reply.kind = receiveAnswer(*port_, &infoCommand, 1, I, LoggerInfoLength, reply)) != Reply::Ok
            || (reply.kind = receiveAnswer(*port_, &phasesCommand, 1, T, LoggerPhasesLength, reply)) != Reply::Ok)
            return reply;
    } catch (const AsynchSerialInterface::ExCantOpen &) {
        reply.kind = Reply::NoAnswer;
        return reply;
    }
    // Both answers end with a line end, as the probe's does.
    if (I[3] != 0x0D || I[4] != 0x0A || T[21] != 0x0D || T[22] != 0x0A) {
        reply.kind = Reply::Unintelligible;
        reply.problem = "Antwort ohne Zeilenende";
        return reply;
    }
    int32_t counts[LoggerPhaseCount];
    for (int k = 0; k < LoggerPhaseCount; ++k)
        counts[k] = word(T + 1 + 2 * k);
    const std::string problem = Plausible::CheckLoggerHeader(recorded, I[1], I[2], counts);
    if (!problem.empty()) {
        reply.kind = Reply::Unintelligible;
        reply.problem = problem;
        return reply;
    }
    settings = recorded;
    chargeInterval = I[1];
    dischargeInterval = I[2];
    std::copy(counts, counts + LoggerPhaseCount, phaseCounts);
    return reply;
}

int32_t Terminal::ReadLoggerValue()
{
    int32_t millivolts = 0;
    ReadLoggerValue(millivolts);
    return millivolts;
}

Reply Terminal::ReadLoggerValue(int32_t &millivolts)
{
    const uint8_t command = CmdLoggerValue;
    Reply reply = exchange(&command, 1, LoggerValueLength);
    if (reply.kind != Reply::Ok)
        return reply;
    const uint8_t *V = reply.bytes.data();
    if (V[4] != 0x0D || V[5] != 0x0A) {
        reply.kind = Reply::Unintelligible;
        reply.problem = "Antwort ohne Zeilenende";
        return reply;
    }
    millivolts = word(V + 2) * 5;
    return reply;
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
