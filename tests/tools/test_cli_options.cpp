// korvel-cli's command line: options that mean nothing for a command are refused, not dropped; a
// value given twice is a conflict; host lists accumulate and name each module once; every command
// has its own help, and the man page keeps up with it.
#include "CliFleetTest.h"
#include "CliRun.h"

#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <map>

using CliOptionsTest = TCliFleetTest;

// Refused before anything is sent, with one line and where to read more, not the whole usage.
TEST_F(CliOptionsTest, AnOptionThatMeansNothingForTheCommandOrIsGivenTwiceIsRefused)
{
    const QString host = Host(0);
    const QString hosts = WriteFile("hosts.txt", host.toUtf8() + "\n");
    const QString ini = WriteFile("a.ini", "[CHANNEL_0]\r\nBAUDRATE=9600\r\n");
    struct TCase {
        QStringList Arguments;
        const char* Message;
        const char* Pointer;
    };
    const TCase cases[] = {
        {{"info", "-o", Folder.filePath("x.ini"), host}, "параметр -o не применим к команде info", "help info"},
        {{"read", "--no-verify", host}, "параметр --no-verify не применим к команде read", "help read"},
        {{"--hosts", hosts, "diff", ini, host}, "параметр --hosts не применим к команде diff", "help diff"},
        {{"scan", "--retries", "2", "127.0.0.1"}, "параметр --retries не применим к команде scan", "help scan"},
        {{"info", "127.0.0.1", "--port", "1503", "127.0.0.2", "--port", "1504"},
         "параметр --port задан дважды",
         "help info"},
        {{"read", host, "-o", Folder.filePath("a.ini"), "--output", Folder.filePath("b.ini")},
         "параметр --output задан дважды",
         "help read"},
        {{"info", host, "--bogus"}, "неизвестный параметр --bogus", "help info"},
        {{"reboot", host}, "неизвестная команда reboot", "korvel-cli --help"},
        {{"help", "reboot"}, "неизвестная команда reboot", "korvel-cli --help"},
        {{"--json", "help", "info"},
         "справка выводится только текстом: параметр --json к ней не применим",
         "help info"},
        {{"info", "--json", "--help"},
         "справка выводится только текстом: параметр --json к ней не применим",
         "help info"},
        {{"--json", "poll", host, "--unit", "1", "--address", "0", "--csv"},
         "параметры --json и --csv исключают друг друга",
         "help poll"},
        {{"info", "--json=yes", host}, "параметр --json не принимает значения", "help info"},
        {{"info", "--bogus=1", host}, "неизвестный параметр --bogus", "help info"},
        {{"poll", host, "--unit", "1", "--address", "0", "--order", "BADC"},
         "poll: --order BADC ничего не меняет для типа uint16 в одном регистре: порядок задаётся для "
         "многорегистровых типов и ascii",
         "help poll"},
        {{"poll", host, "--unit", "1", "--address", "0", "--type", "hex", "--order", "dcba"},
         "poll: --order DCBA ничего не меняет для типа hex в одном регистре: порядок задаётся для "
         "многорегистровых типов и ascii",
         "help poll"},
        {{"set", host, "--unit", "1", "--address", "0", "--type", "int16", "--order", "CDAB", "5"},
         "set: --order CDAB ничего не меняет для типа int16 в одном регистре: порядок задаётся для "
         "многорегистровых типов и ascii",
         "help set"},
        {{"poll", host, "--unit", "1", "--address", "0", "--count", "3", "--type", "float32"},
         "poll: --count 3: значение типа float32 занимает 2 регистра, --count должен быть им кратен",
         "help poll"},
        {{"poll", host, "--unit", "1", "--address", "0", "--function", "1", "--type", "int32"},
         "poll: --type и --order относятся к регистрам, а не к битам (функции 1 и 2, --coil)",
         "help poll"},
        {{"set", host, "--unit", "1", "--address", "0", "--coil", "--order", "BADC", "1"},
         "set: --type и --order относятся к регистрам, а не к битам (функции 1 и 2, --coil)",
         "help set"},
    };
    for (const TCase& c : cases) {
        // What stdin holds must not be taken for a hosts list.
        const TRun run = RunCli(c.Arguments, {}, "[CHANNEL_0]\r\nBAUDRATE=9600\r\n");
        const QString err = QString::fromUtf8(run.Err);
        EXPECT_EQ(run.Exit, 2) << c.Arguments.join(' ').toStdString();
        EXPECT_TRUE(err.startsWith("korvel-cli: " + QString::fromUtf8(c.Message) + "\n"))
            << c.Arguments.join(' ').toStdString() << ": " << err.toStdString();
        EXPECT_TRUE(err.contains(c.Pointer)) << err.toStdString();
        EXPECT_FALSE(err.contains("Использование")) << err.toStdString();
        // A script asking for JSON gets the refusal as JSON too.
        EXPECT_EQ(run.Out.isEmpty(), !c.Arguments.contains("--json")) << run.Out.toStdString();
    }
    EXPECT_EQ(RequestCount(), 0);
}

