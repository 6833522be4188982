#include "tests/unit-sim/wire_peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

WirePeer WirePeer::openPty(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    if (fd >= 0 && tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(fd, TCSANOW, &settings);
    }
    return WirePeer(fd);
}

WirePeer WirePeer::connectTcp(std::uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return WirePeer(-1);
    }
    if (fd >= 0)
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return WirePeer(fd);
}

WirePeer::WirePeer(WirePeer&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), pending_(std::move(other.pending_)), closed_(other.closed_)
{
}

WirePeer& WirePeer::operator=(WirePeer&& other) noexcept
{
    std::swap(fd_, other.fd_);
    std::swap(pending_, other.pending_);
    std::swap(closed_, other.closed_);
    return *this;
}

WirePeer::~WirePeer()
{
    if (fd_ >= 0)
        close(fd_);
}

bool WirePeer::send(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t count = write(fd_, bytes.data(), bytes.size());
        if (count > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd entry{fd_, POLLOUT, 0};
        poll(&entry, 1, 1000);
    }
    return true;
}

bool WirePeer::readSome(Milliseconds timeout)
{
    if (closed_)
        return false;
    pollfd entry{fd_, POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(timeout.count())) <= 0)
        return true;
    char buffer[4096];
    const ssize_t count = read(fd_, buffer, sizeof buffer);
    if (count > 0)
        pending_.append(buffer, static_cast<std::size_t>(count));
    else if (count == 0 || (errno != EAGAIN && errno != EINTR))
        closed_ = true;
    return !closed_;
}

std::string WirePeer::readUntil(std::string_view text, Milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    std::size_t found;
    while ((found = pending_.find(text)) == std::string::npos) {
        const int left = remaining_ms(deadline);
        if (left == 0 || !readSome(Milliseconds(left)))
            return std::exchange(pending_, std::string());
    }
    std::string head = pending_.substr(0, found + text.size());
    pending_.erase(0, found + text.size());
    return head;
}

std::string WirePeer::readFor(Milliseconds duration)
{
    const auto deadline = Clock::now() + duration;
    for (int left; (left = remaining_ms(deadline)) > 0 && readSome(Milliseconds(left));) {
    }
    return std::exchange(pending_, std::string());
}

bool WirePeer::waitClosed(Milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (int left; (left = remaining_ms(deadline)) > 0 && readSome(Milliseconds(left));) {
    }
    return closed_;
}
