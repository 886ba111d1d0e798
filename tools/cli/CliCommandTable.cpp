#include "CliCommandTable.h"

#include "RConvert.h"

#include <algorithm>
#include <span>

namespace {

bool ParseNumber(const std::string& text, int min, int max, int& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || !IsValueInRange(text, min, max))
        return false;
    value = StrToIntDefault(text, min);
    return true;
}

// Apply for an option whose value is a whole number in a range.
auto Number(const char* name, int min, int max, std::function<void(int, TCliOptions&)> store)
{
    return [=](const std::string& value, TCliOptions& options, std::string& error) {
        int number = 0;
        if (!ParseNumber(value, min, max, number)) {
            error = "недопустимое значение " + std::string(name) + " " + value + ". Допускаются значения " +
                    std::to_string(min) + ".." + std::to_string(max);
            return false;
        }
        store(number, options);
        return true;
    };
}

// The names of a table's rows for the help, the one an option takes when not given marked.
template <class Row, class Value> std::string NamesWithDefault(std::span<const Row> rows, Value Row::*key, Value given)
{
    std::string names;
    for (const Row& row : rows)
        names += (names.empty() ? "" : ", ") + std::string(row.Name) + (row.*key == given ? " (по умолчанию)" : "");
    return names;
}

// The comma-separated items of a list value, an empty one included.
std::vector<std::string> ListItems(const std::string& value)
{
    std::vector<std::string> items;
    size_t from = 0;
    while (true) {
        const size_t comma = value.find(',', from);
        items.push_back(value.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (comma == std::string::npos)
            return items;
        from = comma + 1;
    }
}

auto Flag(std::function<void(TCliOptions&)> store)
{
    return [=](const std::string&, TCliOptions& options, std::string&) {
        store(options);
        return true;
    };
}

}  // namespace

const std::vector<std::string>& CommonOptions()
{
    static const std::vector<std::string> options{"--json", "--quiet", "--help", "--version"};
    return options;
}

