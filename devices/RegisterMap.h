#pragma once
// A register map: named points of the devices on a module's lines, each a value of one unit read
// with one function at one address, decoded by its type and word order and scaled into an
// engineering quantity (value = decoded × scale + offset).

#include "DataTypes.h"
#include "DeviceRequests.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The columns of a map file, in the order they are told in messages and help.
enum class TMapColumn : uint8_t {
    Name,
    Unit,
    Function,
    Address,
    Type,
    Order,
    Count,
    Scale,
    Offset,
    Units,
    Access,
    Description
};

inline constexpr size_t MapColumnCount = size_t(TMapColumn::Description) + 1;

// name, unit, function ... as the header row names them.
std::string_view MapColumnName(TMapColumn column);

struct TMapPoint {
    std::string Name;  // unique in its map
    uint8_t Unit = MinDeviceUnit;
    uint8_t Function = FunctionReadHoldingRegisters;  // 1..4: coil, discrete, holding, input
    uint16_t Address = 0;                             // as on the wire, 0-based
    // Of a register point; a bit point has neither.
    TDataType Type = TDataType::UInt16;
    TWordOrder Order = TWordOrder::ABCD;
    uint16_t Count = 1;  // registers of an ASCII text, two characters each; other types take their own
    double Scale = 1;
    double Offset = 0;
    std::string Units;  // V, kWh ...
    bool Writable = false;
    std::string Description;
    // Comment lines that stood before the point's row, written back before it.
    std::vector<std::string> Comments;
    // Where the point was read from, for messages; 0 for a point made in the program.
    int Line = 0;

    bool IsBit() const { return IsBitFunction(Function); }
    // A value that is a number: a register point of a numeric type.
    bool IsNumber() const;
    // Bits or registers the point takes.
    uint16_t Width() const;
    // The one request that reads the point alone.
    TDeviceRead Read() const { return {Unit, Function, Address, Width()}; }
    // The same point, wherever it was read from.
    bool operator==(const TMapPoint& other) const;
};

struct TRegisterMap {
    std::vector<TMapPoint> Points;
    // The columns of the file in its order, written back so; a map made in the program has the four
    // required ones.
    std::vector<TMapColumn> Columns = {TMapColumn::Name, TMapColumn::Unit, TMapColumn::Function, TMapColumn::Address};
    char Delimiter = ',';
    // Scale and offset written with a decimal comma, as a spreadsheet of a ';' file may have them.
    bool DecimalComma = false;
    std::vector<std::string> TrailingComments;

    const TMapPoint* Find(std::string_view name) const;
    bool operator==(const TRegisterMap&) const = default;
};

// coil, discrete, holding, input for 1..4.
std::string_view MapFunctionName(uint8_t function);

// The point's value from its own registers (or its one bit, 0 or 1), Width() of them: scaled when
// the point is a number and its scale or offset is not the identity, as it was read otherwise (a
// float32 stays a float32, an integer an integer). Fewer registers than the point takes make none.
std::optional<TDeviceValue> DecodePoint(const TMapPoint& point, std::span<const uint16_t> raw);
