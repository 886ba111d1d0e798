#pragma once
// One row of the exchange monitor and of the trace file: a ModbusTCP frame sent or received, or
// an event of the connection, decoded in the module's terms.

#include <QByteArray>
#include <QString>

#include <cstdint>

enum class TExchangeDirection {
    Request,  // →, ">>" in the trace file
    Reply,    // ←, "<<"
    Event,    // ×, "!!": time-out, retransmission, connection
};

enum class TExchangeEvent {
    None,  // a frame
    Timeout,
    Retransmission,
    Connection,  // established, closed or failed
};

struct TExchangeRecord {
    double TimeMs = 0;  // since the first record
    // The clock's, in ms since the epoch, for lining the rows up with what happened on site; the
    // local time is worked out only for the rows shown or written.
    qint64 WallMs = 0;
    TExchangeDirection Direction = TExchangeDirection::Event;
    TExchangeEvent Event = TExchangeEvent::None;
    int TransactionId = -1;  // -1 where the record has none
    int Unit = -1;
    int Function = -1;
    int FirstRegister = -1;
    int Count = -1;
    QByteArray Bytes;
    QString Meaning;
    double LatencyMs = -1;  // a reply's time since its request was sent
    bool IsException = false;
    // A reply whose length is not its header's, or an exception's that is not unit, function, code.
    bool IsMalformed = false;
};

// A request frame (MBAP header and PDU) as the master sends it.
TExchangeRecord DecodeRequest(const QByteArray& frame);
// A reply frame; request is the one it answers (its registers and meaning carry over), or null.
TExchangeRecord DecodeReply(const QByteArray& frame, const TExchangeRecord* request);
TExchangeRecord EventRecord(TExchangeEvent event, const QString& meaning);

// What a request does to the module: "чтение конфигурации", "запись конфигурации",
// "чтение информации", or the function by number.
QString RequestMeaning(int unit, int function, int firstRegister, int count);
// The meaning of a reply carrying that exception: "исключение: недопустимый адрес данных".
QString ExceptionMeaning(int code);

// "→", "←" or "×".
QString DirectionArrow(TExchangeDirection direction);
// "84..139 (56)", empty for a record without registers.
QString RegistersText(const TExchangeRecord& record);
// The bytes in upper-case hex separated by single spaces.
QString HexText(const QByteArray& bytes);
// The line of the trace file: the wall-clock time, the time since the first record, ">>", "<<" or
// "!!", the bytes, " | " and the decoded text.
QString TraceFileLine(const TExchangeRecord& record);
