#pragma once
// Polls one read of a device again and again: the next request goes one period after the previous
// one started, or as soon as its answer came when that took longer (a line serves one request at a
// time). Each sample is told with its wall-clock time and counted in the statistics. The module's
// configuration is read before the first request of a run, so that each waits for the module's
// answer no less than the module waits for its line (LineTimeout.h).

#include "DeviceRequests.h"
#include "LineTimeout.h"
#include "PollStatistics.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

class QElapsedTimer;

// Told to OnSample: the reply is the poll's own and lives for that call only, so that a fast poll
// does not copy every answer for a handler that only reads it.
struct TDeviceSample {
    std::chrono::system_clock::time_point Time;  // when the request went out
    TDeviceRead Read;
    const TDeviceReply& Reply;
};

class TDevicePoll : public QObject {
public:
    explicit TDevicePoll(TModuleClient& client, QObject* owner = nullptr);

    // periodMs < 0: one request only; 0: each as soon as the previous answer came. A read the
    // protocol cannot carry is told once, refused, and ends the poll.
    void Start(const TDeviceRead& read, int periodMs);
    // No sample is told after this, even of the request in flight.
    void Stop();
    bool IsRunning() const { return Running_; }

    const TPollStatistics& Statistics() const { return Statistics_; }
    // The module's configuration as read for this run; none before it came, or when the module keeps
    // none.
    const std::optional<TModuleConfig>& ModuleConfig() const { return ModuleConfig_; }
    void ClearStatistics() { Statistics_.Clear(); }

    std::function<void(const TDeviceSample&)> OnSample;

private:
    void Request();
    void Send(uint64_t generation, std::chrono::system_clock::time_point time);
    void Tell(uint64_t generation, std::chrono::system_clock::time_point time, const TDeviceReply& reply);

    TModuleClient& Client_;
    TDeviceRead Read_;
    int PeriodMs_ = -1;
    bool Running_ = false;
    bool LinesKnown_ = false;  // the module's configuration asked for in this run and answered
    std::optional<TModuleConfig> ModuleConfig_;
    uint64_t Generation_ = 0;
    std::chrono::steady_clock::time_point LastStart_;
    QTimer Next_;
    TPollStatistics Statistics_;
};
