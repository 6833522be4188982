#pragma once
// The main window against a unit on TCP, always on 127.0.0.1.
//
//   TcpUnit unit({"--silent"})     the unit simulator on a free port, with a wire log and the
//                                  images it takes kept
//   LoopbackListener peer          a listener that the test drives as the unit's end itself
//                                  (accept_peer, send, read_for, reset_peer); with a backlog of
//                                  0 and fill_queue(), a unit that never accepts: its queue holds
//                                  a first connection that is never taken, so a further attempt
//                                  gets no answer at all; closed at once, a refusing port
//   EthernetForm f; f.connect(port)   Communication > Ethernet > Connect, then Connect

#include "tests/link/link_test_support.h"

#include "app/terminal_view.h"
#include "link/client_socket_form.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

struct TcpUnit {
    explicit TcpUnit(std::vector<std::string> extra = {})
    {
        extra.insert(extra.begin(), {"--tcp", "0", "--wire-log", wire, "--save-dir", dir()});
        sim = std::make_unique<SimProcess>(extra);
    }
    std::string dir() const { return tmp.path().toStdString(); }
    std::uint16_t port() const { return sim->tcpPort(); }
    std::string wire_bytes(size_t at_least = 0) const { return wire_log_bytes(wire, at_least); }
    std::string saved_image(int n) const
    {
        return file_bytes(dir() + "/image-" + std::to_string(n) + ".bin");
    }
    static std::string file_bytes(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    QTemporaryDir tmp;
    std::string wire = dir() + "/unit.wire";
    std::unique_ptr<SimProcess> sim;
};

class LoopbackListener {
public:
    explicit LoopbackListener(int backlog = 1) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address = loopback(0);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        listen(fd_, backlog);
    }
    ~LoopbackListener()
    {
        for (int fd : {peer_, queued_, fd_})
            if (fd >= 0)
                close(fd);
    }
    std::uint16_t port() const { return port_; }
    void stop_listening()
    {
        close(fd_);
        fd_ = -1;
    }
    void fill_queue()
    {
        queued_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback(port_);
        connect(queued_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    // Waits up to 5 s for Kestrin's next connection, while the event loop runs.
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
    void send(std::string_view bytes) const
    {
        ::send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // What Kestrin sends within `ms`, while the event loop runs.
    std::string read_for(int ms) const
    {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (char buffer[4096]; std::chrono::steady_clock::now() < end;) {
            const ssize_t n = recv(peer_, buffer, sizeof buffer, 0);
            if (n > 0)
                got.append(buffer, static_cast<size_t>(n));
            else
                pump_for(5);
        }
        return got;
    }
    // Drops the connection with a reset, as a unit switched off in mid-exchange.
    void reset_peer()
    {
        const linger abort{1, 0};
        setsockopt(peer_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close(peer_);
        peer_ = -1;
    }

private:
    static sockaddr_in loopback(std::uint16_t port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

    int fd_;
    std::uint16_t port_ = 0;
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
    // The terminal view's rows, scroll-back included, each ended by a line feed.
    std::string terminal_text()
    {
        const TerminalScreen& screen = form().AdTerminal1->Screen();
        std::string text;
        for (int row = 0; row < screen.HeldRowCount(); ++row)
            text += std::string(screen.HeldRow(row)) + "\n";
        return text;
    }
};
