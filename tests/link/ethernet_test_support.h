#pragma once
// The main window against a unit on TCP, always on 127.0.0.1.
//
//   TcpUnit unit({"--silent"});       the unit simulator on a free port, with a wire log and the
//                                     images it takes kept
//   LoopbackListener peer;            a listener the test drives as the unit's end itself:
//     peer.accept_peer()              takes the connection Kestrin made
//     peer.send(bytes), peer.read_for(ms), peer.reset_peer()
//   LoopbackListener never(0);        with never.fill_queue(): a unit that never accepts; its
//                                     queue holds a first connection that is never taken, so a
//                                     further attempt gets no answer at all
//   unused_loopback_port()            a port where nothing listens: a connection is refused
//   EthernetForm f;                   the windows, with the computer's address lookup answered
//     f.connect(port)                 Communication > Ethernet > Connect, then the Connect button

#include "tests/link/link_test_support.h"

#include "app/terminal_view.h"
#include "link/client_socket_form.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TcpUnit {
    explicit TcpUnit(std::vector<std::string> extra = {})
        : wire(tmp.path().toStdString() + "/unit.wire")
    {
        std::vector<std::string> args{"--tcp", "0", "--wire-log", wire, "--save-dir",
                                      tmp.path().toStdString()};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<SimProcess>(args);
    }
    std::uint16_t port() const { return sim->tcpPort(); }
    std::string wire_bytes() const { return file_text(wire); }
    std::string saved_image(int n) const
    {
        return file_text(tmp.path().toStdString() + "/image-" + std::to_string(n) + ".bin");
    }
    static std::string file_text(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    QTemporaryDir tmp;
    std::string wire;
    std::unique_ptr<SimProcess> sim;
};

inline sockaddr_in loopback_address(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

inline std::uint16_t bound_port(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

inline std::uint16_t unused_loopback_port()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback_address(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const std::uint16_t port = bound_port(fd);
    close(fd);
    return port;
}

class LoopbackListener {
public:
    // `receive_buffer`: the accepted connection's receive buffer, 0 for the system's default.
    explicit LoopbackListener(int backlog = 1, int receive_buffer = 0)
        : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        if (receive_buffer > 0)
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        sockaddr_in address = loopback_address(0);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(fd_, backlog);
    }
    ~LoopbackListener()
    {
        for (int fd : {peer_, queued_, fd_})
            if (fd >= 0)
                close(fd);
    }
    std::uint16_t port() const { return bound_port(fd_); }

    void fill_queue()
    {
        queued_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback_address(port());
        connect(queued_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    // Waits up to 5 s for Kestrin's connection, while the event loop runs.
    bool accept_peer()
    {
        pollfd waiting{fd_, POLLIN, 0};
        if (!pump_until([&] { return poll(&waiting, 1, 0) == 1; }))
            return false;
        if (peer_ >= 0)
            close(peer_);
        peer_ = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        return peer_ >= 0;
    }
    // Drops the connection with a reset, as a unit that is switched off in mid-exchange.
    void reset_peer()
    {
        const linger abort{1, 0};
        setsockopt(peer_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close(peer_);
        peer_ = -1;
    }
    bool send(std::string_view bytes) const
    {
        return ::send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // What Kestrin sends within `ms`, while the event loop runs.
    std::string read_for(int ms) const
    {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            char buffer[4096];
            const ssize_t n = recv(peer_, buffer, sizeof buffer, 0);
            if (n > 0)
                got.append(buffer, static_cast<size_t>(n));
            else
                pump_for(5);
        }
        return got;
    }
    // True once Kestrin has closed the connection.
    bool peer_closed() const
    {
        char byte;
        return recv(peer_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
    }

private:
    int fd_;
    int queued_ = -1;
    int peer_ = -1;
};

struct EthernetForm : FormFixture {
    EthernetForm()
    {
        windows->ClientSocketForm->Powersock1.lookup = [] { return std::string("127.0.0.1"); };
        form().set_wait_prompt(form().prompt_char2); // as the start-up leaves it
    }
    TClientSocketForm& dialog() { return *windows->ClientSocketForm; }
    void connect(std::uint16_t port)
    {
        dialog().PortNumberTxEdit->setText(QString::number(port));
        form().EnetConnect1->trigger();
        dialog().ConnectButton->click();
    }
    // Every character of the terminal view, scroll-back included, rows joined by line feeds.
    std::string terminal_text()
    {
        const TerminalScreen& screen = form().AdTerminal1->Screen();
        std::string text;
        for (int row = 0; row < screen.HeldRowCount(); ++row)
            text += std::string(screen.HeldRow(row)) + "\n";
        return text;
    }
};
