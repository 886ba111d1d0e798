#include "DeviceCommands.h"

#include "CliInterruption.h"
#include "CliJsonLine.h"
#include "CliReport.h"
#include "CsvField.h"
#include "DevicePoll.h"
#include "LineTimeout.h"
#include "SampleTime.h"
#include "UnitSearch.h"
#include "modbus.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point begun)
{
    return std::chrono::duration<double>(Clock::now() - begun).count();
}

int Usage(const TCliOptions& options, const std::string& message)
{
    return ReportRunFailure(options.Json, options.Command, CliFailure(TReason::Usage, message), ExitUsage);
}

// What poll and set would silently make something else of, before anything is sent: a type or order
// for bits, an order that changes nothing for a one-register type, a count that cuts a value short.
// Empty when the options hold.
std::string BrokenTypeRule(const TCliDeviceOptions& device, bool bits)
{
    const std::string type(DataTypeName(device.Type));
    const bool ordered = device.Order != TWordOrder::ABCD;
    if (bits && (device.TypeGiven || ordered))
        return "--type и --order относятся к регистрам, а не к битам (функции 1 и 2, --coil)";
    if (ordered && device.Type != TDataType::Ascii && !IsMultiRegisterType(device.Type))
        return "--order " + std::string(WordOrderName(device.Order)) + " ничего не меняет для типа " + type +
               " в одном регистре: порядок задаётся для многорегистровых типов и ascii";
    const int width = RegistersPerValue(device.Type);
    if (!bits && device.Count % width != 0)
        return "--count " + std::to_string(device.Count) + ": значение типа " + type + " занимает " +
               std::to_string(width) + " регистра, --count должен быть им кратен";
    return {};
}

// The status text, and for an exception what it means for a device on the line.
std::string FailureText(const TModuleResult& result)
{
    return "ошибка: " +
           (result.Status == StatusException ? result.Text + ": " + LineExceptionName(result.Exception) : result.Text);
}

// For the module's answer that the line failed, what to check first, as units says it; empty otherwise.
std::string LineHint(const TModuleResult& result, const std::optional<TModuleConfig>& config)
{
    return IsLineFailure(result) && config ? "Проверьте настройки каналов модуля: " + LinesSettingsText(*config)
                                           : std::string();
}

QJsonObject FailureFields(const TModuleResult& result)
{
    QJsonObject fields = FailureJson(ModuleFailure(result));
    if (fields.contains("exception_name"))
        fields.insert("exception_name", QString::fromStdString(LineExceptionName(result.Exception)));
    return fields;
}

void Merge(QJsonObject& fields, const QJsonObject& more)
{
    for (auto it = more.begin(); it != more.end(); ++it)
        fields.insert(it.key(), it.value());
}

// The raw words of a sample as people read them: registers in hex, bits as 0 and 1, each followed by
// a space.
void AppendRawWords(std::string& text, const TDeviceSample& sample)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    const bool bits = IsBitFunction(sample.Read.Function);
    const size_t at = text.size();
    text.resize(at + sample.Reply.Raw.size() * (bits ? 2 : 5));
    char* out = text.data() + at;
    for (uint16_t word : sample.Reply.Raw) {
        if (bits) {
            *out++ = word != 0 ? '1' : '0';
        } else {
            *out++ = Digits[word >> 12];
            *out++ = Digits[(word >> 8) & 0xF];
            *out++ = Digits[(word >> 4) & 0xF];
            *out++ = Digits[word & 0xF];
        }
        *out++ = ' ';
    }
}

// The decoded values of a sample: bits as they are, registers by the chosen type and order.
std::vector<TDeviceValue> SampleValues(const TDeviceRead& read, const std::vector<uint16_t>& raw,
                                       const TCliDeviceOptions& device)
{
    if (IsBitFunction(read.Function)) {
        std::vector<TDeviceValue> bits;
        for (uint16_t bit : raw)
            bits.emplace_back(bit != 0);
        return bits;
    }
    return DecodeRegisters(raw, device.Type, device.Order);
}

