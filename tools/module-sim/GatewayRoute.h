#pragma once
// Where the simulated module sends a request for a unit other than its own, as a gateway does,
// judged on the configuration the module holds at that moment:
// - a device with that unit on a master channel whose baud rate, parity and stop bits equal the
//   device's answers, after the time its bytes take on the line;
// - a device with that unit on a master channel with other serial settings hears nothing it can
//   read: exception 0x0B after that channel's reply time-out;
// - no device with that unit: the request goes out on every master channel, and exception 0x0B
//   comes after the longest of their time-outs;
// - the unit's device sits only on slave channels, or no channel is master: exception 0x0A at once.

#include "ModuleConfig.h"
#include "SimDevice.h"

#include <cstdint>
#include <vector>

inline constexpr uint8_t GatewayPathUnavailable = 0x0A;
inline constexpr uint8_t GatewayTargetFailed = 0x0B;
inline constexpr int LineBitsPerByte = 11;  // start, eight data bits, parity or a second stop bit, stop

struct TGatewayRoute {
    enum TKind { Device, TargetFailed, PathUnavailable };
    TKind Kind = PathUnavailable;
    int DeviceIndex = -1;      // into the devices, when Kind is Device
    uint16_t ChannelMask = 0;  // the lines the request occupies: bit 0 channel 0, bit 1 channel 1
    int TimeoutMs = 0;         // when Kind is TargetFailed
};

TGatewayRoute RouteRequest(const TModuleConfig& config, const std::vector<TSimDevice>& devices, uint8_t unit);

// Microseconds that this many bytes take on a line at the baud rate of the table's index.
int64_t LineTimeUs(uint16_t baudIndex, int bytes);
