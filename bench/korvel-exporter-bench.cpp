// korvel-exporter-bench: one Prometheus scrape round over a fleet of simulated modules that answer
// late, each with a meter behind it read by a 20-point map, through the real korvel-exporter at its
// default concurrency: each scrape's time against the floor the modules' own delays set, and the
// exporter's processor time and resident memory per round. Then one module's cycle through the
// exporter beside `korvel-cli poll --map` on the same module: the requests and the values.
#include "BenchCommandLine.h"
#include "ModuleDefaults.h"
#include "ModuleSimServer.h"
#include "Percentile.h"
#include "SimLines.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

namespace {

// The meter of unit 5 in the shipped map: its 20 points, in two requests.
constexpr const char* MeterPrefix = "m5_";

// A program started for the bench, whose first lines say where it listens.
class TProgram {
public:
    TProgram(const QString& program, const QStringList& arguments, int listening)
    {
        Process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Process_.start(program, arguments);
        const QRegularExpression where("listening on ([0-9.]+):(\\d+)");
        while (int(Ports.size()) < listening && Process_.waitForReadyRead(30000))
            while (Process_.canReadLine()) {
                const QRegularExpressionMatch match = where.match(QString::fromUtf8(Process_.readLine()));
                if (match.hasMatch())
                    Ports.push_back(quint16(match.captured(2).toUInt()));
            }
    }
    ~TProgram()
    {
        Process_.kill();
        Process_.waitForFinished();
    }
    qint64 Pid() const { return Process_.processId(); }

