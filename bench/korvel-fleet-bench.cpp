// korvel-fleet-bench: the configuration read from a fleet of simulated modules that answer late,
// through korvel-cli's engine (one master per module in flight, many at once) and through
// libmodbus one module after another, in one run; and a scan of a /24 where most addresses are
// silent.
#include "BenchCommandLine.h"
#include "FleetRunner.h"
#include "ModuleRegisters.h"
#include "Percentile.h"

#include <QProcess>
#include <QRegularExpression>

#include <modbus/modbus.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Answering addresses of the scanned /24; every other address has no server.
constexpr int ScanAnswering[] = {11, 12, 101, 250};

struct TRun {
    std::vector<double> Ms;  // one per module
    double WallMs = 0;
    size_t Failed = 0;
};

double MsSince(Clock::time_point started)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

// The fleet is korvel-module-sim in a process of its own, as real modules are apart from the
// client; it also keeps the fleet's thousands of sockets out of this process, where libmodbus
// cannot wait on a descriptor above FD_SETSIZE.
class TFleetProcess {
public:
    TFleetProcess(const QString& address, int count, int delayMs, quint16 port = 0)
    {
        Process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Process_.start(KORVEL_MODULE_SIM, {"--bind", address, "--port", QString::number(port), "--count",
                                           QString::number(count), "--delay", QString::number(delayMs)});
        const QRegularExpression listening("listening on ([0-9.]+):(\\d+)");
        while (int(Modules_.size()) < count && Process_.waitForReadyRead(10000)) {
            while (Process_.canReadLine()) {
                const QRegularExpressionMatch match = listening.match(QString::fromUtf8(Process_.readLine()));
                if (match.hasMatch())
                    Modules_.push_back({match.captured(1).toStdString(), quint16(match.captured(2).toUInt())});
            }
        }
    }
    ~TFleetProcess()
    {
        Process_.kill();
        Process_.waitForFinished();
    }
    const std::vector<TModuleAddress>& Modules() const { return Modules_; }

private:
    QProcess Process_;
    std::vector<TModuleAddress> Modules_;
};

TRun EngineRead(const std::vector<TModuleAddress>& modules, int jobs, bool infoOnly, int retries)
{
    TRun run;
    TModuleClientOptions options;
    options.Transmissions = retries + 1;
    TFleetRunner runner(modules, options, jobs);
    const auto started = Clock::now();
    runner.Run([&](size_t, TModuleClient& client, TFleetRunner::TFinish finish) {
        const auto begun = Clock::now();
        const auto done = [&, begun, finish](const TModuleResult& result) {
            run.Ms.push_back(MsSince(begun));
            if (!result.Ok())
                ++run.Failed;
            finish();
        };
        if (infoOnly)
            client.ReadInfo([done](const TModuleResult& result, const TModuleInfo&) { done(result); });
        else
            client.ReadConfig([done](const TModuleResult& result, const TModuleConfig&) { done(result); });
    });
    run.WallMs = MsSince(started);
    return run;
}

// One module after another: connect, read, close, as a script over libmodbus would.
TRun LibmodbusRead(const std::vector<TModuleAddress>& modules, bool infoOnly)
{
    TRun run;
    std::array<uint16_t, ConfigReadRegisterCount> registers{};
    const auto started = Clock::now();
    for (const TModuleAddress& module : modules) {
        const auto begun = Clock::now();
        modbus_t* context = modbus_new_tcp(module.Address.c_str(), module.Port);
        const int first = infoOnly ? InfoFirstRegister : ConfigFirstRegister;
        const int count = infoOnly ? InfoRegisterCount : ConfigReadRegisterCount;
        const bool ok = context && modbus_set_slave(context, ModuleUnitId) == 0 && modbus_connect(context) == 0 &&
                        modbus_read_registers(context, first, count, registers.data()) == count;
        if (context) {
            modbus_close(context);
            modbus_free(context);
        }
        run.Ms.push_back(MsSince(begun));
        if (!ok)
            ++run.Failed;
    }
    run.WallMs = MsSince(started);
    return run;
}

