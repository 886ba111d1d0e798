// korvel-cli over a fleet: each module keeps its own address and port, per-host values, apply as
// desired state for the keys a file holds, damaged and foreign devices. Real simulated modules and
// plain register servers on loopback.
#include "CliFleetTest.h"
#include "CliRun.h"
#include "ConfigCRC.h"
#include "ConfigFields.h"
#include "ConfigFile.h"
#include "ConfigVerdict.h"
#include "IPAddressText.h"
#include "ModuleDefaults.h"
#include "ModuleRegisters.h"
#include "ModuleSimServer.h"

#include <QFile>
#include <QJsonArray>
#include <QModbusTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The record field of a key, for reading a module's configuration back.
const TConfigField& Field(const char* section, const char* key)
{
    return *FindConfigField(section, key);
}

std::string AddressOf(const TModuleSimServer& module)
{
    return IPToStr(module.Config().Address);
}

class CliIdentityTest : public TCliFleetTest {
protected:
    void SetUp() override
    {
        TCliFleetTest::SetUp();
        // A commissioned cabinet: each gateway has its own address, the third its own port too.
        const TIPAddress addresses[] = {{10, 20, 3, 11}, {10, 20, 3, 12}, {10, 20, 3, 13}};
        for (size_t i = 0; i < Modules.size(); ++i) {
            TModuleConfig config = FactoryDefaults;
            config.Address = addresses[i];
            config.TCPPort = i == 2 ? 1502 : 502;
            Hold(*Modules[i], config);
        }
    }

    static void Hold(TModuleSimServer& module, TModuleConfig config)
    {
        SetConfigCRC(config);
        std::array<uint16_t, ConfigReadRegisterCount> registers{};
        std::memcpy(registers.data(), &config, sizeof config);
        for (size_t k = 0; k < registers.size(); ++k)
            module.SetRegister(ConfigFirstRegister + int(k), registers[k]);
    }

    // A hosts file: each module's line with the values given for it.
    QString HostsFile(const std::vector<QString>& values)
    {
        QByteArray text = "# cabinet 3\n";
        for (size_t i = 0; i < Modules.size(); ++i)
            text += (Host(i) + " " + (i < values.size() ? values[i] : QString()) + "  # gateway\n").toUtf8();
        return WriteFile("cabinet3.txt", text);
    }

    QString FullFile()
    {
        TModuleConfig config = FactoryDefaults;
        config.Channels[1].SlaveAddress = 17;
        const QString path = Folder.filePath("full.ini");
        SaveConfigToFile(path.toStdString(), config);
        return path;
    }
};

}  // namespace

// The README's cabinet example: one file applied to three gateways leaves each at its own address
// and port, and sets what the file holds.
TEST_F(CliIdentityTest, TheCabinetExampleKeepsEachGatewaysAddress)
{
    const TRun run = RunCli({"--hosts", HostsFile({}), "apply", KORVEL_COMMISSIONING_INI});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString() << run.Out.toStdString();
    const char* addresses[] = {"10.20.3.11", "10.20.3.12", "10.20.3.13"};
    for (size_t i = 0; i < 3; ++i) {
        const TModuleConfig held = Modules[i]->Config();
        EXPECT_EQ(IPToStr(held.Address), addresses[i]);
        EXPECT_EQ(held.TCPPort, i == 2 ? 1502 : 502);
        EXPECT_EQ(held.Channels[1].SlaveAddress, 17);
        EXPECT_EQ(IPToStr(held.Gateway), "10.20.3.1");
        EXPECT_TRUE(ChecksumValid(held));
    }
}

