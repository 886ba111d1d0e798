#pragma once
// Where the program reaches the module: kept by the main window, edited by the settings dialog.

#include "ModuleDefaults.h"

#include <cstdint>
#include <string>

// The program's own: 51 ticks of 10 ms, and a silent module tried three times.
inline constexpr int32_t DefaultReplyTimeout = 510;
inline constexpr int32_t MinReplyTimeout = 100;
inline constexpr int32_t MaxReplyTimeout = 10000;
inline constexpr int32_t DefaultTransmissions = 3;
inline constexpr int32_t MinTransmissions = 1;
inline constexpr int32_t MaxTransmissions = 5;

struct TSettings {
    std::string IPAddress = IPToStr(DefaultModuleAddress);  // dotted, without blanks
    int32_t TCPPort = DefaultModuleTCPPort;                 // 1..65535
    bool VerifyWrite = true;                                // read the block back after a write
    int32_t Timeout = DefaultReplyTimeout;                  // ms a reply is waited for, 100..10000
    int32_t Transmissions = DefaultTransmissions;           // of one request, 1..5
};
