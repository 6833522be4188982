// COM port numbers and the devices behind them.
//
// The program addresses serial ports as COM1, COM2, ... . On this system a
// number resolves in one of two ways:
//
//  - Mapped: when any environment variable KESTRIN_COM<n> is set (for example
//    KESTRIN_COM1=/dev/ttyUSB0), the mapped numbers are the only ports there
//    are, and COM n is the path in KESTRIN_COM<n>. An empty value maps nothing.
//  - Present devices: otherwise COM n is the n-th serial device found:
//      1. the USB and ACM adapters (/dev/ttyUSB*, /dev/ttyACM*) in the order of
//         the sockets they are plugged into: udev names each after its place on
//         the buses in /dev/serial/by-path, and those names are compared with
//         runs of digits by value (usb-0:2 before usb-0:10). So the same
//         adapters in the same sockets get the same numbers whatever the order
//         of plugging. An adapter without such a name (no udev) follows, in
//         the kernel's numbering: ttyUSB before ttyACM, each by number;
//      2. the /dev/ttyS* that have a UART behind them, in numeric order.
//    A port that serves as the system console (/sys/class/tty/NAME/console
//    reads "Y") is never counted: probing it would write into the machine's
//    console.
//
// Lookups read the environment and the device tree afresh each time, so a
// USB adapter plugged in while the program runs is found by the next lookup.
//
// com_port_description(n) is the text the COM n menu item shows as its tool
// tip: the device path, then "by-id: NAME" with its /dev/serial/by-id name
// (maker, model, serial number) and "socket: NAME" with its by-path name, each
// on its own line when udev gives one.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Device path of COM n, or nothing when no port has that number (n < 1 included).
std::optional<std::string> com_device_path(int n);

// Where the present-device scan looks; tests point it at a directory tree of their own. udev's
// names are read from dev_dir/serial/by-path and dev_dir/serial/by-id.
struct DeviceTree {
    std::filesystem::path dev_dir = "/dev";
    std::filesystem::path sys_tty_dir = "/sys/class/tty";
};

// The serial devices present, in COM order (COM1 first); never the console.
std::vector<std::string> present_serial_devices(const DeviceTree& tree = {});

// COM n resolved against the given environment entries ("NAME=value") and
// device tree: the rule above without reading the process's own state.
std::optional<std::string> com_device_path(int n, const std::vector<std::string>& environment,
                                           const DeviceTree& tree);

// The /dev/serial/by-id name (maker, model, serial number) of the device at `path`; empty when
// udev gives none.
std::string serial_by_id_name(const std::string& path, const DeviceTree& tree = {});

// The COM n menu item's tool tip; empty when no port has that number.
std::string com_port_description(int n);
std::string com_port_description(int n, const std::vector<std::string>& environment,
                                 const DeviceTree& tree);
