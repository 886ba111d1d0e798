#include "PollStatistics.h"

#include "modbus.h"

#include <algorithm>

void TPollStatistics::Count(const TDeviceReply& reply)
{
    ++Requests_;
    const int status = reply.Result.Status;
    if (status == StatusOk)
        ++Replies_;
    else if (status == StatusException)
        ++Exceptions_[reply.Result.Exception];
    else if (status == StatusNoReply)
        ++Timeouts_;
    else
        ++Failures_;
    if (status != StatusOk && status != StatusException)
        return;
    LastMs_ = reply.Ms;
    WorstMs_ = std::max(WorstMs_, reply.Ms);
    if (Latest_.size() < MedianWindow)
        Latest_.push_back(reply.Ms);
    else
        Latest_[Next_] = reply.Ms;
    Next_ = (Next_ + 1) % MedianWindow;
}

double TPollStatistics::MedianMs() const
{
    if (Latest_.empty())
        return 0;
    std::vector<double> sorted = Latest_;
    const size_t middle = sorted.size() / 2;
    std::nth_element(sorted.begin(), sorted.begin() + ptrdiff_t(middle), sorted.end());
    if (sorted.size() % 2 == 1)
        return sorted[middle];
    const double upper = sorted[middle];
    return (upper + *std::max_element(sorted.begin(), sorted.begin() + ptrdiff_t(middle))) / 2;
}
