// korvel-cli with register maps, as a script runs it: the shipped map polled through a simulated
// module with three meters (its clock held still), the same rows as the library's own poll gives,
// stale values when the module falls silent, a bad map refused with every error and nothing sent,
// a unit search on several modules at once, and the report's section on the devices.
#include "CliFleetTest.h"
#include "CliRun.h"
#include "MapPoll.h"
#include "ModuleDefaults.h"
#include "ModuleRegisters.h"
#include "PointLog.h"
#include "RegisterMapFile.h"
#include "ScriptedServer.h"
#include "SimLines.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <map>

namespace {

constexpr TSerialSettings Factory{FactoryChannelDefaults.BaudIndex, FactoryChannelDefaults.Parity,
                                  FactoryChannelDefaults.StopBits};

const QString ShippedMap = KORVEL_SIM_METERS_MAP;

// A module with meters on its lines, the channels waiting 5 ms for a device, the clock at 15 s.
void StartModule(TModuleSimServer& module, const std::vector<std::pair<int, int>>& meters)
{
    TModuleConfig config = FactoryDefaults;
    for (TChannelConfig& channel : config.Channels)
        channel.Timeout = 5;
    const TConfigImage image = BuildConfigImage(config);
    for (size_t k = 0; k < image.size(); ++k)
        module.SetRegister(ConfigFirstRegister + int(k), image[k]);
    for (const auto& [channel, unit] : meters)
        ASSERT_TRUE(module.Lines().AddDevice(TSimDevice(channel, uint8_t(unit), Factory)));
    module.Lines().FreezeClock(15);
    module.Lines().SetLineTimeFactor(0);
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
}

QString Host(const TModuleSimServer& module)
{
    return QString("127.0.0.1:%1").arg(module.Port());
}

// A CSV row without its time, which no two polls share.
QString WithoutTime(const QString& row)
{
    return row.mid(row.indexOf(','));
}

// korvel-cli without the common --timeout of RunCli, for a command that sends nothing.
TRun RunOffline(const QStringList& arguments)
{
    QProcess program;
    program.start(KORVEL_CLI, arguments);
    TRun run;
    EXPECT_TRUE(program.waitForFinished());
    run.Exit = program.exitCode();
    run.Out = program.readAllStandardOutput();
    run.Err = program.readAllStandardError();
    return run;
}

QJsonObject PointNamed(const QJsonObject& line, const QString& name)
{
    for (const QJsonValue& point : line["points"].toArray())
        if (point.toObject()["name"] == name)
            return point.toObject();
    return {};
}

}  // namespace

// korvel-cli and the library's own poll read the same rows from the same module: the log format the
// window writes.
TEST(CliMap, PollGivesTheLibrarysRowsValuesAndUnits)
{
    TModuleSimServer module;
    StartModule(module, {{0, 5}, {0, 17}, {1, 30}});

    const TMapReading reading = ReadRegisterMapFile(ShippedMap.toStdString());
    ASSERT_TRUE(reading.Ok());
    TModuleClient client("127.0.0.1", module.Port(), {});
    TMapPoll poll(client);
    poll.SetPoints(reading.Map.Points);
    bool polled = false;
    poll.OnCycle = [&](const TMapCycle&) { polled = true; };
    poll.Start(-1);
    ASSERT_TRUE(WaitUntil([&] { return polled; }));

    const TRun csv = RunCli({"poll", Host(module), "--map", ShippedMap, "--samples", "1", "--csv"});
    ASSERT_EQ(csv.Exit, 0) << csv.Err.toStdString();
    const QList<QByteArray> rows = csv.Out.trimmed().split('\n');
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].toStdString(), PointLogHeader(poll.Points()));
    EXPECT_EQ(WithoutTime(QString::fromUtf8(rows[1])),
              WithoutTime(QString::fromStdString(PointLogRow("t", poll.States()))));

    const TRun json = RunCli({"poll", Host(module), "--map", ShippedMap, "--samples", "1", "--json"});
    ASSERT_EQ(json.Exit, 0) << json.Err.toStdString();
    const std::vector<QJsonObject> lines = json.ModuleLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["requests"], 6);
    EXPECT_EQ(lines[0]["points"].toArray().size(), 60);
    const QJsonObject voltage = PointNamed(lines[0], "m5_U1");
    EXPECT_EQ(voltage["value"], 240);
    EXPECT_EQ(voltage["units"], "V");
    EXPECT_EQ(voltage["status"], "ok");
    EXPECT_EQ(voltage["raw"], QJsonArray({0x4370, 0}));
    EXPECT_EQ(PointNamed(lines[0], "m30_name")["value"], "METER-030");
    EXPECT_EQ(PointNamed(lines[0], "m17_Eq")["value"], 8.5);
    EXPECT_EQ(json.JsonLines().back()["requests_per_cycle"], 6);

    const TRun people =
        RunCli({"poll", Host(module), "--map", ShippedMap, "--samples", "1", "--points", "m5_E,m5_T,m30_name"});
    ASSERT_EQ(people.Exit, 0) << people.Err.toStdString();
    EXPECT_TRUE(people.Out.contains("  m5_E = 5.001 kWh; m5_T = 2.1 °C; m30_name = METER-030\n")) << people.Out.data();
    EXPECT_TRUE(people.Out.contains("Итого: циклов 1, успешно 1, с ошибкой 0, запросов за цикл 2"))
        << people.Out.data();
}

