#pragma once
// Files a scrape names by a short name (config=cabinet3, map=meters) in a folder given at start:
// NAME.EXT in that folder and nowhere else, so that a request cannot reach a file outside it.

#include <string>

class TNamedFiles {
public:
    // folder empty: no such files are offered.
    TNamedFiles(std::string folder, std::string extension);

    bool Offered() const { return !Folder_.empty(); }
    // The file's path, or false with the reason: no folder given, or a name that is not letters,
    // digits, '_', '-' and '.' (not first), at most 100 of them.
    bool PathOf(const std::string& name, std::string& path, std::string& error) const;

private:
    std::string Folder_;
    std::string Extension_;
};
