#pragma once
// How far the image in flight has gone, for the caller of an unattended run.
//
// _LD announces an image with its header line; the transfer then tells, block by block, how many
// bytes have gone out, and finally that it has ended. The caller gets a progress line after the
// first block, then at most one every 500 ms, and a last one at the end unless the line before
// already said as much; the end also says whether every byte went out (complete). Only blocks
// that went out whole count, so after a cancelled transfer the last line has the bytes actually
// sent.
//
// Times come from the caller (a monotonic clock), so tests give their own; nothing here sleeps,
// waits or processes events, and the transfer's timing on the wire stays as it is.
//
//   Announce(header, total)   _LD sent this header line for `total` bytes; a carriage return
//                             that ends it is not kept
//   BlockSent(count, now)     a block of `count` bytes went out whole; true when a progress line
//                             is due now
//   Ended()                   true when a last progress line is due
//   sent(), total(), header()
//   complete()                a block went out and the bytes sent are the total

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class ImageProgress {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kLineInterval{500};

    void Announce(std::string_view header, int64_t total);
    bool BlockSent(int64_t count, Clock::time_point now);
    bool Ended();

    int64_t sent() const { return sent_; }
    int64_t total() const { return total_; }
    bool complete() const { return any_block_sent_ && sent_ == total_; }
    const std::string& header() const { return header_; }

private:
    std::string header_;
    int64_t total_ = 0;
    int64_t sent_ = 0;
    bool any_block_sent_ = false;
    std::optional<Clock::time_point> last_line_at_;
    std::optional<int64_t> last_line_sent_;
};
