#pragma once
// The private-profile INI layer over a file (the rules are TIniText's): the file is read once, and
// every write goes into the file at once, touching nothing else in it.

#include "IniText.h"

#include <stdexcept>
#include <string>
#include <vector>

class EIniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TIniEntry {
    std::string Section;
    std::string Key;
    std::string Value;
};

class TIniFile {
public:
    // Reads the file; a missing file, or one that cannot be read, reads as empty.
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return FileName_; }

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const
    {
        return Text_.ReadString(section, key, def);
    }
    std::vector<std::string> ReadSectionValues(const std::string& section) const
    {
        return Text_.ReadSectionValues(section);
    }

    // Applies the entries in order and replaces the file once, so that they all reach it or none
    // does: a failure throws EIniFileError("Unable to write to " + file name) and leaves the
    // previous file whole. A file that exists but could not be read is never replaced, as that
    // would lose what it holds.
    void WriteStrings(const std::vector<TIniEntry>& entries);
    void WriteString(const std::string& section, const std::string& key, const std::string& value)
    {
        WriteStrings({{section, key, value}});
    }

private:
    std::string FileName_;
    TIniText Text_;
    bool Readable_ = true;
};
