#include "ExchangeHeader.h"

#include "Dialogs.h"

#include <QCoreApplication>

#include <limits>

#ifndef KORVEL_PRODUCT_VERSION
#define KORVEL_PRODUCT_VERSION ""
#endif

namespace {
const QString SecondFormat = QStringLiteral("dd.MM.yyyy hh:mm:ss");
constexpr qint64 MsPerSecond = 1000;
// The first line of every header, which a reader of a long trace looks for.
const QString RunMark = QStringLiteral("# ====");
constexpr int SecondsPerMinute = 60;
constexpr int MinutesPerHour = 60;

// "+03:00": the rows' times are local, and a trace may be read in another time zone.
QString UtcOffsetText(const QDateTime& time)
{
    const int offset = time.offsetFromUtc() / SecondsPerMinute;
    const int minutes = offset < 0 ? -offset : offset;
    return QStringLiteral("%1%2:%3")
        .arg(QChar(offset < 0 ? u'-' : u'+'))
        .arg(minutes / MinutesPerHour, 2, 10, QChar(u'0'))
        .arg(minutes % MinutesPerHour, 2, 10, QChar(u'0'));
}
}  // namespace

QStringList ExchangeHeaderLines(const TExchangeConnection& connection, const QDateTime& now)
{
    const auto text = [](const char* source) { return QCoreApplication::translate("TExchangeHeader", source); };
    return {
        RunMark + ' ' + QString::fromUtf8(ApplicationTitle) + ' ' + QStringLiteral(KORVEL_PRODUCT_VERSION),
        QStringLiteral("# ") +
            text("Дата: %1 (UTC%2)").arg(ExchangeClockText(now.toMSecsSinceEpoch()), UtcOffsetText(now)),
        QStringLiteral("# ") + text("Модуль: %1:%2, ожидание ответа %3 мс, передач запроса %4")
                                   .arg(connection.Address)
                                   .arg(connection.Port)
                                   .arg(connection.TimeoutMs)
                                   .arg(connection.Transmissions),
    };
}

QString ExchangeClockText(qint64 msSinceEpoch)
{
    // Working out a local time costs microseconds, more than the rest of a frame's record: the
    // text of the second is kept for the frames within it.
    static qint64 shownSecond = std::numeric_limits<qint64>::min();
    static QString shownText;
    const qint64 second = msSinceEpoch / MsPerSecond - (msSinceEpoch % MsPerSecond < 0 ? 1 : 0);
    if (second != shownSecond) {
        shownText = QDateTime::fromSecsSinceEpoch(second).toString(SecondFormat);
        shownSecond = second;
    }
    return shownText + QStringLiteral(".%1").arg(msSinceEpoch - second * MsPerSecond, 3, 10, QChar(u'0'));
}
