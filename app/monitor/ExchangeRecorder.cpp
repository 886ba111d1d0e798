#include "ExchangeRecorder.h"

#include "modbus.h"

#include <QDateTime>

namespace {

constexpr double NanosecondsPerMs = 1e6;

// The events that are not frames: the kind the monitor files them under and the words it shows.
struct TEventWords {
    TModbusTraceEvent Event;
    TExchangeEvent Kind;
    const char* Meaning;
};
using E = TModbusTraceEvent;
using K = TExchangeEvent;
constexpr TEventWords EventWords[] = {
    {E::Timeout, K::Timeout, QT_TRANSLATE_NOOP("TExchangeRecorder", "таймаут: нет ответа")},
    {E::Retransmission, K::Retransmission, QT_TRANSLATE_NOOP("TExchangeRecorder", "повторная передача")},
    {E::Connected, K::Connection, QT_TRANSLATE_NOOP("TExchangeRecorder", "соединение установлено")},
    {E::Disconnected, K::Connection, QT_TRANSLATE_NOOP("TExchangeRecorder", "соединение закрыто")},
    {E::ConnectionFailed, K::Connection, QT_TRANSLATE_NOOP("TExchangeRecorder", "ошибка соединения")},
    {E::ConnectionRefused, K::Connection, QT_TRANSLATE_NOOP("TExchangeRecorder", "соединение отвергнуто")},
    {E::ClosedByPeer, K::Connection, QT_TRANSLATE_NOOP("TExchangeRecorder", "соединение закрыто модулем")},
};

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
    if (event == TModbusTraceEvent::Sent) {
        record = DecodeRequest(frame);
        LastRequest = record;
        LastRequest.TimeMs = now;
        HasRequest = true;
    } else if (event == TModbusTraceEvent::Received) {
        record = DecodeReply(frame, HasRequest ? &LastRequest : nullptr);
        if (HasRequest)
            record.LatencyMs = now - LastRequest.TimeMs;
        // The reply's judgement, where it is not what the frame already says.
        if (status != StatusOk && status != StatusException && !(record.IsMalformed && status == StatusWrongLength))
            record.Meaning += QStringLiteral(": ") + QString::fromStdString(StatusText(status, 0));
    } else {
        for (const TEventWords& words : EventWords)
            if (words.Event == event)
                record = EventRecord(words.Kind, tr(words.Meaning));
        // Every event names where it happened, so that a switch to another module shows in any of them.
        if (Master)
            record.Meaning += QStringLiteral(" (%1)").arg(QString::fromStdString(Master->GetConnectionText()));
        record.Bytes = frame;  // what came of a reply cut off by the time-out, if anything
    }
    record.TimeMs = now;
    record.WallMs = QDateTime::currentMSecsSinceEpoch();
    emit Recorded(record);
}
