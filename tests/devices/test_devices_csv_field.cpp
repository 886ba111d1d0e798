// Fields of the CSV files the program writes: plain texts as they are, and whatever a device's
// text holds kept on one line and read back unambiguously.

#include "CsvField.h"

#include <gtest/gtest.h>

TEST(CsvField, KeepsEveryFieldOnItsLineAndInItsColumn)
{
    using namespace std::string_literals;
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"230.5", "230.5"},
        {"METER-005", "METER-005"},
        {"Вольт", "Вольт"},
        {"a,b", "\"a,b\""},
        {"a;b", "\"a;b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"A\0B"s, "A\\x00B"},
        {"line\r\nnext", "line\\x0D\\x0Anext"},
        {"\x1B[2J\x7F", "\\x1B[2J\\x7F"},
        {"C:\\x01", "C:\\\\x01"},  // a backslash of the text is no escape
        {"\t,\"", "\"\\x09,\"\"\""},
    };
    for (const auto& [text, field] : cases)
        EXPECT_EQ(CsvField(text), field) << text;
}
