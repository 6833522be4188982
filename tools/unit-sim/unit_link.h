// One connection between the simulated unit and Kestrin, and what all links
// share: the event log and the stop signal.
//
// UnitLink serves one connected file descriptor (a pseudo-terminal master or
// an accepted TCP socket) with one poll loop: it reads what the line lets
// through, logs it raw to the wire log, feeds it to the unit's protocol, and
// writes the unit's queued output. Both directions have their own LinePacer,
// so a paced unit reads only as fast as the line would carry the bytes and
// the sender's queue fills as it would on a real line. Output waits in a
// queue that keeps its order; an answer delay holds everything queued after
// it. When the peer reads nothing the queue stops growing at kMaxQueuedOutput
// bytes and further output is lost (a line does not store bytes either),
// logged once as "error output-overflow". A unit that has fallen quiet with a
// stream sends the stream's chunks back to back instead.
//
// The unit (UnitProtocol) belongs to the UnitLink and lives across
// connections: the next TCP client meets the unit in the mode the last one
// left it in. With --control the poll loop also reads standard input, a line
// at a time: "absent" takes the unit away, "present" puts a fresh one on
// (anything else is logged as "error control LINE"); at its end it is no
// longer read.
//
// Interface:
//   log_event(line)                one line on standard output, flushed at once
//   install_stop_signal()          SIGINT and SIGTERM end the poll loops
//                                  (SIGPIPE is ignored); false on failure
//   stop_signal_fd()               readable once a stop signal has come
//   UnitLink(options, wire_log_fd) wire_log_fd -1: no wire log
//     serve(fd)                    runs until the link ends; says how
//     unit()                       the unit's protocol
//     dropped_bytes()              after ServeEnd::dropped: the image bytes taken
//   error_text()                   the text of errno, for events
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "tools/unit-sim/line_pacer.h"
#include "tools/unit-sim/sim_options.h"
#include "tools/unit-sim/unit_protocol.h"

namespace unit_sim {

constexpr std::size_t kMaxQueuedOutput = 2 * 1024 * 1024;  // above the largest flood

void log_event(std::string_view line);
bool install_stop_signal();
int stop_signal_fd();
std::string error_text();

enum class ServeEnd { peer_closed, dropped, stopped, failed };

class UnitLink final : public UnitSink {
public:
    UnitLink(const SimOptions& options, int wire_log_fd);

    ServeEnd serve(int fd);
    UnitProtocol& unit() { return unit_; }
    std::uint32_t dropped_bytes() const { return dropped_bytes_; }

    void send(std::string_view bytes) override;
    void hold_output(std::chrono::milliseconds delay) override;
    void event(std::string_view line) override;
    void drop_link(std::uint32_t image_bytes) override;

private:
    using Clock = std::chrono::steady_clock;

    struct Chunk {
        std::string bytes;
        Clock::time_point not_before;
    };

    enum class Step { go_on, peer_closed, failed };

    Step step_after_io_error();
    Step receive(int fd, std::size_t allowance);
    Step transmit(int fd, std::size_t allowance);
    void keep_streaming();
    bool output_ready(Clock::time_point now) const;
    Clock::duration time_to_wake(Clock::time_point now, std::size_t rx_allowance, std::size_t tx_allowance);
    void readControl();

    UnitProtocol unit_;
    int wire_log_fd_;
    LinePacer rx_pacer_;
    LinePacer tx_pacer_;
    std::deque<Chunk> output_;
    std::size_t queued_bytes_ = 0;
    bool overflowing_ = false;
    Clock::time_point hold_until_{};
    bool drop_requested_ = false;
    std::uint32_t dropped_bytes_ = 0;
    std::optional<StreamSpec> stream_;
    int control_fd_;                // standard input with --control, else -1
    std::string control_line_;
};

}  // namespace unit_sim