// A number where JSON has one that reads back as the same value: a JSON reader keeps numbers as
// doubles, so a 64-bit integer past 2^53 goes as its decimal text, as NaN and the infinities do.
QJsonValue ValueJson(const TDeviceValue& value)
{
    constexpr uint64_t ExactLimit = uint64_t(1) << 53;
    const auto text = [&value] { return QJsonValue(QString::fromStdString(DeviceValueText(value))); };
    // A handler left out does not compile; GCC names the alternative without one: "no type named
    // 'type' in 'struct std::invoke_result<TEveryAlternative<...>, const long unsigned int&>'".
    return std::visit(
        TEveryAlternative{
            [](bool bit) { return QJsonValue(bit); },
            [&](int64_t number) {
                return number >= -int64_t(ExactLimit) && number <= int64_t(ExactLimit) ? QJsonValue(qint64(number))
                                                                                       : text();
            },
            [&](uint64_t number) { return number <= ExactLimit ? QJsonValue(qint64(number)) : text(); },
            // A float32 goes by its shortest text, not by the double that holds it (230.1, not
            // 230.10000610...).
            [&](float number) { return std::isfinite(number) ? QJsonValue(text().toString().toDouble()) : text(); },
            [&](double number) { return std::isfinite(number) ? QJsonValue(number) : text(); },
            [](const std::string& chars) { return QJsonValue(QString::fromStdString(chars)); },
        },
        value);
}

// As every ms of the JSON lines: a tenth is finer than an exchange can be told apart by.
double TenthsOfMs(double ms)
{
    return std::round(ms * 10) / 10;
}

class TPollOutput {
public:
    TPollOutput(const TCliOptions& options, TCliReport& report, size_t valueCount, size_t rawCount)
        : Options_(options)
        , Report_(report)
    {
        if (!options.Device.Csv)
            return;
        std::string header = "time,host,port,unit,function,address";
        for (size_t i = 0; i < rawCount; ++i)
            header += ",raw_" + std::to_string(i);
        for (size_t i = 0; i < valueCount; ++i)
            header += ",value_" + std::to_string(i);
        Report_.Line(header + ",error");
        ValueCount_ = valueCount;
        RawCount_ = rawCount;
    }

    // hint: what to check first after this sample's failure, or empty.
    void Sample(const TModuleAddress& module, const TDeviceSample& sample, const std::string& hint)
    {
        const TDeviceReply& reply = sample.Reply;
        const std::vector<TDeviceValue> values =
            reply.Result.Ok() ? SampleValues(sample.Read, reply.Raw, Options_.Device) : std::vector<TDeviceValue>();
        const std::string& time = TimeText_(sample.Time);
        if (Options_.Device.Csv)
            Csv(module, sample, values, time);
        else if (Report_.IsJson())
            Json(module, sample, values, time, hint);
        else
            People(module, sample, values, time, hint);
    }

private:
    void Csv(const TModuleAddress& module, const TDeviceSample& sample, const std::vector<TDeviceValue>& values,
             const std::string& time)
    {
        std::string row = time + "," + module.Address + "," + std::to_string(module.Port) + "," +
                          std::to_string(sample.Read.Unit) + "," + std::to_string(sample.Read.Function) + "," +
                          std::to_string(sample.Read.Address);
        for (size_t i = 0; i < RawCount_; ++i)
            row += "," + (i < sample.Reply.Raw.size() ? std::to_string(sample.Reply.Raw[i]) : std::string());
        for (size_t i = 0; i < ValueCount_; ++i)
            row += "," + (i < values.size() ? CsvField(DeviceValueText(values[i])) : std::string());
        row += "," + (sample.Reply.Result.Ok() ? std::string() : CsvField(FailureText(sample.Reply.Result)));
        Report_.Line(row);
    }

