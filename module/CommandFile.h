#pragma once
// Files that korvel-cli is told to read (host lists, configurations): read whole, but never past a
// bound, with the message that tells the operator why one could not be read. "-" is stdin.

#include <cstddef>
#include <string>

// Far above any real host list or configuration file, and small enough that a device or a writer
// that never stops is refused at once.
constexpr size_t MaxCommandFileSize = 1024 * 1024;

// The name that stands for stdin where a file is read, and for stdout where one is written.
inline constexpr const char* StandardStreamName = "-";
// The refusal of a second file named "-".
inline constexpr const char* StdinTakenText =
    "Стандартный ввод уже прочитан: \"-\" можно указать только для одного файла";

// The file's bytes into text; false with the message when it is missing, unreadable or too large.
// stdin is read once: a second file named "-" is refused rather than read as empty.
bool ReadCommandFile(const std::string& fileName, std::string& text, std::string& error);
