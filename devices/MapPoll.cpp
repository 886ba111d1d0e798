#include "MapPoll.h"

#include "modbus.h"

namespace {

// What a device answers for registers it does not have.
constexpr uint8_t IllegalDataAddress = 0x02;

}  // namespace

TMapPoll::TMapPoll(TModuleClient& client, QObject* owner) : QObject(owner), Client_(client), Next_(this)
{
    Next_.setSingleShot(true);
    Next_.setTimerType(Qt::PreciseTimer);
    connect(&Next_, &QTimer::timeout, this, [this] { StartCycle(); });
}

void TMapPoll::SetPoints(std::vector<TMapPoint> points)
{
    std::vector<TPointState> states(points.size());
    for (size_t i = 0; i < points.size(); ++i)
        for (size_t j = 0; j < Points_.size(); ++j) {
            const TMapPoint& before = Points_[j];
            if (before.Name == points[i].Name && before.Unit == points[i].Unit &&
                before.Function == points[i].Function && before.Address == points[i].Address) {
                states[i] = std::move(States_[j]);
                states[i].Decode(points[i]);
                break;
            }
        }
    Points_ = std::move(points);
    States_ = std::move(states);
    Requests_ = PlanRequests(Points_);
    if (Running_) {
        // The cycle in flight answers the old plan: it is dropped and a new one starts at once.
        ++Generation_;
        Next_.stop();
        StartCycle();
    }
}

void TMapPoll::Start(int periodMs, uint64_t cycles)
{
    Stop();
    PeriodMs_ = periodMs;
    CyclesWanted_ = periodMs < 0 ? 1 : cycles;
    Cycle_ = {};
    Running_ = true;
    StartCycle();
}

void TMapPoll::Stop()
{
    ++Generation_;
    Running_ = false;
    Next_.stop();
}

void TMapPoll::StartCycle()
{
    CycleStart_ = std::chrono::steady_clock::now();
    Cycle_ = {Cycle_.Number + 1, std::chrono::system_clock::now(), 0, 0, 0};
    Ask(0);
}

void TMapPoll::Ask(size_t request)
{
    if (request >= Requests_.size()) {
        EndCycle();
        return;
    }
    const uint64_t generation = Generation_;
    const auto time = std::chrono::system_clock::now();
    ++Cycle_.Requests;
    ReadDevice(Client_, Requests_[request].Read, [this, generation, request, time](const TDeviceReply& reply) {
        if (generation != Generation_)
            return;
        const TPlannedRequest& planned = Requests_[request];
        if (reply.Result.Status == StatusException && reply.Result.Exception == IllegalDataAddress) {
            std::vector<TPlannedRequest> parts = SplitAtGaps(planned, Points_);
            if (parts.size() > 1) {
                // For good: the device will not serve the gap next time either.
                Requests_.erase(Requests_.begin() + std::ptrdiff_t(request));
                Requests_.insert(Requests_.begin() + std::ptrdiff_t(request), parts.begin(), parts.end());
                Ask(request);
                return;
            }
        }
        if (!reply.Result.Ok()) {
            ++Cycle_.Failed;
            if (reply.Result.Status == StatusNoReply) {
                FailFrom(request, reply.Result);
                EndCycle();
                return;
            }
            for (size_t point : planned.Points)
                States_[point].Fail(reply.Result);
        } else {
            const auto clock = std::chrono::steady_clock::now();
            const std::span<const uint16_t> raw(reply.Raw);
            for (size_t point : planned.Points)
                States_[point].Read(Points_[point], raw.subspan(SliceStart(planned, Points_[point])), time, clock);
        }
        Ask(request + 1);
    });
}

void TMapPoll::FailFrom(size_t request, const TModuleResult& failure)
{
    for (size_t r = request; r < Requests_.size(); ++r) {
        Cycle_.Failed += r > request ? 1 : 0;
        for (size_t point : Requests_[r].Points)
            States_[point].Fail(failure);
    }
}

void TMapPoll::EndCycle()
{
    Cycle_.Ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - CycleStart_).count();
    const bool last = CyclesWanted_ > 0 && Cycle_.Number >= CyclesWanted_;
    if (last)
        Running_ = false;
    const uint64_t generation = Generation_;
    if (OnCycle)
        OnCycle(Cycle_);
    // The handler may have stopped the poll or changed its points.
    if (generation != Generation_ || !Running_)
        return;
    const auto due = CycleStart_ + std::chrono::milliseconds(std::max(PeriodMs_, 0));
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
    if (wait.count() <= 0)
        Next_.start(0);
    else
        Next_.start(int(wait.count()));
}
