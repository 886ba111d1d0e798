// korvel-cli where the connection and the streams meet the system: refused ports, a small descriptor
// limit, a reader of stdout that goes away, "-" for the standard streams, host lists with invisible
// marks, and scans. Modules are simulated in this process, so they answer only while a test runs
// its event loop.
#include "CliFleetTest.h"
#include "CliRun.h"
#include "CommandFile.h"
#include "ConfigFile.h"
#include "ModuleDefaults.h"
#include "ModuleRegisters.h"
#include "ModuleSimServer.h"
#include "Wait.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>
#include <set>

namespace {

// Nothing listens on port 1 of a test machine: a connection there is refused at once.
const QString RefusedHost = QStringLiteral("127.0.0.1:1");

// A configuration that changes one key of the simulator's defaults and holds no address, so that
// it may go to a whole fleet.
const QByteArray ChannelChange = "[CHANNEL_0]\nBAUDRATE=9600\n";

class CliTransportTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Folder.isValid()); }

    // Each module on a port of its own; spread: each on an address of its own, 127.0.5.N, all on one
    // port, as the modules of a scanned range are.
    void StartModules(int count, bool spread = false)
    {
        for (int i = 0; i < count; ++i) {
            const QString address = spread ? QString("127.0.5.%1").arg(i + 1) : QString("127.0.0.1");
            auto& module = Modules.emplace_back(std::make_unique<TModuleSimServer>());
            ASSERT_TRUE(module->Listen(QHostAddress(address), spread && i > 0 ? Modules[0]->Port() : 0))
                << module->ErrorText().toStdString();
            Hosts.push_back(QString("%1:%2").arg(address).arg(module->Port()));
        }
    }

    QString Host(size_t index) const { return Hosts[index]; }

    QString WriteFile(const QString& name, const QByteArray& bytes) { return WriteTestFile(Folder, name, bytes); }

    QString HostsFile()
    {
        QByteArray lines;
        for (size_t i = 0; i < Modules.size(); ++i)
            lines += Host(i).toUtf8() + "\n";
        return WriteFile("hosts.txt", lines);
    }

    std::vector<uint16_t> ConfigRegisters(size_t index) const
    {
        std::vector<uint16_t> registers;
        for (int k = 0; k < ConfigReadRegisterCount; ++k)
            registers.push_back(Modules[index]->Register(ConfigFirstRegister + k));
        return registers;
    }

    QTemporaryDir Folder;
    std::vector<std::unique_ptr<TModuleSimServer>> Modules;
    QStringList Hosts;
};

// The line a run printed for one host, empty when there is none.
QJsonObject LineFor(const std::vector<QJsonObject>& lines, const QString& host)
{
    for (const QJsonObject& line : lines)
        if (QString("%1:%2").arg(line["host"].toString()).arg(line["port"].toInt()) == host)
            return line;
    return {};
}

}  // namespace

// A refused port keeps the no-reply status for scripts, says why, and costs no time-out: three
// transmissions of 200 ms would take 600.
TEST_F(CliTransportTest, ARefusedPortIsToldAtOnceByEveryCommand)
{
    const QString file = Folder.filePath("whole.ini");
    SaveConfigToFile(file.toStdString(), FactoryDefaults);
    const QStringList commands[] = {{"info"}, {"read"}, {"apply", file}, {"write", file}, {"diff", file}};
    for (const QStringList& command : commands) {
        const TRun run = RunCli(QStringList{"--json"} + command + QStringList{RefusedHost});
        const QJsonObject line = LineFor(run.JsonLines(), RefusedHost);
        ASSERT_FALSE(line.isEmpty()) << command.join(' ').toStdString() << "\n" << run.Out.toStdString();
        EXPECT_FALSE(line["ok"].toBool());
        EXPECT_EQ(line["status"].toInt(), 1);
        EXPECT_EQ(line["reason"].toString(), "refused");
        EXPECT_EQ(line["error"].toString(), "Нет ответа (соединение отвергнуто)");
        EXPECT_LT(line["ms"].toDouble(), 100) << command.join(' ').toStdString();
    }
    const TRun people = RunCli({"info", RefusedHost});
    EXPECT_EQ(people.Exit, 3);
    EXPECT_TRUE(people.Out.contains("ошибка: Нет ответа (соединение отвергнуто)")) << people.Out.toStdString();
}

