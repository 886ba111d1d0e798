#pragma once
// Where the program reaches the module: kept by the main window, edited by the settings dialog.

#include "ModuleDefaults.h"

#include <cstdint>
#include <string>

struct TSettings {
    std::string IPAddress = IPToStr(DefaultModuleAddress);  // dotted, without blanks
    int32_t TCPPort = DefaultModuleTCPPort;                 // 1..65535
    bool VerifyWrite = true;                                // read the block back after a write
};
