#include "PointLog.h"

#include "CsvField.h"
#include "modbus.h"

#include <cstdio>

std::string PointLogHeader(std::span<const TMapPoint> points)
{
    std::string header = "time";
    for (const TMapPoint& point : points)
        header += "," + CsvField(point.Name) + "," + CsvField(point.Name + " status");
    return header;
}

std::string PointLogStatus(const TPointState& state)
{
    std::string status(PointStatusKey(state.Status));
    const auto cause = [&state] {
        if (state.Failure.Status != StatusException)
            return std::string(PointStatusKey(TPointStatus::NoAnswer));
        char code[24];
        std::snprintf(code, sizeof code, "exception 0x%02X", state.Failure.Exception);
        return std::string(code);
    };
    switch (state.Status) {
    case TPointStatus::Exception: return cause();
    case TPointStatus::Stale: return status + " (" + cause() + ")";
    default: return status;
    }
}

std::string PointLogRow(std::string_view time, std::span<const TPointState> states)
{
    std::string row(time);
    for (const TPointState& state : states) {
        row += ',';
        if (state.Status == TPointStatus::Ok && state.Value)
            row += CsvField(DeviceValueText(*state.Value));
        row += ',' + PointLogStatus(state);
    }
    return row;
}
