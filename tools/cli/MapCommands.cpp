#include "MapCommands.h"

#include "CliReport.h"
#include "DeviceCommands.h"
#include "LineTimeout.h"
#include "MapPoll.h"
#include "PointLog.h"
#include "RegisterMapFile.h"
#include "SampleTime.h"
#include "modbus.h"

#include <QJsonArray>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <memory>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int Usage(const TCliOptions& options, const std::string& message)
{
    return ReportRunFailure(options.Json, options.Command, CliFailure(TReason::Usage, message), ExitUsage);
}

double Ms(Clock::time_point begun)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - begun).count();
}

std::string ErrorsText(const std::string& fileName, const TMapReading& reading)
{
    std::string text;
    for (const TMapError& error : reading.Errors)
        text += (text.empty() ? "" : "\n") + fileName + ": " + error.Text();
    return text;
}

// A point's entry of a cycle's JSON line.
QJsonObject PointJson(const TMapPoint& point, const TPointState& state, Clock::time_point now)
{
    QJsonArray raw;
    for (uint16_t word : state.Raw(point))
        raw.append(word);
    QJsonObject fields{{"name", QString::fromStdString(point.Name)},
                       {"value", state.Value ? DeviceValueJson(*state.Value) : QJsonValue(QJsonValue::Null)},
                       {"units", QString::fromStdString(point.Units)},
                       {"status", QString::fromStdString(std::string(PointStatusKey(state.Status)))},
                       {"raw", raw}};
    if (state.Status == TPointStatus::Stale)
        fields.insert("age_ms", qint64(state.AgeMs(now)));
    if (!state.Failure.Ok()) {
        fields.insert("error", QString::fromStdString(PointFailureText(state.Failure)));
        if (state.Failure.Status == StatusException)
            fields.insert("exception", state.Failure.Exception);
    }
    return fields;
}

// "U1 = 230.1 V", "E = 5.001 kWh (устарело на 3.2 с: Нет ответа)", "F: 0x0B: устройство на линии не
// ответило".
void AppendPointText(std::string& line, const TMapPoint& point, const TPointState& state, Clock::time_point now)
{
    line += point.Name;
    if (!state.Value) {
        line += ": " + PointStatusText(state, now);
        return;
    }
    line += " = ";
    AppendDeviceValueText(line, *state.Value);
    if (!point.Units.empty())
        line += " " + point.Units;
    if (state.Status != TPointStatus::Ok)
        line += " (" + PointStatusText(state, now) + ")";
}

class TMapOutput {
public:
    TMapOutput(const TCliOptions& options, TCliReport& report, bool several)
        : Options_(options)
        , Report_(report)
        , Several_(several)
    {}

    void Header(const std::vector<TMapPoint>& points)
    {
        if (!Options_.Device.Csv)
            return;
        std::string header = PointLogHeader(points);
        if (Several_)
            header.insert(header.find(','), ",host");
        Report_.Line(header);
    }

    void Cycle(const TModuleAddress& module, const TMapPoll& poll, const TMapCycle& cycle)
    {
        const std::string& time = TimeText_(cycle.Time);
        const auto now = Clock::now();
        if (Options_.Device.Csv) {
            std::string row = PointLogRow(time, poll.States());
            if (Several_)
                row.insert(time.size(), "," + module.Text());
            Report_.Line(row);
            return;
        }
        if (Report_.IsJson()) {
            QJsonArray points;
            for (size_t i = 0; i < poll.Points().size(); ++i)
                points.append(PointJson(poll.Points()[i], poll.States()[i], now));
            Report_.Json(ModuleLine(module, "poll", cycle.Failed == 0, cycle.Ms,
                                    {{"time", QString::fromStdString(time)},
                                     {"cycle", qint64(cycle.Number)},
                                     {"requests", qint64(cycle.Requests)},
                                     {"points", points}}));
            return;
        }
        if (cycle.Failed == 0 && Options_.Quiet)
            return;
        std::string line = time + "  " + module.Text() + "  ";
        for (size_t i = 0; i < poll.Points().size(); ++i) {
            if (i > 0)
                line += "; ";
            AppendPointText(line, poll.Points()[i], poll.States()[i], now);
        }
        Report_.Line(line);
    }

private:
    const TCliOptions& Options_;
    TCliReport& Report_;
    bool Several_;
    TSampleTimeText TimeText_;
};

}  // namespace

