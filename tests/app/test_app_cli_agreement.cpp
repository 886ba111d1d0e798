// The window and korvel-cli agree on every configuration file: the file is opened in the real
// window and written to one simulated module, and the real korvel-cli applies it to another. Either
// both modules then hold the same registers, with the file's values, or korvel-cli refused the file
// before sending anything: with the window's own message where the window refuses it too, naming
// the key where the window would send another value than the file's.

#include "AppTestSupport.h"

#include "ConfigCRC.h"
#include "ConfigFields.h"
#include "IPAddressText.h"
#include "IniText.h"
#include "ModuleDefaults.h"
#include "ModuleRegisters.h"
#include "ModuleSimServer.h"
#include "RConvert.h"
#include "Wait.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <array>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

struct TKeyValue {
    std::string Section;
    std::string Key;
    std::string Value;
};

struct TFileCase {
    std::string What;
    std::vector<TKeyValue> Values;  // put into the base file
    std::string Text = {};          // the whole file instead, when not empty
};

namespace {

const QString WrittenText = QStringLiteral("Конфигурация успешно загружена");
constexpr int CliFileRefused = 4;

// Channel 0 a master, channel 1 a slave, every value inside its range.
const std::string BaseFile = "[IP]\r\n"
                             "ADDRESS=127.0.0.1\r\n"
                             "GATEWAY=127.0.0.254\r\n"
                             "NETMASK=255.0.0.0\r\n"
                             "TCP_PORT=502\r\n"
                             "[CHANNEL_0]\r\n"
                             "SLAVE_ADDRESS=0\r\n"
                             "BAUDRATE=9600\r\n"
                             "PARITY=1\r\n"
                             "STOPBITS=1\r\n"
                             "TIMEOUT=250\r\n"
                             "REPLIES=0\r\n"
                             "IP_ADDRESS_0=10.1.2.50\r\n"
                             "TCP_PORT_0=5020\r\n"
                             "IP_ADDRESS_1=10.1.2.51\r\n"
                             "TCP_PORT_1=5021\r\n"
                             "ETH_RECV_TOUT=300\r\n"
                             "ETH_CONN_TOUT=400\r\n"
                             "[CHANNEL_1]\r\n"
                             "SLAVE_ADDRESS=17\r\n"
                             "BAUDRATE=19200\r\n"
                             "PARITY=2\r\n"
                             "STOPBITS=2\r\n"
                             "TIMEOUT=100\r\n"
                             "REPLIES=0\r\n"
                             "IP_ADDRESS_0=10.1.3.50\r\n"
                             "TCP_PORT_0=6020\r\n"
                             "IP_ADDRESS_1=10.1.3.51\r\n"
                             "TCP_PORT_1=6021\r\n"
                             "ETH_RECV_TOUT=200\r\n"
                             "ETH_CONN_TOUT=150\r\n";

std::string FileText(const TFileCase& c)
{
    if (!c.Text.empty())
        return c.Text;
    TIniText ini(BaseFile);
    for (const TKeyValue& value : c.Values)
        ini.WriteString(value.Section, value.Key, value.Value);
    return ini.Text();
}

std::vector<uint16_t> ConfigRegisters(const TModuleSimServer& module)
{
    std::vector<uint16_t> registers;
    for (int k = ConfigFirstRegister; k <= MarkerRegister; ++k)
        registers.push_back(module.Register(k));
    return registers;
}

TModuleConfig RecordOf(const std::vector<uint16_t>& registers)
{
    TModuleConfig config{};
    std::memcpy(&config, registers.data(), sizeof config);
    return config;
}

std::string KeyName(const TConfigField& field)
{
    return "[" + field.Section + "] " + field.Key;
}

// Whether the file's text stands for another value than the one the module was given.
bool FileValueDiffers(const TConfigField& field, const std::string& text, const TModuleConfig& sent)
{
    if (field.Format == TFieldFormat::Address) {
        TIPAddress address{};
        return !StrToIP(text, address) || address != FieldAddress(sent, field);
    }
    const std::string sentText = FieldIniText(sent, field);
    const auto fileNumber = ParseIntegerText(text);
    const auto sentNumber = ParseIntegerText(sentText);
    if (fileNumber && sentNumber)
        return *fileNumber != *sentNumber;
    return text != sentText;
}

// The keys the file holds whose value the module was not given, with the file's text.
std::vector<std::pair<const TConfigField*, std::string>> KeysNotSentAsInFile(const std::string& fileText,
                                                                             const TModuleConfig& sent)
{
    const std::string missing = "\n";  // no value read from a line holds a line end
    const TIniText ini(fileText);
    std::vector<std::pair<const TConfigField*, std::string>> keys;
    for (const TConfigField& field : ConfigFields()) {
        const std::string text = ini.ReadString(field.Section, field.Key, missing);
        if (text != missing && FileValueDiffers(field, text, sent))
            keys.emplace_back(&field, text);
    }
    return keys;
}

std::string Describe(const std::vector<std::pair<const TConfigField*, std::string>>& keys, const TModuleConfig& sent)
{
    std::ostringstream text;
    for (const auto& [field, fileText] : keys)
        text << " " << KeyName(*field) << "=" << fileText << " sent as " << FieldIniText(sent, *field) << ";";
    return text.str();
}

std::string Describe(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b)
{
    std::ostringstream text;
    for (size_t k = 0; k < a.size(); ++k)
        if (a[k] != b[k])
            text << " register " << ConfigFirstRegister + k << ": window " << a[k] << ", korvel-cli " << b[k] << ";";
    return text.str();
}

struct TWindowOutcome {
    enum { Written, Refused, Failed } Kind = Failed;
    QString Box;  // the first box the write showed
};

struct TCliOutcome {
    int Exit = -1;
    QString Error;
};

class CliAgreementTest : public MainWindowFixture {
protected:
    // Opens and writes the file with both front ends at once, each to a module of its own, in a
    // window made for this file; tells how they disagree, empty when they agree.
    std::string Disagreement(const QString& path)
    {
        TModuleSimServer windowModule;
        TModuleSimServer cliModule;
        if (!windowModule.Listen(QHostAddress::LocalHost, 0) || !cliModule.Listen(QHostAddress::LocalHost, 0))
            return "no loopback port for the modules";
        PointSettingsAt(windowModule.Port());
        Window_.reset();
        Dialogs.Boxes.clear();

        // apply, since write takes only whole files: over a module holding the factory configuration it
        // leaves a key the file lacks at the value the window's reader gives it.
        QProcess cli;
        cli.start(KORVEL_CLI,
                  {"--timeout", "2000", "apply", path, "127.0.0.1", "--port", QString::number(cliModule.Port())});

        Window().OpenFileAtStart(path);
        if (!Dialogs.Boxes.empty())
            return "the window did not open the file: " + Dialogs.Boxes.front().Text.toStdString();
        Action("WriteConfigAction")->trigger();
        const bool done = WaitUntil([&] { return !Dialogs.Boxes.empty() && cli.state() == QProcess::NotRunning; },
                                    std::chrono::seconds(20));
        if (!done)
            return Dialogs.Boxes.empty() ? "the window's write did not end" : "korvel-cli did not end";
        // The question whether to follow the module's new address is never answered yes here.
        if (Window().Settings.IPAddress != "127.0.0.1" || Window().Settings.TCPPort != windowModule.Port())
            return "the window's settings left the loopback module";

        TWindowOutcome window;
        window.Box = Dialogs.Boxes.front().Text;
        if (window.Box == WrittenText)
            window.Kind = TWindowOutcome::Written;
        else if (Dialogs.Boxes.front().Flags == MB::IconError && windowModule.RequestCount() == 0)
            window.Kind = TWindowOutcome::Refused;
        TCliOutcome cliOutcome;
        cliOutcome.Exit = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
        cliOutcome.Error = QString::fromUtf8(cli.readAllStandardError()).trimmed();
        return Judge(FileBytes(path).toStdString(), window, windowModule, cliOutcome, cliModule);
    }