// A shared file that holds the module's own address and port is refused over several modules before
// anything is sent, unless each module's line gives its own.
TEST_F(CliIdentityTest, ASharedAddressIsRefusedUnlessEachModuleGivesItsOwn)
{
    const QString full = FullFile();
    struct TCase {
        const char* Command;
        QStringList Extra;
    };
    for (const TCase& c :
         {TCase{"apply", {}}, TCase{"write", {}}, TCase{"apply", {"--set", "IP/ADDRESS=10.20.3.99"}}}) {
        SCOPED_TRACE(c.Command);
        const TRun run = RunCli(QStringList{"--hosts", HostsFile({}), c.Command, full} + c.Extra);
        EXPECT_EQ(run.Exit, 2);
        EXPECT_TRUE(run.Err.contains("IP/ADDRESS")) << run.Err.toStdString();
        EXPECT_EQ(RequestCount(), 0);
    }
    const TRun partlyGiven = RunCli({"--hosts", HostsFile({"IP/ADDRESS=10.20.3.21 IP/TCP_PORT=502"}), "apply", full});
    EXPECT_EQ(partlyGiven.Exit, 2);
    EXPECT_EQ(RequestCount(), 0);

    const TRun own =
        RunCli({"--hosts",
                HostsFile({"IP/ADDRESS=10.20.3.21 IP/TCP_PORT=502", "IP/ADDRESS=10.20.3.22 ip/tcp_port=502",
                           "IP/ADDRESS=10.20.3.23 IP/TCP_PORT=1503"}),
                "write", full});
    ASSERT_EQ(own.Exit, 0) << own.Err.toStdString();
    EXPECT_EQ(AddressOf(*Modules[0]), "10.20.3.21");
    EXPECT_EQ(AddressOf(*Modules[1]), "10.20.3.22");
    EXPECT_EQ(AddressOf(*Modules[2]), "10.20.3.23");
    EXPECT_EQ(Modules[2]->Config().TCPPort, 1503);

    // One module with an explicit file may still be moved.
    ASSERT_EQ(RunCli({"apply", full, Host(0)}).Exit, 0);
    EXPECT_EQ(AddressOf(*Modules[0]), "192.168.127.10");
}

// apply sets the keys the file holds and keeps the module's others; write sends a whole image and
// so refuses a file that lacks keys.
TEST_F(CliIdentityTest, ApplySetsTheFilesKeysAndWriteWantsThemAll)
{
    TModuleConfig held = Modules[0]->Config();
    held.Gateway = {10, 20, 3, 254};
    held.Channels[1].SlaveAddress = 42;
    Hold(*Modules[0], held);
    const QString partial = WriteFile("baud.ini", "[CHANNEL_0]\r\nBAUDRATE=19200\r\n");

    const TRun apply = RunCli({"--json", "apply", partial, Host(0)});
    ASSERT_EQ(apply.Exit, 0) << apply.Err.toStdString();
    const QJsonArray differences = apply.JsonLines()[0]["differences"].toArray();
    ASSERT_EQ(differences.size(), 1);
    EXPECT_EQ(differences[0].toObject()["key"].toString(), "BAUDRATE");
    const TModuleConfig after = Modules[0]->Config();
    EXPECT_EQ(FieldIniText(after, Field("CHANNEL_0", "BAUDRATE")), "19200");
    EXPECT_EQ(IPToStr(after.Gateway), "10.20.3.254");
    EXPECT_EQ(after.Channels[1].SlaveAddress, 42);
    EXPECT_EQ(IPToStr(after.Address), "10.20.3.11");
    // diff of a file and a module compares what apply sets.
    EXPECT_EQ(RunCli({"diff", partial, Host(0)}).Exit, 0);
    EXPECT_EQ(RunCli({"diff", Host(1), partial}).Exit, 1);

    const int before = RequestCount();
    const TRun write = RunCli({"write", partial, Host(1)});
    EXPECT_EQ(write.Exit, 4);
    EXPECT_TRUE(write.Err.contains("IP/GATEWAY")) << write.Err.toStdString();
    EXPECT_FALSE(write.Err.contains("CHANNEL_0/BAUDRATE"));
    EXPECT_EQ(RequestCount(), before);
}

