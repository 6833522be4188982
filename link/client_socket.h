#pragma once
// TClientSocket: the non-blocking TCP client ClientSocket1 of the main window.
//
// A thin adapter over QTcpSocket that keeps the behaviour the Ethernet link relies on:
//   - Open() starts a connection attempt to Address():Port() and returns at once; the outcome
//     arrives later through the event loop as OnConnect or as OnError with kind eeConnect.
//   - Active() is true from the moment the connection is made (before OnConnect runs) until it
//     is closed, by Close() or by the far side.
//   - Close() closes at once; no read or error notification of that connection follows.
//   - OnRead runs whenever unread data waits; data left unread raises a further OnRead.
//   - SendText() sends all of a text; SendBuf() returns the count accepted, -1 when the send
//     would block, 0 when no connection exists.
//   - OnError(kind, code) reports a failure with the system's error code, in-out: a handler that
//     leaves the code non-zero makes the client raise ESocketError to the event loop.
// All notifications run on the user-interface thread, also inside any loop that pumps events.

#include <QObject>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

class QTcpSocket;

enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept };

class ESocketError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TClientSocket : public QObject {
    Q_OBJECT

public:
    explicit TClientSocket(QObject* parent = nullptr);
    ~TClientSocket() override;

    // Only while the client is not active.
    void SetAddress(const std::string& address);
    void SetPort(int port);
    const std::string& Address() const { return address_; }
    int Port() const { return port_; }

    void Open();
    void Close();
    bool Active() const;

    int ReceiveLength() const;
    int ReceiveBuf(char* buffer, int count);
    void SendText(std::string_view text);
    int SendBuf(const char* buffer, int count);

    std::function<void()> OnConnect;
    std::function<void()> OnRead;
    std::function<void(int errorEvent, int& errorCode)> OnError;

private:
    void Connected();
    void ReadyRead();
    void Failed();
    void ScheduleReadIfDataLeft();

    QTcpSocket* socket_;
    std::string address_;
    int port_ = 0;
    bool opening_ = false;
    bool read_scheduled_ = false;
};
