// korvel-cli as a script runs it: the real program against simulated modules in this process
// (several ports, several 127.0.0.x addresses), scripted servers for broken modules, and a closed
// port for a refused connection. JSON output is parsed back.
#include "BaudRates.h"
#include "CliRun.h"
#include "ConfigCRC.h"
#include "ConfigFields.h"
#include "ConfigFile.h"
#include "ModbusMaster.h"
#include "ModuleDefaults.h"
#include "ModuleRegisters.h"
#include "ConfigVerdict.h"
#include "ModuleSimServer.h"
#include "ScriptedServer.h"
#include "Wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>

namespace {

QString Host(const TModuleSimServer& module, const char* address = "127.0.0.1")
{
    return QString("%1:%2").arg(address).arg(module.Port());
}

TModuleConfig StoredConfig(const TModuleSimServer& module)
{
    std::array<uint16_t, ConfigReadRegisterCount> registers{};
    for (size_t k = 0; k < registers.size(); ++k)
        registers[k] = module.Register(ConfigFirstRegister + int(k));
    TModuleConfig config{};
    std::memcpy(&config, registers.data(), sizeof config);
    return config;
}

QByteArray WriteReply(const TScriptedRequest& request)
{
    QByteArray pdu;
    pdu.append(char(FunctionWriteMultipleRegisters));
    pdu.append(request.Frame.mid(8, 4));
    return MbapFrame(request.TransactionId(), request.UnitId(), pdu);
}

// The reply of a module holding config to a read of its registers, whichever of them are asked.
QByteArray ModuleReadReply(const TScriptedRequest& request, TModuleConfig config)
{
    SetConfigCRC(config);  // a module keeps the checksum it was given
    TModuleBlocks blocks{};
    blocks.Info.Version = 0x0103;
    blocks.Info.MAC[5] = 0x01;
    blocks.Config = config;
    std::vector<uint16_t> registers(sizeof blocks / 2);
    std::memcpy(registers.data(), &blocks, sizeof blocks);
    const auto first = registers.begin() + (request.StartAddress() - InfoFirstRegister);
    return ReadRegistersReply(request, std::vector<uint16_t>(first, first + request.Count()));
}

// A port on which nothing listens: taken from the system, then let go.
quint16 ClosedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

class CliTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Folder.isValid());
        for (int i = 0; i < 3; ++i) {
            auto& module = Modules.emplace_back(std::make_unique<TModuleSimServer>());
            module->SetVersion(1, uint8_t(3 + i));
            module->SetMac({0x12, 0x34, 0x56, 0x78, 0x9A, uint8_t(0xB0 + i)});
            module->SetJumperFitted(i == 1);
            // The third module on another loopback address.
            ASSERT_TRUE(module->Listen(QHostAddress(i == 2 ? "127.0.0.2" : "127.0.0.1"), 0))
                << module->ErrorText().toStdString();
        }
    }

    QStringList AllHosts() const { return {Host(*Modules[0]), Host(*Modules[1]), Host(*Modules[2], "127.0.0.2")}; }

    QString WriteIni(const QString& name, const QByteArray& text)
    {
        const QString path = Folder.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return path;
    }

    QString ConfigFile(const QString& name, const TModuleConfig& config)
    {
        const QString path = Folder.filePath(name);
        SaveConfigToFile(path.toStdString(), config);
        return path;
    }

    static TModuleConfig Changed()
    {
        TModuleConfig config = FactoryDefaults;
        config.Channels[0].BaudIndex = 4;
        config.Channels[1].SlaveAddress = 17;
        config.Gateway = {10, 0, 0, 254};
        return config;
    }

    QTemporaryDir Folder;
    std::vector<std::unique_ptr<TModuleSimServer>> Modules;
};

}  // namespace

TEST_F(CliTest, InfoReportsEveryModuleAsJson)
{
    const TRun run = RunCli(QStringList{"--json", "info"} + AllHosts());
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    const std::vector<QJsonObject> lines = run.ModuleLines();
    ASSERT_EQ(lines.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const QJsonObject& line = lines[size_t(i)];
        EXPECT_EQ(line["command"].toString(), "info");
        EXPECT_TRUE(line["ok"].toBool());
        EXPECT_EQ(line["host"].toString(), i == 2 ? "127.0.0.2" : "127.0.0.1");
        EXPECT_EQ(line["port"].toInt(), Modules[size_t(i)]->Port());
        EXPECT_EQ(line["firmware"].toString(), QString("1.%1").arg(3 + i));
        EXPECT_EQ(line["mac"].toString(), QString("12-34-56-78-9A-B%1").arg(i));
        EXPECT_EQ(line["jumper"].toBool(), i == 1);
        EXPECT_TRUE(line["ms"].isDouble());
    }
}

