#include "HttpConnection.h"

#include <QTcpSocket>

namespace {

QByteArray StatusText(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

}  // namespace

QByteArray HttpReply(int status, const QByteArray& contentType, const QByteArray& body)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + StatusText(status) + "\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

THttpConnection::THttpConnection(QTcpSocket& socket, const THttpLimits& limits, uint64_t sequence)
    : QObject(&socket)
    , Socket_(socket)
    , Limits_(limits)
    , Sequence_(sequence)
{
    // The socket holds no more than a request may take: past it the request cannot complete, and
    // it is refused here before more is read.
    Socket_.setReadBufferSize(Limits_.MaxRequestBytes);
    Deadline_.setSingleShot(true);
    connect(&Deadline_, &QTimer::timeout, this, [this] { Refuse(THttpRefusal::Timeout, nullptr); });
    Deadline_.start(Limits_.RequestTimeoutMs);
    // Connected before the HTTP server's own reader, so that each chunk is counted before it is taken.
    connect(&Socket_, &QTcpSocket::readyRead, this, &THttpConnection::Received);
}

void THttpConnection::Received()
{
    RequestBytes_ += Socket_.bytesAvailable();
    if (RequestBytes_ >= Limits_.MaxRequestBytes)
        Refuse(THttpRefusal::TooLarge, "HTTP/1.1 431 Request Header Fields Too Large");
}

std::optional<uint64_t> THttpConnection::RequestArrived(bool last)
{
    if (Closing_ || CloseWhenAnswered_)
        return std::nullopt;
    if (int(Replies_.size()) >= Limits_.MaxQueuedRequests) {
        Refuse(THttpRefusal::TooManyRequests, "HTTP/1.1 429 Too Many Requests");
        return std::nullopt;
    }
    RequestBytes_ = 0;
    CloseWhenAnswered_ = last;
    // The time of a reply is the probe's to bound; the idle time starts again once it is written.
    Deadline_.stop();
    Replies_.emplace_back();
    return FirstPlace_ + Replies_.size() - 1;
}

void THttpConnection::Reply(uint64_t place, QByteArray reply)
{
    if (Closing_ || place < FirstPlace_ || place - FirstPlace_ >= Replies_.size())
        return;
    Replies_[size_t(place - FirstPlace_)] = std::move(reply);
    while (!Replies_.empty() && Replies_.front()) {
        Socket_.write(*Replies_.front());
        Replies_.pop_front();
        ++FirstPlace_;
    }
    if (!Replies_.empty())
        return;
    Deadline_.start(Limits_.RequestTimeoutMs);
    if (CloseWhenAnswered_)
        Socket_.disconnectFromHost();
}

void THttpConnection::Close(THttpRefusal reason)
{
    Refuse(reason, nullptr);
}

void THttpConnection::Refuse(THttpRefusal reason, const char* statusLine)
{
    if (Closing_)
        return;
    Closing_ = true;
    Replies_.clear();
    Deadline_.stop();
    if (OnRefused)
        OnRefused(reason);
    if (statusLine)
        Socket_.write(QByteArray(statusLine) + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    // Not from inside the socket's own signal, where the HTTP server still reads it: the reply
    // goes out, then the connection closes; a client that reads nothing is cut off by the timer.
    QMetaObject::invokeMethod(
        &Socket_,
        [socket = &Socket_] {
            socket->disconnectFromHost();
            if (socket->state() != QAbstractSocket::UnconnectedState)
                QTimer::singleShot(1000, socket, [socket] { socket->abort(); });
        },
        Qt::QueuedConnection);
}