const std::vector<TCliOptionSpec>& CliOptionTable()
{
    static const std::vector<TCliOptionSpec> table{
        {"--port", "", "N", false, "порт ModbusTCP для адресов без :ПОРТ (502), где бы ни стоял",
         Number("--port", 1, 65535, [](int n, TCliOptions& o) { o.Port = uint16_t(n); })},
        {"--timeout", "", "МС", true, "время ожидания ответа, мс (" + std::to_string(DefaultReplyTimeout) + ")",
         Number("--timeout", 1, 600000, [](int n, TCliOptions& o) { o.Client.TimeoutMs = n; })},
        {"--retries", "", "N", true, "число повторов запроса (" + std::to_string(DefaultTransmissions - 1) + ")",
         Number("--retries", 0, 255, [](int n, TCliOptions& o) { o.Client.Transmissions = n + 1; })},
        {"--jobs", "", "N", true, "модулей одновременно (64; scan: все адреса сразу), в пределах ulimit -n",
         Number("--jobs", 1, 4096, [](int n, TCliOptions& o) { o.Jobs = n; })},
        {"--hosts", "", "ФАЙЛ", true,
         "адреса модулей из файла, по одному в строке, # - комментарий; после адреса - значения только "
         "для этого модуля: РАЗДЕЛ/КЛЮЧ=ЗНАЧЕНИЕ ...; можно повторять",
         [](const std::string& value, TCliOptions& o, std::string&) {
             o.HostsFiles.push_back(value);
             return true;
         }},
        {"--output", "-o", "ПУТЬ", false, "файл или каталог для read, файл отчёта для report",
         [](const std::string& value, TCliOptions& o, std::string&) {
             o.Output = value;
             return true;
         }},
        {"--no-verify", "", "", false, "write и apply: не считывать конфигурацию после записи",
         Flag([](TCliOptions& o) { o.Verify = false; })},
        {"--set", "", "РАЗДЕЛ/КЛЮЧ=ЗНАЧЕНИЕ", true,
         "write и apply: значение поверх файла для всех модулей; можно повторять",
         [](const std::string& value, TCliOptions& o, std::string&) {
             o.Set.push_back(value);
             return true;
         }},
        {"--force", "", "", false, "write и apply: записывать и в устройство, не похожее на модуль",
         Flag([](TCliOptions& o) { o.Force = true; })},
        {"--unit", "", "N", false, "poll, units, set: адрес устройства на линии модуля (1..247)",
         Number("--unit", MinDeviceUnit, MaxDeviceUnit, [](int n, TCliOptions& o) { o.Device.Unit = n; })},
        {"--function", "", "F", false,
         "poll, units: функция чтения: 1 - катушки, 2 - дискретные входы, 3 - регистры хранения (по умолчанию), "
         "4 - входные регистры",
         Number("--function", FunctionReadCoils, FunctionReadInputRegisters,
                [](int n, TCliOptions& o) { o.Device.Function = n; })},
        {"--address", "", "A", false, "poll, units, set: начальный адрес, как в запросе, с нуля (units: 0)",
         Number("--address", 0, UINT16_MAX, [](int n, TCliOptions& o) { o.Device.Address = n; })},
        {"--count", "", "C", false, "poll: количество регистров или битов (по умолчанию: на одно значение типа)",
         Number("--count", 1, 2000, [](int n, TCliOptions& o) { o.Device.Count = n; })},
        {"--type", "", "ТИП", false,
         "poll, set: тип данных: " + NamesWithDefault(DataTypes(), &TDataTypeRow::Type, TCliDeviceOptions{}.Type),
         [](const std::string& value, TCliOptions& o, std::string& error) {
             const auto type = DataTypeFromName(value);
             if (!type)
                 error = "неизвестный тип данных " + value;
             o.Device.Type = type.value_or(TCliDeviceOptions{}.Type);
             o.Device.TypeGiven = true;
             return type.has_value();
         }},
        {"--order", "", "ПОРЯДОК", false,
         "poll, set: порядок слов и байтов многорегистровых типов: " +
             NamesWithDefault(WordOrders(), &TWordOrderRow::Order, TCliDeviceOptions{}.Order),
         [](const std::string& value, TCliOptions& o, std::string& error) {
             const auto order = WordOrderFromName(value);
             if (!order)
                 error = "неизвестный порядок слов " + value;
             o.Device.Order = order.value_or(TCliDeviceOptions{}.Order);
             return order.has_value();
         }},
        {"--interval", "", "МС", false, "poll: период опроса, мс (1000; 0 - сразу после ответа)",
         Number("--interval", 0, 3600000, [](int n, TCliOptions& o) { o.Device.IntervalMs = n; })},
        {"--samples", "", "K", false, "poll: число опросов каждого модуля (без него и --duration: до Ctrl+C)",
         Number("--samples", 1, 1000000000, [](int n, TCliOptions& o) { o.Device.Samples = n; })},
        {"--duration", "", "С", false, "poll: продолжительность опроса, с",
         Number("--duration", 1, 31536000, [](int n, TCliOptions& o) { o.Device.DurationS = n; })},
        {"--csv", "", "", false, "poll: вывод в формате CSV, строка на опрос",
         Flag([](TCliOptions& o) { o.Device.Csv = true; })},
        {"--units", "", "ОТ-ДО", false, "units: диапазон адресов устройств (1-247)",
         [](const std::string& value, TCliOptions& o, std::string& error) {
             const size_t dash = value.find('-');
             const std::string first = value.substr(0, dash);
             const std::string last = dash == std::string::npos ? first : value.substr(dash + 1);
             int from = 0, to = 0;
             if (!ParseNumber(first, MinDeviceUnit, MaxDeviceUnit, from) ||
                 !ParseNumber(last, MinDeviceUnit, MaxDeviceUnit, to) || from > to) {
                 error = "недопустимый диапазон адресов устройств " + value + ". Допускаются значения 1..247";
                 return false;
             }
             o.Device.FirstUnit = from;
             o.Device.LastUnit = to;
             o.Device.UnitsGiven = true;
             return true;
         }},
        {"--expect", "", "АДРЕСА", false,
         "units: адреса устройств, которые должны найтись на каждом модуле, через запятую (5,17,30); "
         "код возврата 1, если какого-то нет",
         [](const std::string& value, TCliOptions& o, std::string& error) {
             for (const std::string& item : ListItems(value)) {
                 int unit = 0;
                 if (!ParseNumber(item, MinDeviceUnit, MaxDeviceUnit, unit)) {
                     error = "недопустимый адрес устройства " + item + " в --expect. Допускаются значения 1..247";
                     return false;
                 }
                 o.Device.Expect.push_back(unit);
             }
             return true;
         }},
        {"--map", "", "ФАЙЛ", false, "poll, report: карта регистров (CSV) - именованные точки устройств на линиях",
         [](const std::string& value, TCliOptions& o, std::string&) {
             o.Device.MapFile = value;
             return true;
         }},
        {"--points", "", "ИМЕНА", false, "poll --map: только эти точки карты, имена через запятую",
         [](const std::string& value, TCliOptions& o, std::string& error) {
             o.Device.Points = ListItems(value);
             if (std::find(o.Device.Points.begin(), o.Device.Points.end(), std::string()) != o.Device.Points.end()) {
                 error = "пустое имя точки в --points " + value;
                 return false;
             }
             return true;
         }},
        {"--coil", "", "", false, "set: записать катушку (функция 5), ЗНАЧЕНИЕ 1 или 0",
         Flag([](TCliOptions& o) { o.Device.Coil = true; })},
        {"--json", "", "", true, "вывод в формате JSON Lines: по объекту на модуль и итоговый объект",
         Flag([](TCliOptions& o) { o.Json = true; })},
        {"--quiet", "", "", true,
         "выводить только ошибки и итог (diff: ничего, только код возврата; с --json не действует)",
         Flag([](TCliOptions& o) { o.Quiet = true; })},
        {"--help", "-h", "", true, "справка (вместе с командой: справка по команде)",
         Flag([](TCliOptions& o) { o.Help = true; })},
        {"--version", "", "", true, "версия программы", Flag([](TCliOptions& o) { o.Version = true; })},
    };
    return table;
}