    void Json(const TModuleAddress& module, const TDeviceSample& sample, const std::vector<TDeviceValue>& values,
              const std::string& time, const std::string& hint)
    {
        QJsonArray raw, decoded;
        for (uint16_t word : sample.Reply.Raw)
            raw.append(word);
        for (const TDeviceValue& value : values)
            decoded.append(ValueJson(value));
        QJsonObject fields{{"time", QString::fromStdString(time)},
                           {"unit", sample.Read.Unit},
                           {"function", sample.Read.Function},
                           {"address", sample.Read.Address},
                           {"raw", raw},
                           {"values", decoded}};
        const bool ok = sample.Reply.Result.Ok();
        if (!ok)
            Merge(fields, FailureFields(sample.Reply.Result));
        if (!hint.empty())
            fields.insert("hint", QString::fromStdString(hint));
        Report_.Json(ModuleLine(module, "poll", ok, sample.Reply.Ms, fields));
    }

    void People(const TModuleAddress& module, const TDeviceSample& sample, const std::vector<TDeviceValue>& values,
                const std::string& time, const std::string& hint)
    {
        const bool ok = sample.Reply.Result.Ok();
        if (ok && Options_.Quiet)
            return;
        std::string line;
        line.reserve(128);
        line.append(time).append("  ").append(module.Text()).append("  ");
        if (!ok) {
            // In the stream with the samples, in time order: a gap in the values is seen where it was.
            Report_.Line(line + FailureText(sample.Reply.Result) + (hint.empty() ? "" : ". " + hint));
            return;
        }
        AppendRawWords(line, sample);
        line += " =";
        for (const TDeviceValue& value : values) {
            line += ' ';
            AppendDeviceValueText(line, value);
        }
        Report_.Line(line);
    }

    const TCliOptions& Options_;
    TCliReport& Report_;
    size_t ValueCount_ = 0;
    size_t RawCount_ = 0;
    TSampleTimeText TimeText_;
};

// A module whose device never answered has no latency to tell, not one of 0 ms.
bool Answered(const TPollStatistics& statistics)
{
    return statistics.Replies() > 0 || !statistics.Exceptions().empty();
}

std::string LatencyText(const TPollStatistics& statistics)
{
    if (!Answered(statistics))
        return {};
    char text[128];
    std::snprintf(text, sizeof text, ", задержка: последняя %.1f мс, медиана %.1f мс, наибольшая %.1f мс",
                  statistics.LastMs(), statistics.MedianMs(), statistics.WorstMs());
    return text;
}

// The one module of set, from the first operand.
bool SingleModule(const TCliOptions& options, TModuleAddress& module, int& status)
{
    if (options.Operands.size() != 2) {
        status = Usage(options, options.Command + " ожидает адрес модуля и значение");
        return false;
    }
    if (!ParseModuleAddress(options.Operands[0], options.Port, module)) {
        status = Usage(options, "неверный адрес модуля " + options.Operands[0]);
        return false;
    }
    return true;
}