// Values for all modules (--set) and for one (its hosts-file line) go through the file's checks and
// win over the file, the module's own over --set.
TEST_F(CliIdentityTest, PerHostValuesWinOverTheFileAndAreCheckedLikeIt)
{
    const QString file = WriteFile("slave.ini", "[CHANNEL_1]\r\nSLAVE_ADDRESS=17\r\nTIMEOUT=100\r\n");
    const TRun run = RunCli({"--hosts", HostsFile({"CHANNEL_1/SLAVE_ADDRESS=41", "channel_1/slave_address=42"}),
                             "--set", "CHANNEL_1/TIMEOUT=300", "--set", "CHANNEL_1/SLAVE_ADDRESS=30", "apply", file});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    const int slaves[] = {41, 42, 30};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Modules[i]->Config().Channels[1].SlaveAddress, slaves[i]);
        EXPECT_EQ(Modules[i]->Config().Channels[1].Timeout, 300);
    }

    // A module named on two lines keeps the values of both.
    const QString twice = WriteFile(
        "twice.txt", (Host(0) + " CHANNEL_1/SLAVE_ADDRESS=50\n" + Host(0) + " CHANNEL_1/TIMEOUT=400\n").toUtf8());
    ASSERT_EQ(RunCli({"--hosts", twice, "apply", file}).Exit, 0);
    EXPECT_EQ(Modules[0]->Config().Channels[1].SlaveAddress, 50);
    EXPECT_EQ(Modules[0]->Config().Channels[1].Timeout, 400);

    struct TCase {
        QStringList Arguments;
        std::vector<QString> HostValues;
        int Exit;
        const char* Told;
    };
    const TCase refused[] = {
        {{"--set", "CHANNEL_0/TIMEOUT=2"},
         {},
         2,
         "CHANNEL_0] TIMEOUT=2 в параметре --set: допускаются значения 5..1000"},
        {{"--set", "CHANNEL_0/REPLIES=2"}, {}, 2, "Допускаются значения 0..0"},
        {{"--set", "CHANNEL_9/BAUDRATE=9600"}, {}, 2, "неизвестный ключ CHANNEL_9/BAUDRATE"},
        {{"--set", "CHANNEL_0/BAUDRATE"}, {}, 2, "ожидается РАЗДЕЛ/КЛЮЧ=ЗНАЧЕНИЕ"},
        {{"--set", "CHANNEL_0/BAUDRATE=9600\n[IP]\nADDRESS=10.0.0.1"}, {}, 2, "ожидается РАЗДЕЛ/КЛЮЧ=ЗНАЧЕНИЕ"},
        {{}, {"CHANNEL_0/PARITY=7"}, 4, "PARITY=7 для модуля 127.0.0.1:"},
        {{}, {"IP/ADDRESS=10.20.3"}, 4, "ADDRESS=10.20.3 для модуля"},
        // Each line its own value, but two of them alike: two modules at one address.
        {{},
         {"IP/ADDRESS=10.20.3.31", "IP/ADDRESS=10.20.3.32", "ip/address=10.20.3.31"},
         2,
         "двум модулям дан один адрес IP/ADDRESS=10.20.3.31: "},
        {{"--set", "IP/ADDRESS=10.20.3.31"},
         {"IP/ADDRESS=10.20.3.41", "IP/ADDRESS=10.20.3.41", "IP/ADDRESS=10.20.3.43"},
         2,
         "cabinet3.txt:2 (127.0.0.1:"},
    };
    // One module named twice with different values for a key: no line may win silently.
    for (const char* command : {"apply", "write"}) {
        const QString differ = WriteFile("differ.txt", (Host(0) + " CHANNEL_1/SLAVE_ADDRESS=50\n" + Host(1) + "\n" +
                                                        Host(0) + " channel_1/slave_address=51\n")
                                                           .toUtf8());
        const TRun run = RunCli({"--hosts", differ, command, command == QString("apply") ? file : FullFile()});
        EXPECT_EQ(run.Exit, 2);
        EXPECT_TRUE(QString::fromUtf8(run.Err).contains(
            "модулю " + Host(0) + " даны разные значения CHANNEL_1/SLAVE_ADDRESS: " + differ + ":1 и " + differ + ":3"))
            << run.Err.toStdString();
    }
    const int before = RequestCount();
    for (const TCase& c : refused) {
        SCOPED_TRACE(c.Told);
        const TRun bad = RunCli(c.Arguments + QStringList{"--hosts", HostsFile(c.HostValues), "apply", file});
        EXPECT_EQ(bad.Exit, c.Exit);
        EXPECT_TRUE(QString::fromUtf8(bad.Err).contains(QString::fromUtf8(c.Told))) << bad.Err.toStdString();
    }
    EXPECT_EQ(RequestCount(), before);
}

// A module whose stored checksum is wrong: every command that reads it says so, apply rewrites it
// even though its fields match and says why.
TEST_F(CliIdentityTest, AWrongChecksumIsToldEverywhereAndRepairedByApply)
{
    TModuleSimServer& damaged = *Modules[1];
    const int checksumRegister = ConfigFirstRegister + int(ConfigCRCOffset / 2);
    damaged.SetRegister(checksumRegister, 0);
    const QString partial = WriteFile("baud.ini", "[CHANNEL_0]\r\nBAUDRATE=115200\r\n");

    for (const QStringList& command : {QStringList{"info"}, QStringList{"read"}}) {
        const TRun run = RunCli(QStringList{"--json"} + command + QStringList{Host(0), Host(1)});
        int told = 0;
        for (const QJsonObject& line : run.JsonLines())
            if (line["command"].toString() == command[0]) {
                ++told;
                EXPECT_EQ(line["checksum_valid"].toBool(true), line["port"].toInt() != damaged.Port())
                    << command[0].toStdString();
            }
        EXPECT_EQ(told, 2) << run.Out.toStdString();
    }
    const TRun diff = RunCli({"--json", "diff", Host(0), Host(1)});
    EXPECT_EQ(diff.Exit, 1);
    EXPECT_TRUE(diff.JsonLines()[0]["checksum_valid_a"].toBool());
    EXPECT_FALSE(diff.JsonLines()[0]["checksum_valid_b"].toBool(true));

    const TRun apply = RunCli({"--hosts", HostsFile({}), "apply", partial});
    EXPECT_EQ(apply.Exit, 0) << apply.Err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(apply.Out).contains("контрольная сумма была неверна")) << apply.Out.toStdString();
    EXPECT_TRUE(ChecksumValid(damaged.Config()));
    const TRun again = RunCli({"apply", partial, Host(1)});
    EXPECT_TRUE(QString::fromUtf8(again.Out).contains("без изменений")) << again.Out.toStdString();
}

