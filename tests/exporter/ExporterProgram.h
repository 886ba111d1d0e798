#pragma once
// korvel-exporter started as a service manager starts it, on a port the system picks (which it
// announces on its first line), and asked over HTTP as Prometheus asks it.

#include "Wait.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <limits>
#include <memory>

struct THttpAnswer {
    int Status = 0;  // 0: no answer came
    QByteArray Body;
};

class TExporterProgram {
public:
    ~TExporterProgram()
    {
        Process.kill();
        Process.waitForFinished();
    }

    // Starts the program with the options; false when it did not say where it listens.
    bool Start(const QStringList& options)
    {
        Process.start(KORVEL_EXPORTER, QStringList{"--listen", "127.0.0.1:0"} + options);
        if (!Process.waitForStarted())
            return false;
        const QRegularExpression listening("listening on 127\\.0\\.0\\.1:(\\d+)");
        QString output;
        WaitUntil([&] {
            output += QString::fromUtf8(Process.readAllStandardOutput());
            Port = quint16(listening.match(output).captured(1).toUInt());
            return Port != 0 || Process.state() == QProcess::NotRunning;
        });
        return Port != 0;
    }

    // Starts the request; the reply is the caller's.
    QNetworkReply* Send(const QString& pathAndQuery, double scrapeTimeoutSeconds = 0)
    {
        QNetworkRequest request(QUrl(QString("http://127.0.0.1:%1%2").arg(Port).arg(pathAndQuery)));
        if (scrapeTimeoutSeconds > 0)
            request.setRawHeader("X-Prometheus-Scrape-Timeout-Seconds", QByteArray::number(scrapeTimeoutSeconds));
        return Network.get(request);
    }

    THttpAnswer Get(const QString& pathAndQuery, double scrapeTimeoutSeconds = 0)
    {
        std::unique_ptr<QNetworkReply> reply(Send(pathAndQuery, scrapeTimeoutSeconds));
        EXPECT_TRUE(WaitUntil([&] { return reply->isFinished(); }, std::chrono::seconds(30)))
            << pathAndQuery.toStdString();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    }

    QProcess Process;
    quint16 Port = 0;
    QNetworkAccessManager Network;
};

// The value of the sample of a page whose series (name and labels, as the page writes them) is
// given, or NaN when the page has none.
inline double SampleValue(const QByteArray& page, const QByteArray& series)
{
    for (const QByteArray& line : page.split('\n')) {
        const qsizetype space = line.lastIndexOf(' ');
        if (!line.startsWith('#') && space > 0 && line.left(space) == series)
            return line.mid(space + 1).toDouble();
    }
    return std::numeric_limits<double>::quiet_NaN();
}
