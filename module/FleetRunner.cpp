#include "FleetRunner.h"

#include <QEventLoop>

#include <algorithm>

TFleetRunner::TFleetRunner(std::vector<TModuleAddress> modules, const TModuleClientOptions& options, int jobs)
    : Modules_(std::move(modules))
    , Options_(options)
    , Jobs_(size_t(std::max(jobs, 1)))
{}

TFleetRunner::~TFleetRunner() = default;

void TFleetRunner::Run(const TJob& job, const TJobFinished& finished)
{
    Job_ = job;
    JobFinished_ = finished;
    Next_ = 0;
    Finished_ = 0;
    Stopped_ = false;
    if (Modules_.empty())
        return;
    QEventLoop loop;
    AllFinished_ = [&loop] { loop.quit(); };
    for (size_t i = 0; i < std::min(Jobs_, Modules_.size()); ++i)
        StartNext();
    loop.exec();
    AllFinished_ = {};
}

void TFleetRunner::Stop()
{
    Stopped_ = true;
}

void TFleetRunner::StartNext()
{
    if (Next_ == Modules_.size() || Stopped_) {
        if (Finished_ == Next_ && AllFinished_)
            AllFinished_();
        return;
    }
    const size_t index = Next_++;
    const TModuleAddress& module = Modules_[index];
    // Owned by the runner until the job finishes; destroyed from the event loop, after the
    // completion handler that finished it has returned.
    auto* client = new TModuleClient(module.Address, module.Port, Options_, this);
    const auto started = std::chrono::steady_clock::now();
    Job_(index, *client, [this, index, client, started, done = false]() mutable {
        if (done)
            return;
        done = true;
        // Its connection closes now, not when the client goes: the next job may need the descriptor.
        client->Cancel();
        client->deleteLater();
        ++Finished_;
        if (JobFinished_)
            JobFinished_(index,
                         std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
        // The next job starts from the event loop, after the client just finished is deleted: a
        // connection that failed keeps its descriptor until then.
        QMetaObject::invokeMethod(
            this, [this] { StartNext(); }, Qt::QueuedConnection);
    });
}
