// The field table against the configuration file and the record, the factory record against the
// file reader, and the one rule of what the window's controls make of a record.
#include "BaudRates.h"
#include "ConfigFields.h"
#include "ConfigFile.h"
#include "ControlsFit.h"
#include "IniFile.h"
#include "ModuleDefaults.h"
#include "SampleConfig.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <string>

namespace {

const TConfigField& Field(const char* section, const char* key)
{
    return *FindConfigField(section, key);
}

// Where the module keeps each value in its configuration block: a field that the record or the
// table puts elsewhere would be written into another setting of the module.
struct TBlockPlace {
    const char* Key;
    size_t Offset;
    size_t Size;
};

const TBlockPlace NetworkPlaces[] = {
    {"ADDRESS", 0, 4},
    {"GATEWAY", 4, 4},
    {"NETMASK", 8, 4},
    {"TCP_PORT", 12, 2},
};

// Within a channel's part of the block, which starts at byte 18 + 34 * channel.
const TBlockPlace ChannelPlaces[] = {
    {"SLAVE_ADDRESS", 0, 2},  {"BAUDRATE", 2, 2},       {"PARITY", 4, 2},        {"STOPBITS", 6, 2},
    {"TIMEOUT", 8, 2},        {"REPLIES", 10, 2},       {"IP_ADDRESS_0", 12, 4}, {"IP_ADDRESS_1", 16, 4},
    {"ETH_RECV_TOUT", 20, 2}, {"ETH_CONN_TOUT", 22, 2}, {"TCP_PORT_0", 24, 2},   {"TCP_PORT_1", 26, 2},
};

void ExpectPlace(const std::string& section, const TBlockPlace& place, size_t partStart)
{
    const TConfigField* field = FindConfigField(section, place.Key);
    ASSERT_NE(field, nullptr) << section << "/" << place.Key;
    EXPECT_EQ(field->Offset, partStart + place.Offset) << section << "/" << place.Key;
    EXPECT_EQ(FieldSize(*field), place.Size) << section << "/" << place.Key;
}

}  // namespace

TEST(ConfigFieldTable, CoversEveryKeyOfTheFileOnce)
{
    std::set<std::pair<std::string, std::string>> keys;
    for (const TConfigField& field : ConfigFields())
        EXPECT_TRUE(keys.insert({field.Section, field.Key}).second) << field.Section << "/" << field.Key;
    EXPECT_EQ(keys.size(), 4u + 2u * 12u);
    EXPECT_EQ(ConfigFields().front().Label, "IP адрес");
    EXPECT_EQ(ConfigFields().back().Page, "RS-485 Канал 2");
}

TEST(ConfigFieldTable, EveryKeyLiesWhereTheModuleKeepsIt)
{
    for (const TBlockPlace& place : NetworkPlaces)
        ExpectPlace("IP", place, 0);
    for (size_t channel = 0; channel < ChannelCount; ++channel)
        for (const TBlockPlace& place : ChannelPlaces)
            ExpectPlace("CHANNEL_" + std::to_string(channel), place, 18 + 34 * channel);
    // The bytes between the fields are the module's reserved ones.
    EXPECT_EQ(offsetof(TModuleConfig, Reserved1), 14u);
    EXPECT_EQ(offsetof(TChannelConfig, Reserved), 28u);
    EXPECT_EQ(offsetof(TModuleConfig, Reserved2), 86u);
}

// The table's texts are what the configuration file holds, key by key.
TEST(ConfigFieldTable, IniTextsAreWhatTheFileHolds)
{
    const TTempFolder folder;
    const std::string fileName = folder.File("module.ini");
    const TModuleConfig config = DistinctConfig();
    SaveConfigToFile(fileName, config);
    const TIniFile ini(fileName);
    for (const TConfigField& field : ConfigFields())
        EXPECT_EQ(FieldIniText(config, field), ini.ReadString(field.Section, field.Key, "?")) << field.Key;
}

