#include "ClientSocket.h"

#include <QHostAddress>

TClientSocket::TClientSocket(QObject* parent)
    : QObject(parent)
    , Socket_(this)
{
    connect(&Socket_, &QTcpSocket::connected, this, [this] {
        // Requests are small frames that must not wait for Nagle's coalescing.
        Socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        Post([this] { if (OnConnect) OnConnect(); });
    });
    connect(&Socket_, &QTcpSocket::disconnected, this, [this] {
        Post([this] { if (OnDisconnect) OnDisconnect(); });
    });
    connect(&Socket_, &QTcpSocket::readyRead, this, [this] { Post([this] { DeliverRead(); }); });
    connect(&Socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        PostError(error);
    });
}

void TClientSocket::CheckInactive() const
{
    if (Active())
        throw ESocketError("Cannot change the address or port while the socket is active");
}

void TClientSocket::SetAddress(const std::string& address)
{
    if (address == Address_)
        return;
    CheckInactive();
    Address_ = address;
}

void TClientSocket::SetPort(int port)
{
    if (port == Port_)
        return;
    CheckInactive();
    Port_ = port;
}

bool TClientSocket::Active() const
{
    return Socket_.state() != QAbstractSocket::UnconnectedState;
}

void TClientSocket::SetActive(bool active)
{
    if (active == Active())
        return;
    if (!active) {
        Socket_.abort();
        ++Generation_;
        return;
    }
    ++Generation_;
    QHostAddress address;
    if (!address.setAddress(QString::fromStdString(Address_)) ||
        address.protocol() != QAbstractSocket::IPv4Protocol || Port_ < 1 || Port_ > 65535) {
        PostError(QAbstractSocket::HostNotFoundError);
        return;
    }
    Socket_.connectToHost(address, quint16(Port_));
}

qint64 TClientSocket::ReceiveLength() const
{
    return Socket_.bytesAvailable();
}

int TClientSocket::ReceiveBuf(void* buffer, int count)
{
    return int(Socket_.read(static_cast<char*>(buffer), count));
}

int TClientSocket::SendBuf(const void* buffer, int count)
{
    if (Socket_.state() != QAbstractSocket::ConnectedState) {
        PostError(QAbstractSocket::RemoteHostClosedError);
        return -1;
    }
    const qint64 written = Socket_.write(static_cast<const char*>(buffer), count);
    if (written < 0)
        return -1;  // the socket reports the failure through errorOccurred
    // Hand the frame to the system now rather than at the next turn of the event loop.
    Socket_.flush();
    return int(written);
}

void TClientSocket::Post(std::function<void()> notification)
{
    QMetaObject::invokeMethod(
        this,
        [this, generation = Generation_, notification = std::move(notification)] {
            if (generation == Generation_)
                notification();
        },
        Qt::QueuedConnection);
}

void TClientSocket::PostError(QAbstractSocket::SocketError error)
{
    Post([this, error] {
        int code = SocketErrorBase + int(error);
        if (OnError)
            OnError(code);
        if (code != 0)
            throw ESocketError("Socket error " + std::to_string(code) + ": " + Socket_.errorString().toStdString());
    });
}

void TClientSocket::DeliverRead()
{
    if (!OnRead || Socket_.bytesAvailable() == 0)
        return;
    const uint64_t generation = Generation_;
    OnRead();
    // Like the system's read notification, come back while bytes are left over.
    if (generation == Generation_ && Socket_.bytesAvailable() > 0)
        Post([this] { DeliverRead(); });
}
