#pragma once
// The command line of korvel-cli: the command, its operands and the common options.

#include "ModuleAddress.h"
#include "ModuleClient.h"

#include <string>
#include <vector>

// Exit statuses, as --help documents them.
enum TExitStatus : int {
    ExitOk = 0,
    ExitDifferent = 1,  // diff: the configurations differ
    ExitUsage = 2,
    ExitModuleFailed = 3,  // a module did not answer, answered with an exception, or did not verify
    ExitFileError = 4,     // a file could not be read or written, or holds a bad value
};

struct TCliOptions {
    std::string Command;
    std::vector<std::string> Operands;
    uint16_t Port = 502;
    TModuleClientOptions Client;
    int Jobs = 64;
    std::string HostsFile;
    std::string Output;  // -o
    bool Json = false;
    bool Quiet = false;
    bool Verify = true;
    bool Help = false;
};

// False with a message for a command line that cannot be run.
bool ParseCommandLine(const std::vector<std::string>& arguments, TCliOptions& options, std::string& error);
std::string UsageText();
