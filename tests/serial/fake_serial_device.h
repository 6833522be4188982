// A serial device that lives in memory, for tests of the port layer.
//
// The test holds a FakeLine and gives the port a factory that makes devices on
// it. Through the line the test plays the far side: it feeds bytes the port
// will read, collects what the device sent, sets the modem lines, holds CTS low
// (writes wait and take nothing), stops draining (written bytes stay queued in
// the device), makes opening fail, makes writes fail, and pulls the device
// away, at once or after a number of written bytes.
#pragma once

#include "serial/serial_device.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class FakeLine {
public:
    void feed(const std::string& bytes);
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
};