const std::vector<TCliCommandSpec>& CliCommandTable()
{
    static const std::vector<TCliCommandSpec> table{
        {"info",
         {{"info HOST...", "версия ПО, MAC-адрес и перемычка каждого модуля"}},
         "Считывает информационный блок каждого модуля.",
         {"--port", "--timeout", "--retries", "--jobs", "--hosts"}},
        {"read",
         {{"read HOST [-o ФАЙЛ.ini]", "конфигурация модуля в виде INI-файла (без -o: на стандартный вывод)"},
          {"read HOST... -o КАТАЛОГ", "по файлу на модуль: КАТАЛОГ/<адрес>_<порт>.ini"}},
         "Считывает конфигурацию модулей. С --json без -o конфигурация входит в строку модуля.",
         {"--port", "--timeout", "--retries", "--jobs", "--hosts", "--output"}},
        {"write",
         {{"write ФАЙЛ.ini HOST...", "записать конфигурацию, затем считать и сравнить (--no-verify: без проверки)"}},
         "Записывает в каждый модуль конфигурацию из файла целиком (файл без части ключей не принимается), "
         "сначала убедившись, что устройство похоже на модуль.",
         {"--port", "--timeout", "--retries", "--jobs", "--hosts", "--no-verify", "--set", "--force"}},
        {"apply",
         {{"apply ФАЙЛ.ini HOST...", "записать только в те модули, конфигурация которых отличается от файла"}},
         "Считывает конфигурацию каждого модуля и записывает ключи файла, --set и строки модуля в файле --hosts "
         "только туда, где они отличаются или контрольная сумма неверна; остальные ключи модуль сохраняет. "
         "Адрес и TCP-порт модуля при нескольких модулях берутся только из файла --hosts.",
         {"--port", "--timeout", "--retries", "--jobs", "--hosts", "--no-verify", "--set", "--force"}},
        {"diff",
         {{"diff A B", "сравнить по полям; A и B: INI-файл или HOST"}},
         "Сравнивает две конфигурации по полям. Код возврата 0: совпадают, 1: различаются.",
         {"--port", "--timeout", "--retries"}},
        {"scan",
         {{"scan ДИАПАЗОН", "модули, отвечающие в диапазоне 10.0.0.0/24, 10.0.0.5-10.0.0.40 или по адресу 10.0.0.5"}},
         "Опрашивает все адреса диапазона сразу (не более 4096 адресов, одна попытка на адрес); ДИАПАЗОН "
         "может быть и одним адресом. Код возврата 1: ни один адрес не ответил как модуль.",
         {"--port", "--timeout", "--jobs"}},
        {"poll",
         {{"poll HOST... --unit N --address A [--count C] [--type ТИП] [--order ПОРЯДОК]",
           "опрос устройства на линии модуля: время, регистры, значения (--hosts: на всех модулях сразу)"},
          {"poll HOST... --map ФАЙЛ [--points ИМЯ,...]",
           "опрос точек карты регистров циклами: значения с единицами и состоянием каждой точки"}},
         "Опрашивает устройство с адресом N через модуль с периодом --interval: --samples раз, --duration "
         "секунд или до Ctrl+C. Строка (объект JSON, строка CSV) на каждый опрос каждого модуля. С --map "
         "опрашивает точки карты циклами, объединяя соседние регистры устройства в один запрос; строка на "
         "цикл каждого модуля: ИМЯ = ЗНАЧЕНИЕ ЕДИНИЦЫ, а для точки без ответа - причина или последнее "
         "значение с его возрастом (устарело). --csv - формат журнала окна: time, затем значение и "
         "состояние каждой точки.",
         {"--port", "--timeout", "--retries", "--hosts", "--unit", "--function", "--address", "--count", "--type",
          "--order", "--interval", "--samples", "--duration", "--csv", "--map", "--points"}},
        {"units",
         {{"units HOST... [--units 1-247] [--function F --address A] [--expect 5,17,30]",
           "поиск устройств на линиях модулей: каждый адрес опрашивается один раз"}},
         "Опрашивает адреса устройств по одному (линия обслуживает один запрос за раз), все модули сразу. "
         "Устройство найдено, если оно ответило, в том числе исключением. Если не ответило ни одно, называет "
         "настройки каналов модуля: роль, скорость, паритет и стоп-биты. Итог по каждому модулю; с --expect "
         "код возврата 1, если на каком-то модуле не найдены ожидаемые адреса (они названы).",
         {"--port", "--timeout", "--hosts", "--units", "--function", "--address", "--expect"}},
        {"map",
         {{"map check ФАЙЛ", "проверить карту регистров: все ошибки с номерами строк, ничего не отправляя"}},
         "Читает карту регистров и называет каждую ошибку: строку, столбец и причину. Код возврата 4, если "
         "ошибки есть; иначе число точек и запросы, которыми карта опрашивается.",
         {}},
        {"set",
         {{"set HOST --unit N --address A [--type ТИП --order ПОРЯДОК | --coil] ЗНАЧЕНИЕ",
           "записать значение в устройство на линии модуля и проверить чтением"}},
         "Записывает один регистр (функция 6), несколько регистров (16, для 32- и 64-битных типов и ascii) "
         "или катушку (5), затем считывает записанное и сравнивает.",
         {"--port", "--timeout", "--retries", "--unit", "--address", "--type", "--order", "--coil"}},
        {"report",
         {{"report HOST|ФАЙЛ.ini -o ОТЧЁТ.pdf|ОТЧЁТ.html", "отчёт о настройке модуля для печати и подписи"},
          {"report HOST --map ФАЙЛ [--units ОТ-ДО] -o ОТЧЁТ.pdf",
           "отчёт с разделом \"Устройства на линии\": найденные устройства и значения точек карты"}},
         "Считывает информацию и конфигурацию модуля (или берёт конфигурацию из файла) и сохраняет отчёт: поля "
         "с подписями окна программы, каналы в их режимах, сведения о модуле и проверку контрольной суммы, "
         "соединение, дату и место для подписи. Формат задаётся расширением файла -o: .pdf или .html. С --map "
         "отчёт получает раздел \"Устройства на линии\": один цикл опроса карты (значение, единицы и состояние "
         "каждой точки) и, с --units, устройства, найденные поиском в этом диапазоне.",
         {"--port", "--timeout", "--retries", "--output", "--map", "--units"}},
        {"help", {{"help [КОМАНДА]", "эта справка или справка по команде"}}, "", {}},
    };
    return table;
}

const TCliOptionSpec* FindOption(const std::string& nameOrShort)
{
    const auto& table = CliOptionTable();
    const auto it = std::find_if(table.begin(), table.end(), [&](const TCliOptionSpec& option) {
        return option.Name == nameOrShort || (!option.Short.empty() && option.Short == nameOrShort);
    });
    return it == table.end() ? nullptr : &*it;
}

const TCliCommandSpec* FindCommand(const std::string& name)
{
    const auto& table = CliCommandTable();
    const auto it =
        std::find_if(table.begin(), table.end(), [&](const TCliCommandSpec& command) { return command.Name == name; });
    return it == table.end() ? nullptr : &*it;
}

bool CommandTakes(const TCliCommandSpec& command, const TCliOptionSpec& option)
{
    const auto& common = CommonOptions();
    return std::find(common.begin(), common.end(), option.Name) != common.end() ||
           std::find(command.Options.begin(), command.Options.end(), option.Name) != command.Options.end();
}
