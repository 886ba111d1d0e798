// The exporter and korvel-cli on the same map and the same simulated module, its meters' clock held
// still: every point has the same value and status in both, and one cycle takes the same requests
// (the exporter's one more: the module's own blocks).
#include "CliRun.h"
#include "ExporterProgram.h"
#include "SimMeters.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The exporter's status of a point, as korvel-cli's JSON tells it: its status word and exception.
QByteArray ExporterStatus(const QJsonObject& point)
{
    const QString status = point["status"].toString();
    if (status != "exception")
        return status == "ok" ? "status=\"ok\"" : "status=\"no_answer\"";
    const int code = point["exception"].toInt();
    const QByteArray word = code == 10 ? "gateway_path" : code == 11 ? "gateway_target" : "exception";
    return "status=\"" + word + "\",exception=\"" + QByteArray::number(code) + "\"";
}

}  // namespace

TEST(ExporterCliAgreement, EveryPointHasTheSameValueAndStatusInOneCycleOfTheSameRequests)
{
    if (!RunCli({"help", "poll"}).Out.contains("--map"))
        GTEST_SKIP() << "this korvel-cli has no poll --map yet";
    TModuleSimServer module;
    // The shipped map's three meters, one of them missing: its points fail with 0x0B in both.
    AddMeters(module, {{0, 5}, {1, 30}});
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    QTemporaryDir maps;
    ASSERT_TRUE(QFile::copy(KORVEL_SHIPPED_MAP, maps.filePath("meters.csv")));
    TExporterProgram exporter;
    ASSERT_TRUE(exporter.Start({"--maps", maps.path()}));
    const QString host = QString("127.0.0.1:%1").arg(module.Port());

    const THttpAnswer page = exporter.Get("/probe?target=" + host + "&map=meters");
    ASSERT_EQ(page.Status, 200);
    const TRun run = RunCli({"poll", host, "--map", maps.filePath("meters.csv"), "--samples", "1", "--json"});
    ASSERT_EQ(run.ModuleLines().size(), 1u) << run.Out.toStdString() << run.Err.toStdString();
    const QJsonObject cycle = run.ModuleLines().front();

    EXPECT_EQ(SampleValue(page.Body, "korvel_probe_requests"), cycle["requests"].toDouble() + 1);
    const QJsonArray points = cycle["points"].toArray();
    ASSERT_EQ(points.size(), 60);
    int compared = 0;
    for (const QJsonValue& value : points) {
        const QJsonObject point = value.toObject();
        const QByteArray name = point["name"].toString().toUtf8();
        const QByteArray device = name.mid(1, name.indexOf('_') - 1);
        const QByteArray labels = "{point=\"" + name + "\",device=\"" + device + "\"";
        EXPECT_EQ(SampleValue(page.Body, "korvel_point_status" + labels + "," + ExporterStatus(point) + "}"), 1)
            << name.toStdString();
        if (point["value"].isDouble()) {
            ++compared;
            EXPECT_EQ(SampleValue(page.Body, "korvel_point_value" + labels + ",units=\"" +
                                                 point["units"].toString().toUtf8() + "\"}"),
                      point["value"].toDouble())
                << name.toStdString();
        }
    }
    EXPECT_GT(compared, 30);
}
