#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "AsynchSerialInterface.h"
#include "ScriptedPeer.h"
#include "Terminal.h"

using namespace ChargerTest;
using Ohmrida::AsynchSerialInterface;
using Ohmrida::ProgramSettings;
using Ohmrida::StatusValues;
using Ohmrida::Terminal;
using Clock = std::chrono::steady_clock;

namespace {

long long msBetween(Clock::time_point earlier, Clock::time_point later)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(later - earlier).count();
}

Bytes ack(const Bytes &message)
{
    return Ack(message.at(0));
}

// The three status answers of one read: program echo, lead current, counters.
struct StatusAnswer {
    Bytes a, b, c;
};

ScriptedPeer::Script statusScript(StatusAnswer answer)
{
    return [answer](const Bytes &message) -> Bytes {
        const uint8_t code = message.at(0) & 0x3F;
        Bytes reply = code == 0x11 ? answer.a : code == 0x21 ? answer.b : code == 0x12 ? answer.c : Bytes{};
        if (!reply.empty())
            reply[0] = message.at(0);
        return reply;
    };
}

// Program 3 with the given type, 4 cells, 1800 mAh, 500 mA discharge, 900 mA
// charge; counters: discharge 300 mAh in 1:02:03, charge 100 mAh in 0:01:00,
// 1280 mV; lead charge current 777 mA in part B.
StatusAnswer typicalStatus(uint8_t modeFlags, uint8_t batteryType, uint8_t errorCode = 0)
{
    return {{0x11, modeFlags, errorCode, 3, batteryType, 4, 0x07, 0x08, 0x01, 0xF4, 0x03, 0x84, 0, 0},
            {0x21, 0, 0, 0x03, 0x09},
            {0x12, 0x01, 0x2C, 0x00, 0x64, 0x01, 0x00, 1, 2, 3, 0, 1, 0, 0, 0, 0}};
}

// One peer per answer on COM1.., then `exchange` on all their ports at once,
// so silent devices wait in parallel. The peers are made on this thread: they
// set the environment, which no other thread may read meanwhile.
std::vector<int> exchangeInParallel(const std::vector<Bytes> &answers,
                                    const std::function<int(AsynchSerialInterface &)> &exchange,
                                    std::vector<Bytes> *commands)
{
    std::vector<std::unique_ptr<ScriptedPeer>> peers;
    std::vector<std::unique_ptr<AsynchSerialInterface>> ports;
    for (size_t i = 0; i < answers.size(); ++i) {
        const Bytes answer = answers[i];
        peers.push_back(std::make_unique<ScriptedPeer>(int(i + 1), [answer](const Bytes &) { return answer; }));
        ports.push_back(std::make_unique<AsynchSerialInterface>(int(i + 1)));
    }
    std::vector<int> results(answers.size(), -1);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < answers.size(); ++i)
        threads.emplace_back([&, i] { results[i] = exchange(*ports[i]); });
    for (std::thread &t : threads)
        t.join();
    for (const auto &peer : peers)
        commands->push_back(peer->CommandBytes());
    return results;
}

} // namespace

TEST(TerminalTest, ProgramMessageForThirdVarnChannel)
{
    ScriptedPeer peer(1, ack);
    AsynchSerialInterface port(1);
    Terminal terminal("Varn/Akku3 an COM1", &port, 4, 0x80);
    terminal.SendProgram(ProgramSettings{3, 1, 4, 1800, 500, 900});
    const auto received = peer.Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].bytes, (Bytes{0x94, 0x03, 0x01, 0x01, 0x04, 0x07, 0x08, 0x01, 0xF4, 0x03, 0x84}));
    EXPECT_FALSE(port.IsOpen());
}

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
        {0x00, 0x01, 0, 0, 900, 100, 60},     // NC and NMH: the set charge current
        {0x00, 0x01, 1, 0, 900, 100, 60},
        {0xC0, 0x00, 1, 5, 0, 0, 0},          // idle: no counters, but voltage and error
    };
    for (const Case &c : cases) {
        ScriptedPeer peer(1, statusScript(typicalStatus(c.modeFlags, c.batteryType, c.errorCode)));
        AsynchSerialInterface port(1);
        Terminal terminal("t", &port, 4, c.address);
        StatusValues values;
        ProgramSettings settings;
        ASSERT_TRUE(terminal.ReadStatus(values, settings)) << "mode " << int(c.modeFlags);
        EXPECT_EQ(peer.CommandBytes(), (Bytes{uint8_t(0x11 | c.address), uint8_t(0x21 | c.address),
                                              uint8_t(0x12 | c.address)}));
        SCOPED_TRACE("mode " + std::to_string(c.modeFlags) + " type " + std::to_string(c.batteryType));
        EXPECT_EQ(values.modeFlags, c.modeFlags);
        EXPECT_EQ(values.errorCode, c.errorCode);
        EXPECT_EQ(values.current, c.current);
        EXPECT_EQ(values.capacity, c.capacity);
        EXPECT_EQ(values.time, c.time);
        EXPECT_EQ(values.voltage, 1280);
        EXPECT_EQ(settings.program, 3);
        EXPECT_EQ(settings.batteryType, c.batteryType);
        EXPECT_EQ(settings.cells, 4);
        EXPECT_EQ(settings.capacity, 1800);
        EXPECT_EQ(settings.dischargeCurrent, 500);
        EXPECT_EQ(settings.chargeCurrent, 900);
    }
}

