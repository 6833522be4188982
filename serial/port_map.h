// COM port numbers and the devices behind them.
//
// The program addresses serial ports as COM1, COM2, ... . On this system a
// number resolves in one of two ways:
//
//  - Mapped: when any environment variable KESTRIN_COM<n> is set (for example
//    KESTRIN_COM1=/dev/ttyUSB0), the mapped numbers are the only ports there
//    are, and COM n is the path in KESTRIN_COM<n>. An empty value maps nothing.
//  - Present devices: otherwise COM n is the n-th serial device found, counted
//    over /dev/ttyUSB*, then /dev/ttyACM*, then the /dev/ttyS* that have a UART
//    behind them, each group in numeric order. A port that serves as the
//    system console (/sys/class/tty/NAME/console reads "Y") is never counted:
//    probing it would write into the machine's console.
//
// Lookups read the environment and the device tree afresh each time, so a
// USB adapter plugged in while the program runs is found by the next lookup.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Device path of COM n, or nothing when no port has that number (n < 1 included).
std::optional<std::string> com_device_path(int n);

// Where the present-device scan looks; tests point it at a directory tree of their own.
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