// When the module falls silent, what was read stays with its age, marked stale, never as current;
// a point never read has no value at all.
TEST(CliMap, ASilentModuleTurnsThePointsStale)
{
    QTemporaryDir folder;
    const QString map = WriteTestFile(folder, "map.csv",
                                      "name,unit,function,address,type,scale,units\n"
                                      "U,5,input,0,float32,,V\nT,5,input,9,int16,0.1,°C\nH,6,holding,0,,,\n");
    int answered = 0;
    TScriptedServer server([&](const TScriptedRequest& request) -> TScriptedAnswer {
        // The module's configuration, read for its lines' time-out, is refused: the tool's own wait stays.
        if (request.UnitId() == ModuleUnitId)
            return {ExceptionReply(request, 0x02)};
        if (answered++ > 0)
            return {};
        return {ReadRegistersReply(request, {0x4366, 0x8000, 0, 0, 0, 0, 0, 0, 0, 215})};
    });
    ASSERT_TRUE(server.Listen());
    const TRun run = RunCli({"poll", QString("127.0.0.1:%1").arg(server.Port()), "--map", map, "--samples", "2",
                             "--interval", "0", "--retries", "0", "--json"});
    EXPECT_EQ(run.Exit, 3) << run.Err.toStdString();
    const std::vector<QJsonObject> lines = run.ModuleLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(PointNamed(lines[0], "U")["status"], "ok");
    EXPECT_EQ(PointNamed(lines[0], "H")["status"], "no_answer");
    const QJsonObject stale = PointNamed(lines[1], "T");
    EXPECT_EQ(stale["status"], "stale");
    EXPECT_EQ(stale["value"], 21.5);
    EXPECT_EQ(stale["raw"], QJsonArray({215}));
    EXPECT_GE(stale["age_ms"].toInt(), 200);
    EXPECT_EQ(stale["error"], "Нет ответа");
    EXPECT_EQ(PointNamed(lines[1], "H")["value"], QJsonValue::Null);
    // The silent module's first time-out ended the cycle: its second request was not sent.
    EXPECT_EQ(lines[1]["requests"], 1);
}

TEST(CliMap, ABadMapIsRefusedWithEveryErrorAndNothingSent)
{
    QTemporaryDir folder;
    const QString map =
        WriteTestFile(folder, "bad.csv", "# meters\nname;unit;function;address\nU;5;input;70000\nU2;0;input;0\n");
    TScriptedServer server(
        [](const TScriptedRequest& request) -> TScriptedAnswer { return {ReadRegistersReply(request, {1})}; });
    ASSERT_TRUE(server.Listen());
    const std::string errors = map.toStdString() + ": строка 3, address: 70000 вне 0..65535\n" + map.toStdString() +
                               ": строка 4, unit: 0 вне 1..247\n";

    const TRun check = RunOffline({"map", "check", map});
    EXPECT_EQ(check.Exit, 4);
    EXPECT_EQ(check.Out.toStdString(), errors + "Итого: ошибок 2, карта не принята\n");
    const TRun json = RunOffline({"map", "check", map, "--json"});
    EXPECT_EQ(json.Exit, 4);
    ASSERT_FALSE(json.JsonLines().empty());
    const QJsonArray listed = json.JsonLines().front()["errors"].toArray();
    ASSERT_EQ(listed.size(), 2);
    EXPECT_EQ(listed[0].toObject()["line"], 3);
    EXPECT_EQ(listed[0].toObject()["column"], "address");

    const QString host = QString("127.0.0.1:%1").arg(server.Port());
    const TRun poll = RunCli({"poll", host, "--map", map, "--samples", "1"});
    EXPECT_EQ(poll.Exit, 4);
    EXPECT_NE(poll.Err.toStdString().find(errors.substr(0, errors.size() - 1)), std::string::npos) << poll.Err.data();
    const struct {
        QStringList Arguments;
        const char* Message;
    } usage[] = {
        {{"--points", "U,V,W"}, "нет точек: V, W"},
        {{"--unit", "5"}, "--unit, --function, --address, --count, --type и --order с ней не применимы"},
    };
    const QString good = WriteTestFile(folder, "good.csv", "name,unit,function,address\nU,5,input,0\n");
    for (const auto& c : usage) {
        const TRun refused = RunCli(QStringList{"poll", host, "--map", good, "--samples", "1"} + c.Arguments);
        EXPECT_EQ(refused.Exit, 2) << c.Message;
        EXPECT_TRUE(refused.Err.contains(c.Message)) << refused.Err.data();
    }
    EXPECT_TRUE(server.Requests().empty());

    const TRun fine = RunOffline({"map", "check", ShippedMap});
    EXPECT_EQ(fine.Exit, 0);
    EXPECT_TRUE(fine.Out.contains(": точек 60, запросов за цикл 6\n  устройство 5, input 0..29: точек 16\n"))
        << fine.Out.data();
}

