#pragma once
// The simulated module's TCP front. A ModbusTCP server answers only its own unit, so the front
// takes every connection first and reads it frame by frame: requests for the module itself (unit
// 255, or 0) go on to the module's server, those for other units to a handler that plays the
// RS-485 lines. Every request can be held back a fixed time first, as behind a slow link.
// Replies go back whole, so that a late line answer never splits another reply.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include <functional>

class TGatewayFront : public QObject {
public:
    using TReply = std::function<void(const QByteArray& frame)>;
    // frame: the whole request, MBAP header included. The reply may be given later, or never; a
    // reply for a connection that has closed meanwhile is dropped.
    using TUnitHandler = std::function<void(const QByteArray& frame, TReply reply)>;

    TGatewayFront(int delayMs, TUnitHandler handler, QObject* parent = nullptr);

    // Accepts on address:port and hands the module's own requests to 127.0.0.1:modulePort.
    bool Listen(const QHostAddress& address, quint16 port, quint16 modulePort);
    quint16 Port() const { return Server_.serverPort(); }
    QString ErrorText() const { return Server_.errorString(); }

private:
    void Accept();

    int DelayMs_;
    TUnitHandler Handler_;
    quint16 ModulePort_ = 0;
    QTcpServer Server_;
};
