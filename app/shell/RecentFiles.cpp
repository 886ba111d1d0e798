#include "RecentFiles.h"

#include <algorithm>

namespace {
constexpr size_t MaxElementText = 255;
constexpr std::string_view MarkupChars = "<>&";
}  // namespace

void AddRecentFile(std::vector<std::string>& files, const std::string& fileName)
{
    RemoveRecentFile(files, fileName);
    files.insert(files.begin(), fileName);
    if (files.size() > MaxRecentFiles)
        files.resize(MaxRecentFiles);
}

void RemoveRecentFile(std::vector<std::string>& files, const std::string& fileName)
{
    std::erase(files, fileName);
}

bool CanKeepRecentFile(const std::string& fileName)
{
    return !fileName.empty() && fileName.size() <= MaxElementText &&
           fileName.find_first_of(MarkupChars) == std::string::npos &&
           std::none_of(fileName.begin(), fileName.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}
