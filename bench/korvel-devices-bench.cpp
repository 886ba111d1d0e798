// korvel-devices-bench: the devices behind a simulated module, measured through the real programs.
// Polling: reads of 10 holding registers of one device, serial time off, korvel-cli poll against
// mbpoll (libmodbus) asking the same unit the same number of times, whole process each, with the
// system calls per poll of both. Unit search: korvel-cli units over a range with three devices on
// the line at the factory serial settings, against its floor: what the module itself must spend
// (its time-out for every absent unit, the bytes' time on the line for every request and reply).
#include "BaudRates.h"
#include "BenchCommandLine.h"
#include "BenchProcess.h"
#include "ModuleDefaults.h"
#include "Percentile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>
#include <vector>

namespace {

constexpr int LineBitsPerByte = 11;
// RTU frames: unit before the PDU, checksum after it; a read request's PDU, a one-register reply's.
constexpr int SerialFrameExtra = 3;
constexpr int ReadRequestPdu = 5;
constexpr int OneRegisterReplyPdu = 4;
constexpr int PolledUnit = 5;
const QStringList SearchDevices{"1:5", "1:17", "2:30"};

// The system calls of the whole process, as strace -c -f counts them; none without strace.
std::optional<long> SystemCalls(const QString& program, const QStringList& arguments)
{
    QTemporaryDir folder;
    const QString counts = folder.filePath("counts");
    if (Run("strace", QStringList{"-c", "-f", "-o", counts, program} + arguments).WallMs < 0)
        return std::nullopt;
    QFile file(counts);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // % time, seconds, usecs/call, calls, [errors,] total
        if (fields.size() >= 5 && fields.last() == "total")
            return fields[3].toLong();
    }
    return std::nullopt;
}

QStringList CliPoll(quint16 port, int polls)
{
    return {"poll",       QString("127.0.0.1:%1").arg(port),
            "--unit",     QString::number(PolledUnit),
            "--address",  "0",
            "--count",    "10",
            "--samples",  QString::number(polls),
            "--interval", "0"};
}

// mbpoll has no count of polls; a list of the same unit asked once each is the same work.
QStringList MbpollPoll(quint16 port, int polls)
{
    QStringList units;
    for (int i = 0; i < polls; ++i)
        units << QString::number(PolledUnit);
    return {"-m", "tcp", "-p",       QString::number(port), "-a", units.join(','), "-0", "-r", "0", "-c", "10", "-t",
            "4",  "-1",  "127.0.0.1"};
}

bool MeasurePolling(int polls, int rounds)
{
    TSimProcess module({"--device", "1:" + QString::number(PolledUnit), "--line-time", "0"});
    if (module.Port() == 0) {
        std::fprintf(stderr, "korvel-devices-bench: the simulated module did not start\n");
        return false;
    }
    // A first run of each, not counted: the programs and libraries into the page cache. Then the two
    // take turns, so that a load on the machine falls on both alike.
    Run(KORVEL_CLI, CliPoll(module.Port(), 10));
    Run("mbpoll", MbpollPoll(module.Port(), 10));
    std::vector<double> ours, reference, oursCpu, referenceCpu, ratios;
    for (int round = 0; round < rounds; ++round) {
        // Each goes first in every other round, so that neither always meets the other's wake.
        TRun oursRun, referenceRun;
        if (round % 2 == 0)
            oursRun = Run(KORVEL_CLI, CliPoll(module.Port(), polls));
        referenceRun = Run("mbpoll", MbpollPoll(module.Port(), polls));
        if (round % 2 == 1)
            oursRun = Run(KORVEL_CLI, CliPoll(module.Port(), polls));
        ratios.push_back(oursRun.WallMs / referenceRun.WallMs);
        ours.push_back(oursRun.WallMs);
        reference.push_back(referenceRun.WallMs);
        oursCpu.push_back(oursRun.CpuMs);
        referenceCpu.push_back(referenceRun.CpuMs);
        if (ours.back() < 0 || reference.back() < 0) {
            std::fprintf(stderr, "korvel-devices-bench: a poll failed (is mbpoll installed?)\n");
            return false;
        }
    }
    const double oursBest = Percentile(ours, 0), oursMedian = Percentile(ours, 0.5);
    const double referenceBest = Percentile(reference, 0), referenceMedian = Percentile(reference, 0.5);
    std::printf("polling: %d reads of 10 holding registers of unit %d, serial time 0, whole process, %d rounds\n",
                polls, PolledUnit, rounds);
    std::printf("  korvel-cli poll   best %8.1f ms (%5.1f us a poll)   median %8.1f ms\n", oursBest,
                oursBest * 1000 / polls, oursMedian);
    std::printf("  mbpoll            best %8.1f ms (%5.1f us a poll)   median %8.1f ms\n", referenceBest,
                referenceBest * 1000 / polls, referenceMedian);
    // The ratio of each round's pair, run one after the other, leaves out most of the machine's drift.
    std::printf("  ratio korvel-cli / mbpoll  best %.3f   median %.3f   median of the rounds' own %.3f (goal <= 1.0)\n",
                oursBest / referenceBest, oursMedian / referenceMedian, Percentile(ratios, 0.5));
    // Processor time moves less than wall time with the load of the machine.
    std::printf("  processor time (user + system), median: korvel-cli %.1f ms, mbpoll %.1f ms, ratio %.3f\n",
                Percentile(oursCpu, 0.5), Percentile(referenceCpu, 0.5),
                Percentile(oursCpu, 0.5) / Percentile(referenceCpu, 0.5));

    // Per poll: the calls of a long run less those of a run of one poll (start and end).
    const auto perPoll = [&](const QString& program, auto arguments) -> std::optional<double> {
        const auto many = SystemCalls(program, arguments(module.Port(), polls));
        const auto one = SystemCalls(program, arguments(module.Port(), 1));
        if (!many || !one)
            return std::nullopt;
        return double(*many - *one) / (polls - 1);
    };
    const auto ourCalls = perPoll(KORVEL_CLI, CliPoll);
    const auto referenceCalls = perPoll("mbpoll", MbpollPoll);
    if (ourCalls && referenceCalls)
        std::printf("  system calls a poll (strace -c -f): korvel-cli %.1f, mbpoll %.1f\n", *ourCalls, *referenceCalls);
    else
        std::printf("  system calls a poll: not measured (strace is missing)\n");
    return true;
}