// Each field reaches exactly its own bytes: changing any one makes that field, and only it, differ.
TEST(ConfigFieldTable, EachFieldDiffersAlone)
{
    const TModuleConfig base = FactoryDefaults;
    for (const TConfigField& field : ConfigFields()) {
        TModuleConfig changed = base;
        reinterpret_cast<uint8_t*>(&changed)[field.Offset + 1] ^= 0x5A;
        const std::vector<const TConfigField*> differing = DifferingFields(base, changed);
        ASSERT_EQ(differing.size(), 1u) << field.Key;
        EXPECT_EQ(differing.front(), &field);
    }
    TModuleConfig reservedOnly = base;
    reservedOnly.Reserved2[3] = 7;
    reservedOnly.CRC = 99;
    EXPECT_TRUE(DifferingFields(base, reservedOnly).empty());
}

TEST(ConfigFieldTable, DisplayTextsNameTheParityAndKeepOddValuesVisible)
{
    TModuleConfig config = DistinctConfig();
    config.Channels[0].Parity = 7;
    config.Channels[0].BaudIndex = 25;
    const auto text = [&](const char* section, const char* key) {
        return FieldDisplayText(config, Field(section, key));
    };
    EXPECT_EQ(text("CHANNEL_1", "PARITY"), "ODD");
    EXPECT_EQ(text("CHANNEL_0", "PARITY"), "7");
    EXPECT_EQ(text("CHANNEL_1", "BAUDRATE"), "9600");
    EXPECT_EQ(text("CHANNEL_0", "BAUDRATE"), "индекс 25");  // not the rate a file would get
    EXPECT_EQ(text("CHANNEL_1", "STOPBITS"), "1");
    EXPECT_EQ(text("IP", "ADDRESS"), "10.0.0.5");
}

// A module holds only what its lists offer and a one-byte role; any value of the other fields may be
// a module's.
TEST(ConfigFieldTable, ImpossibleFieldsAreTheListsAndTheRoleOutOfTheirRange)
{
    struct TCase {
        const char* Key;
        uint16_t Last;  // the highest value a module holds
    };
    for (const TCase& c : {TCase{"BAUDRATE", uint16_t(BaudRateCount - 1)}, TCase{"PARITY", 2}, TCase{"STOPBITS", 1},
                           TCase{"SLAVE_ADDRESS", 255}}) {
        SCOPED_TRACE(c.Key);
        TModuleConfig config = FactoryDefaults;
        const TConfigField& field = Field("CHANNEL_1", c.Key);
        SetFieldWord(config, field, c.Last);
        EXPECT_TRUE(ImpossibleFields(config).empty());
        SetFieldWord(config, field, uint16_t(c.Last + 1));
        EXPECT_EQ(ImpossibleFields(config), std::vector<const TConfigField*>{&field});
    }
    TModuleConfig odd = FactoryDefaults;
    odd.Channels[0].Timeout = 0xFFFF;
    odd.Channels[0].Replies = 9;
    odd.TCPPort = 0;
    odd.CRC = 0x1234;
    EXPECT_TRUE(ImpossibleFields(odd).empty());
}

TEST(FactoryDefaults, AreWhatTheReaderGivesForAnEmptyFile)
{
    const TTempFolder folder;
    const std::string fileName = folder.File("empty.ini");
    SaveConfigToFile(fileName, FactoryDefaults);
    TModuleConfig fromFile{};
    ASSERT_TRUE(LoadConfigFromFile(fileName, fromFile));
    EXPECT_EQ(std::memcmp(&fromFile, &FactoryDefaults, sizeof fromFile), 0);

    const std::string emptyName = folder.File("nothing.ini");
    TIniFile(emptyName).WriteString("OTHER", "KEY", "1");
    TModuleConfig fromEmpty{};
    ASSERT_TRUE(LoadConfigFromFile(emptyName, fromEmpty));
    EXPECT_EQ(std::memcmp(&fromEmpty, &FactoryDefaults, sizeof fromEmpty), 0);
}

