#pragma once
// The lines that open a saved capture and each run of a trace file: the program and its version,
// the date, and where and how the module was reached, so that a file sent for support says what it
// came from, and a second run appended to a trace stands apart from the first.

#include <QDateTime>
#include <QString>
#include <QStringList>

struct TExchangeConnection {
    QString Address;
    int Port = 0;
    int TimeoutMs = 0;
    int Transmissions = 0;
};

// Each line starts with "#", which no row of the exchange does.
QStringList ExchangeHeaderLines(const TExchangeConnection& connection, const QDateTime& now);

// "07.12.2026 20:25:00.123", local time: the wall-clock time of a row, in the window and in the
// files alike.
QString ExchangeClockText(qint64 msSinceEpoch);