TEST(TerminalTest, FailedStatusReadWritesNothingAndStopsAtTheFirstSilence)
{
    ScriptedPeer silent(5, [](const Bytes &) { return Bytes{}; });
    StatusAnswer shortLast = typicalStatus(0x02, 1);
    shortLast.c.resize(10);
    ScriptedPeer shortAnswer(6, statusScript(shortLast));
    AsynchSerialInterface silentPort(5), shortPort(6), missingPort(7);
    // Silent device, a short last answer, no port at all, no port object.
    Terminal terminals[] = {{"t", &silentPort, 1, 0x00}, {"t", &shortPort, 1, 0x00}, {"t", &missingPort, 1, 0x00},
                            {"t", nullptr, 1, 0x00}};
    for (Terminal &terminal : terminals) {
        StatusValues values;
        values.voltage = 4242;
        ProgramSettings settings;
        settings.capacity = 999;
        EXPECT_FALSE(terminal.ReadStatus(values, settings));
        EXPECT_EQ(values.voltage, 4242);
        EXPECT_EQ(settings.capacity, 999);
    }
    EXPECT_EQ(silent.CommandBytes(), Bytes{0x11});
    EXPECT_FALSE(silentPort.IsOpen());
    // Without a port the other operations answer nothing and do nothing.
    Terminal &portless = terminals[3];
    ProgramSettings settings;
    int32_t intervals[2] = {};
    int32_t counts[10] = {};
    EXPECT_FALSE(portless.SendCommand(0x13));
    EXPECT_FALSE(portless.ReadLoggerHeader(settings, intervals[0], intervals[1], counts));
    EXPECT_EQ(portless.ReadLoggerValue(), 0);
    portless.SendProgram(settings);
    portless.Start();
    portless.Stop();
}

TEST(TerminalTest, VarnStartSendsTheAlternativeWhenTheThirdCommandIsRefused)
{
    ScriptedPeer peer(1, [](const Bytes &m) { return Ack(m.at(0), (m.at(0) & 0x3F) == 0x17 ? 0x01 : 0x00); });
    AsynchSerialInterface port(1);
    Terminal terminal("Varn/Akku2 an COM1", &port, 4, 0x40);
    const auto start = Clock::now();
    terminal.Start();
    const auto end = Clock::now();
    const auto received = peer.Received();
    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(peer.CommandBytes(), (Bytes{0x55, 0x59, 0x57, 0x58}));
    EXPECT_GE(msBetween(received[0].at, received[1].at), 950);
    EXPECT_GE(msBetween(received[1].at, received[2].at), 950);
    EXPECT_LT(msBetween(received[2].at, received[3].at), 900);
    EXPECT_GE(msBetween(start, end), 1950);
    EXPECT_FALSE(port.IsOpen());
}

TEST(TerminalTest, OneCommandStartsAndStops)
{
    // A one-channel charger starts with one command; so does a Varn that refuses the first.
    ScriptedPeer accepting(2, ack);
    AsynchSerialInterface port2(2);
    Terminal("Tesk an COM2", &port2, 3, 0x00).Start();
    EXPECT_EQ(accepting.CommandBytes(), Bytes{0x15});

    ScriptedPeer refusing(3, [](const Bytes &m) { return Ack(m.at(0), 0x02); });
    AsynchSerialInterface port3(3);
    Terminal("Varn/Akku4 an COM3", &port3, 4, 0xC0).Start();
    EXPECT_EQ(refusing.CommandBytes(), Bytes{0xD5});

    ScriptedPeer stopping(1, ack);
    AsynchSerialInterface port1(1);
    Terminal("Varn/Akku3 an COM1", &port1, 4, 0x80).Stop();
    EXPECT_EQ(stopping.CommandBytes(), Bytes{0x93});

    // Start and Stop on a missing port are quiet no-ops.
    AsynchSerialInterface missing(4);
    Terminal absent("t", &missing, 4, 0x00);
    absent.Start();
    absent.Stop();
}

