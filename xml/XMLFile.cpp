// Whole-file loading and atomic saving of a document.
#include "XML.h"

#include "WholeFile.h"

#include <string>

namespace {

const char* const FileOpenMessage = "Ошибка открытия файла: ";
const char* const FileReadMessage = "Ошибка чтения файла: ";
const char* const FileCreateMessage = "Ошибка создания файла ";
const char* const FileWriteMessage = "Ошибка записи в файл ";

[[noreturn]] void FailFile(uint8_t kind, const char* message, const std::string& fileName)
{
    throw EXMLParseError(kind, message + fileName, XMLFileErrorPosition, XMLFileErrorPosition, XMLFileErrorState);
}

}  // namespace

void TXMLDocument::LoadFromFile(const std::string& fileName)
{
    std::string text;
    switch (ReadWholeFile(fileName, text)) {
    case TFileReadResult::Read: break;
    case TFileReadResult::Missing:
    case TFileReadResult::OpenFailed: FailFile(XMLErrorKind::FileOpen, FileOpenMessage, fileName);
    case TFileReadResult::ReadFailed:
    case TFileReadResult::TooLarge: FailFile(XMLErrorKind::FileRead, FileReadMessage, fileName);
    }
    LoadFromText(text);
}

void TXMLDocument::SaveToFile(const std::string& fileName)
{
    TSafeFileWriter file(fileName);
    if (!file.Opened())
        FailFile(XMLErrorKind::FileCreateOrWrite, FileCreateMessage, fileName);
    // The text is built only once the file could be created: building it mends a declaration's version.
    switch (file.Commit(AsText())) {
    case TFileWriteResult::Written: break;
    case TFileWriteResult::CreateFailed: FailFile(XMLErrorKind::FileCreateOrWrite, FileCreateMessage, fileName);
    case TFileWriteResult::WriteFailed: FailFile(XMLErrorKind::FileCreateOrWrite, FileWriteMessage, fileName);
    }
}
