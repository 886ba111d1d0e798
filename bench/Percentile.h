#pragma once

#include <algorithm>
#include <vector>

// The value a fraction of the way through the sorted values, 0 when there are none.
inline double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(fraction * double(values.size() - 1) + 0.5))];
}
