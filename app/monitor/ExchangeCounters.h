#pragma once
// The sums at the bottom of the exchange monitor: requests, replies, time-outs, retransmissions,
// exceptions, malformed frames, and the replies' median and worst latency.

#include "ExchangeRecord.h"

#include <cstdint>
#include <vector>

class TExchangeCounters {
public:
    void Add(const TExchangeRecord& record);
    void Clear();

    int Requests = 0;
    int Replies = 0;
    int Timeouts = 0;
    int Retransmissions = 0;
    int Exceptions = 0;
    int MalformedFrames = 0;
    // -1 while no reply has come.
    double MedianLatencyMs() const;
    double WorstLatencyMs() const;

private:
    void AddLatency(double ms);

    // Exact while there are few; past that, counted in buckets a thousandth of their value wide, so
    // that a watch of days takes no more memory than one of minutes.
    std::vector<double> Latencies;
    std::vector<int64_t> Buckets;
    int64_t BucketedCount = 0;
    double WorstMs = -1;
};