void Report(const char* name, const TRun& run)
{
    std::printf("  %-28s wall %9.1f ms   per module median %7.1f ms   p99 %7.1f ms   failed %zu\n", name, run.WallMs,
                Percentile(run.Ms, 0.5), Percentile(run.Ms, 0.99), run.Failed);
}

void Ratio(const char* name, const TRun& ours, const TRun& reference)
{
    std::printf("  ratio ours / libmodbus, %-12s wall %.3f\n", name, ours.WallMs / reference.WallMs);
}

bool ReadFleet(int count, int delayMs, const std::vector<int>& jobs)
{
    TFleetProcess fleet("127.0.0.1", count, delayMs);
    if (int(fleet.Modules().size()) != count) {
        std::fprintf(stderr, "korvel-fleet-bench: cannot start %d simulated modules\n", count);
        return false;
    }
    std::printf("configuration read, %d modules answering after %d ms:\n", count, delayMs);
    // A first pass, not counted: the fleet's and this process's first connections and allocations.
    EngineRead(fleet.Modules(), jobs.back(), false, 2);
    std::vector<TRun> runs;
    for (int j : jobs) {
        runs.push_back(EngineRead(fleet.Modules(), j, false, 2));
        Report(("engine, " + std::to_string(j) + " jobs").c_str(), runs.back());
    }
    const TRun reference = LibmodbusRead(fleet.Modules(), false);
    Report("libmodbus, one by one", reference);
    for (size_t i = 0; i < jobs.size(); ++i)
        Ratio((std::to_string(jobs[i]) + " jobs").c_str(), runs[i], reference);
    for (const TRun& run : runs)
        if (run.Failed)
            return false;
    return reference.Failed == 0;
}

bool Scan(int delayMs, int jobs)
{
    // The hosts of 127.0.1.0/24: the answering modules share one port on their own addresses.
    std::vector<std::unique_ptr<TFleetProcess>> answering;
    quint16 port = 0;
    for (int host : ScanAnswering) {
        answering.push_back(std::make_unique<TFleetProcess>(QString("127.0.1.%1").arg(host), 1, delayMs, port));
        if (answering.back()->Modules().empty()) {
            std::fprintf(stderr, "korvel-fleet-bench: cannot start a simulated module on 127.0.1.%d\n", host);
            return false;
        }
        port = answering.back()->Modules()[0].Port;
    }
    std::vector<TModuleAddress> range;
    for (int host = 1; host < 255; ++host)
        range.push_back({"127.0.1." + std::to_string(host), port});
    std::printf("scan of 127.0.1.0/24: %zu modules answer, %zu addresses silent (no server):\n", answering.size(),
                range.size() - answering.size());
    const TRun ours = EngineRead(range, jobs, true, 0);
    const TRun reference = LibmodbusRead(range, true);
    std::printf("  engine, %d jobs: found %zu\n", jobs, range.size() - ours.Failed);
    Report("engine", ours);
    Report("libmodbus, one by one", reference);
    Ratio("scan", ours, reference);
    return range.size() - ours.Failed == answering.size() && range.size() - reference.Failed == answering.size();
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QCommandLineOption modulesOption("modules", "Fleet sizes, comma-separated.", "n,...", "256");
    const QCommandLineOption delayOption("delay", "Every module answers after this many milliseconds.", "ms", "20");
    const QCommandLineOption jobsOption("jobs", "Modules in flight at once, comma-separated.", "n,...", "64,256");
    const QCommandLineOption noScanOption("no-scan", "Skip the scan of a /24.");
    const TBenchCommandLine line(app, "Fleet reads through korvel-cli's engine and through libmodbus, side by side.",
                                 {modulesOption, delayOption, jobsOption, noScanOption});
    std::vector<int> sizes, jobs;
    int delay = 0;
    if (!line.Numbers(modulesOption, sizes, 1) || !line.Numbers(jobsOption, jobs, 1) ||
        !line.Number(delayOption, delay, 0))
        return 2;
    for (int size : sizes)
        if (!ReadFleet(size, delay, jobs))
            return 1;
    if (!line.IsSet(noScanOption) && !Scan(delay, jobs.back()))
        return 1;
    return 0;
}
