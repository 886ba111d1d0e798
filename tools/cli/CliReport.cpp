#include "CliReport.h"

#include "CliJsonLine.h"
#include "CliOptions.h"

#include <QJsonDocument>

#include <cerrno>
#include <cstdio>
#include <string>

#include <unistd.h>

namespace {

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

QJsonValue FieldJson(const TModuleConfig& config, const TConfigField& field)
{
    // A baud index past the table has no rate to tell; the file's text would be another rate.
    if (field.Format == TFieldFormat::BaudRate && !FieldPossible(config, field))
        return QJsonValue::Null;
    const std::string text = FieldIniText(config, field);
    if (field.Format == TFieldFormat::Address)
        return Text(text);
    return std::stoi(text);
}

std::string Padded(std::string text, size_t width, bool right)
{
    if (text.size() < width)
        text.insert(right ? 0 : text.size(), width - text.size(), ' ');
    return text;
}

std::string Fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals).toStdString();
}

}  // namespace

QJsonObject ConfigJson(const TModuleConfig& config)
{
    QJsonObject sections;
    for (const TConfigField& field : ConfigFields()) {
        QJsonObject section = sections.value(Text(field.Section)).toObject();
        section.insert(Text(field.Key), FieldJson(config, field));
        sections.insert(Text(field.Section), section);
    }
    return sections;
}

QJsonArray DifferencesJson(const std::vector<const TConfigField*>& fields, const TModuleConfig& first,
                           const char* firstName, const TModuleConfig& second, const char* secondName)
{
    QJsonArray differences;
    for (const TConfigField* field : fields)
        differences.append(QJsonObject{{"section", Text(field->Section)},
                                       {"key", Text(field->Key)},
                                       {firstName, FieldJson(first, *field)},
                                       {secondName, FieldJson(second, *field)}});
    return differences;
}

int ReportRunFailure(bool json, const std::string& command, const TCliFailure& failure, int exitStatus)
{
    if (failure.Reason == TReason::Usage)
        std::fprintf(stderr, "korvel-cli: %s\n\n%s\n", failure.Text.c_str(), HelpPointer(command).c_str());
    else
        std::fprintf(stderr, "korvel-cli: %s\n", failure.Text.c_str());
    if (json) {
        std::fputs(QJsonDocument(RunLine(command, false, 0, FailureJson(failure))).toJson(QJsonDocument::Compact),
                   stdout);
        std::fputc('\n', stdout);
    }
    return exitStatus;
}

TCliReport::TCliReport(bool json, bool quiet, size_t moduleCount, bool stdoutTaken)
    : Json_(json)
    , Quiet_(quiet)
    , ModuleCount_(moduleCount)
    , Lines_(stdoutTaken ? stderr : stdout)
    , ShowProgress_(!quiet && moduleCount > 1 && isatty(STDERR_FILENO))
{
    StdoutTimer_.setSingleShot(true);
    QObject::connect(&StdoutTimer_, &QTimer::timeout, [this] { Flush(); });
}

void TCliReport::Module(const TModuleAddress& module, const std::string& command, bool ok, double ms,
                        const std::string& text, QJsonObject fields)
{
    if (Json_) {
        Json(ModuleLine(module, command, ok, ms, std::move(fields)));
        return;
    }
    if (Quiet_ && ok)
        return;
    Line(Padded(module.Address, 15, false) + " " + Padded(std::to_string(module.Port), 5, true) + "  " + text + "  " +
         Fixed(ms, 1) + " мс");
}

void TCliReport::Json(const QJsonObject& object)
{
    Put(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(), stdout);
}

void TCliReport::Line(const std::string& text)
{
    if (Json_)
        return;
    Put(text, Lines_);
}

void TCliReport::Put(const std::string& line, FILE* to)
{
    ClearProgress();
    // Once the reader of a pipe has gone, what is left to tell goes to stderr: a module written
    // after that is still told somewhere.
    if (to == stdout && StdoutClosed_)
        to = stderr;
    std::fputs(line.c_str(), to);
    std::fputc('\n', to);
    if (to == stdout && StdoutDelay_.count() > 0) {
        if (!StdoutTimer_.isActive())
            StdoutTimer_.start(StdoutDelay_);
        return;
    }
    if (std::fflush(to) == 0 || to != stdout || errno != EPIPE)
        return;
    StdoutClosed_ = true;
    Put(line, stderr);
}

void TCliReport::SetStdoutDelay(std::chrono::milliseconds delay)
{
    StdoutDelay_ = delay;
}

void TCliReport::Flush()
{
    StdoutTimer_.stop();
    // Lines that waited for a reader who has gone are lost with it; those told later go to stderr.
    if (std::fflush(stdout) != 0 && errno == EPIPE)
        StdoutClosed_ = true;
}

void TCliReport::Error(const std::string& text)
{
    ClearProgress();
    std::fprintf(stderr, "korvel-cli: %s\n", text.c_str());
}

void TCliReport::Progress(size_t done)
{
    if (!ShowProgress_)
        return;
    std::fprintf(stderr, "\r%zu/%zu", done, ModuleCount_);
    std::fflush(stderr);
    ProgressShown_ = true;
}

void TCliReport::ClearProgress()
{
    if (!ProgressShown_)
        return;
    std::fputs("\r\033[K", stderr);
    ProgressShown_ = false;
}

void TCliReport::Summary(const TRunCounts& counts, double seconds, const std::string& extra)
{
    ClearProgress();
    if (Json_) {
        Json(SummaryLine(counts, seconds * 1000));
        return;
    }
    Line("Итого: модулей " + std::to_string(counts.Succeeded + counts.Failed) + ", успешно " +
         std::to_string(counts.Succeeded) + ", с ошибкой " + std::to_string(counts.Failed) + extra + ", " +
         Fixed(seconds, 2) + " с");
}
