#pragma once
// A simulated meter on one of the module's RS-485 lines: its serial settings and its four tables.
// Input registers and discrete inputs follow the time since the simulator started, so that a poll
// sees values move and a test can compute what it should see; holding registers and coils keep
// what is written.
//
// Input registers (function 04), 32- and 64-bit values high word first (ABCD) unless said, t in
// seconds, u the device's unit, phase shifts of a third of a period for L2 (-) and L3 (+):
//   0-1   voltage L1, float32, V   230 + 10 sin(2 pi t / 60)
//   2-3   current L1, float32, A   5 + u / 10 + 2 sin(2 pi t / 90)
//   4-5   power, float32, W        voltage * current (each as float32)
//   6-7   energy, uint32, Wh       1000 u + floor(t / 10)
//   8     status word              bit 0 always set (in service), bit 1 set in every odd 30 s
//   9     temperature, int16       round(100 sin(2 pi t / 120)) - 50, in 0.1 degrees C
//   10-13 frequency, float64, Hz   50 + 0.05 sin(2 pi t / 30)
//   14-15 zero
//   16-19 voltage L2, L3, float32, V
//   20-23 current L2, L3, float32, A
//   24    power factor, int16      round(900 + 50 sin(2 pi t / 45)), in 0.001
//   25    frequency, uint16        round(5000 + 5 sin(2 pi t / 30)), in 0.01 Hz
//   26-27 reactive energy, uint32, varh, LOW word first (CDAB): 500 u + floor(t / 20)
//   28-29 running time, uint32, s  floor(t)
//   30-31 zero
// Discrete inputs 0..15 (function 02): input k is bit k of floor(t).
// Holding registers 0..63 (03, 06, 16): 0 holds u, 1-2 the set point 50.0 as float32, 6 the current
// transformer ratio 100, 8..12 the name "METER-uuu" as ASCII, two characters a register, first in
// the high byte; the rest zero.
// Coils 0..15 (01, 05, 15): coil 0 set, the rest clear.
// share/KorvelService/maps/module-sim-meters.csv is the register map of three of them.

#include <QByteArray>

#include <array>
#include <cstdint>

struct TSerialSettings {
    uint16_t BaudIndex;  // into BaudRates, as the configuration record holds it
    uint16_t Parity;     // 0 none, 1 odd, 2 even
    uint16_t StopBits;   // 0 one, 1 two
    bool operator==(const TSerialSettings&) const = default;
};

class TSimDevice {
public:
    static constexpr int InputRegisterCount = 32;
    static constexpr int HoldingRegisterCount = 64;
    static constexpr int CoilCount = 16;
    static constexpr int DiscreteInputCount = 16;

    // channel: 0 or 1, as the configuration record numbers them.
    TSimDevice(int channel, uint8_t unit, const TSerialSettings& serial);

    int Channel() const { return Channel_; }
    uint8_t Unit() const { return Unit_; }
    const TSerialSettings& Serial() const { return Serial_; }

    // The reply PDU to a request PDU (function code and data) at t seconds; an exception reply
    // for a function, address or count the device does not serve.
    QByteArray Answer(const QByteArray& request, double seconds);

    static std::array<uint16_t, InputRegisterCount> InputRegisters(uint8_t unit, double seconds);
    static bool DiscreteInput(int index, double seconds);
    uint16_t HoldingRegister(int index) const { return Holding_[size_t(index)]; }
    bool Coil(int index) const { return Coils_[size_t(index)]; }

private:
    QByteArray ReadBits(uint8_t function, const QByteArray& request, double seconds) const;
    QByteArray ReadRegisters(uint8_t function, const QByteArray& request, double seconds) const;
    QByteArray WriteSingle(uint8_t function, const QByteArray& request);
    QByteArray WriteMultiple(uint8_t function, const QByteArray& request);

    int Channel_;
    uint8_t Unit_;
    TSerialSettings Serial_;
    std::array<uint16_t, HoldingRegisterCount> Holding_{};
    std::array<bool, CoilCount> Coils_{};
};
