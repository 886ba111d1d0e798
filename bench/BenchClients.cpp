#include "BenchClients.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <cstdio>
#include <string>

TFastServer::TFastServer()
{
    Process_.setProgram(KORVEL_BENCH_SERVER);
    Process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Process_.start();
    const QDeadlineTimer deadline(5000);
    while (!Process_.canReadLine() && !deadline.hasExpired() && Process_.state() != QProcess::NotRunning)
        Process_.waitForReadyRead(int(deadline.remainingTime()));
    Port_ = quint16(Process_.readLine().trimmed().toUInt());
}

TFastServer::~TFastServer()
{
    Process_.kill();
    Process_.waitForFinished();
}

TMasterClient::TMasterClient(quint16 port)
{
    Master_.SetParameters("IPADDRESS=127.0.0.1\r\nTCPPORT=" + std::to_string(port) +
                          "\r\nTIMEOUT=50\r\nREPEATCOUNT=2\r\n");
    Master_.SetActive(true);
}

bool TMasterClient::Run(int count, TRun& run)
{
    int left = count;
    bool ok = true;
    TBenchClock::time_point started;
    const TBenchClock::time_point batchStart = TBenchClock::now();
    TModbusOrderCompleteEvent complete;
    const auto queue = [&] {
        started = TBenchClock::now();
        Master_.SetOrderCallback(
            Master_.ReadHoldingRegisters(ModuleUnitId, ConfigFirstRegister, ConfigReadRegisterCount, OrderOneShot),
            complete);
    };
    complete = [&](TModbusMaster* sender, int, uint8_t status) {
        const TBenchClock::time_point now = TBenchClock::now();
        ok = status == StatusOk;
        sender->GetReplyData(Config_.data());
        run.Latencies.push_back(std::chrono::duration<double, std::micro>(now - started).count());
        if (!ok || --left == 0)
            Loop_.quit();
        else
            queue();
    };
    queue();
    Loop_.exec();
    run.Seconds += std::chrono::duration<double>(TBenchClock::now() - batchStart).count();
    return ok;
}

TLibmodbusClient::TLibmodbusClient(quint16 port) : Context_(modbus_new_tcp("127.0.0.1", port))
{
    Connected_ = Context_ && modbus_set_slave(Context_, ModuleUnitId) == 0 && modbus_connect(Context_) == 0;
    if (!Connected_)
        std::fprintf(stderr, "libmodbus cannot connect: %s\n", modbus_strerror(errno));
}

TLibmodbusClient::~TLibmodbusClient()
{
    if (!Context_)
        return;
    modbus_close(Context_);
    modbus_free(Context_);
}

bool TLibmodbusClient::Run(int count, TRun& run)
{
    if (!Connected_)
        return false;
    const TBenchClock::time_point batchStart = TBenchClock::now();
    for (int i = 0; i < count; ++i) {
        const TBenchClock::time_point started = TBenchClock::now();
        if (modbus_read_registers(Context_, ConfigFirstRegister, ConfigReadRegisterCount, Registers_.data()) !=
            ConfigReadRegisterCount)
            return false;
        run.Latencies.push_back(std::chrono::duration<double, std::micro>(TBenchClock::now() - started).count());
    }
    run.Seconds += std::chrono::duration<double>(TBenchClock::now() - batchStart).count();
    return true;
}

void TLibmodbusClient::SetDebug(bool on)
{
    if (Context_)
        modbus_set_debug(Context_, on ? TRUE : FALSE);
}
