#include "CommandFile.h"

#include "WholeFile.h"

bool ReadCommandFile(const std::string& fileName, std::string& text, std::string& error)
{
    switch (ReadBoundedFile(fileName, MaxCommandFileSize, text)) {
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
