// The simulated devices behind the simulated module: how a request for another unit is routed by
// the module's configuration, the values the meters show, what writes leave behind, and the
// --device option of the program.
#include "ModuleDefaults.h"
#include "ModuleRegisters.h"
#include "ModuleSimServer.h"
#include "SimProgram.h"
#include "ScriptedServer.h"
#include "SimLines.h"
#include "Wait.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <memory>
#include <vector>

namespace {

struct TExchange {
    QByteArray Reply;  // the PDU, function code on
    qint64 Ms = -1;
};

// One request from a plain socket, so that every function code can be sent as it is.
TExchange Exchange(quint16 port, uint8_t unit, const QByteArray& pdu)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QElapsedTimer elapsed;
    elapsed.start();
    socket.write(MbapFrame(0x1234, unit, pdu));
    QByteArray received;
    const bool whole = WaitUntil([&] {
        received += socket.readAll();
        return received.size() >= 6 && received.size() >= 6 + (quint8(received[4]) << 8 | quint8(received[5]));
    });
    TExchange exchange;
    if (whole && received.mid(0, 2) == QByteArray("\x12\x34", 2) && quint8(received[6]) == unit) {
        exchange.Reply = received.mid(7);
        exchange.Ms = elapsed.elapsed();
    }
    return exchange;
}

QByteArray ReadRequest(uint8_t function, uint16_t first, uint16_t count)
{
    const char pdu[] = {char(function), char(first >> 8), char(first), char(count >> 8), char(count)};
    return QByteArray(pdu, sizeof pdu);
}

uint16_t WordAt(const QByteArray& reply, int k)
{
    return uint16_t(quint8(reply[2 + 2 * k]) << 8 | quint8(reply[3 + 2 * k]));
}

void Configure(TModuleSimServer& module, const TModuleConfig& config)
{
    const TConfigImage image = BuildConfigImage(config);
    for (size_t k = 0; k < image.size(); ++k)
        module.SetRegister(ConfigFirstRegister + int(k), image[k]);
}

constexpr TSerialSettings Factory{FactoryChannelDefaults.BaudIndex, FactoryChannelDefaults.Parity,
                                  FactoryChannelDefaults.StopBits};
constexpr TSerialSettings Slow{4, 0, 0};  // 9600 N 1

struct TRouteCase {
    const char* Name;
    std::vector<TSimDevice> Devices;
    uint16_t SlaveAddress[2];  // 0: master
    TSerialSettings ChannelSerial[2];
    uint16_t Timeout[2];
    uint8_t Unit;
    uint8_t Exception;  // 0: the device answers
    int MinMs, MaxMs;
};

}  // namespace

