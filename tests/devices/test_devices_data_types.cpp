// Registers read as values of every data type and word order, and typed values written back as the
// registers a device expects.
#include "DataTypes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using O = TWordOrder;
using T = TDataType;

std::string Joined(const std::vector<TDeviceValue>& values)
{
    std::string text;
    for (const TDeviceValue& value : values)
        text += (text.empty() ? "" : " ") + DeviceValueText(value);
    return text;
}

// Whether the value is one of the enumeration's enumerators: GCC and Clang print an enumerator in a
// function's signature by its name, and any other value as a cast, "(TDataType)11".
template <auto Value> bool IsEnumerator()
{
    return std::string_view(__PRETTY_FUNCTION__).find(")" + std::to_string(int(Value))) == std::string_view::npos;
}

template <class Enum, size_t... Values> size_t EnumeratorCount(std::index_sequence<Values...>)
{
    return (size_t(IsEnumerator<Enum(Values)>()) + ...);
}

template <class Rows> std::vector<std::string> Names(Rows rows)
{
    std::vector<std::string> names;
    for (const auto& row : rows)
        names.emplace_back(row.Name);
    return names;
}

// Whether the text has the name as a word of its own: "int16" is not found in "uint16".
bool NamesWord(const std::string& text, const std::string& name)
{
    const auto partOfWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1))
        if ((at == 0 || !partOfWord(text[at - 1])) &&
            (at + name.size() == text.size() || !partOfWord(text[at + name.size()])))
            return true;
    return false;
}