// Every module is searched at once, each one unit at a time; each has its own summary, and units
// expected but not found are named per module.
TEST(CliMap, UnitsSearchesEveryModuleAtOnceAndNamesTheMissing)
{
    TModuleSimServer first, second;
    StartModule(first, {{0, 5}, {0, 17}});
    StartModule(second, {{0, 5}});

    const TRun run = RunCli({"units", Host(first), Host(second), "--units", "4-6", "--expect", "5,17"});
    EXPECT_EQ(run.Exit, 1) << run.Err.toStdString();
    EXPECT_TRUE(run.Out.contains(Host(first).toUtf8() + "  Итого: опрошено адресов 3 из 3, найдено устройств 1 (5)\n" +
                                 Host(first).toUtf8() + "  Не найдены ожидаемые устройства: 17\n"))
        << run.Out.data();
    EXPECT_TRUE(run.Out.contains(Host(second).toUtf8() + "  Не найдены ожидаемые устройства: 17\n")) << run.Out.data();

    const TRun json = RunCli({"units", Host(first), Host(second), "--units", "16-30", "--expect", "17", "--json"});
    EXPECT_EQ(json.Exit, 1);
    const std::vector<QJsonObject> lines = json.ModuleLines();
    ASSERT_EQ(lines.size(), 32u);
    // Both searches run together: each module's first answer comes before the other's last, where one
    // after the other would tell all of one module first.
    std::map<int, std::pair<size_t, size_t>> span;  // port: its first and last line
    for (size_t i = 0; i < 30; ++i) {
        const int port = lines[i]["port"].toInt();
        span.try_emplace(port, i, i).first->second.second = i;
    }
    ASSERT_EQ(span.size(), 2u);
    EXPECT_LT(span[first.Port()].first, span[second.Port()].second);
    EXPECT_LT(span[second.Port()].first, span[first.Port()].second);
    for (const QJsonObject& line : {lines[30], lines[31]}) {
        const bool hasIt = line["port"] == first.Port();
        EXPECT_EQ(line["missing"], hasIt ? QJsonArray() : QJsonArray({17})) << line["port"].toInt();
        EXPECT_EQ(line["ok"], hasIt);
    }
    EXPECT_EQ(json.JsonLines().back()["ok"], false);
}

TEST(CliMap, TheReportNamesTheDevicesOnTheLines)
{
    TModuleSimServer module;
    StartModule(module, {{0, 5}, {0, 17}, {1, 30}});
    QTemporaryDir folder;
    const QString file = folder.filePath("report.html");
    const TRun run = RunCli({"report", Host(module), "--map", ShippedMap, "--units", "16-18", "-o", file});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    QFile html(file);
    ASSERT_TRUE(html.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(html.readAll());
    EXPECT_TRUE(text.contains("Устройства на линии"));
    EXPECT_TRUE(text.contains("17 (опрошены адреса 16-18)"));
    EXPECT_TRUE(text.contains("<td>m5_U1</td><td>5</td><td>240</td><td>V</td><td>считано</td>")) << text.toStdString();
    EXPECT_TRUE(text.contains("<td>m30_name</td><td>30</td><td>METER-030</td>"));

    const TRun refused = RunCli({"report", ShippedMap, "--map", ShippedMap, "-o", file});
    EXPECT_EQ(refused.Exit, 2);
}
