#pragma once
// An IPv4 address as its four bytes, most significant first.

#include <array>
#include <cstdint>

using TIPAddress = std::array<uint8_t, 4>;
