// The terminal against a scripted peer: wire bytes, status decoding,
// refusals asked again, wrong echoes, impossible clock times, silence and
// garbage. Identification and the logger
// reads are crossed by the search and readout tests against braskon-sim.
#include <algorithm>
#include <chrono>
#include <random>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "charger/AsynchSerialInterface.h"
#include "tests/support/ScriptedPeer.h"
#include "charger/Terminal.h"

using namespace ChargerTest;
using Ohmrida::AsynchSerialInterface;
using Ohmrida::ProgramSettings;
using Ohmrida::StatusValues;
using Ohmrida::Terminal;

namespace {

long long msBetween(std::chrono::steady_clock::time_point earlier, std::chrono::steady_clock::time_point later)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(later - earlier).count();
}

const auto silence = [](const Bytes &) { return Bytes{}; };

// Acknowledges every command, refusing (result 01) the codes `refused` names.
ScriptedPeer::Script refusing(std::vector<uint8_t> refused)
{
    return [refused](const Bytes &m) {
        const uint8_t code = m.at(0) & 0x3F;
        return Ack(m.at(0), std::find(refused.begin(), refused.end(), code) != refused.end());
    };
}

// Program 3 with the given type, 4 cells, 1800 mAh, 500 mA discharge, 900 mA
// charge; counters: discharge 300 mAh in 1:02:03, charge 100 mAh in 0:01:00
// (0:01:`chargeSeconds`), 1280 mV; lead charge current 777 mA in part B. The
// answer to the command code `garbled` echoes a wrong byte; `cutAt` shortens
// the last answer.
ScriptedPeer::Script statusScript(uint8_t modeFlags, uint8_t batteryType, uint8_t errorCode = 0,
                                  uint8_t garbled = 0, size_t cutAt = 16, uint8_t chargeSeconds = 0)
{
    return [=](const Bytes &message) -> Bytes {
        const uint8_t code = message.at(0) & 0x3F;
        Bytes reply;
        if (code == 0x11)
            reply = {0x11, modeFlags, errorCode, 3, batteryType, 4, 0x07, 0x08, 0x01, 0xF4, 0x03, 0x84, 0, 0};
        else if (code == 0x21)
            reply = {0x21, 0, 0, 0x03, 0x09};
        else if (code == 0x12) {
            reply = {0x12, 0x01, 0x2C, 0x00, 0x64, 0x01, 0x00, 1, 2, 3, 0, 1, chargeSeconds, 0, 0, 0};
            reply.resize(cutAt);
        }
        if (!reply.empty())
            reply[0] = message.at(0) ^ (code == garbled ? 0x01 : 0x00);
        return reply;
    };
}

} // namespace

TEST(TerminalTest, StatusDecodingPerMode)
{
    struct Case {
        uint8_t address, modeFlags, batteryType, errorCode;
        int current, capacity, time;
    };
    const Case cases[] = {
        {0x40, 0x02, 1, 0, 500, 300, 3723},   // discharging: discharge counters
        {0x00, 0x03, 2, 0, 500, 300, 3723},   // both bits count as discharge
        {0x00, 0x01, 2, 0, 0x0309, 100, 60},  // lead charge current is the measurement
        {0x00, 0x01, 0, 0, 900, 100, 60},     // NC (as NMH): the set charge current
        {0xC0, 0x00, 1, 5, 0, 0, 0},          // idle: no counters, but voltage and error
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.modeFlags) + " type " + std::to_string(c.batteryType));
        ScriptedPeer peer(1, statusScript(c.modeFlags, c.batteryType, c.errorCode));
        AsynchSerialInterface port(1);
        StatusValues v;
        ProgramSettings s;
        ASSERT_TRUE(Terminal("t", &port, 4, c.address).ReadStatus(v, s).Accepted());
        EXPECT_EQ(peer.CommandBytes(), (Bytes{uint8_t(0x11 | c.address), uint8_t(0x21 | c.address),
                                              uint8_t(0x12 | c.address)}));
        EXPECT_EQ(std::make_tuple(int(v.modeFlags), int(v.errorCode), v.current, v.capacity, v.time, v.voltage),
                  std::make_tuple(int(c.modeFlags), int(c.errorCode), c.current, c.capacity, c.time, 1280));
        EXPECT_EQ(std::make_tuple(int(s.program), int(s.batteryType), int(s.cells), int(s.capacity),
                                  int(s.dischargeCurrent), int(s.chargeCurrent)),
                  std::make_tuple(3, int(c.batteryType), 4, 1800, 500, 900));
    }
}

