#include "ExchangeRecorder.h"

#include "modbus.h"

namespace {
constexpr double NanosecondsPerMs = 1e6;
}  // namespace

TExchangeRecorder::TExchangeRecorder(QObject* parent) : QObject(parent)
{}

double TExchangeRecorder::Now()
{
    if (!Clock.isValid())
        Clock.start();
    return double(Clock.nsecsElapsed()) / NanosecondsPerMs;
}

void TExchangeRecorder::Trace(TModbusTraceEvent event, const uint8_t* bytes, int count, uint8_t status)
{
    const double now = Now();
    const QByteArray frame(reinterpret_cast<const char*>(bytes), bytes ? count : 0);
    TExchangeRecord record;
    switch (event) {
    case TModbusTraceEvent::Sent:
        record = DecodeRequest(frame);
        LastRequest = record;
        LastRequest.TimeMs = now;
        HasRequest = true;
        break;
    case TModbusTraceEvent::Received:
        record = DecodeReply(frame, HasRequest ? &LastRequest : nullptr);
        if (HasRequest)
            record.LatencyMs = now - LastRequest.TimeMs;
        // The reply's judgement, where it is not what the frame already says.
        if (status != StatusOk && status != StatusException)
            record.Meaning += QStringLiteral(": ") + QString::fromStdString(StatusText(status, 0));
        break;
    case TModbusTraceEvent::Timeout:
        record = EventRecord(TExchangeEvent::Timeout, tr("таймаут: нет ответа"));
        record.Bytes = frame;  // what came of the reply, if anything
        break;
    case TModbusTraceEvent::Retransmission:
        record = EventRecord(TExchangeEvent::Retransmission, tr("повторная передача"));
        break;
    case TModbusTraceEvent::Connected:
        record = EventRecord(TExchangeEvent::Connection, tr("соединение установлено"));
        break;
    case TModbusTraceEvent::Disconnected:
        record = EventRecord(TExchangeEvent::Connection, tr("соединение закрыто"));
        break;
    case TModbusTraceEvent::ConnectionFailed:
        record = EventRecord(TExchangeEvent::Connection, tr("ошибка соединения"));
        break;
    }
    record.TimeMs = now;
    emit Recorded(record);
}
