#include "SimDevice.h"

#include <bit>
#include <cmath>
#include <numbers>

namespace {

constexpr uint8_t ExceptionFlag = 0x80;
constexpr uint8_t IllegalFunction = 0x01;
constexpr uint8_t IllegalDataAddress = 0x02;
constexpr uint8_t IllegalDataValue = 0x03;

// The largest counts one request may carry, as the protocol bounds them.
constexpr int MaxReadBits = 2000;
constexpr int MaxReadRegisters = 125;
constexpr int MaxWriteBits = 1968;
constexpr int MaxWriteRegisters = 123;

constexpr uint16_t CoilOn = 0xFF00;
constexpr int SetPointRegister = 1;
constexpr float SetPoint = 50.0F;
constexpr int TransformerRatioRegister = 6;
constexpr uint16_t TransformerRatio = 100;
constexpr int NameRegister = 8;

int Word(const QByteArray& bytes, int at)
{
    return quint8(bytes[at]) << 8 | quint8(bytes[at + 1]);
}

void AppendWord(QByteArray& bytes, uint16_t value)
{
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xFF));
}

QByteArray Exception(uint8_t function, uint8_t code)
{
    const char pdu[] = {char(function | ExceptionFlag), char(code)};
    return QByteArray(pdu, sizeof pdu);
}

double Wave(double seconds, double period, double phase = 0)
{
    return std::sin(2 * std::numbers::pi * seconds / period + phase);
}

void PutFloat32(uint16_t* at, float value)
{
    const auto bits = std::bit_cast<uint32_t>(value);
    at[0] = uint16_t(bits >> 16);
    at[1] = uint16_t(bits);
}

void PutFloat64(uint16_t* at, double value)
{
    const auto bits = std::bit_cast<uint64_t>(value);
    for (int k = 0; k < 4; ++k)
        at[k] = uint16_t(bits >> (48 - 16 * k));
}

}  // namespace

TSimDevice::TSimDevice(int channel, uint8_t unit, const TSerialSettings& serial)
    : Channel_(channel)
    , Unit_(unit)
    , Serial_(serial)
{
    Holding_[0] = unit;
    PutFloat32(&Holding_[SetPointRegister], SetPoint);
    Holding_[TransformerRatioRegister] = TransformerRatio;
    const QByteArray name = QByteArray("METER-") + QByteArray::number(unit).rightJustified(3, '0');
    for (int k = 0; k < name.size(); ++k)
        Holding_[size_t(NameRegister + k / 2)] |= uint16_t(quint8(name[k]) << (k % 2 == 0 ? 8 : 0));
    Coils_[0] = true;
}

std::array<uint16_t, TSimDevice::InputRegisterCount> TSimDevice::InputRegisters(uint8_t unit, double seconds)
{
    std::array<uint16_t, InputRegisterCount> registers{};
    const auto voltage = float(230 + 10 * Wave(seconds, 60));
    const auto current = float(5 + unit / 10.0 + 2 * Wave(seconds, 90));
    PutFloat32(&registers[0], voltage);
    PutFloat32(&registers[2], current);
    PutFloat32(&registers[4], voltage * current);
    const auto energy = uint32_t(1000 * unit + std::floor(seconds / 10));
    registers[6] = uint16_t(energy >> 16);
    registers[7] = uint16_t(energy);
    registers[8] = uint16_t(1 | (int64_t(std::floor(seconds / 30)) % 2) << 1);
    registers[9] = uint16_t(int16_t(std::lround(100 * Wave(seconds, 120)) - 50));
    PutFloat64(&registers[10], 50 + 0.05 * Wave(seconds, 30));
    const double third = 2 * std::numbers::pi / 3;
    PutFloat32(&registers[16], float(230 + 10 * Wave(seconds, 60, -third)));
    PutFloat32(&registers[18], float(230 + 10 * Wave(seconds, 60, third)));
    PutFloat32(&registers[20], float(5 + unit / 10.0 + 2 * Wave(seconds, 90, -third)));
    PutFloat32(&registers[22], float(5 + unit / 10.0 + 2 * Wave(seconds, 90, third)));
    registers[24] = uint16_t(int16_t(std::lround(900 + 50 * Wave(seconds, 45))));
    registers[25] = uint16_t(std::lround(5000 + 5 * Wave(seconds, 30)));
    // Low word first, as some meters keep their counters.
    const auto reactive = uint32_t(500 * unit + std::floor(seconds / 20));
    registers[26] = uint16_t(reactive);
    registers[27] = uint16_t(reactive >> 16);
    const auto running = uint32_t(std::floor(seconds));
    registers[28] = uint16_t(running >> 16);
    registers[29] = uint16_t(running);
    return registers;
}

