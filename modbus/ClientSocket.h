#pragma once
// The asynchronous client socket the ModbusTCP transport expects: an address and port to connect
// to, an Active switch, and connect, disconnect, read and error notifications. Notifications
// always reach the handlers from the event loop, never from inside the call that caused them:
// those raised inside a call are queued, and those of a connection that has since been closed are
// dropped.

#include <QObject>
#include <QTcpSocket>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

class ESocketError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TClientSocket : public QObject {
public:
    // Error codes are never 0, so that a handler can answer 0 for "handled".
    static constexpr int SocketErrorBase = 10000;
    // Received bytes held for the reader at most; beyond it the system's buffer and TCP flow
    // control hold back a peer that sends faster than it is read.
    static constexpr qint64 ReadBufferLimit = 64 * 1024;

    explicit TClientSocket(QObject* parent = nullptr);

    const std::string& Address() const { return Address_; }
    // Both setters throw ESocketError for a new value while the socket is active.
    void SetAddress(const std::string& address);
    int Port() const { return Port_; }
    void SetPort(int port);

    // True from the start of a connect until the connection is closed by either side or fails.
    bool Active() const;
    // true: starts connecting to Address:Port; Address must be four decimal numbers with dots
    // (no name is looked up, no octal or hexadecimal group), otherwise the error notification
    // follows. false: closes at once.
    void SetActive(bool active);

    qint64 ReceiveLength() const;
    int ReceiveBuf(void* buffer, int count);
    // Returns the number of bytes handed to the connection, or -1 (the error notification follows).
    int SendBuf(const void* buffer, int count);

    std::function<void()> OnConnect;
    std::function<void()> OnDisconnect;
    std::function<void()> OnRead;
    // A handler that leaves the code non-zero makes the notification throw ESocketError.
    std::function<void(int& errorCode)> OnError;

private:
    // Counts this object's own calls into the socket in progress.
    struct TInsideCall {
        explicit TInsideCall(int& depth) : Depth(depth) { ++Depth; }
        ~TInsideCall() { --Depth; }
        int& Depth;
    };

    void Deliver(const std::function<void()>& notification);
    void Post(std::function<void()> notification);
    void RaiseError(QAbstractSocket::SocketError error);
    void DeliverRead();
    void CheckInactive() const;

    QTcpSocket Socket_;
    std::string Address_;
    int Port_ = 0;
    // Counts connections; a queued notification carries the one it belongs to.
    uint64_t Generation_ = 0;
    int InsideCall_ = 0;
};