TEST(TerminalTest, CommandAcceptanceRules)
{
    const std::vector<Bytes> answers = {
        {0x53, 0x00},   // proper acknowledgement of 0x13 | 0x40
        {0x13, 0x00},   // echo without the address bits
        {0x53, 0x01},   // refused
        {},             // no answer counts as accepted
        {0x53},         // one byte only: still accepted
    };
    std::vector<Bytes> commands;
    const std::vector<int> accepted = exchangeInParallel(answers, [](AsynchSerialInterface &port) {
        Terminal terminal("t", &port, 4, 0x40);
        port.Open();
        const bool result = terminal.SendCommand(0x13);
        port.Close();
        return result ? 1 : 0;
    }, &commands);
    EXPECT_EQ(accepted, (std::vector<int>{1, 0, 0, 1, 1}));
}

TEST(TerminalTest, IdentificationAnswers)
{
    Bytes refusal = IdentifyAnswer(1, 1);
    refusal[0] = 0x15;
    const std::vector<Bytes> answers = {IdentifyAnswer(1, 1), IdentifyAnswer(2, 0), refusal,
                                        IdentifyAnswer(0, 0), IdentifyAnswer(1, 0), IdentifyAnswer(0, 1),
                                        Bytes{0x16, 0, 0, 0, 0, 0, 0, 1},   // short
                                        {}};                                 // silent
    std::vector<Bytes> commands;
    const std::vector<int> types =
        exchangeInParallel(answers, [](AsynchSerialInterface &port) { return int(Ohmrida::Identify(port)); }, &commands);
    EXPECT_EQ(types, (std::vector<int>{4, 1, 0, 2, 3, 1, 0, 0}));
    for (const Bytes &sent : commands)
        EXPECT_EQ(sent, Bytes{0x16});
    AsynchSerialInterface missing(9);
    EXPECT_EQ(Ohmrida::Identify(missing), 0);
}

TEST(TerminalTest, LoggerProbeAndHeader)
{
    ScriptedPeer logger(1, LoggerScript());
    AsynchSerialInterface port(1);
    EXPECT_TRUE(Ohmrida::ProbeLogger(port));

    Terminal terminal("Kestrix", &port, 5, 0x00);
    ProgramSettings settings;
    int32_t chargeInterval = -1;
    int32_t dischargeInterval = -1;
    int32_t phaseCounts[10] = {};
    EXPECT_TRUE(terminal.ReadLoggerHeader(settings, chargeInterval, dischargeInterval, phaseCounts));
    EXPECT_EQ(chargeInterval, 10);
    EXPECT_EQ(dischargeInterval, 60);
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(phaseCounts[k], k * 256 + 10 * k + 1) << "phase " << k;
    EXPECT_EQ(settings.program, 3);
    EXPECT_EQ(settings.cells, 6);
    EXPECT_EQ(settings.capacity, 600);
    EXPECT_EQ(terminal.ReadLoggerValue(), 1200);
    EXPECT_EQ(logger.CommandBytes(), (Bytes{0xF0, 0x11, 0x21, 0x12, 0xF0, 0xF1, 0xF2}));
    EXPECT_FALSE(port.IsOpen());

    ScriptedPeer charger(2, ChargerScript(1));
    AsynchSerialInterface chargerPort(2);
    EXPECT_FALSE(Ohmrida::ProbeLogger(chargerPort));
    AsynchSerialInterface missing(3);
    EXPECT_FALSE(Ohmrida::ProbeLogger(missing));

    // A silent logger: no header, nothing overwritten, zero values.
    ScriptedPeer silent(4, [](const Bytes &) { return Bytes{}; });
    AsynchSerialInterface silentPort(4);
    Terminal mute("Kestrix", &silentPort, 5, 0x00);
    settings.cells = 7;
    chargeInterval = -1;
    phaseCounts[9] = 5;
    EXPECT_FALSE(mute.ReadLoggerHeader(settings, chargeInterval, dischargeInterval, phaseCounts));
    EXPECT_EQ(settings.cells, 7);
    EXPECT_EQ(chargeInterval, -1);
    EXPECT_EQ(phaseCounts[9], 5);
    EXPECT_EQ(mute.ReadLoggerValue(), 0);
    EXPECT_FALSE(silentPort.IsOpen());
}

TEST(TerminalTest, GarbageAnswersNeverHangOrCrash)
{
    std::mt19937 random(4711);
    std::mutex randomLock;
    ScriptedPeer peer(1, [&](const Bytes &) {
        std::lock_guard<std::mutex> guard(randomLock);
        Bytes answer(random() % 30);
        for (uint8_t &byte : answer)
            byte = static_cast<uint8_t>(random());
        return answer;
    });
    AsynchSerialInterface port(1);
    Terminal terminal("Varn/Akku1 an COM1", &port, 4, 0x00);
    const auto start = Clock::now();
    for (int round = 0; round < 2; ++round) {
        StatusValues values;
        ProgramSettings settings;
        int32_t intervals[2];
        int32_t counts[10];
        terminal.ReadStatus(values, settings);
        terminal.SendProgram(settings);
        terminal.Stop();
        Ohmrida::Identify(port);
        Ohmrida::ProbeLogger(port);
        terminal.ReadLoggerHeader(settings, intervals[0], intervals[1], counts);
        terminal.ReadLoggerValue();
        EXPECT_FALSE(port.IsOpen());
    }
    // Every exchange is bounded by its read time-out.
    EXPECT_LT(msBetween(start, Clock::now()), 30000);
}

