#include <chrono>
#include <random>
#include <memory>
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

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

long long msBetween(const ReceivedMessage &earlier, const ReceivedMessage &later)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(later.at - earlier.at).count();
}

class TerminalTest : public ::testing::Test {
protected:
    void SetUp() override { DetachAllPorts(); }
    void TearDown() override { DetachAllPorts(); }
};

// The three status answers of one read.
struct StatusAnswer {
    Bytes a = Bytes(14, 0);
    Bytes b = Bytes(5, 0);
    Bytes c = Bytes(16, 0);
};

ScriptedPeer::Script statusScript(StatusAnswer answer)
{
    return [answer](const Bytes &message) -> Bytes {
        Bytes reply;
        switch (message.at(0) & 0x3F) {
        case 0x11: reply = answer.a; break;
        case 0x21: reply = answer.b; break;
        case 0x12: reply = answer.c; break;
        default: return {};
        }
        reply[0] = message.at(0);
        return reply;
    };
}

// Program echo: NMH (or the given type), 4 cells, 1800 mAh, 500 mA discharge,
// 900 mA charge; counters: discharge 300 mAh in 1:02:03, charge 100 mAh in 0:01:00,
// 1280 mV; lead charge current 777 mA in part B.
StatusAnswer typicalStatus(uint8_t modeFlags, uint8_t batteryType)
{
    StatusAnswer s;
    s.a = {0x11, modeFlags, 0x00, 3, batteryType, 4, 0x07, 0x08, 0x01, 0xF4, 0x03, 0x84, 0, 0};
    s.b = {0x21, 0, 0, 0x03, 0x09};
    s.c = {0x12, 0x01, 0x2C, 0x00, 0x64, 0x01, 0x00, 1, 2, 3, 0, 1, 0, 0, 0, 0};
    return s;
}

StatusValues readStatus(int portNumber, uint8_t address, const StatusAnswer &answer, ProgramSettings *settingsOut = nullptr)
{
    ScriptedPeer peer(portNumber, statusScript(answer));
    AsynchSerialInterface port(portNumber);
    Terminal terminal("t", &port, 4, address);
    StatusValues values;
    ProgramSettings settings;
    EXPECT_TRUE(terminal.ReadStatus(values, settings));
    if (settingsOut)
        *settingsOut = settings;
    EXPECT_EQ(peer.CommandBytes(), (Bytes{uint8_t(0x11 | address), uint8_t(0x21 | address), uint8_t(0x12 | address)}));
    return values;
}

} // namespace

TEST_F(TerminalTest, ProgramMessageForThirdVarnChannel)
{
    ScriptedPeer peer(1, [](const Bytes &m) { return Ack(m.at(0)); });
    AsynchSerialInterface port(1);
    Terminal terminal("Varn/Akku3 an COM1", &port, 4, 0x80);
    ProgramSettings settings;
    settings.program = 3;
    settings.batteryType = 1;
    settings.cells = 4;
    settings.capacity = 1800;
    settings.dischargeCurrent = 500;
    settings.chargeCurrent = 900;
    terminal.SendProgram(settings);
    const auto received = peer.Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].bytes, (Bytes{0x94, 0x03, 0x01, 0x01, 0x04, 0x07, 0x08, 0x01, 0xF4, 0x03, 0x84}));
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(TerminalTest, StatusWhileDischargingUsesDischargeCounters)
{
    ProgramSettings settings;
    const StatusValues values = readStatus(1, 0x40, typicalStatus(0x02, 1), &settings);
    EXPECT_EQ(values.modeFlags, 0x02);
    EXPECT_EQ(values.errorCode, 0);
    EXPECT_EQ(values.current, 500);
    EXPECT_EQ(values.capacity, 300);
    EXPECT_EQ(values.time, 3723);
    EXPECT_EQ(values.voltage, 1280);
    EXPECT_EQ(settings.program, 3);
    EXPECT_EQ(settings.batteryType, 1);
    EXPECT_EQ(settings.cells, 4);
    EXPECT_EQ(settings.capacity, 1800);
    EXPECT_EQ(settings.dischargeCurrent, 500);
    EXPECT_EQ(settings.chargeCurrent, 900);
}

