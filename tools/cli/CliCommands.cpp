#include "CliCommands.h"

#include "BatchedSave.h"
#include "CliInterruption.h"
#include "CliJsonLine.h"
#include "CliReport.h"
#include "ConfigFileCheck.h"
#include "ConfigVerdict.h"
#include "FleetRunner.h"
#include "ModuleInfo.h"
#include "WholeFile.h"
#include "modbus.h"

#include <QDir>
#include <QFileInfo>

#include <chrono>
#include <cstdio>
#include <functional>

namespace {

using Clock = std::chrono::steady_clock;

const std::string NoVerifyText = "записана";

// How long a configuration read waits for others to be saved with it: a fleet on a fast network
// costs one flush of the disk, a slow one a flush per this much time, and no module's line waits
// longer than this after its answer.
constexpr std::chrono::milliseconds SaveBatchWait{100};

struct TTally {
    size_t Succeeded = 0;
    size_t Failed = 0;
    void Count(bool ok) { ++(ok ? Succeeded : Failed); }
};

std::string InfoText(const TModuleInfo& info)
{
    return "версия " + FirmwareText(info) + "  MAC " + MacText(info) + "  перемычка " +
           (JumperFitted(info) ? "установлена" : "не установлена");
}

QJsonObject InfoJson(const TModuleInfo& info)
{
    return {{"firmware", QString::fromStdString(FirmwareText(info))},
            {"mac", QString::fromStdString(MacText(info))},
            {"jumper", JumperFitted(info)}};
}

QJsonObject FailureJson(const TModuleResult& result)
{
    return FailureJson(ModuleFailure(result));
}

// The status text, and for an exception what the module meant by its code.
std::string StatusDescription(const TModuleResult& result)
{
    return result.Status == StatusException ? result.Text + ": " + ExceptionName(result.Exception) : result.Text;
}

std::string FailureText(const TModuleResult& result)
{
    return "ошибка: " + StatusDescription(result);
}

std::string FieldNames(const std::vector<const TConfigField*>& fields)
{
    std::string names;
    for (const TConfigField* field : fields)
        names += (names.empty() ? "" : ", ") + field->Section + "/" + field->Key;
    // Every field as sent: the module holds other reserved bytes or another checksum.
    return names.empty() ? "резерв или контрольная сумма" : names;
}

// The bytes SaveConfigToFile writes for the record into a new file: a file saved by read holds this
// record only, whatever it held before.
std::string ConfigFileText(const TModuleConfig& config)
{
    return ConfigToIniText(config);
}

class TCli {
public:
    explicit TCli(const TCliOptions& options) : Options_(options) {}

    void EndBySignal() const { ::EndBySignal(Signal_); }

    int Run()
    {
        const std::string& command = Options_.Command;
        if (command == "info")
            return Info();
        if (command == "read")
            return Read();
        if (command == "write" || command == "apply")
            return Write(command == "apply");
        if (command == "diff")
            return Diff();
        return Scan();
    }

private:
    int Usage(const std::string& message)
    {
        std::fprintf(stderr, "korvel-cli: %s\n\n%s", message.c_str(), UsageText().c_str());
        return ExitUsage;
    }

    int FileError(const std::string& message)
    {
        std::fprintf(stderr, "korvel-cli: %s\n", message.c_str());
        return ExitFileError;
    }

    // The HOST operands from the given one on, and those of --hosts; false after telling why.
    bool Modules(size_t first, std::vector<TModuleAddress>& modules, int& status)
    {
        for (size_t i = first; i < Options_.Operands.size(); ++i) {
            TModuleAddress module;
            if (!ParseModuleAddress(Options_.Operands[i], Options_.Port, module)) {
                status = Usage("неверный адрес модуля " + Options_.Operands[i]);
                return false;
            }
            modules.push_back(module);
        }
        std::string error;
        if (!Options_.HostsFile.empty() && !ReadHostsFile(Options_.HostsFile, Options_.Port, modules, error)) {
            status = FileError(error);
            return false;
        }
        if (modules.empty()) {
            status = Usage("не задан ни один модуль");
            return false;
        }
        return true;
    }

