// A real Prometheus server scraping korvel-exporter over three simulated modules with meters, set
// up from the example configuration the package ships: what Prometheus stores, read back through
// its query API, is the meters' documented values; a module that stops is down from the first
// scrape after; a configuration changed in a module shows as drift from its reference.
#include "ExporterProgram.h"
#include "SimMeters.h"
#include "WholeFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>

namespace {

constexpr auto Patience = std::chrono::seconds(60);

quint16 FreePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

double NowSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The example with its addresses and times replaced by this test's; each replacement must find its
// text, so that a changed example is noticed here.
QByteArray Replace(QByteArray text, const QByteArray& from, const QByteArray& to)
{
    EXPECT_TRUE(text.contains(from)) << from.toStdString();
    return text.replace(from, to);
}

class PrometheusTest : public testing::Test {
protected:
    void SetUp() override
    {
        Prometheus = QStandardPaths::findExecutable("prometheus");
        if (Prometheus.isEmpty())
            GTEST_SKIP() << "the prometheus program is not installed (Debian package prometheus; scripts/bootstrap "
                            "installs it)";
        ASSERT_TRUE(Folder.isValid());
        ASSERT_TRUE(QDir().mkpath(Folder.filePath("maps")) && QDir().mkpath(Folder.filePath("configs")));
        ASSERT_TRUE(QFile::copy(KORVEL_SHIPPED_MAP, Folder.filePath("maps/module-sim-meters.csv")));
        ASSERT_EQ(WriteWholeFile(Folder.filePath("configs/reference.ini").toStdString(),
                                 "[CHANNEL_0]\r\nBAUDRATE=115200\r\nPARITY=2\r\n"),
                  TFileWriteResult::Written);
        for (auto& module : Modules) {
            module = std::make_unique<TModuleSimServer>();
            AddMeters(*module, {{0, 5}, {0, 17}, {1, 30}});
            ASSERT_TRUE(module->Listen(QHostAddress::LocalHost, 0));
        }
        ASSERT_TRUE(Exporter.Start({"--maps", Folder.filePath("maps"), "--configs", Folder.filePath("configs")}));
    }

    void TearDown() override
    {
        if (Server.state() != QProcess::NotRunning) {
            Server.terminate();
            if (!Server.waitForFinished(10000))
                Server.kill();
        }
    }

    QByteArray Instance(int module) const { return "127.0.0.1:" + QByteArray::number(Ports[module]); }

    // Prometheus with the shipped example, scraping every second.
    void StartPrometheus()
    {
        for (int i = 0; i < 3; ++i)
            Ports[i] = Modules[i]->Port();
        QFile example(KORVEL_EXAMPLE_PROMETHEUS_YML);
        ASSERT_TRUE(example.open(QIODevice::ReadOnly));
        QByteArray config = example.readAll();
        config = Replace(config, "scrape_interval: 30s", "scrape_interval: 1s");
        config = Replace(config, "scrape_timeout: 10s", "scrape_timeout: 1s");
        config = Replace(config, "127.0.0.1:9502", "127.0.0.1:" + QByteArray::number(Exporter.Port));
        config = Replace(config, "config: [cabinet3]", "config: [reference]");
        config = Replace(config, "          - 10.20.3.11:502\n          - 10.20.3.12:502\n",
                         "          - " + Instance(0) + "\n          - " + Instance(1) + "\n          - " +
                             Instance(2) + "\n");
        ASSERT_EQ(WriteWholeFile(Folder.filePath("prometheus.yml").toStdString(), config.toStdString()),
                  TFileWriteResult::Written);
        ASSERT_TRUE(QFile::copy(KORVEL_EXAMPLE_ALERTS_YML, Folder.filePath("korvel-alerts.yml")));
        WebPort = FreePort();
        ASSERT_NE(WebPort, 0);
        Server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Server.start(Prometheus, {"--config.file=" + Folder.filePath("prometheus.yml"),
                                  "--storage.tsdb.path=" + Folder.filePath("data"),
                                  QString("--web.listen-address=127.0.0.1:%1").arg(WebPort), "--log.level=warn"});
        ASSERT_TRUE(Server.waitForStarted());
        ASSERT_TRUE(WaitUntil([&] { return Api("/-/ready").Status == 200 || Server.state() == QProcess::NotRunning; },
                              Patience));
        ASSERT_EQ(Server.state(), QProcess::Running);
    }

