#include "DevicePoll.h"

#include "modbus.h"

#include <QElapsedTimer>

TDevicePoll::TDevicePoll(TModuleClient& client, QObject* owner) : QObject(owner), Client_(client), Next_(this)
{
    Next_.setSingleShot(true);
    Next_.setTimerType(Qt::PreciseTimer);
    connect(&Next_, &QTimer::timeout, this, [this] { Request(); });
}

void TDevicePoll::Start(const TDeviceRead& read, int periodMs)
{
    Stop();
    Read_ = read;
    PeriodMs_ = periodMs;
    Running_ = true;
    // Once a run: the module's channels may have been changed since the last. A read the protocol
    // cannot carry is refused without a word to the module, so there is nothing to wait for.
    LinesKnown_ = !IsCarriedRead(read);
    Request();
}

void TDevicePoll::Stop()
{
    ++Generation_;
    Running_ = false;
    Next_.stop();
}

void TDevicePoll::Request()
{
    const uint64_t generation = Generation_;
    LastStart_ = std::chrono::steady_clock::now();
    const auto time = std::chrono::system_clock::now();
    if (LinesKnown_) {
        Send(generation, time);
        return;
    }
    QElapsedTimer clock;
    clock.start();
    PrepareForLines(Client_, [this, generation, time, clock](const TModuleResult& result, const TModuleConfig* config) {
        if (generation != Generation_)
            return;
        // An exception is an answer too: a gateway that keeps no configuration is still asked.
        if (result.Ok() || result.Status == StatusException) {
            LinesKnown_ = true;
            ModuleConfig_ = config ? std::optional<TModuleConfig>(*config) : std::nullopt;
            Send(generation, time);
            return;
        }
        // The module itself is silent: that is this request's outcome, and the next asks again.
        Tell(generation, time, {result, {}, double(clock.nsecsElapsed()) / 1e6});
    });
}

void TDevicePoll::Send(uint64_t generation, std::chrono::system_clock::time_point time)
{
    ReadDevice(Client_, Read_, [this, generation, time](const TDeviceReply& reply) { Tell(generation, time, reply); });
}

void TDevicePoll::Tell(uint64_t generation, std::chrono::system_clock::time_point time, const TDeviceReply& reply)
{
    if (generation != Generation_)
        return;
    Statistics_.Count(reply);
    // A request the master refused is refused again next time: asked at once, it would spin.
    if (PeriodMs_ < 0 || reply.Result.Status < 0)
        Running_ = false;
    if (OnSample)
        OnSample({time, Read_, reply});
    // The handler may have stopped the poll or started another.
    if (generation != Generation_ || !Running_)
        return;
    const auto due = LastStart_ + std::chrono::milliseconds(PeriodMs_);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
    // Due already: queued at once, the master sends it as soon as this answer is done with.
    if (wait.count() <= 0)
        Request();
    else
        Next_.start(int(wait.count()));
}
