// korvel-cli: configure, verify and find Korvel modules from the command line, many at once.
#include "CliCommands.h"
#include "CliInterruption.h"
#include "CliReport.h"
#include "DescriptorLimit.h"

#include <QCoreApplication>

#include <algorithm>

int main(int argc, char* argv[])
{
    // Before anything opens a descriptor: a fleet may need many more sockets than the soft limit.
    RaiseDescriptorLimit();
    IgnoreBrokenPipe();
    QCoreApplication app(argc, argv);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    TCliOptions options;
    std::string error;
    if (!ParseCommandLine(arguments, options, error)) {
        // --json may stand after the error; a script that asked for JSON still gets its line.
        const bool json = std::find(arguments.begin(), arguments.end(), "--json") != arguments.end();
        return ReportRunFailure(json, options.Command, CliFailure(TReason::Usage, error), ExitUsage);
    }
    return RunCliCommand(options);
}
