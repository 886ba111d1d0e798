// korvel-cli: configure, verify and find Korvel modules from the command line, many at once.
#include "CliProgram.h"

int main(int argc, char* argv[])
{
    return RunCliProgram(argc, argv,
                         [](int& argc, char** argv) { return std::make_unique<QCoreApplication>(argc, argv); });
}