    static std::string Judge(const std::string& fileText, const TWindowOutcome& window,
                             const TModuleSimServer& windowModule, const TCliOutcome& cli,
                             const TModuleSimServer& cliModule)
    {
        const std::string windowSaid = "the window said \"" + window.Box.toStdString() + "\"";
        const std::string cliSaid =
            "korvel-cli ended with " + std::to_string(cli.Exit) + " saying \"" + cli.Error.toStdString() + "\"";
        const std::vector<uint16_t> windowRegisters = ConfigRegisters(windowModule);
        const TModuleConfig sent = RecordOf(windowRegisters);

        if (cli.Exit == 0) {
            if (window.Kind != TWindowOutcome::Written)
                return "korvel-cli wrote the file, but " + windowSaid;
            const std::vector<uint16_t> cliRegisters = ConfigRegisters(cliModule);
            if (windowRegisters != cliRegisters)
                return "both wrote, but the modules hold different registers:" +
                       Describe(windowRegisters, cliRegisters);
            const auto changed = KeysNotSentAsInFile(fileText, sent);
            if (!changed.empty())
                return "both wrote other values than the file's:" + Describe(changed, sent);
            return {};
        }
        if (cli.Exit != CliFileRefused)
            return cliSaid + "; " + windowSaid;
        if (cliModule.RequestCount() != 0)
            return "korvel-cli refused the file after talking to the module; " + cliSaid;

        switch (window.Kind) {
        case TWindowOutcome::Refused:
            if (!cli.Error.contains(window.Box))
                return "both refused the file, with different messages: " + windowSaid + "; " + cliSaid;
            return {};
        case TWindowOutcome::Written: {
            const auto changed = KeysNotSentAsInFile(fileText, sent);
            if (changed.empty())
                return "the window wrote every value of the file, but " + cliSaid;
            for (const auto& key : changed)
                if (cli.Error.contains(QString::fromStdString(KeyName(*key.first))))
                    return {};
            return "the window sent other values than the file's (" + Describe(changed, sent) +
                   " ), but korvel-cli names none of those keys: " + cliSaid;
        }
        case TWindowOutcome::Failed: break;
        }
        return "the window's write failed: " + windowSaid + "; " + cliSaid;
    }

