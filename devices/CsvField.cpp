#include "CsvField.h"

std::string CsvField(std::string_view text)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string field;
    field.reserve(text.size());
    bool quoted = false;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            field += "\\x";
            field += Digits[byte >> 4];
            field += Digits[byte & 0xF];
        } else if (c == '\\') {
            field += "\\\\";
        } else {
            quoted = quoted || c == ',' || c == ';' || c == '"';
            field += c;
            if (c == '"')
                field += c;
        }
    }
    return quoted ? '"' + field + '"' : field;
}
