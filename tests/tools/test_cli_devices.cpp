// korvel-cli's poll, units and set as a script runs them: the real program against a simulated
// module in this process with meters on its lines, their clock held still so that every value is
// known. JSON output is parsed back.
#include "CliFleetTest.h"
#include "CliRun.h"
#include "ModuleDefaults.h"
#include "ModuleRegisters.h"
#include "ModuleSimServer.h"
#include "SimLines.h"

#include <QJsonArray>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

namespace {

constexpr TSerialSettings Factory{FactoryChannelDefaults.BaudIndex, FactoryChannelDefaults.Parity,
                                  FactoryChannelDefaults.StopBits};
constexpr TSerialSettings Slow{4, 0, 0};  // 9600 N 1

class CliDevicesTest : public testing::Test {
protected:
    // Starts the module with the devices and the configuration; the channels wait lineTimeoutMs for
    // a device.
    void Start(const std::vector<TSimDevice>& devices, TModuleConfig config = FactoryDefaults, int lineTimeoutMs = 5)
    {
        for (TChannelConfig& channel : config.Channels)
            channel.Timeout = uint16_t(lineTimeoutMs);
        const TConfigImage image = BuildConfigImage(config);
        for (size_t k = 0; k < image.size(); ++k)
            Module.SetRegister(ConfigFirstRegister + int(k), image[k]);
        for (const TSimDevice& device : devices)
            ASSERT_TRUE(Module.Lines().AddDevice(device));
        Module.Lines().FreezeClock(0);
        Module.Lines().SetLineTimeFactor(0);
        ASSERT_TRUE(Module.Listen(QHostAddress::LocalHost, 0));
    }

    QString Host() const { return QString("127.0.0.1:%1").arg(Module.Port()); }

    TModuleSimServer Module;
};

QJsonArray Json(std::initializer_list<QJsonValue> values)
{
    return QJsonArray(values);
}

}  // namespace

// The values of the meter at t = 0 as its documentation states them, read with each function.
TEST_F(CliDevicesTest, PollShowsTheDocumentedValues)
{
    Start({TSimDevice(0, 5, Factory)});
    const struct {
        QStringList Arguments;
        QJsonArray Values;
    } cases[] = {
        // voltage 230, current 5 + 5/10, power their product
        {{"--function", "4", "--address", "0", "--count", "6", "--type", "float32"}, Json({230, 5.5, 1265})},
        {{"--function", "4", "--address", "6", "--type", "uint32"}, Json({5000})},
        {{"--function", "4", "--address", "9", "--type", "int16"}, Json({-50})},
        {{"--function", "4", "--address", "10", "--type", "float64"}, Json({50})},
        {{"--address", "0", "--count", "3"}, Json({5, 0x4248, 0})},
        {{"--address", "1", "--type", "float32"}, Json({50})},
        {{"--address", "8", "--count", "5", "--type", "ascii"}, Json({"METER-005"})},
        {{"--function", "1", "--address", "0", "--count", "2"}, Json({true, false})},
        {{"--function", "2", "--address", "0", "--count", "2"}, Json({false, false})},
    };
    for (const auto& c : cases) {
        const TRun run = RunCli(
            QStringList{"--json", "poll", Host(), "--unit", "5", "--samples", "2", "--interval", "0"} + c.Arguments);
        ASSERT_EQ(run.Exit, 0) << c.Arguments.join(' ').toStdString() << run.Err.toStdString();
        const auto lines = run.JsonLines();
        ASSERT_EQ(lines.size(), 3u) << run.Out.toStdString();
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(lines[i]["values"].toArray(), c.Values)
                << c.Arguments.join(' ').toStdString() << ": " << run.Out.toStdString();
            EXPECT_EQ(lines[i]["unit"].toInt(), 5);
            EXPECT_TRUE(lines[i]["ok"].toBool());
        }
        EXPECT_EQ(lines[2]["succeeded"].toInt(), 2);
    }
}

TEST_F(CliDevicesTest, UnitsFindsExactlyTheDevicesPresent)
{
    Start({TSimDevice(0, 5, Factory), TSimDevice(0, 17, Factory), TSimDevice(1, 30, Factory)});
    const TRun run = RunCli({"--json", "units", Host(), "--units", "1-40"});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    const auto lines = run.JsonLines();
    ASSERT_EQ(lines.size(), 41u);
    std::vector<int> found;
    for (size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(lines[i]["unit"].toInt(), int(i + 1));
        if (lines[i]["found"].toBool())
            found.push_back(lines[i]["unit"].toInt());
        else
            EXPECT_EQ(lines[i]["exception"].toInt(), 0x0B);
    }
    EXPECT_EQ(found, (std::vector<int>{5, 17, 30}));
    EXPECT_EQ(lines[40]["found"].toArray(), Json({5, 17, 30}));
    EXPECT_FALSE(lines[40].contains("hint"));
}

