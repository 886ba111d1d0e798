#include "DevicePoll.h"

#include <algorithm>

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
    ReadDevice(Client_, Read_, [this, generation, time](const TDeviceReply& reply) {
        if (generation != Generation_)
            return;
        Statistics_.Count(reply);
        if (PeriodMs_ < 0)
            Running_ = false;
        else {
            const auto due = LastStart_ + std::chrono::milliseconds(PeriodMs_);
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
            Next_.start(int(std::max<int64_t>(wait.count(), 0)));
        }
        // Last: the handler may stop the poll or start another.
        if (OnSample)
            OnSample({time, Read_, reply});
    });
}