// Another maker's register server: zeros where the information block should be, an exception for
// the module's registers, or data in them that no module holds (a parity of 4660). Told as such, with
// its own status, and written only with --force.
TEST(CliForeignDevice, IsToldAndNeverWrittenWithoutForce)
{
    QTemporaryDir folder;
    const QString partial = folder.filePath("baud.ini");
    {
        QFile file(partial);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[CHANNEL_0]\r\nBAUDRATE=9600\r\n");
    }
    const QString full = folder.filePath("full.ini");
    SaveConfigToFile(full.toStdString(), FactoryDefaults);
    struct TCase {
        const char* Name;
        quint16 Registers;  // holding registers 0.. the device has
        quint16 Value;      // what each of them holds
        bool Writable;      // --force may write it
        const char* Sign;   // what the error tells of it
    };
    for (const TCase& c : {TCase{"zeroed", 300, 0, true, "информационный блок пуст"},
                           TCase{"too few registers", 50, 0, false, "недопустимый адрес данных"},
                           TCase{"data no module holds", 200, 0x1234, true, "CHANNEL_1/STOPBITS=4660"}}) {
        SCOPED_TRACE(c.Name);
        QModbusTcpServer device;
        QModbusDataUnitMap map;
        map.insert(QModbusDataUnit::HoldingRegisters,
                   {QModbusDataUnit::HoldingRegisters, 0, QList<quint16>(c.Registers, c.Value)});
        device.setMap(map);
        device.setServerAddress(ModuleUnitId);
        device.setConnectionParameter(QModbusDevice::NetworkAddressParameter, "127.0.0.1");
        // Qt picks no free port by itself: take one from the system.
        const quint16 port = ClosedPort();
        device.setConnectionParameter(QModbusDevice::NetworkPortParameter, port);
        ASSERT_TRUE(device.connectDevice()) << device.errorString().toStdString();
        int writes = 0;
        QObject::connect(&device, &QModbusServer::dataWritten,
                         [&](QModbusDataUnit::RegisterType, int, int) { ++writes; });
        const QString host = QString("127.0.0.1:%1").arg(port);

        for (const QStringList& command :
             {QStringList{"info"}, QStringList{"read"}, QStringList{"apply", partial}, QStringList{"write", full}}) {
            const TRun run = RunCli(QStringList{"--json"} + command + QStringList{host});
            EXPECT_EQ(run.Exit, 3) << command[0].toStdString();
            ASSERT_FALSE(run.JsonLines().empty());
            const QJsonObject line = run.JsonLines()[0];
            EXPECT_EQ(line["reason"].toString(), "not_a_module") << run.Out.toStdString();
            EXPECT_TRUE(line["error"].toString().startsWith(QString::fromUtf8(NotAModuleText)));
            EXPECT_TRUE(line["error"].toString().contains(c.Sign)) << line["error"].toString().toStdString();
        }
        const TRun scan = RunCli({"--json", "--port", QString::number(port), "scan", "127.0.0.1-127.0.0.1"});
        ASSERT_FALSE(scan.JsonLines().empty());
        EXPECT_FALSE(scan.JsonLines()[0]["ok"].toBool());
        EXPECT_EQ(scan.JsonLines()[0]["reason"].toString(), "not_a_module");
        EXPECT_EQ(writes, 0);

        const TRun forced = RunCli({"--force", "apply", partial, host});
        EXPECT_EQ(forced.Exit, c.Writable ? 0 : 3) << forced.Out.toStdString();
        EXPECT_EQ(writes > 0, c.Writable);
    }
}