    // Runs the job on every module with the report's progress and summary; the exit status.
    // settle finishes what the jobs left once no module is being asked, before the summary.
    int RunFleet(std::vector<TModuleAddress> modules, TCliReport& report, const TFleetRunner::TJob& job,
                 const TTally& tally, const std::function<std::string()>& extra = {},
                 const std::function<void()>& settle = {})
    {
        const auto started = Clock::now();
        const size_t count = modules.size();
        TFleetRunner runner(std::move(modules), Options_.Client, Options_.Jobs);
        size_t done = 0;
        RunJobs(runner, job, [&](size_t, double) { report.Progress(++done); });
        if (settle)
            settle();
        std::string more = extra ? extra() : std::string();
        if (Interrupted())
            more += ", прервано: не обработано " + std::to_string(count - tally.Succeeded - tally.Failed);
        report.Summary(tally.Succeeded, tally.Failed, std::chrono::duration<double>(Clock::now() - started).count(),
                       more);
        return tally.Failed == 0 ? ExitOk : ExitModuleFailed;
    }

    int Info()
    {
        std::vector<TModuleAddress> modules;
        int status = ExitOk;
        if (!Modules(0, modules, status))
            return status;
        TCliReport report(Options_.Json, Options_.Quiet, modules.size());
        TTally tally;
        return RunFleet(
            modules, report,
            [&](size_t index, TModuleClient& client, TFleetRunner::TFinish finish) {
                const auto begun = Clock::now();
                client.ReadInfo([&, index, begun, finish](const TModuleResult& result, const TModuleInfo& info) {
                    tally.Count(result.Ok());
                    report.Module(modules[index], "info", result.Ok(), Ms(begun),
                                  result.Ok() ? InfoText(info) : FailureText(result),
                                  result.Ok() ? InfoJson(info) : FailureJson(result));
                    finish();
                });
            },
            tally);
    }

    int Read()
    {
        std::vector<TModuleAddress> modules;
        int status = ExitOk;
        if (!Modules(0, modules, status))
            return status;
        const std::string& output = Options_.Output;
        const bool toFolder =
            !output.empty() && (modules.size() > 1 || QFileInfo(QString::fromStdString(output)).isDir());
        if (modules.size() > 1 && output.empty() && !Options_.Json)
            return Usage("для нескольких модулей нужен каталог: -o КАТАЛОГ");
        if (toFolder && !QDir().mkpath(QString::fromStdString(output)))
            return FileError("Ошибка создания каталога " + output);
        const bool toStdout = output.empty() && !Options_.Json;

        TCliReport report(Options_.Json, Options_.Quiet || toStdout, modules.size(), toStdout);
        TTally tally;
        bool fileFailed = false;
        TBatchedSave save(SaveBatchWait);
        const int result = RunFleet(
            modules, report,
            [&](size_t index, TModuleClient& client, TFleetRunner::TFinish finish) {
                const auto begun = Clock::now();
                client.ReadConfig([&, index, begun, finish](const TModuleResult& result, const TModuleConfig& config) {
                    const TModuleAddress& module = modules[index];
                    // The exchange's own time: the file is not the module's doing.
                    const double ms = Ms(begun);
                    if (!result.Ok()) {
                        tally.Count(false);
                        report.Module(module, "read", false, ms, FailureText(result), FailureJson(result));
                    } else if (toStdout) {
                        tally.Count(true);
                        std::fputs(ConfigFileText(config).c_str(), stdout);
                    } else if (output.empty()) {
                        tally.Count(true);
                        report.Module(module, "read", true, ms, "конфигурация считана",
                                      {{"config", ConfigJson(config)}});
                    } else {
                        const std::string fileName =
                            toFolder ? output + "/" + module.Address + "_" + std::to_string(module.Port) + ".ini"
                                     : output;
                        QJsonObject fields{{"config", ConfigJson(config)}, {"file", QString::fromStdString(fileName)}};
                        // The line tells the file's outcome; the module is free for the next one at once.
                        save.Save(fileName, ConfigFileText(config),
                                  [&, index, ms, fileName, fields, finish](TFileWriteResult written) mutable {
                                      const bool saved = written == TFileWriteResult::Written;
                                      std::string text = "сохранена в " + fileName;
                                      if (!saved) {
                                          const std::string error = "Unable to write to " + fileName;
                                          report.Error(error);
                                          fileFailed = true;
                                          fields.insert("error", QString::fromStdString(error));
                                          text = "ошибка: " + error;
                                      }
                                      tally.Count(saved);
                                      report.Module(modules[index], "read", saved, ms, text, fields);
                                  });
                    }
                    finish();
                });
            },
            tally, {}, [&] { save.Flush(); });
        return fileFailed ? ExitFileError : result;
    }