TEST(TerminalTest, FailedStatusReadWritesNothingAndStopsAtTheFirstFault)
{
    // A silent device, a short last answer, a wrong echo in each of the three
    // answers, a charge time of 0:01:60, what the read says, and the commands
    // sent until it gave up.
    struct Case {
        ScriptedPeer::Script script;
        Ohmrida::Reply::Kind kind;
        Bytes sent;
        const char *problem;
    };
    const Case cases[] = {
        {silence, Ohmrida::Reply::NoAnswer, {0x11}, ""},
        {statusScript(0x02, 1, 0, 0, 10), Ohmrida::Reply::Unintelligible, {0x11, 0x21, 0x12}, "nur 10 von 16 Bytes"},
        {statusScript(0x02, 1, 0, 0x11), Ohmrida::Reply::Unintelligible, {0x11}, "Antwort beginnt mit 10 statt 11"},
        {statusScript(0x02, 1, 0, 0x21), Ohmrida::Reply::Unintelligible, {0x11, 0x21}, "Antwort beginnt mit 20"},
        {statusScript(0x02, 1, 0, 0x12), Ohmrida::Reply::Unintelligible, {0x11, 0x21, 0x12}, "Antwort beginnt mit 13"},
        {statusScript(0x02, 1, 0, 0, 16, 60), Ohmrida::Reply::Unintelligible, {0x11, 0x21, 0x12}, "0:1:60"},
    };
    const auto expectNoReading = [](Terminal &terminal) {
        StatusValues values;
        values.voltage = 4242;
        ProgramSettings settings;
        settings.capacity = 999;
        const Ohmrida::Reply reply = terminal.ReadStatus(values, settings);
        EXPECT_EQ(values.voltage, 4242);
        EXPECT_EQ(settings.capacity, 999);
        return reply;
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.problem);
        ScriptedPeer peer(1, c.script);
        AsynchSerialInterface port(1);
        Terminal terminal("t", &port, 1, 0x00);
        const Ohmrida::Reply reply = expectNoReading(terminal);
        EXPECT_EQ(reply.kind, c.kind);
        EXPECT_NE(reply.problem.find(c.problem), std::string::npos) << reply.problem;
        EXPECT_EQ(peer.CommandBytes(), c.sent);
        EXPECT_FALSE(port.IsOpen());
    }
    // No port at all, and no port object.
    AsynchSerialInterface missing(7);
    Terminal absent("t", &missing, 1, 0x00), portless("t", nullptr, 1, 0x00);
    EXPECT_EQ(expectNoReading(absent).kind, Ohmrida::Reply::NoAnswer);
    EXPECT_EQ(expectNoReading(portless).kind, Ohmrida::Reply::NoAnswer);
    EXPECT_EQ(portless.SendCommand(0x13).kind, Ohmrida::Reply::NoAnswer);
    absent.Start();   // nothing to do, nothing to crash
    portless.Stop();
}

TEST(TerminalTest, ProgramStartAndStopBytesAndRefusals)
{
    // Device type, address, refused codes, whether program, start and stop were
    // refused, and the wire: a refusal is asked once more. A refused 13/14/15
    // is crossed by the treatment against braskon-sim.
    struct Case {
        uint8_t deviceType, address;
        std::vector<uint8_t> refused;
        bool program, start, stop;
        Bytes wire;
    };
    const Case cases[] = {
        {1, 0x00, {}, false, false, false, {0x14, 0x15, 0x13}},
        {3, 0x00, {0x14}, true, false, false, {0x14, 0x14, 0x15, 0x13}},
        // A Varn refusing the first start command stops there; refusing the second costs its second.
        {4, 0xC0, {0x15}, false, true, false, {0xD4, 0xD5, 0xD5, 0xD3}},
        {4, 0x80, {0x19}, false, true, false, {0x94, 0x95, 0x99, 0x99, 0x93}},
    };
    const auto refused = [](const Ohmrida::Reply &reply) { return reply.kind == Ohmrida::Reply::Refused; };
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.address));
        ScriptedPeer peer(1, refusing(c.refused));
        AsynchSerialInterface port(1);
        Terminal terminal("t", &port, c.deviceType, c.address);
        EXPECT_EQ(refused(terminal.SendProgram(ProgramSettings{3, 1, 4, 1800, 500, 900})), c.program);
        EXPECT_EQ(refused(terminal.Start()), c.start);
        EXPECT_EQ(refused(terminal.Stop()), c.stop);
        EXPECT_EQ(peer.CommandBytes(), c.wire);
        EXPECT_EQ(peer.Received().at(0).bytes,
                  (Bytes{uint8_t(0x14 | c.address), 0x03, 0x01, 0x01, 0x04, 0x07, 0x08, 0x01, 0xF4, 0x03, 0x84}));
        EXPECT_FALSE(port.IsOpen());
    }
}

