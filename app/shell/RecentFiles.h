#pragma once
// The files the operator opened or saved last, newest first, as the Файл menu offers them again.

#include <cstddef>
#include <string>
#include <vector>

inline constexpr size_t MaxRecentFiles = 8;

// Puts the file first, once, and lets the oldest go past the limit.
void AddRecentFile(std::vector<std::string>& files, const std::string& fileName);
void RemoveRecentFile(std::vector<std::string>& files, const std::string& fileName);

// True when the settings file can keep the name as it is: its elements are cut at 255 bytes and
// written without escapes, so a longer name, or one with markup characters, would come back as
// another file or spoil the whole settings file.
bool CanKeepRecentFile(const std::string& fileName);