    int Write(bool apply)
    {
        const std::string command = apply ? "apply" : "write";
        if (Options_.Operands.empty())
            return Usage("не задан файл конфигурации");
        std::vector<TModuleAddress> modules;
        int status = ExitOk;
        if (!Modules(1, modules, status))
            return status;
        TModuleConfig config{};
        std::string error;
        if (LoadCheckedConfig(Options_.Operands[0], config, error) != TConfigFileState::Ok)
            return FileError(error);

        TCliReport report(Options_.Json, Options_.Quiet, modules.size());
        TTally tally;
        size_t changedCount = 0;
        const auto written = [&](size_t index, Clock::time_point begun, TFleetRunner::TFinish finish,
                                 TModuleClient& client, QJsonObject fields, std::string text) {
            const TModuleAddress& module = modules[index];
            if (!Options_.Verify) {
                client.WriteConfig(config,
                                   [&, index, begun, finish, fields, text](const TModuleResult& result) mutable {
                                       tally.Count(result.Ok());
                                       if (result.Ok())
                                           fields.insert("config", ConfigJson(config));
                                       report.Module(modules[index], command, result.Ok(), Ms(begun),
                                                     result.Ok() ? text + NoVerifyText : FailureText(result),
                                                     result.Ok() ? fields : Merged(fields, FailureJson(result)));
                                       finish();
                                   });
                return;
            }
            client.WriteAndVerify(config, [&, &module = module, begun, finish, fields,
                                           text](const TModuleResult& result, bool written, bool verified,
                                                 const TModuleConfig& readBack,
                                                 const std::vector<const TConfigField*>& differing) mutable {
                const bool ok = result.Ok() && verified;
                tally.Count(ok);
                if (!result.Ok() && written) {
                    fields.insert("verified", false);
                    report.Module(module, command, false, Ms(begun),
                                  text + "записана, но не проверена: " + StatusDescription(result),
                                  Merged(fields, FailureJson(result)));
                } else if (!result.Ok()) {
                    report.Module(module, command, false, Ms(begun), FailureText(result),
                                  Merged(fields, FailureJson(result)));
                } else {
                    fields.insert("verified", verified);
                    fields.insert("config", ConfigJson(readBack));
                    if (!verified)
                        fields.insert("mismatch", DifferencesJson(differing, config, "written", readBack, "read"));
                    report.Module(module, command, ok, Ms(begun),
                                  verified
                                      ? text + "записана и проверена"
                                      : "ошибка проверки: считано не то, что записано (" + FieldNames(differing) + ")",
                                  fields);
                }
                finish();
            });
        };
        const auto job = [&](size_t index, TModuleClient& client, TFleetRunner::TFinish finish) {
            const auto begun = Clock::now();
            if (!apply) {
                written(index, begun, finish, client, {}, "конфигурация ");
                return;
            }
            client.ReadConfig([&, index, begun, finish](const TModuleResult& result, const TModuleConfig& before) {
                if (result.Ok() && Interrupted()) {
                    report.Module(modules[index], command, false, Ms(begun),
                                  "прервано до записи, конфигурация не изменена",
                                  {{"changed", false}, {"error", "прервано до записи"}});
                    finish();
                    return;
                }
                if (!result.Ok()) {
                    tally.Count(false);
                    report.Module(modules[index], command, false, Ms(begun), FailureText(result), FailureJson(result));
                    finish();
                    return;
                }
                const std::vector<const TConfigField*> differing = DifferingFields(before, config);
                if (!ModuleDiffers(config, before)) {
                    tally.Count(true);
                    report.Module(modules[index], command, true, Ms(begun), "без изменений",
                                  {{"changed", false}, {"config", ConfigJson(before)}});
                    finish();
                    return;
                }
                ++changedCount;
                written(index, begun, finish, client,
                        {{"changed", true},
                         {"checksum_valid", ChecksumValid(before)},
                         {"differences", DifferencesJson(differing, before, "before", config, "after")}},
                        "изменено полей " + std::to_string(differing.size()) +
                            (ChecksumValid(before) ? "" : " (" + std::string(DamagedConfigText) + ")") +
                            ", конфигурация ");
            });
        };
        return RunFleet(modules, report, job, tally,
                        [&] { return apply ? ", изменено " + std::to_string(changedCount) : std::string(); });
    }

