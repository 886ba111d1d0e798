#include "GatewayRoute.h"
#include "BaudRates.h"

#include <algorithm>
#include <string>

namespace {

bool IsMaster(const TChannelConfig& channel)
{
    return channel.SlaveAddress == 0;
}

TSerialSettings SerialOf(const TChannelConfig& channel)
{
    return {channel.BaudIndex, channel.Parity, channel.StopBits};
}

}  // namespace

TGatewayRoute RouteRequest(const TModuleConfig& config, const std::vector<TSimDevice>& devices, uint8_t unit)
{
    TGatewayRoute route;
    bool known = false;
    for (size_t i = 0; i < devices.size(); ++i) {
        const TSimDevice& device = devices[i];
        if (device.Unit() != unit)
            continue;
        known = true;
        const TChannelConfig& channel = config.Channels[device.Channel()];
        if (!IsMaster(channel))
            continue;
        if (SerialOf(channel) == device.Serial())
            return {TGatewayRoute::Device, int(i), uint16_t(1 << device.Channel()), 0};
        if (route.Kind == TGatewayRoute::PathUnavailable)
            route = {TGatewayRoute::TargetFailed, -1, uint16_t(1 << device.Channel()), channel.Timeout};
    }
    if (known)
        return route;
    for (size_t k = 0; k < ChannelCount; ++k) {
        if (!IsMaster(config.Channels[k]))
            continue;
        route.Kind = TGatewayRoute::TargetFailed;
        route.ChannelMask |= uint16_t(1 << k);
        route.TimeoutMs = std::max<int>(route.TimeoutMs, config.Channels[k].Timeout);
    }
    return route;
}

int64_t LineTimeUs(uint16_t baudIndex, int bytes)
{
    const int64_t baud = std::stoll(BaudRateText(baudIndex));
    return int64_t(bytes) * LineBitsPerByte * 1'000'000 / baud;
}
