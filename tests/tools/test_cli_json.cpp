// The JSON Lines contract of korvel-cli, checked on every line of every command: what a script may
// rely on whatever the command and however it ended.
#include "CliFleetTest.h"
#include "CliRun.h"
#include "ConfigFile.h"
#include "ModuleDefaults.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <csignal>

namespace {

const QSet<QString> ReasonWords{"timeout",  "refused",      "closed",        "unreachable", "exception",
                                "mismatch", "checksum",     "not_a_module",  "interrupted", "io",
                                "usage",    "gateway_path", "gateway_target"};

// Every line: host and port (null only on a line about no one module), command, ok, ms; a failure
// says why. Answers a description of the first breach, empty when the line keeps the contract.
std::string Breach(const QJsonObject& line)
{
    const auto has = [&](const char* key, QJsonValue::Type type) { return line.value(key).type() == type; };
    if (!has("command", QJsonValue::String) || !has("ok", QJsonValue::Bool) || !has("ms", QJsonValue::Double))
        return "command, ok or ms missing";
    if (line["ms"].toDouble() < 0)
        return "negative ms";
    const bool aboutModule = has("host", QJsonValue::String) && has("port", QJsonValue::Double);
    const bool aboutRun = has("host", QJsonValue::Null) && has("port", QJsonValue::Null);
    if (!aboutModule && !aboutRun)
        return "host and port neither a module nor null";
    if (aboutModule && (line["port"].toInt() < 1 || line["port"].toInt() > 65535))
        return "port out of range";
    if (line["command"] == "summary") {
        for (const char* key : {"total", "succeeded", "failed", "interrupted"})
            if (!has(key, QJsonValue::Double))
                return std::string("summary without ") + key;
        if (aboutModule)
            return "summary names a module";
        return {};
    }
    if (line["ok"].toBool())
        return line.contains("reason") ? "a success with a reason" : "";
    if (!has("status", QJsonValue::Double) || !has("reason", QJsonValue::String))
        return "failure without status or reason";
    if (!ReasonWords.contains(line["reason"].toString()))
        return "unknown reason " + line["reason"].toString().toStdString();
    if (line["reason"] != "mismatch" && !has("error", QJsonValue::String))
        return "failure without error";
    if (line["reason"] == "exception" && !has("exception", QJsonValue::Double))
        return "exception without its code";
    if (aboutRun && line["reason"] != "usage" && line["reason"] != "io")
        return "a module's failure without the module";
    return {};
}

class CliJsonTest : public TCliFleetTest {
protected:
    // Keys every module may share: no address, no port.
    QString ChannelFile() { return WriteFile("channel.ini", "[CHANNEL_0]\r\nSLAVE_ADDRESS=17\r\n"); }

    QString ConfigFile(const QString& name, const TModuleConfig& config)
    {
        const QString path = Folder.filePath(name);
        SaveConfigToFile(path.toStdString(), config);
        return path;
    }

    // Checks every line and how the run ends: a summary that counts every module, or one line for
    // a run refused before any module was asked.
    void ExpectContract(const QStringList& arguments)
    {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const TRun run = RunCli(QStringList{"--json"} + arguments);
        const std::vector<QJsonObject> lines = run.JsonLines();
        ASSERT_FALSE(lines.empty()) << run.Err.toStdString();
        for (const QJsonObject& line : lines)
            for (const QString& key : line.keys())
                KeysSeen.insert(key);
        EXPECT_EQ(size_t(run.Out.count('\n')), lines.size()) << "a line that is not one JSON object";
        for (const QJsonObject& line : lines)
            EXPECT_EQ(Breach(line), "") << QJsonDocument(line).toJson(QJsonDocument::Compact).toStdString();
        const QJsonObject& last = lines.back();
        if (last["command"] != "summary") {
            EXPECT_EQ(lines.size(), 1u);
            EXPECT_TRUE(last["host"].isNull() && (last["reason"] == "usage" || last["reason"] == "io"));
            EXPECT_NE(run.Exit, 0);
            return;
        }
        const QString command = arguments[arguments.indexOf(QRegularExpression("^[a-z]+$"))];
        size_t told = 0;
        for (const QJsonObject& line : lines)
            told += line["command"] == command && !line["host"].isNull() ? 1 : 0;
        const int counted = last["succeeded"].toInt() + last["failed"].toInt() + last["interrupted"].toInt();
        EXPECT_LE(counted, last["total"].toInt());
        // Every module of a fleet command has its line; a scan lists only what answered.
        if (command == "info" || command == "read" || command == "write" || command == "apply") {
            EXPECT_EQ(int(told), last["total"].toInt());
        }
        EXPECT_EQ(last["ok"].toBool(), run.Exit == 0 || (command == "diff" && run.Exit == 1));
    }

