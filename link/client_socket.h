#pragma once
// TClientSocket: the non-blocking TCP client ClientSocket1 of the main window.
//
// How it works. The client owns one IPv4 stream socket in non-blocking mode and watches it with
// socket notifiers, so every notification runs on the user-interface thread through the event
// loop, also inside any wait that pumps events:
//   - Open() starts a connection attempt to Address():Port() and returns at once; the outcome
//     arrives later as OnConnect or as OnError with kind eeConnect. An address that is not dotted
//     decimal IPv4, or a port outside 0..65535, raises ESocketError from Open() itself.
//   - Active() is true from the moment the connection is made (before OnConnect runs) until it
//     is closed by Close() or by the far side; a unit that closes the connection makes Active()
//     false without any notification, once the data it sent before has been read.
//   - Close() closes at once; no read or error notification of that connection follows.
//   - OnRead runs whenever unread data waits; data left unread raises a further OnRead.
//   - SendText() sends all of a text: what the socket does not take at once is queued in order
//     and written as the socket drains (at most kMaxQueuedText bytes may wait).
//   - SendBuf() returns the count accepted (possibly fewer than offered), -1 when the send would
//     block (also while queued text still waits, so bytes keep their order), 0 when no
//     connection exists.
//   - A failure of an established connection (send, receive) is reported once, as OnError
//     through the event loop; the connection then takes and gives nothing more, but stays
//     Active() until it is closed. OnError(kind, code) carries the system's error code, in-out:
//     a handler that leaves it non-zero makes the client raise ESocketError to the event loop.
//   - ConnectionId() changes with every Open() and Close(), so that a handler which pumped
//     events can tell whether the connection it started with is still the client's.
//
// local_host_address() is the computer's own IPv4 address: its host name looked up, the first
// address of the result; raises ESocketError when the name cannot be found.

#include <QObject>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

class QSocketNotifier;

enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept };

class ESocketError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TClientSocket : public QObject {
    Q_OBJECT

public:
    static constexpr std::size_t kMaxQueuedText = 64 * 1024;

    explicit TClientSocket(QObject* parent = nullptr);
    ~TClientSocket() override;

    // Only while the client is not active.
    void SetAddress(const std::string& address);
    void SetPort(int port);
    const std::string& Address() const { return address_; }
    int Port() const { return port_; }

    void Open();
    void Close();
    bool Active() const { return state_ == State::connected; }
    bool Connecting() const { return state_ == State::connecting; }
    std::uint64_t ConnectionId() const { return connection_id_; }

    int ReceiveLength() const;
    int ReceiveBuf(char* buffer, int count);
    void SendText(std::string_view text);
    int SendBuf(const char* buffer, int count);

    std::function<void()> OnConnect;
    std::function<void()> OnRead;
    std::function<void(int errorEvent, int& errorCode)> OnError;

private:
    enum class State { closed, connecting, connected };

    void ConnectFinished();
    void ReadReady();
    void WriteReady();
    bool FlushQueuedText();
    void Break(int kind, int code);
    void ReportError(int kind, int code);
    void PostError(int kind, int code);
    QSocketNotifier* Watch(int type, void (TClientSocket::*handler)());
    static void Unwatch(QSocketNotifier*& notifier);
    void ReleaseSocket();

    int fd_ = -1;
    State state_ = State::closed;
    bool broken_ = false;
    std::uint64_t connection_id_ = 0;
    QSocketNotifier* read_notifier_ = nullptr;
    QSocketNotifier* write_notifier_ = nullptr;
    std::string queued_text_;
    std::string address_;
    int port_ = 0;
};

std::string local_host_address();
