#include "BoundedListener.h"

#include <QTcpSocket>

#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr char BusyReply[] = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

}  // namespace

TBoundedListener::TBoundedListener(const THttpLimits& limits, QObject* owner) : QTcpServer(owner), Limits_(limits)
{
    // A burst of clients waits in the system's queue rather than being turned away before it.
    setListenBacklogSize(1024);
}

THttpConnection* TBoundedListener::Connection(QTcpSocket* socket) const
{
    return socket ? socket->findChild<THttpConnection*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

bool TBoundedListener::MakeRoom()
{
    if (int(Open_.size()) < Limits_.MaxConnections)
        return true;
    for (const auto& [sequence, connection] : Open_)
        if (!connection->Busy()) {
            // Gone from the count at once (its refusal takes it off), though its socket closes
            // from the event loop.
            connection->Close(THttpRefusal::ConnectionLimit);
            return true;
        }
    return false;
}

void TBoundedListener::incomingConnection(qintptr descriptor)
{
    if (!MakeRoom()) {
        // Told without a socket object of its own: the system takes these few bytes at once.
        ++Refused_[size_t(THttpRefusal::ConnectionLimit)];
        ::send(int(descriptor), BusyReply, sizeof BusyReply - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
        ::close(int(descriptor));
        return;
    }
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return;
    }
    const uint64_t sequence = ++Sequence_;
    auto* connection = new THttpConnection(*socket, Limits_, sequence);
    connection->OnRefused = [this, sequence](THttpRefusal reason) {
        ++Refused_[size_t(reason)];
        Open_.erase(sequence);
    };
    connect(connection, &QObject::destroyed, this, [this, sequence] { Open_.erase(sequence); });
    Open_.emplace(sequence, connection);
    addPendingConnection(socket);
}
