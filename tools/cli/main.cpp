// korvel-cli: configure, verify and find Korvel modules from the command line, many at once.
#include "CliCommands.h"
#include "CliInterruption.h"
#include "CliReport.h"
#include "DescriptorLimit.h"

#include <QGuiApplication>

#include <algorithm>
#include <memory>

int main(int argc, char* argv[])
{
    // Before anything opens a descriptor: a fleet may need many more sockets than the soft limit.
    RaiseDescriptorLimit();
    IgnoreBrokenPipe();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    TCliOptions options;
    std::string error;
    const bool parsed = ParseCommandLine(arguments, options, error);
    // A report lays its text out in fonts, which takes a GUI application; it draws on no screen, so
    // it runs as well without a display.
    const bool report = parsed && options.Command == "report" && !options.Help;
    if (report)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::unique_ptr<QCoreApplication> app =
        report ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    if (!parsed) {
        // --json may stand after the error; a script that asked for JSON still gets its line.
        const bool json = std::find(arguments.begin(), arguments.end(), "--json") != arguments.end();
        return ReportRunFailure(json, options.Command, CliFailure(TReason::Usage, error), ExitUsage);
    }
    return RunCliCommand(options);
}
