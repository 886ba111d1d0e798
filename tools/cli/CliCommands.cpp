#include "CliCommands.h"

#include "BatchedSave.h"
#include "CliHelp.h"
#include "CliInterruption.h"
#include "CliJsonLine.h"
#include "CliReport.h"
#include "CommandFile.h"
#include "ConfigFile.h"
#include "ConfigFileCheck.h"
#include "ConfigVerdict.h"
#include "DescriptorLimit.h"
#include "DeviceCommands.h"
#include "ReportCommand.h"
#include "FleetRunner.h"
#include "FleetValues.h"
#include "MapCommands.h"
#include "ModuleInfo.h"
#include "WholeFile.h"
#include "modbus.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>
#include <map>
#include <chrono>
#include <cstdio>
#include <functional>
#include <set>

namespace {

using Clock = std::chrono::steady_clock;

const std::string NoVerifyText = "записана";
// Said beside a configuration read from a module whose stored checksum is wrong.
const std::string ChecksumWrongText = "контрольная сумма конфигурации неверна";

// Told for a module in flight when a second signal ends the program: it may or may not have taken
// its request.
const std::string UnknownOutcomeText = "исход неизвестен: прервано повторно, когда запрос был отправлен";

// Told by apply when it rewrote a module whose stored checksum was wrong.
const std::string ChecksumWasWrongText = "контрольная сумма была неверна";

// How long a configuration read waits for others to be saved with it: a fleet on a fast network
// costs one flush of the disk, a slow one a flush per this much time, and no module's line waits
// longer than this after its answer.
constexpr std::chrono::milliseconds SaveBatchWait{100};

struct TTally {
    size_t Succeeded = 0;
    size_t Failed = 0;
    size_t Interrupted = 0;  // told as not done because the run was stopped
    void Count(bool ok) { ++(ok ? Succeeded : Failed); }
};

std::string InfoText(const TModuleInfo& info, const TModuleConfig& config)
{
    return "версия " + FirmwareText(info) + "  MAC " + MacText(info) + "  перемычка " +
           (JumperFitted(info) ? "установлена" : "не установлена") +
           (ChecksumValid(config) ? "" : "  " + ChecksumWrongText);
}

QJsonObject InfoJson(const TModuleInfo& info, const TModuleConfig& config)
{
    return {{"firmware", QString::fromStdString(FirmwareText(info))},
            {"mac", QString::fromStdString(MacText(info))},
            {"jumper", JumperFitted(info)},
            {"checksum_valid", ChecksumValid(config)}};
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

std::string NotAModuleDescription(const TModuleResult& result, const TModuleInfo& info, const TModuleConfig& config)
{
    return std::string(NotAModuleText) + " (" +
           (result.Ok() ? NotAModuleSign(info, config) : StatusDescription(result)) + ")";
}

QJsonObject NotAModuleJson(const TModuleResult& result, const TModuleInfo& info, const TModuleConfig& config)
{
    return FailureJson(CliFailure(TReason::NotAModule, NotAModuleDescription(result, info, config)));
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
    bool OutputLost() const { return OutputLost_; }

    int Run()
    {
        const std::string& command = Options_.Command;
        // stdin feeds one file: a second "-" is refused before the first one takes what was meant for it.
        const bool readsFiles = command == "write" || command == "apply" || command == "diff" || command == "report";
        const auto stdinFiles =
            std::count(Options_.HostsFiles.begin(), Options_.HostsFiles.end(), StandardStreamName) +
            (readsFiles ? std::count(Options_.Operands.begin(), Options_.Operands.end(), StandardStreamName) : 0);
        if (stdinFiles > 1)
            return FileError(StdinTakenText);
        if (command == "info")
            return Info();
        if (command == "read")
            return Read();
        if (command == "write" || command == "apply")
            return Write(command == "apply");
        if (command == "diff")
            return Diff();
        if (command == "poll")
            return Poll();
        if (command == "units")
            return Units();
        if (command == "map")
            return RunMapCheck(Options_);
        if (command == "set")
            return RunSet(Options_);
        if (command == "report")
            return RunReport(Options_);
        return Scan();
    }

private:
    int Usage(const std::string& message)
    {
        return ReportRunFailure(Options_.Json, Options_.Command, CliFailure(TReason::Usage, message), ExitUsage);
    }

    int FileError(const std::string& message)
    {
        return ReportRunFailure(Options_.Json, Options_.Command, CliFailure(TReason::Io, message), ExitFileError);
    }

    // The HOST operands from the given one on, and those of every --hosts, each module once;
    // false after telling why.
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
        for (const std::string& hostsFile : Options_.HostsFiles) {
            std::string error;
            if (!ReadHostsFile(hostsFile, Options_.Port, modules, error)) {
                status = FileError(error);
                return false;
            }
        }
        if (modules.empty()) {
            status = Usage("не задан ни один модуль");
            return false;
        }
        // Before the lines of a module named twice are joined: a later one would win without a word.
        if (Options_.Command == "write" || Options_.Command == "apply") {
            if (const std::string conflict = ConflictingHostValues(modules); !conflict.empty()) {
                status = Usage(conflict);
                return false;
            }
        }
        DropRepeatedModules(modules);
        return true;
    }

    // A module named twice would be written by two connections at once. The values its lines give
    // are all kept (none of them contradict each other: ConflictingHostValues).
    static void DropRepeatedModules(std::vector<TModuleAddress>& modules)
    {
        std::map<std::string, size_t> seen;
        std::set<std::string> told;
        std::vector<TModuleAddress> once;
        for (const TModuleAddress& module : modules) {
            const auto [first, isNew] = seen.emplace(module.Text(), once.size());
            if (isNew) {
                once.push_back(module);
                continue;
            }
            std::vector<std::string>& values = once[first->second].Values;
            values.insert(values.end(), module.Values.begin(), module.Values.end());
            if (told.insert(module.Text()).second)
                std::fprintf(stderr, "korvel-cli: модуль %s задан более одного раза, обрабатывается один раз\n",
                             module.Text().c_str());
        }
        modules = std::move(once);
    }

    // Runs the job on every module with the report's progress and summary; the exit status.
    // settle finishes what the jobs left once no module is being asked, before the summary.
    // changed: the count of modules written, for the commands that write.
    int RunFleet(std::vector<TModuleAddress> modules, TCliReport& report, const TFleetRunner::TJob& job, TTally& tally,
                 const size_t* changed = nullptr, const std::function<void()>& settle = {})
    {
        const auto started = Clock::now();
        const size_t count = modules.size();
        TFleetRunner runner(std::move(modules), Options_.Client, Jobs(count));
        size_t done = 0;
        std::vector<bool> finished(count);
        RunJobs(runner, job, [&](size_t index, double) {
            finished[index] = true;
            report.Progress(++done);
        });
        if (settle)
            settle();
        const size_t notDone = count - tally.Succeeded - tally.Failed;
        TellNotStarted(report, runner.Modules(), finished, Options_.Command, tally);
        std::string more = changed ? ", изменено " + std::to_string(*changed) : std::string();
        if (Interrupted())
            more += ", прервано: не обработано " + std::to_string(notDone);
        report.Summary({count, tally.Succeeded, tally.Failed, tally.Interrupted,
                        changed ? std::optional<size_t>(*changed) : std::nullopt},
                       Seconds(started), more);
        return tally.Failed == 0 ? ExitOk : ExitModuleFailed;
    }

    // A script reading the JSON gets a line for every module it named, also for those a stop left
    // unasked.
    void TellNotStarted(TCliReport& report, const std::vector<TModuleAddress>& modules,
                        const std::vector<bool>& finished, const std::string& command, TTally& tally)
    {
        for (size_t i = 0; i < modules.size(); ++i) {
            if (finished[i])
                continue;
            ++tally.Interrupted;
            if (report.IsJson())
                report.Module(modules[i], command, false, 0, {},
                              FailureJson(CliFailure(TReason::Interrupted, "не опрошен: прервано")));
        }
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
                client.ReadModule([&, index, begun, finish](const TModuleResult& result, const TModuleInfo& info,
                                                            const TModuleConfig& config) {
                    if (NotAModule(result, info, config)) {
                        tally.Count(false);
                        report.Module(modules[index], "info", false, Ms(begun),
                                      "ошибка: " + NotAModuleDescription(result, info, config),
                                      NotAModuleJson(result, info, config));
                    } else {
                        tally.Count(result.Ok());
                        report.Module(modules[index], "info", result.Ok(), Ms(begun),
                                      result.Ok() ? InfoText(info, config) : FailureText(result),
                                      result.Ok() ? InfoJson(info, config) : FailureJson(result));
                    }
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
        // "-o -" is stdout, where the configuration goes without -o.
        const std::string output = Options_.Output == StandardStreamName ? std::string() : Options_.Output;
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
                client.ReadModule([&, index, begun, finish](const TModuleResult& result, const TModuleInfo& info,
                                                            const TModuleConfig& config) {
                    const TModuleAddress& module = modules[index];
                    // The exchange's own time: the file is not the module's doing.
                    const double ms = Ms(begun);
                    const bool checksumValid = ChecksumValid(config);
                    if (NotAModule(result, info, config)) {
                        tally.Count(false);
                        report.Module(module, "read", false, ms,
                                      "ошибка: " + NotAModuleDescription(result, info, config),
                                      NotAModuleJson(result, info, config));
                    } else if (!result.Ok()) {
                        tally.Count(false);
                        report.Module(module, "read", false, ms, FailureText(result), FailureJson(result));
                    } else if (toStdout) {
                        tally.Count(true);
                        if (!checksumValid)
                            report.Error(module.Text() + ": " + DamagedConfigText);
                        std::fputs(ConfigFileText(config).c_str(), stdout);
                    } else if (output.empty()) {
                        tally.Count(true);
                        report.Module(module, "read", true, ms,
                                      "конфигурация считана" + (checksumValid ? "" : ", " + ChecksumWrongText),
                                      {{"config", ConfigJson(config)}, {"checksum_valid", checksumValid}});
                    } else {
                        const std::string fileName =
                            toFolder ? output + "/" + module.Address + "_" + std::to_string(module.Port) + ".ini"
                                     : output;
                        QJsonObject fields{{"config", ConfigJson(config)},
                                           {"checksum_valid", checksumValid},
                                           {"file", QString::fromStdString(fileName)}};
                        // The line tells the file's outcome; the module is free for the next one at once.
                        save.Save(
                            fileName, ConfigFileText(config),
                            [&, index, ms, fileName, fields, checksumValid, finish](TFileWriteResult written) mutable {
                                const bool saved = written == TFileWriteResult::Written;
                                std::string text =
                                    "сохранена в " + fileName + (checksumValid ? "" : ", " + ChecksumWrongText);
                                if (!saved) {
                                    const std::string error = "Ошибка записи в файл " + fileName;
                                    report.Error(error);
                                    fileFailed = true;
                                    fields = Merged(fields, FailureJson(CliFailure(TReason::Io, error)));
                                    text = "ошибка: " + error;
                                }
                                tally.Count(saved);
                                report.Module(modules[index], "read", saved, ms, text, fields);
                            });
                    }
                    finish();
                });
            },
            tally, nullptr, [&] { save.Flush(); });
        return fileFailed ? ExitFileError : result;
    }

    // Each module's values over the file: --set, then its own from the hosts file. False after telling
    // why the run cannot go ahead: a bad value, a write from a partial file, or a shared file or --set
    // that would give several modules one address or port.
    bool ModuleValues(bool apply, const TCheckedConfig& file, const std::vector<TModuleAddress>& modules,
                      std::vector<std::vector<TFieldValue>>& values, int& status)
    {
        std::string error;
        std::vector<TFieldValue> forAll;
        for (const std::string& text : Options_.Set) {
            if (!ParseFieldValue(text, "в параметре --set", forAll.emplace_back(), error)) {
                status = Usage(error);
                return false;
            }
        }
        std::vector<std::vector<TFieldValue>> own;
        for (const TModuleAddress& module : modules) {
            std::vector<TFieldValue>& moduleValues = own.emplace_back();
            for (const std::string& text : module.Values)
                if (!ParseFieldValue(text, "для модуля " + module.Text() + " в файле --hosts",
                                     moduleValues.emplace_back(), error)) {
                    status = FileError(error);
                    return false;
                }
        }
        if (!apply && file.Held.size() != ConfigFields().size()) {
            std::vector<const TConfigField*> missing;
            for (const TConfigField& field : ConfigFields())
                if (std::find(file.Held.begin(), file.Held.end(), &field) == file.Held.end())
                    missing.push_back(&field);
            status = FileError("write записывает конфигурацию целиком, а в файле " + Options_.Operands[0] +
                               " нет ключей " + FieldNames(missing) + " (apply записывает только ключи файла)");
            return false;
        }
        const std::vector<const TConfigField*> shared = SharedIdentityFields(file.Held, forAll, own);
        if (!shared.empty()) {
            status =
                Usage("запись в несколько модулей дала бы каждому один и тот же " + FieldNames(shared) +
                      ": каждому модулю нужно своё значение в его строке файла --hosts (HOST РАЗДЕЛ/КЛЮЧ=ЗНАЧЕНИЕ), "
                      "иначе уберите ключ из файла и --set");
            return false;
        }
        for (std::vector<TFieldValue>& moduleValues : own) {
            moduleValues.insert(moduleValues.begin(), forAll.begin(), forAll.end());
            values.push_back(std::move(moduleValues));
        }
        return true;
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
        TCheckedConfig file;
        std::string error;
        if (LoadCheckedConfig(Options_.Operands[0], file, error) != TConfigFileState::Ok)
            return FileError(error);
        std::vector<std::vector<TFieldValue>> values;
        if (!ModuleValues(apply, file, modules, values, status))
            return status;

        TCliReport report(Options_.Json, Options_.Quiet, modules.size());
        TTally tally;
        size_t changedCount = 0;
        const auto written = [&](size_t index, Clock::time_point begun, TFleetRunner::TFinish finish,
                                 TModuleClient& client, const TModuleConfig& config, QJsonObject fields,
                                 std::string text) {
            const TModuleAddress& module = modules[index];
            if (!Options_.Verify) {
                client.WriteConfig(
                    config, [&, index, begun, finish, config, fields, text](const TModuleResult& result) mutable {
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
            client.WriteAndVerify(config, [&, &module = module, begun, finish, config, fields,
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
                    if (!verified) {
                        // The keys tell it; callers take a line with "error" for one the module refused.
                        const TCliFailure mismatch = CliFailure(TReason::Mismatch, {});
                        fields.insert("status", mismatch.Status);
                        fields.insert("reason", ReasonWord(mismatch.Reason));
                        fields.insert("mismatch", DifferencesJson(differing, config, "written", readBack, "read"));
                    }
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
            if (!apply && Options_.Force) {
                written(index, begun, finish, client, WantedConfig(file.Config, file, values[index]), {},
                        "конфигурация ");
                return;
            }
            // Read first, even for a whole image: another maker's device is never written unasked.
            client.ReadModule([&, index, begun, finish](const TModuleResult& result, const TModuleInfo& info,
                                                        const TModuleConfig& before) {
                const bool foreign = NotAModule(result, info, before);
                if (foreign && (!Options_.Force || !result.Ok())) {
                    tally.Count(false);
                    report.Module(modules[index], command, false, Ms(begun),
                                  "ошибка: " + NotAModuleDescription(result, info, before) +
                                      ", не записано (--force: записать)",
                                  Merged({{"changed", false}}, NotAModuleJson(result, info, before)));
                    finish();
                    return;
                }
                if (result.Ok() && Interrupted()) {
                    ++tally.Interrupted;
                    report.Module(modules[index], command, false, Ms(begun),
                                  "прервано до записи, конфигурация не изменена",
                                  Merged({{"changed", false}},
                                         FailureJson(CliFailure(TReason::Interrupted, "прервано до записи"))));
                    finish();
                    return;
                }
                if (!result.Ok()) {
                    tally.Count(false);
                    report.Module(modules[index], command, false, Ms(begun), FailureText(result), FailureJson(result));
                    finish();
                    return;
                }
                if (!apply) {
                    written(index, begun, finish, client, WantedConfig(file.Config, file, values[index]), {},
                            "конфигурация ");
                    return;
                }
                // Desired state for what the file and the values name; the module keeps the rest.
                const TModuleConfig config = WantedConfig(before, file, values[index]);
                const std::vector<const TConfigField*> differing = DifferingFields(before, config);
                if (!ModuleDiffers(config, before)) {
                    tally.Count(true);
                    report.Module(modules[index], command, true, Ms(begun), "без изменений",
                                  {{"changed", false}, {"checksum_valid", true}, {"config", ConfigJson(before)}});
                    finish();
                    return;
                }
                ++changedCount;
                written(index, begun, finish, client, config,
                        {{"changed", true},
                         {"checksum_valid", ChecksumValid(before)},
                         {"differences", DifferencesJson(differing, before, "before", config, "after")}},
                        "изменено полей " + std::to_string(differing.size()) +
                            (ChecksumValid(before) ? "" : " (" + std::string(ChecksumWasWrongText) + ")") +
                            ", конфигурация ");
            });
        };
        return RunFleet(modules, report, job, tally, apply ? &changedCount : nullptr);
    }

    int Diff()
    {
        if (Options_.Operands.size() != 2)
            return Usage("diff сравнивает ровно два источника: A B");
        std::array<TModuleConfig, 2> configs{};
        std::array<TModuleAddress, 2> hosts{};
        std::array<bool, 2> isHost{};
        std::array<TCheckedConfig, 2> files;
        std::vector<TModuleAddress> modules;
        for (size_t i = 0; i < 2; ++i) {
            const std::string& operand = Options_.Operands[i];
            isHost[i] = ParseModuleAddress(operand, Options_.Port, hosts[i]);
            std::string error;
            if (isHost[i])
                modules.push_back(hosts[i]);
            else if (LoadCheckedConfig(operand, files[i], error) != TConfigFileState::Ok)
                return FileError(error);
            else
                configs[i] = files[i].Config;
        }
        TCliReport report(Options_.Json, true, modules.size());
        const auto started = Clock::now();
        TTally tally;
        std::vector<bool> finished(modules.size());
        TFleetRunner runner(modules, Options_.Client, Jobs(modules.size()));
        RunJobs(
            runner,
            [&](size_t index, TModuleClient& client, TFleetRunner::TFinish finish) {
                const auto begun = Clock::now();
                client.ReadModule([&, index, begun, finish](const TModuleResult& result, const TModuleInfo& info,
                                                            const TModuleConfig& config) {
                    const size_t side = isHost[0] && (index == 0 || !isHost[1]) ? 0 : 1;
                    configs[side] = config;
                    const bool foreign = NotAModule(result, info, config);
                    tally.Count(result.Ok() && !foreign);
                    if (foreign)
                        report.Module(modules[index], "diff", false, Ms(begun),
                                      "ошибка: " + NotAModuleDescription(result, info, config),
                                      NotAModuleJson(result, info, config));
                    else if (!result.Ok())
                        report.Module(modules[index], "diff", false, Ms(begun), FailureText(result),
                                      FailureJson(result));
                    finish();
                });
            },
            [&](size_t index, double) { finished[index] = true; });
        TellNotStarted(report, modules, finished, "diff", tally);
        const TRunCounts counts{modules.size(), tally.Succeeded, tally.Failed, tally.Interrupted, std::nullopt};
        // A module not asked has nothing to compare.
        if (tally.Failed != 0 || Interrupted()) {
            if (report.IsJson())
                report.Summary(counts, Seconds(started));
            return ExitModuleFailed;
        }

        std::vector<const TConfigField*> differing = DifferingFields(configs[0], configs[1]);
        // A file against a module compares what apply would set: the keys the file holds.
        if (isHost[0] != isHost[1]) {
            const std::vector<const TConfigField*>& held = files[isHost[0] ? 1 : 0].Held;
            std::erase_if(differing, [&held](const TConfigField* field) {
                return std::find(held.begin(), held.end(), field) == held.end();
            });
        }
        // A module whose stored configuration is damaged matches no file, whatever its fields hold.
        bool damaged = false;
        for (size_t i = 0; i < 2; ++i)
            damaged = damaged || (isHost[i] && !ChecksumValid(configs[i]));
        const bool equal = differing.empty() && !damaged;
        if (report.IsJson()) {
            QJsonObject line{{"a", QString::fromStdString(Options_.Operands[0])},
                             {"b", QString::fromStdString(Options_.Operands[1])},
                             {"equal", equal},
                             {"damaged", damaged},
                             {"differences", DifferencesJson(differing, configs[0], "a", configs[1], "b")},
                             {"config_a", ConfigJson(configs[0])},
                             {"config_b", ConfigJson(configs[1])}};
            // Only a module has a stored checksum; a file's record is checked by no one.
            for (size_t i = 0; i < 2; ++i)
                if (isHost[i])
                    line.insert(i == 0 ? "checksum_valid_a" : "checksum_valid_b", ChecksumValid(configs[i]));
            // The line names the module compared (the first, when both are); two files name none.
            const double ms = Seconds(started) * 1000;
            report.Json(modules.empty() ? RunLine("diff", true, ms, line)
                                        : ModuleLine(modules.front(), "diff", true, ms, line));
            report.Summary(counts, Seconds(started));
        } else if (!Options_.Quiet) {
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

    int Poll()
    {
        std::vector<TModuleAddress> modules;
        int status = ExitOk;
        if (!Modules(0, modules, status))
            return status;
        return Options_.Device.MapFile.empty() ? RunPoll(Options_, modules) : RunMapPoll(Options_, modules);
    }

    int Units()
    {
        std::vector<TModuleAddress> modules;
        int status = ExitOk;
        if (!Modules(0, modules, status))
            return status;
        return RunUnits(Options_, modules);
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
        // Every address at once by default: most of a range is silent, and silence costs a whole time-out.
        TFleetRunner runner(modules, single.Client, Jobs(modules.size(), true));
        size_t found = 0, failed = 0, done = 0;
        RunJobs(
            runner,
            [&](size_t index, TModuleClient& client, TFleetRunner::TFinish finish) {
                const auto begun = Clock::now();
                client.ReadModule([&, index, begun, finish](const TModuleResult& result, const TModuleInfo& info,
                                                            const TModuleConfig& config) {
                    // Listed so that nobody takes it for a module, and not counted as one.
                    if (NotAModule(result, info, config))
                        report.Module(modules[index], "scan", false, Ms(begun),
                                      NotAModuleDescription(result, info, config),
                                      NotAModuleJson(result, info, config));
                    else if (result.Ok()) {
                        ++found;
                        report.Module(modules[index], "scan", true, Ms(begun), InfoText(info, config),
                                      InfoJson(info, config));
                    } else if (result.Connection == TConnectionFailure::NoSocket) {
                        // Not silence: the address was never asked.
                        ++failed;
                        report.Module(modules[index], "scan", false, Ms(begun), FailureText(result),
                                      FailureJson(result));
                    }
                    finish();
                });
            },
            [&](size_t, double) { report.Progress(++done); });
        // Total counts the addresses asked for; a silent one is no module and no failure.
        report.Summary({modules.size(), found, failed, modules.size() - done, std::nullopt}, Seconds(started),
                       Interrupted() ? ", опрошено адресов " + std::to_string(done) + " из " +
                                           std::to_string(modules.size()) + " (прервано)"
                                     : ", опрошено адресов " + std::to_string(modules.size()));
        return failed > 0 ? ExitModuleFailed : found > 0 ? ExitOk : ExitNoneFound;
    }

    // --jobs, or DefaultJobs (allAtOnce: every module) without it; never past the descriptor limit.
    int Jobs(size_t modules, bool allAtOnce = false) const
    {
        const int requested = Options_.Jobs != 0 ? Options_.Jobs : allAtOnce ? int(modules) : DefaultJobs;
        return JobsWithinDescriptorLimit(requested, modules);
    }

    // The runner stops starting modules when the command is interrupted.
    void RunJobs(TFleetRunner& runner, const TFleetRunner::TJob& job, const TFleetRunner::TJobFinished& finished = {})
    {
        TCliInterruption interruption([&runner] { runner.Stop(); });
        Interruption_ = &interruption;
        std::vector<std::string> forPeople;
        std::vector<std::string> forScripts;
        for (const TModuleAddress& module : runner.Modules()) {
            forPeople.push_back("korvel-cli: " + module.Text() + ": " + UnknownOutcomeText + "\n");
            if (Options_.Json)
                forScripts.push_back(
                    QJsonDocument(ModuleLine(module, Options_.Command, false, 0,
                                             FailureJson(CliFailure(TReason::Interrupted, UnknownOutcomeText))))
                        .toJson(QJsonDocument::Compact)
                        .toStdString() +
                    "\n");
        }
        interruption.SetUnknownOutcomeLines(std::move(forPeople), std::move(forScripts));
        runner.Run(
            [&](size_t index, TModuleClient& client, TFleetRunner::TFinish finish) {
                interruption.Started(index);
                job(index, client, std::move(finish));
            },
            [&](size_t index, double ms) {
                interruption.Finished(index);
                if (finished)
                    finished(index, ms);
            });
        Interruption_ = nullptr;
        Signal_ = interruption.Signal();
        OutputLost_ = OutputLost_ || interruption.OutputLost();
    }

    bool Interrupted() const { return Signal_ != 0 || OutputLost_ || (Interruption_ && Interruption_->Stopped()); }

    static double Seconds(Clock::time_point begun)
    {
        return std::chrono::duration<double>(Clock::now() - begun).count();
    }

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
    bool OutputLost_ = false;                         // or the reader of stdout that went away
};

// Output lost on a full disk behind stdout is a failed write of a file like any other, and with it
// a configuration read to stdout; a status 0 would tell it as saved. So is a pipe whose reader went
// away, even when nothing more was written to it.
int OutputChecked(int status, bool lost = false)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout) && !lost)
        return status;
    std::fprintf(stderr, "korvel-cli: Ошибка записи в стандартный вывод\n");
    return ExitFileError;
}

}  // namespace

int RunCliCommand(const TCliOptions& options)
{
    if (options.Version || options.Help) {
        const TCliCommandSpec* command = FindCommand(options.Command);
        std::fputs((options.Version ? VersionText()
                    : command       ? CommandHelpText(*command)
                                    : UsageText())
                       .c_str(),
                   stdout);
        return OutputChecked(ExitOk);
    }
    TCli cli(options);
    const int run = cli.Run();
    const int status = OutputChecked(run, cli.OutputLost());
    cli.EndBySignal();
    return status;
}
