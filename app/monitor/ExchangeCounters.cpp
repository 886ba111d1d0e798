#include "ExchangeCounters.h"

#include <algorithm>

void TExchangeCounters::Add(const TExchangeRecord& record)
{
    switch (record.Direction) {
    case TExchangeDirection::Request: ++Requests; break;
    case TExchangeDirection::Reply:
        ++Replies;
        if (record.IsException)
            ++Exceptions;
        if (record.LatencyMs >= 0)
            Latencies.push_back(record.LatencyMs);
        break;
    case TExchangeDirection::Event:
        if (record.Event == TExchangeEvent::Timeout)
            ++Timeouts;
        else if (record.Event == TExchangeEvent::Retransmission)
            ++Retransmissions;
        break;
    }
}

void TExchangeCounters::Clear()
{
    *this = TExchangeCounters();
}

double TExchangeCounters::MedianLatencyMs() const
{
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
    return Latencies.empty() ? -1 : *std::max_element(Latencies.begin(), Latencies.end());
}