TEST_F(TerminalTest, StatusWithBothModeBitsCountsAsDischarge)
{
    const StatusValues values = readStatus(2, 0x00, typicalStatus(0x03, 2));
    EXPECT_EQ(values.current, 500);
    EXPECT_EQ(values.capacity, 300);
    EXPECT_EQ(values.time, 3723);
}

TEST_F(TerminalTest, ChargeCurrentOfLeadComesFromTheMeasurement)
{
    const StatusValues lead = readStatus(3, 0x00, typicalStatus(0x01, 2));
    EXPECT_EQ(lead.current, 0x0309);
    EXPECT_EQ(lead.capacity, 100);
    EXPECT_EQ(lead.time, 60);
    const StatusValues nc = readStatus(3, 0x00, typicalStatus(0x01, 0));
    EXPECT_EQ(nc.current, 900);
    const StatusValues nmh = readStatus(3, 0x00, typicalStatus(0x01, 1));
    EXPECT_EQ(nmh.current, 900);
    EXPECT_EQ(nmh.voltage, 1280);
}

TEST_F(TerminalTest, IdleStatusHasNoCountersButKeepsVoltageAndError)
{
    StatusAnswer answer = typicalStatus(0x00, 1);
    answer.a[2] = 0x05;
    const StatusValues values = readStatus(4, 0xC0, answer);
    EXPECT_EQ(values.errorCode, 0x05);
    EXPECT_EQ(values.current, 0);
    EXPECT_EQ(values.capacity, 0);
    EXPECT_EQ(values.time, 0);
    EXPECT_EQ(values.voltage, 1280);
}

TEST_F(TerminalTest, FailedStatusReadWritesNothingAndStopsAtTheFirstSilence)
{
    ScriptedPeer silent(5, [](const Bytes &) { return Bytes{}; });
    AsynchSerialInterface port(5);
    Terminal terminal("t", &port, 1, 0x00);
    StatusValues values;
    values.voltage = 4242;
    ProgramSettings settings;
    settings.capacity = 999;
    EXPECT_FALSE(terminal.ReadStatus(values, settings));
    EXPECT_EQ(values.voltage, 4242);
    EXPECT_EQ(settings.capacity, 999);
    EXPECT_EQ(silent.CommandBytes(), Bytes{0x11});
    EXPECT_FALSE(port.IsOpen());

    // A short last answer fails the whole read as well.
    StatusAnswer answer = typicalStatus(0x02, 1);
    answer.c.resize(10);
    ScriptedPeer shortAnswer(6, statusScript(answer));
    AsynchSerialInterface port6(6);
    Terminal other("t", &port6, 1, 0x00);
    EXPECT_FALSE(other.ReadStatus(values, settings));
    EXPECT_EQ(values.voltage, 4242);
    EXPECT_EQ(settings.capacity, 999);

    // No port at all.
    AsynchSerialInterface missing(7);
    Terminal absent("t", &missing, 1, 0x00);
    EXPECT_FALSE(absent.ReadStatus(values, settings));
}

