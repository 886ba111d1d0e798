#include "ConfigFileCheck.h"

#include "ConfigFields.h"
#include "IniFile.h"
#include "RConvert.h"

#include <filesystem>
#include <fstream>
#include <string_view>

namespace {

// No value read from a line can hold a line end, so this stands for a missing key.
const std::string Missing = "\n";

bool IsAcceptedValue(const TConfigField& field, const std::string& value)
{
    switch (field.Format) {
    case TFieldFormat::Address: {
        TIPAddress address{};
        return StrToIP(value, address);
    }
    case TFieldFormat::BaudRate:
        for (const char* rate : BaudRates)
            if (value == rate)
                return true;
        return false;
    case TFieldFormat::Parity: return IsValueInRange(value, 0, 2);
    case TFieldFormat::StopBits: return IsValueInRange(value, 1, 2);
    case TFieldFormat::Number: break;
    }
    return IsValueInRange(value, 0, 65535);
}

// A byte-order mark before the first section's header hides that header from the reader, which then
// puts its defaults in place of every value of that section.
bool ByteOrderMarkHidesFirstSection(const std::string& fileName)
{
    char head[4] = {};
    std::ifstream(fileName, std::ios::binary).read(head, sizeof head);
    return std::string_view(head, sizeof head) == "\xEF\xBB\xBF[";
}

}  // namespace

TConfigFileState LoadCheckedConfig(const std::string& fileName, TModuleConfig& config, std::string& error)
{
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(fileName, ignored) || !std::ifstream(fileName)) {
        error = "Ошибка открытия файла " + fileName;
        return TConfigFileState::Unreadable;
    }
    if (ByteOrderMarkHidesFirstSection(fileName)) {
        error = "Файл " + fileName +
                " начинается с метки порядка байтов (BOM), из-за которой его первый раздел не читается";
        return TConfigFileState::BadValue;
    }
    const TIniFile ini(fileName);
    int present = 0;
    for (const TConfigField& field : ConfigFields()) {
        const std::string value = ini.ReadString(field.Section, field.Key, Missing);
        if (value == Missing)
            continue;
        ++present;
        if (!IsAcceptedValue(field, value)) {
            error = "Недопустимое значение [" + field.Section + "] " + field.Key + "=" + value + " в файле " + fileName;
            return TConfigFileState::BadValue;
        }
    }
    if (present == 0) {
        error = "Файл " + fileName + " не содержит конфигурации модуля";
        return TConfigFileState::BadValue;
    }
    if (!LoadConfigFromFile(fileName, config)) {
        error = "Ошибка открытия файла " + fileName;
        return TConfigFileState::Unreadable;
    }
    return TConfigFileState::Ok;
}
