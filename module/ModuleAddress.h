#pragma once
// Where a module is reached: HOST[:PORT] as the command line gives it, ranges of addresses for a
// scan, and host lists in a file. Every address is read by the decimal rule and printed back in
// its plain dotted form, so nothing but the address given is ever contacted.

#include <cstdint>
#include <string>
#include <vector>

struct TModuleAddress {
    std::string Address;  // dotted, as IPToStr prints it
    uint16_t Port = 0;
    // SECTION/KEY=VALUE texts given for this module alone (after its address in a hosts file),
    // unchecked here.
    std::vector<std::string> Values{};
    // Where a hosts file names it, "FILE:LINE"; empty for a HOST operand.
    std::string Origin{};

    std::string Text() const { return Address + ":" + std::to_string(Port); }
};

constexpr size_t MaxScanAddresses = 4096;

// "10.0.0.5" or "10.0.0.5:1502"; the port is 1..65535.
bool ParseModuleAddress(const std::string& text, uint16_t defaultPort, TModuleAddress& address);
// "10.0.0.0/24" (its hosts: without the network and broadcast addresses), "10.0.0.5-10.0.0.40" or
// the one address "10.0.0.5", at most MaxScanAddresses addresses, all on port.
bool ParseAddressRange(const std::string& text, uint16_t port, std::vector<TModuleAddress>& addresses,
                       std::string& error);
// The same three forms as the first and last address of the range (host order), of any size.
bool ParseAddressSpan(const std::string& text, uint32_t& first, uint32_t& last, std::string& error);
// An address (dotted, as the decimal rule reads it) as a number in host order; false for no address.
bool AddressNumber(const std::string& address, uint32_t& number);
// One HOST a line, optionally followed by blank-separated values for that module alone (Values); blank
// lines and text after "#" are ignored. False with a message naming the
// line when a line is not a HOST, or telling why the file cannot be read (it may be a pipe; it is
// read no further than MaxCommandFileSize).
bool ReadHostsFile(const std::string& fileName, uint16_t defaultPort, std::vector<TModuleAddress>& addresses,
                   std::string& error);
