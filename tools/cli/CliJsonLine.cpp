#include "CliJsonLine.h"

#include "modbus.h"

#include <QtMath>

namespace {

// A tenth of a millisecond is finer than any exchange can be told apart by.
double RoundedMs(double ms)
{
    return double(qRound64(ms * 10)) / 10;
}

QJsonObject Line(QJsonValue host, QJsonValue port, const std::string& command, bool ok, double ms, QJsonObject fields)
{
    fields.insert("host", host);
    fields.insert("port", port);
    fields.insert("command", QString::fromStdString(command));
    fields.insert("ok", ok);
    fields.insert("ms", RoundedMs(ms));
    return fields;
}

}  // namespace

QJsonObject ModuleLine(const TModuleAddress& module, const std::string& command, bool ok, double ms, QJsonObject fields)
{
    return Line(QString::fromStdString(module.Address), module.Port, command, ok, ms, std::move(fields));
}

QJsonObject RunLine(const std::string& command, bool ok, double ms, QJsonObject fields)
{
    return Line(QJsonValue::Null, QJsonValue::Null, command, ok, ms, std::move(fields));
}

QJsonObject FailureJson(const TCliFailure& failure)
{
    QJsonObject fields{{"status", failure.Status},
                       {"reason", ReasonWord(failure.Reason)},
                       {"error", QString::fromStdString(failure.Text)}};
    if (failure.Reason == TReason::Exception || failure.Reason == TReason::GatewayPath ||
        failure.Reason == TReason::GatewayTarget) {
        fields.insert("exception", failure.Exception);
        fields.insert("exception_name", QString::fromStdString(ExceptionName(failure.Exception)));
    }
    return fields;
}

QJsonObject SummaryLine(const TRunCounts& counts, double ms)
{
    QJsonObject fields{{"total", qint64(counts.Total)},
                       {"succeeded", qint64(counts.Succeeded)},
                       {"failed", qint64(counts.Failed)},
                       {"interrupted", qint64(counts.Interrupted)}};
    if (counts.Changed)
        fields.insert("changed", qint64(*counts.Changed));
    return RunLine("summary", counts.Failed == 0 && counts.Interrupted == 0, ms, fields);
}