// The wrong baud rate and parity on the device's side: the module answers for it with 0x0B, and a
// search that finds nothing names the channels' settings as the first thing to check.
TEST_F(CliDevicesTest, OtherSerialSettingsGiveTargetFailedAndTheChannelSettings)
{
    Start({TSimDevice(0, 5, Slow)});
    const TRun poll = RunCli({"--json", "poll", Host(), "--unit", "5", "--address", "0", "--samples", "1"});
    EXPECT_EQ(poll.Exit, 3);
    ASSERT_FALSE(poll.JsonLines().empty());
    EXPECT_EQ(poll.JsonLines()[0]["reason"].toString(), "gateway_target");
    EXPECT_EQ(poll.JsonLines()[0]["exception"].toInt(), 0x0B);
    EXPECT_EQ(poll.JsonLines()[0]["exception_name"].toString(), "устройство на линии не ответило");

    const TRun units = RunCli({"units", Host(), "--units", "4-6"});
    EXPECT_EQ(units.Exit, 0) << units.Err.toStdString();
    EXPECT_TRUE(units.Out.contains("найдено устройств 0")) << units.Out.toStdString();
    EXPECT_TRUE(units.Out.contains("Канал 1: Ведущий, Скорость 115200, Паритет EVEN, Стоп-биты 2"))
        << units.Out.toStdString();
}

// The module waits 600 ms on its line, longer than the tool's 200 ms: a request to an absent unit
// still ends in the module's own 0x0B, sent once, with the channels' settings to check, for poll and
// set alike.
TEST_F(CliDevicesTest, RequestsToUnitsWaitForTheLinesOwnTimeout)
{
    Start({TSimDevice(0, 5, Factory)}, FactoryDefaults, 600);
    const QStringList commands[] = {
        {"poll", Host(), "--unit", "9", "--address", "0", "--samples", "1"},
        {"set", Host(), "--unit", "9", "--address", "0", "7"},
    };
    for (const QStringList& command : commands) {
        SCOPED_TRACE(command.join(' ').toStdString());
        const int requestsBefore = Module.RequestCount();
        const TRun json = RunCli(QStringList{"--json"} + command);
        // The module's own registers are asked once a run: its configuration.
        EXPECT_EQ(Module.RequestCount() - requestsBefore, 1);
        EXPECT_EQ(json.Exit, 3);
        ASSERT_FALSE(json.ModuleLines().empty()) << json.Out.toStdString();
        const QJsonObject line = json.ModuleLines()[0];
        EXPECT_EQ(line["reason"].toString(), "gateway_target") << json.Out.toStdString();
        EXPECT_GE(line["ms"].toDouble(), 600);
        EXPECT_TRUE(line["hint"].toString().startsWith("Проверьте настройки каналов модуля: Канал 1: Ведущий, "
                                                       "Скорость 115200, Паритет EVEN, Стоп-биты 2; Канал 2:"))
            << json.Out.toStdString();
        const TRun people = RunCli(command);
        EXPECT_TRUE(people.Out.contains("устройство на линии не ответило. Проверьте настройки каналов модуля: Канал 1"))
            << people.Out.toStdString();
    }

    // A register map's points wait the same way.
    QTemporaryDir folder;
    const QString map = WriteTestFile(folder, "absent.csv", "name,unit,function,address\nabsent,9,holding,0\n");
    const int requestsBefore = Module.RequestCount();
    const TRun mapped = RunCli({"--json", "poll", Host(), "--map", map, "--samples", "1"});
    EXPECT_EQ(Module.RequestCount() - requestsBefore, 1);
    ASSERT_FALSE(mapped.JsonLines().empty()) << mapped.Out.toStdString();
    const QJsonObject point = mapped.JsonLines()[0]["points"].toArray()[0].toObject();
    EXPECT_EQ(point["status"].toString(), "exception") << mapped.Out.toStdString();
    EXPECT_EQ(point["exception"].toInt(), 0x0B) << mapped.Out.toStdString();
}

