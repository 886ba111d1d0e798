// The built program itself, on the offscreen platform, pointed at the simulated module.

#include "ModuleSimServer.h"
#include "Wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
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

// The program copied into a temporary folder of its own, beside which it keeps its settings.
struct TProgramCopy {
    QTemporaryDir Folder;
    const QString Program = Folder.filePath("KorvelService");
    const QString Settings = Folder.filePath("KorvelService.xml");

    bool Made() { return Folder.isValid() && QFile::copy(KORVEL_PROGRAM, Program); }
    void WriteSettings(const QByteArray& text)
    {
        QFile file(Settings);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
};

QProcessEnvironment OffscreenEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    return environment;
}

// Sends SIGTERM once the started program has its own handler for it, and waits for its end;
// false, with the program killed, when it did not end.
bool TerminateWhenUp(QProcess& process)
{
    const qint64 pid = process.processId();
    if (!WaitUntil([&] { return CatchesSignal(pid, SIGTERM); }, std::chrono::seconds(20)) ||
        ::kill(pid, SIGTERM) != 0 || !process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return true;
}

// What the process's descriptor fd leads to, as the kernel names it ("pipe:[…]" for a pipe).
std::string DescriptorTarget(qint64 pid, const std::string& fd)
{
    std::error_code error;
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + fd, error).string();
}

// True while the process holds a descriptor beyond stdin, stdout and stderr that leads to target.
bool HoldsOpen(qint64 pid, const std::string& target)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string fd = entry.path().filename();
        if (std::stoi(fd) > STDERR_FILENO && DescriptorTarget(pid, fd) == target)
            return true;
    }
    return false;
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Starts the program offscreen as a user who is not root ("nobody" when the test runs as root), with
// home as the user's home folder. A sanitizer build reads its suppressions as that user too: it
// gets a copy in scratch, a folder root can write.
void StartAsOrdinaryUser(QProcess& process, const QString& program, const QString& home, const QString& scratch)
{
    QProcessEnvironment environment = OffscreenEnvironment();
    environment.insert("HOME", home);
    environment.remove("XDG_CONFIG_HOME");
    environment.insert("XDG_RUNTIME_DIR", "");
    if (::geteuid() != 0) {
        process.setProcessEnvironment(environment);
        process.start(program, {});
        return;
    }
    const QString options = environment.value("LSAN_OPTIONS");
    const QRegularExpressionMatch suppressions = QRegularExpression("suppressions=([^:]*)").match(options);
    if (suppressions.hasMatch()) {
        const QString readable = QDir(scratch).filePath("lsan.supp");
        QFile::copy(suppressions.captured(1), readable);
        QFile::setPermissions(readable, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        environment.insert("LSAN_OPTIONS", QString(options).replace(suppressions.captured(1), readable));
    }
    process.setProcessEnvironment(environment);
    process.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", program});
}

}  // namespace

TEST(Program, StartsAgainstTheModuleAndWritesItsSettingsAtExit)
{
    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    TProgramCopy copy;
    ASSERT_TRUE(copy.Made());
    // The extra element shows that the file was rewritten at exit.
    copy.WriteSettings("<CONNECT><IPAddress>127.0.0.1</IPAddress><TCPPort>" + QByteArray::number(module.Port()) +
                       "</TCPPort><Extra>1</Extra></CONNECT>");

    QProcess process;
    process.setProcessEnvironment(OffscreenEnvironment());
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(copy.Program, {});
    ASSERT_TRUE(process.waitForStarted());
    const qint64 pid = process.processId();
    ASSERT_TRUE(TerminateWhenUp(process));
    EXPECT_EQ(module.RequestCount(), 0);  // no connection at start or at exit
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);

    QFile written(copy.Settings);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), "<CONNECT>\r\n <IPAddress>127.0.0.1</IPAddress>\r\n <TCPPort>" +
                                     QByteArray::number(module.Port()) + "</TCPPort>\r\n</CONNECT>\r\n");
}

TEST(Program, ATerminationSignalEndsItWithStatus1WhenTheSettingsCannotBeWritten)
{
    TProgramCopy copy;
    ASSERT_TRUE(copy.Made());
    copy.WriteSettings("<CONNECT><IPAddress>127.0.0.1</IPAddress><TCPPort>1502</TCPPort></CONNECT>");
    const QTemporaryDir& folder = copy.Folder;
    const QString& program = copy.Program;
    const QString& settings = copy.Settings;
    // A read-only file in a read-only folder; root writes anyway, so the program then runs as nobody.
    const auto readOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    const auto folderReadOnly = readOnly | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(settings, readOnly));
    ASSERT_TRUE(QFile::setPermissions(program, folderReadOnly));
    ASSERT_TRUE(QFile::setPermissions(folder.path(), folderReadOnly));
    const auto restore = qScopeGuard([&] { QFile::setPermissions(folder.path(), folderReadOnly | QFile::WriteOwner); });

    // The user's own configuration folder cannot be made either: the settings go nowhere.
    QProcess process;
    StartAsOrdinaryUser(process, program, folder.path(), folder.path());
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(TerminateWhenUp(process));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1);
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(errors.contains("KorvelService: Ошибка создания файла " +
                                folder.filePath(".config/KorvelService/KorvelService.xml")))
        << errors.toStdString();
    EXPECT_EQ(FileBytes(settings), "<CONNECT><IPAddress>127.0.0.1</IPAddress><TCPPort>1502</TCPPort></CONNECT>");
}

