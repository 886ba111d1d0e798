#pragma once
// Files that korvel-cli is told to read (host lists, configurations): read whole, but never past a
// bound, with the message that tells the operator why one could not be read.

#include <cstddef>
#include <string>

// Far above any real host list or configuration file, and small enough that a device or a writer
// that never stops is refused at once.
constexpr size_t MaxCommandFileSize = 1024 * 1024;

// The file's bytes into text; false with the message when it is missing, unreadable or too large.
bool ReadCommandFile(const std::string& fileName, std::string& text, std::string& error);
