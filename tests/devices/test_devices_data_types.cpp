// Registers read as values of every data type and word order, and typed values written back as the
// registers a device expects.
#include "DataTypes.h"

#include <gtest/gtest.h>

#include <string>
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

}  // namespace

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
