#pragma once
// One HTTP client's connection as the exporter bounds it: a request must arrive whole, within
// MaxRequestBytes and RequestTimeoutMs of the connection's start or of the last reply, or the
// connection is closed; replies go out in the order of the requests, whenever each is ready (a
// probe answers later than a page of the exporter's own), and at most MaxQueuedRequests wait.

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

class QTcpSocket;

struct THttpLimits {
    int MaxConnections = 256;
    int MaxRequestBytes = 8192;    // request line and headers; the exporter takes no body
    int RequestTimeoutMs = 10000;  // for a whole request to arrive, and for an idle connection
    int MaxQueuedRequests = 4;     // requests of one connection waiting for their replies
};

// What closed a connection before its time, as the exporter counts it.
enum class THttpRefusal { ConnectionLimit, TooLarge, Timeout, TooManyRequests };

class THttpConnection : public QObject {
    Q_OBJECT  // found among the socket's children by its type
        public :
        // Owned by the socket; sequence orders connections by age.
        THttpConnection(QTcpSocket& socket, const THttpLimits& limits, uint64_t sequence);

    QTcpSocket& Socket() { return Socket_; }
    uint64_t Sequence() const { return Sequence_; }
    // Handling a request: its reply is being made, so the connection is not idle.
    bool Busy() const { return !Replies_.empty(); }

    // A request has arrived whole: the place of its reply, or nullopt when too many wait already
    // (the connection is then being closed). After the reply to a last request (the client said
    // "Connection: close") the connection closes.
    std::optional<uint64_t> RequestArrived(bool last);
    // The reply to the request given that place: written with those before it, once they are ready.
    void Reply(uint64_t place, QByteArray reply);
    // Closes at once, for whatever reason the listener has.
    void Close(THttpRefusal reason);

    // Told when the connection is closed for a refusal of its own, before it goes.
    std::function<void(THttpRefusal)> OnRefused;

private:
    void Received();
    void Refuse(THttpRefusal reason, const char* statusLine);

    QTcpSocket& Socket_;
    const THttpLimits Limits_;
    const uint64_t Sequence_;
    QTimer Deadline_;
    qint64 RequestBytes_ = 0;  // of the request still arriving
    bool Closing_ = false;
    bool CloseWhenAnswered_ = false;
    uint64_t FirstPlace_ = 0;  // the place of Replies_.front()
    std::deque<std::optional<QByteArray>> Replies_;
};

// A whole HTTP/1.1 reply with its length, for a body of the given type.
QByteArray HttpReply(int status, const QByteArray& contentType, const QByteArray& body);
