#pragma once
// Stands in front of a simulated module's server and hands every request over only after a
// delay, so that the module answers as one behind a slow link would. Replies pass at once.

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

class TDelayedRelay : public QObject {
public:
    TDelayedRelay(int delayMs, QObject* parent = nullptr);

    // Accepts on address:port and relays each connection to 127.0.0.1:targetPort.
    bool Listen(const QHostAddress& address, quint16 port, quint16 targetPort);
    quint16 Port() const { return Server_.serverPort(); }
    QString ErrorText() const { return Server_.errorString(); }

private:
    void Accept();

    int DelayMs_;
    quint16 TargetPort_ = 0;
    QTcpServer Server_;
};
