#include "PointState.h"

#include "modbus.h"

#include <cstdio>

std::vector<uint16_t> TPointState::Raw(const TMapPoint& point) const
{
    if (Kept.size() < point.Width())
        return {};
    return {Kept.begin(), Kept.begin() + point.Width()};
}

int64_t TPointState::AgeMs(std::chrono::steady_clock::time_point now) const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(now - GoodClock).count();
}

void TPointState::Read(const TMapPoint& point, std::span<const uint16_t> slice,
                       std::chrono::system_clock::time_point time, std::chrono::steady_clock::time_point clock)
{
    Kept.assign(slice.begin(), slice.end());
    GoodTime = time;
    GoodClock = clock;
    Failure = {};
    Decode(point);
}

void TPointState::Fail(const TModuleResult& failure)
{
    Failure = failure;
    Settle();
}

void TPointState::Decode(const TMapPoint& point)
{
    Value = DecodePoint(point, Kept);
    Settle();
}

void TPointState::Settle()
{
    if (Value)
        Status = Failure.Ok() ? TPointStatus::Ok : TPointStatus::Stale;
    else if (Failure.Ok())
        Status = TPointStatus::Waiting;
    else
        Status = Failure.Status == StatusException ? TPointStatus::Exception : TPointStatus::NoAnswer;
}

std::string_view PointStatusKey(TPointStatus status)
{
    switch (status) {
    case TPointStatus::Waiting: return "waiting";
    case TPointStatus::Ok: return "ok";
    case TPointStatus::NoAnswer: return "no_answer";
    case TPointStatus::Exception: return "exception";
    case TPointStatus::Stale: return "stale";
    }
    return "waiting";
}

std::string PointFailureText(const TModuleResult& failure)
{
    if (failure.Status != StatusException)
        return failure.Text.empty() ? StatusText(StatusNoReply, 0) : failure.Text;
    char code[8];
    std::snprintf(code, sizeof code, "%02X", failure.Exception);
    const bool gateway = failure.Exception == ExceptionGatewayPath || failure.Exception == ExceptionGatewayTarget;
    return (gateway ? "0x" + std::string(code) : "исключение " + std::string(code)) + ": " +
           LineExceptionName(failure.Exception);
}

std::string PointStatusText(const TPointState& state, std::chrono::steady_clock::time_point now)
{
    switch (state.Status) {
    case TPointStatus::Waiting: return "ожидает опроса";
    case TPointStatus::Ok: return "считано";
    case TPointStatus::Stale: {
        char age[32];
        std::snprintf(age, sizeof age, "%.1f", double(state.AgeMs(now)) / 1000);
        return "устарело на " + std::string(age) + " с: " + PointFailureText(state.Failure);
    }
    default: return PointFailureText(state.Failure);
    }
}