// Every command but report starts without the GUI libraries, a report loads them in a program of its
// own, started in korvel-cli's place with the same command line and answering as korvel-cli would.
TEST_F(CliTest, OnlyTheReportLoadsTheGuiLibraries)
{
    const QString report = Folder.filePath("report.html");
    const struct {
        QStringList Arguments;
        bool Gui;
    } cases[] = {
        {{"--version"}, false},
        {QStringList{"info"} + AllHosts(), false},
        {{"report", ConfigFile("plant.ini", Changed()), "-o", report}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Arguments.join(' ').toStdString());
        const TRun run = RunCli(c.Arguments, [](QProcess& program) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("LD_DEBUG", "libs");
            program.setProcessEnvironment(environment);
        });
        EXPECT_EQ(run.Exit, 0) << run.Err.right(2000).toStdString();
        ASSERT_TRUE(run.Err.contains("libQt6Core.so")) << "the loader told nothing";
        EXPECT_EQ(run.Err.contains("libQt6Gui.so"), c.Gui);
    }
    EXPECT_TRUE(QFileInfo(report).size() > 0);
}

TEST_F(CliTest, SilentAndRefusedModulesFailOnlyThemselves)
{
    TScriptedServer silent([](const TScriptedRequest&) { return TScriptedAnswer{}; });
    ASSERT_TRUE(silent.Listen());
    const quint16 closed = ClosedPort();
    const TRun run = RunCli({"--json", "--retries", "0", "info", Host(*Modules[0]),
                             QString("127.0.0.1:%1").arg(silent.Port()), QString("127.0.0.1:%1").arg(closed)});
    EXPECT_EQ(run.Exit, 3);
    const std::vector<QJsonObject> lines = run.ModuleLines();
    ASSERT_EQ(lines.size(), 3u);
    int failed = 0;
    for (const QJsonObject& line : lines) {
        if (line["ok"].toBool())
            continue;
        ++failed;
        // Both got no reply; the refused one says why.
        const bool refused = line["port"].toInt() == closed;
        EXPECT_EQ(line["status"].toInt(), 1);
        EXPECT_EQ(line["reason"].toString(), refused ? "refused" : "timeout");
        EXPECT_EQ(line["error"].toString(), refused ? "Нет ответа (соединение отвергнуто)" : "Нет ответа");
        EXPECT_FALSE(line.contains("exception"));
    }
    EXPECT_EQ(failed, 2);
}

// A module that answers with a Modbus exception: the status text keeps its form, the exception's
// name follows it for people, and the JSON line carries the code and the name beside it.
TEST_F(CliTest, AnExceptionIsToldByItsName)
{
    const QString file = ConfigFile("wanted.ini", Changed());
    struct TCase {
        QStringList Arguments;
        bool AnswerWrites;  // the write is taken and only the read that checks it is refused
        uint8_t Code;
        const char* Outcome;  // what the line says before the status text
        const char* Name;
    };
    const TCase cases[] = {
        {{"info"}, false, 6, "ошибка: ", "устройство занято"},
        {{"read"}, false, 4, "ошибка: ", "отказ устройства"},
        {{"write", file}, false, 3, "ошибка: ", "недопустимое значение данных"},
        {{"write", file}, true, 6, "конфигурация записана, но не проверена: ", "устройство занято"},
        {{"info"}, false, 9, "ошибка: ", "код 9"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Arguments.join(' ').toStdString() + ", exception " + std::to_string(c.Code));
        int writtenOn = -1;  // the connection that wrote: its read-back is refused, not the read before
        TScriptedServer refusing([&](const TScriptedRequest& request) {
            if (c.AnswerWrites && request.FunctionCode() == FunctionWriteMultipleRegisters) {
                writtenOn = request.Connection;
                return TScriptedAnswer{WriteReply(request)};
            }
            if (c.AnswerWrites && request.Connection != writtenOn)
                return TScriptedAnswer{ModuleReadReply(request, FactoryDefaults)};
            return TScriptedAnswer{ExceptionReply(request, c.Code)};
        });
        ASSERT_TRUE(refusing.Listen());
        const QStringList arguments = c.Arguments + QStringList{QString("127.0.0.1:%1").arg(refusing.Port())};

        const TRun text = RunCli(arguments);
        EXPECT_EQ(text.Exit, 3) << text.Err.toStdString();
        const QString told =
            QString::fromUtf8(c.Outcome) + QString("Исключение (код: %1): ").arg(c.Code) + QString::fromUtf8(c.Name);
        EXPECT_TRUE(QString::fromUtf8(text.Out + text.Err).contains(told))
            << text.Out.toStdString() << text.Err.toStdString();

        const TRun json = RunCli(QStringList{"--json"} + arguments);
        EXPECT_EQ(json.Exit, 3);
        ASSERT_EQ(json.ModuleLines().size(), 1u) << json.Out.toStdString();
        const QJsonObject line = json.ModuleLines()[0];
        EXPECT_FALSE(line["ok"].toBool());
        EXPECT_EQ(line["status"].toInt(), StatusException);
        EXPECT_EQ(line["error"].toString(), QString("Исключение (код: %1)").arg(c.Code));
        EXPECT_EQ(line["exception"].toInt(-1), c.Code);
        EXPECT_EQ(line["exception_name"].toString(), QString::fromUtf8(c.Name));
        EXPECT_EQ(line.contains("verified"), c.AnswerWrites);
    }
}

