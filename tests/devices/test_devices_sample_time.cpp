// The time of a sample as text, checked against Qt's own ISO 8601 text for the same instant, in
// orders that keep, change and go back on the second the text holds.

#include "SampleTime.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using std::chrono::milliseconds;
using std::chrono::system_clock;

std::string QtText(int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs).toStdString();
}

system_clock::time_point At(int64_t ms)
{
    return system_clock::time_point(milliseconds(ms));
}

constexpr int64_t Noon = 1796644336000;  // 2026-12-07T11:52:16.000Z

}  // namespace

TEST(SampleTime, MatchesQtsIsoTextWhateverTheOrderOfTheSamples)
{
    const std::vector<int64_t> sequence = {
        Noon,               // the first
        Noon + 1,           // the same second
        Noon + 999,         // its last millisecond
        Noon + 1000,        // the next second
        Noon + 999,         // back again
        Noon + 86'400'000,  // a day later, the same time of day
        0,                  // the epoch
        -1,                 // the millisecond before it
        946'684'799'999,    // the last of 1999
        946'684'800'000,    // the first of 2000
        951'825'600'123,    // a 29th of February
    };
    TSampleTimeText text;
    for (int64_t ms : sequence)
        EXPECT_EQ(text(At(ms)), QtText(ms)) << ms;
}

TEST(SampleTime, MicrosecondsAreCutNotRounded)
{
    TSampleTimeText text;
    EXPECT_EQ(text(At(Noon) + std::chrono::microseconds(999'999)), QtText(Noon + 999));
}

TEST(SampleTime, AgreesWithQtOverAThousandRandomInstants)
{
    std::mt19937_64 random(7);
    std::uniform_int_distribution<int64_t> instant(0, 4'102'444'799'999);  // up to the end of 2099
    TSampleTimeText text;
    for (int i = 0; i < 1000; ++i) {
        const int64_t ms = instant(random);
        ASSERT_EQ(text(At(ms)), QtText(ms)) << ms;
    }
}
