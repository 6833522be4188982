#include "tools/unit-sim/line_pacer.h"

#include <algorithm>
#include <limits>

namespace unit_sim {
namespace {

constexpr double kBitsPerByte = 10.0;  // start bit, 8 data bits, stop bit
constexpr double kIdleBucketSeconds = 0.004;
constexpr double kBusyBucketSeconds = 0.1;

}  // namespace

LinePacer::LinePacer(std::uint32_t baud, Clock::time_point start)
    : bytes_per_second_(baud / kBitsPerByte),
      idle_capacity_(std::max(1.0, bytes_per_second_ * kIdleBucketSeconds)),
      busy_capacity_(std::max(1.0, bytes_per_second_ * kBusyBucketSeconds)),
      tokens_(idle_capacity_),
      last_refill_(start)
{
}

void LinePacer::refill(Clock::time_point now)
{
    if (now <= last_refill_)
        return;
    const double seconds = std::chrono::duration<double>(now - last_refill_).count();
    tokens_ = std::min(busy_ ? busy_capacity_ : idle_capacity_, tokens_ + seconds * bytes_per_second_);
    last_refill_ = now;
}

std::size_t LinePacer::allowance(Clock::time_point now)
{
    if (!paced())
        return std::numeric_limits<std::size_t>::max();
    refill(now);
    return static_cast<std::size_t>(tokens_);
}

void LinePacer::consume(std::size_t count, bool more_waiting)
{
    if (!paced())
        return;
    busy_ = more_waiting;
    tokens_ = std::max(0.0, tokens_ - static_cast<double>(count));
}

LinePacer::Clock::duration LinePacer::wait_for_byte(Clock::time_point now)
{
    if (!paced())
        return Clock::duration::zero();
    refill(now);
    if (tokens_ >= 1.0)
        return Clock::duration::zero();
    const std::chrono::duration<double> seconds((1.0 - tokens_) / bytes_per_second_);
    return std::chrono::ceil<Clock::duration>(seconds);
}

}  // namespace unit_sim