    int Diff()
    {
        if (Options_.Operands.size() != 2)
            return Usage("diff сравнивает ровно два источника: A B");
        std::array<TModuleConfig, 2> configs{};
        std::array<TModuleAddress, 2> hosts{};
        std::array<bool, 2> isHost{};
        std::vector<TModuleAddress> modules;
        for (size_t i = 0; i < 2; ++i) {
            const std::string& operand = Options_.Operands[i];
            isHost[i] = ParseModuleAddress(operand, Options_.Port, hosts[i]);
            std::string error;
            if (isHost[i])
                modules.push_back(hosts[i]);
            else if (LoadCheckedConfig(operand, configs[i], error) != TConfigFileState::Ok)
                return FileError(error);
        }
        TCliReport report(Options_.Json, true, modules.size());
        bool failed = false;
        TFleetRunner runner(modules, Options_.Client, Options_.Jobs);
        RunJobs(runner, [&](size_t index, TModuleClient& client, TFleetRunner::TFinish finish) {
            client.ReadConfig([&, index, finish](const TModuleResult& result, const TModuleConfig& config) {
                const size_t side = isHost[0] && (index == 0 || !isHost[1]) ? 0 : 1;
                configs[side] = config;
                if (!result.Ok()) {
                    failed = true;
                    report.Module(modules[index], "diff", false, 0, FailureText(result), FailureJson(result));
                }
                finish();
            });
        });
        if (failed)
            return ExitModuleFailed;
        // A module not asked has nothing to compare.
        if (Interrupted())
            return ExitModuleFailed;

        const std::vector<const TConfigField*> differing = DifferingFields(configs[0], configs[1]);
        // A module whose stored configuration is damaged matches no file, whatever its fields hold.
        bool damaged = false;
        for (size_t i = 0; i < 2; ++i)
            damaged = damaged || (isHost[i] && !ChecksumValid(configs[i]));
        const bool equal = differing.empty() && !damaged;
        if (report.IsJson()) {
            report.Json({{"command", "diff"},
                         {"a", QString::fromStdString(Options_.Operands[0])},
                         {"b", QString::fromStdString(Options_.Operands[1])},
                         {"ok", true},
                         {"equal", equal},
                         {"damaged", damaged},
                         {"differences", DifferencesJson(differing, configs[0], "a", configs[1], "b")},
                         {"config_a", ConfigJson(configs[0])},
                         {"config_b", ConfigJson(configs[1])}});
        } else {
            if (damaged)
                report.Line(DamagedConfigText);
            if (differing.empty() && !damaged)
                report.Line("Конфигурации совпадают");
            else if (!differing.empty())
                PrintDiffTable(report, differing, configs);
        }
        return equal ? ExitOk : ExitDifferent;
    }