    QString WriteCase(const TFileCase& c)
    {
        const QString path = Path("case.ini");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(FileText(c)));
        return path;
    }
};

}  // namespace

class CliAgreementFileTest : public CliAgreementTest, public testing::WithParamInterface<TFileCase> {};

TEST_P(CliAgreementFileTest, BothWriteTheSameOrTheCliRefusesForTheWindowsReason)
{
    const std::string disagreement = Disagreement(WriteCase(GetParam()));
    EXPECT_TRUE(disagreement.empty()) << disagreement << "\nfile:\n" << FileText(GetParam());
}

namespace {

// Channel 0 is a master and channel 1 a slave in the base file.
const std::string Ip = "IP";
const std::string Master = "CHANNEL_0";
const std::string Slave = "CHANNEL_1";

INSTANTIATE_TEST_SUITE_P(
    Files, CliAgreementFileTest,
    testing::Values(
        TFileCase{"base file", {}}, TFileCase{"module port 0", {{Ip, "TCP_PORT", "0"}}},
        TFileCase{"module port 1", {{Ip, "TCP_PORT", "1"}}},
        TFileCase{"module port 65535", {{Ip, "TCP_PORT", "65535"}}},
        TFileCase{"module port 65536", {{Ip, "TCP_PORT", "65536"}}},
        TFileCase{"module address 300.1.1.1", {{Ip, "ADDRESS", "300.1.1.1"}}},
        TFileCase{"gateway with three parts", {{Ip, "GATEWAY", "10.0.0"}}},
        TFileCase{"netmask with blanks", {{Ip, "NETMASK", " 255.255.255.0 "}}},
        TFileCase{"slave address 0 makes a master", {{Slave, "SLAVE_ADDRESS", "0"}}},
        TFileCase{"slave address 255", {{Slave, "SLAVE_ADDRESS", "255"}}},
        TFileCase{"slave address 256", {{Slave, "SLAVE_ADDRESS", "256"}}},
        TFileCase{"slave address 300", {{Slave, "SLAVE_ADDRESS", "300"}}},
        TFileCase{"master time-out 4", {{Master, "TIMEOUT", "4"}}},
        TFileCase{"master time-out 5", {{Master, "TIMEOUT", "5"}}},
        TFileCase{"master time-out 1000", {{Master, "TIMEOUT", "1000"}}},
        TFileCase{"master time-out 1001", {{Master, "TIMEOUT", "1001"}}},
        TFileCase{"master time-out 2", {{Master, "TIMEOUT", "2"}}},
        TFileCase{"master time-out not a number", {{Master, "TIMEOUT", "abc"}}},
        TFileCase{"slave time-out 2", {{Slave, "TIMEOUT", "2"}}},
        TFileCase{"master replies 0", {{Master, "REPLIES", "0"}}},
        TFileCase{"master replies 1", {{Master, "REPLIES", "1"}}},
        TFileCase{"master replies 2", {{Master, "REPLIES", "2"}}},
        TFileCase{"slave replies 2", {{Slave, "REPLIES", "2"}}},
        TFileCase{"replies refused after a time-out put into range",
                  {{Master, "TIMEOUT", "2"}, {Slave, "REPLIES", "2"}}},
        TFileCase{"server port 0", {{Slave, "TCP_PORT_0", "0"}}},
        TFileCase{"server port 1", {{Slave, "TCP_PORT_0", "1"}}},
        TFileCase{"server port 65535", {{Slave, "TCP_PORT_0", "65535"}}},
        TFileCase{"second server port 65536", {{Slave, "TCP_PORT_1", "65536"}}},
        TFileCase{"server port 0 of a master", {{Master, "TCP_PORT_0", "0"}}},
        TFileCase{"server address 300.1.1.1", {{Slave, "IP_ADDRESS_0", "300.1.1.1"}}},
        TFileCase{"ModbusTCP time-out 0", {{Slave, "ETH_RECV_TOUT", "0"}}},
        TFileCase{"ModbusTCP time-out 65535", {{Slave, "ETH_RECV_TOUT", "65535"}}},
        TFileCase{"ModbusTCP time-out 65536", {{Slave, "ETH_RECV_TOUT", "65536"}}},
        TFileCase{"connection time 65536 of a master", {{Master, "ETH_CONN_TOUT", "65536"}}},
        TFileCase{"parity -1", {{Master, "PARITY", "-1"}}}, TFileCase{"parity 0", {{Master, "PARITY", "0"}}},
        TFileCase{"parity 2", {{Master, "PARITY", "2"}}}, TFileCase{"parity 3", {{Master, "PARITY", "3"}}},
        TFileCase{"stop bits 0", {{Slave, "STOPBITS", "0"}}}, TFileCase{"stop bits 1", {{Slave, "STOPBITS", "1"}}},
        TFileCase{"stop bits 2", {{Slave, "STOPBITS", "2"}}}, TFileCase{"stop bits 3", {{Slave, "STOPBITS", "3"}}},
        TFileCase{"baud rate 600", {{Master, "BAUDRATE", "600"}}},
        TFileCase{"baud rate 2304000", {{Master, "BAUDRATE", "2304000"}}},
        TFileCase{"baud rate 9601", {{Master, "BAUDRATE", "9601"}}},
        TFileCase{"both channels masters", {{Slave, "SLAVE_ADDRESS", "0"}, {Slave, "TIMEOUT", "1000"}}},
        TFileCase{"both channels slaves", {{Master, "SLAVE_ADDRESS", "1"}, {Master, "TCP_PORT_1", "1"}}},
        TFileCase{"only the module's network", {}, "[IP]\r\nADDRESS=127.0.0.1\r\nTCP_PORT=1502\r\n"},
        TFileCase{"one key of a channel", {}, "[CHANNEL_1]\r\nTIMEOUT=1001\r\n"}),
    ParamNameFromWhat<TFileCase>);

// Every configuration file the repository ships (outside build folders) is taken alike.
std::vector<QString> RepositoryConfigFiles(const QString& folder)
{
    std::vector<QString> files;
    const QDir dir(folder);
    for (const QFileInfo& entry : dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (entry.isDir()) {
            if (!entry.fileName().startsWith("build"))
                for (const QString& file : RepositoryConfigFiles(entry.filePath()))
                    files.push_back(file);
        } else if (entry.suffix().compare("ini", Qt::CaseInsensitive) == 0) {
            files.push_back(entry.filePath());
        }
    }
    return files;
}

}  // namespace

