// The built program itself, on the offscreen platform, pointed at the simulated module.

#include "ModuleSimServer.h"
#include "Wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <cerrno>
#include <unistd.h>

namespace {

// True once the process has its own handler for the signal, read from the kernel's view of it.
bool CatchesSignal(qint64 pid, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

}  // namespace

TEST(Program, StartsAgainstTheModuleAndWritesItsSettingsAtExit)
{
    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString program = folder.filePath("KorvelService");
    ASSERT_TRUE(QFile::copy(KORVEL_PROGRAM, program));
    const QString settings = folder.filePath("KorvelService.xml");
    {
        QFile file(settings);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        // The extra element shows that the file was rewritten at exit.
        file.write("<CONNECT><IPAddress>127.0.0.1</IPAddress><TCPPort>" + QByteArray::number(module.Port()) +
                   "</TCPPort><Extra>1</Extra></CONNECT>");
    }

    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, {});
    ASSERT_TRUE(process.waitForStarted());
    const qint64 pid = process.processId();
    ASSERT_TRUE(WaitUntil([&] { return CatchesSignal(pid, SIGTERM); }, std::chrono::seconds(20)));
    EXPECT_EQ(module.RequestCount(), 0);  // no connection at start

    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);

    QFile written(settings);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), "<CONNECT>\r\n <IPAddress>127.0.0.1</IPAddress>\r\n <TCPPort>" +
                                     QByteArray::number(module.Port()) + "</TCPPort>\r\n</CONNECT>\r\n");
}

TEST(Program, ATerminationSignalEndsItWithStatus1WhenTheSettingsCannotBeWritten)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString program = folder.filePath("KorvelService");
    ASSERT_TRUE(QFile::copy(KORVEL_PROGRAM, program));
    const QString settings = folder.filePath("KorvelService.xml");
    {
        QFile file(settings);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<CONNECT><IPAddress>127.0.0.1</IPAddress><TCPPort>1502</TCPPort></CONNECT>");
    }
    // A read-only file in a read-only folder; root writes anyway, so the program then runs as nobody.
    const auto readOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    const auto folderReadOnly = readOnly | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(settings, readOnly));
    ASSERT_TRUE(QFile::setPermissions(program, folderReadOnly));
    ASSERT_TRUE(QFile::setPermissions(folder.path(), folderReadOnly));
    const auto restore = qScopeGuard([&] { QFile::setPermissions(folder.path(), folderReadOnly | QFile::WriteOwner); });

    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("HOME", folder.path());
    process.setProcessEnvironment(environment);
    if (::geteuid() == 0) {
        // A sanitizer build reads its suppressions as that user too: give it a copy it can read.
        const QString options = environment.value("LSAN_OPTIONS");
        const QRegularExpressionMatch suppressions = QRegularExpression("suppressions=([^:]*)").match(options);
        if (suppressions.hasMatch()) {
            const QString copy = folder.filePath("lsan.supp");  // root writes into the read-only folder
            ASSERT_TRUE(QFile::copy(suppressions.captured(1), copy));
            QFile::setPermissions(copy, readOnly);
            environment.insert("LSAN_OPTIONS", QString(options).replace(suppressions.captured(1), copy));
            process.setProcessEnvironment(environment);
        }
        process.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", program});
    } else
        process.start(program, {});
    ASSERT_TRUE(process.waitForStarted());
    const qint64 pid = process.processId();
    ASSERT_TRUE(WaitUntil([&] { return CatchesSignal(pid, SIGTERM); }, std::chrono::seconds(20)));

    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1);
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(errors.contains("KorvelService: Ошибка создания файла " + settings)) << errors.toStdString();
}

// A message at start (a trace file or a configuration file that cannot be opened) waits for an
// answer nobody may give: a termination signal meanwhile still ends the program.
TEST(Program, ATerminationSignalEndsItWhileAStartMessageWaits)
{
    const QStringList arguments[] = {
        {"--trace", "/nonexistent-folder/trace.txt"},
        {"/nonexistent-folder/module.ini"},
    };
    for (const QStringList& c : arguments) {
        SCOPED_TRACE(c.join(' ').toStdString());
        QTemporaryDir folder;
        ASSERT_TRUE(folder.isValid());
        const QString program = folder.filePath("KorvelService");
        ASSERT_TRUE(QFile::copy(KORVEL_PROGRAM, program));

        QProcess process;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program, c);
        ASSERT_TRUE(process.waitForStarted());
        const qint64 pid = process.processId();
        ASSERT_TRUE(WaitUntil([&] { return CatchesSignal(pid, SIGTERM); }, std::chrono::seconds(20)));

        ASSERT_EQ(::kill(pid, SIGTERM), 0);
        const bool finished = process.waitForFinished(20000);
        if (!finished) {
            process.kill();
            process.waitForFinished();
        }
        ASSERT_TRUE(finished);
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
    }
}

TEST(Program, AnswersHelpAndVersionWithoutADisplayAndRefusesUnknownArguments)
{
    const struct {
        QStringList Arguments;
        QByteArray Output;  // the start of what it prints
        bool OnStdout;
        int ExitCode;
    } cases[] = {
        {{"--help"}, "Использование: KorvelService [--trace ЖУРНАЛ] [ФАЙЛ.ini]\n", true, 0},
        {{"-v"}, "KorvelService 1.0\n", true, 0},
        {{"-platform", "offscreen", "a.ini", "b.ini"},
         "KorvelService: лишний параметр b.ini\nИспользование:",
         false,
         2},
        {{"-platform", "offscreen", "--bogus"}, "KorvelService: неизвестный параметр --bogus\n", false, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Arguments.join(' ').toStdString());
        QProcess process;
        auto environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        process.setProcessEnvironment(environment);
        process.start(KORVEL_PROGRAM, c.Arguments);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.ExitCode);
        const QByteArray output = c.OnStdout ? process.readAllStandardOutput() : process.readAllStandardError();
        EXPECT_TRUE(output.contains(c.Output)) << output.toStdString();
    }
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
