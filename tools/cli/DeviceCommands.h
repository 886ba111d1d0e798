#pragma once
// The commands of korvel-cli for the devices on the modules' RS-485 lines: poll, units and set.
// Each answers the program's exit status.

#include "CliOptions.h"
#include "DataTypes.h"

#include <QJsonValue>

#include <functional>
#include <vector>

int RunPoll(const TCliOptions& options, const std::vector<TModuleAddress>& modules);
// Searches every module at once, each one unit at a time.
int RunUnits(const TCliOptions& options, const std::vector<TModuleAddress>& modules);
int RunSet(const TCliOptions& options);

// A value as the JSON lines of poll give it: a number where JSON has one, else its text.
QJsonValue DeviceValueJson(const TDeviceValue& value);
// Runs the event loop until done() holds; a first Ctrl+C calls stop(), which must lead to done().
void RunEventsUntil(const std::function<bool()>& done, const std::function<void()>& stop);
