// Drives braskon-sim over its pseudo-terminals with plain POSIX I/O, the way
// a serial client does: open, flush, send, read, close for every exchange.
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// One exchange; returns what arrived within the time-out (maybe less than
// expected). Sets exclusive mode like the real serial client does.
Bytes exchange(const std::string& path, const Bytes& command, size_t expected,
               std::chrono::milliseconds timeout = 1000ms)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return {};
    ::ioctl(fd, TIOCEXCL);
    termios settings{};
    ::tcgetattr(fd, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(fd, TCSANOW, &settings);
    ::tcflush(fd, TCIFLUSH);
    Bytes answer;
    const auto until = Clock::now() + timeout;
    if (::write(fd, command.data(), command.size()) == static_cast<ssize_t>(command.size())) {
        for (auto left = timeout; answer.size() < expected && left.count() > 0;
             left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now())) {
            pollfd p{fd, POLLIN, 0};
            uint8_t buffer[64];
            const ssize_t n = ::poll(&p, 1, static_cast<int>(left.count())) > 0
                                  ? ::read(fd, buffer, std::min(sizeof(buffer), expected - answer.size()))
                                  : 0;
            if (n > 0)
                answer.insert(answer.end(), buffer, buffer + n);
        }
    }
    ::close(fd);
    return answer;
}

// An exchange expecting the full answer length of the command.
Bytes send(const std::string& path, const Bytes& command, std::chrono::milliseconds timeout = 1000ms)
{
    const std::map<int, size_t> lengths = {{0x11, 14}, {0x12, 16}, {0x21, 5}, {0x16, 11},
                                           {0xF0, 5},  {0xF1, 23}, {0xF2, 6}};
    const auto found = lengths.find(command[0] >= 0xF0 ? command[0] : command[0] & 0x3F);
    return exchange(path, command, found == lengths.end() ? 2 : found->second, timeout);
}

Bytes programMessage(uint8_t address, uint8_t program, uint8_t type, uint8_t cells, uint16_t capacity,
                     uint16_t discharge, uint16_t charge)
{
    return {static_cast<uint8_t>(0x14 | address), program, 0x01, type, cells,
            static_cast<uint8_t>(capacity >> 8), static_cast<uint8_t>(capacity),
            static_cast<uint8_t>(discharge >> 8), static_cast<uint8_t>(discharge),
            static_cast<uint8_t>(charge >> 8), static_cast<uint8_t>(charge)};
}

int word(const Bytes& b, size_t i) { return b.at(i) * 256 + b.at(i + 1); }

struct Status {
    int mode = -1, error = -1, voltage = 0, dischargeMah = 0, chargeMah = 0, dischargeS = 0, chargeS = 0,
        leadCurrent = 0;
};

Status readStatus(const std::string& path, uint8_t address = 0)
{
    const Bytes a = send(path, {static_cast<uint8_t>(0x11 | address)});
    const Bytes b = send(path, {static_cast<uint8_t>(0x21 | address)});
    const Bytes c = send(path, {static_cast<uint8_t>(0x12 | address)});
    if (a.size() != 14 || b.size() != 5 || c.size() != 16)
        return {};
    return {a[1], a[2], word(c, 5) * 5, word(c, 1), word(c, 3), c[7] * 3600 + c[8] * 60 + c[9],
            c[10] * 3600 + c[11] * 60 + c[12], word(b, 3)};
}

// Reads the status until `done` accepts a reading or 10 s passed; returns the last reading.
Status pollUntil(const std::string& path, const std::function<bool(const Status&)>& done)
{
    Status s;
    for (const auto until = Clock::now() + 10s; Clock::now() < until;)
        if (done(s = readStatus(path)))
            break;
    return s;
}

} // namespace

