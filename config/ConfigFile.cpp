#include "ConfigFile.h"

#include "BaudRates.h"
#include "ConfigFields.h"
#include "IPAddressText.h"
#include "IniFile.h"
#include "ModuleDefaults.h"
#include "RConvert.h"
#include "WholeFile.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

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
