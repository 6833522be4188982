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

TEST_F(DeviceScan, AnyMappingHidesThePresentDevices)
{
    device("ttyUSB0");
    std::vector<std::string> env = {"KESTRIN_COM3=/dev/pts/1"};
    EXPECT_EQ(com_device_path(1, env, tree), std::nullopt);
    EXPECT_EQ(com_device_path(3, env, tree), "/dev/pts/1");
}

}  // namespace
