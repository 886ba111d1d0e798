#include "UnitSearch.h"

#include "ConfigFields.h"
#include "modbus.h"

#include <algorithm>

namespace {

// Room over the module's own time-out for its answer to travel and be judged.
constexpr int ModuleAnswerRoomMs = 200;

TModuleClientOptions SearchOptions(TModuleClientOptions options)
{
    options.Transmissions = 1;
    return options;
}

std::string FieldText(const TModuleConfig& config, size_t index, const char* key)
{
    const TConfigField* field = FindConfigField("CHANNEL_" + std::to_string(index), key);
    return field ? field->Label + " " + FieldDisplayText(config, *field) : std::string();
}

}  // namespace

TUnitOutcome UnitOutcome(const TModuleResult& result)
{
    if (result.Ok())
        return TUnitOutcome::Answered;
    if (result.Status != StatusException)
        return TUnitOutcome::NoModuleAnswer;
    switch (result.Exception) {
    case ExceptionGatewayPath: return TUnitOutcome::PathUnavailable;
    case ExceptionGatewayTarget: return TUnitOutcome::TargetFailed;
    default: return TUnitOutcome::DeviceException;
    }
}

std::string ChannelSettingsText(const TModuleConfig& config, size_t index)
{
    const TChannelConfig& channel = config.Channels[index];
    return "Канал " + std::to_string(index + 1) + ": " + (channel.SlaveAddress == 0 ? "Ведущий" : "Ведомый") + ", " +
           FieldText(config, index, "BAUDRATE") + ", " + FieldText(config, index, "PARITY") + ", " +
           FieldText(config, index, "STOPBITS");
}

TUnitSearch::TUnitSearch(const std::string& address, uint16_t port, const TModuleClientOptions& options, QObject* owner)
    : QObject(owner)
    , Address_(address)
    , Port_(port)
    , Options_(SearchOptions(options))
    , Client_(address, port, Options_)
{}

void TUnitSearch::Start(uint8_t firstUnit, uint8_t lastUnit, const TUnitProbe& probe)
{
    Client_.Configure(Address_, Port_, Options_);
    Probe_ = probe;
    Next_ = std::max(firstUnit, MinDeviceUnit);
    Last_ = std::min(lastUnit, MaxDeviceUnit);
    Summary_ = TUnitSearchSummary();
    Running_ = true;
    StopAsked_ = false;
    Client_.ReadConfig([this](const TModuleResult& result, const TModuleConfig& config) {
        // An exception is an answer: something is there to ask, even if it keeps no configuration.
        if (!result.Ok() && result.Status != StatusException) {
            Summary_.ModuleFailure = result;
            Finish();
            return;
        }
        if (result.Ok()) {
            Summary_.Config = config;
            int longest = 0;
            for (const TChannelConfig& channel : config.Channels)
                if (channel.SlaveAddress == 0)
                    longest = std::max(longest, int(channel.Timeout));
            // Waiting less than the module waits for its line would call its 0x0B no answer.
            TModuleClientOptions options = Options_;
            options.TimeoutMs = std::max(options.TimeoutMs, longest + ModuleAnswerRoomMs);
            Client_.Configure(Address_, Port_, options);
        }
        Started_ = std::chrono::steady_clock::now();
        AskNext();
    });
}

void TUnitSearch::Stop()
{
    if (Running_)
        StopAsked_ = true;
}

void TUnitSearch::AskNext()
{
    if (StopAsked_ || Next_ > Last_) {
        Summary_.Stopped = StopAsked_;
        Finish();
        return;
    }
    const auto unit = uint8_t(Next_++);
    ReadDevice(Client_, {unit, Probe_.Function, Probe_.Address, 1}, [this, unit](const TDeviceReply& reply) {
        const TUnitResult result{unit, UnitOutcome(reply.Result), reply.Result, reply.Ms};
        ++Summary_.Asked;
        if (result.Found())
            Summary_.Found.push_back(unit);
        if (OnUnit)
            OnUnit(result);
        if (OnProgress) {
            const size_t total = Summary_.Asked + (Last_ + 1 - Next_);
            const auto spent = std::chrono::steady_clock::now() - Started_;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                spent * double(total - Summary_.Asked) / double(Summary_.Asked));
            OnProgress(Summary_.Asked, total, left);
        }
        AskNext();
    });
}

void TUnitSearch::Finish()
{
    Running_ = false;
    if (Summary_.Found.empty() && Summary_.Asked > 0 && Summary_.Config) {
        for (size_t n = 0; n < ChannelCount; ++n)
            Summary_.Hint += (n ? "; " : "") + ChannelSettingsText(*Summary_.Config, n);
    }
    if (OnFinished)
        OnFinished(Summary_);
}