TEST(Program, AnOrdinaryUserBesideSomeoneElsesSettingsFileKeepsTheirOwnAndEndsWithStatus0)
{
    TProgramCopy copy;
    ASSERT_TRUE(copy.Made());
    // The file a run as root left beside the program: another user's, which this one may only read.
    const QByteArray rootsFile = "<CONNECT><IPAddress>192.168.127.10</IPAddress><TCPPort>502</TCPPort></CONNECT>";
    copy.WriteSettings(rootsFile);
    const auto readable = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    const auto enterable = readable | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(copy.Settings, readable | QFile::WriteOwner));
    ASSERT_TRUE(QFile::setPermissions(copy.Folder.path(), enterable | QFile::WriteOwner));
    if (::geteuid() != 0) {
        ASSERT_TRUE(QFile::setPermissions(copy.Settings, readable));
    }
    // The user's own settings, which the program must read and keep.
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString own = home.filePath(".config/KorvelService/KorvelService.xml");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(own).absolutePath()));
    {
        QFile file(own);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<CONNECT><IPAddress>127.0.0.1</IPAddress><TCPPort>1503</TCPPort><Extra>1</Extra></CONNECT>");
    }
    if (::geteuid() == 0) {
        ASSERT_EQ(std::system(("chown -R nobody " + home.path().toStdString()).c_str()), 0);
    }

    QProcess process;
    StartAsOrdinaryUser(process, copy.Program, home.path(), home.path());
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(TerminateWhenUp(process));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    // Read from the user's folder and written back there; the other file untouched.
    EXPECT_EQ(FileBytes(own),
              "<CONNECT>\r\n <IPAddress>127.0.0.1</IPAddress>\r\n <TCPPort>1503</TCPPort>\r\n</CONNECT>\r\n");
    EXPECT_EQ(FileBytes(copy.Settings), rootsFile);
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
        TProgramCopy copy;
        ASSERT_TRUE(copy.Made());

        QProcess process;
        process.setProcessEnvironment(OffscreenEnvironment());
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(copy.Program, c);
        ASSERT_TRUE(process.waitForStarted());
        ASSERT_TRUE(TerminateWhenUp(process));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
    }
}

// A trace that something reads is taken and kept open, not refused: a FIFO with a reader, and the
// standard output as a pipe, named "-" or /dev/stdout (KorvelService --trace - | cat).
TEST(Program, KeepsATraceThroughAFifoWithAReaderOrAPipe)
{
    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    for (const char* trace : {"fifo", "-", "/dev/stdout"}) {
        SCOPED_TRACE(trace);
        TProgramCopy copy;
        ASSERT_TRUE(copy.Made());
        copy.WriteSettings("<CONNECT><IPAddress>127.0.0.1</IPAddress><TCPPort>" + QByteArray::number(module.Port()) +
                           "</TCPPort></CONNECT>");
        const bool toFifo = QByteArray(trace) == "fifo";
        const QString fifo = copy.Folder.filePath("trace-fifo");
        int reader = -1;
        if (toFifo) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
            reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_GE(reader, 0);
        }
        const auto closeReader = qScopeGuard([reader] {
            if (reader >= 0)
                ::close(reader);
        });

        QProcess process;  // its standard output is a pipe to this test
        process.setProcessEnvironment(OffscreenEnvironment());
        process.setWorkingDirectory(copy.Folder.path());
        process.start(copy.Program, {"--trace", toFifo ? fifo : QString::fromUtf8(trace)});
        ASSERT_TRUE(process.waitForStarted());
        const qint64 pid = process.processId();
        const std::string target = toFifo ? QFile::encodeName(fifo).toStdString() : DescriptorTarget(pid, "1");
        EXPECT_TRUE(WaitUntil([&] { return HoldsOpen(pid, target); }, std::chrono::seconds(20))) << target;
        ASSERT_TRUE(TerminateWhenUp(process));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_FALSE(process.readAllStandardError().contains("KorvelService:"));
        EXPECT_FALSE(QFile::exists(copy.Folder.filePath("-")));
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

// --- a second termination signal -----------------------------------------------------------------

// Whoever sends a second signal will not wait: the program ends by it, whatever the close was doing.
TEST(Program, ASecondTerminationSignalEndsItAtOnce)
{
    const int signalPairs[][2] = {{SIGTERM, SIGINT}, {SIGHUP, SIGTERM}, {SIGINT, SIGHUP}};
    for (const auto& pair : signalPairs) {
        SCOPED_TRACE(std::string(strsignal(pair[0])) + ", then " + strsignal(pair[1]));
        TProgramCopy copy;
        ASSERT_TRUE(copy.Made());
        QProcess process;
        process.setProcessEnvironment(OffscreenEnvironment());
        process.start(copy.Program, {});
        ASSERT_TRUE(process.waitForStarted());
        const auto pid = pid_t(process.processId());
        ASSERT_TRUE(WaitUntil([&] { return CatchesSignal(pid, SIGHUP); }, std::chrono::seconds(20)));
        // Stopped, the program gets both signals before its loop can begin the close for the first.
        ::kill(pid, SIGSTOP);
        ::kill(pid, pair[0]);
        ::kill(pid, pair[1]);
        ::kill(pid, SIGCONT);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
        EXPECT_FALSE(QFile::exists(copy.Settings));
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