// Exit statuses for what goes wrong before any module is asked; nothing reaches the module.
TEST_F(CliTest, UsageAndFileErrorsAreRefusedBeforeAnythingIsSent)
{
    const QString host = Host(*Modules[0]);
    const QString badBaud = WriteIni("bad-baud.ini", "[CHANNEL_0]\r\nBAUDRATE=9601\r\n");
    const QString badPort = WriteIni("bad-port.ini", "[IP]\r\nTCP_PORT=65536\r\n");
    const QString noConfig = WriteIni("other.ini", "[OTHER]\r\nKEY=1\r\n");
    const QString withBom =
        WriteIni("bom.ini", "\xEF\xBB\xBF[IP]\r\nADDRESS=10.20.3.11\r\n[CHANNEL_0]\r\nBAUDRATE=9600\r\n");
    const QString typo = WriteIni("typo.ini", "[CHANNEL_0]\r\nBAUDRATE=115200\r\nTIMOUT=300\r\n");
    struct TCase {
        QStringList Arguments;
        int Exit;
        QString Message;
    };
    const TCase cases[] = {
        {{}, 2, "не задана команда"},
        {{"reboot", host}, 2, "неизвестная команда reboot"},
        {{"info"}, 2, "не задан ни один модуль"},
        {{"info", "1.2.3"}, 2, "неверный адрес модуля 1.2.3"},
        {{"info", "127.0.0.1:0"}, 2, "неверный адрес модуля"},
        {{"--jobs", "0", "info", host}, 2, "Допускаются значения 1..4096"},
        {{"--bogus", "info", host}, 2, "неизвестный параметр --bogus"},
        {{"scan", "10.0.0.0/19"}, 2, "не более 4096"},
        {{"scan", "10.0.0.9-10.0.0.5"}, 2, "неверный диапазон"},
        {{"write", Folder.filePath("missing.ini"), host}, 4, "Ошибка открытия файла"},
        {{"write", badBaud, host}, 4, "Недопустимое значение [CHANNEL_0] BAUDRATE=9601"},
        {{"apply", badPort, host}, 4, "Недопустимое значение [IP] TCP_PORT=65536"},
        {{"write", noConfig, host}, 4, "не содержит конфигурации модуля"},
        {{"apply", withBom, host}, 4, "начинается с метки порядка байтов (BOM)"},
        // The window refuses it: its own message, then the key.
        {{"apply", WriteIni("repeats.ini", "[CHANNEL_0]\r\nREPLIES=2\r\n"), host},
         4,
         "Недопустимое значение количества повторов 2. Допускаются значения 0..0 ([CHANNEL_0] REPLIES в файле"},
        // The window would show, and send, another value: the key, the value and the range.
        {{"write", WriteIni("timeout.ini", "[CHANNEL_1]\r\nTIMEOUT=2\r\n"), host},
         4,
         "Недопустимое значение [CHANNEL_1] TIMEOUT=2 в файле"},
        {{"write", WriteIni("port0.ini", "[IP]\r\nTCP_PORT=0\r\n"), host}, 4, ": допускаются значения 1..65535"},
        {{"write", WriteIni("slave.ini", "[CHANNEL_0]\r\nSLAVE_ADDRESS=300\r\n"), host},
         4,
         "SLAVE_ADDRESS=300 в файле"},
        {{"write", WriteIni("stop.ini", "[CHANNEL_0]\r\nSTOPBITS=3\r\n"), host}, 4, ": допускаются значения 1..2"},
        {{"--hosts", Folder.filePath("missing.txt"), "info"}, 4, "Ошибка открытия файла"},
        // The reader passes over what it does not know: a typo would read as "nothing to change".
        {{"apply", typo, host}, 4, "Неизвестный ключ [CHANNEL_0] TIMOUT в файле " + typo + ", строка 3"},
        {{"diff", typo, host}, 4, "Неизвестный ключ [CHANNEL_0] TIMOUT"},
        {{"diff", host, typo}, 4, "Неизвестный ключ [CHANNEL_0] TIMOUT"},
        {{"write", WriteIni("section.ini", "[IP]\r\nTCP_PORT=502\r\n[CHANNEL0]\r\nBAUDRATE=9600\r\n"), host},
         4,
         "Неизвестный раздел [CHANNEL0] в файле"},
        {{"apply", WriteIni("twice.ini", "[CHANNEL_1]\r\nBAUDRATE=9600\r\n[channel_1]\r\nPARITY=1\r\n"), host},
         4,
         "Раздел [CHANNEL_1] повторяется"},
        {{"apply", WriteIni("key-twice.ini", "[IP]\r\nTCP_PORT=502\r\ntcp_port = 503\r\n"), host},
         4,
         "Ключ [IP] TCP_PORT повторяется в файле"},
    };
    for (const TCase& c : cases) {
        const TRun run = RunCli(c.Arguments);
        EXPECT_EQ(run.Exit, c.Exit) << c.Arguments.join(' ').toStdString();
        EXPECT_TRUE(QString::fromUtf8(run.Err).contains(c.Message))
            << c.Arguments.join(' ').toStdString() << ": " << run.Err.toStdString();
    }
    EXPECT_EQ(Modules[0]->RequestCount(), 0);
}