bool MeasureSearch(int first, int last)
{
    TSimProcess module(
        QStringList{"--device", SearchDevices[0], "--device", SearchDevices[1], "--device", SearchDevices[2]});
    if (module.Port() == 0) {
        std::fprintf(stderr, "korvel-devices-bench: the simulated module did not start\n");
        return false;
    }
    const TRun run = Run(KORVEL_CLI,
                         {"--json", "units", QString("127.0.0.1:%1").arg(module.Port()), "--units",
                          QString("%1-%2").arg(first).arg(last)},
                         true);
    if (run.WallMs < 0) {
        std::fprintf(stderr, "korvel-devices-bench: the search failed\n");
        return false;
    }
    int found = 0;
    double searchMs = 0;
    for (const QByteArray& line : run.Out.split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object["command"].toString() == "summary")
            searchMs = object["ms"].toDouble();
        else if (object["found"].toBool())
            ++found;
    }
    // The floor by the simulated module's own rule, at the factory serial settings.
    const double baud = std::stod(BaudRateText(FactoryChannelDefaults.BaudIndex));
    const auto lineMs = [&](int bytes) { return bytes * LineBitsPerByte * 1000.0 / baud; };
    const int present = found;
    const int absent = last - first + 1 - present;
    const double floorMs = absent * (FactoryChannelDefaults.Timeout + lineMs(ReadRequestPdu + SerialFrameExtra)) +
                           present * lineMs(ReadRequestPdu + OneRegisterReplyPdu + 2 * SerialFrameExtra);
    std::printf("unit search %d..%d, %d devices present, channel time-out %d ms, %s baud:\n", first, last, found,
                int(FactoryChannelDefaults.Timeout), BaudRateText(FactoryChannelDefaults.BaudIndex));
    std::printf("  floor %9.1f ms   search %9.1f ms (%+.2f%%)   whole process %9.1f ms (%+.2f%%), goal within 5%%\n",
                floorMs, searchMs, 100 * (searchMs / floorMs - 1), run.WallMs, 100 * (run.WallMs / floorMs - 1));
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QCommandLineOption pollsOption("polls", "Reads of the polling measure (5000).", "n", "5000");
    const QCommandLineOption roundsOption("rounds", "Runs of each poller, taking turns (5).", "n", "5");
    const QCommandLineOption unitsOption("last-unit", "The search asks units 1..n (247).", "n", "247");
    const TBenchCommandLine commandLine(app, "The devices behind a simulated module: polling and the unit search.",
                                        {pollsOption, roundsOption, unitsOption});
    int polls = 0, rounds = 0, lastUnit = 0;
    if (!commandLine.Number(pollsOption, polls, 2) || !commandLine.Number(roundsOption, rounds, 1) ||
        !commandLine.Number(unitsOption, lastUnit, 1, 247))
        return 2;
    return MeasurePolling(polls, rounds) && MeasureSearch(1, lastUnit) ? 0 : 1;
}