TEST(SimulatorIdentification, EachModelAnswersWithItsTypeBytes)
{
    SimTest::SimulatorProcess sim({"--port", "1=ohmrida", "--port", "2=lumo", "--port", "3=tesk",
                                   "--port", "4=varn", "--port", "5=kestrix"});
    sim.start();
    const std::pair<int, std::pair<int, int>> expected[] = {{1, {2, 0}}, {2, {0, 0}}, {3, {1, 0}}, {4, {1, 1}}};
    for (const auto& [com, bytes] : expected) {
        const Bytes r = send(sim.portPath(com), {0x16});
        ASSERT_EQ(r.size(), 11u) << "COM" << com;
        EXPECT_EQ(r[0], 0x16);
        EXPECT_EQ(r[7], bytes.first) << "COM" << com;
        EXPECT_EQ(r[9], bytes.second) << "COM" << com;
        // A charger is no logger: no answer to the logger probe.
        EXPECT_TRUE(send(sim.portPath(com), {0xF0}, 150ms).empty()) << "COM" << com;
    }
    // The logger answers its probe with CR LF at the end and ignores the identification.
    const Bytes probe = send(sim.portPath(5), {0xF0});
    ASSERT_EQ(probe.size(), 5u);
    EXPECT_EQ(probe[0], 0xF0);
    EXPECT_EQ(Bytes(probe.begin() + 3, probe.end()), (Bytes{0x0D, 0x0A}));
    EXPECT_TRUE(send(sim.portPath(5), {0x16}, 150ms).empty());
    EXPECT_GE(sim.waitForTrace("COM4 rx 16 tx 16 04", 1s), 0);
}

TEST(SimulatorProcessTest, BadArgumentsGiveAClearError)
{
    SimTest::SimulatorProcess sim({"--port", "1=toaster"});
    try {
        sim.start();
        FAIL() << "start succeeded";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("unbekannter Ger\u00e4tetyp"), std::string::npos) << e.what();
    }
}

TEST(SimulatorBatteryModel, Program3DischargesThenChargesThenGoesIdle)
{
    // 500 mAh NMH pack, 4 cells, at 1 C: a whole program takes about 1.5 model hours.
    SimTest::SimulatorProcess sim({"--port", "1=lumo", "--speed", "6000", "--soc", "50"});
    sim.start();
    const std::string port = sim.portPath(1);
    EXPECT_EQ(send(port, {0x13}), (Bytes{0x13, 0x00}));
    EXPECT_EQ(send(port, programMessage(0, 3, 1, 4, 500, 500, 500)), (Bytes{0x14, 0x00}));
    EXPECT_EQ(send(port, {0x15}), (Bytes{0x15, 0x00}));

    std::vector<int> modes;
    Status previous;
    bool dischargeRose = false, chargeRose = false;
    const Status last = pollUntil(port, [&](const Status& s) {
        EXPECT_EQ(s.error, 0);
        if (modes.empty() || modes.back() != s.mode)
            modes.push_back(s.mode);
        if (s.mode == 2) {
            EXPECT_GE(s.voltage, 3900);
            EXPECT_LE(s.voltage, 5500);
            dischargeRose |= previous.mode == 2 && s.dischargeMah > previous.dischargeMah;
        } else if (s.mode == 1) {
            EXPECT_GE(s.voltage, 5000);
            EXPECT_LE(s.voltage, 6300);
            chargeRose |= previous.mode == 1 && s.chargeMah > previous.chargeMah;
        }
        previous = s;
        return s.mode <= 0;
    });
    EXPECT_EQ(modes, (std::vector<int>{2, 1, 0}));
    EXPECT_TRUE(dischargeRose);
    EXPECT_TRUE(chargeRose);
    // The discharge took the remaining half (about 250 mAh at 500 mA, 30 min),
    // the charge refilled the emptied pack and a little more until -dV.
    EXPECT_NEAR(last.dischargeMah, 245, 20);
    EXPECT_NEAR(last.dischargeS, 1764, 150);
    EXPECT_GE(last.chargeMah, 480);
    EXPECT_LE(last.chargeMah, 530);
    EXPECT_NEAR(last.chargeS, last.chargeMah * 3600 / 500, 10);
    EXPECT_NEAR(last.voltage, 4 * 1340, 40);   // resting full NMH pack
}

TEST(SimulatorBatteryModel, LeadChargeTapersAndReportsTheMeasuredCurrent)
{
    SimTest::SimulatorProcess sim({"--port", "1=tesk", "--speed", "6000", "--soc", "70"});
    sim.start();
    const std::string port = sim.portPath(1);
    send(port, programMessage(0, 1, 2, 6, 1000, 100, 1000));
    send(port, {0x15});
    int lowestCurrent = 100000;
    const Status s = pollUntil(port, [&](const Status& s) {
        if (s.mode == 1) {
            EXPECT_LE(s.voltage, 6 * 2400 + 5);
            lowestCurrent = std::min(lowestCurrent, s.leadCurrent);
        }
        return s.mode != 1;
    });
    EXPECT_EQ(s.mode, 0);
    EXPECT_LT(lowestCurrent, 1000);
}

