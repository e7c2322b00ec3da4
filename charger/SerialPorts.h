#pragma once
// Which device stands behind COM1..COM9, which serial devices the machine has,
// and whether the user may open them. Plain C++: the window and the command
// line fill the assignment from their settings; the environment variable
// BRASKON_COM<n> wins over it, a run's own override (braskon-cli --port) over
// both, and /dev/ttyS<n-1> is the fallback.

#include <map>
#include <string>
#include <vector>

namespace Ohmrida {

namespace SerialPorts {

constexpr int FirstPort = 1;
constexpr int LastPort = 9;

// The assignment COM<n> -> device path for this process. An empty path clears
// port n. Thread-safe; Open() reads it at every exchange.
void Assign(int port, const std::string &device);
void AssignAll(const std::map<int, std::string> &devices);
std::map<int, std::string> Assignment();

// This run's own assignment (braskon-cli --port): it wins over the
// environment and the settings. Thread-safe like the assignment.
void Override(int port, const std::string &device);

// Where the device of COM<n> comes from, and the device itself.
enum class Origin { CommandLine, Environment, Assignment, Default };
struct Resolved {
    std::string device;
    Origin origin = Origin::Default;
};
Resolved Resolve(int port);

// A serial device of the machine, as offered in the options dialog.
struct Device {
    std::string path;         // /dev/serial/by-id/usb-FTDI_..., /dev/ttyUSB0, ...
    std::string target;       // the device node a by-id link points to, else empty
    std::string description;  // the adapter's description for by-id links, else empty
};
// The stable by-id names first (with their adapters' descriptions), then
// ttyUSB, ttyACM and ttyS (only those the kernel reports as present), each
// in numeric order. The roots are parameters so tests can use a fake tree.
std::vector<Device> ListDevices(const std::string &devRoot = "/dev", const std::string &sysRoot = "/sys");

// "usb-FTDI_FT232R_USB_UART_A12345-if00-port0" -> "FTDI FT232R USB UART A12345"
std::string DescriptionFromById(const std::string &name);

// Whether the calling user may open the device for reading and writing.
enum class Access { Usable, Missing, Denied };
Access CheckAccess(const std::string &device);

// Why the calling user may not open a device: its owner, group and mode, and
// whether joining its group would help.
struct Denial {
    std::string owner, group;   // names, or the numbers when the system has none
    unsigned mode = 0;          // permission bits, e.g. 0660
    // The group may read and write, and this login is not in it: joining
    // helps. loginIsBehind: the user is in it already, but only since this
    // login started, so logging in again is what helps.
    bool joiningHelps = false;
    bool loginIsBehind = false;
};
Denial ExplainDenial(const std::string &device);
// The decision of ExplainDenial on given facts: the device's owner, group and
// mode, the groups of this login and the groups the user is a member of.
Denial ExplainDenial(unsigned ownerId, unsigned groupId, unsigned mode, const std::vector<unsigned> &loginGroups,
                     const std::vector<unsigned> &memberGroups);

// The German message for a port the user may not open, e.g.
// "COM1 (/dev/ttyUSB0): Zugriff verweigert. ..." with the hint to join the
// device's group where that helps, else who owns the device and its mode.
std::string DeniedMessage(int port, const std::string &device);
std::string DeniedMessage(int port, const std::string &device, const Denial &why);
// The short form for a table: "Gruppe dialout", or "root:root rw-------".
std::string DenialSummary(const Denial &why);

} // namespace SerialPorts

} // namespace Ohmrida
