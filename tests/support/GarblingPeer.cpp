#include "tests/support/GarblingPeer.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace SimTest {

namespace {

// How long each answer is, by command (the peer knows the protocol as a line
// analyser would; 0: the device does not answer it).
size_t answerLength(uint8_t command)
{
    switch (command) {
    case 0x16: return 11;
    case 0xF0: return 5;
    case 0xF1: return 23;
    case 0xF2: return 6;
    default: break;
    }
    switch (command & 0x3F) {
    case 0x11: return 14;
    case 0x21: return 5;
    case 0x12: return 16;
    case 0x13: case 0x14: case 0x15: case 0x17: case 0x18: case 0x19: return 2;
    default: return 0;
    }
}

void makeRaw(int fd)
{
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
}

} // namespace

GarblingPeer::GarblingPeer(int comNumber, const std::string &devicePath, double share, unsigned seed)
    : comNumber_(comNumber), devicePath_(devicePath), share_(share), random_(seed)
{
    device_ = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (device_ < 0 || master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("garbling peer: cannot open " + devicePath + " or a pseudo-terminal");
    makeRaw(device_);
    const std::string slavePath = ptsname(master_);
    // One slave descriptor kept open spares the master the hang-ups between
    // exchanges; raw mode keeps the bytes as they are.
    slaveKeeper_ = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    if (slaveKeeper_ < 0)
        throw std::runtime_error("garbling peer: cannot open " + slavePath);
    makeRaw(slaveKeeper_);
    ::setenv(("BRASKON_COM" + std::to_string(comNumber_)).c_str(), slavePath.c_str(), 1);
    thread_ = std::thread([this] { run(); });
}

GarblingPeer::~GarblingPeer()
{
    stop_ = true;
    thread_.join();
    ::setenv(("BRASKON_COM" + std::to_string(comNumber_)).c_str(), devicePath_.c_str(), 1);
    ::close(slaveKeeper_);
    ::close(master_);
    ::close(device_);
}

std::vector<GarblingPeer::Exchange> GarblingPeer::Log() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return log_;
}

bool GarblingPeer::readExactly(int fd, uint8_t *buffer, size_t n, int timeoutMs)
{
    size_t got = 0;
    while (got < n && !stop_) {
        pollfd waiter{fd, POLLIN, 0};
        if (::poll(&waiter, 1, timeoutMs) <= 0)
            return false;
        const ssize_t count = ::read(fd, buffer + got, n - got);
        if (count > 0)
            got += static_cast<size_t>(count);
        else if (count < 0 && errno != EAGAIN && errno != EINTR)
            return false;
    }
    return got == n;
}

GarblingPeer::Bytes GarblingPeer::garble(const Bytes &truth)
{
    if (truth.empty() || std::uniform_real_distribution<double>(0, 1)(random_) >= share_)
        return truth;
    Bytes sent = truth;
    const int kind = std::uniform_int_distribution<int>(0, 19)(random_);
    const size_t at = std::uniform_int_distribution<size_t>(0, sent.size() - 1)(random_);
    if (kind < 13) {
        // Noise on the line: one bit the other way.
        sent[at] ^= static_cast<uint8_t>(1u << std::uniform_int_distribution<int>(0, 7)(random_));
    } else if (kind < 19) {
        // A byte that is something else altogether; never the same.
        sent[at] ^= static_cast<uint8_t>(std::uniform_int_distribution<int>(1, 255)(random_));
    } else {
        // Bytes lost at the end (rarer: each costs the program a read time-out).
        sent.resize(sent.size() - std::min(sent.size(), size_t(1 + at % 3)));
    }
    return sent;
}

void GarblingPeer::run()
{
    while (!stop_) {
        uint8_t command = 0;
        if (!readExactly(master_, &command, 1, 20))
            continue;
        Exchange exchange;
        exchange.command = {command};
        if (command < 0xF0 && (command & 0x3F) == 0x14) {   // a program message has ten more bytes
            exchange.command.resize(11);
            readExactly(master_, exchange.command.data() + 1, 10, 500);
        }
        // A late answer to an earlier command must not pass for this one's.
        tcflush(device_, TCIFLUSH);
        if (::write(device_, exchange.command.data(), exchange.command.size())
            != static_cast<ssize_t>(exchange.command.size()))
            continue;
        exchange.truth.resize(answerLength(command));
        size_t got = 0;
        while (got < exchange.truth.size()) {
            pollfd waiter{device_, POLLIN, 0};
            if (::poll(&waiter, 1, 600) <= 0)
                break;
            const ssize_t count = ::read(device_, exchange.truth.data() + got, exchange.truth.size() - got);
            if (count > 0)
                got += static_cast<size_t>(count);
            else if (count < 0 && errno != EAGAIN && errno != EINTR)
                break;
        }
        exchange.truth.resize(got);
        exchange.sent = garble(exchange.truth);
        if (!exchange.sent.empty() && ::write(master_, exchange.sent.data(), exchange.sent.size()) < 0)
            continue;   // nobody listening any more
        std::lock_guard<std::mutex> guard(mutex_);
        log_.push_back(std::move(exchange));
    }
}

} // namespace SimTest
