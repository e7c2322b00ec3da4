#include "tests/support/ScriptedPeer.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace ChargerTest {

namespace {

void detach(int portNumber)
{
    const std::string n = std::to_string(portNumber);
    setenv(("BRASKON_COM" + n).c_str(), ("/nonexistent/com" + n).c_str(), 1);
}

} // namespace

ScriptedPeer::ScriptedPeer(int portNumber, Script script) : portNumber_(portNumber), script_(std::move(script))
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    const std::string slavePath = ptsname(master_);
    // One slave descriptor kept open spares the master the hang-ups between
    // exchanges; raw mode keeps CR and LF in the answers as they are.
    slaveKeeper_ = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    if (slaveKeeper_ < 0)
        throw std::runtime_error("cannot open " + slavePath);
    termios settings{};
    tcgetattr(slaveKeeper_, &settings);
    cfmakeraw(&settings);
    tcsetattr(slaveKeeper_, TCSANOW, &settings);
    setenv(("BRASKON_COM" + std::to_string(portNumber_)).c_str(), slavePath.c_str(), 1);
    thread_ = std::thread([this] { run(); });
}

ScriptedPeer::~ScriptedPeer()
{
    stop_ = true;
    thread_.join();
    detach(portNumber_);
    ::close(slaveKeeper_);
    ::close(master_);
}

std::vector<ReceivedMessage> ScriptedPeer::Received() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return received_;
}

Bytes ScriptedPeer::CommandBytes() const
{
    Bytes commands;
    for (const ReceivedMessage &message : Received())
        commands.push_back(message.bytes.at(0));
    return commands;
}

void ScriptedPeer::ClearReceived()
{
    std::lock_guard<std::mutex> guard(mutex_);
    received_.clear();
}

void ScriptedPeer::Inject(const Bytes &bytes)
{
    int queued = 0;
    if (::ioctl(slaveKeeper_, FIONREAD, &queued) != 0)
        throw std::runtime_error("peer cannot see the port's input");
    if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("peer cannot write");
    // The terminal hands written bytes to the other side a moment later.
    const size_t expected = static_cast<size_t>(queued) + bytes.size();
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);;
         std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
        if (::ioctl(slaveKeeper_, FIONREAD, &queued) == 0 && static_cast<size_t>(queued) >= expected)
            return;
        if (std::chrono::steady_clock::now() > until)
            throw std::runtime_error("injected bytes did not reach the port");
    }
}

bool ScriptedPeer::readExactly(uint8_t *buffer, size_t n, int timeoutMs)
{
    size_t got = 0;
    while (got < n && !stop_) {
        pollfd waiter{master_, POLLIN, 0};
        if (::poll(&waiter, 1, timeoutMs) <= 0)
            return false;
        const ssize_t count = ::read(master_, buffer + got, n - got);
        if (count > 0)
            got += static_cast<size_t>(count);
        else if (count < 0 && errno != EAGAIN && errno != EINTR)
            return false;
    }
    return got == n;
}

void ScriptedPeer::run()
{
    while (!stop_) {
        uint8_t command = 0;
        if (!readExactly(&command, 1, 20))
            continue;
        Bytes message{command};
        if (command < 0xF0 && (command & 0x3F) == 0x14) {   // a program message has ten more bytes
            message.resize(11);
            readExactly(message.data() + 1, 10, 500);
        }
        {
            std::lock_guard<std::mutex> guard(mutex_);
            received_.push_back({message, std::chrono::steady_clock::now()});
        }
        const Bytes answer = script_(message);
        if (!answer.empty() && ::write(master_, answer.data(), answer.size()) < 0)
            continue;   // nobody listening any more; the next command starts afresh
    }
}

Bytes IdentifyAnswerFor(uint8_t deviceType)
{
    static const uint8_t r7[] = {2, 2, 0, 1, 1};
    return {0x16, 0, 0, 0, 0, 0, 0, r7[deviceType < 5 ? deviceType : 0], 0, uint8_t(deviceType == 4 ? 1 : 0), 0};
}

ScriptedPeer::Script ChargerScript(uint8_t deviceType)
{
    return [deviceType](const Bytes &message) -> Bytes {
        const uint8_t command = message.at(0);
        if (command == 0x16)
            return IdentifyAnswerFor(deviceType);
        if (command >= 0xF0)
            return {command, 0x01, 0x00, 0x00, 0x00};   // not the logger's CR LF
        return Ack(command);
    };
}

ScriptedPeer::Script LoggerScript()
{
    return [](const Bytes &message) -> Bytes {
        if (message.at(0) == 0xF0)
            return {0xF0, 0x0A, 0x3C, 0x0D, 0x0A};
        return {};   // the logger does not identify itself as a charger
    };
}

void DetachAllPorts()
{
    for (int n = 1; n <= 9; ++n)
        detach(n);
}

} // namespace ChargerTest