// --port is the default of the hosts without their own port wherever it stands; several --hosts
// add up; a module named twice, in any way, is asked once and the repeat is told.
TEST_F(CliOptionsTest, HostsAccumulateAndEachModuleIsAskedOnce)
{
    const QString first = WriteFile("first.txt", Host(0).toUtf8() + "\n" + Host(1).toUtf8());
    const QString second = WriteFile("second.txt", Host(1).toUtf8() + "\n" + Host(2).toUtf8());
    const TRun run = RunCli({"--json", "--hosts", first, "info", "127.0.0.1", "--hosts", second, "--port",
                             QString::number(Modules[0]->Port())});
    EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
    QSet<int> ports;
    int moduleLines = 0;
    for (const QJsonObject& line : run.JsonLines()) {
        if (line["command"] != "info")
            continue;
        ++moduleLines;
        EXPECT_TRUE(line["ok"].toBool()) << QJsonDocument(line).toJson().toStdString();
        ports.insert(line["port"].toInt());
    }
    EXPECT_EQ(moduleLines, 3);
    EXPECT_EQ(ports, (QSet<int>{Modules[0]->Port(), Modules[1]->Port(), Modules[2]->Port()}));
    const QString err = QString::fromUtf8(run.Err);
    EXPECT_TRUE(err.contains(Host(0) + " задан более одного раза")) << err.toStdString();
    EXPECT_TRUE(err.contains(Host(1) + " задан более одного раза")) << err.toStdString();
    for (const auto& module : Modules)
        EXPECT_EQ(module->RequestCount(), Modules[2]->RequestCount());
}

// diff --quiet answers by its exit status alone, as a script's test of "has it drifted" wants.
TEST_F(CliOptionsTest, QuietDiffAnswersByItsExitStatusAlone)
{
    const QString same = WriteFile("same.ini", "[CHANNEL_0]\r\nBAUDRATE=115200\r\n");
    const QString other = WriteFile("other.ini", "[CHANNEL_0]\r\nBAUDRATE=9600\r\n");
    struct TCase {
        QString A, B;
        int Exit;
    };
    const QString module = Host(0);  // holds the factory configuration
    for (const TCase& c :
         {TCase{same, same, 0}, TCase{same, other, 1}, TCase{same, module, 0}, TCase{other, module, 1}}) {
        const TRun run = RunCli({"diff", "--quiet", c.A, c.B});
        EXPECT_EQ(run.Exit, c.Exit) << c.B.toStdString() << run.Err.toStdString();
        EXPECT_TRUE(run.Out.isEmpty()) << run.Out.toStdString();
        EXPECT_TRUE(run.Err.isEmpty()) << run.Err.toStdString();
    }
}

// GNU-style spellings: "--name=value" is "--name value", and after "--" every argument is an operand,
// a value that starts with "-" too.
TEST_F(CliOptionsTest, AnOptionsValueAfterAnEqualsSignAndOperandsAfterTwoDashes)
{
    const TRun info =
        RunCli({"--json", "--timeout=300", "info", "--port=" + QString::number(Modules[0]->Port()), "--", "127.0.0.1"});
    EXPECT_EQ(info.Exit, 0) << info.Err.toStdString();
    ASSERT_EQ(info.ModuleLines().size(), 1u);
    EXPECT_TRUE(info.ModuleLines()[0]["ok"].toBool());
    // "--" ends the options: "--json" after it is a host, not the option.
    const TRun operand = RunCli({"info", "--", "--json"});
    EXPECT_EQ(operand.Exit, 2);
    EXPECT_TRUE(operand.Err.contains("неверный адрес модуля --json")) << operand.Err.toStdString();
}

