// The device seam under the serial port layer.
//
// A SerialDevice is one opened serial device. The port opens it, sets its line
// settings, and then three threads use it at once: the port's dispatcher
// thread reads, its transmit thread writes, and the user-interface thread
// queries modem lines and the output queue, purges, and changes settings.
// Implementations must allow exactly that concurrency.
//
// Reads and writes wait with a time-out; wake_reader() / wake_writer() end a
// wait of the other thread at once (or the next one, when none is waiting), so
// closing a port never waits for a time-out. A device that has gone away (a
// USB adapter pulled out, the far side of a pseudo-terminal closed) reports
// IoStatus::Lost from then on and never spins.
//
// PosixSerialDevice is the implementation on termios: exclusive opening with
// flock(LOCK_EX|LOCK_NB) and TIOCEXCL, poll for waits, TIOCOUTQ for the output
// queue, TIOCMGET for the modem lines (a pseudo-terminal has none: ENOTTY reads
// as CTS, DSR and DCD set), RTS/CTS flow control with CRTSCTS.
#pragma once

#include "serial/line_settings.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

enum class OpenError {
    None,
    HeldByOther,   // EBUSY, EWOULDBLOCK from flock, EACCES
    NoSuchDevice,  // ENOENT, ENODEV, ENXIO, EIO
    Other,
};

struct OpenResult {
    OpenError error = OpenError::None;
    int os_error = 0;  // errno of the failure, 0 on success
};

// Classifies an errno from opening or locking a device.
OpenError classify_open_errno(int err);

enum class IoStatus {
    Done,      // count bytes moved (0 when the wait timed out or was woken)
    Lost,      // the device has gone away
    Failed,    // the device refused the operation; os_error tells why
};

struct IoResult {
    IoStatus status = IoStatus::Done;
    size_t count = 0;
    int os_error = 0;
};

struct ModemLines {
    bool cts = false;
    bool dsr = false;
    bool dcd = false;
    bool ring = false;
};

class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Opens path exclusively. On failure the device stays closed.
    virtual OpenResult open(const std::string& path) = 0;
    // Applies rate, frame and flow control at once; false (errno in
    // last_error()) when the device refuses them, e.g. an unsupported rate.
    virtual bool apply(const LineSettings& settings) = 0;
    virtual int last_error() const = 0;

    // Waits up to timeout_ms for input, then reads what is there (at most n).
    virtual IoResult read(void* buf, size_t n, int timeout_ms) = 0;
    // Waits up to timeout_ms for room in the device's output, then writes what fits.
    virtual IoResult write(const void* buf, size_t n, int timeout_ms) = 0;
    virtual void wake_reader() = 0;
    virtual void wake_writer() = 0;

    // Bytes written but not yet sent by the device (held by flow control included).
    virtual size_t output_queued() = 0;
    virtual ModemLines modem_lines() = 0;
    virtual void set_dtr(bool on) = 0;
    virtual void set_rts(bool on) = 0;
    virtual void purge_input() = 0;
    virtual void purge_output() = 0;
    virtual void close() = 0;
};

using SerialDeviceFactory = std::function<std::unique_ptr<SerialDevice>()>;

class PosixSerialDevice : public SerialDevice {
public:
    PosixSerialDevice();
    ~PosixSerialDevice() override;
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    OpenResult open(const std::string& path) override;
    bool apply(const LineSettings& settings) override;
    int last_error() const override { return last_error_; }
    IoResult read(void* buf, size_t n, int timeout_ms) override;
    IoResult write(const void* buf, size_t n, int timeout_ms) override;
    void wake_reader() override;
    void wake_writer() override;
    size_t output_queued() override;
    ModemLines modem_lines() override;
    void set_dtr(bool on) override;
    void set_rts(bool on) override;
    void purge_input() override;
    void purge_output() override;
    void close() override;
    // The open descriptor, for an event loop to wait on (-1 while closed).
    int native_handle() const { return fd_; }

private:
    struct WakePipe {
        int read_end = -1;
        int write_end = -1;
    };
    enum class WaitResult { Ready, TimedOut, Woken, Hangup, Error };
    WaitResult wait_for(short events, const WakePipe& wake, int timeout_ms);
    void set_modem_bit(int bit, bool on);

    int fd_ = -1;
    bool pseudo_terminal_ = false;
    int last_error_ = 0;
    WakePipe reader_wake_;
    WakePipe writer_wake_;
};