// Runs the event loop until done() holds; a first Ctrl+C calls stop(), which must lead to done().
void RunUntil(const std::function<bool()>& done, const std::function<void()>& stop)
{
    QEventLoop loop;
    TCliInterruption interruption(stop);
    while (!done())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace

int RunPoll(const TCliOptions& options, const std::vector<TModuleAddress>& modules)
{
    const TCliDeviceOptions& device = options.Device;
    if (device.Unit == 0)
        return Usage(options, "poll: не задан адрес устройства (--unit)");
    if (device.Address < 0)
        return Usage(options, "poll: не задан начальный адрес (--address)");
    if (device.Samples > 0 && device.DurationS > 0)
        return Usage(options, "poll: задайте либо --samples, либо --duration");
    const bool bits = IsBitFunction(uint8_t(device.Function));
    if (const std::string broken = BrokenTypeRule(device, bits); !broken.empty())
        return Usage(options, "poll: " + broken);
    TDeviceRead read{uint8_t(device.Unit), uint8_t(device.Function), uint16_t(device.Address),
                     uint16_t(device.Count ? device.Count
                              : bits       ? 1
                                           : RegistersPerValue(device.Type))};
    if (read.Count > MaxReadCount(read.Function))
        return Usage(options, "poll: за один запрос читается не более " + std::to_string(MaxReadCount(read.Function)) +
                                  (bits ? " битов" : " регистров"));

    TCliReport report(options.Json && !device.Csv, options.Quiet, 0);
    // Someone at a terminal sees each sample at once; a file or a pipe takes them a block at a time,
    // never more than a tenth of a second late.
    if (!isatty(STDOUT_FILENO))
        report.SetStdoutDelay(std::chrono::milliseconds(100));
    const size_t valueCount =
        bits ? read.Count : DecodeRegisters(std::vector<uint16_t>(read.Count), device.Type, device.Order).size();
    TPollOutput output(options, report, valueCount, read.Count);

    struct TPolled {
        std::unique_ptr<TModuleClient> Client;
        std::unique_ptr<TDevicePoll> Poll;
        int Samples = 0;
        bool Hinted = false;  // people are told what to check once; scripts on every line
    };
    std::vector<TPolled> polled(modules.size());
    const auto started = Clock::now();
    const auto deadline = started + std::chrono::seconds(device.DurationS);
    size_t running = modules.size();
    for (size_t i = 0; i < modules.size(); ++i) {
        TPolled& one = polled[i];
        one.Client = std::make_unique<TModuleClient>(modules[i].Address, modules[i].Port, options.Client);
        one.Poll = std::make_unique<TDevicePoll>(*one.Client);
        one.Poll->OnSample = [&, i](const TDeviceSample& sample) {
            TPolled& self = polled[i];
            std::string hint = LineHint(sample.Reply.Result, self.Poll->ModuleConfig());
            if (!hint.empty() && !report.IsJson() && std::exchange(self.Hinted, true))
                hint.clear();
            output.Sample(modules[i], sample, hint);
            ++self.Samples;
            const bool enough = (device.Samples > 0 && self.Samples >= device.Samples) ||
                                (device.DurationS > 0 && Clock::now() >= deadline);
            if (enough) {
                self.Poll->Stop();
                --running;
            }
        };
        one.Poll->Start(read, device.IntervalMs);
    }
    // A duration also ends a poll whose request is still waiting for its time-out.
    QTimer end;
    end.setSingleShot(true);
    const auto stopAll = [&] {
        for (TPolled& one : polled)
            if (one.Poll->IsRunning()) {
                one.Poll->Stop();
                --running;
            }
    };
    QObject::connect(&end, &QTimer::timeout, stopAll);
    if (device.DurationS > 0)
        end.start(std::chrono::seconds(device.DurationS));
    RunUntil([&] { return running == 0; }, stopAll);

    uint64_t replies = 0, failed = 0;
    for (const TPolled& one : polled) {
        const TPollStatistics& statistics = one.Poll->Statistics();
        replies += statistics.Replies();
        failed += statistics.Requests() - statistics.Replies();
    }
    if (report.IsJson()) {
        QJsonObject summary =
            SummaryLine({size_t(replies + failed), size_t(replies), size_t(failed), 0, {}}, Seconds(started) * 1000);
        QJsonArray latencies;
        for (size_t i = 0; i < polled.size(); ++i) {
            const TPollStatistics& statistics = polled[i].Poll->Statistics();
            QJsonObject latency{{"host", QString::fromStdString(modules[i].Address)}, {"port", modules[i].Port}};
            if (Answered(statistics)) {
                latency.insert("last_ms", TenthsOfMs(statistics.LastMs()));
                latency.insert("median_ms", TenthsOfMs(statistics.MedianMs()));
                latency.insert("worst_ms", TenthsOfMs(statistics.WorstMs()));
            }
            latencies.append(latency);
        }
        summary.insert("latency", latencies);
        report.Json(summary);
    } else if (!device.Csv) {
        std::string extra;
        if (polled.size() == 1)
            extra = LatencyText(polled.front().Poll->Statistics());
        report.Line("Итого: опросов " + std::to_string(replies + failed) + ", успешно " + std::to_string(replies) +
                    ", с ошибкой " + std::to_string(failed) + extra);
    }
    report.Flush();
    return failed == 0 ? ExitOk : ExitModuleFailed;
}

namespace {

// One module's search, and what its summary says.
struct TModuleSearch {
    std::unique_ptr<TUnitSearch> Search;
    TUnitSearchSummary Summary;
    bool Finished = false;
    size_t Unanswered = 0;
    std::vector<int> Missing;  // of --expect
    double Ms = 0;
};

std::string UnitsText(const std::vector<int>& units)
{
    std::string text;
    for (int unit : units)
        text += (text.empty() ? "" : ", ") + std::to_string(unit);
    return text;
}

QJsonArray UnitsJson(const std::vector<int>& units)
{
    QJsonArray array;
    for (int unit : units)
        array.append(unit);
    return array;
}

// The module's summary for people: "Итого: опрошено адресов ..."; with several modules each has its
// own, after its address.
void TellUnitsSummary(TCliReport& report, const TModuleAddress& module, const TModuleSearch& search, size_t total,
                      bool several)
{
    const TUnitSearchSummary& summary = search.Summary;
    const std::string prefix = several ? module.Text() + "  " : std::string();
    const std::vector<int> found(summary.Found.begin(), summary.Found.end());
    const std::string listed = UnitsText(found);
    report.Line(prefix + "Итого: опрошено адресов " + std::to_string(summary.Asked) + " из " + std::to_string(total) +
                ", найдено устройств " + std::to_string(summary.Found.size()) +
                (listed.empty() ? "" : " (" + listed + ")") + (summary.Stopped ? ", прервано" : "") +
                (search.Unanswered ? ", модуль не ответил " + std::to_string(search.Unanswered) + " раз" : ""));
    if (!search.Missing.empty())
        report.Line(prefix + "Не найдены ожидаемые устройства: " + UnitsText(search.Missing));
    if (!summary.Hint.empty())
        report.Line(prefix + "Ни одно устройство не ответило. Проверьте настройки каналов модуля: " + summary.Hint);
}

}  // namespace

int RunUnits(const TCliOptions& options, const std::vector<TModuleAddress>& modules)
{
    const TCliDeviceOptions& device = options.Device;
    const size_t total = size_t(device.LastUnit - device.FirstUnit + 1);
    const bool several = modules.size() > 1;
    TCliReport report(options.Json, options.Quiet, total * modules.size());
    std::vector<TModuleSearch> searches(modules.size());
    size_t finished = 0, asked = 0;
    const auto started = Clock::now();
    for (size_t i = 0; i < modules.size(); ++i) {
        const TModuleAddress& module = modules[i];
        TModuleSearch& search = searches[i];
        search.Search = std::make_unique<TUnitSearch>(module.Address, module.Port, options.Client);
        search.Search->OnUnit = [&, &module = module, &search = search](const TUnitResult& unit) {
            const bool moduleAnswered = unit.Outcome != TUnitOutcome::NoModuleAnswer;
            search.Unanswered += moduleAnswered ? 0 : 1;
            QJsonObject fields{{"unit", unit.Unit}, {"found", unit.Found()}};
            if (unit.Result.Status == StatusException)
                fields.insert("exception", unit.Result.Exception);
            if (report.IsJson()) {
                if (!moduleAnswered)
                    Merge(fields, FailureFields(unit.Result));
                report.Json(ModuleLine(module, "units", moduleAnswered, unit.Ms, fields));
            } else if (unit.Found()) {
                // The device's own exception says it is there, and names what it did not like in the probe.
                const std::string answer = unit.Outcome == TUnitOutcome::DeviceException
                                               ? "отвечает исключением " + std::to_string(unit.Result.Exception) +
                                                     " (" + ExceptionName(unit.Result.Exception) + ")"
                                               : std::string("отвечает");
                report.Line(module.Text() + "  устройство " + std::to_string(unit.Unit) + ": " + answer);
            }
        };
        search.Search->OnProgress = [&](size_t, size_t, std::chrono::milliseconds) { report.Progress(++asked); };
        search.Search->OnFinished = [&, &search = search](const TUnitSearchSummary& result) {
            search.Summary = result;
            search.Finished = true;
            search.Ms = Seconds(started) * 1000;
            for (int unit : device.Expect)
                if (std::find(result.Found.begin(), result.Found.end(), unit) == result.Found.end())
                    search.Missing.push_back(unit);
            ++finished;
        };
        search.Search->Start(uint8_t(device.FirstUnit), uint8_t(device.LastUnit),
                             {uint8_t(device.Function), uint16_t(device.Address < 0 ? 0 : device.Address)});
    }
    RunUntil([&] { return finished == searches.size(); },
             [&] {
                 for (TModuleSearch& search : searches)
                     search.Search->Stop();
             });

    int status = ExitOk;
    TRunCounts counts{total * modules.size(), 0, 0, 0, {}};
    for (size_t i = 0; i < modules.size(); ++i) {
        const TModuleAddress& module = modules[i];
        const TModuleSearch& search = searches[i];
        const TUnitSearchSummary& summary = search.Summary;
        if (summary.ModuleFailure) {
            const TModuleResult& failure = *summary.ModuleFailure;
            report.Module(module, "units", false, search.Ms, FailureText(failure), FailureFields(failure));
            if (!report.IsJson())
                report.Line((several ? module.Text() + "  " : std::string()) + "Итого: опрошено адресов 0 из " +
                            std::to_string(total) + ", модуль не ответил");
            counts.Interrupted += total;
            status = ExitModuleFailed;
            continue;
        }
        counts.Succeeded += summary.Asked - search.Unanswered;
        counts.Failed += search.Unanswered;
        counts.Interrupted += total - summary.Asked;
        if (search.Unanswered > 0)
            status = ExitModuleFailed;
        else if (!search.Missing.empty() && status == ExitOk)
            status = ExitNoneFound;
        const std::vector<int> found(summary.Found.begin(), summary.Found.end());
        if (report.IsJson() && several) {
            QJsonObject fields{{"found", UnitsJson(found)}, {"asked", qint64(summary.Asked)}};
            if (!device.Expect.empty())
                fields.insert("missing", UnitsJson(search.Missing));
            if (!summary.Hint.empty())
                fields.insert("hint", QString::fromStdString(summary.Hint));
            if (summary.Stopped)
                fields.insert("interrupted", true);
            report.Json(
                ModuleLine(module, "units", search.Unanswered == 0 && search.Missing.empty(), search.Ms, fields));
        } else if (!report.IsJson()) {
            TellUnitsSummary(report, module, search, total, several);
        }
    }
    if (report.IsJson()) {
        QJsonObject line = SummaryLine(counts, Seconds(started) * 1000);
        if (!several && !searches.front().Summary.ModuleFailure) {
            const TModuleSearch& search = searches.front();
            line.insert("found", UnitsJson({search.Summary.Found.begin(), search.Summary.Found.end()}));
            if (!device.Expect.empty())
                line.insert("missing", UnitsJson(search.Missing));
            if (!search.Summary.Hint.empty())
                line.insert("hint", QString::fromStdString(search.Summary.Hint));
            if (search.Summary.Stopped)
                line.insert("interrupted", true);
        }
        // Units expected and not found fail the run as its exit status does.
        if (std::any_of(searches.begin(), searches.end(), [](const TModuleSearch& s) { return !s.Missing.empty(); }))
            line.insert("ok", false);
        report.Json(line);
    }
    return status;
}

int RunSet(const TCliOptions& options)
{
    TModuleAddress module;
    int status = ExitOk;
    if (!SingleModule(options, module, status))
        return status;
    const TCliDeviceOptions& device = options.Device;
    if (device.Unit == 0)
        return Usage(options, "set: не задан адрес устройства (--unit)");
    if (device.Address < 0)
        return Usage(options, "set: не задан адрес регистра (--address)");
    if (device.Coil && device.TypeGiven)
        return Usage(options, "set: --coil и --type несовместимы");
    if (const std::string broken = BrokenTypeRule(device, device.Coil); !broken.empty())
        return Usage(options, "set: " + broken);
    const std::string& text = options.Operands[1];
    std::vector<uint16_t> words;
    if (device.Coil) {
        if (text == "1" || text == "0")
            words = {uint16_t(text == "1")};
    } else {
        words = EncodeValue(text, device.Type, device.Order);
    }
    if (words.empty())
        return Usage(options, "set: значение " + text + " не подходит для типа " +
                                  (device.Coil ? std::string("coil") : std::string(DataTypeName(device.Type))));

    TCliReport report(options.Json, options.Quiet, 1);
    TModuleClient client(module.Address, module.Port, options.Client);
    const auto unit = uint8_t(device.Unit);
    const auto address = uint16_t(device.Address);
    const uint8_t function = device.Coil         ? uint8_t(FunctionWriteSingleCoil)
                             : words.size() == 1 ? uint8_t(FunctionWriteSingleRegister)
                                                 : uint8_t(FunctionWriteMultipleRegisters);
    QJsonArray raw;
    for (uint16_t word : words)
        raw.append(word);
    QJsonObject fields{{"unit", unit},
                       {"function", function},
                       {"address", address},
                       {"raw", raw},
                       {"value", QString::fromStdString(text)}};
    bool finished = false;
    bool ok = false;
    const auto started = Clock::now();
    std::optional<TModuleConfig> lines;
    const auto tell = [&](bool success, const std::string& message, QJsonObject more) {
        Merge(fields, more);
        report.Module(module, "set", success, Seconds(started) * 1000, message, fields);
        ok = success;
        finished = true;
    };
    // A failed exchange, told with what to check first when the line failed.
    const auto fail = [&](const TModuleResult& result, const std::string& prefix, QJsonObject more) {
        Merge(more, FailureFields(result));
        const std::string hint = LineHint(result, lines);
        if (!hint.empty())
            more.insert("hint", QString::fromStdString(hint));
        tell(false, prefix + FailureText(result) + (hint.empty() ? "" : ". " + hint), more);
    };
    const auto verify = [&](const TDeviceReply& written) {
        if (!written.Result.Ok()) {
            fail(written.Result, "", {});
            return;
        }
        const TDeviceRead back{unit, device.Coil ? uint8_t(FunctionReadCoils) : uint8_t(FunctionReadHoldingRegisters),
                               address, uint16_t(words.size())};
        ReadDevice(client, back, [&](const TDeviceReply& read) {
            if (!read.Result.Ok()) {
                // The write was taken; only its check failed.
                fail(read.Result, "записано, проверка не удалась: ", {{"written", true}});
                return;
            }
            if (read.Raw != words) {
                QJsonObject more = FailureJson(CliFailure(TReason::Mismatch, "считано другое значение"));
                QJsonArray readBack;
                for (uint16_t word : read.Raw)
                    readBack.append(word);
                more.insert("read_back", readBack);
                more.insert("written", true);
                tell(false, "записано, но считано другое значение", more);
                return;
            }
            tell(true, "записано и проверено", {{"written", true}, {"verified", true}});
        });
    };
    PrepareForLines(client, [&](const TModuleResult& result, const TModuleConfig* config) {
        // The module itself did not answer: nothing was sent to the device.
        if (!result.Ok() && result.Status != StatusException) {
            fail(result, "", {});
            return;
        }
        if (config)
            lines = *config;
        if (device.Coil)
            WriteDeviceCoil(client, unit, address, words.front() != 0, verify);
        else
            WriteDeviceRegisters(client, unit, address, words, verify);
    });
    RunUntil([&] { return finished; },
             [&] {
                 client.Cancel();
                 tell(false, "прервано", FailureJson(CliFailure(TReason::Interrupted, "прервано")));
             });
    // A script reads every run to its summary line, a one-module set too; people see the line above.
    if (report.IsJson())
        report.Summary(ok ? 1 : 0, ok ? 0 : 1, Seconds(started));
    return ok ? ExitOk : ExitModuleFailed;
}

QJsonValue DeviceValueJson(const TDeviceValue& value)
{
    return ValueJson(value);
}

void RunEventsUntil(const std::function<bool()>& done, const std::function<void()>& stop)
{
    RunUntil(done, stop);
}