TEST(ModuleSimDevices, RoutesEachUnitByTheConfigurationTheModuleHolds)
{
    // 9600 baud: reading one register takes (8 + 7) bytes * 11 bits on the line, 17 ms.
    const TRouteCase cases[] = {
        {"device on a master line with its settings",
         {TSimDevice(0, 5, Factory)},
         {0, 0},
         {Factory, Factory},
         {300, 300},
         5,
         0,
         0,
         250},
        {"the same on channel 2", {TSimDevice(1, 6, Slow)}, {0, 0}, {Factory, Slow}, {300, 300}, 6, 0, 17, 250},
        {"other settings than the line's",
         {TSimDevice(0, 5, Slow)},
         {0, 0},
         {Factory, Factory},
         {120, 300},
         5,
         0x0B,
         120,
         1000},
        {"no device: the longest master time-out",
         {TSimDevice(0, 5, Factory)},
         {0, 0},
         {Factory, Factory},
         {60, 150},
         9,
         0x0B,
         150,
         1000},
        {"no device, one line slave", {}, {0, 3}, {Factory, Factory}, {90, 400}, 9, 0x0B, 90, 380},
        {"device on a slave line",
         {TSimDevice(0, 5, Factory)},
         {7, 0},
         {Factory, Factory},
         {300, 300},
         5,
         0x0A,
         0,
         250},
        {"no master line at all", {}, {7, 8}, {Factory, Factory}, {300, 300}, 9, 0x0A, 0, 250},
    };
    for (const TRouteCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TModuleSimServer module;
        TModuleConfig config = FactoryDefaults;
        for (int k = 0; k < 2; ++k) {
            config.Channels[k].SlaveAddress = c.SlaveAddress[k];
            config.Channels[k].BaudIndex = c.ChannelSerial[k].BaudIndex;
            config.Channels[k].Parity = c.ChannelSerial[k].Parity;
            config.Channels[k].StopBits = c.ChannelSerial[k].StopBits;
            config.Channels[k].Timeout = c.Timeout[k];
        }
        Configure(module, config);
        for (const TSimDevice& device : c.Devices)
            ASSERT_TRUE(module.Lines().AddDevice(device));
        ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));

        const TExchange exchange = Exchange(module.Port(), c.Unit, ReadRequest(3, 0, 1));
        ASSERT_FALSE(exchange.Reply.isEmpty());
        if (c.Exception == 0)
            EXPECT_EQ(exchange.Reply, QByteArray("\x03\x02\x00", 3) + char(c.Unit));
        else
            EXPECT_EQ(exchange.Reply, QByteArray("\x83", 1) + char(c.Exception));
        EXPECT_GE(exchange.Ms, c.MinMs);
        EXPECT_LE(exchange.Ms, c.MaxMs);
    }
}

TEST(ModuleSimDevices, FollowsAConfigurationWrittenWhileRunning)
{
    TModuleSimServer module;
    module.Lines().AddDevice(TSimDevice(0, 5, Slow));
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    TModuleConfig config = FactoryDefaults;
    config.Channels[0].Timeout = 20;
    Configure(module, config);
    EXPECT_EQ(Exchange(module.Port(), 5, ReadRequest(3, 0, 1)).Reply, QByteArray("\x83\x0B", 2));
    config.Channels[0].BaudIndex = Slow.BaudIndex;
    config.Channels[0].Parity = Slow.Parity;
    config.Channels[0].StopBits = Slow.StopBits;
    Configure(module, config);
    EXPECT_EQ(Exchange(module.Port(), 5, ReadRequest(3, 0, 1)).Reply, QByteArray("\x03\x02\x00\x05", 4));
    // The module's own unit is still the module's.
    EXPECT_EQ(Exchange(module.Port(), ModuleUnitId, ReadRequest(3, MarkerRegister, 1)).Reply,
              QByteArray("\x03\x02\xAA\xAA", 4));
}

// A line serves one request at a time: two sent together take twice the line time.
TEST(ModuleSimDevices, OneRequestAtATimeOnALine)
{
    TModuleSimServer module;
    TModuleConfig config = FactoryDefaults;
    config.Channels[0].BaudIndex = 1;  // 1200 baud: 15 bytes take 137 ms
    config.Channels[0].Parity = 0;
    config.Channels[0].StopBits = 0;
    Configure(module, config);
    module.Lines().AddDevice(TSimDevice(0, 5, {1, 0, 0}));
    module.Lines().AddDevice(TSimDevice(0, 6, {1, 0, 0}));
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, module.Port());
    QElapsedTimer elapsed;
    elapsed.start();
    socket.write(MbapFrame(1, 5, ReadRequest(3, 0, 1)) + MbapFrame(2, 6, ReadRequest(3, 0, 1)));
    QByteArray received;
    ASSERT_TRUE(WaitUntil([&] { return (received += socket.readAll()).size() >= 2 * 11; }));
    EXPECT_GE(elapsed.elapsed(), 2 * 137);
    EXPECT_EQ(received.mid(7, 4), QByteArray("\x03\x02\x00\x05", 4));
    EXPECT_EQ(received.mid(18, 4), QByteArray("\x03\x02\x00\x06", 4));

    module.Lines().SetLineTimeFactor(0);
    EXPECT_LT(Exchange(module.Port(), 5, ReadRequest(3, 0, 1)).Ms, 100);
}