    THttpAnswer Api(const QString& pathAndQuery)
    {
        QNetworkRequest request(QUrl(QString("http://127.0.0.1:%1%2").arg(WebPort).arg(pathAndQuery)));
        std::unique_ptr<QNetworkReply> reply(Network.get(request));
        WaitUntil([&] { return reply->isFinished(); }, std::chrono::seconds(10));
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    }

    // The samples Prometheus holds of a series over the last minute: (time, value), oldest first.
    std::vector<std::pair<double, double>> Samples(const QString& series)
    {
        QUrlQuery query;
        query.addQueryItem("query", series + "[1m]");
        const THttpAnswer answer = Api("/api/v1/query?" + query.toString(QUrl::FullyEncoded));
        std::vector<std::pair<double, double>> samples;
        const QJsonArray result = QJsonDocument::fromJson(answer.Body)["data"]["result"].toArray();
        if (result.size() == 1)
            for (const QJsonValue& sample : result[0]["values"].toArray())
                samples.emplace_back(sample[0].toDouble(), sample[1].toString().toDouble());
        return samples;
    }

    // The value of the first sample scraped after the time given, once Prometheus has one.
    std::optional<double> FirstSampleAfter(const QString& series, double time)
    {
        std::optional<double> value;
        WaitUntil(
            [&] {
                for (const auto& [at, v] : Samples(series))
                    if (at > time) {
                        value = v;
                        return true;
                    }
                return false;
            },
            Patience);
        return value;
    }

    QString Prometheus;
    QTemporaryDir Folder;
    std::unique_ptr<TModuleSimServer> Modules[3];
    quint16 Ports[3] = {};
    TExporterProgram Exporter;
    QProcess Server;
    quint16 WebPort = 0;
    QNetworkAccessManager Network;
};

}  // namespace

TEST_F(PrometheusTest, StoresTheMetersValuesAModuleDownAndADrift)
{
    StartPrometheus();
    const double start = NowSeconds();
    const QString meter = "korvel_point_value{instance=\"" + Instance(0) + "\",point=\"%1\"}";
    // The documented values at t = 0: 230 V on every meter, its unit in holding register 0.
    EXPECT_EQ(FirstSampleAfter(meter.arg("m5_U1"), start), 230);
    EXPECT_EQ(FirstSampleAfter(meter.arg("m17_address"), start), 17);
    EXPECT_EQ(FirstSampleAfter(meter.arg("m30_address"), start), 30);
    const QString drifted = "korvel_module_config_drifted{instance=\"" + Instance(1) + "\",config=\"reference\"}";
    EXPECT_EQ(FirstSampleAfter(drifted, start), 0);

    // Channel 1 at 9600 baud: no longer the reference.
    TModuleConfig changed = Modules[1]->Config();
    changed.Channels[0].BaudIndex = 4;
    LoadConfig(*Modules[1], changed);
    EXPECT_EQ(FirstSampleAfter(drifted, NowSeconds()), 1);

    // The first scrape that starts after the module has gone finds it down.
    const QString up = "korvel_module_up{instance=\"" + Instance(2) + "\"}";
    EXPECT_EQ(FirstSampleAfter(up, start), 1);
    Modules[2].reset();
    EXPECT_EQ(FirstSampleAfter(up, NowSeconds()), 0);
    // The others go on.
    EXPECT_EQ(FirstSampleAfter("korvel_module_up{instance=\"" + Instance(0) + "\"}", NowSeconds()), 1);

    // The example's alert rules are loaded.
    const QJsonArray groups = QJsonDocument::fromJson(Api("/api/v1/rules").Body)["data"]["groups"].toArray();
    ASSERT_EQ(groups.size(), 1);
    EXPECT_EQ(groups[0]["rules"].toArray().size(), 5);
}
