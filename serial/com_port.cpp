#include "serial/com_port.h"

#include "serial/event_wait.h"

#include "serial/port_map.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int kReadWaitMs = 1000;   // the reader is woken at once when it must stop; this only bounds a lost wake-up
constexpr int kWriteWaitMs = 1000;
constexpr size_t kWriteChunk = 1024;
constexpr auto kFlushConfirmWait = 5000ms;

const QEvent::Type kTriggerEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
// Posted when the transmit thread has handed its whole queue to the device: it only wakes the
// user-interface thread, which may be waiting for more events until the queue has gone.
const QEvent::Type kHandedOverEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
// Posted when bytes arrive while a string wait serves the window's events: it wakes that wait.
const QEvent::Type kDataWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kLostEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// A notification handed to the user-interface thread, or the news that the device went away.
struct PortEvent : QEvent {
    PortEvent(QEvent::Type type, uint64_t ident) : QEvent(type), id(ident) {}
    uint64_t id;
};

std::string error_text(int err) { return std::strerror(err); }

int64_t current_tick()
{
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return ms.count() / TApdComPort::kTickMs;
}

unsigned char upper(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }

// Finds a text in a byte stream fed one byte at a time, also where a partial
// match overlaps the real one ("aab" in "aaab").
class StreamMatcher {
public:
    StreamMatcher(std::string_view text, bool ignore_case) : ignore_case_(ignore_case)
    {
        for (char c : text)
            text_.push_back(fold(static_cast<unsigned char>(c)));
        fallback_.assign(text_.size(), 0);
        for (size_t i = 1, k = 0; i < text_.size(); ++i) {
            while (k > 0 && text_[i] != text_[k])
                k = fallback_[k - 1];
            if (text_[i] == text_[k])
                ++k;
            fallback_[i] = k;
        }
    }
    bool found() const { return matched_ == text_.size(); }
    void feed(unsigned char byte)
    {
        byte = fold(byte);
        while (matched_ > 0 && text_[matched_] != byte)
            matched_ = fallback_[matched_ - 1];
        if (text_[matched_] == byte)
            ++matched_;
    }

private:
    unsigned char fold(unsigned char c) const { return ignore_case_ ? upper(c) : c; }
    bool ignore_case_;
    std::vector<unsigned char> text_;
    std::vector<size_t> fallback_;
    size_t matched_ = 0;
};

}  // namespace

// Where one listener reads inside a notification: from `base`, `taken` bytes so far.
struct ListenerRead {
    bool active = false;
    std::thread::id thread;
    uint64_t base = 0;
    size_t taken = 0;
};

struct TApdComPort::State {
    explicit State(TApdComPort& p) : port(p) {}
    TApdComPort& port;

    // Settings; user-interface thread.
    uint16_t com_number = 0;
    LineSettings line;
    uint16_t in_size = 4096;
    uint16_t out_size = 4096;
    bool auto_open = true;
    THWFlowOptions flow = 0;
    uint16_t buffer_full = 0;
    uint16_t buffer_resume = 0;
    SerialDeviceFactory factory;

    enum class Phase { Closed, Open, ShuttingDown };
    std::atomic<Phase> phase{Phase::Closed};
    std::atomic<bool> stopping{false};  // the threads must end
    std::atomic<bool> lost{false};      // the device went away; the port closes itself
    uint64_t generation = 0;            // counts openings, so late news of an earlier opening is dropped
    std::unique_ptr<SerialDevice> device;
    std::thread dispatcher;
    std::thread transmitter;

    // Receive side, guarded by rx_mutex. Positions count bytes since opening;
    // the ring index of position p is p % kRingSize.
    std::mutex rx_mutex;
    std::condition_variable rx_changed;
    std::array<unsigned char, kRingSize> ring{};
    uint64_t head = 0;           // bytes received
    uint64_t tail = 0;           // bytes consumed
    uint64_t notified_head = 0;  // head when the last notification started
    int busy = 0;                // string waits running; one may run inside another's event pumping
    int serving_events = 0;      // string waits asleep in the user-interface thread's event loop
    bool data_wake_posted = false;
    bool paused = false;         // reading from the device is held back
    size_t pause_above = kRingSize;
    size_t resume_below = kRingSize;
    ListenerRead dispatcher_read;
    ListenerRead ui_read;
    uint64_t ui_pending = 0;     // id of the notification the dispatcher waits for on the user-interface thread
    uint64_t ui_done = 0;
    uint64_t next_notification = 0;

