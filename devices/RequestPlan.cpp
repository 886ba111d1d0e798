#include "RequestPlan.h"

#include <algorithm>

std::vector<TPlannedRequest> PlanRequests(std::span<const TMapPoint> points, bool acrossGaps)
{
    // The (unit, function) pairs in the order they first come.
    std::vector<std::pair<uint8_t, uint8_t>> groups;
    for (const TMapPoint& point : points)
        if (std::find(groups.begin(), groups.end(), std::pair{point.Unit, point.Function}) == groups.end())
            groups.emplace_back(point.Unit, point.Function);

    std::vector<TPlannedRequest> requests;
    for (const auto& [unit, function] : groups) {
        std::vector<size_t> members;
        for (size_t i = 0; i < points.size(); ++i)
            if (points[i].Unit == unit && points[i].Function == function)
                members.push_back(i);
        std::stable_sort(members.begin(), members.end(),
                         [&](size_t a, size_t b) { return points[a].Address < points[b].Address; });
        const unsigned gap = !acrossGaps ? 0 : IsBitFunction(function) ? MaxGapBits : MaxGapRegisters;
        const unsigned most = MaxReadCount(function);
        bool open = false;  // a request of this group is being built
        unsigned end = 0;   // one past its last bit or register
        for (size_t i : members) {
            const TMapPoint& point = points[i];
            const unsigned first = point.Address;
            const unsigned last = first + point.Width();
            if (open && first <= end + gap && std::max(end, last) - requests.back().Read.Address <= most) {
                end = std::max(end, last);
                requests.back().Read.Count = uint16_t(end - requests.back().Read.Address);
                requests.back().Points.push_back(i);
                continue;
            }
            requests.push_back({{unit, function, point.Address, point.Width()}, {i}});
            open = true;
            end = last;
        }
    }
    return requests;
}

std::vector<TPlannedRequest> SplitAtGaps(const TPlannedRequest& request, std::span<const TMapPoint> points)
{
    std::vector<TMapPoint> members;
    for (size_t point : request.Points)
        members.push_back(points[point]);
    std::vector<TPlannedRequest> parts = PlanRequests(members, false);
    for (TPlannedRequest& part : parts)
        for (size_t& point : part.Points)
            point = request.Points[point];
    return parts;
}
