#pragma once
// A configuration unlike the factory one in every section, for tests that need one.

#include "ModuleDefaults.h"

inline TModuleConfig DistinctConfig()
{
    TModuleConfig config = FactoryDefaults;
    config.Address = {10, 0, 0, 5};
    config.TCPPort = 1502;
    config.Channels[1].SlaveAddress = 17;
    config.Channels[1].BaudIndex = 4;
    config.Channels[1].Parity = 1;
    config.Channels[1].StopBits = 0;
    config.Channels[0].TCPPort1 = 5021;
    return config;
}
