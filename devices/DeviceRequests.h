#pragma once
// Requests to the devices on the module's RS-485 lines, carried by the module as a gateway: reads of
// coils, discrete inputs, holding and input registers, and writes of a coil or registers. The
// master's function table has registers only; bit functions go as raw frames.

#include "ModbusMaster.h"
#include "ModuleClient.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

// Function codes of requests to devices.
enum : uint8_t {
    FunctionReadCoils = 1,
    FunctionReadDiscreteInputs = 2,
    FunctionReadInputRegisters = 4,
    FunctionWriteSingleCoil = 5,
    FunctionWriteSingleRegister = 6,
};

// Unit identifiers a device on a line may have; 0 is broadcast and 248.. are reserved.
inline constexpr uint8_t MinDeviceUnit = 1;
inline constexpr uint8_t MaxDeviceUnit = 247;

struct TDeviceRead {
    uint8_t Unit = MinDeviceUnit;
    uint8_t Function = FunctionReadHoldingRegisters;
    uint16_t Address = 0;  // as on the wire, 0-based
    uint16_t Count = 1;    // bits or registers
};

bool IsDeviceReadFunction(uint8_t function);
bool IsBitFunction(uint8_t function);
// The most a read of the function may ask in one request: 2000 bits or 125 registers.
uint16_t MaxReadCount(uint8_t function);
// The protocol can carry the read: a device's unit, a read function, a count it allows.
bool IsCarriedRead(const TDeviceRead& read);

struct TDeviceReply {
    TModuleResult Result;
    std::vector<uint16_t> Raw;  // the registers read, or one 0 or 1 per bit; empty unless Result.Ok()
    double Ms = 0;              // from queueing to the outcome
};

using TDeviceDone = std::function<void(const TDeviceReply&)>;

// Each tells done once, from the event loop, as the client tells its operations. A request the
// protocol cannot carry (unit, function or count out of range) is told as refused.
void ReadDevice(TModuleClient& client, const TDeviceRead& read, TDeviceDone done);
void WriteDeviceCoil(TModuleClient& client, uint8_t unit, uint16_t address, bool on, TDeviceDone done);
// One register goes with function 6, several with 16.
void WriteDeviceRegisters(TModuleClient& client, uint8_t unit, uint16_t address, std::span<const uint16_t> registers,
                          TDeviceDone done);
