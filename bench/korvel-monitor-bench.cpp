// korvel-monitor-bench: what watching the exchange costs per frame. Configuration reads through
// TModbusTCPMaster against a fast libmodbus server process, in alternating batches with nobody
// listening (the monitor closed), with the exchange monitor open and with the trace file; beside
// them libmodbus without and with its debug print, the nearest thing it has. Then the same frames
// handed straight to the master's trace hook, without the network, for the listening alone; and
// the memory the open monitor holds after many more of them.
#include "BenchClients.h"
#include "BenchCommandLine.h"
#include "Dialogs.h"
#include "ExchangeTrace.h"
#include "Monitor_Win.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int WarmUpExchanges = 20;
constexpr int BatchSize = 100;
constexpr int FramesPerRead = 2;

// Where a batch's frames go, set up before it runs and taken down after.
struct TWay {
    const char* Name;
    std::function<bool(int count, TRun& run)> Run;
    TRun Result;
};

// The standard output, where libmodbus prints its debug lines, sent to a file while one of its
// batches runs, so that the print costs what writing a trace file costs.
class TStdoutToFile {
public:
    explicit TStdoutToFile(int fileDescriptor)
    {
        std::fflush(stdout);
        Saved_ = dup(STDOUT_FILENO);
        dup2(fileDescriptor, STDOUT_FILENO);
    }
    ~TStdoutToFile()
    {
        std::fflush(stdout);
        dup2(Saved_, STDOUT_FILENO);
        close(Saved_);
    }

private:
    int Saved_;
};

// The request and reply of a configuration read as the master sends and receives them.
struct TReadFrames {
    std::array<uint8_t, 12> Request{
        0, 1, 0, 0, 0, 6, ModuleUnitId, 3, 0, ConfigFirstRegister, 0, ConfigReadRegisterCount};
    std::array<uint8_t, 9 + 2 * ConfigReadRegisterCount> Reply{};

    TReadFrames()
    {
        const int length = 3 + 2 * ConfigReadRegisterCount;
        const uint8_t header[] = {
            0, 1, 0, 0, uint8_t(length >> 8), uint8_t(length), ModuleUnitId, 3, uint8_t(2 * ConfigReadRegisterCount)};
        std::copy(std::begin(header), std::end(header), Reply.begin());
    }
};

// Microseconds per frame handed straight to the hook of a master that never connects, with the
// event loop turned after each read as the exchange would turn it.
double FedStraight(TExchangeTrace& trace, int reads)
{
    TModbusTCPMaster idle;
    trace.SetMaster(&idle);
    TModbusTraceSink* sink = idle.TraceSink;
    TReadFrames frames;
    const TBenchClock::time_point started = TBenchClock::now();
    for (int i = 0; i < reads; ++i) {
        frames.Request[1] = frames.Reply[1] = uint8_t(i);
        sink->Trace(TModbusTraceEvent::Sent, frames.Request.data(), int(frames.Request.size()), StatusOk);
        sink->Trace(TModbusTraceEvent::Received, frames.Reply.data(), int(frames.Reply.size()), StatusOk);
        QCoreApplication::processEvents();
    }
    const double seconds = std::chrono::duration<double>(TBenchClock::now() - started).count();
    trace.SetMaster(nullptr);
    return seconds * 1e6 / (FramesPerRead * reads);
}

double PeakRssMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024;  // kilobytes on Linux
}

void Report(const TWay& way)
{
    std::printf("%-34s median %7.1f us   p99 %7.1f us   mean %7.1f us\n", way.Name,
                Percentile(way.Result.Latencies, 0.5), Percentile(way.Result.Latencies, 0.99),
                way.Result.MeanMicroseconds());
}

double MeanRatio(const TWay& watched, const TWay& unwatched)
{
    return watched.Result.MeanMicroseconds() / unwatched.Result.MeanMicroseconds();
}

// The offscreen platform tells of every window what it cannot do for it; that is not news here.
void QuietAboutThePlatform(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!message.startsWith(QLatin1String("This plugin does not support")))
        qt_message_output(type, context, message);
}

}  // namespace

