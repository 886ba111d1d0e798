#include "ConfigFileCheck.h"

#include "BaudRates.h"
#include "CommandFile.h"
#include "ConfigFields.h"
#include "ConfigFile.h"
#include "ControlsFit.h"
#include "IPAddressText.h"
#include "IniText.h"
#include "RConvert.h"

#include <cctype>
#include <optional>
#include <set>
#include <string_view>

namespace {

// No value read from a line can hold a line end, so this stands for a missing key.
const std::string Missing = "\n";

// A byte-order mark before the first section's header hides that header from the reader, which then
// puts its defaults in place of every value of that section.
bool ByteOrderMarkHidesFirstSection(std::string_view text)
{
    return text.substr(0, 4) == "\xEF\xBB\xBF[";
}

// The record value the file's text stands for: the word of a number, the index of a rate, the code of
// the stop bits; nothing when the reader would not take the text at all.
std::optional<int64_t> MeantValue(const TConfigField& field, const std::string& text)
{
    if (field.Format == TFieldFormat::BaudRate) {
        for (size_t i = 0; i < BaudRateCount; ++i)
            if (text == BaudRates[i])
                return int64_t(i);
        return std::nullopt;
    }
    const std::optional<int32_t> number = ParseIntegerText(text);
    if (!number)
        return std::nullopt;
    return field.Format == TFieldFormat::StopBits ? int64_t(*number) - 1 : int64_t(*number);
}

// The range as the file writes it: the stop bits as 1..2.
std::string FileRangeText(const TConfigField& field)
{
    const int32_t shift = field.Format == TFieldFormat::StopBits ? 1 : 0;
    return std::to_string(field.Min + shift) + ".." + std::to_string(field.Max + shift);
}

std::string KeyText(const TConfigField& field)
{
    return "[" + field.Section + "] " + field.Key;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Upper case, letters and digits only: "Channel 0" and "CHANNEL_0" fold alike.
std::string Folded(const std::string& name)
{
    std::string folded;
    for (const char c : name)
        if (std::isalnum(static_cast<unsigned char>(c)))
            folded += char(std::toupper(static_cast<unsigned char>(c)));
    return folded;
}

// The table's section the reader takes the name for (without regard to case), or empty.
std::string ConfigSection(const std::string& name)
{
    const std::string upper = Upper(name);
    for (const TConfigField& field : ConfigFields())
        if (field.Section == upper)
            return field.Section;
    return {};
}

// A section meant for the configuration that the reader passes over: "CHANNEL0", "Channel-1", "IP_",
// or a channel of another number. Any other section is someone's own ([NOTES]), which the window
// keeps, and is left alone.
bool MisspelledSection(const std::string& name)
{
    const std::string folded = Folded(name);
    return folded == "IP" || folded.starts_with("CHAN");
}

// Every key line of the configuration's sections is a key of the table, and each of them and each of
// those sections comes once; a section meant for them is spelled as the reader takes it. The reader
// passes over anything else without a word: a typo would leave the module's value as it was.
bool CheckConfigNames(const TIniText& ini, const std::string& where, std::string& error)
{
    std::set<std::string> sections;
    std::set<const TConfigField*> keys;
    std::string section;  // the table's, while inside one of its sections
    for (const TIniText::TEntry& entry : ini.Entries()) {
        const std::string at = where + ", строка " + std::to_string(entry.Line);
        if (entry.Key.empty()) {
            section = ConfigSection(entry.Section);
            if (section.empty() && MisspelledSection(entry.Section))
                error = "Неизвестный раздел [" + entry.Section + "] " + at;
            else if (!section.empty() && !sections.insert(section).second)
                error = "Раздел [" + section + "] повторяется " + at + ": читается только первый";
        } else if (!section.empty()) {
            const TConfigField* field = FindConfigField(section, Upper(entry.Key));
            if (!field)
                error = "Неизвестный ключ [" + section + "] " + entry.Key + " " + at;
            else if (!keys.insert(field).second)
                error = "Ключ " + KeyText(*field) + " повторяется " + at + ": читается только первый";
        }
        if (!error.empty())
            return false;
    }
    return true;
}

}  // namespace

TConfigFileState LoadCheckedConfig(const std::string& fileName, TCheckedConfig& config, std::string& error)
{
    std::string text;
    if (!ReadCommandFile(fileName, text, error))
        return TConfigFileState::Unreadable;
    if (ByteOrderMarkHidesFirstSection(text)) {
        error = "Файл " + fileName +
                " начинается с метки порядка байтов (BOM), из-за которой его первый раздел не читается";
        return TConfigFileState::BadValue;
    }
    const TConfigFileState state = CheckConfigText(text, "в файле " + fileName, config, error);
    if (state == TConfigFileState::Ok && config.Held.empty()) {
        error = "Файл " + fileName + " не содержит конфигурации модуля";
        return TConfigFileState::BadValue;
    }
    return state;
}

TConfigFileState CheckConfigText(const std::string& text, const std::string& where, TCheckedConfig& config,
                                 std::string& error)
{
    const TIniText ini(text);
    if (!CheckConfigNames(ini, where, error))
        return TConfigFileState::BadValue;
    TModuleConfig loaded{};
    ConfigFromIniText(text, loaded);
    const TControlsFit fit = FitToControls(loaded);
    if (fit.Refused) {
        error = fit.Message + " (" + KeyText(*fit.Refused) + " " + where + ")";
        return TConfigFileState::BadValue;
    }
    std::vector<const TConfigField*> held;
    for (const TConfigField& field : ConfigFields()) {
        const std::string value = ini.ReadString(field.Section, field.Key, Missing);
        if (value == Missing)
            continue;
        held.push_back(&field);
        const std::string bad = "Недопустимое значение " + KeyText(field) + "=" + value + " " + where;
        if (field.Format == TFieldFormat::Address) {
            TIPAddress address{};
            if (!StrToIP(value, address)) {
                error = bad;
                return TConfigFileState::BadValue;
            }
            continue;
        }
        const std::optional<int64_t> meant = MeantValue(field, value);
        if (!meant) {
            error = bad;
            return TConfigFileState::BadValue;
        }
        // The window would show, and send, another value than the file's: a fleet must not.
        if (*meant != FieldWord(fit.Collected, field)) {
            error = bad + ": допускаются значения " + FileRangeText(field);
            return TConfigFileState::BadValue;
        }
    }
    config.Config = fit.Collected;
    config.Held = std::move(held);
    return TConfigFileState::Ok;
}
