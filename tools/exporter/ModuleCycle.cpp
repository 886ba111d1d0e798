#include "ModuleCycle.h"

#include "ConfigVerdict.h"

TModuleCycle::TModuleCycle(const TModuleAddress& module, const TModuleClientOptions& options, QObject* owner)
    : QObject(owner)
    , Client_(std::make_unique<TModuleClient>(module.Address, module.Port, options))
{}

TModuleCycle::~TModuleCycle() = default;

void TModuleCycle::Start()
{
    Started_ = std::chrono::steady_clock::now();
    Outcome_.Requests = 1;
    Client_->ReadModule([this](const TModuleResult& result, const TModuleInfo& info, const TModuleConfig& config) {
        Outcome_.BlocksRead = true;
        Outcome_.Module = result;
        Outcome_.NotAModule = NotAModule(result, info);
        Outcome_.Info = info;
        Outcome_.Config = config;
        Finish();
    });
}

void TModuleCycle::Stop()
{
    OnFinished = {};
    Client_->Cancel();
}

void TModuleCycle::Finish()
{
    Outcome_.Finished = true;
    Outcome_.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Started_).count();
    // The connection closes now rather than when the cycle goes: a fleet of modules should not hold
    // a descriptor each between scrapes.
    Client_->Cancel();
    // A copy: whoever is told may drop the cycle, and this handler with it.
    if (const auto finished = OnFinished)
        finished();
}

TCycleOutcome TModuleCycle::Outcome() const
{
    TCycleOutcome outcome = Outcome_;
    if (!outcome.Finished)
        outcome.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Started_).count();
    return outcome;
}
