// korvel-cli: configure, verify and find Korvel modules from the command line, many at once.
#include "CliCommands.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    TCliOptions options;
    std::string error;
    if (!ParseCommandLine(arguments, options, error)) {
        std::fprintf(stderr, "korvel-cli: %s\n\n%s", error.c_str(), UsageText().c_str());
        return ExitUsage;
    }
    return RunCliCommand(options);
}
