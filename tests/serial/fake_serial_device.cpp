#include "fake_serial_device.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

class FakeSerialDevice : public SerialDevice {
public:
    explicit FakeSerialDevice(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}

    OpenResult open(const std::string& path) override
    {
        std::lock_guard lk(line_->m_);
        line_->opened_.push_back(path);
        if (line_->refuse_ != OpenError::None)
            return {line_->refuse_, line_->refuse_errno_};
        line_->open_ = true;
        line_->vanished_ = false;
        return {};
    }
    bool apply(const LineSettings& settings) override
    {
        std::lock_guard lk(line_->m_);
        if (line_->refuse_settings_)
            return false;
        line_->applied_.push_back(settings);
        return true;
    }
    int last_error() const override { return EINVAL; }

    IoResult read(void* buf, size_t n, int timeout_ms) override
    {
        std::unique_lock lk(line_->m_);
        line_->changed_.wait_for(lk, std::chrono::milliseconds(timeout_ms), [&] {
            return !line_->input_.empty() || line_->vanished_ || line_->wake_reader_;
        });
        line_->wake_reader_ = false;
        if (line_->vanished_)
            return {IoStatus::Lost, 0, EIO};
        size_t count = std::min(n, line_->input_.size());
        std::memcpy(buf, line_->input_.data(), count);
        line_->input_.erase(0, count);
        return {IoStatus::Done, count, 0};
    }

    IoResult write(const void* buf, size_t n, int timeout_ms) override
    {
        if (line_->bytes_per_second_ > 0)
            return write_paced(buf, n, timeout_ms);
        std::unique_lock lk(line_->m_);
        line_->changed_.wait_for(lk, std::chrono::milliseconds(timeout_ms), [&] {
            return line_->lines_.cts || line_->vanished_ || line_->wake_writer_ || line_->write_errno_;
        });
        line_->wake_writer_ = false;
        if (line_->vanished_)
            return {IoStatus::Lost, 0, EIO};
        if (line_->write_errno_)
            return {IoStatus::Failed, 0, line_->write_errno_};
        if (!line_->lines_.cts)
            return {};
        size_t count = std::min(n, line_->vanish_after_);
        std::string& into = line_->draining_ ? line_->sent_ : line_->held_;
        into.append(static_cast<const char*>(buf), count);
        if (line_->vanish_after_ != SIZE_MAX && (line_->vanish_after_ -= count) == 0)
            line_->vanished_ = true;
        line_->changed_.notify_all();
        return {IoStatus::Done, count, 0};
    }

    void wake_reader() override { wake(line_->wake_reader_); }
    void wake_writer() override { wake(line_->wake_writer_); }

    size_t output_queued() override
    {
        std::lock_guard lk(line_->m_);
        if (line_->bytes_per_second_ > 0)
            return line_->paced_queued(FakeLine::Clock::now());
        return line_->held_.size();
    }
    ModemLines modem_lines() override
    {
        std::lock_guard lk(line_->m_);
        return line_->vanished_ ? ModemLines{} : line_->lines_;
    }
    void set_dtr(bool on) override
    {
        std::lock_guard lk(line_->m_);
        line_->dtr_ = on;
    }
    void set_rts(bool on) override
    {
        std::lock_guard lk(line_->m_);
        line_->rts_ = on;
    }
    void purge_input() override
    {
        std::lock_guard lk(line_->m_);
        line_->input_.clear();
        ++line_->input_purges_;
    }
    void purge_output() override
    {
        std::lock_guard lk(line_->m_);
        line_->held_.clear();
        line_->line_idle_at_ = std::min(line_->line_idle_at_, FakeLine::Clock::now());
        ++line_->output_purges_;
        line_->sent_at_purges_.push_back(line_->sent_.size());
    }
    void close() override
    {
        std::lock_guard lk(line_->m_);
        line_->open_ = false;
    }

private:
    // Waits for room in the device's queue, takes what fits and puts it on the line behind the
    // bytes still going out.
    IoResult write_paced(const void* buf, size_t n, int timeout_ms)
    {
        using Clock = FakeLine::Clock;
        std::unique_lock lk(line_->m_);
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        const auto may_write = [&] {
            return line_->vanished_ || line_->wake_writer_ || line_->write_errno_ ||
                   (line_->lines_.cts && line_->paced_queued(Clock::now()) < line_->device_queue_);
        };
        while (!may_write() && Clock::now() < deadline) {
            const Clock::time_point room = line_->room_at(); // past: only a change can help
            line_->changed_.wait_until(lk, room > Clock::now() ? std::min(deadline, room) : deadline);
        }
        line_->wake_writer_ = false;
        if (line_->vanished_)
            return {IoStatus::Lost, 0, EIO};
        if (line_->write_errno_)
            return {IoStatus::Failed, 0, line_->write_errno_};
        const Clock::time_point now = Clock::now();
        const size_t queued = line_->paced_queued(now);
        if (!line_->lines_.cts || queued >= line_->device_queue_)
            return {};
        const size_t count = std::min(n, line_->device_queue_ - queued);
        line_->line_idle_at_ = std::max(line_->line_idle_at_, now);
        if (!line_->first_byte_start_)
            line_->first_byte_start_ = line_->line_idle_at_;
        line_->line_idle_at_ += std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(count) / line_->bytes_per_second_));
        line_->sent_.append(static_cast<const char*>(buf), count);
        line_->changed_.notify_all();
        return {IoStatus::Done, count, 0};
    }

    void wake(bool& flag)
    {
        std::lock_guard lk(line_->m_);
        flag = true;
        line_->changed_.notify_all();
    }
    std::shared_ptr<FakeLine> line_;
};