// A section that is not the configuration's is the owner's, as in the window: kept, and not judged.
TEST_F(CliTest, ForeignSectionsAreAllowed)
{
    const QString noted =
        WriteIni("noted.ini", "[NOTES]\r\nWHO=me\r\nBAUDRATE=fast\r\n[CHANNEL_0]\r\nBAUDRATE=9600\r\n; TIMOUT=300\r\n");
    const TRun apply = RunCli({"apply", noted, Host(*Modules[0])});
    EXPECT_EQ(apply.Exit, 0) << apply.Err.toStdString();
    EXPECT_EQ(StoredConfig(*Modules[0]).Channels[0].BaudIndex, BaudRateToIndex("9600"));
    EXPECT_EQ(RunCli({"diff", noted, Host(*Modules[0])}).Exit, 0);
}

// A file that never ends is refused as soon as it passes the limit, not read through first.
TEST_F(CliTest, FilesWithoutEndAreRefusedAtOnce)
{
    const QStringList runs[] = {{"--hosts", "/dev/zero", "info"}, {"write", "/dev/zero", Host(*Modules[0])}};
    for (const QStringList& arguments : runs) {
        QProcess program;
        program.start(KORVEL_CLI, arguments);
        ASSERT_TRUE(WaitUntil([&] { return program.state() == QProcess::NotRunning; }, std::chrono::seconds(10)))
            << arguments.join(' ').toStdString();
        EXPECT_EQ(program.exitCode(), 4) << arguments.join(' ').toStdString();
        EXPECT_EQ(QString::fromUtf8(program.readAllStandardError()),
                  "korvel-cli: Файл /dev/zero слишком велик: допускается не более 1048576 байт\n");
    }
    EXPECT_EQ(Modules[0]->RequestCount(), 0);
}

// The file is what the window's Save writes for the module's record, on stdout and in files.
TEST_F(CliTest, ReadGivesTheFileSaveConfigToFileWrites)
{
    Modules[1]->SetRegister(ConfigFirstRegister + 9, 42);  // channel 0's slave address
    const TModuleConfig stored = StoredConfig(*Modules[1]);
    QFile expected(ConfigFile("expected.ini", stored));
    ASSERT_TRUE(expected.open(QIODevice::ReadOnly));
    const QByteArray expectedBytes = expected.readAll();

    const TRun toStdout = RunCli({"read", Host(*Modules[1])});
    EXPECT_EQ(toStdout.Exit, 0) << toStdout.Err.toStdString();
    EXPECT_EQ(toStdout.Out, expectedBytes);

    const QString folder = Folder.filePath("fleet");
    const TRun toFolder = RunCli(QStringList{"read", "-o", folder} + AllHosts());
    EXPECT_EQ(toFolder.Exit, 0) << toFolder.Err.toStdString();
    QFile second(folder + QString("/127.0.0.1_%1.ini").arg(Modules[1]->Port()));
    ASSERT_TRUE(second.open(QIODevice::ReadOnly));
    EXPECT_EQ(second.readAll(), expectedBytes);
    EXPECT_TRUE(QFile::exists(folder + QString("/127.0.0.2_%1.ini").arg(Modules[2]->Port())));

    const QString unwritable = Folder.filePath("missing-folder/module.ini");
    const TRun failed = RunCli({"read", Host(*Modules[1]), "-o", unwritable});
    EXPECT_EQ(failed.Exit, 4);
    EXPECT_TRUE(failed.Err.contains("Ошибка записи в файл " + unwritable.toUtf8())) << failed.Err.toStdString();
    // A file that was not written is not told as saved.
    EXPECT_FALSE(QString::fromUtf8(failed.Out).contains("сохранена")) << failed.Out.toStdString();
    EXPECT_TRUE(QString::fromUtf8(failed.Out).contains("успешно 0, с ошибкой 1")) << failed.Out.toStdString();
    const TRun failedJson = RunCli({"--json", "read", Host(*Modules[1]), "-o", unwritable});
    EXPECT_EQ(failedJson.Exit, 4);
    ASSERT_EQ(failedJson.ModuleLines().size(), 1u);
    EXPECT_FALSE(failedJson.ModuleLines()[0]["ok"].toBool());
    EXPECT_TRUE(failedJson.ModuleLines()[0]["error"].toString().startsWith("Ошибка записи в файл "));

    const TRun json = RunCli({"--json", "read", Host(*Modules[1])});
    ASSERT_EQ(json.ModuleLines().size(), 1u);
    const QJsonObject config = json.ModuleLines()[0]["config"].toObject();
    EXPECT_EQ(config["CHANNEL_0"].toObject()["SLAVE_ADDRESS"].toInt(), 42);
    EXPECT_EQ(config["IP"].toObject()["ADDRESS"].toString(), "192.168.127.10");
    EXPECT_EQ(config["CHANNEL_1"].toObject()["BAUDRATE"].toInt(), 115200);
}

