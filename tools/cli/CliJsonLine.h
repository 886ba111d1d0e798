#pragma once
// The shape of every line korvel-cli prints with --json. Each has host, port, command, ok and ms;
// host and port are null on a line that concerns no one module (the summary, a usage or file
// error). A failure adds status, reason and error, and exception with exception_name when the
// module answered with a Modbus exception.

#include "CliOutcome.h"
#include "ModuleAddress.h"

#include <QJsonObject>

#include <optional>
#include <string>

QJsonObject ModuleLine(const TModuleAddress& module, const std::string& command, bool ok, double ms,
                       QJsonObject fields = {});
QJsonObject RunLine(const std::string& command, bool ok, double ms, QJsonObject fields = {});
QJsonObject FailureJson(const TCliFailure& failure);
// The last line of a run: how many modules, how many succeeded and failed, and for commands that
// write, how many were changed.
QJsonObject SummaryLine(size_t total, size_t succeeded, size_t failed, std::optional<size_t> changed, double ms);