namespace {

template <typename F>
void change(std::mutex& m, std::condition_variable& cv, F&& f)
{
    std::lock_guard lk(m);
    f();
    cv.notify_all();
}

}  // namespace

void FakeLine::feed(const std::string& bytes) { change(m_, changed_, [&] { input_ += bytes; }); }
void FakeLine::pace(int baud, size_t device_queue)
{
    change(m_, changed_, [&] {
        bytes_per_second_ = baud / 10.0;
        device_queue_ = device_queue;
    });
}

std::optional<FakeLine::PacedSpan> FakeLine::paced_span() const
{
    std::lock_guard lk(m_);
    if (!first_byte_start_)
        return std::nullopt;
    return PacedSpan{*first_byte_start_, line_idle_at_};
}

// The bytes written that have not gone out by `now`, rounded up: a byte on its way still counts.
size_t FakeLine::paced_queued(Clock::time_point now) const
{
    if (line_idle_at_ <= now)
        return 0;
    const double seconds = std::chrono::duration<double>(line_idle_at_ - now).count();
    return static_cast<size_t>(std::ceil(seconds * bytes_per_second_));
}

// When the device's queue will next have room for a byte.
FakeLine::Clock::time_point FakeLine::room_at() const
{
    const double seconds = static_cast<double>(device_queue_ - 1) / bytes_per_second_;
    return line_idle_at_ - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}
void FakeLine::set_cts(bool on) { change(m_, changed_, [&] { lines_.cts = on; }); }
void FakeLine::set_dcd(bool on) { change(m_, changed_, [&] { lines_.dcd = on; }); }
void FakeLine::set_draining(bool on) { change(m_, changed_, [&] { draining_ = on; }); }
void FakeLine::refuse_open(OpenError why, int os_error)
{
    change(m_, changed_, [&] {
        refuse_ = why;
        refuse_errno_ = os_error;
    });
}
void FakeLine::refuse_settings(bool refuse) { change(m_, changed_, [&] { refuse_settings_ = refuse; }); }
void FakeLine::fail_writes(int os_error) { change(m_, changed_, [&] { write_errno_ = os_error; }); }
void FakeLine::vanish() { change(m_, changed_, [&] { vanished_ = true; }); }
void FakeLine::vanish_after_written(size_t bytes) { change(m_, changed_, [&] { vanish_after_ = bytes; }); }

std::string FakeLine::sent() const
{
    std::lock_guard lk(m_);
    return sent_;
}
size_t FakeLine::unread() const
{
    std::lock_guard lk(m_);
    return input_.size();
}
size_t FakeLine::held_in_device() const
{
    std::lock_guard lk(m_);
    return held_.size();
}
std::vector<LineSettings> FakeLine::applied() const
{
    std::lock_guard lk(m_);
    return applied_;
}
std::vector<std::string> FakeLine::opened_paths() const
{
    std::lock_guard lk(m_);
    return opened_;
}
bool FakeLine::dtr() const
{
    std::lock_guard lk(m_);
    return dtr_;
}
bool FakeLine::rts() const
{
    std::lock_guard lk(m_);
    return rts_;
}
int FakeLine::input_purges() const
{
    std::lock_guard lk(m_);
    return input_purges_;
}
int FakeLine::output_purges() const
{
    std::lock_guard lk(m_);
    return output_purges_;
}
std::vector<size_t> FakeLine::sent_at_output_purges() const
{
    std::lock_guard lk(m_);
    return sent_at_purges_;
}
bool FakeLine::is_open() const
{
    std::lock_guard lk(m_);
    return open_;
}

SerialDeviceFactory FakeLine::factory()
{
    // The line outlives the devices: the test owns it for the whole case.
    std::shared_ptr<FakeLine> line(this, [](FakeLine*) {});
    return [line] { return std::make_unique<FakeSerialDevice>(line); };
}