// Every way of asking for a command's help gives the same text, naming only the options the
// command takes.
TEST(CliHelp, EachCommandHasItsOwnHelp)
{
    struct TCase {
        const char* Command;
        QStringList Takes;
        QStringList Refuses;
    };
    const TCase cases[] = {
        {"apply", {"--no-verify", "--hosts", "--port"}, {"--output"}},
        {"read", {"--output", "--hosts"}, {"--no-verify"}},
        {"diff", {"--port", "--timeout"}, {"--hosts", "--jobs"}},
        {"scan", {"--jobs"}, {"--retries", "--hosts"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Command);
        const TRun help = RunCli({"help", c.Command});
        EXPECT_EQ(help.Exit, 0);
        EXPECT_TRUE(help.Out.startsWith(QByteArray("Использование: korvel-cli ") + c.Command))
            << help.Out.toStdString();
        for (const QString& option : c.Takes)
            EXPECT_TRUE(help.Out.contains(option.toUtf8())) << option.toStdString();
        for (const QString& option : c.Refuses)
            EXPECT_FALSE(help.Out.contains(option.toUtf8())) << option.toStdString();
        EXPECT_EQ(RunCli({c.Command, "--help"}).Out, help.Out);
        EXPECT_EQ(RunCli({"--help", c.Command}).Out, help.Out);
    }
    const TRun version = RunCli({"--version"});
    EXPECT_EQ(version.Exit, 0);
    EXPECT_TRUE(QString::fromUtf8(version.Out).contains(QRegularExpression("^korvel-cli \\d+(\\.\\d+)+\\n$")))
        << version.Out.toStdString();
}

// The man page and the completion are written by hand: each must name every command and option
// the program's help does.
TEST(CliHelp, TheManPageAndTheCompletionNameEveryCommandAndOption)
{
    const QString usage = QString::fromUtf8(RunCli({"--help"}).Out);
    QStringList commands;
    const QRegularExpression commandName("^  ([a-z]+) ", QRegularExpression::MultilineOption);
    for (auto it = commandName.globalMatch(usage.section("Команды:", 1).section("\n\n", 0, 0)); it.hasNext();)
        commands << it.next().captured(1);
    EXPECT_GE(commands.size(), 7);
    QSet<QString> options;
    const QRegularExpression optionName("^  (?:(-[a-z]), )?(--[a-z][a-z-]*)", QRegularExpression::MultilineOption);
    for (auto it = optionName.globalMatch(usage.section("Параметры:", 1)); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        for (int i = 1; i <= 2; ++i)
            if (match.hasCaptured(i))
                options.insert(match.captured(i));
    }
    EXPECT_GE(options.size(), 10);

    for (const char* path : {KORVEL_CLI_MAN_PAGE, KORVEL_CLI_COMPLETION}) {
        SCOPED_TRACE(path);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        // troff writes a minus sign as \-.
        const QString text = QString::fromUtf8(file.readAll()).replace("\\-", "-");
        for (const QString& command : commands)
            EXPECT_TRUE(text.contains(QRegularExpression("\\b" + command + "\\b"))) << command.toStdString();
        for (const QString& option : options)
            EXPECT_TRUE(text.contains(QRegularExpression(QRegularExpression::escape(option) + "(?![\\w-])")))
                << option.toStdString();
    }
}

// The man page's SYNOPSIS is written by hand: each command's lines name exactly the options that
// command's help lists (a short form standing for its option), but --help and --version.
TEST(CliHelp, TheManPagesSynopsisNamesEveryOptionOfEachCommand)
{
    QFile page(KORVEL_CLI_MAN_PAGE);
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    QString synopsis = QString::fromUtf8(page.readAll()).section(".SH SYNOPSIS", 1).section(".SH ", 0, 0);
    synopsis.replace("\\-", "-").remove(QRegularExpression("\\\\f[BIR]"));
    const QRegularExpression optionName("(?:^|[\\s\\[|])(--?[a-z][a-z-]*)");
    std::map<QString, QSet<QString>> named;  // by command, over all its lines
    for (const QString& entry : synopsis.split(".B korvel-cli", Qt::SkipEmptyParts)) {
        const QString command = entry.simplified().section(' ', 0, 0);
        for (auto it = optionName.globalMatch(entry); it.hasNext();)
            named[command].insert(it.next().captured(1));
    }
    const QRegularExpression helpOption("^  (?:(-[a-z]), )?(--[a-z][a-z-]*)", QRegularExpression::MultilineOption);
    for (const char* command :
         {"info", "read", "write", "apply", "diff", "scan", "poll", "units", "map", "set", "report"}) {
        SCOPED_TRACE(command);
        ASSERT_TRUE(named.count(command));
        QSet<QString> takes;
        const QString help = QString::fromUtf8(RunCli({"help", command}).Out).section("Параметры:", 1);
        for (auto it = helpOption.globalMatch(help); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            const QString option = match.captured(2);
            if (option == "--help" || option == "--version")
                continue;
            takes.insert(option);
            const bool shortForm = match.hasCaptured(1) && named[command].contains(match.captured(1));
            EXPECT_TRUE(named[command].contains(option) || shortForm) << option.toStdString();
            named[command].remove(match.captured(1));
        }
        for (const QString& option : named[command])
            EXPECT_TRUE(takes.contains(option)) << option.toStdString() << " is not the command's";
    }
}

// A shell without the bash-completion package loaded still completes commands, options and files.
TEST(CliHelp, TheCompletionWorksWithoutTheBashCompletionPackage)
{
    QTemporaryDir folder;
    QFile(folder.filePath("cabinet.ini")).open(QIODevice::WriteOnly);
    const struct {
        QString Words;
        int Current;
        QString Offered;
    } cases[] = {
        {"korvel-cli in", 1, "info"},
        {"korvel-cli info --ti", 2, "--timeout"},
        {"korvel-cli apply " + folder.filePath("cab"), 2, folder.filePath("cabinet.ini")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Words.toStdString());
        QProcess bash;
        bash.start("bash", {"--norc", "--noprofile", "-c",
                            QString("source '%1' && COMP_WORDS=(%2) && COMP_CWORD=%3 && _korvel_cli && "
                                    "printf '%s\\n' \"${COMPREPLY[@]}\"")
                                .arg(KORVEL_CLI_COMPLETION, c.Words)
                                .arg(c.Current)});
        ASSERT_TRUE(bash.waitForFinished(10000));
        EXPECT_EQ(QString::fromUtf8(bash.readAllStandardError()), "");
        EXPECT_EQ(QString::fromUtf8(bash.readAllStandardOutput()), c.Offered + "\n");
    }
}