TEST_F(CliAgreementTest, EveryConfigurationFileOfTheRepository)
{
    const std::vector<QString> files = RepositoryConfigFiles(KORVEL_SOURCE_DIR);
    ASSERT_TRUE(std::any_of(files.begin(), files.end(),
                            [](const QString& file) { return file.endsWith("ansible/examples/commissioning.ini"); }));
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const std::string disagreement = Disagreement(file);
        EXPECT_TRUE(disagreement.empty()) << disagreement;
    }
}

// A read of one module record through both: a value no module holds makes the device "not a module"
// for korvel-cli and a warning naming the value in the window, which still shows the record; a wrong
// checksum alone is a damaged module to both.
TEST_F(CliAgreementTest, AReadTellsADeviceThatIsNoModuleAlike)
{
    struct TCase {
        const char* What;
        uint16_t BaudIndex;
        uint16_t CRCFlip;    // the stored checksum is XORed with it
        const char* Window;  // in the window's box, as a warning
        const char* Cli;     // in korvel-cli's line of info
        int CliExit;
    };
    const TCase cases[] = {
        {"baud index 25", 25, 0,
         "не похоже на модуль: модуль не хранит таких значений\nRS-485 Канал 1, Скорость: индекс 25",
         "устройство не похоже на модуль (значения вне допустимых: CHANNEL_0/BAUDRATE=индекс 25)", 3},
        {"a wrong checksum only", 4, 0x0100, "Контрольная сумма конфигурации модуля неверна",
         "контрольная сумма конфигурации неверна", 0},
    };
    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    PointSettingsAt(module.Port());
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TModuleConfig record = FactoryDefaults;
        record.Channels[0].BaudIndex = c.BaudIndex;
        SetConfigCRC(record);
        record.CRC ^= c.CRCFlip;
        std::array<uint16_t, ConfigReadRegisterCount> registers{};
        std::memcpy(registers.data(), &record, sizeof record);
        for (int k = 0; k < ConfigReadRegisterCount; ++k)
            module.SetRegister(ConfigFirstRegister + k, registers[size_t(k)]);

        Dialogs.Boxes.clear();
        Action("ReadConfigAction")->trigger();
        ASSERT_TRUE(WaitUntil([&] { return !Dialogs.Boxes.empty(); }));
        EXPECT_TRUE(Dialogs.Boxes[0].Text.contains(QString::fromUtf8(c.Window))) << Dialogs.Boxes[0].Text.toStdString();
        EXPECT_EQ(Dialogs.Boxes[0].Flags, MB::Warning);
        EXPECT_EQ(Window().Config.Channels[0].BaudIndex, c.BaudIndex);

        QProcess cli;
        cli.start(KORVEL_CLI, {"info", "127.0.0.1", "--port", QString::number(module.Port())});
        ASSERT_TRUE(WaitUntil([&] { return cli.state() == QProcess::NotRunning; }, std::chrono::seconds(20)));
        EXPECT_EQ(cli.exitCode(), c.CliExit);
        EXPECT_TRUE(QString::fromUtf8(cli.readAllStandardOutput()).contains(QString::fromUtf8(c.Cli)));
    }
}