// The documented meter at two moments, decoded here independently of the simulator's code.
TEST(ModuleSimDevices, MetersShowTheDocumentedValues)
{
    struct TMoment {
        double Seconds;
        float Voltage, Current;
        uint32_t Energy;
        uint16_t Status;
        int16_t Temperature;
        double Frequency;
        uint16_t Inputs;
    };
    const double pi = std::acos(-1.0);
    const TMoment moments[] = {
        {15, 240.0F, float(5.7 + 2 * std::sin(pi / 3)), 7001, 1, 21, 50.0, 0x000F},
        {45, 220.0F, float(5.7 + 2 * std::sin(pi)), 7004, 3, 21, 50.0, 45},
        {100, float(230 + 10 * std::sin(2 * pi * 100 / 60)), float(5.7 + 2 * std::sin(2 * pi * 100 / 90)), 7010, 3,
         -137, 50 + 0.05 * std::sin(2 * pi * 100 / 30), 100},
    };
    TModuleSimServer module;
    module.Lines().AddDevice(TSimDevice(0, 7, Factory));
    module.Lines().SetLineTimeFactor(0);
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    const auto float32 = [](const QByteArray& reply, int k) {
        return std::bit_cast<float>(uint32_t(WordAt(reply, k)) << 16 | WordAt(reply, k + 1));
    };
    for (const TMoment& moment : moments) {
        SCOPED_TRACE(moment.Seconds);
        module.Lines().FreezeClock(moment.Seconds);
        const QByteArray inputs = Exchange(module.Port(), 7, ReadRequest(4, 0, 16)).Reply;
        ASSERT_EQ(inputs.size(), 2 + 32);
        EXPECT_NEAR(float32(inputs, 0), moment.Voltage, 1e-4);
        EXPECT_NEAR(float32(inputs, 2), moment.Current, 1e-5);
        EXPECT_NEAR(float32(inputs, 4), moment.Voltage * moment.Current, 0.01);
        EXPECT_EQ(uint32_t(WordAt(inputs, 6)) << 16 | WordAt(inputs, 7), moment.Energy);
        EXPECT_EQ(WordAt(inputs, 8), moment.Status);
        EXPECT_EQ(int16_t(WordAt(inputs, 9)), moment.Temperature);
        uint64_t bits = 0;
        for (int k = 10; k < 14; ++k)
            bits = bits << 16 | WordAt(inputs, k);
        EXPECT_NEAR(std::bit_cast<double>(bits), moment.Frequency, 1e-9);
        const QByteArray discrete = Exchange(module.Port(), 7, ReadRequest(2, 0, 16)).Reply;
        EXPECT_EQ(discrete, QByteArray("\x02\x02", 2) + char(moment.Inputs & 0xFF) + char(moment.Inputs >> 8));
    }
    const QByteArray holding = Exchange(module.Port(), 7, ReadRequest(3, 0, 13)).Reply;
    EXPECT_EQ(WordAt(holding, 0), 7);
    EXPECT_EQ(std::bit_cast<float>(uint32_t(WordAt(holding, 1)) << 16 | WordAt(holding, 2)), 50.0F);
    EXPECT_EQ(holding.mid(2 + 16), QByteArray("METER-007\0", 10));
    EXPECT_EQ(Exchange(module.Port(), 7, ReadRequest(1, 0, 3)).Reply, QByteArray("\x01\x01\x01", 3));
}

