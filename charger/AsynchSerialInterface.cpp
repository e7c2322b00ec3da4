#include "charger/AsynchSerialInterface.h"

#include "charger/SerialPorts.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace Ohmrida {

namespace {

using Clock = std::chrono::steady_clock;

// The chargers never need more than a few dozen bytes at 9600 baud; a write
// that cannot get rid of them in this time hangs on a dead driver.
constexpr int WriteTimeoutMs = 5000;

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void configureLine(int fd)
{
    // Failures are ignored: a pseudo-terminal, for one, has no modem lines.
    termios settings{};
    if (tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        settings.c_cflag |= CS8 | CLOCAL | CREAD;
        settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
        // Reads never block in the driver; Receive() waits with poll().
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 0;
        cfsetispeed(&settings, B9600);
        cfsetospeed(&settings, B9600);
        tcsetattr(fd, TCSANOW, &settings);
    }
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
}

} // namespace

AsynchSerialInterface::AsynchSerialInterface(int portNumber)
    : portNumber_(portNumber), portName_("COM" + std::to_string(portNumber))
{
}

AsynchSerialInterface::~AsynchSerialInterface()
{
    Close();
}

std::string AsynchSerialInterface::DevicePath() const
{
    return SerialPorts::Resolve(portNumber_).device;
}

bool AsynchSerialInterface::IsOpen() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return busy_ && handle_ >= 0;
}

bool AsynchSerialInterface::HeldByCurrentThread() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return busy_ && owner_ == std::this_thread::get_id();
}

void AsynchSerialInterface::acquire()
{
    std::unique_lock<std::mutex> guard(mutex_);
    // The same thread opening twice would wait for itself forever; the device
    // is in use, so it gets what any other second opener gets.
    if (busy_ && owner_ == std::this_thread::get_id())
        throw ExCantOpen();
    freed_.wait(guard, [this] { return !busy_; });
    busy_ = true;
    owner_ = std::this_thread::get_id();
}

void AsynchSerialInterface::release()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        busy_ = false;
        owner_ = std::thread::id();
    }
    freed_.notify_one();
}

namespace {

// One try at the device: the descriptor, -1 when it is held elsewhere (busy),
// -2 when it cannot be used at all.
int tryOpen(const std::string &path)
{
    // O_NONBLOCK: a real port without carrier must not hold up the open.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY ? -1 : -2;   // EBUSY: another opener set TIOCEXCL
    // TIOCEXCL keeps other openers out, except root; the advisory lock covers
    // every process that plays by the same rules, root included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? -1 : -2;
    }
    if (::ioctl(fd, TIOCEXCL) != 0 || !isatty(fd)) {
        ::close(fd);
        return -2;
    }
    return fd;
}

} // namespace

void AsynchSerialInterface::Open(int waitMs)
{
    acquire();
    const std::string path = DevicePath();
    // Another process's exchange holds the device for a few milliseconds (or,
    // with a silent charger, up to its time-outs): try again until it is free.
    // No queue exists between processes, so the pause stays short.
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    int fd = tryOpen(path);
    for (int pauseMs = 1; fd == -1 && Clock::now() < deadline; pauseMs = std::min(2 * pauseMs, 8)) {
        ::usleep(static_cast<useconds_t>(std::min(pauseMs, remainingMs(deadline) + 1)) * 1000);
        fd = tryOpen(path);
    }
    if (fd < 0) {
        release();
        if (fd == -1)
            throw ExPortBusy();
        throw ExCantOpen();
    }
    configureLine(fd);
    // Bytes left over from an earlier exchange must not shift the next answer.
    tcflush(fd, TCIFLUSH);
    std::lock_guard<std::mutex> guard(mutex_);
    handle_ = fd;
}

void AsynchSerialInterface::Close()
{
    int fd;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (handle_ < 0)
            return;
        fd = handle_;
        handle_ = -1;
    }
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    ::close(fd);
    release();
}

void AsynchSerialInterface::Send(const uint8_t *bytes, size_t n)
{
    const int fd = handle_;
    if (fd < 0)
        throw ExCantSend();
    const auto deadline = Clock::now() + std::chrono::milliseconds(WriteTimeoutMs);
    size_t written = 0;
    while (written < n) {
        const ssize_t count = ::write(fd, bytes + written, n - written);
        if (count > 0) {
            written += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            throw ExCantSend();
        pollfd waiter{fd, POLLOUT, 0};
        const int left = remainingMs(deadline);
        if (left == 0)
            throw ExCantSend();
        const int ready = ::poll(&waiter, 1, left);
        if (ready < 0 && errno != EINTR)
            throw ExCantSend();
        if (ready > 0 && (waiter.revents & (POLLERR | POLLNVAL)))
            throw ExCantSend();
    }
}

void AsynchSerialInterface::Receive(uint8_t *buffer, size_t n)
{
    const int fd = handle_;
    if (fd < 0)
        throw ExCantReceive{};
    const auto deadline = Clock::now() + std::chrono::milliseconds(ReadTimeoutMs(n));
    size_t received = 0;
    bool reportedReadable = false;
    while (received < n) {
        const ssize_t count = ::read(fd, buffer + received, n - received);
        if (count > 0) {
            received += static_cast<size_t>(count);
            reportedReadable = false;
            continue;
        }
        // Readable but nothing to read: the other end has hung up.
        if (count == 0 && reportedReadable)
            throw ExCantReceive{received};
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            throw ExCantReceive{received};
        // count == 0: nothing there yet (VMIN = 0) or the line hung up; poll
        // tells the two apart.
        const int left = remainingMs(deadline);
        if (left == 0)
            throw ExCantReceive{received};
        pollfd waiter{fd, POLLIN, 0};
        const int ready = ::poll(&waiter, 1, left);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            throw ExCantReceive{received};
        }
        if (ready == 0)
            throw ExCantReceive{received};
        if ((waiter.revents & (POLLERR | POLLNVAL)) ||
            ((waiter.revents & POLLHUP) && !(waiter.revents & POLLIN)))
            throw ExCantReceive{received};
        reportedReadable = true;
    }
}

} // namespace Ohmrida
