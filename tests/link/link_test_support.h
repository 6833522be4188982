#pragma once
// The main window against a simulated unit on a pseudo-terminal mapped as COM1 (or others).

#include "fake_serial_device.h"
#include "serial_test_support.h"
#include "tests/support/form_fixture.h"
#include "tests/unit-sim/sim_process.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// The bytes of a wire log once it holds at least `at_least` of them, or after 10 s: the simulator
// logs what Kestrin sent as it reads it, which a loaded machine delays.
inline std::string wire_log_bytes(const std::string& path, size_t at_least = 0)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const auto logged = [&] {
        std::error_code missing;
        const auto size = std::filesystem::file_size(path, missing);
        return missing ? 0 : size;
    };
    while (logged() < at_least && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whether a unit's wire log reads `expected`, once it holds that many bytes.
template <class Unit>
::testing::AssertionResult wire_reads(const Unit& unit, const std::string& expected)
{
    const std::string wire = unit.wire_bytes(expected.size());
    if (wire == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the unit received " << ::testing::PrintToString(wire)
                                         << ", not " << ::testing::PrintToString(expected);
}

// A simulated unit on a pty of its own, with a wire log of every byte Kestrin sent.
struct SimUnit {
    explicit SimUnit(const std::string& dir, const std::string& name,
                     std::vector<std::string> extra = {})
        : pty(dir + "/" + name), wire(dir + "/" + name + ".wire")
    {
        std::vector<std::string> args{"--pty", pty, "--wire-log", wire};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<SimProcess>(args);
    }
    std::string wire_bytes(size_t at_least = 0) const { return wire_log_bytes(wire, at_least); }

    std::string pty;
    std::string wire;
    std::unique_ptr<SimProcess> sim;
};