int main(int argc, char* argv[])
{
    // Drawn off screen unless told otherwise, so that the run needs no display and is repeatable.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(QuietAboutThePlatform);
    }
    QApplication app(argc, argv);
    const QCommandLineOption countOption("count", "Reads in each way.", "n", "4000");
    const QCommandLineOption framesOption("frames", "Frames fed to the open monitor for its memory; 0: none.", "n",
                                          "1000000");
    const TBenchCommandLine line(
        app, "The exchange monitor's and the trace file's cost per frame, beside libmodbus's debug print.",
        {countOption, framesOption});
    int count = 0, frames = 0;
    if (!line.Number(countOption, count, 1) || !line.Number(framesOption, frames, 0))
        return 2;

    QTemporaryDir folder;
    TFastServer forMaster, forLibmodbus;
    if (!folder.isValid() || forMaster.Port() == 0 || forLibmodbus.Port() == 0) {
        std::fprintf(stderr, "korvel-monitor-bench: no temporary folder, or the servers cannot listen on 127.0.0.1\n");
        return 1;
    }
    TMasterClient ours(forMaster.Port());
    TLibmodbusClient theirs(forLibmodbus.Port());
    TExchangeTrace monitor, traceFile;
    monitor.ShowMonitor(nullptr, {});
    QFile libmodbusPrint(folder.filePath("libmodbus-debug.txt"));
    if (!traceFile.OpenTraceFile(folder.filePath("trace.txt")) || !libmodbusPrint.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "korvel-monitor-bench: cannot write into %s\n", qPrintable(folder.path()));
        return 1;
    }

    const auto tracedBy = [&ours](TExchangeTrace* trace) {
        return [&ours, trace](int batch, TRun& run) {
            if (trace)
                trace->SetMaster(&ours.Master());
            const bool ok = ours.Run(batch, run);
            if (trace)
                trace->SetMaster(nullptr);
            return ok;
        };
    };
    const auto printing = [&theirs, &libmodbusPrint](bool debug) {
        return [&theirs, &libmodbusPrint, debug](int batch, TRun& run) {
            if (!debug)
                return theirs.Run(batch, run);
            const TStdoutToFile redirected(libmodbusPrint.handle());
            theirs.SetDebug(true);
            const bool ok = theirs.Run(batch, run);
            theirs.SetDebug(false);
            return ok;
        };
    };
    TWay ways[] = {
        {"TModbusTCPMaster, monitor closed", tracedBy(nullptr), {}},
        {"TModbusTCPMaster, monitor open", tracedBy(&monitor), {}},
        {"TModbusTCPMaster, trace file", tracedBy(&traceFile), {}},
        {"libmodbus", printing(false), {}},
        {"libmodbus, debug print to a file", printing(true), {}},
    };
    TWay &closed = ways[0], &open = ways[1], &file = ways[2], &plain = ways[3], &debug = ways[4];

    for (TWay& way : ways) {
        TRun warmUp;
        if (!way.Run(WarmUpExchanges, warmUp)) {
            std::fprintf(stderr, "korvel-monitor-bench: the warm-up reads failed (%s)\n", way.Name);
            return 1;
        }
    }
    // Alternating batches, so that a busy moment of the machine weighs on every way alike.
    for (int done = 0; done < count; done += BatchSize)
        for (TWay& way : ways)
            if (!way.Run(std::min(BatchSize, count - done), way.Result)) {
                std::fprintf(stderr, "korvel-monitor-bench: a read failed (%s)\n", way.Name);
                return 1;
            }

    std::printf("%d reads of %d registers in each way, two frames each, against libmodbus server processes\n", count,
                ConfigReadRegisterCount);
    for (const TWay& way : ways)
        Report(way);
    // Each client against its own server: the two servers may land on cores that suit them
    // differently, so the clients are compared by what watching adds to their own reads.
    std::printf("mean read watched / unwatched: monitor open %.3f, trace file %.3f; libmodbus debug print %.3f\n",
                MeanRatio(open, closed), MeanRatio(file, closed), MeanRatio(debug, plain));

    const int rows = int(monitor.Monitor()->Rows().Records().size());
    std::printf("per frame, %d reads fed straight to the trace hook: monitor open %.2f us (after %d rows), "
                "trace file %.2f us\n",
                count, FedStraight(monitor, count), rows, FedStraight(traceFile, count));

    if (frames > 0) {
        const double before = PeakRssMegabytes();
        const double perFrame = FedStraight(monitor, frames / FramesPerRead);
        std::printf("memory, %d more frames fed to the open monitor (%.2f us each): peak RSS %.1f MB before, "
                    "%.1f MB after, %d rows held\n",
                    frames, perFrame, before, PeakRssMegabytes(), int(monitor.Monitor()->Rows().Records().size()));
        // Saved as the operator saves them, the file dialog answered at once.
        const QString saved = folder.filePath("monitor.txt");
        DialogsTestHook::OnFileDialog = [&saved](TFileDialog& dialog) {
            dialog.FileName = saved;
            return true;
        };
        monitor.Monitor()->Button3Click();
        DialogsTestHook::OnFileDialog = nullptr;
        std::printf("saving them: peak RSS %.1f MB, %.1f MB written\n", PeakRssMegabytes(),
                    double(QFileInfo(saved).size()) / (1024 * 1024));
    }
    return 0;
}