std::string FileText(const char* path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

// Every enumerator has its row, a name of its own that is found again, either case: a type added
// to the enumeration alone fails here, and the lists, help and option check would miss it.
TEST(DataTypes, EveryTypeAndOrderHasItsRowAndName)
{
    EXPECT_EQ(EnumeratorCount<TDataType>(std::make_index_sequence<64>()), DataTypes().size());
    EXPECT_EQ(EnumeratorCount<TWordOrder>(std::make_index_sequence<64>()), WordOrders().size());
    std::set<std::string> seen;
    for (const TDataTypeRow& row : DataTypes()) {
        EXPECT_FALSE(row.Name.empty());
        EXPECT_TRUE(seen.insert(std::string(row.Name)).second) << row.Name;
        EXPECT_EQ(DataTypeFromName(row.Name), row.Type) << row.Name;
        std::string upper(row.Name);
        for (char& c : upper)
            c = char(std::toupper(c));
        EXPECT_EQ(DataTypeFromName(upper), row.Type) << upper;
        EXPECT_GE(row.Registers, 1) << row.Name;
        EXPECT_NE(row.Decode, nullptr) << row.Name;
        EXPECT_NE(row.Encode, nullptr) << row.Name;
    }
    for (const TWordOrderRow& row : WordOrders()) {
        EXPECT_TRUE(seen.insert(std::string(row.Name)).second) << row.Name;
        EXPECT_EQ(WordOrderFromName(row.Name), row.Order) << row.Name;
    }
    EXPECT_EQ(DataTypeFromName("uint8"), std::nullopt);
    EXPECT_EQ(WordOrderFromName("ABDC"), std::nullopt);
}

// The pages written by hand name every type and order the program takes; the completion offers
// exactly those, in the table's order.
TEST(DataTypes, TheDocumentsNameEveryTypeAndOrder)
{
    for (const char* path : {KORVEL_README, KORVEL_CLI_MAN_PAGE, KORVEL_CLI_COMPLETION, KORVEL_LINES_HELP}) {
        SCOPED_TRACE(path);
        const std::string text = FileText(path);
        ASSERT_FALSE(text.empty());
        for (const auto& names : {Names(DataTypes()), Names(WordOrders())})
            for (const std::string& name : names)
                EXPECT_TRUE(NamesWord(text, name)) << name;
    }
    const std::string completion = FileText(KORVEL_CLI_COMPLETION);
    for (const auto& [option, names] : {std::pair{"--type", Names(DataTypes())}, {"--order", Names(WordOrders())}}) {
        std::smatch words;
        ASSERT_TRUE(std::regex_search(
            completion, words, std::regex(std::string(option) + "\\)\\s*COMPREPLY=\\(\\$\\(compgen -W \"([^\"]*)\"")))
            << option;
        std::string expected;
        for (const std::string& name : names)
            expected += (expected.empty() ? "" : " ") + name;
        EXPECT_EQ(words[1].str(), expected) << option;
    }
}

// Known registers of each type in each order: the same value must come out of its four layouts.
TEST(DataTypes, DecodesKnownRegisters)
{
    const struct {
        T Type;
        O Order;
        std::vector<uint16_t> Registers;
        const char* Values;
    } cases[] = {
        {T::Int16, O::ABCD, {0xFFFE}, "-2"},
        {T::Int16, O::DCBA, {0xFFFE, 0x8000}, "-2 -32768"},  // one register has no words to swap
        {T::UInt16, O::ABCD, {0xFFFE, 0x0000}, "65534 0"},
        {T::Int32, O::ABCD, {0xFFFF, 0xFFFE}, "-2"},
        {T::Int32, O::CDAB, {0xFFFE, 0xFFFF}, "-2"},
        {T::Int32, O::BADC, {0xFFFF, 0xFEFF}, "-2"},
        {T::Int32, O::DCBA, {0xFEFF, 0xFFFF}, "-2"},
        {T::Int32, O::ABCD, {0x8000, 0x0000, 0x1234}, "-2147483648"},  // an odd register left over
        {T::UInt32, O::ABCD, {0x0001, 0x0002}, "65538"},
        {T::UInt32, O::CDAB, {0x0002, 0x0001}, "65538"},
        {T::UInt32, O::BADC, {0x0100, 0x0200}, "65538"},
        {T::UInt32, O::DCBA, {0x0200, 0x0100}, "65538"},
        {T::UInt32, O::ABCD, {0xFFFF, 0xFFFF}, "4294967295"},
        {T::Int64, O::ABCD, {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFE}, "-2"},
        {T::Int64, O::CDAB, {0x0000, 0x0000, 0x0000, 0x8000}, "-9223372036854775808"},
        {T::Int64, O::BADC, {0x0000, 0x0000, 0x0100, 0x0200}, "65538"},
        {T::UInt64, O::ABCD, {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, "18446744073709551615"},
        {T::UInt64, O::DCBA, {0x0200, 0x0100, 0x0000, 0x0000}, "65538"},
        {T::UInt64, O::ABCD, {0x0000, 0x0000, 0x0000}, ""},  // too few registers for one value
        {T::Float32, O::ABCD, {0x4366, 0x8000}, "230.5"},
        {T::Float32, O::CDAB, {0x8000, 0x4366}, "230.5"},
        {T::Float32, O::BADC, {0x6643, 0x0080}, "230.5"},
        {T::Float32, O::DCBA, {0x0080, 0x6643}, "230.5"},
        {T::Float32, O::ABCD, {0xBFC0, 0x0000, 0x4248, 0x0000}, "-1.5 50"},
        {T::Float32, O::ABCD, {0x7FC0, 0x0000}, "nan"},
        {T::Float32, O::ABCD, {0x7F80, 0x0000}, "inf"},
        {T::Float32, O::CDAB, {0x0000, 0xFF80}, "-inf"},
        {T::Float64, O::ABCD, {0x3FF0, 0, 0, 0}, "1"},
        {T::Float64, O::CDAB, {0, 0, 0, 0x3FF0}, "1"},
        {T::Float64, O::BADC, {0xF03F, 0, 0, 0}, "1"},
        {T::Float64, O::DCBA, {0, 0, 0, 0xF03F}, "1"},
        {T::Float64, O::ABCD, {0xC004, 0, 0, 0}, "-2.5"},
        {T::Float64, O::DCBA, {0, 0, 0, 0xF0FF}, "-inf"},
        {T::Float64, O::ABCD, {0x7FF8, 0, 0, 0}, "nan"},
        {T::Float64, O::ABCD, {0x3FF0, 0, 0}, ""},  // too few registers for one value
        {T::Hex, O::ABCD, {0x1A2B, 0x0005}, "0x1A2B 0x0005"},
        {T::Binary, O::ABCD, {0x8001}, "1000000000000001"},
        {T::Ascii, O::ABCD, {0x4D45, 0x5445, 0x522D, 0x3030, 0x3500}, "METER-005"},
        {T::Ascii, O::BADC, {0x4241, 0x0043}, "ABC"},
        {T::Ascii, O::ABCD, {0x4142, 0x4344}, "ABCD"},
        {T::Ascii, O::ABCD, {0x4100, 0x0000}, "A"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Joined(DecodeRegisters(c.Registers, c.Type, c.Order)), c.Values)
            << DataTypeName(c.Type) << " " << WordOrderName(c.Order);
}

// Every kind of value as a number to plot or scale, as exact as a double holds it; a text has none.
TEST(DataTypes, ValuesAsNumbers)
{
    const struct {
        TDeviceValue Value;
        std::optional<double> Number;
    } cases[] = {
        {true, 1.0},
        {false, 0.0},
        {int64_t(-9007199254740992), -9007199254740992.0},
        {uint64_t(18446744073709551615u), 18446744073709551616.0},
        {230.1f, double(230.1f)},
        {-2.5, -2.5},
        {std::string("0x00FF"), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DeviceValueNumber(c.Value), c.Number) << DeviceValueText(c.Value);
}

// A typed value written and read back in every order is the value typed.
TEST(DataTypes, EncodedValuesReadBackInEveryOrder)
{
    const struct {
        T Type;
        std::vector<const char*> Texts;
    } cases[] = {
        {T::Int16, {"-32768", "32767", "0", "-1"}},
        {T::UInt16, {"65535", "0"}},
        {T::Int32, {"-2147483648", "2147483647", "-5"}},
        {T::UInt32, {"4294967295", "65538"}},
        {T::Int64, {"-9223372036854775808", "9223372036854775807", "-5"}},
        {T::UInt64, {"18446744073709551615", "9007199254740993", "0"}},
        {T::Float32, {"230.1", "-0.5", "inf", "-inf", "nan", "3.4028235e+38"}},
        {T::Float64, {"3.141592653589793", "-1e+300", "inf", "nan"}},
        {T::Hex, {"0x00FF", "0xFFFF"}},
        {T::Binary, {"0000000011111111"}},
        {T::Ascii, {"METER-005", "ABC", "A"}},
    };
    for (const auto& c : cases)
        for (const char* text : c.Texts)
            for (O order : {O::ABCD, O::CDAB, O::BADC, O::DCBA}) {
                const std::vector<uint16_t> registers = EncodeValue(text, c.Type, order);
                ASSERT_FALSE(registers.empty()) << text;
                EXPECT_EQ(Joined(DecodeRegisters(registers, c.Type, order)), text)
                    << DataTypeName(c.Type) << " " << WordOrderName(order);
            }
}

// Texts that are no value of their type write nothing, rather than a wrapped or rounded value.
TEST(DataTypes, RefusesTextsOutsideTheType)
{
    const struct {
        T Type;
        const char* Text;
    } cases[] = {
        {T::Int16, "32768"},
        {T::Int16, "-32769"},
        {T::Int16, "1.5"},
        {T::Int16, ""},
        {T::UInt16, "-1"},
        {T::UInt16, "65536"},
        {T::UInt32, "4294967296"},
        {T::Int32, "2147483648"},
        {T::Int64, "9223372036854775808"},
        {T::UInt64, "18446744073709551616"},
        {T::UInt64, "-1"},
        {T::Float32, "1e39"},
        {T::Float32, "abc"},
        {T::Float64, "1.0x"},
        {T::Hex, "0x12345"},
        {T::Hex, "0xG1"},
        {T::Binary, "2"},
        {T::Binary, "11111111111111111"},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(EncodeValue(c.Text, c.Type, O::ABCD).empty()) << DataTypeName(c.Type) << " " << c.Text;
    // Hex and binary texts are read as people type them.
    EXPECT_EQ(EncodeValue("ff", T::Hex, O::ABCD), std::vector<uint16_t>{0x00FF});
    EXPECT_EQ(EncodeValue("1000 0000 0000 0001", T::Binary, O::ABCD), std::vector<uint16_t>{0x8001});
}