    QSet<QString> KeysSeen;  // of every line checked
};

}  // namespace

TEST_F(CliJsonTest, EveryLineOfEveryCommandKeepsTheContract)
{
    const QString refused = QString("127.0.0.1:%1").arg(ClosedPort());
    TModuleConfig changed = FactoryDefaults;
    changed.Channels[0].SlaveAddress = 17;
    const QString wanted = ConfigFile("wanted.ini", changed);
    const QString defaults = ConfigFile("defaults.ini", FactoryDefaults);
    const QString blocked = Folder.filePath("blocked");
    QDir().mkpath(blocked + "/" + "127.0.0.1_" + QString::number(Modules[1]->Port()) + ".ini");
    const QStringList runs[] = {
        {"info", Host(0), Host(1), refused},
        {"read", Host(0)},
        {"read", Host(0), Host(1), "-o", blocked},
        {"write", "--port", QString::number(Modules[0]->Port()), wanted, "127.0.0.1"},
        {"write", wanted, refused},
        {"apply", ChannelFile(), Host(0), Host(1), refused},
        {"apply", defaults, Host(0)},
        {"diff", wanted, Host(1)},
        {"diff", wanted, defaults},
        {"diff", Host(0), refused},
        {"scan", "--port", QString::number(Modules[0]->Port()), "127.0.0.1-127.0.0.3"},
        {"poll", Host(0), "--unit", "5", "--address", "0", "--samples", "1"},
        {"units", Host(0), "--units", "1-2"},
        {"set", Host(0), "--unit", "5", "--address", "0", "7"},
        {"report", Host(0), "-o", Folder.filePath("report.html")},
        {"report", refused, "-o", Folder.filePath("report.html")},
        {"report", defaults, "-o", Folder.filePath("report.html")},
        {"info", "-o", "x.ini", Host(0)},
        {"write", Folder.filePath("missing.ini"), Host(0)},
        {"--hosts", Folder.filePath("missing.txt"), "info"},
    };
    for (const QStringList& arguments : runs)
        ExpectContract(arguments);

    // The README's table of keys names every key a line had.
    QFile readme(KORVEL_README);
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    QString table;
    for (const QString& row : QString::fromUtf8(readme.readAll()).split('\n'))
        if (row.startsWith("| `"))
            table += row;
    for (const QString& key : KeysSeen)
        EXPECT_TRUE(table.contains('`' + key + '`')) << key.toStdString();
}

// Stopped with modules still to go: the one in flight is told as it ends, every other one as not
// asked, and the summary counts them.
TEST_F(CliJsonTest, AStoppedRunStillGivesEveryModuleALine)
{
    const QString wanted = ChannelFile();
    for (const QStringList& command : {QStringList{"info"}, QStringList{"apply", wanted}}) {
        SCOPED_TRACE(command.join(' ').toStdString());
        QTcpServer silent;  // takes the connection and never answers
        ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
        QProcess program;
        program.start(KORVEL_CLI, QStringList{"--json", "--jobs", "1", "--timeout", "600", "--retries", "0"} + command +
                                      QStringList{QString("127.0.0.1:%1").arg(silent.serverPort()), Host(0), Host(1)});
        ASSERT_TRUE(WaitUntil([&] { return silent.hasPendingConnections(); }, std::chrono::seconds(10)));
        ::kill(pid_t(program.processId()), SIGINT);
        ASSERT_TRUE(WaitUntil([&] { return program.state() == QProcess::NotRunning; }, std::chrono::seconds(30)));
        TRun run;
        run.Out = program.readAllStandardOutput();
        const std::vector<QJsonObject> lines = run.JsonLines();
        ASSERT_EQ(lines.size(), 4u) << run.Out.toStdString();
        for (const QJsonObject& line : lines)
            EXPECT_EQ(Breach(line), "") << QJsonDocument(line).toJson(QJsonDocument::Compact).toStdString();
        EXPECT_EQ(lines[0]["reason"], "timeout");
        QSet<int> notAsked;
        for (size_t i = 1; i < 3; ++i) {
            EXPECT_EQ(lines[i]["reason"], "interrupted");
            notAsked.insert(lines[i]["port"].toInt());
        }
        EXPECT_EQ(notAsked, (QSet<int>{Modules[0]->Port(), Modules[1]->Port()}));
        EXPECT_EQ(lines.back()["interrupted"].toInt(), 2);
        EXPECT_EQ(lines.back()["total"].toInt(), 3);
    }
    EXPECT_EQ(Modules[0]->RequestCount() + Modules[1]->RequestCount(), 0);
}