    void PrintDiffTable(TCliReport& report, const std::vector<const TConfigField*>& differing,
                        const std::array<TModuleConfig, 2>& configs)
    {
        std::vector<std::array<std::string, 3>> rows{{"Поле", Options_.Operands[0], Options_.Operands[1]}};
        for (const TConfigField* field : differing)
            rows.push_back({field->Section + "/" + field->Key + " (" + field->Page + ": " + field->Label + ")",
                            FieldDisplayText(configs[0], *field), FieldDisplayText(configs[1], *field)});
        std::array<size_t, 2> widths{};
        for (const auto& row : rows)
            for (size_t c = 0; c < 2; ++c)
                widths[c] = std::max(widths[c], DisplayWidth(row[c]));
        for (const auto& row : rows)
            report.Line(row[0] + std::string(widths[0] - DisplayWidth(row[0]) + 2, ' ') + row[1] +
                        std::string(widths[1] - DisplayWidth(row[1]) + 2, ' ') + row[2]);
    }

    int Scan()
    {
        if (Options_.Operands.size() != 1)
            return Usage("scan ожидает один диапазон адресов");
        std::vector<TModuleAddress> modules;
        std::string error;
        if (!ParseAddressRange(Options_.Operands[0], Options_.Port, modules, error))
            return Usage(error);
        TCliReport report(Options_.Json, Options_.Quiet, modules.size());
        TCliOptions single = Options_;
        // A silent address costs one time-out, not one per repeat.
        single.Client.Transmissions = 1;
        const auto started = Clock::now();
        TFleetRunner runner(modules, single.Client, Options_.Jobs);
        size_t found = 0, done = 0;
        RunJobs(
            runner,
            [&](size_t index, TModuleClient& client, TFleetRunner::TFinish finish) {
                const auto begun = Clock::now();
                client.ReadInfo([&, index, begun, finish](const TModuleResult& result, const TModuleInfo& info) {
                    if (result.Ok()) {
                        ++found;
                        report.Module(modules[index], "scan", true, Ms(begun), InfoText(info), InfoJson(info));
                    }
                    finish();
                });
            },
            [&](size_t, double) { report.Progress(++done); });
        report.Summary(found, 0, std::chrono::duration<double>(Clock::now() - started).count(),
                       Interrupted() ? ", опрошено адресов " + std::to_string(done) + " из " +
                                           std::to_string(modules.size()) + " (прервано)"
                                     : ", опрошено адресов " + std::to_string(modules.size()));
        return ExitOk;
    }

    // The runner stops starting modules when the command is interrupted.
    void RunJobs(TFleetRunner& runner, const TFleetRunner::TJob& job, const TFleetRunner::TJobFinished& finished = {})
    {
        TCliInterruption interruption([&runner] { runner.Stop(); });
        Interruption_ = &interruption;
        runner.Run(job, finished);
        Interruption_ = nullptr;
        Signal_ = interruption.Signal();
    }

    bool Interrupted() const { return Signal_ != 0 || (Interruption_ && Interruption_->Signal() != 0); }

    static double Ms(Clock::time_point begun)
    {
        return std::chrono::duration<double, std::milli>(Clock::now() - begun).count();
    }

    static QJsonObject Merged(QJsonObject fields, const QJsonObject& more)
    {
        for (auto it = more.begin(); it != more.end(); ++it)
            fields.insert(it.key(), it.value());
        return fields;
    }

    // Columns count characters, not bytes: the labels are Russian.
    static size_t DisplayWidth(const std::string& text) { return size_t(QString::fromStdString(text).size()); }

    const TCliOptions& Options_;
    const TCliInterruption* Interruption_ = nullptr;  // while modules are asked
    int Signal_ = 0;                                  // the signal that interrupted them
};

// Output lost on a full disk behind stdout is a failed write of a file like any other, and with it
// a configuration read to stdout; a status 0 would tell it as saved.
int OutputChecked(int status)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    std::fprintf(stderr, "korvel-cli: Ошибка записи в стандартный вывод\n");
    return ExitFileError;
}

}  // namespace

int RunCliCommand(const TCliOptions& options)
{
    if (options.Help) {
        std::fputs(UsageText().c_str(), stdout);
        return OutputChecked(ExitOk);
    }
    TCli cli(options);
    const int status = OutputChecked(cli.Run());
    cli.EndBySignal();
    return status;
}
