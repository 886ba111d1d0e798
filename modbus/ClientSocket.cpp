#include "ClientSocket.h"

#include "LocalDefines.h"

#include <QHostAddress>

#include <algorithm>

namespace {

// Four decimal groups by the program's own rule. The integer rule behind StrToIP would also take
// "$7F" or "0x7F" for a group; an address never carries those.
bool DecimalAddress(const std::string& text, TIPAddress& address)
{
    const bool decimalOnly = std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '.' || IPBlankChars.find(c) != std::string_view::npos;
    });
    return decimalOnly && StrToIP(text, address);
}

}  // namespace

TClientSocket::TClientSocket(QObject* parent)
    : QObject(parent)
    , Socket_(this)
{
    Socket_.setReadBufferSize(ReadBufferLimit);
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
    // The program's own decimal rule, not the system's: 127.000.000.010 is 127.0.0.10, where the
    // system would read the zero-led group as octal and reach 127.0.0.8.
    TIPAddress ip{};
    if (!DecimalAddress(Address_, ip) || Port_ < 1 || Port_ > 65535) {
        PostError(QAbstractSocket::HostNotFoundError);
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
