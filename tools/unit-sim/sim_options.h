// The simulator's command line.
//
// Every option is a word followed, where it takes one, by its value as the
// next argument ("--baud 38400"). Exactly one link is chosen, --pty PATH or
// --tcp PORT; the rest describe the unit (see unit_protocol.h) and the line.
// usage_text() lists them all.
//
// Interface:
//   SimOptions                       the parsed options
//   parse_sim_options(args)          args without the program name; gives the
//                                    options, or help, or the version, or an
//                                    error text
//   usage_text()                     the help text
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/unit-sim/unit_protocol.h"

namespace unit_sim {

// --stream: what a quiet unit sends back to back.
struct StreamSpec {
    unsigned char byte = 0;
    std::size_t chunk = 0;
};

struct SimOptions {
    UnitSettings unit;
    std::string pty_path;                 // --pty: the symbolic link to create
    std::optional<std::uint16_t> tcp_port;  // --tcp: 0 picks a free port
    std::uint32_t baud = 0;               // 0: the line is not paced
    bool refuse = false;
    std::string wire_log;                 // empty: no wire log
    std::optional<StreamSpec> stream;     // sent while the unit is quiet
    bool control = false;                 // --control: standard input swaps the unit
};

struct OptionsResult {
    std::optional<SimOptions> options;
    bool help = false;
    std::string error;
    bool version = false;
};

OptionsResult parse_sim_options(const std::vector<std::string>& args);

std::string usage_text();

}  // namespace unit_sim
