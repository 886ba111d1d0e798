#pragma once
// The commands of korvel-cli for register maps: poll HOST... --map FILE, which polls the map's
// points in cycles on every module at once, and map check FILE. Each answers the exit status.

#include "CliOptions.h"
#include "PointState.h"

#include <vector>

int RunMapPoll(const TCliOptions& options, const std::vector<TModuleAddress>& modules);
int RunMapCheck(const TCliOptions& options);

// The points of --map, those of --points only when given (in its order); false after telling every
// error of the file (exit 4) or the names the map has not (exit 2), with the status in status.
bool LoadCliMap(const TCliOptions& options, std::vector<TMapPoint>& points, int& status);
// One cycle of the points through the client; Ctrl+C ends it with the states as they are.
std::vector<TPointState> PollMapOnce(TModuleClient& client, const std::vector<TMapPoint>& points);
