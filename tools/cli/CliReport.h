#pragma once
// What korvel-cli tells: one line per module for people (or one JSON object with --json) on
// stdout, a progress line on stderr when that is a terminal, messages on stderr, and a summary.

#include "CliJsonLine.h"
#include "CliOutcome.h"
#include "ConfigFields.h"
#include "ModuleAddress.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

// The configuration keyed like its INI file: {"IP":{"ADDRESS":"192.168.127.10",...},"CHANNEL_0":...};
// addresses are strings, every other value a number.
QJsonObject ConfigJson(const TModuleConfig& config);
// [{"section":..,"key":..,<firstName>:..,<secondName>:..}] for the given fields.
QJsonArray DifferencesJson(const std::vector<const TConfigField*>& fields, const TModuleConfig& first,
                           const char* firstName, const TModuleConfig& second, const char* secondName);

// A failure of the whole run before any module is asked (usage, a file): the message on stderr,
// for usage with the pointer to the command's help, and with --json its line on stdout. Answers
// exitStatus.
int ReportRunFailure(bool json, const std::string& command, const TCliFailure& failure, int exitStatus);

class TCliReport {
public:
    // stdoutTaken: stdout carries the result itself (a configuration file), so the lines for
    // people go to stderr.
    TCliReport(bool json, bool quiet, size_t moduleCount, bool stdoutTaken = false);

    // The module's outcome. For people: the address, the port, then the text; failures are
    // printed even with --quiet. For JSON: fields plus host, port, command, ok and ms.
    void Module(const TModuleAddress& module, const std::string& command, bool ok, double ms, const std::string& text,
                QJsonObject fields);
    void Json(const QJsonObject& object);
    void Line(const std::string& text);   // for people only
    void Error(const std::string& text);  // stderr, always
    void Progress(size_t done);
    // For people: the modules told, how many succeeded and failed, then extra; with --json the
    // summary line.
    void Summary(const TRunCounts& counts, double seconds, const std::string& extra = {});
    // A run whose every module succeeded or failed.
    void Summary(size_t succeeded, size_t failed, double seconds, const std::string& extra = {})
    {
        Summary({succeeded + failed, succeeded, failed, 0, std::nullopt}, seconds, extra);
    }

    bool IsJson() const { return Json_; }

    // Lines for stdout may wait up to delay to be written together: a fast poll then writes a block
    // at a time rather than a system call a sample, and a reader at the other end of a pipe is woken
    // as often. Zero, the default: each line is written at once. Meant for stdout that is no terminal.
    void SetStdoutDelay(std::chrono::milliseconds delay);
    // Writes the lines that wait.
    void Flush();

private:
    void ClearProgress();
    void Put(const std::string& line, FILE* to);

    bool Json_;
    bool Quiet_;
    size_t ModuleCount_;
    FILE* Lines_;
    bool ShowProgress_;
    bool ProgressShown_ = false;
    bool StdoutClosed_ = false;
    std::chrono::milliseconds StdoutDelay_{0};
    QTimer StdoutTimer_;
};
