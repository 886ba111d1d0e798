#include "LocalDefines.h"

#include "ConfigFields.h"
#include "IniFile.h"
#include "ModuleDefaults.h"
#include "RConvert.h"
#include "WholeFile.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

const std::array<const char*, BaudRateCount> BaudRates = {
    "600",    "1200",   "2400",   "4800",   "9600",   "19200",  "38400",  "48000",  "57600",   "115200",
    "144000", "192000", "230400", "288000", "384000", "460800", "576000", "768000", "1152000", "2304000",
};

std::string IPToStr(const TIPAddress& address)
{
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." + std::to_string(address[2]) + "." +
           std::to_string(address[3]);
}

bool StrToIP(const std::string& text, TIPAddress& address)
{
    TIPAddress parsed{};
    std::string_view rest = text;
    for (size_t i = 0; i < parsed.size(); ++i) {
        // The last part ends at the end of the text; a dot after it would open a fifth part.
        const size_t dot = rest.find('.');
        const bool last = i + 1 == parsed.size();
        if (last != (dot == std::string_view::npos))
            return false;
        std::string part(rest.substr(0, dot));
        RemoveChars(part, IPBlankChars);
        if (!IsValueInRange(part, 0, 255))
            return false;
        parsed[i] = static_cast<uint8_t>(StrToIntDefault(part, 0));
        rest.remove_prefix(last ? rest.size() : dot + 1);
    }
    address = parsed;
    return true;
}

bool DecimalStrToIP(const std::string& text, TIPAddress& address)
{
    const bool decimalOnly = std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '.' || IPBlankChars.find(c) != std::string_view::npos;
    });
    return decimalOnly && StrToIP(text, address);
}

int BaudRateToIndex(const std::string& text)
{
    for (size_t i = 0; i < BaudRates.size(); ++i)
        if (text == BaudRates[i])
            return static_cast<int>(i);
    return DefaultBaudIndex;
}

const char* BaudRateText(size_t index)
{
    return BaudRates[index < BaudRates.size() ? index : DefaultBaudIndex];
}

uint16_t CRC16(const uint8_t* data, size_t count)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

void SetConfigCRC(TModuleConfig& config)
{
    config.CRC = CRC16(reinterpret_cast<const uint8_t*>(&config), ConfigCRCOffset);
}

namespace {

constexpr int32_t MaxParity = 2;

// The keys in the order a new file holds them: the sections in the table's order, each section's
// keys by their file position.
std::vector<TIniEntry> ConfigEntries(const TModuleConfig& config)
{
    std::vector<const TConfigField*> fields;
    for (const TConfigField& field : ConfigFields())
        fields.push_back(&field);
    std::stable_sort(fields.begin(), fields.end(), [](const TConfigField* a, const TConfigField* b) {
        return a->Channel != b->Channel ? a->Channel < b->Channel : a->FilePosition < b->FilePosition;
    });
    std::vector<TIniEntry> entries;
    for (const TConfigField* field : fields)
        entries.push_back({field->Section, field->Key, FieldIniText(config, *field)});
    return entries;
}

// Every field from its key, or its default when the key is missing or unusable.
template <class TIni> void ReadConfig(const TIni& ini, TModuleConfig& config)
{
    std::memset(&config, 0, sizeof config);
    for (const TConfigField& field : ConfigFields()) {
        const auto integer = [&](int32_t def) {
            return StrToIntDefault(ini.ReadString(field.Section, field.Key, ""), def);
        };
        const uint16_t def = FieldWord(FactoryDefaults, field);
        switch (field.Format) {
        case TFieldFormat::Address: {
            // Always ends with a valid address: the stored text if it converts, else the default.
            const TIPAddress defAddress = FieldAddress(FactoryDefaults, field);
            TIPAddress address{};
            if (!StrToIP(ini.ReadString(field.Section, field.Key, IPToStr(defAddress)), address))
                address = defAddress;
            SetFieldAddress(config, field, address);
            break;
        }
        case TFieldFormat::BaudRate:
            SetFieldWord(config, field,
                         uint16_t(BaudRateToIndex(ini.ReadString(field.Section, field.Key, BaudRateText(def)))));
            break;
        case TFieldFormat::Parity: {
            // A signed comparison: a negative value is kept as its low 16 bits.
            const int32_t parity = integer(def);
            SetFieldWord(config, field, uint16_t(parity > MaxParity ? 0 : parity));
            break;
        }
        case TFieldFormat::StopBits:
            // The file holds the code plus one: 1 for one stop bit, anything else for two.
            SetFieldWord(config, field, integer(def + 1) == 1 ? 0 : 1);
            break;
        case TFieldFormat::Number:
            // Kept as the low 16 bits, so 65536 becomes 0 and -1 becomes 65535.
            SetFieldWord(config, field, uint16_t(integer(def)));
            break;
        }
    }
}

}  // namespace

bool LoadConfigFromFile(const std::string& fileName, TModuleConfig& config)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(fileName, error))
        return false;
    // A file that cannot be read is refused, not taken for one without keys (the factory values).
    std::string text;
    if (ReadWholeFile(fileName, text) != TFileReadResult::Read)
        return false;
    ConfigFromIniText(text, config);
    return true;
}

void SaveConfigToFile(const std::string& fileName, TModuleConfig config)
{
    TIniFile(fileName).WriteStrings(ConfigEntries(config));
}

void ConfigFromIniText(const std::string& text, TModuleConfig& config)
{
    ReadConfig(TIniText(text), config);
}

std::string ConfigToIniText(const TModuleConfig& config, const std::string& existing)
{
    TIniText ini(existing);
    for (const TIniEntry& entry : ConfigEntries(config))
        ini.WriteString(entry.Section, entry.Key, entry.Value);
    return ini.Text();
}
