// The baud-rate table, IPv4 addresses as text and the configuration block's checksum.
#include "BaudRates.h"
#include "ConfigCRC.h"
#include "IPAddressText.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(BaudRateToIndex, MatchesTableTextsExactlyAndFallsBackTo115200)
{
    struct {
        const char* Text;
        int Expected;
    } const cases[] = {
        {"115200", 9}, {"9600", 4},  {"2304000", 19}, {"600", 0},   {"48000", 7},
        {" 9600", 9},  {"9600 ", 9}, {"", 9},         {"56000", 9}, {"09600", 9},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BaudRateToIndex(c.Text), c.Expected) << '"' << c.Text << '"';
    for (size_t i = 0; i < BaudRates.size(); ++i)
        EXPECT_EQ(BaudRateToIndex(BaudRates[i]), static_cast<int>(i));
}

TEST(StrToIP, ConvertsFourPartsAndLeavesTheOutputAloneOnFailure)
{
    struct {
        const char* Text;
        std::optional<TIPAddress> Expected;
    } const cases[] = {
        {"192.168.127.10", TIPAddress{0xC0, 0xA8, 0x7F, 0x0A}},
        {"10 .0  .0  .1  ", TIPAddress{10, 0, 0, 1}},
        {"1\xFF.2.3.4", TIPAddress{1, 2, 3, 4}},
        {"0.0.0.0", TIPAddress{0, 0, 0, 0}},
        {"$FF.0x10.7.255", TIPAddress{255, 16, 7, 255}},
        {"1.2.3", std::nullopt},
        {"1.2.3.4.", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"1.2.3.256", std::nullopt},
        {"1..3.4", std::nullopt},
        {"-1.2.3.4", std::nullopt},
        {"", std::nullopt},
        {"a.b.c.d", std::nullopt},
        {"1.2.3.4 x", std::nullopt},
    };
    for (const auto& c : cases) {
        TIPAddress address{9, 8, 7, 6};
        EXPECT_EQ(StrToIP(c.Text, address), c.Expected.has_value()) << '"' << c.Text << '"';
        EXPECT_EQ(address, c.Expected.value_or(TIPAddress{9, 8, 7, 6})) << '"' << c.Text << '"';
    }
}

TEST(IPToStr, WritesDecimalPartsAndReadsBackThroughStrToIP)
{
    EXPECT_EQ(IPToStr({0, 0, 0, 0}), "0.0.0.0");
    EXPECT_EQ(IPToStr({0xC0, 0xA8, 0x7F, 0x0A}), "192.168.127.10");
    for (int value = 0; value < 256; ++value)
        for (size_t position = 0; position < 4; ++position) {
            TIPAddress address{1, 22, 233, 4};
            address[position] = static_cast<uint8_t>(value);
            TIPAddress back{};
            ASSERT_TRUE(StrToIP(IPToStr(address), back)) << IPToStr(address);
            ASSERT_EQ(back, address);
        }
}

TEST(CRC16, IsModbusCRC)
{
    const std::string check = "123456789";
    EXPECT_EQ(CRC16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x4B37);
    const uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01};  // travels as ... 84 0A
    EXPECT_EQ(CRC16(request, sizeof request), 0x0A84);
}

TEST(SetConfigCRC, StoresTheChecksumOfTheFirst110BytesLittleEndianAndNothingElse)
{
    TModuleConfig config;
    auto* bytes = reinterpret_cast<uint8_t*>(&config);
    for (size_t i = 0; i < sizeof config; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    uint8_t before[sizeof config];
    std::memcpy(before, bytes, sizeof config);

    SetConfigCRC(config);

    EXPECT_EQ(std::memcmp(before, bytes, ConfigCRCOffset), 0);
    const uint16_t expected = CRC16(before, ConfigCRCOffset);
    EXPECT_EQ(bytes[110], expected & 0xFF);
    EXPECT_EQ(bytes[111], expected >> 8);
}

}  // namespace
