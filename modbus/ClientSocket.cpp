#include "ClientSocket.h"

#include "IPAddressText.h"

#include <QHostAddress>

#include <sys/socket.h>

#include <algorithm>

TClientSocket::TClientSocket(QObject* parent) : QObject(parent), Socket_(this)
{
    Socket_.setReadBufferSize(ReadBufferLimit);
    connect(&Socket_, &QTcpSocket::connected, this, [this] {
        // Requests are small frames that must not wait for Nagle's coalescing.
        Socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        Deliver([this] {
            if (OnConnect)
                OnConnect();
        });
    });
    connect(&Socket_, &QTcpSocket::disconnected, this, [this] {
        Deliver([this] {
            if (OnDisconnect)
                OnDisconnect();
        });
    });
    connect(&Socket_, &QTcpSocket::readyRead, this, [this] { Deliver([this] { DeliverRead(); }); });
    // Errors are rare, and a handler may leave one to be raised: always from a queued call, never
    // through the socket's own signal.
    connect(&Socket_, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) { Post([this, error] { RaiseError(error); }); });
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
    const TInsideCall inside(InsideCall_);
    if (!active) {
        Socket_.abort();
        ++Generation_;
        return;
    }
    ++Generation_;
    // The program's own decimal rule, not the system's: 127.000.000.010 is 127.0.0.10, where the
    // system would read the zero-led group as octal and reach 127.0.0.8.
    TIPAddress ip{};
    if (!DecimalStrToIP(Address_, ip) || Port_ < 1 || Port_ > 65535) {
        Post([this] { RaiseError(QAbstractSocket::HostNotFoundError); });
        return;
    }
    const QHostAddress address(quint32(ip[0]) << 24 | quint32(ip[1]) << 16 | quint32(ip[2]) << 8 | ip[3]);
    Socket_.connectToHost(address, quint16(Port_));
}

qint64 TClientSocket::ReceiveLength() const
{
    return Socket_.bytesAvailable();
}

int TClientSocket::ReceiveBuf(void* buffer, int count)
{
    const TInsideCall inside(InsideCall_);
    return int(Socket_.read(static_cast<char*>(buffer), count));
}

int TClientSocket::SendBuf(const void* buffer, int count)
{
    if (Socket_.state() != QAbstractSocket::ConnectedState) {
        Post([this] { RaiseError(QAbstractSocket::RemoteHostClosedError); });
        return -1;
    }
    const TInsideCall inside(InsideCall_);
    const char* bytes = static_cast<const char*>(buffer);
    qint64 sent = 0;
    // Straight to the system while nothing waits in the socket's own buffer: going through it
    // switches its write notification on and off again for every frame, and each switch wakes
    // the event loop once more.
    if (Socket_.bytesToWrite() == 0)
        sent = std::max<ssize_t>(
            ::send(int(Socket_.socketDescriptor()), bytes, size_t(count), MSG_NOSIGNAL | MSG_DONTWAIT), 0);
    if (sent == count)
        return count;
    // What the system did not take now goes out when it can; a failure is met again there and
    // reported as the socket reports any.
    if (Socket_.write(bytes + sent, count - sent) < 0)
        return -1;  // the socket reports the failure through errorOccurred
    Socket_.flush();
    return count;
}

void TClientSocket::Deliver(const std::function<void()>& notification)
{
    // Raised inside one of this socket's own calls: the caller must not find a handler run under
    // it. From the event loop: at once, which spares the loop a wake-up per notification.
    if (InsideCall_ > 0)
        Post(notification);
    else
        notification();
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

void TClientSocket::RaiseError(QAbstractSocket::SocketError error)
{
    int code = SocketErrorBase + int(error);
    if (OnError)
        OnError(code);
    if (code != 0)
        throw ESocketError("Socket error " + std::to_string(code) + ": " + Socket_.errorString().toStdString());
}

void TClientSocket::DeliverRead()
{
    // The socket announces new bytes only once while a handler runs a nested event loop; what
    // arrived meanwhile waits in its buffer, so read on while bytes are left over.
    const uint64_t generation = Generation_;
    while (OnRead && generation == Generation_ && Socket_.bytesAvailable() > 0)
        OnRead();
}
