#pragma once
// What polling a device has met: requests, replies, time-outs, exceptions by code, other failures,
// and the latency of the answers (last, median, worst).

#include "DeviceRequests.h"

#include <cstdint>
#include <map>
#include <vector>

class TPollStatistics {
public:
    // The median is taken over this many of the latest answers, so that a poll running for days
    // keeps a bounded memory.
    static constexpr size_t MedianWindow = 1024;

    void Count(const TDeviceReply& reply);
    void Clear() { *this = TPollStatistics(); }

    uint64_t Requests() const { return Requests_; }
    uint64_t Replies() const { return Replies_; }  // answers with data
    uint64_t Timeouts() const { return Timeouts_; }
    uint64_t Failures() const { return Failures_; }  // malformed replies and refused requests
    const std::map<uint8_t, uint64_t>& Exceptions() const { return Exceptions_; }

    // Of the answers, with or without an exception; 0 before the first.
    double LastMs() const { return LastMs_; }
    double MedianMs() const;
    double WorstMs() const { return WorstMs_; }

private:
    uint64_t Requests_ = 0;
    uint64_t Replies_ = 0;
    uint64_t Timeouts_ = 0;
    uint64_t Failures_ = 0;
    std::map<uint8_t, uint64_t> Exceptions_;
    double LastMs_ = 0;
    double WorstMs_ = 0;
    std::vector<double> Latest_;  // a ring of the latest latencies
    size_t Next_ = 0;
};
