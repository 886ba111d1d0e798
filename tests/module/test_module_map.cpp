// The module's block layouts as the other programs read them: the information block decoded, the
// configuration image, and the one verdict on what a module holds.
#include "ConfigCRC.h"
#include "ConfigVerdict.h"
#include "ModuleDefaults.h"
#include "SampleConfig.h"
#include "ModuleInfo.h"
#include "ModuleRegisters.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TModuleInfo InfoOf(uint16_t version, std::array<uint8_t, 6> mac, uint8_t flags)
{
    TModuleInfo info{};
    info.Version = version;
    std::memcpy(info.MAC, mac.data(), mac.size());
    info.Flags = flags;
    return info;
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

TEST(ConfigImage, CarriesTheRecordItsChecksumAndTheMarker)
{
    const TModuleConfig config = DistinctConfig();
    const TConfigImage image = BuildConfigImage(config);
    EXPECT_EQ(std::memcmp(image.data(), &config, ConfigCRCOffset), 0);
    EXPECT_EQ(image[ConfigReadRegisterCount - 1], CRC16(reinterpret_cast<const uint8_t*>(&config), ConfigCRCOffset));
    EXPECT_EQ(image.back(), ConfigMarker);
}

TEST(ConfigVerdict, AWriteIsVerifiedByEveryByteAndAModuleDiffersByAFieldOrItsChecksum)
{
    TModuleConfig sent = DistinctConfig();
    SetConfigCRC(sent);
    struct TCase {
        const char* Name;
        void (*Change)(TModuleConfig&);
        bool Verified;
        bool Differs;
    };
    const TCase cases[] = {
        {"the same bytes", [](TModuleConfig&) {}, true, false},
        {"a field", [](TModuleConfig& held) { held.Channels[1].Timeout = 999; }, false, true},
        // The checksum covers the reserved bytes: changed behind its back, the stored block is damaged.
        {"a reserved byte", [](TModuleConfig& held) { held.Reserved2[5] = 1; }, false, true},
        {"the checksum", [](TModuleConfig& held) { held.CRC ^= 1; }, false, true},
        {"a reserved byte, checksum kept valid",
         [](TModuleConfig& held) {
             held.Reserved1[0] = 9;
             SetConfigCRC(held);
         },
         false, false},
    };
    for (const TCase& c : cases) {
        TModuleConfig held = sent;
        c.Change(held);
        EXPECT_EQ(WriteVerified(sent, held), c.Verified) << c.Name;
        EXPECT_EQ(ModuleDiffers(DistinctConfig(), held), c.Differs) << c.Name;
    }
}