TEST(TerminalTest, StatusAnswerWithAWrongEchoIsNoReading)
{
    // Which of the three answers echoes another command byte; the read ends there.
    const std::vector<std::pair<uint8_t, Bytes>> cases = {
        {0x11, {0x11}}, {0x21, {0x11, 0x21}}, {0x12, {0x11, 0x21, 0x12}}};
    for (const auto &[garbled, sent] : cases) {
        ScriptedPeer peer(1, [garbled = garbled](const Bytes &m) {
            Bytes reply = statusScript(typicalStatus(0x02, 1))(m);
            if ((m.at(0) & 0x3F) == garbled)
                reply[0] ^= 0x01;
            return reply;
        });
        AsynchSerialInterface port(1);
        Terminal terminal("t", &port, 1, 0x00);
        StatusValues values;
        values.voltage = 4242;
        ProgramSettings settings;
        EXPECT_FALSE(terminal.ReadStatus(values, settings)) << int(garbled);
        EXPECT_EQ(values.voltage, 4242);
        EXPECT_EQ(peer.CommandBytes(), sent);
    }
}

TEST(TerminalTest, RefusedProgramStartAndStopAreReported)
{
    // The code the peer refuses (answers 01), and whether each operation was accepted.
    struct Case {
        uint8_t refused;
        uint8_t deviceType;
        bool program, start, stop;
    };
    const Case cases[] = {
        {0x00, 1, true, true, true},    {0x14, 1, false, true, true}, {0x15, 1, true, false, true},
        {0x13, 1, true, true, false},   {0x19, 4, true, false, true},
    };
    for (const Case &c : cases) {
        ScriptedPeer peer(1, [refused = c.refused](const Bytes &m) { return Ack(m.at(0), (m.at(0) & 0x3F) == refused); });
        AsynchSerialInterface port(1);
        Terminal terminal("t", &port, c.deviceType, 0x00);
        SCOPED_TRACE(int(c.refused));
        EXPECT_EQ(terminal.SendProgram(ProgramSettings{1, 1, 4, 1800, 500, 900}), c.program);
        EXPECT_EQ(terminal.Start(), c.start);
        EXPECT_EQ(terminal.Stop(), c.stop);
    }
    // A Varn that refuses both third commands has not started either.
    ScriptedPeer varn(2, [](const Bytes &m) { return Ack(m.at(0), (m.at(0) & 0x3F) == 0x17 || (m.at(0) & 0x3F) == 0x18); });
    AsynchSerialInterface varnPort(2);
    EXPECT_FALSE(Terminal("v", &varnPort, 4, 0x40).Start());
    // Silence is no refusal (the chargers do not always acknowledge).
    ScriptedPeer silent(3, [](const Bytes &) { return Bytes{}; });
    AsynchSerialInterface silentPort(3);
    EXPECT_TRUE(Terminal("s", &silentPort, 1, 0x00).Stop());
}

TEST(TerminalTest, LoggerValueReadsTellSilenceFromABadAnswer)
{
    using Read = Terminal::LoggerRead;
    const std::vector<std::pair<Bytes, Read>> answers = {
        {{0xF2, 0x00, 0x00, 0xF0, 0x0D, 0x0A}, Read::Ok},   // 240 * 5 mV
        {{}, Read::NoAnswer},
        {{0xF2, 0x00, 0x00}, Read::BadAnswer},                // short
        {{0xF3, 0x00, 0x00, 0xF0, 0x0D, 0x0A}, Read::BadAnswer},   // wrong echo
    };
    std::vector<Bytes> commands;
    std::vector<int32_t> voltages(answers.size(), -1);
    std::vector<Bytes> replies;
    for (const auto &answer : answers)
        replies.push_back(answer.first);
    const std::vector<int> results = exchangeInParallel(replies, [&](AsynchSerialInterface &port) {
        Terminal logger("Kestrix", &port, 5, 0x00);
        int32_t millivolts = -1;
        const Read read = logger.ReadLoggerValue(millivolts);
        voltages[size_t(port.PortNumber() - 1)] = millivolts;
        return int(read);
    }, &commands);
    for (size_t i = 0; i < answers.size(); ++i) {
        EXPECT_EQ(results[i], int(answers[i].second)) << "answer " << i;
        EXPECT_EQ(voltages[i], i == 0 ? 1200 : -1) << "answer " << i;
    }
}
