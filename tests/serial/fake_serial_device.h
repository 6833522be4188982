// A serial device that lives in memory, for tests of the port layer.
//
// The test holds a FakeLine and gives the port a factory that makes devices on
// it. Through the line the test plays the far side: it feeds bytes the port
// will read, collects what the device sent, sets the modem lines, holds CTS low
// (writes wait and take nothing), stops draining (written bytes stay queued in
// the device), makes opening fail, makes writes fail, and pulls the device
// away, at once or after a number of written bytes.
//
// A paced line (pace) sends at the line rate instead: written bytes go out at baud / 10 bytes a
// second, the device holds at most a driver's queue of them and reports those not yet sent as
// queued, and a write waits for room, as a real driver does. paced_span tells when the first byte
// began to go out and when the last had gone, for measuring what an upload makes of the line.
#pragma once

#include "serial/serial_device.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class FakeLine {
public:
    using Clock = std::chrono::steady_clock;
    struct PacedSpan {
        Clock::time_point first_byte_start;
        Clock::time_point last_byte_end;
    };

    void feed(const std::string& bytes);
    void pace(int baud, size_t device_queue = 4096);
    std::optional<PacedSpan> paced_span() const;
    void set_cts(bool on);
    void set_dcd(bool on);
    void set_draining(bool on);
    void refuse_open(OpenError why, int os_error = 0);
    void refuse_settings(bool refuse);
    void fail_writes(int os_error);
    void vanish();
    void vanish_after_written(size_t bytes);

    std::string sent() const;
    size_t unread() const;  // fed bytes the port has not read yet
    size_t held_in_device() const;
    std::vector<LineSettings> applied() const;
    std::vector<std::string> opened_paths() const;
    bool dtr() const;
    bool rts() const;
    int input_purges() const;
    int output_purges() const;
    // How many bytes had been sent when each output flush came, in order: a sender that flushes
    // after every block shows its block sizes as the steps between these.
    std::vector<size_t> sent_at_output_purges() const;
    bool is_open() const;

    SerialDeviceFactory factory();

private:
    friend class FakeSerialDevice;
    mutable std::mutex m_;
    std::condition_variable changed_;
    std::string input_;
    std::string sent_;
    std::string held_;
    std::vector<LineSettings> applied_;
    std::vector<std::string> opened_;
    ModemLines lines_{true, true, true, false};
    bool draining_ = true;
    bool refuse_settings_ = false;
    bool vanished_ = false;
    bool open_ = false;
    bool dtr_ = false;
    bool rts_ = false;
    size_t vanish_after_ = SIZE_MAX;
    OpenError refuse_ = OpenError::None;
    int refuse_errno_ = 0;
    int write_errno_ = 0;
    int input_purges_ = 0;
    int output_purges_ = 0;
    std::vector<size_t> sent_at_purges_;
    bool wake_reader_ = false;
    bool wake_writer_ = false;

    // The paced line (guarded by m_): bytes a second, the device's queue, when it falls idle.
    double bytes_per_second_ = 0;
    size_t device_queue_ = 0;
    Clock::time_point line_idle_at_{};
    std::optional<Clock::time_point> first_byte_start_;
    size_t paced_queued(Clock::time_point now) const;
    Clock::time_point room_at() const;
};
