// Pacing of one direction of a serial line.
//
// A line at N baud with 8 data bits, no parity and one stop bit carries N/10
// bytes per second. LinePacer is a token bucket filled at that rate on the
// steady clock's own resolution, so no rounding to milliseconds creeps into
// long transfers. While the line is idle the bucket holds at most a few
// milliseconds' worth of bytes (and at least one byte), as a UART's small
// FIFO would, so an idle line saves up no credit for a later burst. While it
// is busy (bytes were still waiting after the last consume) it holds up to
// 100 ms, so that a simulator the scheduler woke late catches up with the
// line instead of falling behind it. A pacer made with 0 baud lets
// everything through at once.
//
// Interface:
//   LinePacer(baud)
//   allowance(now)       how many bytes may pass now
//   consume(count, more_waiting)
//                        count bytes have passed (at most the allowance), and
//                        more are waiting, or none
//   wait_for_byte(now)   how long until one more byte may pass (0 when one may)
//   paced()              false for 0 baud
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace unit_sim {

class LinePacer {
public:
    using Clock = std::chrono::steady_clock;

    explicit LinePacer(std::uint32_t baud, Clock::time_point start = Clock::now());

    std::size_t allowance(Clock::time_point now);
    void consume(std::size_t count, bool more_waiting);
    Clock::duration wait_for_byte(Clock::time_point now);
    bool paced() const { return bytes_per_second_ > 0; }

private:
    void refill(Clock::time_point now);

    double bytes_per_second_;
    double idle_capacity_;
    double busy_capacity_;
    bool busy_ = false;
    double tokens_;
    Clock::time_point last_refill_;
};

}  // namespace unit_sim