TEST_F(TerminalTest, VarnStartSendsTheAlternativeWhenTheThirdCommandIsRefused)
{
    ScriptedPeer peer(1, [](const Bytes &m) {
        const uint8_t code = m.at(0) & 0x3F;
        return Ack(m.at(0), code == 0x17 ? 0x01 : 0x00);
    });
    AsynchSerialInterface port(1);
    Terminal terminal("Varn/Akku2 an COM1", &port, 4, 0x40);
    const auto start = Clock::now();
    terminal.Start();
    const long long elapsed = msSince(start);
    const auto received = peer.Received();
    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(peer.CommandBytes(), (Bytes{0x55, 0x59, 0x57, 0x58}));
    EXPECT_GE(msBetween(received[0], received[1]), 950);
    EXPECT_GE(msBetween(received[1], received[2]), 950);
    EXPECT_LT(msBetween(received[2], received[3]), 900);
    EXPECT_GE(elapsed, 1950);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(TerminalTest, StartOfOneChannelChargerOrRefusedVarnStartIsOneCommand)
{
    ScriptedPeer accepting(2, [](const Bytes &m) { return Ack(m.at(0)); });
    AsynchSerialInterface port2(2);
    Terminal tesk("Tesk an COM2", &port2, 3, 0x00);
    tesk.Start();
    EXPECT_EQ(accepting.CommandBytes(), Bytes{0x15});

    ScriptedPeer refusing(3, [](const Bytes &m) { return Ack(m.at(0), 0x02); });
    AsynchSerialInterface port3(3);
    Terminal varn("Varn/Akku4 an COM3", &port3, 4, 0xC0);
    varn.Start();
    EXPECT_EQ(refusing.CommandBytes(), Bytes{0xD5});

    // Start and Stop on a missing port are quiet no-ops.
    AsynchSerialInterface missing(4);
    Terminal absent("t", &missing, 4, 0x00);
    absent.Start();
    absent.Stop();
}

TEST_F(TerminalTest, StopSendsTheStopCommandWithTheAddress)
{
    ScriptedPeer peer(1, [](const Bytes &m) { return Ack(m.at(0)); });
    AsynchSerialInterface port(1);
    Terminal terminal("Varn/Akku3 an COM1", &port, 4, 0x80);
    terminal.Stop();
    EXPECT_EQ(peer.CommandBytes(), Bytes{0x93});
}

TEST_F(TerminalTest, CommandAcceptanceRules)
{
    struct Case {
        int portNumber;
        Bytes answer;
        bool accepted;
    };
    // On separate ports, so the two silent cases wait in parallel. The peers
    // are made here: they set the environment, which no other thread may read
    // meanwhile.
    const Case cases[] = {
        {1, {0x53, 0x00}, true},    // proper acknowledgement of 0x13 | 0x40
        {2, {0x13, 0x00}, false},   // echo without the address bits
        {3, {0x53, 0x01}, false},   // refused
        {4, {}, true},              // no answer counts as accepted
        {5, {0x53}, true},          // one byte only: still accepted
    };
    std::vector<std::unique_ptr<ScriptedPeer>> peers;
    std::vector<std::unique_ptr<AsynchSerialInterface>> ports;
    for (const Case &c : cases) {
        peers.push_back(std::make_unique<ScriptedPeer>(c.portNumber, [c](const Bytes &) { return c.answer; }));
        ports.push_back(std::make_unique<AsynchSerialInterface>(c.portNumber));
    }
    std::vector<std::thread> threads;
    std::vector<int> results(std::size(cases), -1);
    for (size_t i = 0; i < std::size(cases); ++i) {
        threads.emplace_back([&, i] {
            AsynchSerialInterface &port = *ports[i];
            Terminal terminal("t", &port, 4, 0x40);
            port.Open();
            results[i] = terminal.SendCommand(0x13) ? 1 : 0;
            port.Close();
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(results[i], cases[i].accepted ? 1 : 0) << "case " << i;
}

TEST_F(TerminalTest, IdentificationAnswers)
{
    struct Case {
        int portNumber;
        Bytes answer;
        uint8_t type;
    };
    Bytes refusal = IdentifyAnswer(1, 1);
    refusal[0] = 0x15;
    const Case cases[] = {
        {1, IdentifyAnswer(1, 1), 4},
        {2, IdentifyAnswer(2, 0), 1},
        {3, refusal, 0},
        {4, IdentifyAnswer(0, 0), 2},
        {5, IdentifyAnswer(1, 0), 3},
        {6, IdentifyAnswer(0, 1), 1},
        {7, Bytes{0x16, 0, 0, 0, 0, 0, 0, 1}, 0},   // short
        {8, {}, 0},                                  // silent
    };
    // Peers made here (they set the environment); only the exchanges run in
    // parallel.
    std::vector<std::unique_ptr<ScriptedPeer>> peers;
    std::vector<std::unique_ptr<AsynchSerialInterface>> ports;
    for (const Case &c : cases) {
        peers.push_back(std::make_unique<ScriptedPeer>(c.portNumber, [c](const Bytes &) { return c.answer; }));
        ports.push_back(std::make_unique<AsynchSerialInterface>(c.portNumber));
    }
    std::vector<std::thread> threads;
    std::vector<int> types(std::size(cases), -1);
    for (size_t i = 0; i < std::size(cases); ++i)
        threads.emplace_back([&, i] { types[i] = Ohmrida::Identify(*ports[i]); });
    for (std::thread &t : threads)
        t.join();
    std::vector<Bytes> commands;
    for (const auto &peer : peers)
        commands.push_back(peer->CommandBytes());
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(types[i], cases[i].type) << "case " << i;
        EXPECT_EQ(commands[i], Bytes{0x16}) << "case " << i;
    }
    AsynchSerialInterface missing(9);
    EXPECT_EQ(Ohmrida::Identify(missing), 0);
}

TEST_F(TerminalTest, LoggerProbeAndHeader)
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
}

TEST_F(TerminalTest, SilentLoggerYieldsNoHeaderAndZeroValues)
{
    ScriptedPeer silent(4, [](const Bytes &) { return Bytes{}; });
    AsynchSerialInterface port(4);
    Terminal terminal("Kestrix", &port, 5, 0x00);
    ProgramSettings settings;
    settings.cells = 7;
    int32_t chargeInterval = -1;
    int32_t dischargeInterval = -1;
    int32_t phaseCounts[10] = {5, 5, 5, 5, 5, 5, 5, 5, 5, 5};
    EXPECT_FALSE(terminal.ReadLoggerHeader(settings, chargeInterval, dischargeInterval, phaseCounts));
    EXPECT_EQ(settings.cells, 7);
    EXPECT_EQ(chargeInterval, -1);
    EXPECT_EQ(phaseCounts[9], 5);
    EXPECT_EQ(terminal.ReadLoggerValue(), 0);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(TerminalTest, CurrentLimitsByDeviceType)
{
    const int expected[][2] = {{0, 0}, {500, 10}, {500, 10}, {2000, 40}, {2000, 50}, {0, 0}};
    for (uint8_t type = 0; type <= 5; ++type) {
        Terminal terminal("t", nullptr, type, 0x00);
        EXPECT_EQ(terminal.MaxCurrent(), expected[type][0]) << int(type);
        EXPECT_EQ(terminal.MinCurrent(), expected[type][1]) << int(type);
    }
}

TEST_F(TerminalTest, GarbageAnswersNeverHangOrCrash)
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
        terminal.ReadStatus(values, settings);
        terminal.SendProgram(settings);
        terminal.Stop();
        Ohmrida::Identify(port);
        Ohmrida::ProbeLogger(port);
        int32_t intervals[2];
        int32_t counts[10];
        terminal.ReadLoggerHeader(settings, intervals[0], intervals[1], counts);
        terminal.ReadLoggerValue();
        EXPECT_FALSE(port.IsOpen());
    }
    // Every exchange is bounded by its read time-out.
    EXPECT_LT(msSince(start), 30000);
}

TEST_F(TerminalTest, TerminalWithoutPortAnswersNothing)
{
    Terminal terminal("t", nullptr, 1, 0x00);
    StatusValues values;
    ProgramSettings settings;
    int32_t intervals[2] = {};
    int32_t counts[10] = {};
    EXPECT_FALSE(terminal.SendCommand(0x13));
    EXPECT_FALSE(terminal.ReadStatus(values, settings));
    EXPECT_FALSE(terminal.ReadLoggerHeader(settings, intervals[0], intervals[1], counts));
    EXPECT_EQ(terminal.ReadLoggerValue(), 0);
    terminal.SendProgram(settings);
    terminal.Start();
    terminal.Stop();
}
