#include "SampleTime.h"

#include <cstdio>
#include <ctime>

const std::string& TSampleTimeText::operator()(std::chrono::system_clock::time_point time)
{
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const int64_t second = ms / 1000 - (ms % 1000 < 0 ? 1 : 0);
    if (Text_.empty() || second != Second_) {
        const auto whole = time_t(second);
        tm utc{};
        gmtime_r(&whole, &utc);
        char text[64];  // room for any int the fields may hold, as the compiler counts
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.000Z", utc.tm_year + 1900, utc.tm_mon + 1,
                      utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
        Text_ = text;
        Second_ = second;
    }
    const auto milliseconds = int(ms - second * 1000);
    char* digits = Text_.data() + Text_.size() - 4;  // before the Z
    digits[0] = char('0' + milliseconds / 100);
    digits[1] = char('0' + milliseconds / 10 % 10);
    digits[2] = char('0' + milliseconds % 10);
    return Text_;
}
