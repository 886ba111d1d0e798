#include "CliReport.h"

#include "CliJsonLine.h"

#include <QJsonDocument>

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

TCliReport::TCliReport(bool json, bool quiet, size_t moduleCount, bool stdoutTaken)
    : Json_(json)
    , Quiet_(quiet)
    , ModuleCount_(moduleCount)
    , Lines_(stdoutTaken ? stderr : stdout)
    , ShowProgress_(!quiet && moduleCount > 1 && isatty(STDERR_FILENO))
{}

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
    ClearProgress();
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void TCliReport::Line(const std::string& text)
{
    if (Json_)
        return;
    ClearProgress();
    std::fputs(text.c_str(), Lines_);
    std::fputc('\n', Lines_);
    std::fflush(Lines_);
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

void TCliReport::Summary(size_t succeeded, size_t failed, double seconds, const std::string& extra)
{
    ClearProgress();
    if (Json_)
        return;
    Line("Итого: модулей " + std::to_string(succeeded + failed) + ", успешно " + std::to_string(succeeded) +
         ", с ошибкой " + std::to_string(failed) + extra + ", " + Fixed(seconds, 2) + " с");
}