    // Data listeners.
    std::mutex listeners_mutex;
    std::vector<std::pair<int, std::shared_ptr<DataListener>>> listeners;
    int next_listener = 1;
    std::mutex listener_call_mutex;  // held while a data listener runs

    // Transmit side, guarded by tx_mutex.
    std::mutex tx_mutex;
    std::condition_variable tx_changed;
    std::deque<unsigned char> tx_queue;
    uint64_t tx_epoch = 0;  // bumped by a flush: a write that started before it pops nothing
    bool tx_writing = false;
    bool tx_failed = false;

    // --- receive helpers (rx_mutex held)

    size_t waiting() const { return static_cast<size_t>(head - tail); }
    uint64_t oldest_needed() const { return ui_read.active ? std::min(tail, ui_read.base) : tail; }
    size_t room() const { return kRingSize - static_cast<size_t>(head - oldest_needed()); }
    bool should_notify() const { return !busy && head > notified_head && waiting() > 0; }
    void consume_to(uint64_t position)
    {
        tail = std::clamp(position, tail, head);
        rx_changed.notify_all();
    }
    void copy_out(uint64_t from, void* buf, size_t n) const
    {
        auto* out = static_cast<unsigned char*>(buf);
        size_t start = static_cast<size_t>(from % kRingSize);
        size_t first = std::min(n, kRingSize - start);
        std::memcpy(out, ring.data() + start, first);
        std::memcpy(out + first, ring.data(), n - first);
    }
    ListenerRead* read_of_this_thread()
    {
        auto me = std::this_thread::get_id();
        if (dispatcher_read.active && dispatcher_read.thread == me)
            return &dispatcher_read;
        if (ui_read.active && ui_read.thread == me)
            return &ui_read;
        return nullptr;
    }
    void update_pause()
    {
        if (waiting() > pause_above || room() == 0)
            paused = true;
        else if (waiting() < resume_below)
            paused = false;
    }

    // --- settings

    uint16_t effective_full() const
    {
        if (flow == 0 || (buffer_full != 0 && buffer_full <= in_size))
            return buffer_full;
        return static_cast<uint16_t>(in_size * 9u / 10u);
    }
    uint16_t effective_resume() const
    {
        if (flow == 0 || (buffer_resume != 0 && buffer_resume <= effective_full()))
            return buffer_resume;
        return static_cast<uint16_t>(in_size / 10u);
    }
    void publish_fill_levels()
    {
        std::lock_guard lk(rx_mutex);
        bool rts_follows_fill = (flow & hwfUseRTS) != 0;
        pause_above = rts_follows_fill ? effective_full() : kRingSize;
        resume_below = rts_follows_fill ? effective_resume() : kRingSize;
        rx_changed.notify_all();
    }
    LineSettings device_line() const
    {
        LineSettings l = line;
        l.rts_cts = (flow & (hwfUseRTS | hwfRequireCTS)) != 0;
        return l;
    }
    bool usable() const { return phase == Phase::Open && !lost; }

    // --- threads

    void start_threads()
    {
        stopping = false;
        dispatcher = std::thread([this] { dispatch_loop(); });
        transmitter = std::thread([this] { transmit_loop(); });
    }

    void stop_threads()
    {
        stopping = true;
        { std::lock_guard lk(rx_mutex); rx_changed.notify_all(); }
        { std::lock_guard lk(tx_mutex); tx_changed.notify_all(); }
        device->wake_reader();
        device->wake_writer();
        if (dispatcher.joinable())
            dispatcher.join();
        if (transmitter.joinable())
            transmitter.join();
    }

