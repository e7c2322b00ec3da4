// Drives braskon-sim over its pseudo-terminals with plain POSIX I/O, the way
// a serial client does: open, flush, send, read, close for every exchange.
// Identification, the logger, the Varn channels and the wire faults are
// crossed by the search, readout and treatment tests against braskon-sim.
#include "tests/support/SimulatorProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
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

// One exchange in exclusive mode; returns what arrived within the time-out,
// up to the answer length of the command.
Bytes send(const std::string& path, const Bytes& command, std::chrono::milliseconds timeout = 1000ms)
{
    static const std::map<int, size_t> lengths = {{0x11, 14}, {0x12, 16}, {0x21, 5}, {0x16, 11},
                                                  {0xF0, 5},  {0xF1, 23}, {0xF2, 6}};
    const auto found = lengths.find(command[0] >= 0xF0 ? command[0] : command[0] & 0x3F);
    const size_t expected = found == lengths.end() ? 2 : found->second;
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

Bytes programMessage(uint8_t address, uint8_t program, uint8_t type, uint8_t cells, uint16_t capacity,
                     uint16_t discharge, uint16_t charge)
{
    return {static_cast<uint8_t>(0x14 | address), program, 0x01, type, cells, uint8_t(capacity >> 8), uint8_t(capacity),
            uint8_t(discharge >> 8), uint8_t(discharge), uint8_t(charge >> 8), uint8_t(charge)};
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

// Loads and starts a program on COM1, then reads the status until `done`
// accepts a reading or 10 s passed; returns the last reading.
Status runUntil(const std::string& path, const Bytes& program, const std::function<bool(const Status&)>& done)
{
    send(path, program);
    EXPECT_EQ(send(path, {0x15}), (Bytes{0x15, 0x00}));
    Status s;
    for (const auto until = Clock::now() + 10s; Clock::now() < until;)
        if (done(s = readStatus(path)))
            break;
    return s;
}

} // namespace

TEST(SimulatorBatteryModel, Program3DischargesThenChargesThenGoesIdle)
{
    // 500 mAh NMH pack, 4 cells, at 1 C: a whole program takes about 1.5 model hours.
    SimTest::SimulatorProcess sim({"--port", "1=lumo", "--speed", "6000", "--soc", "50"});
    sim.start();
    std::vector<int> modes;
    const Status last = runUntil(sim.portPath(1), programMessage(0, 3, 1, 4, 500, 500, 500), [&](const Status& s) {
        EXPECT_EQ(s.error, 0);
        if (modes.empty() || modes.back() != s.mode)
            modes.push_back(s.mode);
        if (s.mode == 2 || s.mode == 1) {
            EXPECT_TRUE(s.mode == 2 ? s.voltage >= 3900 && s.voltage <= 5500 : s.voltage >= 5000 && s.voltage <= 6300)
                << s.voltage;
        }
        return s.mode <= 0;
    });
    EXPECT_EQ(modes, (std::vector<int>{2, 1, 0}));
    // The discharge took the remaining half; the charge refilled the pack and a little more until -dV.
    EXPECT_NEAR(last.dischargeMah, 245, 20);
    EXPECT_NEAR(last.dischargeS, 1764, 150);
    EXPECT_NEAR(last.chargeMah, 505, 25);
    EXPECT_NEAR(last.chargeS, last.chargeMah * 3600 / 500, 10);
    EXPECT_NEAR(last.voltage, 4 * 1340, 40);   // resting full NMH pack
}

TEST(SimulatorFaults, ErrorCodesAndIdleStarts)
{
    SimTest::SimulatorProcess sim({"--port", "1=ohmrida", "--speed", "6000", "--fault", "1:error=5@2+60"});
    sim.start();
    const std::string port = sim.portPath(1);
    Status s = runUntil(port, programMessage(0, 3, 1, 4, 500, 500, 500), [](const Status& answer) { return answer.error != 0; });
    EXPECT_EQ(std::make_tuple(s.error, s.mode, s.chargeS), std::make_tuple(5, 0, 60)) << "60 s into step 2";
    // A new start clears it; "error" raises one at once.
    send(port, {0x15});
    EXPECT_EQ(readStatus(port).error, 0);
    sim.control("error 1 9");
    s = readStatus(port);
    EXPECT_EQ(std::make_pair(s.error, s.mode), std::make_pair(9, 0));

    // An accepted start that leaves the charger idle (the treatment tests cross the others, and the hand stop).
    sim.control("clear 1");
    sim.control("fault 1 idle-start");
    EXPECT_EQ(send(port, {0x15}), (Bytes{0x15, 0x00}));
    EXPECT_EQ(readStatus(port).mode, 0);
}

TEST(SimulatorSerial, IncompleteCommandIsDiscardedAfterAGapUnknownOnesAreNotAnswered)
{
    SimTest::SimulatorProcess sim({"--port", "1=lumo"});
    sim.start();
    const std::string port = sim.portPath(1);
    EXPECT_TRUE(send(port, {0x14, 0x03, 0x01}, 300ms).empty());
    EXPECT_GE(sim.waitForTrace("COM1 rx 14 03 01 tx - discarded", 2s), 0);
    EXPECT_EQ(send(port, {0x16}).size(), 11u);
    EXPECT_TRUE(send(port, {0x3F}, 150ms).empty());
    EXPECT_GE(sim.waitForTrace("COM1 rx 3F tx -", 1s), 0);
}
