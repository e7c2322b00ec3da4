// Which device stands behind COMn and the list of the machine's serial devices
// (on a fake /dev and /sys tree), and what the message on a device the user
// may not open advises; the install test crosses it with real devices.

#include "charger/AsynchSerialInterface.h"
#include "charger/SerialPorts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <tuple>

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

// The window's settings test crosses environment over assignment over default;
// here what it does not: an empty variable and ports outside 1..9.
TEST(SerialPorts, AnEmptyVariableIsNoneAndPortsOutsideOneToNineAreNotAssigned)
{
    SerialPorts::AssignAll({{0, "/dev/a"}, {10, "/dev/b"}, {3, "/dev/ttyUSB0"}});
    EXPECT_EQ(SerialPorts::Assignment(), (std::map<int, std::string>{{3, "/dev/ttyUSB0"}}));
    setenv("BRASKON_COM3", "", 1);
    const SerialPorts::Resolved resolved = SerialPorts::Resolve(3);
    EXPECT_EQ(std::make_tuple(resolved.device, resolved.origin),
              std::make_tuple(std::string("/dev/ttyUSB0"), SerialPorts::Origin::Assignment));
    EXPECT_EQ(AsynchSerialInterface(3).DevicePath(), resolved.device);   // the link opens what the resolution names
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

TEST(SerialPorts, TheGroupHintOnlyWhereJoiningTheGroupHelpsElseOwnerAndMode)
{
    const unsigned dialout = 20, plugdev = 46, user = 1000;
    struct Case {
        unsigned group;
        const char *name;
        unsigned mode;
        std::vector<unsigned> login, member;
        std::string expected;
    };
    const Case cases[] = {
        {dialout, "dialout", 0660, {user}, {user},
         "Serielle Schnittstellen d\xC3\xBCrfen nur Mitglieder der Gruppe \xE2\x80\x9E" "dialout\xE2\x80\x9C \xC3\xB6"
         "ffnen: sudo usermod -aG dialout $USER, danach neu anmelden."},
        {plugdev, "plugdev", 0660, {user}, {user}, "sudo usermod -aG plugdev $USER, danach neu anmelden."},
        {dialout, "dialout", 0660, {user}, {user, dialout}, "das gilt ab der n\xC3\xA4" "chsten Anmeldung"},
        // The group may not open it, the user is in the group already, or it is root's group.
        {dialout, "dialout", 0600, {user}, {user}, "geh\xC3\xB6rt root:dialout und hat die Rechte rw------- (600)"},
        {dialout, "dialout", 0660, {user, dialout}, {user, dialout}, "root:dialout und hat die Rechte rw-rw---- (660)"},
        {0, "root", 0660, {user}, {user}, "root:root und hat die Rechte rw-rw---- (660); eine Gruppe hilft hier nicht."},
    };
    for (const Case &c : cases) {
        SerialPorts::Denial why = SerialPorts::ExplainDenial(0, c.group, c.mode, c.login, c.member);
        why.owner = "root";
        why.group = c.name;
        const std::string message = SerialPorts::DeniedMessage(2, "/dev/ttyUSB0", why);
        EXPECT_EQ(message.rfind("COM2 (/dev/ttyUSB0): Zugriff verweigert. ", 0), 0u) << message;
        EXPECT_NE(message.find(c.expected), std::string::npos) << message;
        EXPECT_EQ(message.find("usermod") != std::string::npos, why.joiningHelps && !why.loginIsBehind) << message;
    }
}
