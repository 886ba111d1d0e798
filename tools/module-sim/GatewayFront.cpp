#include "GatewayFront.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace {

constexpr int MbapHeaderSize = 6;
constexpr int UnitAt = 6;
constexpr int MinLengthField = 2;    // unit and function code
constexpr int MaxLengthField = 254;  // unit, function code and the largest PDU body
constexpr uint8_t ModuleUnit = 255;
constexpr uint8_t BroadcastUnit = 0;

// The length of the whole frame at the buffer's front: 0 while incomplete, -1 when the header
// cannot be a ModbusTCP header.
int FrameLength(const QByteArray& buffer)
{
    if (buffer.size() < MbapHeaderSize)
        return 0;
    const int protocol = quint8(buffer[2]) << 8 | quint8(buffer[3]);
    const int length = quint8(buffer[4]) << 8 | quint8(buffer[5]);
    if (protocol != 0 || length < MinLengthField || length > MaxLengthField)
        return -1;
    return buffer.size() >= MbapHeaderSize + length ? MbapHeaderSize + length : 0;
}

// Cuts the whole frames off the buffer's front and hands each on. Once the stream no longer reads
// as frames, the rest goes on unjudged, for the receiver to make of it what it does of garbage.
template <class THandOn> void SplitFrames(QByteArray& buffer, bool& unjudged, THandOn handOn)
{
    while (!buffer.isEmpty()) {
        const int length = unjudged ? int(buffer.size()) : FrameLength(buffer);
        if (length == 0)
            return;
        if (length < 0) {
            unjudged = true;
            continue;
        }
        handOn(buffer.left(length), unjudged);
        buffer.remove(0, length);
    }
}

struct TConnectionState {
    QByteArray Requests, Replies;
    bool RequestsUnjudged = false, RepliesUnjudged = false;
};

}  // namespace

TGatewayFront::TGatewayFront(int delayMs, TUnitHandler handler, QObject* parent)
    : QObject(parent)
    , DelayMs_(delayMs)
    , Handler_(std::move(handler))
{
    connect(&Server_, &QTcpServer::newConnection, this, &TGatewayFront::Accept);
}

bool TGatewayFront::Listen(const QHostAddress& address, quint16 port, quint16 modulePort)
{
    ModulePort_ = modulePort;
    return Server_.listen(address, port);
}

void TGatewayFront::Accept()
{
    while (QTcpSocket* client = Server_.nextPendingConnection()) {
        auto* module = new QTcpSocket(client);
        module->connectToHost(QHostAddress::LocalHost, ModulePort_);
        // Small frames each way: none may wait for the one before it to be acknowledged.
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(module, &QTcpSocket::connected, module,
                [module] { module->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
        auto state = std::make_shared<TConnectionState>();
        const QPointer<QTcpSocket> guarded(client);
        // A reply that comes after the client has gone is dropped.
        const TReply reply = [guarded](const QByteArray& frame) {
            if (guarded)
                guarded->write(frame);
        };
        const auto route = [this, module, reply](const QByteArray& frame, bool unjudged) {
            const auto unit = quint8(frame[UnitAt]);
            if (unjudged || unit == ModuleUnit || unit == BroadcastUnit)
                module->write(frame);
            else
                Handler_(frame, reply);
        };
        // The module side is the client's child: whatever is still delayed goes with the client.
        connect(client, &QTcpSocket::readyRead, module, [this, client, module, state, route] {
            state->Requests += client->readAll();
            SplitFrames(state->Requests, state->RequestsUnjudged, [&](const QByteArray& frame, bool unjudged) {
                if (DelayMs_ == 0)
                    route(frame, unjudged);
                else
                    QTimer::singleShot(DelayMs_, module, [route, frame, unjudged] { route(frame, unjudged); });
            });
        });
        connect(module, &QTcpSocket::readyRead, client, [client, module, state] {
            state->Replies += module->readAll();
            SplitFrames(state->Replies, state->RepliesUnjudged,
                        [client](const QByteArray& frame, bool) { client->write(frame); });
        });
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        connect(module, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        connect(module, &QTcpSocket::errorOccurred, client, &QTcpSocket::disconnectFromHost);
    }
}
