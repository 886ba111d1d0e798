#pragma once
// The command line of korvel-cli: the command, its operands and the common options.

#include "DataTypes.h"
#include "DeviceRequests.h"
#include "ModuleAddress.h"
#include "ModuleClient.h"

#include <string>
#include <vector>

// Exit statuses, as --help documents them.
enum TExitStatus : int {
    ExitOk = 0,
    ExitDifferent = 1,  // diff: the configurations differ
    ExitNoneFound = 1,  // scan: no address answered as a module
    ExitUsage = 2,
    ExitModuleFailed = 3,  // a module did not answer, answered with an exception, or did not verify
    ExitFileError = 4,     // a file could not be read or written, or holds a bad value
};

// poll, units and set: the device behind the module, its registers and how they read.
struct TCliDeviceOptions {
    int Unit = 0;  // 0 while not given
    int Function = FunctionReadHoldingRegisters;
    int Address = -1;  // -1 while not given
    int Count = 0;     // 0: one value of the type
    TDataType Type = TDataType::UInt16;
    TWordOrder Order = TWordOrder::ABCD;
    bool TypeGiven = false;
    int IntervalMs = 1000;
    int Samples = 0;    // 0: no limit
    int DurationS = 0;  // 0: no limit
    bool Csv = false;
    bool Coil = false;
    int FirstUnit = MinDeviceUnit;
    int LastUnit = MaxDeviceUnit;
    bool UnitsGiven = false;
    // poll and report: the register map whose points are read, and the names of those to read
    // (none: every point).
    std::string MapFile;
    std::vector<std::string> Points;
    // units: the units each module must have on its lines.
    std::vector<int> Expect;
};

constexpr int DefaultJobs = 64;

struct TCliOptions {
    std::string Command;
    std::vector<std::string> Operands;
    uint16_t Port = 502;
    TModuleClientOptions Client;
    int Jobs = 0;                         // --jobs; 0 while not given: DefaultJobs, and scan asks every address at once
    std::vector<std::string> HostsFiles;  // --hosts, in the order given
    std::string Output;                   // -o
    bool Json = false;
    bool Quiet = false;
    bool Verify = true;
    // --set SECTION/KEY=VALUE, for every module of write and apply, over the file's values.
    std::vector<std::string> Set;
    bool Force = false;  // write into a device that does not look like a module
    bool Help = false;   // with Command: that command's help
    bool Version = false;
    TCliDeviceOptions Device;
};

// False with a message for a command line that cannot be run; options.Command is then the command
// as far as it was understood, for the pointer to its help.
bool ParseCommandLine(const std::vector<std::string>& arguments, TCliOptions& options, std::string& error);
// What follows a usage error instead of the whole usage: where to read more.
std::string HelpPointer(const std::string& command);
