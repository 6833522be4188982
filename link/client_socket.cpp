#include "link/client_socket.h"

#include <QTcpSocket>
#include <QTimer>

TClientSocket::TClientSocket(QObject* parent) : QObject(parent), socket_(new QTcpSocket(this))
{
    connect(socket_, &QTcpSocket::connected, this, &TClientSocket::Connected);
    connect(socket_, &QTcpSocket::readyRead, this, &TClientSocket::ReadyRead);
    connect(socket_, &QTcpSocket::errorOccurred, this, &TClientSocket::Failed);
}

TClientSocket::~TClientSocket() = default;

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
    if (socket_->state() != QAbstractSocket::UnconnectedState)
        return;
    opening_ = true;
    socket_->connectToHost(QString::fromStdString(address_), static_cast<quint16>(port_));
}

void TClientSocket::Close()
{
    opening_ = false;
    socket_->abort();
}

bool TClientSocket::Active() const
{
    return socket_->state() == QAbstractSocket::ConnectedState;
}

int TClientSocket::ReceiveLength() const
{
    return Active() ? static_cast<int>(socket_->bytesAvailable()) : 0;
}

int TClientSocket::ReceiveBuf(char* buffer, int count)
{
    if (!Active() || count <= 0)
        return 0;
    const qint64 got = socket_->read(buffer, count);
    ScheduleReadIfDataLeft();
    return got > 0 ? static_cast<int>(got) : 0;
}

void TClientSocket::SendText(std::string_view text)
{
    SendBuf(text.data(), static_cast<int>(text.size()));
}

int TClientSocket::SendBuf(const char* buffer, int count)
{
    if (!Active())
        return 0;
    if (count <= 0)
        return 0;
    const qint64 written = socket_->write(buffer, count);
    socket_->flush();
    return written < 0 ? 0 : static_cast<int>(written);
}

void TClientSocket::Connected()
{
    opening_ = false;
    if (OnConnect)
        OnConnect();
}

void TClientSocket::ReadyRead()
{
    read_scheduled_ = false;
    if (OnRead && Active())
        OnRead();
}

// Qt raises readyRead only for newly arrived data; unread data must raise a further notification.
void TClientSocket::ScheduleReadIfDataLeft()
{
    if (read_scheduled_ || socket_->bytesAvailable() <= 0)
        return;
    read_scheduled_ = true;
    QTimer::singleShot(0, this, &TClientSocket::ReadyRead);
}

void TClientSocket::Failed()
{
    const QAbstractSocket::SocketError error = socket_->error();
    if (error == QAbstractSocket::RemoteHostClosedError && !opening_)
        return; // the unit closed the connection: Active() turns false without a notification
    const int kind = opening_ ? eeConnect : eeGeneral;
    opening_ = false;
    int code = static_cast<int>(error) + 1;
    if (OnError)
        OnError(kind, code);
    if (code != 0)
        throw ESocketError("Socket error: " + socket_->errorString().toStdString() + " (" +
                           std::to_string(code) + ")");
}
