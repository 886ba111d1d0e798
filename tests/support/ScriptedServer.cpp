#include "ScriptedServer.h"

#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace {

constexpr int MbapHeaderSize = 6;

uint8_t ByteAt(const QByteArray& bytes, int at)
{
    return bytes.size() > at ? uint8_t(bytes[at]) : 0;
}

uint16_t WordAt(const QByteArray& bytes, int at)
{
    return bytes.size() >= at + 2 ? uint16_t(uint8_t(bytes[at]) << 8 | uint8_t(bytes[at + 1])) : 0;
}

void AppendWord(QByteArray& bytes, uint16_t value)
{
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xFF));
}

}  // namespace

uint16_t TScriptedRequest::TransactionId() const
{
    return WordAt(Frame, 0);
}
uint8_t TScriptedRequest::UnitId() const
{
    return ByteAt(Frame, 6);
}
uint8_t TScriptedRequest::FunctionCode() const
{
    return ByteAt(Frame, 7);
}
uint16_t TScriptedRequest::StartAddress() const
{
    return WordAt(Frame, 8);
}
uint16_t TScriptedRequest::Count() const
{
    return WordAt(Frame, 10);
}

QByteArray MbapFrame(uint16_t transactionId, uint8_t unitId, const QByteArray& pdu)
{
    QByteArray frame;
    AppendWord(frame, transactionId);
    AppendWord(frame, 0);
    AppendWord(frame, uint16_t(pdu.size() + 1));
    frame.append(char(unitId));
    frame.append(pdu);
    return frame;
}

QByteArray ReadRegistersReply(const TScriptedRequest& request, const std::vector<uint16_t>& registers)
{
    QByteArray pdu;
    pdu.append(char(request.FunctionCode()));
    pdu.append(char(2 * registers.size()));
    for (uint16_t value : registers)
        AppendWord(pdu, value);
    return MbapFrame(request.TransactionId(), request.UnitId(), pdu);
}

QByteArray ExceptionReply(const TScriptedRequest& request, uint8_t exceptionCode)
{
    QByteArray pdu;
    pdu.append(char(request.FunctionCode() | 0x80));
    pdu.append(char(exceptionCode));
    return MbapFrame(request.TransactionId(), request.UnitId(), pdu);
}

TScriptedServer::TScriptedServer(TScript script, QObject* parent) : QObject(parent), Script_(std::move(script))
{
    connect(&Server_, &QTcpServer::newConnection, this, [this] { Accept(); });
}

TScriptedServer::~TScriptedServer() = default;

bool TScriptedServer::Listen(const QHostAddress& address)
{
    return Server_.listen(address, 0);
}

void TScriptedServer::Accept()
{
    while (QTcpSocket* socket = Server_.nextPendingConnection()) {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const int connection = ConnectionCount_++;
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (CloseOnAccept_) {
            socket->disconnectFromHost();
            continue;
        }
        auto pending = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, this,
                [this, socket, connection, pending] { Receive(socket, connection, *pending); });
    }
}

void TScriptedServer::Receive(QTcpSocket* socket, int connection, QByteArray& pending)
{
    pending.append(socket->readAll());
    while (pending.size() >= MbapHeaderSize) {
        const int frameSize = MbapHeaderSize + WordAt(pending, 4);
        if (pending.size() < frameSize)
            return;
        TScriptedRequest request{connection, int(Requests_.size()), pending.left(frameSize)};
        pending.remove(0, frameSize);
        Requests_.push_back(request);
        Answer(socket, Script_ ? Script_(request) : TScriptedAnswer{});
        if (socket->state() != QAbstractSocket::ConnectedState)
            return;
    }
}

void TScriptedServer::Answer(QTcpSocket* socket, const TScriptedAnswer& answer)
{
    if (answer.ChunkSize <= 0) {
        socket->write(answer.Bytes);
        socket->flush();
        ++AnswersFinished_;
        if (answer.CloseAfter)
            socket->disconnectFromHost();
        return;
    }
    SendChunks(socket, answer.Bytes, answer.ChunkSize, answer.CloseAfter);
}

void TScriptedServer::SendChunks(QTcpSocket* socket, QByteArray bytes, int chunkSize, bool closeAfter)
{
    if (bytes.isEmpty()) {
        ++AnswersFinished_;
        if (closeAfter)
            socket->disconnectFromHost();
        return;
    }
    socket->write(bytes.left(chunkSize));
    socket->flush();
    // A short pause, so that each piece travels as a segment of its own.
    QTimer::singleShot(1, socket, [this, socket, rest = bytes.mid(chunkSize), chunkSize, closeAfter] {
        SendChunks(socket, rest, chunkSize, closeAfter);
    });
}