// The files of a fleet are saved together: one that cannot be written fails its own module only,
// and every line names its own module's file.
TEST_F(CliTest, ReadToAFolderFailsOnlyTheModuleWhoseFileCannotBeWritten)
{
    const QString folder = Folder.filePath("fleet");
    const QString blocked = folder + QString("/127.0.0.1_%1.ini").arg(Modules[1]->Port());
    ASSERT_TRUE(QDir().mkpath(blocked));  // a folder where the file would go
    for (int i = 0; i < 3; ++i)
        Modules[size_t(i)]->SetRegister(ConfigFirstRegister + 9, uint16_t(10 + i));  // channel 0's slave address

    const TRun run = RunCli(QStringList{"--json", "read", "-o", folder} + AllHosts());
    EXPECT_EQ(run.Exit, 4) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains("Ошибка записи в файл " + blocked.toUtf8())) << run.Err.toStdString();
    const std::vector<QJsonObject> lines = run.ModuleLines();
    ASSERT_EQ(lines.size(), 3u);
    for (const QJsonObject& line : lines) {
        const int i = line["port"].toInt() == Modules[0]->Port()   ? 0
                      : line["port"].toInt() == Modules[1]->Port() ? 1
                                                                   : 2;
        SCOPED_TRACE(i);
        const QString file = folder + QString("/%1_%2.ini").arg(line["host"].toString()).arg(line["port"].toInt());
        EXPECT_EQ(line["file"].toString(), file);
        EXPECT_EQ(line["ok"].toBool(), i != 1);
        EXPECT_EQ(line.contains("error"), i == 1);
        if (i == 1)
            continue;
        TModuleConfig saved{};
        ASSERT_TRUE(LoadConfigFromFile(file.toStdString(), saved));
        EXPECT_EQ(saved.Channels[0].SlaveAddress, 10 + i);
    }
    EXPECT_TRUE(QFileInfo(blocked).isDir());
}

// Files are saved while a slow module is still being asked, not only once it has ended: its lines
// come after those of the modules that answered.
TEST_F(CliTest, ReadToAFolderSavesTheFilesOfTheModulesThatAnsweredWithoutWaitingForTheSlowOne)
{
    TScriptedServer silent([](const TScriptedRequest&) { return TScriptedAnswer{}; });
    ASSERT_TRUE(silent.Listen());
    const QString folder = Folder.filePath("fleet");
    const TRun run = RunCli(QStringList{"--json", "--timeout", "1000", "--retries", "0", "read", "-o", folder} +
                            AllHosts() + QStringList{QString("127.0.0.1:%1").arg(silent.Port())});
    EXPECT_EQ(run.Exit, 3) << run.Err.toStdString();
    const std::vector<QJsonObject> lines = run.ModuleLines();
    ASSERT_EQ(lines.size(), 4u) << run.Out.toStdString();
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(lines[i]["ok"].toBool()) << run.Out.toStdString();
        EXPECT_TRUE(QFile::exists(lines[i]["file"].toString()));
    }
    EXPECT_EQ(lines[3]["port"].toInt(), silent.Port());
    EXPECT_EQ(lines[3]["error"].toString(), "Нет ответа");
}

TEST_F(CliTest, ApplyWritesOnlyWhereTheModuleDiffersAndASecondRunChangesNothing)
{
    const TModuleConfig wanted = Changed();
    // A file for several modules holds none of their own addresses and ports.
    QByteArray text;
    for (const QByteArray& line : QByteArray::fromStdString(ConfigToIniText(wanted)).split('\n'))
        if (!line.startsWith("ADDRESS=") && !line.startsWith("TCP_PORT="))
            text += line + '\n';
    const QString file = WriteIni("wanted.ini", text);
    Modules[2]->SetRegister(ConfigFirstRegister + 9 + 17, 17);  // already holds channel 1's slave address

    const TRun first = RunCli(QStringList{"--json", "apply", file} + AllHosts());
    ASSERT_EQ(first.Exit, 0) << first.Err.toStdString();
    for (const QJsonObject& line : first.ModuleLines()) {
        EXPECT_TRUE(line["changed"].toBool());
        EXPECT_TRUE(line["verified"].toBool());
        EXPECT_EQ(line["config"].toObject()["IP"].toObject()["GATEWAY"].toString(), "10.0.0.254");
    }
    const QJsonArray differences = first.ModuleLines()[2]["differences"].toArray();
    ASSERT_EQ(differences.size(), 2);
    EXPECT_EQ(differences[0].toObject()["key"].toString(), "GATEWAY");
    EXPECT_EQ(differences[0].toObject()["before"].toString(), "192.168.127.100");
    EXPECT_EQ(differences[0].toObject()["after"].toString(), "10.0.0.254");
    for (const auto& module : Modules)
        EXPECT_TRUE(DifferingFields(StoredConfig(*module), wanted).empty());

    const int requestsBefore = Modules[0]->RequestCount();
    const TRun second = RunCli(QStringList{"apply", file} + AllHosts());
    EXPECT_EQ(second.Exit, 0);
    EXPECT_TRUE(second.Out.contains("без изменений"));
    EXPECT_TRUE(second.Out.contains("изменено 0")) << second.Out.toStdString();
    EXPECT_EQ(Modules[0]->RequestCount(), requestsBefore + 1);  // the read only
}

