#pragma once
// The main window against a simulated unit on a pseudo-terminal mapped as COM1 (or others).

#include "fake_serial_device.h"
#include "serial_test_support.h"
#include "tests/support/form_fixture.h"
#include "tests/unit-sim/sim_process.h"

#include <QTemporaryDir>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

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
    std::string wire_bytes() const
    {
        std::ifstream in(wire, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string pty;
    std::string wire;
    std::unique_ptr<SimProcess> sim;
};
