#pragma once
// A raw ModbusTCP server on loopback that answers each request with scripted bytes: replies
// that are late, split, oversized, from the wrong unit, or none at all.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include <cstdint>
#include <functional>
#include <vector>

class QTcpSocket;

struct TScriptedRequest {
    int Connection = 0;  // 0 for the first connection accepted, then 1, 2 ...
    int Index = 0;       // 0 for the first request received, over all connections
    QByteArray Frame;    // the whole request, MBAP header included

    uint16_t TransactionId() const;
    uint8_t UnitId() const;
    uint8_t FunctionCode() const;
    uint16_t StartAddress() const;
    uint16_t Count() const;
};

struct TScriptedAnswer {
    QByteArray Bytes;         // sent as they are; empty for no answer
    int ChunkSize = 0;        // 0: all at once; otherwise pieces of this size, one per turn
    bool CloseAfter = false;  // close the connection after the bytes
};

using TScript = std::function<TScriptedAnswer(const TScriptedRequest&)>;

// An MBAP frame: transaction id, protocol 0, the length of unit + pdu, unit, pdu.
QByteArray MbapFrame(uint16_t transactionId, uint8_t unitId, const QByteArray& pdu);
// The normal reply to a read of holding registers, with the given register values.
QByteArray ReadRegistersReply(const TScriptedRequest& request, const std::vector<uint16_t>& registers);
// The 9-byte exception reply to the request.
QByteArray ExceptionReply(const TScriptedRequest& request, uint8_t exceptionCode);

class TScriptedServer : public QObject {
public:
    explicit TScriptedServer(TScript script, QObject* parent = nullptr);
    ~TScriptedServer() override;

    bool Listen(const QHostAddress& address = QHostAddress::LocalHost);
    quint16 Port() const { return Server_.serverPort(); }

    void SetScript(TScript script) { Script_ = std::move(script); }
    // Connections are closed as soon as they are accepted, as by a gateway with no slot free.
    void SetCloseOnAccept(bool close) { CloseOnAccept_ = close; }
    const std::vector<TScriptedRequest>& Requests() const { return Requests_; }
    int ConnectionCount() const { return ConnectionCount_; }
    // Answers whose last byte has been handed to the system.
    int AnswersFinished() const { return AnswersFinished_; }

private:
    void Accept();
    void Receive(QTcpSocket* socket, int connection, QByteArray& pending);
    void Answer(QTcpSocket* socket, const TScriptedAnswer& answer);
    void SendChunks(QTcpSocket* socket, QByteArray bytes, int chunkSize, bool closeAfter);

    TScript Script_;
    QTcpServer Server_;
    std::vector<TScriptedRequest> Requests_;
    int ConnectionCount_ = 0;
    int AnswersFinished_ = 0;
    bool CloseOnAccept_ = false;
};
