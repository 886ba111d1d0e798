#pragma once
// Where the program reaches the module: kept by the main window, edited by the settings dialog;
// and the files the Файл menu offers again, and the register maps "Устройства на линии" opens
// again, kept in the same file.

#include "IPAddressText.h"
#include "ModuleClient.h"
#include "ModuleDefaults.h"

#include <cstdint>
#include <string>
#include <vector>

struct TSettings {
    std::string IPAddress = IPToStr(DefaultModuleAddress);  // dotted, without blanks
    int32_t TCPPort = DefaultModuleTCPPort;                 // 1..65535
    bool VerifyWrite = true;                                // read the block back after a write
    int32_t Timeout = DefaultReplyTimeout;                  // ms a reply is waited for, 100..10000
    int32_t Transmissions = DefaultTransmissions;           // of one request, 1..5
    std::vector<std::string> RecentFiles{};                 // opened or saved last, newest first
    std::vector<std::string> RecentMaps{};                  // the register maps of the lines window, so
};