TEST(ModuleSimDevices, WritesAreKeptAndBadRequestsRefused)
{
    TModuleSimServer module;
    module.Lines().AddDevice(TSimDevice(1, 3, Factory));
    module.Lines().SetLineTimeFactor(0);
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    const quint16 port = module.Port();
    struct TWrite {
        QByteArray Request, Reply;
    };
    const TWrite writes[] = {
        {QByteArray("\x06\x00\x05\xBE\xEF", 5), QByteArray("\x06\x00\x05\xBE\xEF", 5)},
        {QByteArray("\x10\x00\x3E\x00\x02\x04\x12\x34\x56\x78", 10), QByteArray("\x10\x00\x3E\x00\x02", 5)},
        {QByteArray("\x05\x00\x0F\xFF\x00", 5), QByteArray("\x05\x00\x0F\xFF\x00", 5)},
        {QByteArray("\x0F\x00\x00\x00\x03\x01\x06", 7), QByteArray("\x0F\x00\x00\x00\x03", 5)},
        // Refusals: beyond the table, a coil value that is neither on nor off, a count the byte
        // count does not match, a function the meter has not.
        {QByteArray("\x06\x00\x40\x00\x01", 5), QByteArray("\x86\x02", 2)},
        {QByteArray("\x05\x00\x01\x12\x34", 5), QByteArray("\x85\x03", 2)},
        {QByteArray("\x10\x00\x00\x00\x02\x02\x12\x34", 8), QByteArray("\x90\x03", 2)},
        {QByteArray("\x03\x00\x3F\x00\x02", 5), QByteArray("\x83\x02", 2)},
        {QByteArray("\x2B\x0E\x01\x00", 4), QByteArray("\xAB\x01", 2)},
    };
    for (const TWrite& write : writes)
        EXPECT_EQ(Exchange(port, 3, write.Request).Reply, write.Reply) << write.Request.toHex().toStdString();

    const TSimDevice* device = module.Lines().Device(1, 3);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->HoldingRegister(5), 0xBEEF);
    EXPECT_EQ(device->HoldingRegister(62), 0x1234);
    EXPECT_EQ(device->HoldingRegister(63), 0x5678);
    EXPECT_TRUE(device->Coil(15));
    EXPECT_EQ(Exchange(port, 3, ReadRequest(1, 0, 4)).Reply, QByteArray("\x01\x01\x06", 3)) << "coils 0..2 = 0,1,1";
    EXPECT_EQ(Exchange(port, 3, ReadRequest(3, 62, 2)).Reply, QByteArray("\x03\x04\x12\x34\x56\x78", 6));
}

TEST(ModuleSimDevices, ProgramPutsTheDevicesOnTheLines)
{
    QProcess program;
    QString output;
    const quint16 port = StartSimProgram(
        program, {"--line-time", "0", "--verbose", "--device", "1:5", "--device", "2:17:9600:n:1"}, output);
    ASSERT_NE(port, 0) << output.toStdString();
    EXPECT_EQ(Exchange(port, 5, ReadRequest(3, 0, 1)).Reply, QByteArray("\x03\x02\x00\x05", 4));
    const TExchange other = Exchange(port, 17, ReadRequest(3, 0, 1));
    EXPECT_EQ(other.Reply, QByteArray("\x83\x0B", 2)) << "the factory line is 115200 E 2";
    EXPECT_GE(other.Ms, FactoryChannelDefaults.Timeout);
    EXPECT_TRUE(WaitUntil([&] {
        output += QString::fromUtf8(program.readAllStandardOutput());
        return output.contains("unit 5 function 3: device answers\n") && output.contains("unit 17 function 3: 0x0B\n");
    })) << output.toStdString();
    program.kill();
    program.waitForFinished();

    for (const char* bad : {"3:5", "1:0", "1:248", "1:5:9600:N", "1:5:9601:N:1", "1:5:9600:X:1", "1:5:9600:N:3"}) {
        QProcess refused;
        refused.start(KORVEL_MODULE_SIM, {"--port", "0", "--device", bad});
        ASSERT_TRUE(refused.waitForFinished());
        EXPECT_EQ(refused.exitCode(), 2) << bad;
        EXPECT_TRUE(refused.readAllStandardError().startsWith("korvel-module-sim: bad device")) << bad;
    }
}
