// korvel-cli's report command: korvel-cli-report takes the process over with the same command line,
// from beside korvel-cli (the build folder) or from where it is installed.
#include "ReportCommand.h"

#include "CliOutcome.h"
#include "CliReport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <vector>

#include <unistd.h>

namespace {

// This process's own arguments as the system gave them, byte for byte.
std::vector<QByteArray> OwnArguments()
{
    QFile file("/proc/self/cmdline");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> parts = file.readAll().split('\0');
    parts.removeLast();  // after the last argument's terminating NUL
    return {parts.begin(), parts.end()};
}

}  // namespace

int RunReport(const TCliOptions& options)
{
    const QString folder = QCoreApplication::applicationDirPath() + "/";
    const QString places[] = {folder + KORVEL_CLI_REPORT, folder + KORVEL_CLI_REPORT_FROM_BIN};
    std::vector<QByteArray> arguments = OwnArguments();
    for (const QString& place : places) {
        if (arguments.empty() || !QFileInfo(place).isExecutable())
            continue;
        arguments.front() = QFile::encodeName(place);
        std::vector<char*> argv;
        for (QByteArray& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::fflush(stdout);
        std::fflush(stderr);
        execv(argv.front(), argv.data());
    }
    return ReportRunFailure(options.Json, options.Command,
                            CliFailure(TReason::Io, "не найдена программа отчётов " KORVEL_CLI_REPORT " (" +
                                                        QDir::cleanPath(places[1]).toStdString() + ")"),
                            ExitFileError);
}