// In memory as in a file: the same record from the same text, the same text from the same record,
// and a save into text that holds more keeps it.
TEST(ConfigFieldTable, IniTextInMemoryIsWhatTheFileHolds)
{
    const TTempFolder folder;
    const std::string fileName = folder.File("module.ini");
    const std::string other = "[NOTES]\r\nWHO=me\r\n[CHANNEL_1]\r\nBAUDRATE=600\r\nOWN=1\r\n";
    WriteBytes(fileName, other);
    const TModuleConfig config = DistinctConfig();
    SaveConfigToFile(fileName, config);
    EXPECT_EQ(ConfigToIniText(config, other), ReadBytes(fileName));

    TModuleConfig fromText{}, fromFile{};
    ConfigFromIniText(ReadBytes(fileName), fromText);
    ASSERT_TRUE(LoadConfigFromFile(fileName, fromFile));
    EXPECT_EQ(std::memcmp(&fromText, &fromFile, sizeof fromText), 0);
    EXPECT_EQ(std::memcmp(&fromText, &config, ConfigCRCOffset), 0);
}

// What the window holds after showing a record and collecting it: a spin edit puts a value into its
// range, a list falls back to its first entry, the repeats' 0..0 refuses anything else with the
// window's message, and the held times and addresses pass as they are.
TEST(ControlsFit, PutsEachFieldThroughItsControl)
{
    struct TCase {
        const char* Section;
        const char* Key;
        uint16_t Shown;
        uint16_t Collected;
        const char* Refusal;  // nullptr: the collection takes it
    };
    const TCase cases[] = {
        {"IP", "TCP_PORT", 0, 1, nullptr},
        {"IP", "TCP_PORT", 65535, 65535, nullptr},
        {"CHANNEL_0", "SLAVE_ADDRESS", 300, 255, nullptr},
        {"CHANNEL_1", "TIMEOUT", 2, 5, nullptr},
        {"CHANNEL_1", "TIMEOUT", 1001, 1000, nullptr},
        {"CHANNEL_0", "TCP_PORT_1", 0, 1, nullptr},
        {"CHANNEL_0", "BAUDRATE", 20, 0, nullptr},
        {"CHANNEL_0", "PARITY", 65535, 0, nullptr},
        {"CHANNEL_1", "STOPBITS", 2, 0, nullptr},
        {"CHANNEL_0", "ETH_RECV_TOUT", 65535, 65535, nullptr},
        {"CHANNEL_1", "REPLIES", 0, 0, nullptr},
        {"CHANNEL_1", "REPLIES", 2, 2, "Недопустимое значение количества повторов 2. Допускаются значения 0..0"},
    };
    for (const TCase& c : cases) {
        const TConfigField& field = Field(c.Section, c.Key);
        TModuleConfig shown = FactoryDefaults;
        SetFieldWord(shown, field, c.Shown);
        shown.Reserved2[0] = 0x42;
        const TControlsFit fit = FitToControls(shown);
        EXPECT_EQ(FieldWord(fit.Collected, field), c.Collected) << c.Section << "/" << c.Key << "=" << c.Shown;
        EXPECT_EQ(fit.Collected.Reserved2[0], 0x42);
        if (c.Refusal) {
            EXPECT_EQ(fit.Refused, &field);
            EXPECT_EQ(fit.Message, c.Refusal);
        } else {
            EXPECT_EQ(fit.Refused, nullptr) << fit.Message;
            EXPECT_EQ(DifferingFields(shown, fit.Collected).size(), c.Collected == c.Shown ? 0u : 1u);
        }
    }
}

TEST(ConfigFieldTable, MessagesQuoteTheTextAndTheRangeAsTheWindowDoes)
{
    struct TCase {
        const char* Section;
        const char* Key;
        const char* Text;
        const char* Message;
    };
    const TCase cases[] = {
        {"IP", "ADDRESS", "300.0  .0  .1  ", "Недопустимое значение IP адреса !300.0  .0  .1  "},
        {"IP", "TCP_PORT", "0", "Недопустимое значение TCP порта !. Интервал допустимых значений 1..65535"},
        {"CHANNEL_1", "TCP_PORT_0", "", "Недопустимое значение TCP порта сервера 0 . Допускаются значения 1..65535"},
        {"CHANNEL_0", "IP_ADDRESS_1", " . . . ", "Недопустимое значение IP адреса сервера 1  . . . "},
        {"CHANNEL_0", "SLAVE_ADDRESS", "%range", "Недопустимое значение адреса %range. Допускаются значения 0..255"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(FieldCheckMessage(Field(c.Section, c.Key), c.Text), c.Message);
}