bool LoadCliMap(const TCliOptions& options, std::vector<TMapPoint>& points, int& status)
{
    const std::string& fileName = options.Device.MapFile;
    const TMapReading reading = ReadRegisterMapFile(fileName);
    if (!reading.Ok()) {
        status = ReportRunFailure(options.Json, options.Command, CliFailure(TReason::Io, ErrorsText(fileName, reading)),
                                  ExitFileError);
        return false;
    }
    if (options.Device.Points.empty()) {
        points = reading.Map.Points;
        return true;
    }
    std::string unknown;
    for (const std::string& name : options.Device.Points) {
        const TMapPoint* point = reading.Map.Find(name);
        if (point)
            points.push_back(*point);
        else
            unknown += (unknown.empty() ? "" : ", ") + name;
    }
    if (!unknown.empty()) {
        status = Usage(options, options.Command + ": в карте " + fileName + " нет точек: " + unknown);
        return false;
    }
    return true;
}

std::vector<TPointState> PollMapOnce(TModuleClient& client, const std::vector<TMapPoint>& points)
{
    TMapPoll poll(client);
    poll.SetPoints(points);
    bool done = false;
    poll.OnCycle = [&](const TMapCycle&) { done = true; };
    // Queued first, the configuration read sets the client's wait before the poll's first request.
    PrepareForLines(client, [](const TModuleResult&, const TModuleConfig*) {});
    poll.Start(-1);
    RunEventsUntil([&] { return done; },
                   [&] {
                       poll.Stop();
                       done = true;
                   });
    return poll.States();
}

int RunMapPoll(const TCliOptions& options, const std::vector<TModuleAddress>& modules)
{
    const TCliDeviceOptions& device = options.Device;
    if (device.Unit != 0 || device.Address >= 0 || device.Count != 0 || device.TypeGiven ||
        device.Order != TWordOrder::ABCD || device.Function != FunctionReadHoldingRegisters)
        return Usage(options, "poll --map: устройства, адреса и типы точек задаёт карта; --unit, --function, "
                              "--address, --count, --type и --order с ней не применимы");
    if (device.Samples > 0 && device.DurationS > 0)
        return Usage(options, "poll: задайте либо --samples, либо --duration");
    std::vector<TMapPoint> points;
    int status = ExitOk;
    if (!LoadCliMap(options, points, status))
        return status;

    TCliReport report(options.Json && !device.Csv, options.Quiet, 0);
    // As the single-block poll: at once at a terminal, a block at a time into a file or a pipe.
    if (!isatty(STDOUT_FILENO))
        report.SetStdoutDelay(std::chrono::milliseconds(100));
    TMapOutput output(options, report, modules.size() > 1);
    output.Header(points);

    struct TPolled {
        std::unique_ptr<TModuleClient> Client;
        std::unique_ptr<TMapPoll> Poll;
    };
    std::vector<TPolled> polled(modules.size());
    uint64_t cycles = 0, failed = 0;
    double lastMs = 0, worstMs = 0;
    const auto started = Clock::now();
    const auto deadline = started + std::chrono::seconds(device.DurationS);
    size_t running = modules.size();
    const auto stop = [&](TPolled& one) {
        if (one.Poll->IsRunning())
            one.Poll->Stop();
        --running;
    };
    for (size_t i = 0; i < modules.size(); ++i) {
        TPolled& one = polled[i];
        one.Client = std::make_unique<TModuleClient>(modules[i].Address, modules[i].Port, options.Client);
        one.Poll = std::make_unique<TMapPoll>(*one.Client);
        one.Poll->SetPoints(points);
        one.Poll->OnCycle = [&, i](const TMapCycle& cycle) {
            TPolled& self = polled[i];
            output.Cycle(modules[i], *self.Poll, cycle);
            ++cycles;
            failed += cycle.Failed > 0 ? 1 : 0;
            lastMs = cycle.Ms;
            worstMs = std::max(worstMs, cycle.Ms);
            if (!self.Poll->IsRunning() || (device.DurationS > 0 && Clock::now() >= deadline))
                stop(self);
        };
        PrepareForLines(*one.Client, [](const TModuleResult&, const TModuleConfig*) {});
        one.Poll->Start(device.IntervalMs, uint64_t(device.Samples));
    }
    const auto stopAll = [&] {
        for (TPolled& one : polled)
            if (one.Poll->IsRunning())
                stop(one);
    };
    // A duration also ends a cycle still waiting for a time-out.
    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&end, &QTimer::timeout, stopAll);
    if (device.DurationS > 0)
        end.start(std::chrono::seconds(device.DurationS));
    RunEventsUntil([&] { return running == 0; }, stopAll);

    const size_t perCycle = polled.empty() ? 0 : polled.front().Poll->Requests().size();
    if (report.IsJson()) {
        QJsonObject summary =
            SummaryLine({size_t(cycles), size_t(cycles - failed), size_t(failed), 0, {}}, Ms(started));
        summary.insert("cycles", qint64(cycles));
        summary.insert("requests_per_cycle", qint64(perCycle));
        summary.insert("last_cycle_ms", std::round(lastMs * 10) / 10);
        summary.insert("worst_cycle_ms", std::round(worstMs * 10) / 10);
        report.Json(summary);
    } else if (!device.Csv) {
        char times[96];
        std::snprintf(times, sizeof times, ", цикл: последний %.1f мс, наибольший %.1f мс", lastMs, worstMs);
        report.Line("Итого: циклов " + std::to_string(cycles) + ", успешно " + std::to_string(cycles - failed) +
                    ", с ошибкой " + std::to_string(failed) + ", запросов за цикл " + std::to_string(perCycle) + times);
    }
    report.Flush();
    return failed == 0 ? ExitOk : ExitModuleFailed;
}

