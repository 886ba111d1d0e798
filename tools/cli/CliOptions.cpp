#include "CliOptions.h"

#include "RConvert.h"

#include <set>

namespace {

const std::set<std::string> Commands{"info", "read", "write", "apply", "diff", "scan"};

bool ParseNumber(const std::string& text, int min, int max, int& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || !IsValueInRange(text, min, max))
        return false;
    value = StrToIntDefault(text, min);
    return true;
}

}  // namespace

std::string UsageText()
{
    return R"(Использование: korvel-cli [ПАРАМЕТРЫ] КОМАНДА ...

Настройка модулей Korvel по ModbusTCP из командной строки, по одному или парком.

Команды:
  info HOST...                версия ПО, MAC-адрес и перемычка каждого модуля
  read HOST [-o ФАЙЛ.ini]     конфигурация модуля в виде INI-файла (без -o: на стандартный вывод)
  read HOST... -o КАТАЛОГ     по файлу на модуль: КАТАЛОГ/<адрес>_<порт>.ini
  write ФАЙЛ.ini HOST...      записать конфигурацию, затем считать и сравнить (--no-verify: без проверки)
  apply ФАЙЛ.ini HOST...      записать только в те модули, конфигурация которых отличается от файла
  diff A B                    сравнить по полям; A и B: INI-файл или HOST
  scan ДИАПАЗОН               модули, отвечающие в диапазоне 10.0.0.0/24 или 10.0.0.5-10.0.0.40
                              (не более 4096 адресов, одна попытка на адрес)

HOST: IPv4-адрес в десятичной записи, с необязательным :ПОРТ.

Параметры:
  --port N          порт ModbusTCP по умолчанию (502)
  --timeout МС      время ожидания ответа, мс ()" +
           std::to_string(DefaultReplyTimeout) + R"()
  --retries N       число повторов запроса ()" +
           std::to_string(DefaultTransmissions - 1) + R"()
  --jobs N          модулей одновременно (64)
  --hosts ФАЙЛ      адреса модулей из файла, по одному в строке, # - комментарий
  -o, --output ПУТЬ файл или каталог для read
  --no-verify       write и apply: не считывать конфигурацию после записи
  --json            вывод в формате JSON Lines: по объекту на модуль
  --quiet           выводить только ошибки и итог
  -h, --help        эта справка

Код возврата:
  0  все модули обработаны успешно (diff: конфигурации совпадают)
  1  diff: конфигурации различаются
  2  ошибка в командной строке
  3  хотя бы один модуль не ответил, ответил исключением или не прошел проверку
  4  файл не удалось прочитать или записать, или в нем недопустимое значение
)";
}

bool ParseCommandLine(const std::vector<std::string>& arguments, TCliOptions& options, std::string& error)
{
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= arguments.size()) {
                error = "параметру " + argument + " нужно значение";
                return false;
            }
            out = arguments[++i];
            return true;
        };
        const auto number = [&](int min, int max, int& out) {
            std::string text;
            if (!value(text))
                return false;
            if (!ParseNumber(text, min, max, out)) {
                error = "недопустимое значение " + argument + " " + text + ". Допускаются значения " +
                        std::to_string(min) + ".." + std::to_string(max);
                return false;
            }
            return true;
        };
        int port = 0;
        if (argument == "-h" || argument == "--help") {
            options.Help = true;
        } else if (argument == "--port") {
            if (!number(1, 65535, port))
                return false;
            options.Port = uint16_t(port);
        } else if (argument == "--timeout") {
            if (!number(1, 600000, options.Client.TimeoutMs))
                return false;
        } else if (argument == "--retries") {
            int retries = 0;
            if (!number(0, 255, retries))
                return false;
            options.Client.Transmissions = retries + 1;
        } else if (argument == "--jobs") {
            if (!number(1, 4096, options.Jobs))
                return false;
        } else if (argument == "--hosts") {
            if (!value(options.HostsFile))
                return false;
        } else if (argument == "-o" || argument == "--output") {
            if (!value(options.Output))
                return false;
        } else if (argument == "--no-verify") {
            options.Verify = false;
        } else if (argument == "--json") {
            options.Json = true;
        } else if (argument == "--quiet") {
            options.Quiet = true;
        } else if (argument.size() > 1 && argument[0] == '-') {
            error = "неизвестный параметр " + argument;
            return false;
        } else if (options.Command.empty()) {
            options.Command = argument;
        } else {
            options.Operands.push_back(argument);
        }
    }
    if (options.Help)
        return true;
    if (options.Command.empty()) {
        error = "не задана команда";
        return false;
    }
    if (!Commands.count(options.Command)) {
        error = "неизвестная команда " + options.Command;
        return false;
    }
    return true;
}