    // Called by either thread when the device reports that it went away.
    void device_lost()
    {
        if (lost.exchange(true))
            return;
        stopping = true;
        { std::lock_guard lk(rx_mutex); rx_changed.notify_all(); }
        { std::lock_guard lk(tx_mutex); tx_changed.notify_all(); }
        device->wake_reader();
        device->wake_writer();
        QCoreApplication::postEvent(&port, new PortEvent(kLostEvent, generation));
    }

    void dispatch_loop()
    {
        std::unique_lock lk(rx_mutex);
        while (!stopping) {
            if (should_notify()) {
                notify(lk);
                continue;
            }
            update_pause();
            if (paused) {
                rx_changed.wait(lk);
                continue;
            }
            // Only this thread writes the ring, and [head, head + room) holds nothing anyone still reads.
            size_t start = static_cast<size_t>(head % kRingSize);
            size_t len = std::min(room(), kRingSize - start);
            lk.unlock();
            IoResult got = device->read(ring.data() + start, len, kReadWaitMs);
            lk.lock();
            if (got.status != IoStatus::Done) {
                lk.unlock();
                device_lost();
                return;
            }
            if (got.count > 0) {
                head += got.count;
                rx_changed.notify_all();
                wake_waits_serving_events();
            }
        }
    }

    // Serves the window's events on the user-interface thread, asleep in between, until bytes
    // wait, the port stops or goes, or the string wait's last tick has passed; the reader posts
    // an event when bytes arrive meanwhile (rx_mutex held on entry and on return).
    void serve_events_until_data(std::unique_lock<std::mutex>& lk, int64_t expiry)
    {
        ++serving_events;
        lk.unlock();
        const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
        const auto ms_left = static_cast<int>((expiry + 1) * TApdComPort::kTickMs - now.count());
        QCoreApplication::processEvents(); // at least one round of events, as every wait serves them
        pump_events_until(
            [this] {
                std::lock_guard guard(rx_mutex);
                return tail < head || stopping || !usable() || QCoreApplication::closingDown();
            },
            ms_left);
        lk.lock();
        --serving_events;
    }

    void wake_waits_serving_events()
    {
        if (serving_events == 0 || data_wake_posted)
            return;
        data_wake_posted = true;
        QCoreApplication::postEvent(&port, new QEvent(kDataWakeEvent));
    }

    // One data-available notification: the data listeners here, then OnTriggerAvail
    // on the user-interface thread; then the ring gives up the largest count taken.
    void notify(std::unique_lock<std::mutex>& lk)
    {
        const uint64_t base = tail;
        const size_t count = waiting();
        notified_head = head;
        size_t most_taken = 0;

        lk.unlock();
        for (const auto& listener : listeners_now()) {
            std::lock_guard call(listener_call_mutex);
            if (!still_registered(listener))
                continue;
            {
                std::lock_guard guard(rx_mutex);
                dispatcher_read = {true, std::this_thread::get_id(), base, 0};
            }
            try {
                (*listener)(port, count);
            } catch (...) {
                // A listener's failure must not end the reader; the other listeners still get the bytes.
            }
            std::lock_guard guard(rx_mutex);
            most_taken = std::max(most_taken, dispatcher_read.taken);
            dispatcher_read.active = false;
        }
        lk.lock();

        uint64_t consumed_end = base + most_taken;
        if (!stopping && !busy && !ui_read.active) {
            const uint64_t id = ++next_notification;
            ui_pending = id;
            ui_read = {false, {}, base, 0};
            QCoreApplication::postEvent(&port, new PortEvent(kTriggerEvent, id));
            rx_changed.wait_for(lk, std::chrono::milliseconds(kNotifyWaitMs),
                                [&] { return ui_done == id || stopping; });
            if (ui_done == id)
                consumed_end = std::max(consumed_end, ui_read.base + ui_read.taken);
            ui_pending = 0;  // a late arrival finds nothing to deliver
        }
        consume_to(consumed_end);
    }

    std::vector<std::shared_ptr<DataListener>> listeners_now()
    {
        std::lock_guard lk(listeners_mutex);
        std::vector<std::shared_ptr<DataListener>> now;
        for (auto& entry : listeners)
            now.push_back(entry.second);
        return now;
    }

