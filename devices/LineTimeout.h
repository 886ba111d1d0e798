#pragma once
// How long a request to a unit behind the module is waited for. The module asks its line and waits
// there up to its channel's TIMEOUT before it answers 0x0B itself; a client that gives up sooner
// takes that answer for the module's silence, blames the network, and its retransmissions queue
// behind the request still on the line. So a request to a unit waits at least the longest TIMEOUT of
// the module's master channels with room for the answer to travel, the module's configuration read
// once for a run.

#include "ModuleClient.h"

#include <functional>
#include <string>

// Room over the module's own time-out for its answer to travel and be judged.
inline constexpr int ModuleAnswerRoomMs = 200;

// options with a wait no shorter than the module's longest line time-out and the room.
TModuleClientOptions LineClientOptions(const TModuleConfig& config, TModuleClientOptions options);

// The client waits as LineClientOptions says from its next request on.
void WaitForLines(TModuleClient& client, const TModuleConfig& config);
// Reads the module's configuration through client and, when it came, WaitForLines (the client's times
// stay otherwise). done is told the read's result and the configuration, null unless it was read.
void PrepareForLines(TModuleClient& client, std::function<void(const TModuleResult&, const TModuleConfig*)> done);

// The module's own answer that the device did not answer on the line (0x0B) or that it has no path
// to the line (0x0A): then the channels' role and serial settings are the first thing to check.
bool IsLineFailure(const TModuleResult& result);

// Both channels' role and serial settings: "Канал 1: Ведущий, Скорость 19200, Паритет EVEN,
// Стоп-биты 2; Канал 2: ...".
std::string LinesSettingsText(const TModuleConfig& config);
