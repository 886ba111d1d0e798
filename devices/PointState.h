#pragma once
// What is known of a map point after a poll cycle: the value of its last good read with its raw
// registers and when it was read, and how its latest read ended. A point whose latest read failed
// but that was read before is stale: its last good value is kept with its age, never as current.

#include "ModuleClient.h"
#include "RegisterMap.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class TPointStatus : uint8_t {
    Waiting,    // not read yet
    Ok,         // read in the latest cycle
    NoAnswer,   // the module did not answer (or answered malformed), nothing read before
    Exception,  // answered with an exception, nothing read before
    Stale,      // the latest read failed; Value is the last good one
};

struct TPointState {
    TPointStatus Status = TPointStatus::Waiting;
    std::optional<TDeviceValue> Value;  // current when Ok, the last good one when Stale
    // The registers (bits) of the last good read from the point's address to the end of its request,
    // so that the point can be decoded anew when its type grows within what was read.
    std::vector<uint16_t> Kept;
    std::chrono::system_clock::time_point GoodTime;  // when the last good read was asked
    std::chrono::steady_clock::time_point GoodClock;
    TModuleResult Failure;  // of the latest read, when it failed

    // The point's own registers (bits) of the last good read.
    std::vector<uint16_t> Raw(const TMapPoint& point) const;
    int64_t AgeMs(std::chrono::steady_clock::time_point now) const;

    // Takes the reply to the point's request: slice is the point's part of it onwards.
    void Read(const TMapPoint& point, std::span<const uint16_t> slice, std::chrono::system_clock::time_point time,
              std::chrono::steady_clock::time_point clock);
    void Fail(const TModuleResult& failure);
    // The value anew from the kept registers after the point's type, order or scaling changed;
    // none when what was kept does not cover it (a type wider than was read).
    void Decode(const TMapPoint& point);

private:
    void Settle();
};

// ok, waiting, no_answer, exception, stale: the words of the JSON lines and of the CSV log.
std::string_view PointStatusKey(TPointStatus status);
// The state as people read it: "считано", "ожидает опроса", how the latest read failed, or for a
// stale value "устарело на 12.3 с: Нет ответа".
std::string PointStatusText(const TPointState& state, std::chrono::steady_clock::time_point now);
// How the latest read failed, as people read it: "нет ответа", "исключение 02: недопустимый адрес
// данных", "0x0B: устройство на линии не ответило".
std::string PointFailureText(const TModuleResult& failure);