// With room for 64 descriptors, 500 connections at once cannot be had: the run asks fewer at a
// time, says so once, and every module answers. A scan meets mostly refused addresses, whose
// sockets go only with their clients: it must not run out of descriptors either.
TEST_F(CliTransportTest, ASmallDescriptorLimitLowersTheJobsInsteadOfFailingModules)
{
    StartModules(120, true);
    const auto smallLimit = [](QProcess& program) {
        program.setChildProcessModifier([] {
            const rlimit limit{64, 64};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        });
    };
    const struct {
        const char* What;
        QStringList Arguments;
    } cases[] = {
        {"info", {"--jobs", "500", "--retries", "0", "--hosts", HostsFile(), "info"}},
        {"scan", {"--port", QString::number(Modules[0]->Port()), "scan", "127.0.5.0/24"}},
    };
    for (const auto& c : cases) {
        const TRun run = RunCli(QStringList{"--json"} + c.Arguments, smallLimit);
        EXPECT_EQ(run.Exit, 0) << c.What << "\n" << run.Err.toStdString();
        EXPECT_EQ(run.Err.count("--jobs снижено до "), 1) << c.What << "\n" << run.Err.toStdString();
        size_t answered = 0;
        for (const QJsonObject& line : run.JsonLines())
            answered += line["command"] == c.What && line["ok"].toBool();
        EXPECT_EQ(answered, Modules.size()) << c.What;
        EXPECT_FALSE(run.Out.contains("\"ok\":false")) << c.What << "\n" << run.Out.toStdString();
    }
}

// `apply ... | head -1`: once the reader has gone, no further module is started and none that was
// only read is written; the modules in flight finish and are told on stderr, and the run ends with
// the status of a failed write. So a module that was written is always told somewhere.
TEST_F(CliTransportTest, AReaderThatGoesAwayStopsTheRunAndNoWrittenModuleGoesUntold)
{
    StartModules(8);
    std::vector<std::vector<uint16_t>> before;
    for (size_t i = 0; i < Modules.size(); ++i)
        before.push_back(ConfigRegisters(i));
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const int reader = ends[0];
    ::fcntl(reader, F_SETFL, O_NONBLOCK);

    QProcess program;
    program.setStandardOutputFile(QString("/proc/self/fd/%1").arg(ends[1]));
    program.start(KORVEL_CLI,
                  {"--json", "--jobs", "1", "--hosts", HostsFile(), "apply", WriteFile("wanted.ini", ChannelChange)});
    ASSERT_TRUE(program.waitForStarted());
    ::close(ends[1]);

    QByteArray read;
    const auto drain = [&] {
        char chunk[4096];
        for (ssize_t got; (got = ::read(reader, chunk, sizeof chunk)) > 0;)
            read.append(chunk, int(got));
    };
    ASSERT_TRUE(WaitUntil([&] {
        drain();
        return read.contains('\n');
    }));
    // No module answers between the last read and the close: they answer only in the event loop.
    drain();
    ::close(reader);
    ASSERT_TRUE(WaitUntil([&] { return program.state() == QProcess::NotRunning; }, std::chrono::seconds(30)));
    EXPECT_EQ(program.exitCode(), 4);
    const QByteArray errors = program.readAllStandardError();
    EXPECT_TRUE(errors.contains("стандартный вывод закрыт")) << errors.toStdString();

    std::set<QString> told;
    for (const QByteArray& line : read.split('\n') + errors.split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object["command"] == "apply" && object["changed"].toBool())
            told.insert(QString("%1:%2").arg(object["host"].toString()).arg(object["port"].toInt()));
    }
    size_t written = 0;
    for (size_t i = 0; i < Modules.size(); ++i) {
        if (ConfigRegisters(i) == before[i])
            continue;
        ++written;
        EXPECT_TRUE(told.count(Host(i))) << Host(i).toStdString() << " was written but not told";
    }
    EXPECT_GE(written, 1u);
    EXPECT_LT(written, Modules.size()) << "the run went on after its reader had gone";
}

