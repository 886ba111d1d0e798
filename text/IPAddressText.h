#pragma once
// IPv4 addresses as text: the dotted form the editors, the files and the command line use.

#include "IPAddress.h"

#include <string>
#include <string_view>

// Blanks of the masked IP editors: space and the byte 0xFF.
inline constexpr std::string_view IPBlankChars{" \xFF", 2};

std::string IPToStr(const TIPAddress& address);
bool StrToIP(const std::string& text, TIPAddress& address);
// The rule for an address that is dialled: decimal groups only, blanks allowed where StrToIP allows
// them. StrToIP reads a group by the integer rule, which also takes "$7F", "0x7F" or "+8"; the
// socket, the settings file and the command line all read an address by this one rule instead.
bool DecimalStrToIP(const std::string& text, TIPAddress& address);
