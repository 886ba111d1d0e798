#pragma once
// Name comparison shared by path lookup and the writer (internal to the XML unit).

#include <string_view>

// Equal after folding the ASCII letters A..Z only; Cyrillic letters must match as they are.
bool NamesMatch(std::string_view a, std::string_view b);
