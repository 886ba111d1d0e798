#pragma once
// The module's configuration block as a record, the baud-rate table, address conversions,
// the block checksum and the configuration file.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

static_assert(std::endian::native == std::endian::little,
              "the configuration record is the module's little-endian block");

using TIPAddress = std::array<uint8_t, 4>;

#pragma pack(push, 1)
struct TChannelConfig {
    uint16_t SlaveAddress;  // 0: the channel is master; otherwise its slave address
    uint16_t BaudIndex;     // index into BaudRates
    uint16_t Parity;        // 0 NONE, 1 ODD, 2 EVEN
    uint16_t StopBits;      // 0 one, 1 two
    uint16_t Timeout;       // ms, master only
    uint16_t Replies;       // repeats, master only
    TIPAddress IPAddress0;  // slave only from here on
    TIPAddress IPAddress1;
    uint16_t EthRecvTout;
    uint16_t EthConnTout;
    uint16_t TCPPort0;
    uint16_t TCPPort1;
    uint8_t Reserved[6];
};

struct TModuleConfig {
    TIPAddress Address;
    TIPAddress Gateway;
    TIPAddress NetMask;
    uint16_t TCPPort;
    uint8_t Reserved1[4];
    TChannelConfig Channels[2];
    uint8_t Reserved2[24];
    uint16_t CRC;
};
#pragma pack(pop)

constexpr size_t ChannelCount = 2;
constexpr size_t ConfigCRCOffset = 110;  // bytes covered by the checksum

// The sizes pin the block; where each field lies in it is checked over the field table, which
// every reader and writer of the block goes through.
static_assert(sizeof(TChannelConfig) == 34);
static_assert(sizeof(TModuleConfig) == 112);
static_assert(offsetof(TModuleConfig, CRC) == ConfigCRCOffset);

constexpr size_t BaudRateCount = 20;
constexpr size_t DefaultBaudIndex = 9;  // "115200"
extern const std::array<const char*, BaudRateCount> BaudRates;

// Blanks of the masked IP editors: space and the byte 0xFF.
inline constexpr std::string_view IPBlankChars{" \xFF", 2};

std::string IPToStr(const TIPAddress& address);
bool StrToIP(const std::string& text, TIPAddress& address);
// The rule for an address that is dialled: decimal groups only, blanks allowed where StrToIP allows
// them. StrToIP reads a group by the integer rule, which also takes "$7F", "0x7F" or "+8"; the
// socket, the settings file and the command line all read an address by this one rule instead.
bool DecimalStrToIP(const std::string& text, TIPAddress& address);
int BaudRateToIndex(const std::string& text);
// An index outside the table (a block taken from the module as it came) gives the rate that
// reading the file back would give it anyway, instead of reading past the table.
const char* BaudRateText(size_t index);
uint16_t CRC16(const uint8_t* data, size_t count);
void SetConfigCRC(TModuleConfig& config);

// False, the record left alone, for a file that is missing, not a regular file or cannot be read.
bool LoadConfigFromFile(const std::string& fileName, TModuleConfig& config);
// Throws EIniFileError ("Unable to write to " + file name) when the file cannot be written.
// All or nothing: the file is read once, the keys applied in memory and the file replaced once.
void SaveConfigToFile(const std::string& fileName, TModuleConfig config);
// The same two in memory: the record a file holding text gives, and the text that saving the record
// into a file holding existing leaves there.
void ConfigFromIniText(const std::string& text, TModuleConfig& config);
std::string ConfigToIniText(const TModuleConfig& config, const std::string& existing = {});
