#include "CommandFile.h"

#include "WholeFile.h"

namespace {

// stdin, once read, has nothing left for a second file.
bool StdinTaken = false;

}  // namespace

bool ReadCommandFile(const std::string& fileName, std::string& text, std::string& error)
{
    const bool fromStdin = fileName == StandardStreamName;
    if (fromStdin && StdinTaken) {
        error = StdinTakenText;
        return false;
    }
    StdinTaken = StdinTaken || fromStdin;
    // The same bounded read as for a named pipe; a terminal is refused at once, not waited on.
    switch (ReadBoundedFile(fromStdin ? "/dev/stdin" : fileName, MaxCommandFileSize, text)) {
    case TFileReadResult::Read: return true;
    case TFileReadResult::TooLarge:
        error =
            "Файл " + fileName + " слишком велик: допускается не более " + std::to_string(MaxCommandFileSize) + " байт";
        return false;
    case TFileReadResult::Missing:
    case TFileReadResult::OpenFailed:
    case TFileReadResult::ReadFailed: break;
    }
    error = "Ошибка открытия файла " + fileName;
    return false;
}
