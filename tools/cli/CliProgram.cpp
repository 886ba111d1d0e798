#include "CliProgram.h"

#include "CliCommands.h"
#include "CliInterruption.h"
#include "CliReport.h"
#include "DescriptorLimit.h"

#include <algorithm>

int RunCliProgram(int argc, char* argv[], const TMakeApplication& makeApplication)
{
    // Before anything opens a descriptor: a fleet may need many more sockets than the soft limit.
    RaiseDescriptorLimit();
    IgnoreBrokenPipe();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    TCliOptions options;
    std::string error;
    const bool parsed = ParseCommandLine(arguments, options, error);
    const std::unique_ptr<QCoreApplication> app = makeApplication(argc, argv);
    if (!parsed) {
        // --json may stand after the error; a script that asked for JSON still gets its line.
        const bool json = std::find(arguments.begin(), arguments.end(), "--json") != arguments.end();
        return ReportRunFailure(json, options.Command, CliFailure(TReason::Usage, error), ExitUsage);
    }
    return RunCliCommand(options);
}
