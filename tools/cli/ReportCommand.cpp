#include "ReportCommand.h"

#include "CliJsonLine.h"
#include "CliOutcome.h"
#include "CliReport.h"
#include "ConfigFileCheck.h"
#include "ConfigVerdict.h"
#include "DeviceCommands.h"
#include "MapCommands.h"
#include "ReportFile.h"
#include "UnitSearch.h"

#include <QEventLoop>
#include <QFileInfo>

#include <chrono>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;

const std::string Command = "report";

int Usage(const TCliOptions& options, const std::string& message)
{
    return ReportRunFailure(options.Json, Command, CliFailure(TReason::Usage, message), ExitUsage);
}

double Ms(Clock::time_point begun)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - begun).count();
}

// Reads the module's information, then its configuration, into report; the first failure ends it.
TModuleResult ReadModule(const TModuleAddress& module, const TModuleClientOptions& options,
                         TCommissioningReport& report)
{
    TModuleClient client(module.Address, module.Port, options);
    QEventLoop loop;
    TModuleResult outcome;
    client.ReadInfo([&](const TModuleResult& result, const TModuleInfo& info) {
        if (!result.Ok()) {
            outcome = result;
            loop.quit();
            return;
        }
        report.Module.Info = info;
        client.ReadConfig([&](const TModuleResult& result, const TModuleConfig& config) {
            outcome = result;
            if (result.Ok()) {
                report.Config = config;
                report.Module.Verdict = ChecksumValid(config) ? TReportVerdict::ReadValid : TReportVerdict::ReadDamaged;
                report.Module.Checked = config;
                report.Module.CheckedAt = QDateTime::currentDateTime();
            }
            loop.quit();
        });
    });
    loop.exec();
    report.Module.Connection = ReportConnectionText(QString::fromStdString(module.Address), module.Port,
                                                    options.TimeoutMs, options.Transmissions);
    return outcome;
}

// The units the search over --units found on the module's lines.
std::vector<uint8_t> FoundUnits(const TCliOptions& options, const TModuleAddress& module)
{
    TUnitSearch search(module.Address, module.Port, options.Client);
    std::optional<TUnitSearchSummary> summary;
    search.OnFinished = [&](const TUnitSearchSummary& result) { summary = result; };
    search.Start(uint8_t(options.Device.FirstUnit), uint8_t(options.Device.LastUnit), {});
    RunEventsUntil([&] { return summary.has_value(); }, [&] { search.Stop(); });
    return summary->Found;
}

// The section "Устройства на линии": the search, if asked, then one cycle of the map.
TReportDevices DevicesOnLines(const TCliOptions& options, const TModuleAddress& module,
                              const std::vector<TMapPoint>& points)
{
    TReportDevices devices;
    if (options.Device.UnitsGiven) {
        devices.FoundUnits = FoundUnits(options, module);
        devices.SearchRange = QStringLiteral("%1-%2").arg(options.Device.FirstUnit).arg(options.Device.LastUnit);
    }
    devices.MapFile = QFileInfo(QString::fromStdString(options.Device.MapFile)).absoluteFilePath();
    devices.Points = points;
    TModuleClient client(module.Address, module.Port, options.Client);
    devices.States = PollMapOnce(client, points);
    devices.At = Clock::now();
    return devices;
}

int ModuleReport(const TCliOptions& options, const TModuleAddress& module)
{
    const auto begun = Clock::now();
    std::vector<TMapPoint> points;
    int status = ExitOk;
    if (!options.Device.MapFile.empty() && !LoadCliMap(options, points, status))
        return status;
    TCliReport lines(options.Json, options.Quiet, 1);
    const auto tell = [&](bool ok, const std::string& text, const QJsonObject& fields, int status) {
        lines.Module(module, Command, ok, Ms(begun), text, fields);
        // A script reads every run to its summary line; people have the line above.
        if (lines.IsJson())
            lines.Summary(ok ? 1 : 0, ok ? 0 : 1, Ms(begun) / 1000);
        return status;
    };
    TCommissioningReport report;
    const TModuleResult result = ReadModule(module, options.Client, report);
    if (!result.Ok()) {
        const TCliFailure failure = ModuleFailure(result);
        return tell(false, "ошибка: " + failure.Text, FailureJson(failure), ExitModuleFailed);
    }
    if (!options.Device.MapFile.empty())
        report.Devices = DevicesOnLines(options, module, points);
    report.Made = QDateTime::currentDateTime();
    QString error;
    if (!SaveReport(report, QString::fromStdString(options.Output), error)) {
        const TCliFailure failure = CliFailure(TReason::Io, error.toStdString());
        return tell(false, "ошибка: " + failure.Text, FailureJson(failure), ExitFileError);
    }
    return tell(true, "отчёт сохранён в " + options.Output, {{"file", QString::fromStdString(options.Output)}}, ExitOk);
}

int FileReport(const TCliOptions& options, const std::string& fileName)
{
    const auto begun = Clock::now();
    TCheckedConfig checked;
    std::string error;
    if (LoadCheckedConfig(fileName, checked, error) != TConfigFileState::Ok)
        return ReportRunFailure(options.Json, Command, CliFailure(TReason::Io, error), ExitFileError);
    TCommissioningReport report;
    report.Config = checked.Config;
    // Named as the window's caption names an opened file: by its full path.
    report.FileName = QFileInfo(QString::fromStdString(fileName)).absoluteFilePath();
    report.Made = QDateTime::currentDateTime();
    QString saveError;
    if (!SaveReport(report, QString::fromStdString(options.Output), saveError))
        return ReportRunFailure(options.Json, Command, CliFailure(TReason::Io, saveError.toStdString()), ExitFileError);
    TCliReport lines(options.Json, options.Quiet, 0);
    if (lines.IsJson()) {
        lines.Json(RunLine(Command, true, Ms(begun), {{"file", QString::fromStdString(options.Output)}}));
        lines.Summary(0, 0, Ms(begun) / 1000);
    } else {
        lines.Line("отчёт сохранён в " + options.Output);
    }
    return ExitOk;
}

}  // namespace

int RunReport(const TCliOptions& options)
{
    if (options.Operands.size() != 1)
        return Usage(options, "report ожидает один модуль или один файл конфигурации");
    if (options.Output.empty())
        return Usage(options, "report: не задан файл отчёта (-o ОТЧЁТ.pdf или -o ОТЧЁТ.html)");
    if (ReportFormatOf(QString::fromStdString(options.Output)) == TReportFormat::Unknown)
        return Usage(options, "report: формат отчёта задаётся расширением файла -o: .pdf или .html");
    TModuleAddress module;
    if (ParseModuleAddress(options.Operands[0], options.Port, module))
        return ModuleReport(options, module);
    if (!options.Device.MapFile.empty() || options.Device.UnitsGiven)
        return Usage(options, "report: --map и --units опрашивают устройства через модуль, а задан файл");
    return FileReport(options, options.Operands[0]);
}
