#include "simulator/PseudoTerminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace Sim {

PseudoTerminal::~PseudoTerminal()
{
    close();
}

void PseudoTerminal::open()
{
    close();
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0)
        throw std::runtime_error(std::string("posix_openpt: ") + std::strerror(errno));
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        const std::string error = std::strerror(errno);
        close();
        throw std::runtime_error("cannot unlock pseudo-terminal: " + error);
    }
    const char* name = ::ptsname(master_);
    if (!name) {
        close();
        throw std::runtime_error("ptsname failed");
    }
    path_ = name;
    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        const std::string error = std::strerror(errno);
        close();
        throw std::runtime_error("cannot open " + path_ + ": " + error);
    }
    // Raw line on both ends: no echo (the device would read its own answers
    // back as commands), no line editing, no CR/LF translation.
    for (int fd : {slave_, master_}) {
        termios settings{};
        if (::tcgetattr(fd, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::cfsetispeed(&settings, B9600);
            ::cfsetospeed(&settings, B9600);
            ::tcsetattr(fd, TCSANOW, &settings);
        }
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
}

void PseudoTerminal::close()
{
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
}

void PseudoTerminal::releaseExclusive() const
{
    if (slave_ >= 0)
        ::ioctl(slave_, TIOCNXCL);
}

} // namespace Sim
