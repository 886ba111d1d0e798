#pragma once
// Simulated modules for the exporter's tests, in this process: a configuration put into the
// module's registers, and meters on its lines whose clock is held at t = 0, so that every value
// is the one the simulator documents for that time.

#include "ModuleDefaults.h"
#include "ModuleRegisters.h"
#include "ModuleSimServer.h"
#include "SimLines.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

inline void LoadConfig(TModuleSimServer& module, const TModuleConfig& config)
{
    const TConfigImage image = BuildConfigImage(config);
    for (size_t k = 0; k < image.size(); ++k)
        module.SetRegister(ConfigFirstRegister + int(k), image[k]);
}

// The factory configuration with channels that wait 5 ms for a device, and the meters given as
// (channel 0 or 1, unit) at the channels' factory settings.
inline void AddMeters(TModuleSimServer& module, const std::vector<std::pair<int, uint8_t>>& meters)
{
    TModuleConfig config = FactoryDefaults;
    for (TChannelConfig& channel : config.Channels)
        channel.Timeout = 5;
    LoadConfig(module, config);
    const TSerialSettings factory{FactoryChannelDefaults.BaudIndex, FactoryChannelDefaults.Parity,
                                  FactoryChannelDefaults.StopBits};
    for (const auto& [channel, unit] : meters)
        ASSERT_TRUE(module.Lines().AddDevice(TSimDevice(channel, unit, factory)));
    module.Lines().FreezeClock(0);
    module.Lines().SetLineTimeFactor(0);
}
