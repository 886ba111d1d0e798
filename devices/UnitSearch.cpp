#include "UnitSearch.h"

#include "modbus.h"

#include <algorithm>

namespace {

TModuleClientOptions SearchOptions(TModuleClientOptions options)
{
    options.Transmissions = 1;
    return options;
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
    PrepareForLines(Client_, [this](const TModuleResult& result, const TModuleConfig* config) {
        // An exception is an answer: something is there to ask, even if it keeps no configuration.
        if (!result.Ok() && result.Status != StatusException) {
            Summary_.ModuleFailure = result;
            Finish();
            return;
        }
        if (config)
            Summary_.Config = *config;
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
    if (Summary_.Found.empty() && Summary_.Asked > 0 && Summary_.Config)
        Summary_.Hint = LinesSettingsText(*Summary_.Config);
    if (OnFinished)
        OnFinished(Summary_);
}
