#pragma once
// The sums at the bottom of the exchange monitor: requests, replies, time-outs, retransmissions,
// exceptions, and the replies' median and worst latency.

#include "ExchangeRecord.h"

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
    // -1 while no reply has come.
    double MedianLatencyMs() const;
    double WorstLatencyMs() const;

private:
    std::vector<double> Latencies;
};
