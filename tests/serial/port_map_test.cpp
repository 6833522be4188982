// COM numbers to device paths: the KESTRIN_COM<n> mapping and the scan of
// present devices over a device tree built in a temporary directory.
#include "serial/port_map.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(PortMap, MappedNumbersAreTheOnlyPorts)
{
    std::vector<std::string> env = {"HOME=/root", "KESTRIN_COM2=/dev/pts/7", "KESTRIN_COM12=/dev/ttyUSB3",
                                    "KESTRIN_COMX=/dev/null", "KESTRIN_COM4=", "XKESTRIN_COM1=/dev/tty"};
    DeviceTree nothing{"/nonexistent-dev", "/nonexistent-sys"};
    EXPECT_EQ(com_device_path(2, env, nothing), "/dev/pts/7");
    EXPECT_EQ(com_device_path(12, env, nothing), "/dev/ttyUSB3");
    EXPECT_EQ(com_device_path(1, env, nothing), std::nullopt);
    EXPECT_EQ(com_device_path(4, env, nothing), std::nullopt);
    EXPECT_EQ(com_device_path(0, env, nothing), std::nullopt);
    EXPECT_EQ(com_device_path(-2, env, nothing), std::nullopt);
}

class DeviceScan : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fs::temp_directory_path() / ("kestrin-port-map-" + std::to_string(::getpid()));
        fs::remove_all(root);
        tree = {root / "dev", root / "sys"};
        fs::create_directories(tree.dev_dir);
        fs::create_directories(tree.sys_tty_dir);
    }
    void TearDown() override { fs::remove_all(root); }
    void device(const std::string& name, const std::string& uart_type = "", const std::string& console = "")
    {
        std::ofstream(tree.dev_dir / name).put('\0');
        fs::create_directories(tree.sys_tty_dir / name);
        if (!uart_type.empty())
            std::ofstream(tree.sys_tty_dir / name / "type") << uart_type << "\n";
        if (!console.empty())
            std::ofstream(tree.sys_tty_dir / name / "console") << console << "\n";
    }
    std::string dev(const std::string& name) { return (tree.dev_dir / name).string(); }
    // A udev link dev/serial/<kind>/<name> to dev/<device>, relative as udev makes them.
    void link(const std::string& kind, const std::string& name, const std::string& device)
    {
        fs::create_directories(tree.dev_dir / "serial" / kind);
        fs::create_symlink("../../" + device, tree.dev_dir / "serial" / kind / name);
    }

    fs::path root;
    DeviceTree tree;
};

TEST_F(DeviceScan, UsbThenAcmThenUartsInNumericOrderNeverTheConsole)
{
    device("ttyUSB10");
    device("ttyUSB2");
    device("ttyACM0");
    device("ttyS0", "4", "Y");  // the machine's console
    device("ttyS1", "4", "N");
    device("ttyS2", "0");       // no UART behind it
    device("ttyS3");
    device("ttyUSB1", "", "Y");
    device("tty5");
    device("ttySX", "4");
    std::vector<std::string> expected = {dev("ttyUSB2"), dev("ttyUSB10"), dev("ttyACM0"), dev("ttyS1")};
    EXPECT_EQ(present_serial_devices(tree), expected);

    std::vector<std::string> no_mapping = {"PATH=/bin"};
    EXPECT_EQ(com_device_path(1, no_mapping, tree), dev("ttyUSB2"));
    EXPECT_EQ(com_device_path(4, no_mapping, tree), dev("ttyS1"));
    EXPECT_EQ(com_device_path(5, no_mapping, tree), std::nullopt);
}

// Two FTDI adapters and two ACM modems, plugged in some order: each keeps the COM number of its
// socket whatever number the kernel gave it.
TEST_F(DeviceScan, AdaptersAreNumberedByTheirSocketsWhateverTheKernelNumbering)
{
    const std::string socket2 = "pci-0000:00:14.0-usb-0:2:1.0-port0";
    const std::string socket3 = "pci-0000:00:14.0-usb-0:3:1.0";
    const std::string socket10 = "pci-0000:00:14.0-usb-0:10:1.0-port0";
    const std::string adapterA = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    const std::string adapterB = "usb-FTDI_FT232R_USB_UART_B7XK11-if00-port0";
    const std::string modem = "usb-Acme_Modem_0042-if00";
    struct Plugging {
        const char* a;     // kernel name of adapter A, in socket 10
        const char* b;     // adapter B, in socket 2
        const char* modem; // the modem, in socket 3
    };
    for (const Plugging& p : {Plugging{"ttyUSB0", "ttyUSB1", "ttyACM1"},
                              Plugging{"ttyUSB1", "ttyUSB0", "ttyACM0"}}) {
        SCOPED_TRACE(p.a);
        TearDown();
        SetUp();
        // Created in an order unlike either numbering, so directory order proves nothing.
        link("by-path", socket10, p.a);
        device("ttyS1", "4");
        device(p.modem);
        link("by-id", modem, p.modem);
        device(p.a);
        link("by-path", "pci-0000:00:14.0-usbv2-0:2:1.0-port0", p.b); // newer udev's second name
        device("ttyACM5");                                             // no udev name: kernel order
        device(p.b);
        link("by-path", socket3, p.modem);
        link("by-id", adapterB, p.b);
        link("by-path", socket2, p.b);
        link("by-id", adapterA, p.a);
        device("ttyUSB7", "", "Y"); // an adapter serving as the console
        device("ttyS0", "4", "Y");

        const std::vector<std::string> expected = {dev(p.b), dev(p.modem), dev(p.a), dev("ttyACM5"),
                                                   dev("ttyS1")};
        EXPECT_EQ(present_serial_devices(tree), expected);
        const std::vector<std::string> env = {"PATH=/bin"};
        EXPECT_EQ(com_port_description(1, env, tree),
                  dev(p.b) + "\nby-id: " + adapterB + "\nsocket: " + socket2);
        EXPECT_EQ(com_port_description(2, env, tree),
                  dev(p.modem) + "\nby-id: " + modem + "\nsocket: " + socket3);
        EXPECT_EQ(com_port_description(3, env, tree),
                  dev(p.a) + "\nby-id: " + adapterA + "\nsocket: " + socket10);
        EXPECT_EQ(com_port_description(4, env, tree), dev("ttyACM5"));
        EXPECT_EQ(com_port_description(6, env, tree), "");
        // A mapped device shows its udev names too.
        const std::vector<std::string> mapped = {"KESTRIN_COM2=" + dev(p.a)};
        EXPECT_EQ(com_port_description(2, mapped, tree),
                  dev(p.a) + "\nby-id: " + adapterA + "\nsocket: " + socket10);
    }
}

TEST_F(DeviceScan, AnyMappingHidesThePresentDevices)
{
    device("ttyUSB0");
    std::vector<std::string> env = {"KESTRIN_COM3=/dev/pts/1"};
    EXPECT_EQ(com_device_path(1, env, tree), std::nullopt);
    EXPECT_EQ(com_device_path(3, env, tree), "/dev/pts/1");
}

}  // namespace
