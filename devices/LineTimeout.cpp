#include "LineTimeout.h"

#include "ConfigFields.h"
#include "modbus.h"

#include <algorithm>

namespace {

std::string FieldText(const TModuleConfig& config, size_t index, const char* key)
{
    const TConfigField* field = FindConfigField("CHANNEL_" + std::to_string(index), key);
    return field ? field->Label + " " + FieldDisplayText(config, *field) : std::string();
}

std::string ChannelSettingsText(const TModuleConfig& config, size_t index)
{
    const TChannelConfig& channel = config.Channels[index];
    return "Канал " + std::to_string(index + 1) + ": " + (channel.SlaveAddress == 0 ? "Ведущий" : "Ведомый") + ", " +
           FieldText(config, index, "BAUDRATE") + ", " + FieldText(config, index, "PARITY") + ", " +
           FieldText(config, index, "STOPBITS");
}

}  // namespace

TModuleClientOptions LineClientOptions(const TModuleConfig& config, TModuleClientOptions options)
{
    int longest = 0;
    for (const TChannelConfig& channel : config.Channels)
        if (channel.SlaveAddress == 0)
            longest = std::max(longest, int(channel.Timeout));
    options.TimeoutMs = std::max(options.TimeoutMs, longest + ModuleAnswerRoomMs);
    return options;
}

void PrepareForLines(TModuleClient& client, std::function<void(const TModuleResult&, const TModuleConfig*)> done)
{
    client.ReadConfig([&client, done = std::move(done)](const TModuleResult& result, const TModuleConfig& config) {
        if (!result.Ok()) {
            done(result, nullptr);
            return;
        }
        WaitForLines(client, config);
        done(result, &config);
    });
}

void WaitForLines(TModuleClient& client, const TModuleConfig& config)
{
    const TModuleClientOptions options = LineClientOptions(config, client.Options());
    if (options.TimeoutMs != client.Options().TimeoutMs)
        client.SetTimes(options);
}

bool IsLineFailure(const TModuleResult& result)
{
    return result.Status == StatusException &&
           (result.Exception == ExceptionGatewayPath || result.Exception == ExceptionGatewayTarget);
}

std::string LinesSettingsText(const TModuleConfig& config)
{
    std::string text;
    for (size_t n = 0; n < ChannelCount; ++n)
        text += (n ? "; " : "") + ChannelSettingsText(config, n);
    return text;
}