    bool still_registered(const std::shared_ptr<DataListener>& listener)
    {
        std::lock_guard lk(listeners_mutex);
        return std::any_of(listeners.begin(), listeners.end(),
                           [&](const auto& entry) { return entry.second == listener; });
    }

    // The user-interface half of a notification.
    void deliver_to_ui(uint64_t id)
    {
        uint16_t count = 0;
        {
            std::lock_guard lk(rx_mutex);
            if (id != ui_pending || ui_read.active)
                return;
            if (busy || stopping) {
                ui_done = id;
                rx_changed.notify_all();
                return;
            }
            // A flush or a string wait may have consumed bytes since the notification was
            // posted: the handler is offered only what still waits.
            ui_read.base = std::max(ui_read.base, tail);
            if (head == ui_read.base) {
                ui_done = id;
                rx_changed.notify_all();
                return;
            }
            ui_read.active = true;
            ui_read.thread = std::this_thread::get_id();
            count = static_cast<uint16_t>(head - ui_read.base);
        }
        struct Finish {
            State& s;
            uint64_t id;
            ~Finish()
            {
                std::lock_guard lk(s.rx_mutex);
                s.ui_read.active = false;
                if (s.ui_pending == id)
                    s.ui_done = id;
                else  // the dispatcher gave up waiting; this listener's reading still counts
                    s.consume_to(s.ui_read.base + s.ui_read.taken);
                s.rx_changed.notify_all();
            }
        } finish{*this, id};
        emit port.dataAvailable(count);
        if (port.OnTriggerAvail)
            port.OnTriggerAvail(port, count);
    }

    void transmit_loop()
    {
        std::vector<unsigned char> chunk;
        std::unique_lock lk(tx_mutex);
        for (;;) {
            tx_changed.wait(lk, [&] { return stopping || !tx_queue.empty(); });
            if (stopping)
                return;
            chunk.assign(tx_queue.begin(), tx_queue.begin() + std::min(tx_queue.size(), kWriteChunk));
            const uint64_t epoch = tx_epoch;
            tx_writing = true;
            lk.unlock();
            IoResult put = device->write(chunk.data(), chunk.size(), kWriteWaitMs);
            lk.lock();
            tx_writing = false;
            tx_changed.notify_all();
            if (put.status == IoStatus::Lost) {
                lk.unlock();
                device_lost();
                return;
            }
            if (epoch != tx_epoch)
                continue;
            if (put.status == IoStatus::Failed) {
                tx_queue.clear();
                tx_failed = true;
                continue;
            }
            tx_queue.erase(tx_queue.begin(), tx_queue.begin() + static_cast<std::ptrdiff_t>(put.count));
            if (tx_queue.empty())
                QCoreApplication::postEvent(&port, new QEvent(kHandedOverEvent));
        }
    }

    // --- opening and closing; user-interface thread

    void open_port()
    {
        if (phase != Phase::Closed)
            return;
        std::optional<std::string> path = com_number == 0 ? std::nullopt : com_device_path(com_number);
        if (!path)
            throw EBadId();
        std::unique_ptr<SerialDevice> dev = factory ? factory() : std::make_unique<PosixSerialDevice>();
        OpenResult opened = dev->open(*path);
        switch (opened.error) {
        case OpenError::None: break;
        case OpenError::HeldByOther: throw EAlreadyOpen(*path, opened.os_error);
        case OpenError::NoSuchDevice: throw EBadId(*path, opened.os_error);
        case OpenError::Other:
            throw EComError("Cannot open " + *path + ": " + error_text(opened.os_error), *path, opened.os_error);
        }
        if (!dev->apply(device_line())) {
            int err = dev->last_error();
            dev->close();
            throw EComError("Line settings refused by " + *path + ": " + error_text(err), *path, err);
        }
        dev->set_dtr(true);
        dev->set_rts(true);
        device = std::move(dev);
        reset_queues();
        publish_fill_levels();
        lost = false;
        ++generation;
        phase = Phase::Open;
        start_threads();
        emit port.opened();
    }