TEST(SimulatorVarn, ChannelsAreAddressedByTheHighBitsAndIndependent)
{
    SimTest::SimulatorProcess sim({"--port", "2=varn", "--speed", "1"});
    sim.start();
    const std::string port = sim.portPath(2);
    EXPECT_EQ(send(port, programMessage(0x80, 2, 0, 8, 1800, 500, 900)), (Bytes{0x94, 0x00}));
    for (uint8_t command : {0x95, 0x99, 0x97})
        EXPECT_EQ(send(port, {command}), (Bytes{command, 0x00}));

    EXPECT_EQ(readStatus(port, 0x80).mode, 2);
    for (uint8_t other : {0x00, 0x40, 0xC0})
        EXPECT_EQ(readStatus(port, other).mode, 0) << int(other);
    EXPECT_EQ(send(port, {0x91}), (Bytes{0x91, 0x02, 0x00, 2, 0, 8, 0x07, 0x08, 0x01, 0xF4, 0x03, 0x84, 0, 0}));

    // A refused 0x17 on channel 4 only; the fallback 0x18 is accepted.
    sim.control("fault 2.4 refuse=0x17");
    EXPECT_EQ(send(port, {0xD7}), (Bytes{0xD7, 0x01}));
    EXPECT_EQ(send(port, {0xD8}), (Bytes{0xD8, 0x00}));
    EXPECT_EQ(send(port, {0x57}), (Bytes{0x57, 0x00}));

    EXPECT_EQ(send(port, {0x93}), (Bytes{0x93, 0x00}));
    EXPECT_EQ(readStatus(port, 0x80).mode, 0);
}

TEST(SimulatorKestrix, AnswersTheHeaderAndValuesOfALoadedRecording)
{
    SimTest::SimulatorProcess sim({"--port", "4=kestrix", "--port", "1=lumo"});
    sim.start();
    EXPECT_EQ(sim.control("set-kestrix 4 program=3 type=1 cells=4 capacity=1000 discharge=500 charge=300 "
                          "intervals=60/30 counts=121/61"),
              "ok counts=121/61");
    const std::string port = sim.portPath(4);
    EXPECT_EQ(send(port, {0xF0}), (Bytes{0xF0, 60, 30, 0x0D, 0x0A}));
    const Bytes table = send(port, {0xF1});
    ASSERT_EQ(table.size(), 23u);
    for (size_t k = 0; k < 10; ++k)
        EXPECT_EQ(word(table, 1 + 2 * k), k == 0 ? 121 : k == 1 ? 61 : 0) << "phase " << k;
    EXPECT_EQ(send(port, {0x11}), (Bytes{0x11, 0, 0, 3, 1, 4, 0x03, 0xE8, 0x01, 0xF4, 0x01, 0x2C, 0, 0}));
    // The discharge falls, the charge rises.
    std::vector<int> values;
    for (int i = 0; i < 182; ++i) {
        const Bytes v = send(port, {0xF2});
        ASSERT_EQ(v.size(), 6u);
        values.push_back(word(v, 2) * 5);
        EXPECT_GE(values.back(), 3600);
        EXPECT_LE(values.back(), 6200);
    }
    EXPECT_GT(values[0], values[120]);
    EXPECT_LT(values[121], values[170]);
    EXPECT_EQ(word(send(port, {0xF2}), 2), 0) << "past the end";
    EXPECT_TRUE(send(port, {0x51}, 150ms).empty()) << "not at address 0: no answer";
}

TEST(SimulatorKestrix, ReadsARecordingFile)
{
    const std::string path = ::testing::TempDir() + "kestrix-" + std::to_string(::getpid()) + ".txt";
    std::ofstream(path) << "# two short phases\nprogram 2\ntype 0\ncells 6\ncapacity 600\n"
                           "discharge-current 200\ncharge-current 60\ncharge-interval 10\ndischarge-interval 20\n"
                           "phase 7800 7500 6000\nphase 6100\n";
    SimTest::SimulatorProcess sim({"--port", "3=kestrix", "--kestrix-file", path});
    sim.start();
    const std::string port = sim.portPath(3);
    EXPECT_EQ(send(port, {0xF0}), (Bytes{0xF0, 10, 20, 0x0D, 0x0A}));
    const Bytes table = send(port, {0xF1});
    EXPECT_EQ((std::vector<int>{word(table, 1), word(table, 3), word(table, 5)}), (std::vector<int>{3, 1, 0}));
    for (int mv : {7800, 7500, 6000, 6100})
        EXPECT_EQ(word(send(port, {0xF2}), 2) * 5, mv);
    // A new header read starts the values again.
    send(port, {0xF1});
    EXPECT_EQ(word(send(port, {0xF2}), 2) * 5, 7800);

    SimTest::SimulatorProcess broken({"--port", "3=kestrix", "--kestrix-file", path + ".missing"});
    EXPECT_THROW(broken.start(), std::runtime_error);
    ::unlink(path.c_str());
}

