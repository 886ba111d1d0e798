// The simulated module: its starting registers, its information setters, and the program's
// options and request lines as an operator sees them.
#include "ConfigCRC.h"
#include "IPAddressText.h"
#include "ModbusMaster.h"
#include "ModuleSimServer.h"
#include "SimProgram.h"
#include "Wait.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

TEST(ModuleSim, StartsWithTheReaderDefaultsChecksummedAndMarked)
{
    TModuleSimServer module;
    TModuleConfig config{};
    uint8_t image[sizeof config];
    for (int k = 0; k < int(sizeof image / 2); ++k) {
        const uint16_t value = module.Register(84 + k);
        image[2 * k] = uint8_t(value);
        image[2 * k + 1] = uint8_t(value >> 8);
    }
    std::memcpy(&config, image, sizeof config);

    EXPECT_EQ(IPToStr(config.Address), "192.168.127.10");
    EXPECT_EQ(IPToStr(config.Gateway), "192.168.127.100");
    EXPECT_EQ(IPToStr(config.NetMask), "255.255.255.0");
    EXPECT_EQ(config.TCPPort, 502);
    for (const TChannelConfig& channel : config.Channels) {
        EXPECT_EQ(channel.SlaveAddress, 0);
        EXPECT_EQ(channel.BaudIndex, 9);
        EXPECT_EQ(channel.Parity, 2);
        EXPECT_EQ(channel.StopBits, 1);
        EXPECT_EQ(IPToStr(channel.IPAddress1), "192.168.127.2");
        EXPECT_EQ(channel.EthConnTout, 100);
    }
    EXPECT_EQ(config.CRC, CRC16(image, ConfigCRCOffset));
    EXPECT_EQ(module.Register(140), 0xAAAA);
}

TEST(ModuleSim, InformationBlockAndRegisterRange)
{
    TModuleSimServer module;
    module.SetVersion(1, 3);
    module.SetMac({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
    module.SetJumperFitted(true);
    EXPECT_EQ(module.Register(78), 0x0103);
    EXPECT_EQ(module.Register(79), 0x3412);
    EXPECT_EQ(module.Register(80), 0x7856);
    EXPECT_EQ(module.Register(81), 0xBC9A);
    EXPECT_EQ(module.Register(83), 1);
    module.SetRegister(77, 5);
    module.SetRegister(141, 5);
    EXPECT_EQ(module.Register(77), 0);
    EXPECT_EQ(module.Register(141), 0);
}

TEST(ModuleSim, ProgramServesOnAFreePortAndPrintsOneLinePerRequest)
{
    QProcess program;
    QString output;
    const quint16 port =
        StartSimProgram(program, {"--verbose", "--firmware", "2.7", "--mac", "01-02-03-04-05-06", "--jumper"}, output);
    ASSERT_NE(port, 0) << output.toStdString();

    TModbusTCPMaster master;
    master.SetParameters("IPADDRESS=127.0.0.1\r\nTCPPORT=" + std::to_string(port) +
                         "\r\nTIMEOUT=50\r\nREPEATCOUNT=0\r\n");
    master.SetActive(true);
    std::array<uint8_t, 12> info{};
    int status = -1;
    master.SetOrderCallback(master.ReadHoldingRegisters(255, 78, 6, OrderOneShot),
                            [&](TModbusMaster* sender, int, uint8_t s) {
                                status = s;
                                sender->GetReplyData(info.data());
                            });
    ASSERT_TRUE(WaitUntil([&] { return status != -1; }));
    EXPECT_EQ(status, StatusOk);
    EXPECT_EQ(info, (std::array<uint8_t, 12>{7, 2, 1, 2, 3, 4, 5, 6, 0, 0, 1, 0}));
    EXPECT_TRUE(WaitUntil([&] {
        output += QString::fromUtf8(program.readAllStandardOutput());
        return output.contains("read 6 registers from 78\n");
    })) << output.toStdString();

    program.kill();
    program.waitForFinished();
}

TEST(ModuleSim, ProgramRefusesBadOptionsWithAMessage)
{
    const QStringList cases[] = {{"--port", "70000"},
                                 {"--bind", "nowhere"},
                                 {"--firmware", "1"},
                                 {"--mac", "12-34"},
                                 {"--count", "0"},
                                 {"--count", "1001"},
                                 {"--port", "65535", "--count", "2"},
                                 {"--delay", "-5"}};
    for (const QStringList& arguments : cases) {
        QProcess program;
        program.start(KORVEL_MODULE_SIM, arguments);
        ASSERT_TRUE(program.waitForFinished());
        EXPECT_EQ(program.exitCode(), 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(program.readAllStandardError().startsWith("korvel-module-sim: bad "))
            << arguments.join(' ').toStdString();
    }
}

// A fleet in one process: its own registers and MAC per module, every answer held back.
TEST(ModuleSim, ProgramServesAFleetThatAnswersLate)
{
    QProcess program;
    program.start(KORVEL_MODULE_SIM, {"--port", "0", "--count", "3", "--delay", "60", "--mac", "12-34-56-78-9A-FE"});
    ASSERT_TRUE(program.waitForStarted());
    QString output;
    std::vector<quint16> ports;
    const QRegularExpression listening("listening on 127\\.0\\.0\\.1:(\\d+)");
    ASSERT_TRUE(WaitUntil([&] {
        output += QString::fromUtf8(program.readAllStandardOutput());
        ports.clear();
        for (auto match = listening.globalMatch(output); match.hasNext();)
            ports.push_back(quint16(match.next().captured(1).toUInt()));
        return ports.size() == 3;
    })) << output.toStdString();

    std::vector<std::array<uint8_t, 12>> infos(ports.size());
    std::vector<std::unique_ptr<TModbusTCPMaster>> masters;
    int answered = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    for (size_t i = 0; i < ports.size(); ++i) {
        auto& master = masters.emplace_back(std::make_unique<TModbusTCPMaster>());
        master->SetParameters("IPADDRESS=127.0.0.1\r\nTCPPORT=" + std::to_string(ports[i]) +
                              "\r\nTIMEOUT=50\r\nREPEATCOUNT=0\r\n");
        master->SetActive(true);
        master->SetOrderCallback(master->ReadHoldingRegisters(255, 78, 6, OrderOneShot),
                                 [&, i](TModbusMaster* sender, int, uint8_t status) {
                                     EXPECT_EQ(status, StatusOk);
                                     sender->GetReplyData(infos[i].data());
                                     ++answered;
                                 });
    }
    ASSERT_TRUE(WaitUntil([&] { return answered == 3; }));
    EXPECT_GE(elapsed.elapsed(), 60);
    EXPECT_EQ(infos[0][7], 0xFE);
    EXPECT_EQ(infos[1][7], 0xFF);
    EXPECT_EQ(infos[2][7], 0x00);  // the last byte wraps; the others stay
    EXPECT_EQ(infos[2][6], 0x9A);

    program.kill();
    program.waitForFinished();
}
