#include "tools/unit-sim/links.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace unit_sim {
namespace {

constexpr int kListenBacklog = 4;

void complain(const std::string& text)
{
    std::fprintf(stderr, "kestrin-unit-sim: %s\n", text.c_str());
}

void set_flags(int fd)
{
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

class Pty {
public:
    ~Pty() { close_all(); }

    bool open(const std::string& link_path)
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return fail("cannot open a pseudo-terminal: " + error_text());
        set_flags(master_);
        const char* name = ptsname(master_);
        if (name == nullptr)
            return fail("cannot name the pseudo-terminal: " + error_text());
        slave_name_ = name;
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        if (slave_ < 0 || tcgetattr(slave_, &settings) != 0)
            return fail("cannot open " + slave_name_ + ": " + error_text());
        cfmakeraw(&settings);
        if (tcsetattr(slave_, TCSANOW, &settings) != 0)
            return fail("cannot make " + slave_name_ + " raw: " + error_text());
        return make_link(link_path);
    }

    // Closes both sides and removes the link, so that the device vanishes.
    void close_all()
    {
        if (!link_path_.empty())
            unlink(link_path_.c_str());
        link_path_.clear();
        for (int* fd : {&slave_, &master_}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }

    int master() const { return master_; }
    const std::string& slave_name() const { return slave_name_; }

private:
    bool make_link(const std::string& path)
    {
        struct stat existing {};
        if (lstat(path.c_str(), &existing) == 0) {
            if (!S_ISLNK(existing.st_mode))
                return fail(path + " exists and is not a symbolic link");
            unlink(path.c_str());
        }
        if (symlink(slave_name_.c_str(), path.c_str()) != 0)
            return fail("cannot link " + path + " to " + slave_name_ + ": " + error_text());
        link_path_ = path;
        return true;
    }

    static bool fail(const std::string& text)
    {
        complain(text);
        return false;
    }

    int master_ = -1;
    int slave_ = -1;
    std::string slave_name_;
    std::string link_path_;
};

// Listens on 127.0.0.1; gives the descriptor and the port actually bound.
int listen_on_loopback(std::uint16_t port, std::uint16_t& bound_port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, kListenBacklog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int saved_errno = errno;
        close(fd);
        errno = saved_errno;
        return -1;
    }
    bound_port = ntohs(address.sin_port);
    set_flags(fd);  // a client that gives up before accept must not block it
    return fd;
}

bool stop_requested()
{
    pollfd stop = {stop_signal_fd(), POLLIN, 0};
    return poll(&stop, 1, 0) > 0;
}

// Waits for the next client; -1 when a stop signal came first or the
// listener failed.
int accept_client(int listener)
{
    while (true) {
        pollfd fds[2] = {{listener, POLLIN, 0}, {stop_signal_fd(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            return -1;
        if (fds[1].revents != 0)
            return -1;
        if (fds[0].revents == 0)
            continue;
        const int client = accept(listener, nullptr, nullptr);
        if (client < 0)
            continue;  // gone before it was accepted
        set_flags(client);
        const int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return client;
    }
}

// Serves one client to its end; false when a stop signal ended it.
bool serve_client(int client, UnitLink& link)
{
    log_event("connected");
    const ServeEnd end = link.serve(client);
    close(client);
    if (end == ServeEnd::dropped)
        log_event("dropped after " + std::to_string(link.dropped_bytes()));
    link.unit().link_lost();
    log_event("disconnected");
    return end != ServeEnd::stopped;
}

}  // namespace

int run_pty_unit(const SimOptions& options, UnitLink& link)
{
    Pty pty;
    if (!pty.open(options.pty_path))
        return 1;
    log_event("pty " + options.pty_path + " -> " + pty.slave_name());
    const ServeEnd end = link.serve(pty.master());
    pty.close_all();
    switch (end) {
    case ServeEnd::stopped:
        log_event("stopped");
        return 0;
    case ServeEnd::dropped:
        log_event("dropped after " + std::to_string(link.dropped_bytes()));
        return 0;
    case ServeEnd::peer_closed:
        log_event("error link the pseudo-terminal closed");
        return 1;
    case ServeEnd::failed:
        break;
    }
    return 1;
}

int run_tcp_unit(const SimOptions& options, UnitLink& link)
{
    std::uint16_t port = 0;
    const int listener = listen_on_loopback(*options.tcp_port, port);
    if (listener < 0) {
        complain("cannot listen on 127.0.0.1:" + std::to_string(*options.tcp_port) + ": " + error_text());
        return 1;
    }
    log_event("listening " + std::to_string(port));
    while (true) {
        const int client = accept_client(listener);
        if (client < 0)
            break;
        if (options.refuse) {
            close(client);
            log_event("refused");
        } else if (!serve_client(client, link)) {
            break;
        }
    }
    const bool stopped = stop_requested();
    const std::string failure = stopped ? std::string() : error_text();
    close(listener);
    if (!stopped) {
        log_event("error link " + failure);
        return 1;
    }
    log_event("stopped");
    return 0;
}

}  // namespace unit_sim
