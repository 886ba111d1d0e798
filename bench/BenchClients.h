#pragma once
// What the benchmarks share: the fast libmodbus server process, the two clients reading the
// configuration block from it, and what a run of exchanges measured.

#include "ModbusMaster.h"
#include "ModuleRegisters.h"
#include "Percentile.h"

#include <QEventLoop>
#include <QProcess>

#include <modbus/modbus.h>

#include <array>
#include <chrono>
#include <vector>

using TBenchClock = std::chrono::steady_clock;

struct TRun {
    std::vector<double> Latencies;  // microseconds, one per exchange
    double Seconds = 0;

    double ExchangesPerSecond() const { return double(Latencies.size()) / Seconds; }
    double MeanMicroseconds() const { return Seconds * 1e6 / double(Latencies.size()); }
};

// A korvel-bench-server process on a free loopback port, stopped when this goes.
class TFastServer {
public:
    TFastServer();
    ~TFastServer();
    quint16 Port() const { return Port_; }

private:
    QProcess Process_;
    quint16 Port_ = 0;
};

// Reads through TModbusTCPMaster; the next read is queued from the completion callback, as the
// application would, and goes out as soon as the callback returns.
class TMasterClient {
public:
    explicit TMasterClient(quint16 port);
    bool Run(int count, TRun& run);
    TModbusMaster& Master() { return Master_; }

private:
    TModbusTCPMaster Master_;
    QEventLoop Loop_;
    std::array<uint8_t, 2 * ConfigReadRegisterCount> Config_{};
};

class TLibmodbusClient {
public:
    explicit TLibmodbusClient(quint16 port);
    ~TLibmodbusClient();
    bool Run(int count, TRun& run);
    // libmodbus prints every frame it sends and receives to the standard output.
    void SetDebug(bool on);

private:
    modbus_t* Context_;
    bool Connected_ = false;
    std::array<uint16_t, ConfigReadRegisterCount> Registers_{};
};
