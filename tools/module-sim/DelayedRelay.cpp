#include "DelayedRelay.h"

#include <QTcpSocket>
#include <QTimer>

TDelayedRelay::TDelayedRelay(int delayMs, QObject* parent) : QObject(parent), DelayMs_(delayMs)
{
    connect(&Server_, &QTcpServer::newConnection, this, &TDelayedRelay::Accept);
}

bool TDelayedRelay::Listen(const QHostAddress& address, quint16 port, quint16 targetPort)
{
    TargetPort_ = targetPort;
    return Server_.listen(address, port);
}

void TDelayedRelay::Accept()
{
    while (QTcpSocket* client = Server_.nextPendingConnection()) {
        auto* module = new QTcpSocket(client);
        module->connectToHost(QHostAddress::LocalHost, TargetPort_);
        // The module side is the client's child: whatever is still delayed goes with the client.
        connect(client, &QTcpSocket::readyRead, module, [this, client, module] {
            const QByteArray bytes = client->readAll();
            QTimer::singleShot(DelayMs_, module, [module, bytes] { module->write(bytes); });
        });
        connect(module, &QTcpSocket::readyRead, client, [client, module] { client->write(module->readAll()); });
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        connect(module, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        connect(module, &QTcpSocket::errorOccurred, client, &QTcpSocket::disconnectFromHost);
    }
}