// A module that is not there is told once, not waited out for every unit.
TEST(CliDevices, UnitsOfAModuleThatDoesNotAnswerEndsAtOnce)
{
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QString host = QString("127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    const TRun run = RunCli({"--json", "units", host});
    EXPECT_EQ(run.Exit, 3);
    const auto lines = run.JsonLines();
    ASSERT_EQ(lines.size(), 2u) << run.Out.toStdString();
    EXPECT_FALSE(lines[0]["ok"].toBool());
    EXPECT_EQ(lines[1]["interrupted"].toInt(), 247);

    // People get a summary too; a poll that never got an answer tells no latency, not one of 0 ms.
    const TRun people = RunCli({"units", host, "--units", "1-3"});
    EXPECT_TRUE(people.Out.contains("Итого: опрошено адресов 0 из 3, модуль не ответил")) << people.Out.toStdString();
    const QStringList poll{"poll", host, "--unit", "5", "--address", "0", "--samples", "1"};
    const TRun polled = RunCli(QStringList{"--json"} + poll);
    ASSERT_FALSE(polled.JsonLines().empty());
    const QJsonArray latency = polled.JsonLines().back()["latency"].toArray();
    ASSERT_EQ(latency.size(), 1);
    EXPECT_EQ(latency[0].toObject().keys(), QStringList({"host", "port"}));
    const TRun pollPeople = RunCli(poll);
    EXPECT_TRUE(pollPeople.Out.contains("Итого: опросов 1, успешно 0, с ошибкой 1\n")) << pollPeople.Out.toStdString();
}

TEST_F(CliDevicesTest, SlaveChannelGivesPathUnavailable)
{
    TModuleConfig config = FactoryDefaults;
    config.Channels[0].SlaveAddress = 1;
    config.Channels[1].SlaveAddress = 2;
    Start({TSimDevice(0, 5, Factory)}, config);
    const TRun poll = RunCli({"--json", "poll", Host(), "--unit", "5", "--address", "0", "--samples", "1"});
    EXPECT_EQ(poll.Exit, 3);
    ASSERT_FALSE(poll.JsonLines().empty());
    EXPECT_EQ(poll.JsonLines()[0]["reason"].toString(), "gateway_path");
    EXPECT_EQ(poll.JsonLines()[0]["exception_name"].toString(), "нет пути к линии");

    const TRun units = RunCli({"--json", "units", Host(), "--units", "5-5"});
    ASSERT_EQ(units.JsonLines().size(), 2u);
    EXPECT_EQ(units.JsonLines()[0]["exception"].toInt(), 0x0A);
    EXPECT_TRUE(units.JsonLines()[1]["hint"].toString().contains("Канал 1: Ведомый"));
}

// A write lands in the device's registers and is read back; a value its type cannot hold writes
// nothing.
TEST_F(CliDevicesTest, SetChangesTheDeviceRegisters)
{
    Start({TSimDevice(0, 5, Factory)});
    const TSimDevice* device = Module.Lines().Device(0, 5);
    ASSERT_NE(device, nullptr);

    TRun run = RunCli(
        {"--json", "set", Host(), "--unit", "5", "--address", "1", "--type", "float32", "--order", "CDAB", "-12.5"});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.JsonLines()[0]["verified"].toBool());
    EXPECT_EQ(run.JsonLines()[0]["function"].toInt(), 16);
    EXPECT_EQ(device->HoldingRegister(1), 0x0000);  // -12.5 is 0xC1480000, low word first
    EXPECT_EQ(device->HoldingRegister(2), 0xC148);

    run = RunCli({"set", Host(), "--unit", "5", "--address", "20", "--type", "int16", "-7"});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    EXPECT_EQ(device->HoldingRegister(20), 0xFFF9);

    run = RunCli({"set", Host(), "--unit", "5", "--address", "3", "--coil", "1"});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    EXPECT_TRUE(device->Coil(3));

    run = RunCli({"set", Host(), "--unit", "5", "--address", "21", "--type", "int16", "40000"});
    EXPECT_EQ(run.Exit, 2);
    EXPECT_EQ(device->HoldingRegister(21), 0);

    run = RunCli({"--json", "set", Host(), "--unit", "5", "--address", "500", "7"});
    EXPECT_EQ(run.Exit, 3);
    EXPECT_EQ(run.JsonLines()[0]["exception"].toInt(), 2);
}

