#include "ExporterOptions.h"

#include "IPAddressText.h"
#include "ModuleAddress.h"
#include "RConvert.h"

#include <QString>

#include <algorithm>
#include <filesystem>
#include <functional>

namespace {

struct TOptionRow {
    const char* Name;
    const char* Value;  // empty for a flag
    const char* Help;
    std::function<bool(const std::string& value, TExporterOptions& options, std::string& error)> Apply;
};

auto Number(const char* name, int min, int max, std::function<void(int, TExporterOptions&)> store)
{
    return [=](const std::string& value, TExporterOptions& options, std::string& error) {
        if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
            !IsValueInRange(value, min, max)) {
            error = "недопустимое значение " + std::string(name) + " " + value + ". Допускаются значения " +
                    std::to_string(min) + ".." + std::to_string(max);
            return false;
        }
        store(StrToIntDefault(value, min), options);
        return true;
    };
}

auto Folder(const char* name, std::string TExporterSettings::*field)
{
    return [=](const std::string& value, TExporterOptions& options, std::string& error) {
        std::error_code code;
        if (!std::filesystem::is_directory(value, code)) {
            error = std::string(name) + ": " + value + " не является каталогом";
            return false;
        }
        options.Settings.*field = value;
        return true;
    };
}

bool ParseListen(const std::string& value, TExporterOptions& options, std::string& error)
{
    const size_t colon = value.rfind(':');
    const std::string address = colon == std::string::npos ? value : value.substr(0, colon);
    const std::string port = colon == std::string::npos ? "" : value.substr(colon + 1);
    TIPAddress ip{};
    const bool addressOk = address.empty() || StrToIP(address, ip);
    if (!addressOk || (!port.empty() && (port.find_first_not_of("0123456789") != std::string::npos ||
                                         !IsValueInRange(port, 0, 65535)))) {
        error = "неверный адрес --listen " + value + " (АДРЕС:ПОРТ, например 127.0.0.1:9502 или 0.0.0.0:9502)";
        return false;
    }
    if (!address.empty())
        options.Address = QHostAddress(QString::fromStdString(IPToStr(ip)));
    if (!port.empty())
        options.Port = uint16_t(StrToIntDefault(port, 0));
    return true;
}

const std::vector<TOptionRow>& OptionTable()
{
    static const std::vector<TOptionRow> table{
        {"--listen", "АДРЕС:ПОРТ",
         "где принимать запросы (127.0.0.1:9502); другой адрес, чем 127.0.0.1, - только если задан", ParseListen},
        {"--configs", "КАТАЛОГ", "эталонные конфигурации: config=ИМЯ - файл КАТАЛОГ/ИМЯ.ini",
         Folder("--configs", &TExporterSettings::ConfigFolder)},
        {"--maps", "КАТАЛОГ", "карты регистров: map=ИМЯ - файл КАТАЛОГ/ИМЯ.csv",
         Folder("--maps", &TExporterSettings::MapFolder)},
        {"--allow", "ДИАПАЗОН",
         "опрашивать только модули в диапазоне 10.0.0.0/24, 10.0.0.5-10.0.0.40 или по адресу 10.0.0.5; можно "
         "повторять (без него - любые)",
         [](const std::string& value, TExporterOptions& o, std::string& error) {
             uint32_t first = 0, last = 0;
             if (!ParseAddressSpan(value, first, last, error))
                 return false;
             o.Settings.Allowed.emplace_back(first, last);
             return true;
         }},
        {"--timeout", "МС", "время ожидания ответа модуля, мс (510)",
         Number("--timeout", 1, 600000, [](int n, TExporterOptions& o) { o.Settings.Probe.Client.TimeoutMs = n; })},
        {"--retries", "N", "число повторов запроса (2)",
         Number("--retries", 0, 255,
                [](int n, TExporterOptions& o) { o.Settings.Probe.Client.Transmissions = n + 1; })},
        {"--concurrency", "N", "модулей, опрашиваемых одновременно (64); остальные ждут очереди",
         Number("--concurrency", 1, 4096, [](int n, TExporterOptions& o) { o.Settings.Probe.Concurrency = n; })},
        {"--min-interval", "МС",
         "модуль, запрошенный снова раньше, чем через МС после конца его опроса, получает результат этого опроса (0)",
         Number("--min-interval", 0, 86400000, [](int n, TExporterOptions& o) { o.Settings.Probe.MinIntervalMs = n; })},
        {"--max-connections", "N", "открытых соединений HTTP не более (256)",
         Number("--max-connections", 1, 65536, [](int n, TExporterOptions& o) { o.Settings.Http.MaxConnections = n; })},
        {"--http-timeout", "МС", "время на запрос HTTP целиком и на простой соединения, мс (10000)",
         Number("--http-timeout", 100, 600000,
                [](int n, TExporterOptions& o) { o.Settings.Http.RequestTimeoutMs = n; })},
        {"--help", "", "эта справка",
         [](const std::string&, TExporterOptions& o, std::string&) { return o.Help = true; }},
        {"--version", "", "версия программы",
         [](const std::string&, TExporterOptions& o, std::string&) { return o.Version = true; }},
    };
    return table;
}

}  // namespace

bool ParseExporterOptions(const std::vector<std::string>& arguments, TExporterOptions& options, std::string& error)
{
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::string value;
        bool inlineValue = false;
        if (const size_t equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            inlineValue = true;
        }
        if (name == "-h")
            name = "--help";
        const auto& table = OptionTable();
        const auto row = std::find_if(table.begin(), table.end(), [&](const TOptionRow& s) { return name == s.Name; });
        if (row == table.end()) {
            error = "неизвестный параметр " + arguments[i];
            return false;
        }
        if (*row->Value && !inlineValue) {
            if (i + 1 == arguments.size()) {
                error = "параметру " + name + " нужно значение " + row->Value;
                return false;
            }
            value = arguments[++i];
        }
        if (!row->Apply(value, options, error))
            return false;
    }
    return true;
}

std::string ExporterHelp()
{
    std::string help =
        "Использование: korvel-exporter [ПАРАМЕТРЫ]\n"
        "Экспортёр Prometheus для модулей Korvel: опрашивает модуль при каждом запросе Prometheus и ничего\n"
        "в него не записывает.\n\n"
        "  /metrics                                 состояние самого экспортёра\n"
        "  /probe?target=HOST[:ПОРТ][&map=ИМЯ][&config=ИМЯ]\n"
        "        модуль: ответ, версия ПО, MAC, перемычка, контрольная сумма, совпадение с эталонной\n"
        "        конфигурацией; с картой - значение и состояние каждой точки устройств на линиях модуля\n\n"
        "Параметры:\n";
    for (const TOptionRow& row : OptionTable()) {
        const std::string left = std::string("  ") + row.Name + (*row.Value ? std::string(" ") + row.Value : "");
        // Padded by characters, not bytes: the values' names are Cyrillic.
        const size_t width = size_t(QString::fromStdString(left).size());
        help += left + std::string(width < 28 ? 30 - width : 2, ' ') + row.Help + "\n";
    }
    return help;
}
