#include "SysfsPorts.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Node {
    std::string path;  // below the root
    std::string text;  // an attribute's text without its line end, or "-> target" for a link
};

const char* const kUsbAttributes[] = {"idVendor", "idProduct", "manufacturer", "product", "serial", "bNumInterfaces"};

struct UsbDevice {
    const char* dir;
    const char* attributes[std::size(kUsbAttributes)];  // null: no file
};

const UsbDevice kUsbDevices[] = {
    {"1-2", {"2341", "0043", "Arduino (www.arduino.cc)", "", "75830303934351D0B1F1", " 2"}},
    {"1-3", {"1a86", "7523", nullptr, "USB Serial", nullptr, " 1"}},
    {"1-4", {"8087", "0026", nullptr, nullptr, nullptr, " 2"}},  // a Bluetooth controller
    {"1-5", {"0403", "6010", "FTDI", "Dual RS232-HS", "FT2XYZ12", " 2"}},
};

// A tty class entry: its link, the device link in the directory it leads to (null: none), its number.
struct Tty {
    const char* name;
    std::string link;
    const char* device;
    const char* number;
};

std::vector<Node> RecordedSystem()
{
    const std::string usb = "../../devices/pci0000:00/0000:00:14.0/usb1/";
    const Tty ttys[] = {
        {"ttyACM0", usb + "1-2/1-2:1.0/tty/ttyACM0", "../../../1-2:1.0", "166:0"},
        {"ttyUSB2", usb + "1-3/1-3:1.0/ttyUSB2/tty/ttyUSB2", "../../../ttyUSB2", "188:2"},
        {"rfcomm0", usb + "1-4/1-4:1.0/bluetooth/hci0/rfcomm0", "../../hci0", "216:0"},  // below its controller once connected
        {"ttyUSB10", usb + "1-5/1-5:1.1/ttyUSB10/tty/ttyUSB10", "../../../ttyUSB10", "188:10"},
        {"ttyS1", "../../devices/platform/serial8250/tty/ttyS1", "../../../serial8250", "4:65"},
        // Absolute, as a copied tree may hold: to be followed inside the tree, not on this host.
        {"ttyAMA0", "/sys/devices/platform/fe201000.serial/tty/ttyAMA0", "../../../fe201000.serial", "204:64"},
        {"tty0", "../../devices/virtual/tty/tty0", nullptr, "4:0"},
        {"console", "../../devices/virtual/tty/console", nullptr, "5:1"},
    };
    const std::string devices = "sys/devices/pci0000:00/0000:00:14.0/usb1/";
    std::vector<Node> nodes = {
        {devices + "1-2/1-2:1.0/bInterfaceNumber", "00"},
        {devices + "1-3/1-3:1.0/bInterfaceNumber", "00"},  // its only interface: not named
        {devices + "1-5/1-5:1.1/bInterfaceNumber", "01"},
        {"sys/devices/platform/serial8250/tty/ttyS1/type", "0"},
        {"sys/class/tty/ttyLOOP", "-> ttyLOOP"},
        {"dev/serial/by-id/usb-1a86_USB_Serial-if00-port0", "-> ../../ttyUSB2"},
        {"sys/devices/virtual/tty/console/active", "ttyAMA0 tty0"},
    };
    for (const Tty& tty : ttys) {
        const fs::path dir = (fs::path("sys/class/tty") / tty.link).lexically_normal().relative_path();
        nodes.push_back({"sys/class/tty/" + std::string(tty.name), "-> " + tty.link});
        nodes.push_back({"sys/dev/char/" + std::string(tty.number), "-> " + tty.link});
        nodes.push_back({(dir / "subsystem").string(), "-> /sys/class/tty"});
        nodes.push_back({(dir / "dev").string(), tty.number});
        if (tty.device)
            nodes.push_back({(dir / "device").string(), "-> " + std::string(tty.device)});
    }
    nodes.push_back({"sys/dev/char/1:3", "-> ../../devices/virtual/mem/null"});
    nodes.push_back({"sys/devices/virtual/mem/null/subsystem", "-> ../../../../class/mem"});
    for (const UsbDevice& device : kUsbDevices) {
        for (std::size_t i = 0; i < std::size(kUsbAttributes); ++i) {
            if (device.attributes[i])
                nodes.push_back({devices + device.dir + "/" + kUsbAttributes[i], device.attributes[i]});
        }
    }
    return nodes;
}

