#include "IniFile.h"

#include "WholeFile.h"

namespace {

TIniText ReadIniText(const std::string& fileName, bool& readable)
{
    std::string content;
    const TFileReadResult result = ReadWholeFile(fileName, content);
    readable = result == TFileReadResult::Read || result == TFileReadResult::Missing;
    return TIniText(std::move(content));
}

}  // namespace

TIniFile::TIniFile(std::string fileName) : FileName_(std::move(fileName)), Text_(ReadIniText(FileName_, Readable_))
{}

void TIniFile::WriteStrings(const std::vector<TIniEntry>& entries)
{
    if (!Readable_)
        throw EIniFileError("Unable to write to " + FileName_);
    for (const TIniEntry& entry : entries)
        Text_.WriteString(entry.Section, entry.Key, entry.Value);
    if (WriteWholeFile(FileName_, Text_.Text()) != TFileWriteResult::Written)
        throw EIniFileError("Unable to write to " + FileName_);
}
