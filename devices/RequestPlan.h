#pragma once
// Reads the points of a register map in as few requests as the protocol allows: points of one unit
// and function whose registers (or bits) follow each other, or are apart by at most a small gap, go
// in one request of at most 125 registers or 2000 bits; each point is then decoded from its slice.

#include "RegisterMap.h"

#include <cstdint>
#include <span>
#include <vector>

// Registers (bits) between two points that are read and thrown away rather than asked for in a
// request of their own: on a line, a request costs its turn-around and two frame headers, far more
// than 8 registers (16 bytes) or 64 bits (8 bytes) of a reply.
inline constexpr uint16_t MaxGapRegisters = 8;
inline constexpr uint16_t MaxGapBits = 64;

struct TPlannedRequest {
    TDeviceRead Read;
    std::vector<size_t> Points;  // indices into the points planned, by address
};

// Requests grouped by unit and function in the order each pair first comes in the points, and by
// address within a group. acrossGaps false reads no register (bit) that no point takes.
std::vector<TPlannedRequest> PlanRequests(std::span<const TMapPoint> points, bool acrossGaps = true);

// The request planned again without reading through its gaps, for a device that does not serve the
// registers between its points (it answers the whole request with exception 02); the request alone
// when it has no gap.
std::vector<TPlannedRequest> SplitAtGaps(const TPlannedRequest& request, std::span<const TMapPoint> points);

// Where the point's bits or registers start in the reply to its request.
inline size_t SliceStart(const TPlannedRequest& request, const TMapPoint& point)
{
    return size_t(point.Address - request.Read.Address);
}
