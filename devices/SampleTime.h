#pragma once
// The wall-clock time of a sample as text: ISO 8601 in UTC to the millisecond
// (2026-12-07T20:12:16.541Z), as the samples are printed and exported.

#include <chrono>
#include <cstdint>
#include <string>

// Meant for sample after sample: the text of the current second is kept and only its milliseconds
// are written anew. At thousands of samples a second, formatting the whole date each time was a
// good part of a poll's own processor time.
class TSampleTimeText {
public:
    // Valid until the next call.
    const std::string& operator()(std::chrono::system_clock::time_point time);

private:
    std::string Text_;
    int64_t Second_ = 0;
};
