#pragma once
// Polls the points of a register map through one module in cycles: each cycle asks every planned
// request once, one at a time (a line serves one request at a time), and then tells the points'
// states. The next cycle starts one period after the previous one started, or as soon as it ended
// when that took longer.
//
// When the module itself does not answer a request (no reply, no connection), the rest of the
// cycle is not asked: each would only wait out the same silence, and a gone module would stretch
// every cycle by all its requests' time-outs. Their points fail with the same answer.
//
// A device that does not serve the registers between two points read together answers the request
// with exception 02; the request is then split at its gaps, for this cycle and the next ones, so
// that each point is still read.

#include "PointState.h"
#include "RequestPlan.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <vector>

struct TMapCycle {
    uint64_t Number = 0;                         // 1 for the first
    std::chrono::system_clock::time_point Time;  // when its first request went out
    double Ms = 0;                               // from its first request to its last outcome
    size_t Requests = 0;                         // sent
    size_t Failed = 0;                           // of those sent and of those not sent for a silent module
};

class TMapPoll : public QObject {
public:
    explicit TMapPoll(TModuleClient& client, QObject* owner = nullptr);

    // The points to poll, planned anew. A point of the same name that reads the same unit,
    // function and address keeps its state, decoded anew by the point as it now is; the others
    // start waiting. May be called while polling: the cycle in flight ends with the old plan
    // (its outcomes are dropped) and the next uses the new one.
    void SetPoints(std::vector<TMapPoint> points);
    const std::vector<TMapPoint>& Points() const { return Points_; }
    const std::vector<TPlannedRequest>& Requests() const { return Requests_; }
    const std::vector<TPointState>& States() const { return States_; }

    // periodMs < 0: one cycle only; 0: each as soon as the previous ended. cycles > 0 ends the poll
    // after that many.
    void Start(int periodMs, uint64_t cycles = 0);
    // No cycle is told after this, nor the rest of the one in flight.
    void Stop();
    bool IsRunning() const { return Running_; }

    std::function<void(const TMapCycle&)> OnCycle;

private:
    void StartCycle();
    void Ask(size_t request);
    void FailFrom(size_t request, const TModuleResult& failure);
    void EndCycle();

    TModuleClient& Client_;
    std::vector<TMapPoint> Points_;
    std::vector<TPlannedRequest> Requests_;
    std::vector<TPointState> States_;
    int PeriodMs_ = -1;
    uint64_t CyclesWanted_ = 0;
    bool Running_ = false;
    uint64_t Generation_ = 0;
    TMapCycle Cycle_;
    std::chrono::steady_clock::time_point CycleStart_;
    QTimer Next_;
};
