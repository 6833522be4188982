#include "link/client_socket.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool would_block(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

std::string error_text(int code)
{
    return std::strerror(code) + std::string(" (") + std::to_string(code) + ")";
}

} // namespace

TClientSocket::TClientSocket(QObject* parent) : QObject(parent) {}

TClientSocket::~TClientSocket()
{
    ReleaseSocket();
}

void TClientSocket::SetAddress(const std::string& address)
{
    if (!Active())
        address_ = address;
}

void TClientSocket::SetPort(int port)
{
    if (!Active())
        port_ = port;
}

void TClientSocket::Open()
{
    if (state_ != State::closed)
        return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (port_ < 0 || port_ > 65535 || inet_pton(AF_INET, address_.c_str(), &to.sin_addr) != 1)
        throw ESocketError("Invalid address " + address_ + ", port " + std::to_string(port_));
    to.sin_port = htons(static_cast<uint16_t>(port_));

    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        throw ESocketError("Cannot create a socket: " + error_text(errno));
    // Commands are short lines that the unit must see at once.
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    state_ = State::connecting;
    ++connection_id_;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
        errno != EINPROGRESS) {
        const int code = errno;
        ReleaseSocket();
        PostError(eeConnect, code); // the outcome of an attempt always arrives later
        return;
    }
    write_notifier_ = Watch(QSocketNotifier::Write, &TClientSocket::ConnectFinished);
}

void TClientSocket::Close()
{
    ReleaseSocket();
    ++connection_id_;
}

int TClientSocket::ReceiveLength() const
{
    int waiting = 0;
    if (!Active() || broken_ || ioctl(fd_, FIONREAD, &waiting) != 0)
        return 0;
    return waiting;
}

int TClientSocket::ReceiveBuf(char* buffer, int count)
{
    if (!Active() || broken_ || count <= 0)
        return 0;
    const ssize_t got = recv(fd_, buffer, static_cast<size_t>(count), MSG_DONTWAIT);
    if (got > 0)
        return static_cast<int>(got);
    if (got < 0 && !would_block(errno))
        Break(eeReceive, errno);
    return 0;
}

void TClientSocket::SendText(std::string_view text)
{
    if (!Active() || broken_ || text.empty())
        return;
    if (queued_text_.empty()) {
        const ssize_t sent = send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
        if (sent < 0 && !would_block(errno)) {
            Break(eeSend, errno);
            return;
        }
        text.remove_prefix(sent > 0 ? static_cast<size_t>(sent) : 0);
        if (text.empty())
            return;
    }
    if (queued_text_.size() + text.size() > kMaxQueuedText) {
        Break(eeSend, ENOBUFS);
        return;
    }
    queued_text_.append(text);
    if (!write_notifier_)
        write_notifier_ = Watch(QSocketNotifier::Write, &TClientSocket::WriteReady);
}

int TClientSocket::SendBuf(const char* buffer, int count)
{
    if (!Active() || broken_ || count <= 0)
        return 0;
    if (!FlushQueuedText())
        return broken_ ? 0 : -1;
    const ssize_t sent = send(fd_, buffer, static_cast<size_t>(count), MSG_NOSIGNAL);
    if (sent >= 0)
        return static_cast<int>(sent);
    if (would_block(errno))
        return -1;
    Break(eeSend, errno);
    return 0;
}

void TClientSocket::ConnectFinished()
{
    int code = 0;
    socklen_t length = sizeof code;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &code, &length) != 0)
        code = errno;
    if (code != 0) {
        ReleaseSocket();
        ReportError(eeConnect, code);
        return;
    }
    Unwatch(write_notifier_);
    state_ = State::connected;
    read_notifier_ = Watch(QSocketNotifier::Read, &TClientSocket::ReadReady);
    if (OnConnect)
        OnConnect();
}

// Readable with nothing to read means the far side has closed the connection, or reset it.
void TClientSocket::ReadReady()
{
    if (ReceiveLength() > 0) {
        if (OnRead)
            OnRead();
        return;
    }
    char probe;
    const ssize_t got = recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got == 0)
        ReleaseSocket();
    else if (got < 0 && !would_block(errno))
        Break(eeReceive, errno);
}

void TClientSocket::WriteReady()
{
    if (FlushQueuedText())
        Unwatch(write_notifier_);
}

// True when no queued text waits any more.
bool TClientSocket::FlushQueuedText()
{
    while (!queued_text_.empty() && !broken_) {
        const ssize_t sent = send(fd_, queued_text_.data(), queued_text_.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (!would_block(errno))
                Break(eeSend, errno);
            return false;
        }
        queued_text_.erase(0, static_cast<size_t>(sent));
    }
    return queued_text_.empty();
}

// The connection has failed: it takes and gives nothing more, and its owner hears of it once.
void TClientSocket::Break(int kind, int code)
{
    broken_ = true;
    queued_text_.clear();
    for (QSocketNotifier* notifier : {read_notifier_, write_notifier_})
        if (notifier)
            notifier->setEnabled(false);
    PostError(kind, code);
}

void TClientSocket::ReportError(int kind, int code)
{
    if (OnError)
        OnError(kind, code);
    if (code != 0)
        throw ESocketError("Socket error: " + error_text(code));
}

// A notification for the connection of now; it is dropped when that connection is closed first.
void TClientSocket::PostError(int kind, int code)
{
    QMetaObject::invokeMethod(
        this,
        [this, kind, code, id = connection_id_] {
            if (connection_id_ == id)
                ReportError(kind, code);
        },
        Qt::QueuedConnection);
}

QSocketNotifier* TClientSocket::Watch(int type, void (TClientSocket::*handler)())
{
    auto* notifier = new QSocketNotifier(fd_, static_cast<QSocketNotifier::Type>(type), this);
    connect(notifier, &QSocketNotifier::activated, this, handler);
    return notifier;
}

// A notifier may be the one whose signal runs right now: it is disabled at once and deleted
// later.
void TClientSocket::Unwatch(QSocketNotifier*& notifier)
{
    if (!notifier)
        return;
    notifier->setEnabled(false);
    notifier->deleteLater();
    notifier = nullptr;
}

void TClientSocket::ReleaseSocket()
{
    Unwatch(read_notifier_);
    Unwatch(write_notifier_);
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    state_ = State::closed;
    broken_ = false;
    queued_text_.clear();
}

std::string local_host_address()
{
    char name[201] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        throw ESocketError("Cannot get the host name: " + error_text(errno));
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || !found)
        throw ESocketError(std::string("Cannot look up the host name ") + name);
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address->sin_addr.s_addr);
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    freeaddrinfo(found);
    return text;
}
