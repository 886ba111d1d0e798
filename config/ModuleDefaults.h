#pragma once
// The module's factory configuration: what the configuration file reader supplies for a missing
// or unusable key, and what a simulated module starts with. The channel frame's start values and
// the collection of the window's controls take from it only the fields in which they agree.

#include "BaudRates.h"
#include "ModuleConfig.h"

inline constexpr TIPAddress DefaultModuleAddress{192, 168, 127, 10};
inline constexpr uint16_t DefaultModuleTCPPort = 502;

inline constexpr TChannelConfig FactoryChannelDefaults{
    .SlaveAddress = 0,  // master
    .BaudIndex = DefaultBaudIndex,
    .Parity = 2,    // EVEN
    .StopBits = 1,  // two stop bits
    .Timeout = 100,
    .Replies = 0,
    .IPAddress0 = {192, 168, 127, 1},
    .IPAddress1 = {192, 168, 127, 2},
    .EthRecvTout = 100,
    .EthConnTout = 100,
    .TCPPort0 = 502,
    .TCPPort1 = 502,
    .Reserved = {},
};

inline constexpr TModuleConfig FactoryDefaults{
    .Address = DefaultModuleAddress,
    .Gateway = {192, 168, 127, 100},
    .NetMask = {255, 255, 255, 0},
    .TCPPort = DefaultModuleTCPPort,
    .Reserved1 = {},
    .Channels = {FactoryChannelDefaults, FactoryChannelDefaults},
    .Reserved2 = {},
    .CRC = 0,
};
