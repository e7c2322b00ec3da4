#include "treatment/TerminalLock.h"

#include "charger/AsynchSerialInterface.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The device of the COM port the name ends with ("Lumo an COM1"), or "".
std::string DeviceOf(const std::string &terminalName)
{
    const size_t at = terminalName.rfind("COM");
    if (at == std::string::npos || at + 4 != terminalName.size())
        return {};
    const char digit = terminalName[at + 3];
    if (digit < '1' || digit > '9')
        return {};
    const std::string path = Ohmrida::AsynchSerialInterface(digit - '0').DevicePath();
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// A file name from any text: letters and digits stay, the rest as %XX.
std::string Escaped(const std::string &text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string name;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.')
            name += static_cast<char>(c);
        else
            name += {'%', hex[c >> 4], hex[c & 15]};
    }
    return name;
}

std::string Holder(int fd)
{
    char buffer[64] = {};
    const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
    std::string pid = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    const size_t end = pid.find('\n');
    return end == std::string::npos ? pid : pid.substr(0, end);
}

} // namespace

struct TerminalLock::File {
    File(int descriptor, std::string lockPath) : fd(descriptor), path(std::move(lockPath)) {}
    ~File() { ::close(fd); }
    int fd;
    std::string path;
};

namespace {

// The lock files this process holds, by path.
std::mutex heldMutex;
std::map<std::string, std::weak_ptr<TerminalLock::File>> held;

} // namespace

const std::string &TerminalLock::Path() const
{
    return file_->path;
}

std::string TerminalLock::Directory()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (runtime && *runtime && ::stat(runtime, &info) == 0 && S_ISDIR(info.st_mode) && ::access(runtime, W_OK) == 0)
        return std::string(runtime) + "/braskon";
    return "/tmp/braskon-" + std::to_string(::getuid());
}

std::unique_ptr<TerminalLock> TerminalLock::Acquire(const std::string &terminalName)
{
    const std::string directory = Directory();
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error("Sperrordner " + directory + " kann nicht angelegt werden: " + std::strerror(errno));
    const std::string device = DeviceOf(terminalName);
    const std::string path = directory + "/" + Escaped(device.empty() ? terminalName : terminalName + "@" + device)
                             + ".lock";
    std::lock_guard<std::mutex> guard(heldMutex);
    if (std::shared_ptr<File> mine = held[path].lock())
        return std::unique_ptr<TerminalLock>(new TerminalLock(mine));
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("Sperrdatei " + path + " kann nicht ge\xC3\xB6" "ffnet werden: " + std::strerror(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        const std::string holder = Holder(fd);
        ::close(fd);
        if (error == EWOULDBLOCK)
            throw TerminalBusyError("Ladeterminal \"" + terminalName + "\" wird schon von einem anderen Programm"
                                    + (holder.empty() ? std::string() : " (Prozess " + holder + ")")
                                    + " benutzt; an das Ladeger\xC3\xA4t wurde nichts gesendet.");
        throw std::runtime_error("Sperrdatei " + path + " kann nicht gesperrt werden: " + std::strerror(error));
    }
    // Who holds it, for the message of the next one that tries.
    const std::string pid = std::to_string(::getpid()) + "\n" + terminalName + "\n";
    if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // Only the message of a refused start would miss the process id.
    }
    auto file = std::make_shared<File>(fd, path);
    held[path] = file;
    return std::unique_ptr<TerminalLock>(new TerminalLock(file));
}

TerminalLock::~TerminalLock() = default;
