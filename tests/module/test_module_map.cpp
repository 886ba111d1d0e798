// The module's block layouts as the other programs read them: the information block decoded, the
// field table against the configuration file and the record, the factory record against the
// file reader.
#include "ConfigFields.h"
#include "IniFile.h"
#include "ModuleDefaults.h"
#include "ModuleInfo.h"
#include "ModuleRegisters.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstring>
#include <set>

namespace {

TModuleInfo InfoOf(uint16_t version, std::array<uint8_t, 6> mac, uint8_t flags)
{
    TModuleInfo info{};
    info.Version = version;
    std::memcpy(info.MAC, mac.data(), mac.size());
    info.Flags = flags;
    return info;
}

TModuleConfig DistinctConfig()
{
    TModuleConfig config = FactoryDefaults;
    config.Address = {10, 0, 0, 5};
    config.TCPPort = 1502;
    config.Channels[1].SlaveAddress = 17;
    config.Channels[1].BaudIndex = 4;
    config.Channels[1].Parity = 1;
    config.Channels[1].StopBits = 0;
    config.Channels[0].TCPPort1 = 5021;
    return config;
}

}  // namespace

TEST(ModuleInfoText, DecodesAsTheInformationWindowShowsIt)
{
    struct TCase {
        TModuleInfo Info;
        const char* Firmware;
        const char* Mac;
        bool Jumper;
    };
    const TCase cases[] = {
        {InfoOf(0x0103, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, 0x01), "1.3", "12-34-56-78-9A-BC", true},
        {InfoOf(0x0000, {0, 0, 0, 0, 0, 0}, 0x00), "0.0", "00-00-00-00-00-00", false},
        {InfoOf(0xFF0A, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}, 0xFE), "255.10", "FF-FF-FF-FF-FF-0F", false},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(FirmwareText(c.Info), c.Firmware);
        EXPECT_EQ(MacText(c.Info), c.Mac);
        EXPECT_EQ(JumperFitted(c.Info), c.Jumper);
    }
}

TEST(ConfigFieldTable, CoversEveryKeyOfTheFileOnce)
{
    std::set<std::pair<std::string, std::string>> keys;
    for (const TConfigField& field : ConfigFields())
        EXPECT_TRUE(keys.insert({field.Section, field.Key}).second) << field.Section << "/" << field.Key;
    EXPECT_EQ(keys.size(), 4u + 2u * 12u);
    EXPECT_EQ(ConfigFields().front().Label, "IP адрес");
    EXPECT_EQ(ConfigFields().back().Page, "RS-485 Канал 2");
}

// The table's texts are what the configuration file holds, key by key.
TEST(ConfigFieldTable, IniTextsAreWhatTheFileHolds)
{
    QTemporaryDir folder;
    const std::string fileName = folder.filePath("module.ini").toStdString();
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
    const auto text = [&](const std::string& section, const std::string& key) {
        for (const TConfigField& field : ConfigFields())
            if (field.Section == section && field.Key == key)
                return FieldDisplayText(config, field);
        return std::string("missing");
    };
    EXPECT_EQ(text("CHANNEL_1", "PARITY"), "ODD");
    EXPECT_EQ(text("CHANNEL_0", "PARITY"), "7");
    EXPECT_EQ(text("CHANNEL_1", "BAUDRATE"), "9600");
    EXPECT_EQ(text("CHANNEL_0", "BAUDRATE"), "115200");  // as a file would get it
    EXPECT_EQ(text("CHANNEL_1", "STOPBITS"), "1");
    EXPECT_EQ(text("IP", "ADDRESS"), "10.0.0.5");
}

TEST(FactoryDefaults, AreWhatTheReaderGivesForAnEmptyFile)
{
    QTemporaryDir folder;
    const std::string fileName = folder.filePath("empty.ini").toStdString();
    SaveConfigToFile(fileName, FactoryDefaults);
    TModuleConfig fromFile{};
    ASSERT_TRUE(LoadConfigFromFile(fileName, fromFile));
    EXPECT_EQ(std::memcmp(&fromFile, &FactoryDefaults, sizeof fromFile), 0);

    const std::string emptyName = folder.filePath("nothing.ini").toStdString();
    TIniFile(emptyName).WriteString("OTHER", "KEY", "1");
    TModuleConfig fromEmpty{};
    ASSERT_TRUE(LoadConfigFromFile(emptyName, fromEmpty));
    EXPECT_EQ(std::memcmp(&fromEmpty, &FactoryDefaults, sizeof fromEmpty), 0);
}

TEST(ConfigImage, CarriesTheRecordItsChecksumAndTheMarker)
{
    const TModuleConfig config = DistinctConfig();
    const TConfigImage image = BuildConfigImage(config);
    EXPECT_EQ(std::memcmp(image.data(), &config, ConfigCRCOffset), 0);
    EXPECT_EQ(image[ConfigReadRegisterCount - 1], CRC16(reinterpret_cast<const uint8_t*>(&config), ConfigCRCOffset));
    EXPECT_EQ(image.back(), ConfigMarker);
}
