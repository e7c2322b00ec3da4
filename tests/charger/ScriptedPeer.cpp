#include "ScriptedPeer.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace ChargerTest {

namespace {

bool isProgramCommand(uint8_t command)
{
    return command < 0xF0 && (command & 0x3F) == 0x14;
}

std::string variableName(int portNumber)
{
    return "BRASKON_COM" + std::to_string(portNumber);
}

} // namespace

ScriptedPeer::ScriptedPeer(int portNumber, Script script) : portNumber_(portNumber), script_(std::move(script))
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    slavePath_ = ptsname(master_);
    // Keeping one slave descriptor open spares the master the hang-ups between
    // exchanges; raw mode keeps CR and LF in the answers as they are.
    slaveKeeper_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    if (slaveKeeper_ < 0)
        throw std::runtime_error("cannot open " + slavePath_);
    termios settings{};
    tcgetattr(slaveKeeper_, &settings);
    cfmakeraw(&settings);
    tcsetattr(slaveKeeper_, TCSANOW, &settings);
    setenv(variableName(portNumber_).c_str(), slavePath_.c_str(), 1);
    thread_ = std::thread([this] { run(); });
}

ScriptedPeer::~ScriptedPeer()
{
    stop_ = true;
    thread_.join();
    setenv(variableName(portNumber_).c_str(), ("/nonexistent/com" + std::to_string(portNumber_)).c_str(), 1);
    ::close(slaveKeeper_);
    ::close(master_);
}

std::vector<ReceivedMessage> ScriptedPeer::Received() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return received_;
}

std::vector<uint8_t> ScriptedPeer::CommandBytes() const
{
    std::vector<uint8_t> commands;
    for (const ReceivedMessage &message : Received())
        commands.push_back(message.bytes.at(0));
    return commands;
}

void ScriptedPeer::Inject(const Bytes &bytes)
{
    if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("peer cannot write");
}

bool ScriptedPeer::readExactly(uint8_t *buffer, size_t n, int timeoutMs)
{
    size_t got = 0;
    while (got < n && !stop_) {
        pollfd waiter{master_, POLLIN, 0};
        const int ready = ::poll(&waiter, 1, timeoutMs);
        if (ready <= 0)
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
        if (isProgramCommand(command)) {
            message.resize(11);
            readExactly(message.data() + 1, 10, 500);
        }
        {
            std::lock_guard<std::mutex> guard(mutex_);
            received_.push_back({message, std::chrono::steady_clock::now()});
        }
        const Bytes answer = script_(message);
        if (!answer.empty() && ::write(master_, answer.data(), answer.size()) < 0)
            continue;
    }
}

Bytes IdentifyAnswer(uint8_t r7, uint8_t r9)
{
    Bytes answer(11, 0);
    answer[0] = 0x16;
    answer[7] = r7;
    answer[9] = r9;
    return answer;
}

Bytes Ack(uint8_t command, uint8_t code)
{
    return {command, code};
}

ScriptedPeer::Script ChargerScript(uint8_t deviceType)
{
    return [deviceType](const Bytes &message) -> Bytes {
        const uint8_t command = message.at(0);
        if (command == 0x16) {
            switch (deviceType) {
            case 2: return IdentifyAnswer(0, 0);
            case 3: return IdentifyAnswer(1, 0);
            case 4: return IdentifyAnswer(1, 1);
            default: return IdentifyAnswer(2, 0);
            }
        }
        if (command >= 0xF0)
            return {command, 0x01, 0x00, 0x00, 0x00};   // not the logger's CR LF
        switch (command & 0x3F) {
        case 0x11: {
            Bytes a(14, 0);
            a[0] = command;
            a[1] = 0x01;   // charging
            a[3] = 1;
            a[4] = 1;
            a[5] = 4;
            a[6] = 0x07; a[7] = 0x08;     // 1800 mAh
            a[8] = 0x01; a[9] = 0xF4;     // 500 mA
            a[10] = 0x03; a[11] = 0x84;   // 900 mA
            return a;
        }
        case 0x21: return {command, 0, 0, 0, 0};
        case 0x12: {
            Bytes c(16, 0);
            c[0] = command;
            c[3] = 0x00; c[4] = 0x64;   // 100 mAh
            c[5] = 0x01; c[6] = 0x00;   // 1280 mV
            c[10] = 0; c[11] = 1; c[12] = 0;
            return c;
        }
        default: return Ack(command);
        }
    };
}

ScriptedPeer::Script LoggerScript()
{
    return [](const Bytes &message) -> Bytes {
        const uint8_t command = message.at(0);
        switch (command) {
        case 0xF0: return {0xF0, 0x0A, 0x3C, 0x0D, 0x0A};
        case 0xF1: {
            Bytes t(23, 0);
            t[0] = 0xF1;
            for (int k = 0; k < 10; ++k) {
                t[1 + 2 * k] = static_cast<uint8_t>(k);
                t[2 + 2 * k] = static_cast<uint8_t>(10 * k + 1);
            }
            t[21] = 0x0D;
            t[22] = 0x0A;
            return t;
        }
        case 0xF2: return {0xF2, 0x00, 0x00, 0xF0, 0x0D, 0x0A};   // 240 * 5 mV
        case 0x11: {
            Bytes a(14, 0);
            a[0] = 0x11;
            a[3] = 3; a[4] = 0; a[5] = 6;
            a[6] = 0x02; a[7] = 0x58;   // 600 mAh
            a[8] = 0x00; a[9] = 0xC8;   // 200 mA
            a[10] = 0x00; a[11] = 0x3C; // 60 mA
            return a;
        }
        case 0x21: return {0x21, 0, 0, 0, 0};
        case 0x12: {
            Bytes c(16, 0);
            c[0] = 0x12;
            return c;
        }
        default: return {};   // the logger does not identify itself as a charger
        }
    };
}

void DetachAllPorts()
{
    for (int n = 1; n <= 9; ++n)
        setenv(variableName(n).c_str(), ("/nonexistent/com" + std::to_string(n)).c_str(), 1);
}

} // namespace ChargerTest
