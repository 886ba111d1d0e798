// korvel-exporter as Prometheus and its operators meet it: the real program against simulated
// modules in this process, asked over HTTP; every page it serves passes promtool's check.
#include "ExporterProgram.h"
#include "SimMeters.h"
#include "WholeFile.h"

#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

// The page passes `promtool check metrics`; skipped where promtool is not installed.
void ExpectPromtoolAccepts(const QByteArray& page)
{
    QProcess promtool;
    promtool.start("promtool", {"check", "metrics"});
    if (!promtool.waitForStarted())
        GTEST_SKIP() << "promtool is not installed (Debian package prometheus)";
    promtool.write(page);
    promtool.closeWriteChannel();
    ASSERT_TRUE(WaitUntil([&] { return promtool.state() == QProcess::NotRunning; }, std::chrono::seconds(30)));
    EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAll().toStdString() << "\n" << page.toStdString();
}

class ExporterTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Configs.isValid());
        LoadConfig(Module, FactoryDefaults);
        ASSERT_TRUE(Module.Listen(QHostAddress::LocalHost, 0));
    }

    void StartExporter(const QStringList& options = {})
    {
        ASSERT_TRUE(Exporter.Start(QStringList{"--configs", Configs.path()} + options))
            << Exporter.Process.readAllStandardError().toStdString();
    }

    QString Target() const { return QString("127.0.0.1:%1").arg(Module.Port()); }

    void WriteConfig(const QString& name, const std::string& text)
    {
        ASSERT_EQ(WriteWholeFile((Configs.path() + "/" + name).toStdString(), text), TFileWriteResult::Written);
    }

    QTemporaryDir Configs;
    TModuleSimServer Module;
    TExporterProgram Exporter;
};

}  // namespace

