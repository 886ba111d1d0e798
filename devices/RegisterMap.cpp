#include "RegisterMap.h"

#include <array>
#include <cmath>
#include <tuple>

namespace {

constexpr std::array<std::string_view, MapColumnCount> ColumnNames = {"name",   "unit",  "function", "address",
                                                                      "type",   "order", "count",    "scale",
                                                                      "offset", "units", "access",   "description"};

constexpr std::array<std::string_view, 4> FunctionNames = {"coil", "discrete", "holding", "input"};

// raw × scale, dividing by the scale's inverse where that is a whole number: 2301 × 0.1 comes out
// as 230.1, not 230.10000000000002, as the decimal a person reads off the device's manual.
double Scaled(double raw, double scale)
{
    const double inverse = 1 / scale;
    if (std::abs(inverse) > 1 && inverse == std::round(inverse))
        return raw / inverse;
    return raw * scale;
}

}  // namespace

std::string_view MapColumnName(TMapColumn column)
{
    return ColumnNames[size_t(column)];
}

std::string_view MapFunctionName(uint8_t function)
{
    return IsDeviceReadFunction(function) ? FunctionNames[size_t(function - 1)] : std::string_view("?");
}

bool TMapPoint::IsNumber() const
{
    return !IsBit() && Type != TDataType::Hex && Type != TDataType::Binary && Type != TDataType::Ascii;
}

uint16_t TMapPoint::Width() const
{
    if (IsBit())
        return 1;
    return Type == TDataType::Ascii ? Count : uint16_t(RegistersPerValue(Type));
}

bool TMapPoint::operator==(const TMapPoint& other) const
{
    const auto fields = [](const TMapPoint& p) {
        return std::tie(p.Name, p.Unit, p.Function, p.Address, p.Type, p.Order, p.Count, p.Scale, p.Offset, p.Units,
                        p.Writable, p.Description, p.Comments);
    };
    return fields(*this) == fields(other);
}

const TMapPoint* TRegisterMap::Find(std::string_view name) const
{
    for (const TMapPoint& point : Points)
        if (point.Name == name)
            return &point;
    return nullptr;
}

std::optional<TDeviceValue> DecodePoint(const TMapPoint& point, std::span<const uint16_t> raw)
{
    if (raw.size() < point.Width())
        return std::nullopt;
    if (point.IsBit())
        return TDeviceValue(raw.front() != 0);
    std::vector<TDeviceValue> values = DecodeRegisters(raw.first(point.Width()), point.Type, point.Order);
    if (values.empty())
        return std::nullopt;
    if (!point.IsNumber() || (point.Scale == 1 && point.Offset == 0))
        return std::move(values.front());
    return TDeviceValue(Scaled(DeviceValueNumber(values.front()).value_or(NAN), point.Scale) + point.Offset);
}
