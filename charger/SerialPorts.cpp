#include "charger/SerialPorts.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
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

std::map<int, std::string> &overrides()
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

void Override(int port, const std::string &device)
{
    if (!validPort(port))
        return;
    std::lock_guard<std::mutex> guard(assignmentLock());
    if (device.empty())
        overrides().erase(port);
    else
        overrides()[port] = device;
}

Resolved Resolve(int port)
{
    {
        std::lock_guard<std::mutex> guard(assignmentLock());
        const auto found = overrides().find(port);
        if (found != overrides().end())
            return {found->second, Origin::CommandLine};
    }
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

namespace {

std::string userName(uid_t id)
{
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd *found = nullptr;
    if (::getpwuid_r(id, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_name;
    return std::to_string(id);
}

std::string groupName(gid_t id)
{
    std::vector<char> buffer(16384);
    struct group entry {};
    struct group *found = nullptr;
    if (::getgrgid_r(id, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->gr_name;
    return std::to_string(id);
}

// The groups of this process (its login), and the groups the group database
// says the user belongs to now.
std::vector<unsigned> loginGroups()
{
    std::vector<gid_t> groups(static_cast<size_t>(std::max(0, ::getgroups(0, nullptr))));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    std::vector<unsigned> result(groups.begin(), groups.begin() + std::max(0, count));
    result.push_back(::getegid());
    return result;
}

std::vector<unsigned> memberGroups()
{
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd *user = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &user) != 0 || !user)
        return {};
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0)
            return {};
    }
    return std::vector<unsigned>(groups.begin(), groups.begin() + count);
}

bool contains(const std::vector<unsigned> &ids, unsigned id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// 0660 -> "rw-rw----"
std::string modeText(unsigned mode)
{
    std::string text;
    for (int shift = 6; shift >= 0; shift -= 3) {
        text += (mode >> shift) & 4 ? 'r' : '-';
        text += (mode >> shift) & 2 ? 'w' : '-';
        text += (mode >> shift) & 1 ? 'x' : '-';
    }
    return text;
}

std::string octal(unsigned mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%03o", mode & 0777);
    return text;
}

const char *const openQuote = "\xE2\x80\x9E";
const char *const closeQuote = "\xE2\x80\x9C";

} // namespace

Denial ExplainDenial(unsigned ownerId, unsigned groupId, unsigned mode, const std::vector<unsigned> &loginGroups,
                     const std::vector<unsigned> &memberGroups)
{
    Denial why;
    why.owner = std::to_string(ownerId);
    why.group = std::to_string(groupId);
    why.mode = mode & 07777;
    // Nobody should join root's group to reach a serial port.
    const bool groupMayOpen = (mode & 060) == 060 && groupId != 0;
    why.joiningHelps = groupMayOpen && !contains(loginGroups, groupId);
    why.loginIsBehind = why.joiningHelps && contains(memberGroups, groupId);
    return why;
}

Denial ExplainDenial(const std::string &device)
{
    struct stat status {};
    if (::stat(device.c_str(), &status) != 0)
        return {};
    Denial why = ExplainDenial(status.st_uid, status.st_gid, status.st_mode, loginGroups(), memberGroups());
    why.owner = userName(status.st_uid);
    why.group = groupName(status.st_gid);
    return why;
}

std::string DeniedMessage(int port, const std::string &device, const Denial &why)
{
    std::string text = "COM" + std::to_string(port) + " (" + device + "): Zugriff verweigert. ";
    const std::string group = std::string(openQuote) + why.group + closeQuote;
    if (why.loginIsBehind)
        return text + "Sie sind inzwischen Mitglied der Gruppe " + group
               + ", die das Ger\xC3\xA4t \xC3\xB6" "ffnen darf; das gilt ab der n\xC3\xA4" "chsten Anmeldung: bitte ab- und "
                 "wieder anmelden.";
    if (why.joiningHelps) {
        text += why.group == "dialout" ? "Serielle Schnittstellen d\xC3\xBC" "rfen nur Mitglieder der Gruppe "
                                       : "Das Ger\xC3\xA4t d\xC3\xBC" "rfen nur Mitglieder der Gruppe ";
        return text + group + " \xC3\xB6" "ffnen: sudo usermod -aG " + why.group + " $USER, danach neu anmelden.";
    }
    return text + "Das Ger\xC3\xA4t geh\xC3\xB6rt " + why.owner + ":" + why.group + " und hat die Rechte "
           + modeText(why.mode) + " (" + octal(why.mode)
           + "); eine Gruppe hilft hier nicht. \xC3\x84ndern kann das der Eigent\xC3\xBCmer oder root "
             "(chmod, chown oder eine udev-Regel).";
}

std::string DeniedMessage(int port, const std::string &device)
{
    return DeniedMessage(port, device, ExplainDenial(device));
}

std::string DenialSummary(const Denial &why)
{
    if (why.joiningHelps)
        return "Gruppe " + why.group + (why.loginIsBehind ? ", ab der n\xC3\xA4" "chsten Anmeldung" : "");
    return why.owner + ":" + why.group + " " + modeText(why.mode);
}

} // namespace SerialPorts
} // namespace Ohmrida