int RunMapCheck(const TCliOptions& options)
{
    if (options.Operands.size() != 2 || options.Operands[0] != "check")
        return Usage(options, "map: ожидается map check ФАЙЛ");
    const auto started = Clock::now();
    const std::string& fileName = options.Operands[1];
    const TMapReading reading = ReadRegisterMapFile(fileName);
    const std::vector<TPlannedRequest> requests =
        reading.Ok() ? PlanRequests(reading.Map.Points) : std::vector<TPlannedRequest>();
    TCliReport report(options.Json, options.Quiet, 0);
    if (report.IsJson()) {
        QJsonArray errors, notes, planned;
        for (const TMapError& error : reading.Errors)
            errors.append(QJsonObject{{"line", error.Line},
                                      {"column", QString::fromStdString(error.Column)},
                                      {"reason", QString::fromStdString(error.Reason)},
                                      {"message", QString::fromStdString(error.Text())}});
        for (const std::string& note : reading.Notes)
            notes.append(QString::fromStdString(note));
        for (const TPlannedRequest& request : requests)
            planned.append(QJsonObject{{"unit", request.Read.Unit},
                                       {"function", request.Read.Function},
                                       {"address", request.Read.Address},
                                       {"count", request.Read.Count},
                                       {"points", qint64(request.Points.size())}});
        report.Json(RunLine("map", reading.Ok(), Ms(started),
                            {{"file", QString::fromStdString(fileName)},
                             {"points", qint64(reading.Ok() ? reading.Map.Points.size() : 0)},
                             {"requests", planned},
                             {"errors", errors},
                             {"notes", notes}}));
        report.Summary(reading.Ok() ? 1 : 0, reading.Ok() ? 0 : 1, Ms(started) / 1000);
        return reading.Ok() ? ExitOk : ExitFileError;
    }
    for (const TMapError& error : reading.Errors)
        report.Line(fileName + ": " + error.Text());
    for (const std::string& note : reading.Notes)
        report.Line(fileName + ": замечание: " + note);
    if (!reading.Ok()) {
        report.Line("Итого: ошибок " + std::to_string(reading.Errors.size()) + ", карта не принята");
        return ExitFileError;
    }
    report.Line(fileName + ": точек " + std::to_string(reading.Map.Points.size()) + ", запросов за цикл " +
                std::to_string(requests.size()));
    for (const TPlannedRequest& request : requests) {
        const unsigned last = request.Read.Address + request.Read.Count - 1u;
        report.Line("  устройство " + std::to_string(request.Read.Unit) + ", " +
                    std::string(MapFunctionName(request.Read.Function)) + " " + std::to_string(request.Read.Address) +
                    ".." + std::to_string(last) + ": точек " + std::to_string(request.Points.size()));
    }
    return ExitOk;
}
