#pragma once
// The module's configuration block as a record: the layout the module holds in its registers.

#include "IPAddress.h"

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "the configuration record is the module's little-endian block");

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