// "-" is stdin for every file read and stdout for -o; a pipe named as a file is read like one.
TEST_F(CliTransportTest, StandardStreamsStandForFiles)
{
    StartModules(1);
    const TRun config = RunCli({"read", Host(0)});
    ASSERT_EQ(config.Exit, 0) << config.Err.toStdString();
    const struct {
        const char* What;
        QStringList Arguments;
        QByteArray Input;
        int Exit;
        QByteArray Shown;  // in stdout, or in stderr for a failure
    } cases[] = {
        {"hosts", {"--hosts", "-", "info"}, Host(0).toUtf8() + "\n", 0, "версия"},
        {"hosts as /dev/stdin", {"--hosts", "/dev/stdin", "info"}, Host(0).toUtf8() + "\n", 0, "версия"},
        {"configuration to compare", {"diff", "-", Host(0)}, config.Out, 0, "Конфигурации совпадают"},
        {"configuration read to stdout", {"read", Host(0), "-o", "-"}, {}, 0, config.Out},
        {"configuration to apply", {"apply", "-", Host(0)}, ChannelChange, 0, "изменено полей 1"},
        {"stdin named twice",
         {"--hosts", "-", "apply", "-"},
         Host(0).toUtf8() + "\n",
         4,
         "Стандартный ввод уже прочитан"},
        // Refused before either is read: the file in stdin is not taken for a hosts list.
        {"stdin named twice, holding the file", {"--hosts", "-", "apply", "-"}, ChannelChange, 4, StdinTakenText},
    };
    for (const auto& c : cases) {
        const TRun run = RunCli(c.Arguments, {}, c.Input);
        EXPECT_EQ(run.Exit, c.Exit) << c.What << "\n" << run.Err.toStdString();
        EXPECT_TRUE((c.Exit == 0 ? run.Out : run.Err).contains(c.Shown))
            << c.What << "\n"
            << run.Out.toStdString() << run.Err.toStdString();
    }
}

// A list saved with a byte-order mark is read; a mark inside a line is named where the message
// quotes it, not printed invisibly.
TEST_F(CliTransportTest, HostListsWithInvisibleMarks)
{
    StartModules(1);
    const struct {
        const char* What;
        QByteArray Line;
        int Exit;
        QByteArray Shown;
    } cases[] = {
        {"byte-order mark", "\xEF\xBB\xBF" + Host(0).toUtf8(), 0, "версия"},
        {"zero-width space", "\xE2\x80\x8B" + Host(0).toUtf8(), 4, "неверный адрес <U+200B>127.0.0.1:"},
        {"second byte-order mark", "\xEF\xBB\xBF\xEF\xBB\xBF" + Host(0).toUtf8(), 4, "неверный адрес <U+FEFF>127"},
        {"stray byte", "127.0.0.1\xFF", 4, "неверный адрес 127.0.0.1<0xFF>"},
    };
    for (const auto& c : cases) {
        const TRun run = RunCli({"--hosts", WriteFile("hosts.txt", c.Line + "\n"), "info"});
        EXPECT_EQ(run.Exit, c.Exit) << c.What << "\n" << run.Err.toStdString();
        EXPECT_TRUE((c.Exit == 0 ? run.Out : run.Err).contains(c.Shown))
            << c.What << "\n"
            << run.Out.toStdString() << run.Err.toStdString();
    }
}

// A single address is a range of one; a range where nothing answers is a status of its own.
TEST_F(CliTransportTest, ScanTakesOneAddressAndTellsWhenNothingAnswers)
{
    StartModules(1);
    const QString port = QString::number(Modules[0]->Port());
    const TRun one = RunCli({"--port", port, "scan", "127.0.0.1"});
    EXPECT_EQ(one.Exit, 0) << one.Err.toStdString();
    EXPECT_TRUE(one.Out.contains("версия")) << one.Out.toStdString();

    const TRun none = RunCli({"--port", "1", "scan", "127.0.6.0/24"});
    EXPECT_EQ(none.Exit, 1) << none.Err.toStdString();
    EXPECT_TRUE(none.Out.contains("опрошено адресов 254")) << none.Out.toStdString();
}
