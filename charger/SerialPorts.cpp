#include "SerialPorts.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <unistd.h>

namespace Ohmrida {
namespace SerialPorts {

namespace {

namespace fs = std::filesystem;

std::mutex &assignmentLock()
{
    static std::mutex lock;
    return lock;
}

std::map<int, std::string> &assignment()
{
    static std::map<int, std::string> devices;
    return devices;
}

bool validPort(int port) { return port >= FirstPort && port <= LastPort; }

// "ttyUSB10" sorts after "ttyUSB9": compare the trailing number as a number.
bool numericLess(const std::string &a, const std::string &b)
{
    auto split = [](const std::string &name) {
        size_t digits = name.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
            --digits;
        const long number = digits < name.size() ? std::strtol(name.c_str() + digits, nullptr, 10) : -1;
        return std::make_pair(name.substr(0, digits), number);
    };
    return split(a) < split(b);
}

std::vector<std::string> namesWithPrefix(const fs::path &dir, const std::string &prefix)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0 && name.size() > prefix.size()
            && std::isdigit(static_cast<unsigned char>(name[prefix.size()])))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(), numericLess);
    return names;
}

// The kernel creates ttyS0..ttySn whether or not a UART is behind them; the
// port type in sysfs is 0 (unknown) for the empty ones.
bool uartPresent(const fs::path &sysRoot, const std::string &name)
{
    std::ifstream type(sysRoot / "class" / "tty" / name / "type");
    int value = -1;
    if (!(type >> value))
        return true;   // no sysfs to ask: offer it
    return value != 0;
}

} // namespace

void Assign(int port, const std::string &device)
{
    if (!validPort(port))
        return;
    std::lock_guard<std::mutex> guard(assignmentLock());
    if (device.empty())
        assignment().erase(port);
    else
        assignment()[port] = device;
}

void AssignAll(const std::map<int, std::string> &devices)
{
    std::lock_guard<std::mutex> guard(assignmentLock());
    assignment().clear();
    for (const auto &[port, device] : devices) {
        if (validPort(port) && !device.empty())
            assignment()[port] = device;
    }
}

std::map<int, std::string> Assignment()
{
    std::lock_guard<std::mutex> guard(assignmentLock());
    return assignment();
}

Resolved Resolve(int port)
{
    const std::string variable = "BRASKON_COM" + std::to_string(port);
    if (const char *path = std::getenv(variable.c_str()); path && *path)
        return {path, Origin::Environment};
    {
        std::lock_guard<std::mutex> guard(assignmentLock());
        const auto found = assignment().find(port);
        if (found != assignment().end())
            return {found->second, Origin::Assignment};
    }
    return {"/dev/ttyS" + std::to_string(port - 1), Origin::Default};
}

std::string DescriptionFromById(const std::string &name)
{
    std::string text = name;
    for (const char *prefix : {"usb-", "pci-", "platform-"}) {
        const std::string p(prefix);
        if (text.compare(0, p.size(), p) == 0) {
            text.erase(0, p.size());
            break;
        }
    }
    // The interface and port suffix says nothing to a user.
    const size_t suffix = text.rfind("-if");
    if (suffix != std::string::npos)
        text.erase(suffix);
    std::replace(text.begin(), text.end(), '_', ' ');
    return text;
}

std::vector<Device> ListDevices(const std::string &devRoot, const std::string &sysRoot)
{
    std::vector<Device> devices;
    const fs::path dev(devRoot);
    std::vector<std::string> byId;
    std::error_code error;
    for (fs::directory_iterator it(dev / "serial" / "by-id", error), end; !error && it != end; it.increment(error))
        byId.push_back(it->path().filename().string());
    std::sort(byId.begin(), byId.end());
    for (const std::string &name : byId) {
        const fs::path link = dev / "serial" / "by-id" / name;
        std::error_code linkError;
        const fs::path target = fs::weakly_canonical(link, linkError);
        devices.push_back({link.string(), linkError ? std::string() : target.string(), DescriptionFromById(name)});
    }
    for (const char *prefix : {"ttyUSB", "ttyACM", "ttyS"}) {
        for (const std::string &name : namesWithPrefix(dev, prefix)) {
            if (std::string(prefix) == "ttyS" && !uartPresent(sysRoot, name))
                continue;
            devices.push_back({(dev / name).string(), std::string(), std::string()});
        }
    }
    return devices;
}

Access CheckAccess(const std::string &device)
{
    if (::access(device.c_str(), F_OK) != 0)
        return Access::Missing;
    if (::access(device.c_str(), R_OK | W_OK) != 0)
        return errno == EACCES || errno == EPERM || errno == EROFS ? Access::Denied : Access::Missing;
    return Access::Usable;
}

std::string DeniedMessage(int port, const std::string &device)
{
    return "COM" + std::to_string(port) + " (" + device
           + "): Zugriff verweigert. Serielle Schnittstellen d\xC3\xBCrfen nur Mitglieder der Gruppe "
             "\xE2\x80\x9E" "dialout\xE2\x80\x9C \xC3\xB6" "ffnen: sudo usermod -aG dialout $USER, danach neu anmelden.";
}

} // namespace SerialPorts
} // namespace Ohmrida
