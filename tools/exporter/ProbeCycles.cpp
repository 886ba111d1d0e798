#include "ProbeCycles.h"

#include <algorithm>

TProbeCycles::TProbeCycles(const TProbeSettings& settings, QObject* owner) : QObject(owner), Settings_(settings)
{}

TProbeCycles::~TProbeCycles() = default;

namespace {

// Each request answered with an exception once, and each point it carried.
void CountExceptions(const TCycleOutcome& outcome, TExceptionCounts& counts)
{
    if (outcome.BlocksRead && outcome.Module.Exception)
        ++counts.Requests[outcome.Module.Exception];
    for (const TPlannedRequest& request : outcome.Plan) {
        const TPointState& first = outcome.Points[request.Points.front()];
        if (first.Status != TPointStatus::Exception)
            continue;
        ++counts.Requests[first.Failure.Exception];
        for (const size_t point : request.Points)
            ++counts.Points[outcome.Map->Map.Points[point].Name];
    }
}

}  // namespace

void TProbeCycles::Probe(const TModuleAddress& module, std::shared_ptr<const TNamedMap> map,
                         std::chrono::milliseconds budget, TAnswer answer)
{
    // A map's name cannot hold a blank, so this keeps modules and maps apart.
    const std::string key = module.Text() + (map ? " " + map->Name : "");
    const auto now = std::chrono::steady_clock::now();
    TModuleEntry& entry = Modules_[key];
    entry.Module = module;
    entry.LastAsked = now;
    if (!entry.Cycle && entry.Last && now - entry.LastEnd < std::chrono::milliseconds(Settings_.MinIntervalMs)) {
        ++Answers_[size_t(TProbeAnswer::Interval)];
        answer(*entry.Last, entry.Exceptions);
        return;
    }
    const uint64_t id = ++NextWaiter_;
    auto deadline = std::make_unique<QTimer>();
    deadline->setSingleShot(true);
    connect(deadline.get(), &QTimer::timeout, this, [this, key, id] { DeadlinePassed(key, id); });
    deadline->start(std::max(budget, std::chrono::milliseconds(0)));
    const bool joined = entry.Cycle != nullptr;
    entry.Waiters.push_back({id, std::move(answer), std::move(deadline)});
    if (joined) {
        ++Answers_[size_t(TProbeAnswer::Shared)];
        return;
    }
    entry.Cycle = std::make_unique<TModuleCycle>(module, Settings_.Client, std::move(map));
    entry.Cycle->OnFinished = [this, key] { CycleFinished(key); };
    Queue_.push_back(key);
    Forget();
    StartWaiting();
}

void TProbeCycles::StartWaiting()
{
    while (Running_ < size_t(std::max(Settings_.Concurrency, 1)) && !Queue_.empty()) {
        const std::string key = Queue_.front();
        Queue_.pop_front();
        TModuleEntry& entry = Modules_.at(key);
        entry.Running = true;
        ++Running_;
        ++CyclesStarted_;
        entry.Cycle->Start();
    }
}

void TProbeCycles::CycleFinished(const std::string& key)
{
    TModuleEntry& entry = Modules_.at(key);
    const TCycleOutcome outcome = entry.Cycle->Outcome();
    entry.Last = outcome;
    entry.LastEnd = std::chrono::steady_clock::now();
    CountExceptions(outcome, entry.Exceptions);
    const TExceptionCounts counts = entry.Exceptions;
    std::vector<TWaiter> waiters = std::move(entry.Waiters);
    entry.Waiters.clear();
    DropCycle(entry, key);
    for (TWaiter& waiter : waiters) {
        ++Answers_[size_t(TProbeAnswer::Cycle)];
        waiter.Answer(outcome, counts);
    }
    StartWaiting();
}

void TProbeCycles::DeadlinePassed(const std::string& key, uint64_t id)
{
    TModuleEntry& entry = Modules_.at(key);
    const auto it =
        std::find_if(entry.Waiters.begin(), entry.Waiters.end(), [id](const TWaiter& w) { return w.Id == id; });
    if (it == entry.Waiters.end())
        return;
    TWaiter waiter = std::move(*it);
    entry.Waiters.erase(it);
    // A cycle still waiting for its turn has asked nothing yet.
    const TCycleOutcome outcome = entry.Running ? entry.Cycle->Outcome() : TCycleOutcome{};
    if (entry.Waiters.empty()) {
        // What the cycle had asked counts, though nobody waits for the rest.
        CountExceptions(outcome, entry.Exceptions);
        DropCycle(entry, key);
        StartWaiting();
    }
    ++Answers_[size_t(TProbeAnswer::Cut)];
    waiter.Answer(outcome, entry.Exceptions);
}

void TProbeCycles::DropCycle(TModuleEntry& entry, const std::string& key)
{
    if (!entry.Cycle)
        return;
    if (entry.Running)
        --Running_;
    else
        Queue_.erase(std::find(Queue_.begin(), Queue_.end(), key));
    entry.Running = false;
    entry.Cycle->Stop();
    // Its client may be inside the call that told the outcome: gone from the event loop.
    entry.Cycle.release()->deleteLater();
}

void TProbeCycles::Forget()
{
    while (Modules_.size() > Settings_.MaxModules) {
        auto oldest = Modules_.end();
        for (auto it = Modules_.begin(); it != Modules_.end(); ++it)
            if (!it->second.Cycle && (oldest == Modules_.end() || it->second.LastAsked < oldest->second.LastAsked))
                oldest = it;
        if (oldest == Modules_.end())
            return;
        Modules_.erase(oldest);
    }
}
