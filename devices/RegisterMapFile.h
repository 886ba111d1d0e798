#pragma once
// A register map kept as a CSV file an engineer can edit in a spreadsheet: a header row naming the
// columns, then a point a row. The delimiter is ',' or ';', whichever the header uses; UTF-8 with or
// without a byte order mark; lines starting with '#' are comments and blank lines are skipped.
//
// Columns (only the first four are required; any other column is refused by its name):
//   name         unique in the file
//   unit         1..247
//   function     coil, discrete, holding, input, or 1..4
//   address      0..65535, as on the wire (0x... also read as hexadecimal)
//   type         int16 (default uint16) ... ascii; none for coil and discrete
//   order        ABCD (default), CDAB, BADC, DCBA; of no effect on a one-register type
//   count        registers of an ascii text (required for it, 1..125); no other type has one
//   scale        value = decoded × scale + offset; default 1, never 0; numbers only
//   offset       default 0; in a ';' file either may have a decimal comma
//   units        engineering unit text: V, kWh ...
//   access       r (default) or rw; discrete and input are read only
//   description  any text
//
// Reading never guesses: a row with anything wrong is refused with its line, column and reason, and
// every error of the file is told at once; a map with an error is not used.

#include "RegisterMap.h"
#include "WholeFile.h"

#include <string>
#include <string_view>
#include <vector>

// Larger than any map a line could be polled by (tens of thousands of points), small enough that a
// wrong file named by mistake is refused before it is read through.
inline constexpr size_t MaxRegisterMapBytes = 1024 * 1024;

struct TMapError {
    int Line = 0;        // 1-based; 0 for the file as a whole
    std::string Column;  // the column's name; empty for the row or the file
    std::string Reason;
    // "строка 7, address: 70000 вне 0..65535"
    std::string Text() const;
};

struct TMapReading {
    TRegisterMap Map;  // of no use unless Ok()
    std::vector<TMapError> Errors;
    // What was read but has no effect, each said once for the file.
    std::vector<std::string> Notes;
    bool Ok() const { return Errors.empty(); }
};

TMapReading ParseRegisterMap(std::string_view text);
// The file named, read within MaxRegisterMapBytes (a pipe too); a file that cannot be read is one
// error naming it.
TMapReading ReadRegisterMapFile(const std::string& fileName);

// The map as its file holds it: its columns in their order (and any a point needs that it has not),
// its points in their order with their comments, written so that reading it gives the same map.
std::string RegisterMapText(const TRegisterMap& map);
TFileWriteResult WriteRegisterMapFile(const std::string& fileName, const TRegisterMap& map);