TEST_F(ExporterTest, ProbeTellsTheModuleAndItsDriftFromAReference)
{
    Module.SetVersion(1, 3);
    Module.SetMac({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
    Module.SetJumperFitted(true);
    WriteConfig("factory.ini", "[CHANNEL_0]\r\nBAUDRATE=115200\r\nPARITY=2\r\n");
    WriteConfig("slow.ini", "[CHANNEL_0]\r\nBAUDRATE=9600\r\nPARITY=0\r\n");
    StartExporter();

    const THttpAnswer same = Exporter.Get("/probe?target=" + Target() + "&config=factory");
    ASSERT_EQ(same.Status, 200) << same.Body.toStdString();
    EXPECT_EQ(SampleValue(same.Body, "korvel_module_up"), 1);
    EXPECT_EQ(SampleValue(same.Body, "korvel_module_status{status=\"ok\"}"), 1);
    EXPECT_EQ(SampleValue(same.Body, "korvel_module_info{firmware=\"1.3\",mac=\"12-34-56-78-9A-BC\"}"), 1);
    EXPECT_EQ(SampleValue(same.Body, "korvel_module_jumper_fitted"), 1);
    EXPECT_EQ(SampleValue(same.Body, "korvel_module_config_checksum_valid"), 1);
    EXPECT_EQ(SampleValue(same.Body, "korvel_module_config_drifted{config=\"factory\"}"), 0);
    EXPECT_EQ(SampleValue(same.Body, "korvel_probe_requests"), 1);
    EXPECT_EQ(SampleValue(same.Body, "korvel_probe_complete"), 1);
    ExpectPromtoolAccepts(same.Body);

    const THttpAnswer drifted = Exporter.Get("/probe?target=" + Target() + "&config=slow");
    EXPECT_EQ(SampleValue(drifted.Body, "korvel_module_config_drifted{config=\"slow\"}"), 1);
    EXPECT_EQ(SampleValue(drifted.Body, "korvel_module_config_differing_fields{config=\"slow\"}"), 2);

    // A damaged configuration: the checksum says so, and nothing was written to the module.
    Module.SetRegister(ConfigFirstRegister + 3, Module.Register(ConfigFirstRegister + 3) ^ 1);
    const int requests = Module.RequestCount();
    const THttpAnswer damaged = Exporter.Get("/probe?target=" + Target());
    EXPECT_EQ(SampleValue(damaged.Body, "korvel_module_config_checksum_valid"), 0);
    EXPECT_EQ(Module.RequestCount(), requests + 1);
}

TEST_F(ExporterTest, MapPointsAreReadInThePlannedRequestsWithTheirValuesAndStatuses)
{
    AddMeters(Module, {{0, 5}, {0, 17}});
    WriteConfig("meters.csv", "name,unit,function,address,type,count,scale,units\n"
                              "# the documented values at t = 0\n"
                              "u5,5,input,0,float32,,,V\n"
                              "e5,5,input,6,uint32,,0.001,kWh\n"
                              "t5,5,input,9,int16,,0.1,°C\n"
                              "address17,17,holding,0,uint16,,,\n"
                              "setpoint17,17,holding,1,float32,,,\n"
                              "status5,5,input,8,hex,,,\n"
                              "name17,17,holding,8,ascii,5,,\n"
                              "coil17,17,coil,0,,,,\n"
                              "beyond17,17,holding,200,uint16,,,\n"
                              "absent,40,holding,0,uint16,,,\n");
    StartExporter({"--maps", Configs.path()});
    const QString probe = "/probe?target=" + Target() + "&map=meters";
    const THttpAnswer page = Exporter.Get(probe);
    ASSERT_EQ(page.Status, 200) << page.Body.toStdString();
    ExpectPromtoolAccepts(page.Body);

    const struct {
        const char* Series;
        double Value;
    } expected[] = {
        {"korvel_point_value{point=\"u5\",device=\"5\",units=\"V\"}", 230},
        {"korvel_point_value{point=\"e5\",device=\"5\",units=\"kWh\"}", 5},
        {"korvel_point_value{point=\"t5\",device=\"5\",units=\"°C\"}", -5},
        {"korvel_point_value{point=\"address17\",device=\"17\",units=\"\"}", 17},
        {"korvel_point_value{point=\"setpoint17\",device=\"17\",units=\"\"}", 50},
        {"korvel_point_value{point=\"coil17\",device=\"17\",units=\"\"}", 1},
        {"korvel_point_value{point=\"status5\",device=\"5\",units=\"\"}", 1},
        {"korvel_point_status{point=\"name17\",device=\"17\",status=\"ok\"}", 1},
        {"korvel_point_status{point=\"beyond17\",device=\"17\",status=\"exception\",exception=\"2\"}", 1},
        {"korvel_point_status{point=\"absent\",device=\"40\",status=\"gateway_target\",exception=\"11\"}", 1},
        {"korvel_point_exceptions_total{point=\"beyond17\",device=\"17\"}", 1},
        {"korvel_point_exceptions_total{point=\"u5\",device=\"5\"}", 0},
        {"korvel_device_up{device=\"5\"}", 1},
        {"korvel_device_up{device=\"17\"}", 1},
        {"korvel_device_up{device=\"40\"}", 0},
        {"korvel_module_exceptions_total{exception=\"2\"}", 1},
        {"korvel_module_exceptions_total{exception=\"11\"}", 1},
    };
    for (const auto& e : expected)
        EXPECT_DOUBLE_EQ(SampleValue(page.Body, e.Series), e.Value) << e.Series;
    // A text has a status but no value.
    EXPECT_FALSE(page.Body.contains("korvel_point_value{point=\"name17\""));
    // The blocks, then input 0-9 of unit 5, holding 0-9 of 17, coil 0 of 17, holding 200, unit 40.
    EXPECT_EQ(SampleValue(page.Body, "korvel_probe_requests"), 6);

    // Counters go on over the scrapes.
    const THttpAnswer again = Exporter.Get(probe);
    EXPECT_EQ(SampleValue(again.Body, "korvel_module_exceptions_total{exception=\"11\"}"), 2);
}

TEST_F(ExporterTest, AModuleThatDoesNotAnswerIsDownWithinTheScrapesTime)
{
    QTcpServer silent;  // takes the connection and never answers
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 closedPort = closed.serverPort();
    closed.close();
    // A module's own time-out far longer than the scrape allows: only the scrape's time can end it.
    StartExporter({"--timeout", "60000"});

    const THttpAnswer cut = Exporter.Get(QString("/probe?target=127.0.0.1:%1").arg(silent.serverPort()), 1.0);
    ASSERT_EQ(cut.Status, 200);
    EXPECT_EQ(SampleValue(cut.Body, "korvel_module_up"), 0);
    EXPECT_EQ(SampleValue(cut.Body, "korvel_module_status{status=\"waiting\"}"), 1);
    EXPECT_EQ(SampleValue(cut.Body, "korvel_probe_complete"), 0);
    EXPECT_TRUE(std::isnan(SampleValue(cut.Body, "korvel_module_jumper_fitted")));
    ExpectPromtoolAccepts(cut.Body);

    const THttpAnswer refused = Exporter.Get(QString("/probe?target=127.0.0.1:%1").arg(closedPort));
    EXPECT_EQ(SampleValue(refused.Body, "korvel_module_up"), 0);
    EXPECT_EQ(SampleValue(refused.Body, "korvel_module_status{status=\"refused\"}"), 1);
    EXPECT_EQ(SampleValue(refused.Body, "korvel_probe_complete"), 1);
}

TEST_F(ExporterTest, BadRequestsAreRefusedWithTheirReason)
{
    WriteConfig("broken.ini", "[CHANNEL_0]\r\nPARITY=7\r\n");
    WriteConfig("badmap.csv", "name,unit,function,address\nx,300,holding,0\n");
    StartExporter({"--maps", Configs.path()});
    const struct {
        QString Path;
        int Status;
        QByteArray Says;
    } cases[] = {
        {"/probe", 400, "target"},
        {"/probe?target=10.0.0", 400, "10.0.0"},
        {"/probe?target=127.0.0.1:70000", 400, "70000"},
        {"/probe?target=127.0.0.1&colour=red", 400, "colour"},
        {"/probe?target=127.0.0.1&config=../etc/passwd", 400, "../etc/passwd"},
        {"/probe?target=127.0.0.1&config=absent", 400, "absent.ini"},
        {"/probe?target=127.0.0.1&config=broken", 400, "PARITY"},
        {"/probe?target=127.0.0.1&map=absent", 400, "absent.csv"},
        {"/probe?target=127.0.0.1&map=badmap", 400, "строка 2"},
        {"/elsewhere", 404, ""},
    };
    for (const auto& c : cases) {
        const THttpAnswer answer = Exporter.Get(c.Path);
        EXPECT_EQ(answer.Status, c.Status) << c.Path.toStdString();
        EXPECT_TRUE(answer.Body.contains(c.Says)) << c.Path.toStdString() << ": " << answer.Body.toStdString();
    }
    // Nothing was asked of any module.
    EXPECT_EQ(Module.RequestCount(), 0);
}

TEST_F(ExporterTest, TargetsOutsideTheAllowedRangesAreNotAsked)
{
    StartExporter({"--allow", "10.0.0.0/8", "--allow", "127.0.0.2-127.0.0.9"});
    const THttpAnswer refused = Exporter.Get("/probe?target=" + Target());
    EXPECT_EQ(refused.Status, 403);
    EXPECT_TRUE(refused.Body.contains("127.0.0.1")) << refused.Body.toStdString();
    EXPECT_EQ(Module.RequestCount(), 0);

    TExporterProgram allowing;
    ASSERT_TRUE(allowing.Start({"--allow", "127.0.0.1"}));
    EXPECT_EQ(SampleValue(allowing.Get("/probe?target=" + Target()).Body, "korvel_module_up"), 1);
}

TEST(ExporterCommandLine, BadOptionsAreRefusedBeforeListening)
{
    const struct {
        QStringList Arguments;
        int Exit;
        QByteArray Says;
    } cases[] = {
        {{"--help"}, 0, "--max-connections"},
        {{"--version"}, 0, "korvel-exporter "},
        {{"--listen", "300.0.0.1:9502"}, 2, "300.0.0.1"},
        {{"--listen", "127.0.0.1:70000"}, 2, "70000"},
        {{"--allow", "10.0.0.0/33"}, 2, "10.0.0.0/33"},
        {{"--maps", "/nonexistent-folder"}, 2, "/nonexistent-folder"},
        {{"--concurrency", "0"}, 2, "--concurrency"},
        {{"--colour"}, 2, "--colour"},
        {{"--timeout"}, 2, "--timeout"},
    };
    for (const auto& c : cases) {
        QProcess program;
        program.start(KORVEL_EXPORTER, c.Arguments);
        ASSERT_TRUE(program.waitForFinished(30000)) << c.Arguments.join(' ').toStdString();
        EXPECT_EQ(program.exitCode(), c.Exit) << c.Arguments.join(' ').toStdString();
        const QByteArray said = program.readAllStandardOutput() + program.readAllStandardError();
        EXPECT_TRUE(said.contains(c.Says)) << c.Arguments.join(' ').toStdString() << ": " << said.toStdString();
    }
}

TEST_F(ExporterTest, ScrapesOfOneModuleAtOnceShareOneCycle)
{
    TModuleSimServer slow;
    LoadConfig(slow, FactoryDefaults);
    slow.SetAnswerDelay(300);
    ASSERT_TRUE(slow.Listen(QHostAddress::LocalHost, 0));
    StartExporter({"--min-interval", "60000"});
    const QString probe = QString("/probe?target=127.0.0.1:%1").arg(slow.Port());

    std::vector<std::unique_ptr<QNetworkReply>> replies;
    for (int i = 0; i < 5; ++i)
        replies.emplace_back(Exporter.Send(probe));
    ASSERT_TRUE(WaitUntil(
        [&] { return std::all_of(replies.begin(), replies.end(), [](const auto& r) { return r->isFinished(); }); },
        std::chrono::seconds(30)));
    for (const auto& reply : replies)
        EXPECT_EQ(SampleValue(reply->readAll(), "korvel_module_up"), 1);
    EXPECT_EQ(slow.RequestCount(), 1);

    // Within the minimum interval the last cycle answers again, without asking.
    EXPECT_EQ(SampleValue(Exporter.Get(probe).Body, "korvel_module_up"), 1);
    EXPECT_EQ(slow.RequestCount(), 1);
    const QByteArray health = Exporter.Get("/metrics").Body;
    EXPECT_EQ(SampleValue(health, "korvel_exporter_cycles_total"), 1);
    EXPECT_EQ(SampleValue(health, "korvel_exporter_probes_total{answer=\"shared\"}"), 4);
    EXPECT_EQ(SampleValue(health, "korvel_exporter_probes_total{answer=\"interval\"}"), 1);
}

TEST_F(ExporterTest, HealthPageNamesTheProcessAsClientLibrariesDo)
{
    StartExporter();
    const THttpAnswer health = Exporter.Get("/metrics");
    ASSERT_EQ(health.Status, 200);
    EXPECT_GE(SampleValue(health.Body, "process_cpu_seconds_total"), 0);
    for (const char* family : {"process_resident_memory_bytes", "process_virtual_memory_bytes",
                               "process_start_time_seconds", "process_open_fds", "process_max_fds"})
        EXPECT_GT(SampleValue(health.Body, family), 0) << family;
    EXPECT_TRUE(health.Body.contains("korvel_exporter_build_info{version=\"")) << health.Body.toStdString();
    ExpectPromtoolAccepts(health.Body);
}

// Hostile clients: each must leave the exporter answering everyone else, in bounded memory.
TEST_F(ExporterTest, SlowHugeAndNumerousClientsDoNotKeepOthersOut)
{
    StartExporter({"--max-connections", "64", "--http-timeout", "60000"});
    const QString probe = "/probe?target=" + Target();
    const double memoryBefore = SampleValue(Exporter.Get("/metrics").Body, "process_resident_memory_bytes");

    // A client that sends half a request and then nothing.
    QTcpSocket slow;
    slow.connectToHost(QHostAddress::LocalHost, Exporter.Port);
    ASSERT_TRUE(WaitUntil([&] { return slow.state() == QAbstractSocket::ConnectedState; }));
    slow.write("GET /metrics HTTP/1.1\r\nHost: x\r\nX-Slow: ");
    EXPECT_EQ(Exporter.Get(probe).Status, 200);

    // A request of a megabyte: refused, its connection closed, nothing of it kept.
    QTcpSocket huge;
    huge.connectToHost(QHostAddress::LocalHost, Exporter.Port);
    ASSERT_TRUE(WaitUntil([&] { return huge.state() == QAbstractSocket::ConnectedState; }));
    huge.write("GET /metrics HTTP/1.1\r\nHost: x\r\nX-Huge: " + QByteArray(1 << 20, 'a'));
    QByteArray hugeAnswer;
    EXPECT_TRUE(WaitUntil(
        [&] {
            hugeAnswer += huge.readAll();
            return huge.state() == QAbstractSocket::UnconnectedState;
        },
        std::chrono::seconds(30)));
    EXPECT_TRUE(hugeAnswer.startsWith("HTTP/1.1 431")) << hugeAnswer.left(100).toStdString();
    EXPECT_EQ(Exporter.Get(probe).Status, 200);

    // A thousand connections that send nothing: the oldest idle ones make room for a real scrape. This
    // process holds them all, past a soft descriptor limit of 1024.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    std::vector<std::unique_ptr<QTcpSocket>> crowd;
    for (int i = 0; i < 1000; ++i) {
        crowd.push_back(std::make_unique<QTcpSocket>());
        crowd.back()->connectToHost(QHostAddress::LocalHost, Exporter.Port);
    }
    ASSERT_TRUE(WaitUntil(
        [&] {
            return std::all_of(crowd.begin(), crowd.end(),
                               [](const auto& s) { return s->state() != QAbstractSocket::ConnectingState; });
        },
        std::chrono::seconds(30)));
    const THttpAnswer during = Exporter.Get(probe);
    EXPECT_EQ(during.Status, 200);
    EXPECT_EQ(SampleValue(during.Body, "korvel_module_up"), 1);
    const QByteArray health = Exporter.Get("/metrics").Body;
    EXPECT_LE(SampleValue(health, "korvel_exporter_http_connections"), 64);
    EXPECT_GE(SampleValue(health, "korvel_exporter_http_connections_closed_total{reason=\"connection_limit\"}"), 900);
    EXPECT_EQ(SampleValue(health, "korvel_exporter_http_connections_closed_total{reason=\"too_large\"}"), 1);
    // Memory: what 64 connections and the pages cost, not what the crowd or the megabyte would.
    EXPECT_LT(SampleValue(health, "process_resident_memory_bytes") - memoryBefore, 16.0 * 1024 * 1024);
}
