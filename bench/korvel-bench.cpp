// korvel-bench: configuration reads (56 registers from 84, unit 255) on loopback through
// TModbusTCPMaster and through libmodbus, side by side: against one simulated module, or each
// client against its own fast libmodbus server in another process (korvel-bench-server), where
// the clients' own cost is not hidden behind the server's.
#include "BenchClients.h"
#include "BenchCommandLine.h"
#include "ModuleSimServer.h"

#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr int WarmUpExchanges = 20;
constexpr int BatchSize = 100;

// The module runs on a thread of its own, as a real peer would, so that the blocking libmodbus
// client and the event-driven master meet it under the same conditions.
class TModuleThread {
public:
    TModuleThread()
    {
        Thread_.start();
        Module_ = new TModuleSimServer;
        Module_->moveToThread(&Thread_);
        QMetaObject::invokeMethod(
            Module_, [this] { Port_ = Module_->Listen(QHostAddress::LocalHost, 0) ? Module_->Port() : 0; },
            Qt::BlockingQueuedConnection);
    }
    ~TModuleThread()
    {
        QMetaObject::invokeMethod(
            Module_, [this] { delete Module_; }, Qt::BlockingQueuedConnection);
        Thread_.quit();
        Thread_.wait();
    }
    quint16 Port() const { return Port_; }

private:
    QThread Thread_;
    TModuleSimServer* Module_ = nullptr;
    quint16 Port_ = 0;
};

void Report(const char* name, const TRun& run)
{
    std::printf("%-18s median %8.1f us   p99 %8.1f us   %9.0f exchanges/s\n", name, Percentile(run.Latencies, 0.5),
                Percentile(run.Latencies, 0.99), run.ExchangesPerSecond());
}

// Where the clients find their servers for the run.
struct TServers {
    std::unique_ptr<TModuleThread> Module;
    std::unique_ptr<TFastServer> ForMaster, ForLibmodbus;
    quint16 MasterPort = 0, LibmodbusPort = 0;
    std::string Description;
};

bool StartServers(const QString& kind, quint16 givenPort, bool master, bool libmodbus, TServers& servers)
{
    if (givenPort != 0) {
        servers.MasterPort = servers.LibmodbusPort = givenPort;
        servers.Description = "the server at 127.0.0.1:" + std::to_string(givenPort);
        return true;
    }
    if (kind == "simulator") {
        servers.Module = std::make_unique<TModuleThread>();
        servers.MasterPort = servers.LibmodbusPort = servers.Module->Port();
        servers.Description = "simulated module on 127.0.0.1:" + std::to_string(servers.MasterPort);
        return servers.MasterPort != 0;
    }
    if (master) {
        servers.ForMaster = std::make_unique<TFastServer>();
        servers.MasterPort = servers.ForMaster->Port();
    }
    if (libmodbus) {
        servers.ForLibmodbus = std::make_unique<TFastServer>();
        servers.LibmodbusPort = servers.ForLibmodbus->Port();
    }
    servers.Description = "each client against its own libmodbus server process";
    return (!master || servers.MasterPort != 0) && (!libmodbus || servers.LibmodbusPort != 0);
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QCommandLineOption countOption("count", "Exchanges per client.", "n", "2000");
    const QCommandLineOption serverOption(
        "server",
        "simulator: both clients against one simulated module; fast: each against its own korvel-bench-server.", "kind",
        "simulator");
    const QCommandLineOption clientOption("client", "Which clients run: both, master or libmodbus.", "name", "both");
    const QCommandLineOption portOption("port", "Use the server already listening at 127.0.0.1:port.", "port");
    const TBenchCommandLine line(app, "Configuration reads through TModbusTCPMaster and libmodbus, side by side.",
                                 {countOption, serverOption, clientOption, portOption});
    int count = 0;
    int givenPort = 0;
    if (!line.Number(countOption, count, 1) ||
        (line.IsSet(portOption) && !line.Number(portOption, givenPort, 1, 65535)))
        return 2;
    const QString kind = line.Value(serverOption);
    const QString client = line.Value(clientOption);
    const bool runMaster = client == "both" || client == "master";
    const bool runLibmodbus = client == "both" || client == "libmodbus";
    if ((kind != "simulator" && kind != "fast") || !(runMaster || runLibmodbus)) {
        std::fprintf(stderr, "korvel-bench: --server is simulator or fast, --client both, master or libmodbus\n");
        return 2;
    }

    TServers servers;
    if (!StartServers(kind, quint16(givenPort), runMaster, runLibmodbus, servers)) {
        std::fprintf(stderr, "korvel-bench: the server cannot listen on 127.0.0.1\n");
        return 1;
    }
    std::printf("%d reads of %d registers from %d, unit 255, %s\n", count, ConfigReadRegisterCount, ConfigFirstRegister,
                servers.Description.c_str());

    std::unique_ptr<TMasterClient> ours;
    std::unique_ptr<TLibmodbusClient> theirs;
    TRun warmUp, master, reference;
    if (runMaster)
        ours = std::make_unique<TMasterClient>(servers.MasterPort);
    if (runLibmodbus)
        theirs = std::make_unique<TLibmodbusClient>(servers.LibmodbusPort);
    if ((ours && !ours->Run(WarmUpExchanges, warmUp)) || (theirs && !theirs->Run(WarmUpExchanges, warmUp))) {
        std::fprintf(stderr, "korvel-bench: the warm-up exchanges failed\n");
        return 1;
    }
    // Alternating batches, so that a busy moment of the machine weighs on both clients alike.
    for (int done = 0; done < count; done += BatchSize) {
        const int batch = std::min(BatchSize, count - done);
        if (ours && !ours->Run(batch, master)) {
            std::fprintf(stderr, "korvel-bench: an exchange of TModbusTCPMaster failed\n");
            return 1;
        }
        if (theirs && !theirs->Run(batch, reference)) {
            std::fprintf(stderr, "korvel-bench: an exchange of libmodbus failed\n");
            return 1;
        }
    }
    if (ours)
        Report("TModbusTCPMaster", master);
    if (theirs)
        Report("libmodbus", reference);
    if (ours && theirs)
        std::printf("ratio (ours / libmodbus): median %.2f, p99 %.2f, exchanges/s %.2f\n",
                    Percentile(master.Latencies, 0.5) / Percentile(reference.Latencies, 0.5),
                    Percentile(master.Latencies, 0.99) / Percentile(reference.Latencies, 0.99),
                    master.ExchangesPerSecond() / reference.ExchangesPerSecond());
    return 0;
}