    std::vector<quint16> Ports;

private:
    QProcess Process_;
};

// Processor seconds (user and system) and resident kilobytes of another process.
struct TUsage {
    double CpuSeconds = 0;
    long ResidentKB = 0;
};

TUsage UsageOf(qint64 pid)
{
    TUsage usage;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field[13];
    for (std::string& f : field)
        fields >> f;
    usage.CpuSeconds = (std::stod(field[11]) + std::stod(field[12])) / double(sysconf(_SC_CLK_TCK));
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            usage.ResidentKB = std::atol(line.c_str() + 6);
    return usage;
}

struct TScrape {
    double Ms = 0;
    QByteArray Page;
};

// Every path asked at once, each on its own connection as Prometheus asks its targets; the replies'
// times from the request to the reply's last byte.
std::vector<TScrape> ScrapeAll(quint16 port, const std::vector<QByteArray>& paths)
{
    std::vector<TScrape> scrapes(paths.size());
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    std::vector<QElapsedTimer> clocks(paths.size());
    size_t done = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
        auto& socket = sockets.emplace_back(std::make_unique<QTcpSocket>());
        QObject::connect(socket.get(), &QTcpSocket::readyRead, [&, i] { scrapes[i].Page += sockets[i]->readAll(); });
        QObject::connect(socket.get(), &QTcpSocket::disconnected, [&, i] {
            scrapes[i].Ms = double(clocks[i].nsecsElapsed()) / 1e6;
            ++done;
        });
        clocks[i].start();
        socket->connectToHost(QHostAddress::LocalHost, port);
        socket->write(
            "GET " + paths[i] +
            " HTTP/1.1\r\nHost: bench\r\nX-Prometheus-Scrape-Timeout-Seconds: 10\r\nConnection: close\r\n\r\n");
    }
    QElapsedTimer patience;
    patience.start();
    while (done < paths.size() && patience.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    return scrapes;
}

double SampleOf(const QByteArray& page, const QByteArray& series)
{
    for (const QByteArray& line : page.split('\n')) {
        const qsizetype space = line.lastIndexOf(' ');
        if (!line.startsWith('#') && space > 0 && line.left(space) == series)
            return line.mid(space + 1).toDouble();
    }
    return std::nan("");
}

// The shipped map's points of one meter, as a map of their own.
bool WriteMeterMap(const QString& fileName)
{
    QFile shipped(KORVEL_SHIPPED_MAP), meter(fileName);
    if (!shipped.open(QIODevice::ReadOnly) || !meter.open(QIODevice::WriteOnly))
        return false;
    for (const QByteArray& line : shipped.readAll().split('\n'))
        if (line.startsWith("name,") || line.startsWith(MeterPrefix))
            meter.write(line + "\n");
    return true;
}

// One module's cycle through the exporter and through korvel-cli poll --map: the requests each sends
// and the values each reads. The module is simulated here, its meter's clock held still, so that
// both read the same values.
void CompareWithCli(quint16 exporterPort, const QString& mapFile, int delay)
{
    TModuleSimServer module;
    module.SetAnswerDelay(delay);
    const TSerialSettings factory{FactoryChannelDefaults.BaudIndex, FactoryChannelDefaults.Parity,
                                  FactoryChannelDefaults.StopBits};
    module.Lines().AddDevice(TSimDevice(0, 5, factory));
    module.Lines().FreezeClock(100);
    module.Lines().SetLineTimeFactor(0);
    if (!module.Listen(QHostAddress::LocalHost, 0))
        return;
    const QByteArray host = "127.0.0.1:" + QByteArray::number(module.Port());
    const std::vector<TScrape> scrape = ScrapeAll(exporterPort, {"/probe?target=" + host + "&map=meter"});
    QProcess cli;
    cli.start(KORVEL_CLI, {"poll", host, "--map", mapFile, "--samples", "1", "--json"});
    QElapsedTimer patience;
    patience.start();
    while (cli.state() != QProcess::NotRunning && patience.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const QJsonObject cycle = QJsonDocument::fromJson(cli.readAllStandardOutput().split('\n').front()).object();
    if (!cycle.contains("points")) {
        std::printf("\nkorvel-cli gave no cycle of the map (a korvel-cli without poll --map?)\n");
        return;
    }
    int equal = 0, numbers = 0;
    for (const QJsonValue& value : cycle["points"].toArray()) {
        const QJsonObject point = value.toObject();
        if (!point["value"].isDouble())
            continue;
        ++numbers;
        const QByteArray series = "korvel_point_value{point=\"" + point["name"].toString().toUtf8() +
                                  "\",device=\"5\",units=\"" + point["units"].toString().toUtf8() + "\"}";
        equal += SampleOf(scrape.front().Page, series) == point["value"].toDouble();
    }
    const double exporterRequests = SampleOf(scrape.front().Page, "korvel_probe_requests");
    std::printf("\none module's cycle, %d ms a request: the exporter %.0f requests (the module's blocks, then %.0f for "
                "the map) in %.1f ms; korvel-cli poll --map %lld requests in %.1f ms; values: %d of %d numbers "
                "equal\n",
                delay, exporterRequests, exporterRequests - 1,
                SampleOf(scrape.front().Page, "korvel_probe_duration_seconds") * 1000, cycle["requests"].toInteger(),
                cycle["ms"].toDouble(), equal, numbers);
}

bool Round(int modules, int delay, int rounds, const QString& maps, const QStringList& exporterOptions)
{
    TProgram fleet(KORVEL_MODULE_SIM,
                   {"--port", "0", "--count", QString::number(modules), "--delay", QString::number(delay), "--device",
                    "1:5", "--line-time", "0"},
                   modules);
    TProgram exporter(KORVEL_EXPORTER, QStringList{"--listen", "127.0.0.1:0", "--maps", maps} + exporterOptions, 1);
    if (int(fleet.Ports.size()) != modules || exporter.Ports.empty()) {
        std::fprintf(stderr, "korvel-exporter-bench: the simulator or the exporter did not start\n");
        return false;
    }
    std::vector<QByteArray> paths;
    for (const quint16 port : fleet.Ports)
        paths.push_back("/probe?target=127.0.0.1:" + QByteArray::number(port) + "&map=meter");
    const QByteArray how =
        exporterOptions.isEmpty() ? "the exporter's default concurrency" : exporterOptions.join(' ').toUtf8();
    std::printf("%d modules answering %d ms late, a 20-point map each, %s\n", modules, delay, how.constData());
    std::printf("round  median ms  worst ms  floor ms  exchange median ms  requests/module  all read  exporter CPU ms  "
                "resident MB\n");
    for (int round = 1; round <= rounds; ++round) {
        const TUsage before = UsageOf(exporter.Pid());
        const std::vector<TScrape> scrapes = ScrapeAll(exporter.Ports.front(), paths);
        const TUsage after = UsageOf(exporter.Pid());
        std::vector<double> ms, exchange;
        size_t complete = 0;
        double requests = 0;
        for (const TScrape& scrape : scrapes) {
            ms.push_back(scrape.Ms);
            exchange.push_back(SampleOf(scrape.Page, "korvel_probe_duration_seconds") * 1000);
            requests = SampleOf(scrape.Page, "korvel_probe_requests");
            complete += SampleOf(scrape.Page, "korvel_probe_complete") == 1 &&
                        scrape.Page.count("status=\"ok\"") == 21;  // the module's and the 20 points'
        }
        std::printf("%5d  %9.1f  %8.1f  %8.0f  %18.1f  %15.0f  %4zu/%-3d  %15.1f  %11.1f\n", round, Percentile(ms, 0.5),
                    Percentile(ms, 1.0), requests * delay, Percentile(exchange, 0.5), requests, complete, modules,
                    (after.CpuSeconds - before.CpuSeconds) * 1000, double(after.ResidentKB) / 1024);
    }
    CompareWithCli(exporter.Ports.front(), maps + "/meter.csv", delay);
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QCommandLineOption modulesOption("modules", "Simulated modules.", "n", "200");
    const QCommandLineOption delayOption("delay", "Every module answers after this many milliseconds.", "ms", "20");
    const QCommandLineOption roundsOption("rounds", "Scrape rounds.", "n", "5");
    const QCommandLineOption concurrencyOption("concurrency",
                                               "The exporter's --concurrency (its default when not given).", "n");
    const TBenchCommandLine line(app, "Scrape rounds through korvel-exporter over a fleet of simulated modules.",
                                 {modulesOption, delayOption, roundsOption, concurrencyOption});
    int modules = 0, delay = 0, rounds = 0, concurrency = 0;
    if (!line.Number(modulesOption, modules, 1, 1000) || !line.Number(delayOption, delay, 0) ||
        !line.Number(roundsOption, rounds, 1) ||
        (line.IsSet(concurrencyOption) && !line.Number(concurrencyOption, concurrency, 1)))
        return 2;
    const QStringList exporterOptions =
        concurrency ? QStringList{"--concurrency", QString::number(concurrency)} : QStringList{};
    QTemporaryDir maps;
    if (!maps.isValid() || !WriteMeterMap(maps.filePath("meter.csv"))) {
        std::fprintf(stderr, "korvel-exporter-bench: cannot write the map\n");
        return 1;
    }
    return Round(modules, delay, rounds, maps.path(), exporterOptions) ? 0 : 1;
}
