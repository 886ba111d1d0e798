#pragma once
// One field of a CSV file the program writes. A field never breaks its row: control bytes (a NUL
// or a line break in a device's text) are written as \xHH and a backslash as \\, so that every
// row is one line a spreadsheet or a script reads back as it was; a field holding the delimiter
// (, or ;) or a quote is quoted, its quotes doubled.

#include <string>
#include <string_view>

std::string CsvField(std::string_view text);
