#pragma once
// The program's own product version, as the build stamps it into the program.

#include <array>
#include <cstdint>
#include <string_view>

// Major, minor, release, build.
using TVersionParts = std::array<uint16_t, 4>;

// The four parts of a version text "major.minor.release.build"; false when the text is not one.
bool ReadVersionInfo(std::string_view versionText, TVersionParts& parts);

// The major and minor parts of the running program's product version; false, with 0.0, when the
// version cannot be read.
bool GetProgramVersion(int& major, int& minor);
