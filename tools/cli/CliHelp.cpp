#include "CliHelp.h"

#include <QString>

namespace {

constexpr size_t SynopsisWidth = 28;
constexpr size_t OptionWidth = 18;

// "  name   text": the text starts in its column, or on the next line when the name fills it.
// Columns count characters, not bytes: the texts are Russian.
std::string TwoColumns(const std::string& name, size_t width, const std::string& text)
{
    const size_t length = size_t(QString::fromStdString(name).size());
    const std::string gap = length < width ? std::string(width - length, ' ') : "\n" + std::string(width + 2, ' ');
    return "  " + name + gap + text + "\n";
}

std::string OptionLines(const std::vector<const TCliOptionSpec*>& options)
{
    std::string lines;
    for (const TCliOptionSpec* option : options) {
        std::string name = option->Short.empty() ? option->Name : option->Short + ", " + option->Name;
        if (!option->Value.empty())
            name += " " + option->Value;
        lines += TwoColumns(name, OptionWidth, option->Help);
    }
    return lines;
}

const char* HostText = "HOST: IPv4-адрес в десятичной записи, с необязательным :ПОРТ.\n";

const char* ExitStatusText = R"(Код возврата:
  0  все модули обработаны успешно (diff: конфигурации совпадают)
  1  diff: конфигурации различаются; scan: ни один адрес не ответил как модуль
  2  ошибка в командной строке
  3  хотя бы один модуль не ответил, ответил исключением или не прошел проверку
  4  файл не удалось прочитать или записать, или в нем недопустимое значение
)";

}  // namespace

std::string UsageText()
{
    std::string text = "Использование: korvel-cli [ПАРАМЕТРЫ] КОМАНДА ...\n\n"
                       "Настройка модулей Korvel по ModbusTCP из командной строки, по одному или парком.\n\n"
                       "Команды:\n";
    for (const TCliCommandSpec& command : CliCommandTable())
        for (const TCliUsageLine& line : command.Usage)
            text += TwoColumns(line.Synopsis, SynopsisWidth, line.Summary);
    text += std::string("\n") + HostText + "\nПараметры:\n";
    std::vector<const TCliOptionSpec*> options;
    for (const TCliOptionSpec& option : CliOptionTable())
        options.push_back(&option);
    text += OptionLines(options);
    return text + "\n" + ExitStatusText;
}

std::string CommandHelpText(const TCliCommandSpec& command)
{
    std::string text;
    for (const TCliUsageLine& line : command.Usage)
        text += (text.empty() ? "Использование: korvel-cli " : "               korvel-cli ") + line.Synopsis + "\n";
    text += "\n";
    for (const TCliUsageLine& line : command.Usage) {
        // The list's summary starts a sentence here.
        const QString summary = QString::fromStdString(line.Summary);
        text += (summary.left(1).toUpper() + summary.mid(1)).toStdString() + ".\n";
    }
    if (!command.Details.empty())
        text += command.Details + "\n";
    std::vector<const TCliOptionSpec*> options;
    for (const TCliOptionSpec& option : CliOptionTable())
        if (CommandTakes(command, option))
            options.push_back(&option);
    text += "\nПараметры:\n" + OptionLines(options);
    return text + "\n" + ExitStatusText;
}

std::string VersionText()
{
    return std::string("korvel-cli ") + KORVEL_VERSION + "\n";
}
