// The two ways Kestrin reaches the simulated unit.
//
// Pseudo-terminal: a new pty pair whose slave side PATH links to, so that
// KESTRIN_COM1=PATH opens it like a serial port. The slave is put in raw mode
// at once and the simulator keeps one slave descriptor open for the whole
// run, never reading from it: the master then never sees a hang-up when
// Kestrin closes and reopens the port, and the line discipline neither echoes
// nor rewrites bytes. A stale symbolic link at PATH is replaced; any other
// file there is left alone and the simulator refuses to start. When the unit
// drops the link the master and the kept slave are closed and the link
// removed, so Kestrin sees its device vanish, and the simulator ends.
//
// TCP: a listener on 127.0.0.1 only, serving one connection at a time and
// accepting the next when one closes or is dropped. With refuse every
// connection is accepted and closed at once.
//
// Both end with status 0 on SIGINT or SIGTERM (the symbolic link removed)
// and after a pty drop, and with status 1 when the link cannot be set up or
// fails.
//
// Interface:
//   run_pty_unit(options, link)   serve the unit over --pty PATH
//   run_tcp_unit(options, link)   serve the unit over --tcp PORT
#pragma once

#include "tools/unit-sim/sim_options.h"
#include "tools/unit-sim/unit_link.h"

namespace unit_sim {

int run_pty_unit(const SimOptions& options, UnitLink& link);
int run_tcp_unit(const SimOptions& options, UnitLink& link);

}  // namespace unit_sim
