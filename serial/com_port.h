// TApdComPort: one serial port, addressed by its COM number.
//
// How it works. Opening resolves the number to a device (serial/port_map.h),
// opens it exclusively through the device seam (serial/serial_device.h), sets
// the line settings, raises DTR and RTS and starts two threads:
//
//  - the dispatcher thread reads the device into an 8192-byte receive ring and
//    runs a data-available notification whenever bytes wait that arrived since
//    the last one. A notification first calls every data listener directly on
//    the dispatcher thread (the terminal view's), then posts the notification
//    to the user-interface thread, where OnTriggerAvail runs, and waits for it
//    at most 3000 ms. That wait ends at once when the port closes or changes
//    its number. Every listener of a notification starts reading at the same
//    place: GetBlock inside a listener reads at that listener's own offset and
//    consumes nothing; afterwards the ring gives up the largest count any
//    listener took. So every listener sees every byte, and bytes taken by one
//    listener only are consumed all the same.
//  - the transmit thread writes the transmit queue to the device, which sends
//    as RTS/CTS flow control allows. Each time it has handed the whole queue
//    to the device it posts an event to the port, so that the user-interface
//    thread, waiting for more events until the queue has gone, wakes then.
//
// Receive flow control: with hwfUseRTS the dispatcher stops reading from the
// device once more than BufferFull bytes wait in the ring and goes on once
// fewer than BufferResume wait; meanwhile the device's own input fills and the
// device drops RTS (it runs with CRTSCTS). Without it, reading stops only when
// the ring is full. Either way no received byte is ever overwritten.
//
// While WaitForString runs, no notifications are delivered; bytes it reads
// are consumed. Bytes that arrived during the wait and were left unread are
// notified once it ends. A wait may run inside another's event pumping (a
// menu command during a prompt wait): notifications resume only when the
// outermost wait has ended.
//
// A device that goes away (read or write reports it lost) stops both threads;
// the port then closes itself on the user-interface thread and calls
// OnDeviceLost there. From that moment every operation that needs an open
// port raises ECommNotOpen.
//
// Threads: every member is called on the user-interface thread, except that
// data listeners run on the dispatcher thread and may call GetBlock,
// InBuffUsed and the status queries from there. Listeners must not wait for
// the user-interface thread. Data listeners stay registered across closing,
// opening and renumbering until removed: register once.
#pragma once

#include "serial/comm_errors.h"
#include "serial/line_settings.h"
#include "serial/serial_device.h"

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

// Hardware flow options; combine with |.
enum THWFlowOption : unsigned {
    hwfUseDTR = 1u << 0,      // DTR follows the receive fill level (not available on POSIX devices)
    hwfUseRTS = 1u << 1,      // RTS follows the receive fill level
    hwfRequireDSR = 1u << 2,  // send only while DSR is set (not available on POSIX devices)
    hwfRequireCTS = 1u << 3,  // send only while CTS is set
};
using THWFlowOptions = unsigned;

class TApdComPort : public QObject {
    Q_OBJECT
public:
    // Size of the receive ring; also the largest count a notification carries.
    static constexpr size_t kRingSize = 8192;
    // Longest time the dispatcher waits for the user-interface thread to take a notification.
    static constexpr int kNotifyWaitMs = 3000;
    // Length of one tick of WaitForString and of the status light timers.
    static constexpr int kTickMs = 55;
    // Longest WaitForString time-out, in ticks.
    static constexpr int32_t kMaxTicks = 39045157;

    explicit TApdComPort(QObject* parent = nullptr);
    ~TApdComPort() override;
    TApdComPort(const TApdComPort&) = delete;
    TApdComPort& operator=(const TApdComPort&) = delete;

    // --- settings: stored while closed; line settings apply at once on an open port

    uint16_t ComNumber() const;
    // Unchanged: nothing. Open port: close, change, reopen on the new number
    // (raises like SetOpen(true) when the new number cannot be opened; the port
    // is then closed). Closed port: store.
    void SetComNumber(uint16_t n);
    int32_t Baud() const;
    void SetBaud(int32_t baud);
    TParity Parity() const;
    void SetParity(TParity parity);
    uint16_t DataBits() const;
    void SetDataBits(uint16_t bits);
    uint16_t StopBits() const;
    void SetStopBits(uint16_t bits);
    uint16_t InSize() const;
    void SetInSize(uint16_t size);
    uint16_t OutSize() const;   // transmit queue size
    void SetOutSize(uint16_t size);
    bool AutoOpen() const;      // transfer operations on a closed port open it first
    void SetAutoOpen(bool on);
    THWFlowOptions HWFlowOptions() const;
    void SetHWFlowOptions(THWFlowOptions options);
    // Receive fill levels; 0 (or out of range) means 90 % / 10 % of InSize once
    // a hardware flow option is set. The getters answer the effective level.
    uint16_t BufferFull() const;
    void SetBufferFull(uint16_t level);
    uint16_t BufferResume() const;
    void SetBufferResume(uint16_t level);

