#pragma once
// Where the program reaches the module: kept by the main window, edited by the settings dialog.

#include <cstdint>
#include <string>

inline constexpr const char* DefaultModuleIPAddress = "192.168.127.10";
inline constexpr int32_t DefaultModuleTCPPort = 502;

struct TSettings {
    std::string IPAddress = DefaultModuleIPAddress;  // dotted, without blanks
    int32_t TCPPort = DefaultModuleTCPPort;          // 1..65535
};