TEST_F(CliTest, WriteSendsTheWindowsImageAndCatchesAModuleThatStoresSomethingElse)
{
    const TModuleConfig wanted = Changed();
    const QString file = ConfigFile("wanted.ini", wanted);
    QByteArray sent;
    TScriptedServer forgetful([&](const TScriptedRequest& request) {
        if (request.FunctionCode() == FunctionWriteMultipleRegisters) {
            sent = request.Frame.mid(13);
            return TScriptedAnswer{WriteReply(request)};
        }
        TModuleConfig stored = wanted;
        stored.Channels[1].Parity = 0;
        return TScriptedAnswer{ModuleReadReply(request, stored)};
    });
    ASSERT_TRUE(forgetful.Listen());

    const TRun run = RunCli({"--json", "write", file, QString("127.0.0.1:%1").arg(forgetful.Port())});
    EXPECT_EQ(run.Exit, 3);
    ASSERT_EQ(run.ModuleLines().size(), 1u);
    const QJsonObject line = run.ModuleLines()[0];
    EXPECT_FALSE(line["ok"].toBool());
    EXPECT_FALSE(line["verified"].toBool());
    const QJsonArray mismatch = line["mismatch"].toArray();
    ASSERT_EQ(mismatch.size(), 1);
    EXPECT_EQ(mismatch[0].toObject()["section"].toString(), "CHANNEL_1");
    EXPECT_EQ(mismatch[0].toObject()["key"].toString(), "PARITY");

    // The bytes on the wire are the window's image of the file: pairs exchanged, checksum, marker.
    TModuleConfig fromFile{};
    ASSERT_TRUE(LoadConfigFromFile(file.toStdString(), fromFile));
    const TConfigImage image = BuildConfigImage(fromFile);
    QByteArray expected;
    for (uint16_t word : image)
        expected.append(char(word >> 8)).append(char(word & 0xFF));
    EXPECT_EQ(sent, expected);

    const TRun good = RunCli({"write", file, Host(*Modules[0]), "--no-verify"});
    EXPECT_EQ(good.Exit, 0) << good.Err.toStdString();
    EXPECT_EQ(Modules[0]->Register(MarkerRegister), ConfigMarker);
    EXPECT_TRUE(DifferingFields(StoredConfig(*Modules[0]), wanted).empty());
}

TEST_F(CliTest, DiffComparesFilesAndModulesFieldByField)
{
    const QString changed = ConfigFile("changed.ini", Changed());
    const QString factory = ConfigFile("factory.ini", FactoryDefaults);

    const TRun equal = RunCli({"diff", factory, Host(*Modules[0])});
    EXPECT_EQ(equal.Exit, 0) << equal.Err.toStdString();

    const TRun table = RunCli({"diff", Host(*Modules[1]), changed});
    EXPECT_EQ(table.Exit, 1);
    const QString text = QString::fromUtf8(table.Out);
    EXPECT_TRUE(text.contains("CHANNEL_0/BAUDRATE (RS-485 Канал 1: Скорость)")) << table.Out.toStdString();
    EXPECT_TRUE(text.contains("IP/GATEWAY"));
    EXPECT_FALSE(text.contains("IP/ADDRESS"));
    EXPECT_EQ(text.count('\n'), 4);  // the heading and three fields

    const TRun json = RunCli({"--json", "diff", changed, factory});
    EXPECT_EQ(json.Exit, 1);
    ASSERT_EQ(json.ModuleLines().size(), 1u);
    EXPECT_FALSE(json.ModuleLines()[0]["equal"].toBool());
    EXPECT_EQ(json.ModuleLines()[0]["differences"].toArray().size(), 3);
    EXPECT_EQ(json.ModuleLines()[0]["config_a"].toObject()["CHANNEL_0"].toObject()["BAUDRATE"].toInt(), 9600);

    const TRun silent = RunCli({"--retries", "0", "diff", factory, QString("127.0.0.1:%1").arg(ClosedPort())});
    EXPECT_EQ(silent.Exit, 3);
}

// A module whose stored checksum is wrong holds a damaged configuration, whatever its fields say: diff
// tells it, apply repairs it, and then both find nothing to do.
TEST_F(CliTest, ADamagedConfigurationIsToldAndRepaired)
{
    const QString factory = ConfigFile("factory.ini", FactoryDefaults);
    TModuleSimServer& module = *Modules[0];
    const int checksumRegister = ConfigFirstRegister + int(ConfigCRCOffset / 2);
    module.SetRegister(checksumRegister, uint16_t(module.Register(checksumRegister) ^ 0x5A5A));

    const TRun diff = RunCli({"diff", factory, Host(module)});
    EXPECT_EQ(diff.Exit, 1);
    EXPECT_TRUE(QString::fromUtf8(diff.Out).contains(QString::fromUtf8(DamagedConfigText))) << diff.Out.toStdString();

    const TRun apply = RunCli({"--json", "apply", factory, Host(module)});
    EXPECT_EQ(apply.Exit, 0) << apply.Err.toStdString();
    ASSERT_FALSE(apply.ModuleLines().empty());
    EXPECT_TRUE(apply.ModuleLines()[0]["changed"].toBool());
    EXPECT_FALSE(apply.ModuleLines()[0]["checksum_valid"].toBool());
    EXPECT_TRUE(ChecksumValid(StoredConfig(module)));

    EXPECT_EQ(RunCli({"diff", factory, Host(module)}).Exit, 0);
    const TRun again = RunCli({"apply", factory, Host(module)});
    EXPECT_TRUE(QString::fromUtf8(again.Out).contains("без изменений")) << again.Out.toStdString();
}

