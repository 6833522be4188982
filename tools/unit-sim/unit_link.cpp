#include "tools/unit-sim/unit_link.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace unit_sim {
namespace {

constexpr std::size_t kReadChunk = 4096;

int g_stop_pipe[2] = {-1, -1};

void on_stop_signal(int)
{
    const int saved_errno = errno;
    const char byte = 1;
    [[maybe_unused]] const auto ignored = write(g_stop_pipe[1], &byte, 1);
    errno = saved_errno;
}

// Whether more received bytes wait in the link after a read: a pseudo-terminal and a socket
// both answer FIONREAD.
bool bytes_waiting(int fd)
{
    int count = 0;
    return ::ioctl(fd, FIONREAD, &count) == 0 && count > 0;
}

bool is_disconnect(int error)
{
    return error == ECONNRESET || error == EPIPE || error == EIO || error == ENOTCONN;
}

timespec to_timespec(std::chrono::steady_clock::duration wait)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(wait - seconds);
    return timespec{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
}

}  // namespace

void log_event(std::string_view line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool install_stop_signal()
{
    if (pipe(g_stop_pipe) != 0)
        return false;
    for (const int fd : g_stop_pipe)
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(g_stop_pipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0 &&
           sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

int stop_signal_fd()
{
    return g_stop_pipe[0];
}

std::string error_text()
{
    return std::strerror(errno);
}

UnitLink::UnitLink(const SimOptions& options, int wire_log_fd)
    : unit_(options.unit, *this), wire_log_fd_(wire_log_fd), rx_pacer_(options.baud), tx_pacer_(options.baud),
      stream_(options.stream), control_fd_(options.control ? STDIN_FILENO : -1)
{
}

ServeEnd UnitLink::serve(int fd)
{
    output_.clear();
    queued_bytes_ = 0;
    overflowing_ = false;
    drop_requested_ = false;
    while (true) {
        keep_streaming();
        const Clock::time_point now = Clock::now();
        const std::size_t rx_allowance = rx_pacer_.allowance(now);
        const std::size_t tx_allowance = output_ready(now) ? tx_pacer_.allowance(now) : 0;
        pollfd fds[3] = {{fd, 0, 0}, {stop_signal_fd(), POLLIN, 0}, {control_fd_, POLLIN, 0}};
        if (rx_allowance > 0)
            fds[0].events |= POLLIN;
        if (tx_allowance > 0)
            fds[0].events |= POLLOUT;
        const Clock::duration wait = time_to_wake(now, rx_allowance, tx_allowance);
        const timespec timeout = to_timespec(wait);
        if (ppoll(fds, 3, wait == Clock::duration::max() ? nullptr : &timeout, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            event("error link " + error_text());
            return ServeEnd::failed;
        }
        if (fds[1].revents != 0)
            return ServeEnd::stopped;
        if (fds[2].revents != 0)
            readControl();
        const short seen = fds[0].revents;
        if ((seen & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (seen & POLLIN) == 0)
            return ServeEnd::peer_closed;
        // The credit is taken anew when the bytes move: the poll may have slept through an idle
        // line, and credit counted before that sleep would let a burst through afterwards.
        Step step = Step::go_on;
        if ((seen & POLLIN) != 0)
            step = receive(fd, rx_pacer_.allowance(Clock::now()));
        if (drop_requested_)
            return ServeEnd::dropped;
        if (step == Step::go_on && (seen & POLLOUT) != 0)
            step = transmit(fd, tx_pacer_.allowance(Clock::now()));
        if (step != Step::go_on)
            return step == Step::failed ? ServeEnd::failed : ServeEnd::peer_closed;
    }
}

// What a failed read or write of the link means, from errno: try again, the peer has gone, or the
// link has failed (logged).
UnitLink::Step UnitLink::step_after_io_error()
{
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return Step::go_on;
    if (is_disconnect(errno))
        return Step::peer_closed;
    event("error link " + error_text());
    return Step::failed;
}

UnitLink::Step UnitLink::receive(int fd, std::size_t allowance)
{
    char buffer[kReadChunk];
    const ssize_t count = read(fd, buffer, std::min(allowance, sizeof buffer));
    if (count == 0)
        return Step::peer_closed;
    if (count < 0)
        return step_after_io_error();
    const auto received = static_cast<std::size_t>(count);
    rx_pacer_.consume(received, bytes_waiting(fd));
    if (wire_log_fd_ >= 0 && write(wire_log_fd_, buffer, received) != count)
        event("error wire-log " + error_text());
    unit_.feed(std::string_view(buffer, received), Clock::now());
    return Step::go_on;
}

UnitLink::Step UnitLink::transmit(int fd, std::size_t allowance)
{
    Chunk& front = output_.front();
    const ssize_t count = write(fd, front.bytes.data(), std::min(allowance, front.bytes.size()));
    if (count < 0)
        return step_after_io_error();
    const auto sent = static_cast<std::size_t>(count);
    queued_bytes_ -= sent;
    front.bytes.erase(0, sent);
    if (front.bytes.empty())
        output_.pop_front();
    tx_pacer_.consume(sent, !output_.empty());
    if (queued_bytes_ < kMaxQueuedOutput / 2)
        overflowing_ = false;
    return Step::go_on;
}

// A quiet unit with a stream queues its next chunk as soon as the last has gone.
void UnitLink::keep_streaming()
{
    if (stream_ && unit_.quiet() && output_.empty())
        send(std::string(stream_->chunk, static_cast<char>(stream_->byte)));
}

bool UnitLink::output_ready(Clock::time_point now) const
{
    return !output_.empty() && output_.front().not_before <= now;
}

// The poll loop sleeps until the next thing it may do: a byte of credit for
// a direction that has run out, or the end of an answer delay.
UnitLink::Clock::duration UnitLink::time_to_wake(Clock::time_point now, std::size_t rx_allowance,
                                                 std::size_t tx_allowance)
{
    Clock::duration wait = Clock::duration::max();
    if (rx_allowance == 0)
        wait = rx_pacer_.wait_for_byte(now);
    if (!output_.empty()) {
        if (!output_ready(now))
            wait = std::min(wait, output_.front().not_before - now);
        else if (tx_allowance == 0)
            wait = std::min(wait, tx_pacer_.wait_for_byte(now));
    }
    return wait;
}

void UnitLink::readControl()
{
    char buffer[256];
    const ssize_t count = read(control_fd_, buffer, sizeof buffer);
    if (count <= 0) {
        if (count == 0 || (errno != EINTR && errno != EAGAIN))
            control_fd_ = -1; // standard input has ended: nobody swaps units any more
        return;
    }
    for (const char c : std::string_view(buffer, static_cast<std::size_t>(count))) {
        if (c != '\n') {
            control_line_ += c;
            continue;
        }
        if (control_line_ == "absent") {
            output_.clear(); // a unit lifted off says nothing more
            queued_bytes_ = 0;
            unit_.take_away();
        }
        else if (control_line_ == "present")
            unit_.put_on();
        else
            event("error control " + escape_wire_text(control_line_));
        control_line_.clear();
    }
}

void UnitLink::send(std::string_view bytes)
{
    const std::size_t room = kMaxQueuedOutput - queued_bytes_;
    if (bytes.size() > room) {
        if (!overflowing_)
            event("error output-overflow");
        overflowing_ = true;
        bytes = bytes.substr(0, room);
    }
    if (bytes.empty())
        return;
    if (output_.empty() || output_.back().not_before != hold_until_)
        output_.push_back(Chunk{std::string(), hold_until_});
    output_.back().bytes.append(bytes);
    queued_bytes_ += bytes.size();
}

void UnitLink::hold_output(std::chrono::milliseconds delay)
{
    hold_until_ = std::max(hold_until_, Clock::now() + delay);
}

void UnitLink::event(std::string_view line)
{
    log_event(line);
}

void UnitLink::drop_link(std::uint32_t image_bytes)
{
    drop_requested_ = true;
    dropped_bytes_ = image_bytes;
}

}  // namespace unit_sim
