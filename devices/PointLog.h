#pragma once
// The CSV log of a map's poll, one row a cycle, as the window writes it to its file and korvel-cli
// prints it with --csv:
//   time,<name>,<name> status,<name>,<name> status ...
// time as the samples are printed (ISO 8601 UTC to the millisecond); a point's value only when it
// was read in that cycle, its status ok, waiting, no_answer, exception 0x02, or stale (with the
// cause: "stale (no_answer)"): a value that was not read is never written as if it were.

#include "PointState.h"

#include <span>
#include <string>
#include <string_view>

// The header and the rows, without their line ends.
std::string PointLogHeader(std::span<const TMapPoint> points);
std::string PointLogRow(std::string_view time, std::span<const TPointState> states);
// The status cell of a point.
std::string PointLogStatus(const TPointState& state);
