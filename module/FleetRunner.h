#pragma once
// Runs one job per module on the one event loop, at most a given number at once, each with its
// own ModuleClient (and so its own master and connection), and tells when all have finished.

#include "ModuleAddress.h"
#include "ModuleClient.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class TFleetRunner : public QObject {
public:
    // A job calls finish() exactly once, from a completion handler of its client.
    using TFinish = std::function<void()>;
    using TJob = std::function<void(size_t index, TModuleClient& client, TFinish finish)>;
    // Called after each job, with the job's index and its time from start to finish.
    using TJobFinished = std::function<void(size_t index, double ms)>;

    TFleetRunner(std::vector<TModuleAddress> modules, const TModuleClientOptions& options, int jobs);
    ~TFleetRunner() override;

    // Runs a nested event loop until every job has finished, or until the jobs running when Stop
    // was called have finished.
    void Run(const TJob& job, const TJobFinished& finished = {});
    // Starts no more jobs; those running end as they will.
    void Stop();

    const std::vector<TModuleAddress>& Modules() const { return Modules_; }

private:
    void StartNext();

    std::vector<TModuleAddress> Modules_;
    TModuleClientOptions Options_;
    size_t Jobs_;
    size_t Next_ = 0;
    size_t Finished_ = 0;
    bool Stopped_ = false;
    TJob Job_;
    TJobFinished JobFinished_;
    std::function<void()> AllFinished_;
};
