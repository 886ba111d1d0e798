// korvel-map-bench: a register map of 3 meters x 20 points of mixed types, polled through the simulated
// module in three ways in one run: the map's own plan (points merged into few requests), one request
// per point (what a user of a per-register tool does), and mbpoll reading the same blocks as the
// plan, one process per block. Requests per cycle and cycle time of each; the simulator takes the
// request's and the reply's time on the line (115200 baud) unless --line-time says otherwise.
#include "BenchCommandLine.h"
#include "DeviceRequests.h"
#include "MapPoll.h"
#include "Percentile.h"
#include "RegisterMapFile.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

const QStringList Meters{"1:5", "1:17", "2:30"};

class TSimProcess {
public:
    explicit TSimProcess(const QStringList& arguments)
    {
        Process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Process_.start(KORVEL_MODULE_SIM, QStringList{"--port", "0"} + arguments);
        const QRegularExpression listening("listening on [0-9.]+:(\\d+)");
        while (Port_ == 0 && Process_.waitForReadyRead(10000)) {
            const QRegularExpressionMatch match = listening.match(QString::fromUtf8(Process_.readAll()));
            if (match.hasMatch())
                Port_ = quint16(match.captured(1).toUInt());
        }
    }
    ~TSimProcess()
    {
        Process_.kill();
        Process_.waitForFinished();
    }
    quint16 Port() const { return Port_; }

private:
    QProcess Process_;
    quint16 Port_ = 0;
};

struct TFigures {
    size_t RequestsPerCycle = 0;
    std::vector<double> CycleMs;
    bool Failed = false;
};

void Print(const char* name, const TFigures& figures)
{
    std::printf("  %-44s %3zu requests a cycle   cycle median %7.1f ms   best %7.1f ms   worst %7.1f ms\n", name,
                figures.RequestsPerCycle, Percentile(figures.CycleMs, 0.5), Percentile(figures.CycleMs, 0),
                Percentile(figures.CycleMs, 1));
}

// The map's own cycles, as korvel-cli poll --map and the window poll it.
TFigures PlannedCycles(quint16 port, const std::vector<TMapPoint>& points, int cycles)
{
    TModuleClient client("127.0.0.1", port, {});
    TMapPoll poll(client);
    poll.SetPoints(points);
    TFigures figures;
    figures.RequestsPerCycle = poll.Requests().size();
    bool done = false;
    poll.OnCycle = [&](const TMapCycle& cycle) {
        figures.CycleMs.push_back(cycle.Ms);
        figures.Failed |= cycle.Failed > 0;
        done = !poll.IsRunning();
    };
    poll.Start(0, uint64_t(cycles));
    QEventLoop loop;
    while (!done)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return figures;
}

// Each point asked in a request of its own, one after the other.
TFigures PointByPoint(quint16 port, const std::vector<TMapPoint>& points, int cycles)
{
    TModuleClient client("127.0.0.1", port, {});
    TFigures figures;
    figures.RequestsPerCycle = points.size();
    QEventLoop loop;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        QElapsedTimer clock;
        clock.start();
        size_t next = 0;
        bool done = false;
        std::function<void()> ask = [&] {
            if (next == points.size()) {
                done = true;
                return;
            }
            ReadDevice(client, points[next++].Read(), [&](const TDeviceReply& reply) {
                figures.Failed |= !reply.Result.Ok();
                ask();
            });
        };
        ask();
        while (!done)
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        figures.CycleMs.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return figures;
}

// mbpoll's table for a read function: 1 coils, 2 discrete inputs, 3 input and 4 holding registers.
QString MbpollTable(uint8_t function)
{
    switch (function) {
    case FunctionReadCoils: return "0";
    case FunctionReadDiscreteInputs: return "1";
    case FunctionReadInputRegisters: return "3";
    default: return "4";
    }
}

// The plan's blocks read by mbpoll, a process a block, one after the other.
TFigures MbpollBlocks(quint16 port, const std::vector<TPlannedRequest>& requests, int cycles)
{
    TFigures figures;
    figures.RequestsPerCycle = requests.size();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        QElapsedTimer clock;
        clock.start();
        for (const TPlannedRequest& request : requests) {
            QProcess process;
            process.setStandardOutputFile(QProcess::nullDevice());
            process.setStandardErrorFile(QProcess::nullDevice());
            process.start("mbpoll",
                          {"-m", "tcp", "-p", QString::number(port), "-a", QString::number(request.Read.Unit), "-0",
                           "-r", QString::number(request.Read.Address), "-c", QString::number(request.Read.Count), "-t",
                           MbpollTable(request.Read.Function), "-1", "127.0.0.1"});
            if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
                process.exitCode() != 0) {
                figures.Failed = true;
                return figures;
            }
        }
        figures.CycleMs.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return figures;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QCommandLineOption cyclesOption("cycles", "Cycles of each way (50).", "n", "50");
    const QCommandLineOption lineTimeOption(
        "line-time", "The simulator's --line-time: 1 the serial line's own time, 0 none (1).", "factor", "1");
    const TBenchCommandLine commandLine(
        app, "A register map of three meters polled as planned, point by point, and by mbpoll block by block.",
        {cyclesOption, lineTimeOption});
    int cycles = 0, lineTime = 0;
    if (!commandLine.Number(cyclesOption, cycles, 1) || !commandLine.Number(lineTimeOption, lineTime, 0, 100))
        return 2;
    const TMapReading map = ReadRegisterMapFile(KORVEL_SIM_METERS_MAP);
    if (!map.Ok()) {
        std::fprintf(stderr, "korvel-map-bench: %s\n", map.Errors.front().Text().c_str());
        return 1;
    }
    QStringList arguments{"--line-time", QString::number(lineTime)};
    for (const QString& meter : Meters)
        arguments << "--device" << meter;
    TSimProcess module(arguments);
    if (module.Port() == 0) {
        std::fprintf(stderr, "korvel-map-bench: the simulated module did not start\n");
        return 1;
    }
    const std::vector<TMapPoint>& points = map.Map.Points;
    std::printf("%zu points of %d meters (%s), %d cycles each, simulator --line-time %d\n", points.size(),
                int(Meters.size()), KORVEL_SIM_METERS_MAP, cycles, lineTime);
    const TFigures planned = PlannedCycles(module.Port(), points, cycles);
    const TFigures single = PointByPoint(module.Port(), points, cycles);
    const TFigures mbpoll = MbpollBlocks(module.Port(), PlanRequests(points), cycles);
    if (planned.Failed || single.Failed) {
        std::fprintf(stderr, "korvel-map-bench: a request failed\n");
        return 1;
    }
    Print("the map's plan (korvel-cli poll --map)", planned);
    Print("one request per point", single);
    if (mbpoll.Failed)
        std::printf("  mbpoll: not measured (is it installed?)\n");
    else
        Print("mbpoll, the same blocks, a process a block", mbpoll);
    std::printf(
        "  requests a meter with the map: %.1f (goal at most 2); per point the cycle takes %.1f times as long\n",
        double(planned.RequestsPerCycle) / Meters.size(),
        Percentile(single.CycleMs, 0.5) / Percentile(planned.CycleMs, 0.5));
    return 0;
}
