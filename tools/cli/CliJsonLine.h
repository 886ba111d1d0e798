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
// What the last line of a run counts: every module of the run is one of succeeded, failed or
// interrupted (not done because the run was stopped); commands that write count the changed too.
struct TRunCounts {
    size_t Total = 0;
    size_t Succeeded = 0;
    size_t Failed = 0;
    size_t Interrupted = 0;
    std::optional<size_t> Changed;
};

QJsonObject SummaryLine(const TRunCounts& counts, double ms);
