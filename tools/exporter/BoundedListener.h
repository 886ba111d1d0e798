#pragma once
// The exporter's listening socket, taken in hand before the HTTP server sees a connection: at most
// MaxConnections are open; one more closes the oldest that is not waiting for a reply (a client
// too slow to send its request, or idle between scrapes), so that slow or silent clients cannot
// keep a scrape out; only when every connection waits for a reply is the new one refused (503).

#include "HttpConnection.h"

#include <QTcpServer>

#include <array>
#include <cstdint>
#include <map>

class TBoundedListener : public QTcpServer {
public:
    TBoundedListener(const THttpLimits& limits, QObject* owner = nullptr);

    // The connection of a socket the HTTP server handed over, or nullptr once it is gone.
    THttpConnection* Connection(QTcpSocket* socket) const;
    int OpenConnections() const { return int(Open_.size()); }
    uint64_t Refused(THttpRefusal reason) const { return Refused_[size_t(reason)]; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    bool MakeRoom();

    const THttpLimits Limits_;
    uint64_t Sequence_ = 0;
    std::map<uint64_t, THttpConnection*> Open_;  // by age
    std::array<uint64_t, 4> Refused_{};
};
