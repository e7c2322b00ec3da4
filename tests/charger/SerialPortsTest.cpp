// Which device stands behind COMn, the list of the machine's serial devices
// (on a fake /dev and /sys tree) and the access check behind the dialout hint.

#include "AsynchSerialInterface.h"
#include "SerialPorts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <tuple>
#include <unistd.h>

using namespace Ohmrida;
namespace fs = std::filesystem;

namespace {

struct TempTree {
    TempTree()
    {
        char pattern[] = "/tmp/braskon-ports-XXXXXX";
        root = mkdtemp(pattern);
    }
    ~TempTree() { fs::remove_all(root); }
    std::string path(const std::string &relative) const { return (root / relative).string(); }
    void file(const std::string &relative, const std::string &content = {}) const
    {
        fs::create_directories((root / relative).parent_path());
        std::ofstream(root / relative) << content;
    }
    fs::path root;
};

} // namespace

TEST(SerialPorts, EnvironmentWinsOverAssignmentWhichWinsOverDefault)
{
    AsynchSerialInterface port(3);
    const struct {
        const char *assigned, *environment;
        std::string device;
        SerialPorts::Origin origin;
    } cases[] = {
        {nullptr, nullptr, "/dev/ttyS2", SerialPorts::Origin::Default},
        {"/dev/ttyUSB0", nullptr, "/dev/ttyUSB0", SerialPorts::Origin::Assignment},
        {"/dev/ttyUSB0", "/dev/pts/7", "/dev/pts/7", SerialPorts::Origin::Environment},
        {"/dev/ttyUSB0", "", "/dev/ttyUSB0", SerialPorts::Origin::Assignment},   // an empty variable is none
        {"", nullptr, "/dev/ttyS2", SerialPorts::Origin::Default},
    };
    for (const auto &c : cases) {
        SerialPorts::AssignAll({});
        if (c.assigned)
            SerialPorts::Assign(3, c.assigned);
        if (c.environment)
            setenv("BRASKON_COM3", c.environment, 1);
        else
            unsetenv("BRASKON_COM3");
        const SerialPorts::Resolved resolved = SerialPorts::Resolve(3);
        EXPECT_EQ(std::make_tuple(resolved.device, resolved.origin), std::make_tuple(c.device, c.origin));
        EXPECT_EQ(port.DevicePath(), c.device);   // the link opens exactly what the resolution names
    }
    // Ports outside 1..9 are not taken.
    SerialPorts::AssignAll({{0, "/dev/a"}, {10, "/dev/b"}, {9, "/dev/c"}});
    EXPECT_EQ(SerialPorts::Assignment(), (std::map<int, std::string>{{9, "/dev/c"}}));
    SerialPorts::AssignAll({});
    setenv("BRASKON_COM3", "/nonexistent/com3", 1);
}

TEST(SerialPorts, DevicesListedByIdFirstThenUsbAcmAndPresentUartsInNumericOrder)
{
    TempTree tree;
    for (const char *node : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS10", "ttyprintk", "tty5"})
        tree.file(std::string("dev/") + node);
    fs::create_directories(tree.path("dev/serial/by-id"));
    fs::create_symlink("../../ttyUSB10", tree.path("dev/serial/by-id/usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0"));
    fs::create_symlink("../../ttyUSB2", tree.path("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
    // ttyS1 has no UART behind it; ttyS10 has no sysfs entry and is offered.
    tree.file("sys/class/tty/ttyS0/type", "4\n");
    tree.file("sys/class/tty/ttyS1/type", "0\n");

    std::vector<std::string> paths, targets, descriptions;
    for (const auto &device : SerialPorts::ListDevices(tree.path("dev"), tree.path("sys"))) {
        paths.push_back(device.path.substr(tree.path("dev").size() + 1));
        targets.push_back(device.target.empty() ? "" : fs::path(device.target).filename().string());
        descriptions.push_back(device.description);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{
                         "serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                         "serial/by-id/usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0",
                         "ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS0", "ttyS10"}));
    EXPECT_EQ(targets, (std::vector<std::string>{"ttyUSB2", "ttyUSB10", "", "", "", "", ""}));
    EXPECT_EQ(std::vector<std::string>(descriptions.begin(), descriptions.begin() + 3),
              (std::vector<std::string>{"FTDI FT232R USB UART A50285BI",
                                        "Prolific Technology Inc. USB-Serial Controller", ""}));
    EXPECT_TRUE(SerialPorts::ListDevices(tree.path("nowhere"), tree.path("nowhere")).empty());
}

TEST(SerialPorts, AccessTellsMissingUsableAndDeniedApart)
{
    TempTree tree;
    tree.file("usable");
    tree.file("locked");
    fs::permissions(tree.path("locked"), fs::perms::none);
    EXPECT_EQ(SerialPorts::CheckAccess(tree.path("missing")), SerialPorts::Access::Missing);
    EXPECT_EQ(SerialPorts::CheckAccess(tree.path("usable")), SerialPorts::Access::Usable);
    if (geteuid() != 0)   // root passes every mode; the install test runs this unprivileged
        EXPECT_EQ(SerialPorts::CheckAccess(tree.path("locked")), SerialPorts::Access::Denied);
    const std::string message = SerialPorts::DeniedMessage(2, "/dev/ttyUSB0");
    EXPECT_EQ(message.rfind("COM2 (/dev/ttyUSB0): Zugriff verweigert.", 0), 0u) << message;
    EXPECT_NE(message.find("dialout"), std::string::npos);
}