    void reset_queues()
    {
        {
            std::lock_guard lk(rx_mutex);
            head = tail = notified_head = 0;
            paused = false;  // busy counts running calls: it outlives an opening
            dispatcher_read = ui_read = ListenerRead{};
            ui_pending = ui_done = 0;
        }
        std::lock_guard lk(tx_mutex);
        tx_queue.clear();
        ++tx_epoch;
        tx_writing = tx_failed = false;
    }

    // Closes without telling anyone; false when the port was closed already.
    bool close_quietly()
    {
        if (phase == Phase::Closed || !device)
            return false;
        phase = Phase::ShuttingDown;
        stop_threads();
        device->purge_output();
        device->purge_input();
        device->close();
        device.reset();
        reset_queues();
        lost = false;
        phase = Phase::Closed;
        return true;
    }

    void close_port()
    {
        if (close_quietly())
            emit port.closed();
    }

    // Whether a transfer operation may go ahead: raises ECommNotOpen on a
    // closed (or lost) port unless AutoOpen opens it; false while shutting down.
    bool ready_for_transfer()
    {
        if (phase == Phase::ShuttingDown && !lost)
            return false;
        if (phase == Phase::Closed && auto_open && com_number != 0)
            open_port();
        if (!usable())
            throw ECommNotOpen();
        return true;
    }

    // Applies changed line settings to an open port; on refusal restores the old ones and raises.
    template <typename T>
    void change_line_setting(T& field, T value)
    {
        if (field == value)
            return;
        T old = field;
        field = value;
        if (phase != Phase::Open || device->apply(device_line()))
            return;
        int err = device->last_error();
        field = old;
        throw EComError("Line settings refused by the device: " + error_text(err));
    }

    void queue_for_sending(const unsigned char* bytes, size_t n)
    {
        if (!ready_for_transfer())
            return;
        {
            std::lock_guard lk(tx_mutex);
            if (tx_failed) {
                tx_failed = false;
                throw EPutBlockFail();
            }
            if (n > free_space_locked())
                throw EOutputBufferTooSmall();
            tx_queue.insert(tx_queue.end(), bytes, bytes + n);
            tx_changed.notify_all();
        }
        emit port.dataQueued();
    }

    size_t used_locked() const { return tx_queue.size() + device->output_queued(); }
    size_t free_space_locked() const
    {
        size_t used = used_locked();
        return used < out_size ? out_size - used : 0;
    }
};

TApdComPort::TApdComPort(QObject* parent) : QObject(parent), s_(std::make_unique<State>(*this)) {}

TApdComPort::~TApdComPort() { s_->close_quietly(); }

uint16_t TApdComPort::ComNumber() const { return s_->com_number; }

void TApdComPort::SetComNumber(uint16_t n)
{
    if (n == s_->com_number)
        return;
    bool was_open = s_->phase != State::Phase::Closed;
    s_->close_port();
    s_->com_number = n;
    if (was_open)
        s_->open_port();
}

int32_t TApdComPort::Baud() const { return s_->line.baud; }
void TApdComPort::SetBaud(int32_t baud) { s_->change_line_setting(s_->line.baud, baud); }
TParity TApdComPort::Parity() const { return s_->line.parity; }
void TApdComPort::SetParity(TParity parity) { s_->change_line_setting(s_->line.parity, parity); }
uint16_t TApdComPort::DataBits() const { return s_->line.data_bits; }
void TApdComPort::SetDataBits(uint16_t bits) { s_->change_line_setting(s_->line.data_bits, bits); }
uint16_t TApdComPort::StopBits() const { return s_->line.stop_bits; }
void TApdComPort::SetStopBits(uint16_t bits) { s_->change_line_setting(s_->line.stop_bits, bits); }

uint16_t TApdComPort::InSize() const { return s_->in_size; }
void TApdComPort::SetInSize(uint16_t size)
{
    s_->in_size = size;
    s_->publish_fill_levels();
}
uint16_t TApdComPort::OutSize() const { return s_->out_size; }
void TApdComPort::SetOutSize(uint16_t size)
{
    std::lock_guard lk(s_->tx_mutex);
    s_->out_size = size;
}
bool TApdComPort::AutoOpen() const { return s_->auto_open; }
void TApdComPort::SetAutoOpen(bool on) { s_->auto_open = on; }