TEST(TerminalTest, VarnStartSendsTheAlternativeWhenTheThirdCommandIsRefused)
{
    // Refused third commands (each asked twice), whether the start was
    // accepted, and the commands sent.
    const std::tuple<std::vector<uint8_t>, bool, Bytes> cases[] = {
        {{0x17}, true, {0x55, 0x59, 0x57, 0x57, 0x58}}, {{0x17, 0x18}, false, {0x55, 0x59, 0x57, 0x57, 0x58, 0x58}}};
    for (const auto &[refused, started, wire] : cases) {
        ScriptedPeer peer(1, refusing(refused));
        AsynchSerialInterface port(1);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Terminal("Varn/Akku2 an COM1", &port, 4, 0x40).Start().Accepted(), started);
        const auto end = std::chrono::steady_clock::now();
        const auto received = peer.Received();
        ASSERT_EQ(peer.CommandBytes(), wire);
        EXPECT_GE(msBetween(received[0].at, received[1].at), 950);
        EXPECT_GE(msBetween(received[1].at, received[2].at), 950);
        EXPECT_LT(msBetween(received[2].at, received[3].at), 900);
        EXPECT_GE(msBetween(start, end), 1950);
    }
}

TEST(TerminalTest, CommandAcceptanceRules)
{
    // The answers to 0x13 | 0x40 in turn (the last one repeated), what they
    // come to, and how often the command went out: a refusal or a garbled
    // acknowledgement is asked again, up to three times; a refusal counts
    // when it comes twice alike.
    struct Case {
        std::vector<Bytes> answers;
        Ohmrida::Reply::Kind kind;
        size_t sent;
    };
    const Case cases[] = {
        {{{0x53, 0x00}}, Ohmrida::Reply::Ok, 1},
        {{{0x53, 0x01}, {0x53, 0x01}}, Ohmrida::Reply::Refused, 2},
        {{{0x53, 0x01}, {0x53, 0x00}}, Ohmrida::Reply::Ok, 2},          // a flipped result code
        {{{0x13, 0x00}}, Ohmrida::Reply::Unintelligible, 3},   // echo without the address bits
        {{{0x53, 0x01}, {0x53, 0x02}}, Ohmrida::Reply::Refused, 3},      // a garbled code, then twice the same
        {{{0x53}, {0x53, 0x00}}, Ohmrida::Reply::Ok, 2},                // one byte lost
        {{{}}, Ohmrida::Reply::NoAnswer, 1},
    };
    for (const Case &c : cases) {
        size_t next = 0;
        ScriptedPeer peer(1, [&](const Bytes &) { return c.answers.at(std::min(next++, c.answers.size() - 1)); });
        AsynchSerialInterface port(1);
        port.Open();
        EXPECT_EQ(Terminal("t", &port, 4, 0x40).SendCommand(0x13).kind, c.kind) << c.answers.size();
        port.Close();
        EXPECT_EQ(peer.CommandBytes().size(), c.sent);
    }
}

TEST(TerminalTest, GarbageAnswersNeverHangOrCrash)
{
    std::mt19937 random(4711);
    ScriptedPeer peer(1, [&](const Bytes &) {   // only the peer's thread draws
        Bytes answer(random() % 30);
        for (uint8_t &byte : answer)
            byte = static_cast<uint8_t>(random());
        return answer;
    });
    AsynchSerialInterface port(1);
    Terminal terminal("Varn/Akku1 an COM1", &port, 4, 0x00);
    const auto start = std::chrono::steady_clock::now();
    StatusValues values;
    ProgramSettings settings;
    int32_t intervals[2], counts[10];
    terminal.ReadStatus(values, settings);
    terminal.SendProgram(settings);
    terminal.Stop();
    Ohmrida::Identify(port);
    Ohmrida::ProbeLogger(port);
    terminal.ReadLoggerHeader(settings, intervals[0], intervals[1], counts);
    terminal.ReadLoggerValue();
    EXPECT_FALSE(port.IsOpen());
    // Every exchange is bounded by its read time-out.
    EXPECT_LT(msBetween(start, std::chrono::steady_clock::now()), 15000);
}