// 64-bit integers written and read back in each order: a JSON number while a double holds the value
// exactly, its decimal text beyond, so that no reader rounds it.
TEST_F(CliDevicesTest, SixtyFourBitValuesReadBackExactly)
{
    Start({TSimDevice(0, 5, Factory)});
    const struct {
        const char* Type;
        const char* Order;
        const char* Text;
        QJsonValue Json;
    } cases[] = {
        {"uint64", "ABCD", "18446744073709551615", "18446744073709551615"},
        {"uint64", "DCBA", "9007199254740992", qint64(9007199254740992)},
        {"uint64", "CDAB", "9007199254740993", "9007199254740993"},
        {"int64", "ABCD", "-9223372036854775808", "-9223372036854775808"},
        {"int64", "BADC", "-9007199254740992", qint64(-9007199254740992)},
        {"int64", "ABCD", "-5", -5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Type) + " " + c.Order + " " + c.Text);
        const QStringList format{"--unit", "5", "--address", "30", "--type", c.Type, "--order", c.Order};
        TRun run = RunCli(QStringList{"set", Host()} + format + QStringList{c.Text});
        ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
        run = RunCli(QStringList{"--json", "poll", Host(), "--samples", "1"} + format);
        ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
        EXPECT_EQ(run.JsonLines()[0]["values"].toArray(), Json({c.Json})) << run.Out.toStdString();
        run = RunCli(QStringList{"poll", Host(), "--samples", "1"} + format);
        EXPECT_TRUE(run.Out.contains(QByteArray(" ") + c.Text + "\n")) << run.Out.toStdString();
    }
    const TSimDevice* device = Module.Lines().Device(0, 5);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->HoldingRegister(30), 0xFFFF);  // -5, high word first
    EXPECT_EQ(device->HoldingRegister(33), 0xFFFB);
}

// The same meter type in several cabinets: every module is polled, each line names its module;
// CSV has a header and one row a sample.
TEST_F(CliDevicesTest, PollsEveryModuleAtOnceAndWritesCsv)
{
    Start({TSimDevice(0, 5, Factory)});
    TModuleSimServer second;
    second.Lines().AddDevice(TSimDevice(0, 5, Factory));
    second.Lines().FreezeClock(0);
    ASSERT_TRUE(second.Listen(QHostAddress::LocalHost, 0));
    const QString secondHost = QString("127.0.0.1:%1").arg(second.Port());

    TRun run = RunCli(
        {"--json", "poll", Host(), secondHost, "--unit", "5", "--address", "0", "--samples", "2", "--interval", "0"});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    std::map<int, int> samples;
    for (const QJsonObject& line : run.JsonLines())
        if (line["command"] == "poll")
            ++samples[line["port"].toInt()];
    EXPECT_EQ(samples, (std::map<int, int>{{Module.Port(), 2}, {second.Port(), 2}}));

    run = RunCli({"poll", Host(), "--unit", "5", "--address", "1", "--count", "4", "--type", "float32", "--samples",
                  "1", "--csv"});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    const QList<QByteArray> rows = run.Out.trimmed().split('\n');
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0], "time,host,port,unit,function,address,raw_0,raw_1,raw_2,raw_3,value_0,value_1,error");
    EXPECT_TRUE(rows[1].endsWith(",5,3,1,16968,0,0,0,50,0,")) << rows[1].toStdString();
}

// A pipe to another program takes the samples a block at a time, but never holds one back until the
// next: a slow poll read through a pipe is still seen as it goes, whatever the output's form.
TEST_F(CliDevicesTest, ASampleReachesAPipeBeforeTheNextIsTaken)
{
    Start({TSimDevice(0, 5, Factory)});
    const struct {
        QStringList Form;
        QByteArray SampleMark;  // in every sample's line and nowhere else
    } forms[] = {{{}, " = "}, {{"--json"}, "\"values\""}, {{"--csv"}, ",5,3,0,"}};
    for (const auto& form : forms) {
        QProcess program;
        program.start(KORVEL_CLI, form.Form + QStringList{"poll", Host(), "--unit", "5", "--address", "0", "--samples",
                                                          "3", "--interval", "1000"});
        QByteArray out;
        const auto samples = [&] {
            out += program.readAllStandardOutput();
            return out.count(form.SampleMark);
        };
        EXPECT_TRUE(WaitUntil([&] { return samples() >= 1; }, std::chrono::seconds(10)))
            << form.Form.join(' ').toStdString() << ": " << out.toStdString();
        EXPECT_EQ(samples(), 1) << form.Form.join(' ').toStdString() << ": the first came only with the second";
        EXPECT_EQ(program.state(), QProcess::Running);
        program.terminate();
        EXPECT_TRUE(WaitUntil([&] { return program.state() == QProcess::NotRunning; }, std::chrono::seconds(10)));
    }
}