TEST(CliScan, FindsExactlyTheAnsweringModules)
{
    std::vector<std::unique_ptr<TModuleSimServer>> modules;
    quint16 port = 0;
    for (const char* address : {"127.0.7.11", "127.0.7.40", "127.0.7.41", "127.0.7.200"}) {
        auto& module = modules.emplace_back(std::make_unique<TModuleSimServer>());
        ASSERT_TRUE(module->Listen(QHostAddress(address), port)) << module->ErrorText().toStdString();
        port = module->Port();
    }
    const TRun run = RunCli({"--json", "--port", QString::number(port), "scan", "127.0.7.0/24"});
    EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
    QStringList found;
    for (const QJsonObject& line : run.ModuleLines())
        found << line["host"].toString();
    found.sort();
    EXPECT_EQ(found, (QStringList{"127.0.7.11", "127.0.7.200", "127.0.7.40", "127.0.7.41"}));
}

// Ctrl+C in a fleet command: the module whose request is already on its way is waited for and
// told, apply writes nothing after it, no other module is started, and the program ends by the
// signal so that a calling script stops too.
TEST_F(CliTest, InterruptionTellsTheModuleInFlightAndStartsNoOther)
{
    const QString file = ConfigFile("wanted.ini", Changed());
    struct TCase {
        const char* Command;
        TModuleConfig Held;  // what the module answers a read with
        const char* Told;
        const char* Summary;
    };
    const TCase cases[] = {
        {"write", Changed(), "прервано до записи, конфигурация не изменена", "прервано: не обработано 3"},
        {"apply", FactoryDefaults, "прервано до записи, конфигурация не изменена", "прервано: не обработано 3"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Command);
        TScriptedServer slow([&](const TScriptedRequest& request) {
            if (request.Index == 0)
                return TScriptedAnswer{};  // answered only when sent again
            if (request.FunctionCode() == FunctionWriteMultipleRegisters)
                return TScriptedAnswer{WriteReply(request)};
            return TScriptedAnswer{ModuleReadReply(request, c.Held)};
        });
        ASSERT_TRUE(slow.Listen());
        // Each module keeps its own address: several modules take it from their own lines only.
        const QString hosts = WriteIni("hosts.txt", QString("127.0.0.1:%1 IP/ADDRESS=192.168.127.10 IP/TCP_PORT=502\n"
                                                            "%2 IP/ADDRESS=10.0.0.2 IP/TCP_PORT=502\n"
                                                            "%3 IP/ADDRESS=10.0.0.3 IP/TCP_PORT=502\n")
                                                        .arg(slow.Port())
                                                        .arg(Host(*Modules[0]), Host(*Modules[1]))
                                                        .toUtf8());
        QProcess program;
        program.start(KORVEL_CLI,
                      {"--timeout", "500", "--retries", "1", "--jobs", "1", "--hosts", hosts, c.Command, file});
        ASSERT_TRUE(WaitUntil([&] { return !slow.Requests().empty(); }, std::chrono::seconds(10)));
        ::kill(pid_t(program.processId()), SIGINT);
        ASSERT_TRUE(WaitUntil([&] { return program.state() == QProcess::NotRunning; }, std::chrono::seconds(30)));
        EXPECT_EQ(program.exitStatus(), QProcess::CrashExit);
        EXPECT_EQ(program.exitCode(), SIGINT);
        const QString out = QString::fromUtf8(program.readAllStandardOutput());
        const QString line = out.section('\n', 0, 0);
        EXPECT_TRUE(line.contains(QString::number(slow.Port())) && line.contains(QString::fromUtf8(c.Told)))
            << out.toStdString();
        EXPECT_TRUE(out.contains(QString::fromUtf8(c.Summary))) << out.toStdString();
        EXPECT_TRUE(QString::fromUtf8(program.readAllStandardError()).contains("прервано"));
        for (const TScriptedRequest& request : slow.Requests())
            EXPECT_NE(request.FunctionCode(), FunctionWriteMultipleRegisters);
        EXPECT_EQ(Modules[0]->RequestCount(), 0);
        EXPECT_EQ(Modules[1]->RequestCount(), 0);
    }
}

