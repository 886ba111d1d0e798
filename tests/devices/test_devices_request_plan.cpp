// Points merged into requests: contiguous and nearly contiguous points of one unit and function go
// together up to the protocol's largest read, the rest in requests of their own.
#include "RequestPlan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// "unit function@address" with its type: 5 4@0 float32.
TMapPoint Point(uint8_t unit, uint8_t function, uint16_t address, TDataType type = TDataType::UInt16,
                uint16_t count = 1)
{
    TMapPoint point;
    point.Name = std::to_string(unit) + "/" + std::to_string(function) + "/" + std::to_string(address);
    point.Unit = unit;
    point.Function = function;
    point.Address = address;
    point.Type = type;
    point.Count = count;
    return point;
}

// A request as "u5 f4 @0 x6: 0 1 2", its points by index.
std::string Text(const TPlannedRequest& request)
{
    std::string text = "u" + std::to_string(request.Read.Unit) + " f" + std::to_string(request.Read.Function) + " @" +
                       std::to_string(request.Read.Address) + " x" + std::to_string(request.Read.Count) + ":";
    for (size_t point : request.Points)
        text += " " + std::to_string(point);
    return text;
}

std::vector<TMapPoint> Contiguous(uint8_t function, uint16_t from, int count, TDataType type)
{
    std::vector<TMapPoint> points;
    for (int i = 0; i < count; ++i)
        points.push_back(Point(1, function, uint16_t(from + i * RegistersPerValue(type)), type));
    return points;
}

}  // namespace

TEST(RequestPlan, MergesNearPointsWithinTheProtocolsLimits)
{
    using T = TDataType;
    // 62 float32 values fill 124 registers; the 63rd would make 126.
    std::string full = "u1 f3 @0 x124:";
    for (int i = 0; i < 62; ++i)
        full += " " + std::to_string(i);
    // Bits 60 apart up to 1980, then 1999 and 2000: the first 35 make 2000 bits.
    std::vector<TMapPoint> bits;
    std::string bitsRead = "u1 f2 @0 x2000:";
    for (uint16_t bit = 0; bit <= 1980; bit += 60)
        bits.push_back(Point(1, 2, bit));
    bits.push_back(Point(1, 2, 1999));
    bits.push_back(Point(1, 2, 2000));
    for (size_t i = 0; i + 1 < bits.size(); ++i)
        bitsRead += " " + std::to_string(i);
    const struct {
        const char* Name;
        std::vector<TMapPoint> Points;
        std::vector<std::string> Requests;
    } cases[] = {
        {"contiguous values of mixed widths",
         {Point(5, 4, 0, T::Float32), Point(5, 4, 2, T::Float32), Point(5, 4, 6, T::UInt32), Point(5, 4, 8),
          Point(5, 4, 10, T::Float64)},
         {"u5 f4 @0 x14: 0 1 2 3 4"}},
        {"a gap of 8 registers is read through, one of 9 is not",
         {Point(1, 3, 0), Point(1, 3, 9), Point(1, 3, 19, T::Int32)},
         {"u1 f3 @0 x10: 0 1", "u1 f3 @19 x2: 2"}},
        {"in the map's order of unit and function, by address within them",
         {Point(2, 4, 4), Point(1, 3, 8, T::Ascii, 5), Point(2, 4, 0, T::Float32), Point(1, 4, 0), Point(1, 3, 0)},
         {"u2 f4 @0 x5: 2 0", "u1 f3 @0 x13: 4 1", "u1 f4 @0 x1: 3"}},
        {"points over the same registers share them",
         {Point(1, 3, 0, T::Float32), Point(1, 3, 0), Point(1, 3, 1)},
         {"u1 f3 @0 x2: 0 1 2"}},
        {"bits: a gap of 64 read through, one of 65 not",
         {Point(1, 1, 0), Point(1, 1, 65), Point(1, 1, 131), Point(1, 2, 0)},
         {"u1 f1 @0 x66: 0 1", "u1 f1 @131 x1: 2", "u1 f2 @0 x1: 3"}},
        {"no request past 125 registers", Contiguous(3, 0, 63, T::Float32), {full, "u1 f3 @124 x2: 62"}},
        {"no request past 2000 bits", bits, {bitsRead, "u1 f2 @2000 x1: 35"}},
        {"the end of the address range", {Point(1, 3, 65534), Point(1, 3, 65535)}, {"u1 f3 @65534 x2: 0 1"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> requests;
        for (const TPlannedRequest& request : PlanRequests(c.Points))
            requests.push_back(Text(request));
        EXPECT_EQ(requests, c.Requests) << c.Name;
    }
}

// Each point is decoded from its own slice of its request's reply.
TEST(RequestPlan, SlicesStartAtEachPointsAddress)
{
    const std::vector<TMapPoint> points = {Point(1, 3, 10, TDataType::Float32), Point(1, 3, 14), Point(1, 3, 12)};
    const std::vector<TPlannedRequest> requests = PlanRequests(points);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(SliceStart(requests[0], points[0]), 0u);
    EXPECT_EQ(SliceStart(requests[0], points[1]), 4u);
    EXPECT_EQ(SliceStart(requests[0], points[2]), 2u);
}

// Split at its gaps, a request keeps its overlapping and adjoining points together.
TEST(RequestPlan, SplitsARequestAtItsGaps)
{
    const std::vector<TMapPoint> points = {Point(1, 3, 0, TDataType::Float32), Point(1, 3, 2), Point(2, 4, 0),
                                           Point(1, 3, 1), Point(1, 3, 6, TDataType::Int32)};
    const std::vector<TPlannedRequest> requests = PlanRequests(points);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(Text(requests[0]), "u1 f3 @0 x8: 0 3 1 4");
    std::vector<std::string> parts;
    for (const TPlannedRequest& part : SplitAtGaps(requests[0], points))
        parts.push_back(Text(part));
    EXPECT_EQ(parts, (std::vector<std::string>{"u1 f3 @0 x3: 0 3 1", "u1 f3 @6 x2: 4"}));
    EXPECT_EQ(SplitAtGaps(requests[1], points).size(), 1u);
}