    // Injects the device implementation (tests); the default is PosixSerialDevice.
    // Takes effect at the next opening.
    void SetDeviceFactory(SerialDeviceFactory factory);

    // --- opening and closing

    bool Open() const;
    // true: open; raises EBadId (no such port, or port number 0), EAlreadyOpen
    // (held by another program) or EComError (any other failure); after a
    // failure the port is closed. false: discard both queues and close.
    void SetOpen(bool open);

    // --- status queries: answer for a closed port as noted

    bool GetCTS();                // false when closed
    bool GetDSR();                // false when closed
    bool GetDCD();                // false when closed
    bool GetRI();                 // false when closed
    uint16_t GetOutBuffUsed();    // queued here but not written + still queued in the device; 0 when closed
    uint16_t GetOutBuffUnwritten(); // queued here but not yet handed to the device; 0 when closed
    uint16_t GetOutBuffFree();    // OutSize - used; OutSize when closed
    uint16_t InBuffUsed() const;  // received bytes waiting; 0 when closed

    // --- transfer: raise ECommNotOpen on a closed port (unless AutoOpen opens it)

    // Discards the device's input and the ring.
    void FlushInBuffer();
    // Abandons the current write (waiting up to 5000 ms for the transmit thread),
    // empties the transmit queue and purges the device's output.
    void FlushOutBuffer();
    // Copies n received bytes. Inside a data listener or OnTriggerAvail the
    // bytes are read at that listener's offset and not consumed; elsewhere they
    // are consumed. Raises ENotEnoughData when fewer than n bytes wait there.
    void GetBlock(void* buf, size_t n);
    // Queue bytes for sending and return without waiting. When the free
    // transmit space is smaller than the amount, nothing is queued and
    // EOutputBufferTooSmall is raised; EPutBlockFail when the device refused
    // an earlier write of queued bytes that TakeWriteFailure has not taken.
    void PutChar(char c);
    void PutString(std::string_view s);
    void PutBlock(const void* buf, uint16_t n);
    // True, once, when the device has refused a write since the last call (or
    // the last EPutBlockFail); the bytes of that write and all queued after
    // them are gone, so the transmit queue reads as drained. A sender that
    // waits for its bytes to drain asks this to tell a refusal from success.
    bool TakeWriteFailure();

    // Reads and consumes received bytes until s has arrived or the time-out of
    // `ticks` 55 ms ticks has expired (expiry: current tick > start tick +
    // ticks; ticks are limited to 0..kMaxTicks). With `yield` the event queue is
    // pumped on every pass. True only when s arrived and the time-out had not
    // expired by the end; false too when the port closes or the application
    // terminates during the wait.
    bool WaitForString(std::string_view s, int32_t ticks, bool yield, bool ignoreCase);

    // Gives up the rest of the calling thread's time slice.
    void ProcessCommunications();

    // --- notifications

    // Received bytes wait; count = bytes waiting (1..8192). User-interface thread.
    std::function<void(TApdComPort&, uint16_t count)> OnTriggerAvail;
    // The device went away and the port has closed itself. User-interface thread.
    std::function<void(TApdComPort&)> OnDeviceLost;

    // Data listeners run on the dispatcher thread, before OnTriggerAvail, one
    // after the other; count = bytes waiting at the listener's start. After
    // RemoveDataListener returns, the listener is not running and never runs again.
    using DataListener = std::function<void(TApdComPort&, size_t count)>;
    int AddDataListener(DataListener listener);
    void RemoveDataListener(int id);

signals:
    // For the status light controller; all on the user-interface thread.
    void opened();
    void closed();
    void dataAvailable(uint16_t count);  // just before OnTriggerAvail
    void dataQueued();                   // bytes were queued for sending

protected:
    bool event(QEvent* e) override;

private:
    struct State;
    std::unique_ptr<State> s_;
};

// True when COM n exists: it opens, or another program holds it. n = 0: false.
// make_device: the device implementation to try with (default PosixSerialDevice).
bool IsPortAvailable(uint16_t n, const SerialDeviceFactory& make_device = {});
