#include "ExchangeCounters.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

// Latencies kept exact before they go into buckets: 512 KiB.
constexpr size_t ExactLatencies = 65536;
// Buckets are whole microseconds up to twice this, then this many to each doubling.
constexpr int64_t SubBuckets = 1024;
constexpr int SubBucketBits = 10;
// Beyond about 19 hours every latency is counted in the last bucket.
constexpr int64_t LongestMicroseconds = (int64_t(1) << 36) - 1;
constexpr int BucketCount = int(2 * SubBuckets + (36 - SubBucketBits - 1) * SubBuckets);

int BucketOf(double ms)
{
    const int64_t us = std::clamp<int64_t>(std::llround(ms * 1000), 0, LongestMicroseconds);
    if (us < 2 * SubBuckets)
        return int(us);
    const int shift = int(std::bit_width(uint64_t(us))) - SubBucketBits - 1;
    return int(2 * SubBuckets + (shift - 1) * SubBuckets + ((us >> shift) - SubBuckets));
}

double BucketMiddleMs(int bucket)
{
    if (bucket < 2 * SubBuckets)
        return double(bucket) / 1000;
    const int shift = int((bucket - 2 * SubBuckets) / SubBuckets) + 1;
    const int64_t low = ((bucket - 2 * SubBuckets) % SubBuckets + SubBuckets) << shift;
    return (double(low) + double(int64_t(1) << shift) / 2) / 1000;
}

}  // namespace

void TExchangeCounters::Add(const TExchangeRecord& record)
{
    switch (record.Direction) {
    case TExchangeDirection::Request: ++Requests; break;
    case TExchangeDirection::Reply:
        ++Replies;
        if (record.IsException)
            ++Exceptions;
        if (record.IsMalformed)
            ++MalformedFrames;
        if (record.LatencyMs >= 0)
            AddLatency(record.LatencyMs);
        break;
    case TExchangeDirection::Event:
        if (record.Event == TExchangeEvent::Timeout)
            ++Timeouts;
        else if (record.Event == TExchangeEvent::Retransmission)
            ++Retransmissions;
        break;
    }
}

void TExchangeCounters::AddLatency(double ms)
{
    WorstMs = std::max(WorstMs, ms);
    if (Buckets.empty() && Latencies.size() < ExactLatencies) {
        Latencies.push_back(ms);
        return;
    }
    if (Buckets.empty()) {
        Buckets.assign(BucketCount, 0);
        for (const double exact : Latencies)
            ++Buckets[size_t(BucketOf(exact))];
        BucketedCount = int64_t(Latencies.size());
        std::vector<double>().swap(Latencies);
    }
    ++Buckets[size_t(BucketOf(ms))];
    ++BucketedCount;
}

void TExchangeCounters::Clear()
{
    *this = TExchangeCounters();
}

double TExchangeCounters::MedianLatencyMs() const
{
    if (!Buckets.empty()) {
        // The middle one or two of all the latencies counted, found by walking the buckets once.
        const int64_t lowerRank = (BucketedCount - 1) / 2, upperRank = BucketedCount / 2;
        double lower = -1;
        int64_t below = 0;
        for (int bucket = 0; bucket < BucketCount; ++bucket) {
            below += Buckets[size_t(bucket)];
            if (lower < 0 && below > lowerRank)
                lower = BucketMiddleMs(bucket);
            if (below > upperRank)
                return (lower + BucketMiddleMs(bucket)) / 2;
        }
        return lower;
    }
    if (Latencies.empty())
        return -1;
    std::vector<double> sorted = Latencies;
    const auto middle = sorted.begin() + std::ptrdiff_t(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    if (sorted.size() % 2 != 0)
        return *middle;
    // An even count: the mean of the two middle values.
    const double upper = *middle;
    const double lower = *std::max_element(sorted.begin(), middle);
    return (lower + upper) / 2;
}

double TExchangeCounters::WorstLatencyMs() const
{
    return WorstMs;
}