THWFlowOptions TApdComPort::HWFlowOptions() const { return s_->flow; }
void TApdComPort::SetHWFlowOptions(THWFlowOptions options)
{
    s_->change_line_setting(s_->flow, options);
    s_->publish_fill_levels();
}
uint16_t TApdComPort::BufferFull() const { return s_->effective_full(); }
void TApdComPort::SetBufferFull(uint16_t level)
{
    s_->buffer_full = level;
    s_->publish_fill_levels();
}
uint16_t TApdComPort::BufferResume() const { return s_->effective_resume(); }
void TApdComPort::SetBufferResume(uint16_t level)
{
    s_->buffer_resume = level;
    s_->publish_fill_levels();
}

void TApdComPort::SetDeviceFactory(SerialDeviceFactory factory) { s_->factory = std::move(factory); }

bool TApdComPort::Open() const { return s_->usable(); }

void TApdComPort::SetOpen(bool open)
{
    if (!open) {
        s_->close_port();
        return;
    }
    try {
        s_->open_port();
    } catch (...) {
        s_->close_port();
        throw;
    }
}

bool TApdComPort::GetCTS() { return s_->usable() && s_->device->modem_lines().cts; }
bool TApdComPort::GetDSR() { return s_->usable() && s_->device->modem_lines().dsr; }
bool TApdComPort::GetDCD() { return s_->usable() && s_->device->modem_lines().dcd; }
bool TApdComPort::GetRI() { return s_->usable() && s_->device->modem_lines().ring; }

uint16_t TApdComPort::GetOutBuffUsed()
{
    if (!s_->usable())
        return 0;
    std::lock_guard lk(s_->tx_mutex);
    return static_cast<uint16_t>(std::min<size_t>(s_->used_locked(), UINT16_MAX));
}

uint16_t TApdComPort::GetOutBuffUnwritten()
{
    if (!s_->usable())
        return 0;
    std::lock_guard lk(s_->tx_mutex);
    return static_cast<uint16_t>(std::min<size_t>(s_->tx_queue.size(), UINT16_MAX));
}

uint16_t TApdComPort::GetOutBuffFree()
{
    if (!s_->usable())
        return s_->out_size;
    std::lock_guard lk(s_->tx_mutex);
    return static_cast<uint16_t>(s_->free_space_locked());
}

uint16_t TApdComPort::InBuffUsed() const
{
    if (s_->phase == State::Phase::Closed)
        return 0;
    std::lock_guard lk(s_->rx_mutex);
    return static_cast<uint16_t>(s_->waiting());
}

void TApdComPort::FlushInBuffer()
{
    if (!s_->ready_for_transfer())
        return;
    s_->device->purge_input();
    std::lock_guard lk(s_->rx_mutex);
    s_->notified_head = s_->head;
    s_->consume_to(s_->head);
}

void TApdComPort::FlushOutBuffer()
{
    if (!s_->ready_for_transfer())
        return;
    {
        std::unique_lock lk(s_->tx_mutex);
        s_->tx_queue.clear();
        ++s_->tx_epoch;
        if (s_->tx_writing) {
            s_->device->wake_writer();
            s_->tx_changed.wait_for(lk, kFlushConfirmWait, [&] { return !s_->tx_writing || s_->stopping; });
        }
    }
    s_->device->purge_output();
}

void TApdComPort::GetBlock(void* buf, size_t n)
{
    State& s = *s_;
    std::unique_lock lk(s.rx_mutex);
    ListenerRead* own = s.read_of_this_thread();
    if (!own) {
        lk.unlock();
        if (!s.ready_for_transfer())
            return;
        lk.lock();
    }
    uint64_t from = own ? own->base + own->taken : s.tail;
    if (n > s.head - from)
        throw ENotEnoughData();
    s.copy_out(from, buf, n);
    if (own)
        own->taken += n;
    else
        s.consume_to(s.tail + n);
}

