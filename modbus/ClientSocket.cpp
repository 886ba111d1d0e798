#include "ClientSocket.h"

#include "LocalDefines.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace {

// What a failed connect, read or write stands for, as the transport's callers tell failures apart.
QAbstractSocket::SocketError SocketErrorOf(int systemError)
{
    switch (systemError) {
    case ECONNREFUSED: return QAbstractSocket::ConnectionRefusedError;
    case ECONNRESET:
    case EPIPE: return QAbstractSocket::RemoteHostClosedError;
    case ETIMEDOUT: return QAbstractSocket::SocketTimeoutError;
    case EACCES:
    case EPERM: return QAbstractSocket::SocketAccessError;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM: return QAbstractSocket::SocketResourceError;
    default: return QAbstractSocket::NetworkError;
    }
}

}  // namespace

TClientSocket::TClientSocket(QObject* parent)
    : QObject(parent)
    , ReadNotifier_(QSocketNotifier::Read)
    , WriteNotifier_(QSocketNotifier::Write)
{
    ReadNotifier_.setEnabled(false);
    WriteNotifier_.setEnabled(false);
    connect(&ReadNotifier_, &QSocketNotifier::activated, this, [this] { Readable(); });
    connect(&WriteNotifier_, &QSocketNotifier::activated, this, [this] { Writable(); });
}

TClientSocket::~TClientSocket()
{
    Close();
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

void TClientSocket::SetActive(bool active)
{
    if (active == Active())
        return;
    ++Generation_;
    if (!active) {
        Close();
        return;
    }
    // The program's own decimal rule, not the system's: 127.000.000.010 is 127.0.0.10, where the
    // system would read the zero-led group as octal and reach 127.0.0.8.
    TIPAddress ip{};
    if (!DecimalStrToIP(Address_, ip) || Port_ < 1 || Port_ > 65535) {
        Post([this] { RaiseError(QAbstractSocket::HostNotFoundError, "Host not found"); });
        return;
    }
    Descriptor_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (Descriptor_ < 0) {
        Fail(SocketErrorOf(errno), errno);
        return;
    }
    // Requests are small frames that must not wait for Nagle's coalescing.
    const int on = 1;
    ::setsockopt(Descriptor_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(uint16_t(Port_));
    peer.sin_addr.s_addr = htonl(uint32_t(ip[0]) << 24 | uint32_t(ip[1]) << 16 | uint32_t(ip[2]) << 8 | ip[3]);
    State_ = TState::Connecting;
    if (::connect(Descriptor_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 && errno != EINPROGRESS) {
        Fail(SocketErrorOf(errno), errno);
        return;
    }
    // Told when the connection is made or refused, even where it was made at once.
    WriteNotifier_.setSocket(Descriptor_);
    ReadNotifier_.setSocket(Descriptor_);
    WriteNotifier_.setEnabled(true);
}

int TClientSocket::ReceiveBuf(void* buffer, int count)
{
    const size_t taken = std::min(size_t(std::max(count, 0)), Received_.size() - ReadAt_);
    std::memcpy(buffer, Received_.data() + ReadAt_, taken);
    ReadAt_ += taken;
    if (ReadAt_ == Received_.size()) {
        Received_.clear();
        ReadAt_ = 0;
    }
    // Room again for what the system holds back.
    if (State_ == TState::Connected && !ReadNotifier_.isEnabled() && Received_.size() < ReadBufferLimit)
        ReadNotifier_.setEnabled(true);
    return int(taken);
}

int TClientSocket::SendBuf(const void* buffer, int count)
{
    if (State_ != TState::Connected) {
        Post([this] { RaiseError(QAbstractSocket::RemoteHostClosedError, "The remote host closed the connection"); });
        return -1;
    }
    const TInsideCall inside(InsideCall_);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    Unsent_.insert(Unsent_.end(), bytes, bytes + std::max(count, 0));
    return SendUnsent() ? count : -1;
}

bool TClientSocket::SendUnsent()
{
    size_t sent = 0;
    while (sent < Unsent_.size()) {
        const ssize_t result =
            ::send(Descriptor_, Unsent_.data() + sent, Unsent_.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (result < 0) {
            Fail(SocketErrorOf(errno), errno);
            return false;
        }
        sent += size_t(result);
    }
    Unsent_.erase(Unsent_.begin(), Unsent_.begin() + ptrdiff_t(sent));
    // What the system did not take now goes out when it can.
    WriteNotifier_.setEnabled(!Unsent_.empty());
    return true;
}

void TClientSocket::Writable()
{
    if (State_ == TState::Connected) {
        SendUnsent();
        return;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(Descriptor_, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error != 0) {
        Fail(SocketErrorOf(error), error);
        return;
    }
    State_ = TState::Connected;
    WriteNotifier_.setEnabled(false);
    ReadNotifier_.setEnabled(true);
    Deliver([this] {
        if (OnConnect)
            OnConnect();
    });
}

void TClientSocket::Readable()
{
    const uint64_t generation = Generation_;
    bool ended = false;
    int failure = 0;
    std::array<uint8_t, 4096> chunk;
    while (Received_.size() < ReadBufferLimit) {
        const size_t room = std::min(chunk.size(), ReadBufferLimit - Received_.size());
        const ssize_t count = ::recv(Descriptor_, chunk.data(), room, MSG_DONTWAIT);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (count <= 0) {
            ended = true;
            failure = count < 0 ? errno : 0;
            break;
        }
        Received_.insert(Received_.end(), chunk.data(), chunk.data() + count);
        if (size_t(count) < room)
            break;  // all there was
    }
    if (Received_.size() >= ReadBufferLimit)
        ReadNotifier_.setEnabled(false);
    if (ReceiveLength() > 0)
        Deliver([this] { DeliverRead(); });
    if (!ended || generation != Generation_)
        return;
    // The peer closed or reset the connection: told as closed, then as the error it is.
    Close();
    Deliver([this] {
        if (OnDisconnect)
            OnDisconnect();
    });
    const auto error = failure == 0 ? QAbstractSocket::RemoteHostClosedError : SocketErrorOf(failure);
    Post([this, error] { RaiseError(error, "The remote host closed the connection"); });
}

void TClientSocket::Fail(QAbstractSocket::SocketError error, int systemError)
{
    Close();
    const std::string text = std::strerror(systemError);
    Post([this, error, text] { RaiseError(error, text); });
}

void TClientSocket::Close()
{
    ReadNotifier_.setEnabled(false);
    WriteNotifier_.setEnabled(false);
    if (Descriptor_ >= 0)
        ::close(Descriptor_);
    Descriptor_ = -1;
    State_ = TState::Unconnected;
    Received_.clear();
    ReadAt_ = 0;
    Unsent_.clear();
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

void TClientSocket::RaiseError(QAbstractSocket::SocketError error, const std::string& text)
{
    int code = SocketErrorBase + int(error);
    if (OnError)
        OnError(code);
    if (code != 0)
        throw ESocketError("Socket error " + std::to_string(code) + ": " + text);
}

void TClientSocket::DeliverRead()
{
    // A handler that runs a nested event loop reads what arrived meanwhile as well: read on while
    // bytes are left over.
    const uint64_t generation = Generation_;
    while (OnRead && generation == Generation_ && ReceiveLength() > 0)
        OnRead();
}