bool TSimDevice::DiscreteInput(int index, double seconds)
{
    return (int64_t(std::floor(seconds)) >> index & 1) != 0;
}

QByteArray TSimDevice::Answer(const QByteArray& request, double seconds)
{
    if (request.isEmpty())
        return Exception(0, IllegalFunction);
    const auto function = uint8_t(request[0]);
    switch (function) {
    case 1:
    case 2: return ReadBits(function, request, seconds);
    case 3:
    case 4: return ReadRegisters(function, request, seconds);
    case 5:
    case 6: return WriteSingle(function, request);
    case 15:
    case 16: return WriteMultiple(function, request);
    default: return Exception(function, IllegalFunction);
    }
}

QByteArray TSimDevice::ReadBits(uint8_t function, const QByteArray& request, double seconds) const
{
    if (request.size() != 5)
        return Exception(function, IllegalDataValue);
    const int first = Word(request, 1), count = Word(request, 3);
    if (count < 1 || count > MaxReadBits)
        return Exception(function, IllegalDataValue);
    const int size = function == 1 ? CoilCount : DiscreteInputCount;
    if (first + count > size)
        return Exception(function, IllegalDataAddress);
    QByteArray reply(2 + (count + 7) / 8, '\0');
    reply[0] = char(function);
    reply[1] = char((count + 7) / 8);
    for (int k = 0; k < count; ++k) {
        const bool on = function == 1 ? Coils_[size_t(first + k)] : DiscreteInput(first + k, seconds);
        if (on)
            reply[2 + k / 8] = char(quint8(reply[2 + k / 8]) | 1 << (k % 8));
    }
    return reply;
}

QByteArray TSimDevice::ReadRegisters(uint8_t function, const QByteArray& request, double seconds) const
{
    if (request.size() != 5)
        return Exception(function, IllegalDataValue);
    const int first = Word(request, 1), count = Word(request, 3);
    if (count < 1 || count > MaxReadRegisters)
        return Exception(function, IllegalDataValue);
    const int size = function == 3 ? HoldingRegisterCount : InputRegisterCount;
    if (first + count > size)
        return Exception(function, IllegalDataAddress);
    const auto inputs = InputRegisters(Unit_, seconds);
    QByteArray reply;
    reply.append(char(function));
    reply.append(char(2 * count));
    for (int k = 0; k < count; ++k)
        AppendWord(reply, function == 3 ? Holding_[size_t(first + k)] : inputs[size_t(first + k)]);
    return reply;
}

QByteArray TSimDevice::WriteSingle(uint8_t function, const QByteArray& request)
{
    if (request.size() != 5)
        return Exception(function, IllegalDataValue);
    const int at = Word(request, 1), value = Word(request, 3);
    if (function == 5) {
        if (value != CoilOn && value != 0)
            return Exception(function, IllegalDataValue);
        if (at >= CoilCount)
            return Exception(function, IllegalDataAddress);
        Coils_[size_t(at)] = value == CoilOn;
    } else {
        if (at >= HoldingRegisterCount)
            return Exception(function, IllegalDataAddress);
        Holding_[size_t(at)] = uint16_t(value);
    }
    return request;  // the echo is the reply
}

QByteArray TSimDevice::WriteMultiple(uint8_t function, const QByteArray& request)
{
    if (request.size() < 6)
        return Exception(function, IllegalDataValue);
    const int first = Word(request, 1), count = Word(request, 3), bytes = quint8(request[5]);
    const bool coils = function == 15;
    const int expectedBytes = coils ? (count + 7) / 8 : 2 * count;
    if (count < 1 || count > (coils ? MaxWriteBits : MaxWriteRegisters) || bytes != expectedBytes ||
        request.size() != 6 + bytes)
        return Exception(function, IllegalDataValue);
    if (first + count > (coils ? CoilCount : HoldingRegisterCount))
        return Exception(function, IllegalDataAddress);
    for (int k = 0; k < count; ++k) {
        if (coils)
            Coils_[size_t(first + k)] = (quint8(request[6 + k / 8]) >> (k % 8) & 1) != 0;
        else
            Holding_[size_t(first + k)] = uint16_t(Word(request, 6 + 2 * k));
    }
    return request.left(5);
}
