#pragma once
// The private-profile INI layer: sections and keys matched without regard to case, blanks around
// a value ignored, every write applied to the file at once and touching nothing else in it.

#include <stdexcept>
#include <string>
#include <vector>

class EIniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TIniFile {
public:
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return FileName_; }

    // The value of Key in Section with surrounding blanks removed, or def when the key is missing.
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // Updates the key in place, or appends it at the end of its section, or appends the section at
    // the end of the file, or creates the file. The file is replaced atomically; a failure throws
    // EIniFileError("Unable to write to " + file name) and leaves the previous file whole.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    // Every "KEY=VALUE" line of the section, in file order.
    std::vector<std::string> ReadSectionValues(const std::string& section) const;

private:
    std::string FileName_;
};