void TApdComPort::PutChar(char c) { s_->queue_for_sending(reinterpret_cast<const unsigned char*>(&c), 1); }

void TApdComPort::PutString(std::string_view s)
{
    s_->queue_for_sending(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

void TApdComPort::PutBlock(const void* buf, uint16_t n)
{
    s_->queue_for_sending(static_cast<const unsigned char*>(buf), n);
}

bool TApdComPort::TakeWriteFailure()
{
    std::lock_guard lk(s_->tx_mutex);
    return std::exchange(s_->tx_failed, false);
}

bool TApdComPort::WaitForString(std::string_view s, int32_t ticks, bool yield, bool ignoreCase)
{
    State& st = *s_;
    if (!st.ready_for_transfer())
        return false;
    const int64_t expiry = current_tick() + std::clamp<int32_t>(ticks, 0, kMaxTicks);
    auto expired = [&] { return current_tick() > expiry; };

    std::unique_lock lk(st.rx_mutex);
    ++st.busy;
    struct EndWait {
        State& st;
        std::unique_lock<std::mutex>& lk;
        ~EndWait()
        {
            if (!lk.owns_lock())
                lk.lock();
            --st.busy;
            st.rx_changed.notify_all();
            lk.unlock();
            // Bytes left waiting are notified now; the reader may be sitting in the device.
            if (st.device)
                st.device->wake_reader();
        }
    } end_wait{st, lk};

    StreamMatcher matcher(s, ignoreCase);
    while (!matcher.found()) {
        while (st.tail < st.head && !matcher.found()) {
            matcher.feed(st.ring[st.tail % kRingSize]);
            st.consume_to(st.tail + 1);
        }
        if (matcher.found() || expired())
            break;
        if (yield) {
            st.serve_events_until_data(lk, expiry);
            if (!st.usable() || QCoreApplication::closingDown())
                break;
            continue;
        }
        if (!st.usable() || QCoreApplication::closingDown())
            break;
        st.rx_changed.wait_for(lk, std::chrono::milliseconds(kTickMs), [&] { return st.tail < st.head || st.stopping; });
    }
    return matcher.found() && !expired();
}

void TApdComPort::ProcessCommunications() { std::this_thread::yield(); }

int TApdComPort::AddDataListener(DataListener listener)
{
    std::lock_guard lk(s_->listeners_mutex);
    int id = s_->next_listener++;
    s_->listeners.emplace_back(id, std::make_shared<DataListener>(std::move(listener)));
    return id;
}

void TApdComPort::RemoveDataListener(int id)
{
    {
        std::lock_guard lk(s_->listeners_mutex);
        std::erase_if(s_->listeners, [id](const auto& entry) { return entry.first == id; });
    }
    // Wait out a call in progress, unless this is that call removing itself.
    if (std::this_thread::get_id() != s_->dispatcher.get_id())
        std::lock_guard call(s_->listener_call_mutex);
}

bool TApdComPort::event(QEvent* e)
{
    if (e->type() == kTriggerEvent) {
        s_->deliver_to_ui(static_cast<PortEvent*>(e)->id);
        return true;
    }
    if (e->type() == kHandedOverEvent)
        return true;
    if (e->type() == kDataWakeEvent) {
        std::lock_guard lk(s_->rx_mutex);
        s_->data_wake_posted = false;
        return true;
    }
    if (e->type() == kLostEvent) {
        if (static_cast<PortEvent*>(e)->id == s_->generation && s_->lost) {
            s_->close_port();
            if (OnDeviceLost)
                OnDeviceLost(*this);
        }
        return true;
    }
    return QObject::event(e);
}

bool IsPortAvailable(uint16_t n, const SerialDeviceFactory& make_device)
{
    std::optional<std::string> path = n == 0 ? std::nullopt : com_device_path(n);
    if (!path)
        return false;
    std::unique_ptr<SerialDevice> dev = make_device ? make_device() : std::make_unique<PosixSerialDevice>();
    OpenResult tried = dev->open(*path);
    dev->close();
    return tried.error == OpenError::None || tried.error == OpenError::HeldByOther;
}