// Before any module is asked a signal ends the program as usual: one Ctrl+C is enough while it
// waits for a list of hosts from a pipe.
// A second signal ends the run at once: a module whose write is on its way may hold it or not, and
// each such module is named, for people and for a script.
TEST_F(CliTest, ASecondInterruptionNamesEveryModuleWhoseOutcomeIsUnknown)
{
    const QString file = WriteIni("baud.ini", "[CHANNEL_0]\r\nBAUDRATE=9600\r\n");
    std::vector<std::unique_ptr<TScriptedServer>> servers;
    QStringList hosts;
    for (int i = 0; i < 2; ++i) {
        servers.push_back(std::make_unique<TScriptedServer>([](const TScriptedRequest& request) {
            // A module at its factory values that never answers the write.
            if (request.FunctionCode() == FunctionWriteMultipleRegisters)
                return TScriptedAnswer{};
            return TScriptedAnswer{ModuleReadReply(request, FactoryDefaults)};
        }));
        ASSERT_TRUE(servers.back()->Listen());
        hosts << QString("127.0.0.1:%1").arg(servers.back()->Port());
    }
    const auto writeSent = [](const TScriptedServer& server) {
        return std::any_of(server.Requests().begin(), server.Requests().end(), [](const TScriptedRequest& r) {
            return r.FunctionCode() == FunctionWriteMultipleRegisters;
        });
    };
    QProcess program;
    program.start(KORVEL_CLI, QStringList{"--json", "--timeout", "30000", "--retries", "0", "apply", file} + hosts);
    ASSERT_TRUE(WaitUntil([&] { return writeSent(*servers[0]) && writeSent(*servers[1]); }, std::chrono::seconds(10)));
    QByteArray err;
    ::kill(pid_t(program.processId()), SIGINT);
    ASSERT_TRUE(WaitUntil([&] { return (err += program.readAllStandardError()).contains("прервано"); }));
    ::kill(pid_t(program.processId()), SIGINT);
    ASSERT_TRUE(WaitUntil([&] { return program.state() == QProcess::NotRunning; }));
    EXPECT_EQ(program.exitStatus(), QProcess::CrashExit);
    err += program.readAllStandardError();
    const TRun run{0, program.readAllStandardOutput(), err};
    ASSERT_EQ(run.JsonLines().size(), 2u) << run.Out.toStdString();
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(err.contains(hosts[i].toUtf8() + ": исход неизвестен")) << err.toStdString();
        const QJsonObject line = run.JsonLines()[size_t(i)];
        EXPECT_EQ(line["reason"], "interrupted");
        EXPECT_TRUE(hosts.contains(QString("127.0.0.1:%1").arg(line["port"].toInt())));
    }
}

TEST_F(CliTest, InterruptionWhileReadingTheHostsEndsAtOnce)
{
    const QString fifo = Folder.filePath("hosts");
    ASSERT_EQ(::mkfifo(fifo.toUtf8().constData(), 0600), 0);
    QProcess program;
    program.start(KORVEL_CLI, {"--hosts", fifo, "info"});
    int writer = -1;
    // Opening the writing end succeeds once the program holds the reading end, then it waits for lines.
    ASSERT_TRUE(WaitUntil([&] { return (writer = ::open(fifo.toUtf8().constData(), O_WRONLY | O_NONBLOCK)) >= 0; },
                          std::chrono::seconds(10)));
    ::kill(pid_t(program.processId()), SIGINT);
    const bool ended = WaitUntil([&] { return program.state() == QProcess::NotRunning; }, std::chrono::seconds(5));
    ::close(writer);
    if (!ended) {
        program.kill();
        program.waitForFinished();
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(program.exitStatus(), QProcess::CrashExit);
}

// The write reached the module but the read that checks it got no answer: the module holds the new
// configuration, which is told, not a plain "no answer" that reads as nothing written.
TEST_F(CliTest, WriteTakenButNotReadBackIsToldAsWrittenAndUnverified)
{
    const QString file = ConfigFile("wanted.ini", Changed());
    int writtenOn = -1;
    TScriptedServer deafAfterWrite([&](const TScriptedRequest& request) {
        if (request.FunctionCode() == FunctionWriteMultipleRegisters) {
            writtenOn = request.Connection;
            return TScriptedAnswer{WriteReply(request)};
        }
        // The read before the write is answered, the one that checks it is not.
        return request.Connection == writtenOn ? TScriptedAnswer{}
                                               : TScriptedAnswer{ModuleReadReply(request, FactoryDefaults)};
    });
    ASSERT_TRUE(deafAfterWrite.Listen());
    const QString host = QString("127.0.0.1:%1").arg(deafAfterWrite.Port());

    const TRun json = RunCli({"--json", "--retries", "0", "write", file, host});
    EXPECT_EQ(json.Exit, 3);
    ASSERT_EQ(json.ModuleLines().size(), 1u);
    const QJsonObject line = json.ModuleLines()[0];
    EXPECT_FALSE(line["ok"].toBool());
    ASSERT_TRUE(line.contains("verified"));
    EXPECT_FALSE(line["verified"].toBool());
    EXPECT_EQ(line["error"].toString(), "Нет ответа");

    const TRun text = RunCli({"--retries", "0", "write", file, host});
    EXPECT_EQ(text.Exit, 3);
    EXPECT_TRUE(QString::fromUtf8(text.Out).contains("конфигурация записана, но не проверена: Нет ответа"))
        << text.Out.toStdString();
}

// stdout on a full disk: the configuration read there, or the lines, are lost, which is not success.
TEST_F(CliTest, OutputLostOnAFullDiskIsAFileError)
{
    const QStringList commands[] = {{"read", Host(*Modules[0])}, {"--json", "info", Host(*Modules[0])}, {"--help"}};
    for (const QStringList& arguments : commands) {
        QProcess program;
        program.setStandardOutputFile("/dev/full");
        program.start(KORVEL_CLI, QStringList{"--timeout", "200"} + arguments);
        ASSERT_TRUE(WaitUntil([&] { return program.state() == QProcess::NotRunning; }, std::chrono::seconds(30)));
        EXPECT_EQ(program.exitCode(), 4) << arguments.join(' ').toStdString();
        EXPECT_TRUE(QString::fromUtf8(program.readAllStandardError()).contains("Ошибка записи в стандартный вывод"));
    }
}
