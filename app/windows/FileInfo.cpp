#include "FileInfo.h"

#include <charconv>

#ifndef KORVEL_PRODUCT_VERSION
#define KORVEL_PRODUCT_VERSION ""
#endif

bool ReadVersionInfo(std::string_view versionText, TVersionParts& parts)
{
    TVersionParts read{};
    for (size_t i = 0; i < read.size(); ++i) {
        const size_t dot = versionText.find('.');
        const bool last = i + 1 == read.size();
        if (last != (dot == std::string_view::npos))
            return false;
        const std::string_view part = versionText.substr(0, dot);
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), read[i]);
        if (part.empty() || error != std::errc() || end != part.data() + part.size())
            return false;
        versionText.remove_prefix(last ? versionText.size() : dot + 1);
    }
    parts = read;
    return true;
}

bool GetProgramVersion(int& major, int& minor)
{
    TVersionParts parts{};
    const bool read = ReadVersionInfo(KORVEL_PRODUCT_VERSION, parts);
    major = parts[0];
    minor = parts[1];
    return read;
}