// The recorded tree lives in a folder of its own, removed after the test.
class SysfsPorts : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "sysfs_ports_test.XXXXXX").string();
        m_root = mkdtemp(pattern.data());
    }
    void TearDown() override
    {
        std::error_code error;
        fs::remove_all(m_root, error);
    }
    void Record(const std::vector<Node>& nodes) const
    {
        for (const Node& node : nodes) {
            const fs::path path = m_root / node.path;
            fs::create_directories(path.parent_path());
            if (node.text.rfind("-> ", 0) == 0)
                fs::create_symlink(node.text.substr(3), path);
            else
                std::ofstream(path) << node.text << '\n';
        }
    }
    fs::path m_root;
};

// "name MAJ:MIN description manufacturer vid:pid serial interface byId [console]" with "-" for none.
std::string Text(const PortInfo& port)
{
    const auto text = [](const std::optional<std::string>& value) { return " " + value.value_or("-"); };
    std::string line = port.name + " " + std::to_string(major(port.deviceNumber)) + ":" +
                       std::to_string(minor(port.deviceNumber)) + text(port.description) + text(port.manufacturer);
    if (port.usb)
        line += " " + port.usb->vid + ":" + port.usb->pid + text(port.usb->serial) + text(port.usb->interface);
    else
        line += " -";
    return line + text(port.byId) + (port.console ? " console" : "");
}

TEST_F(SysfsPorts, ListsThePortsOfARecordedSystem)
{
    Record(RecordedSystem());
    std::vector<std::string> ports;
    for (const PortInfo& port : ListSysfsPorts(m_root.string()))
        ports.push_back(Text(port));
    const std::vector<std::string> expected = {
        "/dev/rfcomm0 216:0 - - - -",
        "/dev/ttyACM0 166:0 - Arduino (www.arduino.cc) 2341:0043 75830303934351D0B1F1 00 -",
        "/dev/ttyAMA0 204:64 - - - - console",
        "/dev/ttyUSB2 188:2 USB Serial - 1a86:7523 - - /dev/serial/by-id/usb-1a86_USB_Serial-if00-port0",
        "/dev/ttyUSB10 188:10 Dual RS232-HS FTDI 0403:6010 FT2XYZ12 01 -",
    };
    EXPECT_EQ(ports, expected);
    EXPECT_TRUE(ListSysfsPorts((m_root / "missing").string()).empty());
}

// One port by its number reads as the list has it; a tty the list leaves out has its name
// alone; a device that is no tty, or that sysfs does not know, is none.
TEST_F(SysfsPorts, DescribesOnePortByItsDeviceNumber)
{
    Record(RecordedSystem());
    const std::string root = m_root.string();
    const auto described = [&](unsigned major, unsigned minor) {
        const std::optional<PortInfo> port = SysfsPortOf(root, makedev(major, minor));
        return port ? Text(*port) : "none";
    };
    EXPECT_EQ(described(188, 2),
              "/dev/ttyUSB2 188:2 USB Serial - 1a86:7523 - - /dev/serial/by-id/usb-1a86_USB_Serial-if00-port0");
    EXPECT_EQ(described(4, 65), "/dev/ttyS1 4:65 - - - -");  // no UART, but a tty all the same
    EXPECT_EQ(described(4, 0), "/dev/tty0 4:0 - - - - console");
    EXPECT_EQ(described(1, 3), "none");
    EXPECT_EQ(described(136, 3), "none");
}

}  // namespace