TEST(SimulatorFaults, SilentShortAndWrongEchoAnswers)
{
    SimTest::SimulatorProcess sim({"--port", "1=lumo", "--fault", "1:silent"});
    sim.start();
    const std::string port = sim.portPath(1);
    EXPECT_TRUE(send(port, {0x16}, 150ms).empty());
    sim.control("clear 1");
    EXPECT_EQ(send(port, {0x16}).size(), 11u);

    sim.control("fault 1 short=2");
    EXPECT_EQ(send(port, {0x11}, 200ms).size(), 12u);
    EXPECT_EQ(send(port, {0x13}, 200ms), (Bytes{}));

    sim.control("clear 1");
    sim.control("fault 1 wrong-echo");
    const Bytes ack = send(port, {0x13});
    ASSERT_EQ(ack.size(), 2u);
    EXPECT_NE(ack[0], 0x13);

    sim.control("clear 1");
    sim.control("unplug 1");
    EXPECT_TRUE(send(port, {0x16}, 150ms).empty());
    sim.control("plug 1");
    EXPECT_EQ(send(port, {0x16}).size(), 11u);
    sim.control("unplug 1 close");
    EXPECT_LT(::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
    EXPECT_THROW(sim.control("plug 1"), std::runtime_error);
}

TEST(SimulatorFaults, ErrorCodesStopTheChannel)
{
    SimTest::SimulatorProcess sim({"--port", "1=ohmrida", "--speed", "6000", "--fault", "1:error=5@2+60"});
    sim.start();
    const std::string port = sim.portPath(1);
    send(port, programMessage(0, 3, 1, 4, 500, 500, 500));
    send(port, {0x15});
    Status s = pollUntil(port, [](const Status& s) { return s.error != 0; });
    EXPECT_EQ(s.error, 5);
    EXPECT_EQ(s.mode, 0);
    EXPECT_EQ(s.chargeS, 60) << "the error came 60 s into step 2";

    // A new start clears it; "error" raises one at once.
    send(port, {0x15});
    EXPECT_EQ(readStatus(port).error, 0);
    sim.control("error 1 9");
    s = readStatus(port);
    EXPECT_EQ(s.error, 9);
    EXPECT_EQ(s.mode, 0);
}

TEST(SimulatorFaults, IdleStartStopByHandAndRefusedStart)
{
    SimTest::SimulatorProcess sim({"--port", "1=lumo", "--fault", "1:idle-start"});
    sim.start();
    const std::string port = sim.portPath(1);
    send(port, programMessage(0, 1, 1, 4, 1000, 100, 100));
    EXPECT_EQ(send(port, {0x15}), (Bytes{0x15, 0x00}));
    EXPECT_EQ(readStatus(port).mode, 0);

    sim.control("clear 1");
    send(port, {0x15});
    EXPECT_EQ(readStatus(port).mode, 1);
    sim.control("stop-by-hand 1");
    EXPECT_EQ(readStatus(port).mode, 0);

    sim.control("fault 1 refuse=0x15");
    EXPECT_EQ(send(port, {0x15}), (Bytes{0x15, 0x01}));
    EXPECT_EQ(readStatus(port).mode, 0);
}

TEST(SimulatorSerial, IncompleteCommandIsDiscardedAfterAGapUnknownOnesAreNotAnswered)
{
    SimTest::SimulatorProcess sim({"--port", "1=lumo"});
    sim.start();
    const std::string port = sim.portPath(1);
    EXPECT_TRUE(exchange(port, {0x14, 0x03, 0x01}, 2, 300ms).empty());
    EXPECT_GE(sim.waitForTrace("COM1 rx 14 03 01 tx - discarded", 2s), 0);
    EXPECT_EQ(send(port, {0x16}).size(), 11u);
    EXPECT_TRUE(send(port, {0x3F}, 150ms).empty());
    EXPECT_GE(sim.waitForTrace("COM1 rx 3F tx -", 1s), 0);
}
