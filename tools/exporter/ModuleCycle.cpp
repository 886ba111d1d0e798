#include "ModuleCycle.h"

#include "ConfigVerdict.h"
#include "LineTimeout.h"

#include <algorithm>

TModuleCycle::TModuleCycle(const TModuleAddress& module, const TModuleClientOptions& options,
                           std::shared_ptr<const TNamedMap> map, QObject* owner)
    : QObject(owner)
    , Client_(std::make_unique<TModuleClient>(module.Address, module.Port, options))
{
    Outcome_.Map = std::move(map);
    if (Outcome_.Map) {
        Poll_ = std::make_unique<TMapPoll>(*Client_);
        Poll_->SetPoints(Outcome_.Map->Map.Points);
        Outcome_.Plan = Poll_->Requests();
        Outcome_.Points = Poll_->States();
    }
}

TModuleCycle::~TModuleCycle() = default;

void TModuleCycle::Start()
{
    Started_ = std::chrono::steady_clock::now();
    Outcome_.Requests = 1;
    Client_->ReadModule([this](const TModuleResult& result, const TModuleInfo& info, const TModuleConfig& config) {
        Outcome_.BlocksRead = true;
        Outcome_.Module = result;
        Outcome_.NotAModule = NotAModule(result, info, config);
        Outcome_.Info = info;
        Outcome_.Config = config;
        // The devices are asked through a module that answers as one; behind anything else they
        // would only wait out its silence or refusal request by request.
        if (!Poll_ || !Outcome_.ModuleUp()) {
            Finish();
            return;
        }
        WaitForLines(*Client_, config);
        Poll_->OnCycle = [this](const TMapCycle& cycle) {
            Outcome_.Requests = 1 + cycle.Requests;
            Finish();
        };
        Poll_->Start(-1);
    });
}

void TModuleCycle::Stop()
{
    OnFinished = {};
    if (Poll_)
        Poll_->Stop();
    Client_->Cancel();
}

void TModuleCycle::Finish()
{
    Outcome_.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Started_).count();
    if (Poll_) {
        Outcome_.Points = Poll_->States();
        // The poll splits a request the device refuses for its gaps: the plan as it was asked.
        Outcome_.Plan = Poll_->Requests();
    }
    Outcome_.Finished = true;
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
    if (outcome.Finished)
        return outcome;
    outcome.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Started_).count();
    if (Poll_ && Poll_->IsRunning()) {
        outcome.Points = Poll_->States();
        outcome.Plan = Poll_->Requests();
        // The requests answered, and the one in flight: they go in the plan's order.
        const auto answered = std::count_if(outcome.Plan.begin(), outcome.Plan.end(), [&](const TPlannedRequest& r) {
            return outcome.Points[r.Points.front()].Status != TPointStatus::Waiting;
        });
        outcome.Requests = 1 + std::min(size_t(answered) + 1, outcome.Plan.size());
    }
    return outcome;
}
