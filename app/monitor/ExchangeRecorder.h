#pragma once
// Turns what the master traces into records of the exchange, timed from the first one, for the
// exchange monitor and the trace file. Attached to the master only while one of them listens.

#include "ExchangeRecord.h"
#include "ModbusMaster.h"

#include <QElapsedTimer>
#include <QObject>

class TExchangeRecorder : public QObject, public TModbusTraceSink {
    Q_OBJECT

public:
    explicit TExchangeRecorder(QObject* parent = nullptr);

    void Trace(TModbusTraceEvent event, const uint8_t* bytes, int count, uint8_t status) override;

    // The master traced: its connection events name its address and port, so that a switch to
    // another module shows in the rows.
    const TModbusMaster* Master = nullptr;

signals:
    void Recorded(const TExchangeRecord& record);

private:
    double Now();

    QElapsedTimer Clock;
    TExchangeRecord LastRequest;
    bool HasRequest = false;
};
