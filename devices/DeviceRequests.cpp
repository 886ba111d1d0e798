#include "DeviceRequests.h"

#include "ModbusMaster.h"
#include "modbus.h"

#include <QElapsedTimer>

#include <array>
#include <cstring>

namespace {

constexpr uint16_t MaxReadBits = 2000;
constexpr uint16_t MaxReadRegisters = 125;
constexpr uint16_t MaxWriteRegisters = 123;
constexpr uint16_t CoilOn = 0xFF00;
// Raw frames from the unit identifier on: a read of bits and a coil write take six bytes, and the
// reply to a coil write echoes its request.
constexpr int RawRequestLength = 6;
constexpr int ReplyBitsAt = 3;

using TRawFrame = std::array<uint8_t, RawRequestLength>;

TRawFrame RawRequest(uint8_t unit, uint8_t function, uint16_t address, uint16_t value)
{
    return {unit, function, uint8_t(address >> 8), uint8_t(address), uint8_t(value >> 8), uint8_t(value)};
}

// The master copies a raw order's data as words, one per byte of the frame.
int QueueRawFrame(TModbusMaster& master, const TRawFrame& frame, uint16_t replyLength)
{
    std::array<uint16_t, RawRequestLength> words{};
    std::memcpy(words.data(), frame.data(), frame.size());
    return master.AddOrder(frame[0], 0, replyLength, RawRequestLength, OrderOneShot, words.data());
}

uint16_t BitBytes(uint16_t count)
{
    return uint16_t((count + 7) / 8);
}

bool ValidUnit(uint8_t unit)
{
    return unit >= MinDeviceUnit && unit <= MaxDeviceUnit;
}

// The bits of a read reply, or false when the reply holds fewer than were asked.
bool ReplyBits(std::span<const uint8_t> frame, uint16_t count, std::vector<uint16_t>& bits)
{
    if (frame.size() < size_t(ReplyBitsAt) || frame[2] < BitBytes(count) ||
        frame.size() < size_t(ReplyBitsAt + BitBytes(count)))
        return false;
    bits.resize(count);
    for (uint16_t i = 0; i < count; ++i)
        bits[i] = (frame[ReplyBitsAt + i / 8] >> (i % 8)) & 1;
    return true;
}

void Send(TModuleClient& client, const std::function<int(TModbusMaster&)>& queue,
          std::function<void(TDeviceReply&, TModbusMaster*)> take, TDeviceDone done)
{
    QElapsedTimer clock;
    clock.start();
    client.Exchange(queue, [clock, take = std::move(take), done = std::move(done)](const TModuleResult& result,
                                                                                   TModbusMaster* master) {
        TDeviceReply reply{result, {}, double(clock.nsecsElapsed()) / 1e6};
        if (result.Ok() && take)
            take(reply, master);
        done(reply);
    });
}

int Refused(TModbusMaster&)
{
    return OrderRequestNotEncodable;
}

}  // namespace

bool IsDeviceReadFunction(uint8_t function)
{
    return function >= FunctionReadCoils && function <= FunctionReadInputRegisters;
}

bool IsBitFunction(uint8_t function)
{
    return function == FunctionReadCoils || function == FunctionReadDiscreteInputs;
}

uint16_t MaxReadCount(uint8_t function)
{
    return IsBitFunction(function) ? MaxReadBits : MaxReadRegisters;
}

bool IsCarriedRead(const TDeviceRead& read)
{
    return ValidUnit(read.Unit) && IsDeviceReadFunction(read.Function) && read.Count != 0 &&
           read.Count <= MaxReadCount(read.Function);
}

void ReadDevice(TModuleClient& client, const TDeviceRead& read, TDeviceDone done)
{
    if (!IsCarriedRead(read)) {
        Send(client, Refused, {}, std::move(done));
        return;
    }
    if (IsBitFunction(read.Function)) {
        const TRawFrame frame = RawRequest(read.Unit, read.Function, read.Address, read.Count);
        Send(
            client,
            [&](TModbusMaster& master) { return QueueRawFrame(master, frame, ReplyBitsAt + BitBytes(read.Count)); },
            [count = read.Count](TDeviceReply& reply, TModbusMaster* master) {
                if (!ReplyBits(master->GetReplyFrame(), count, reply.Raw))
                    reply.Result = {StatusWrongLength, StatusText(StatusWrongLength, 0), 0};
            },
            std::move(done));
        return;
    }
    Send(
        client,
        [&](TModbusMaster& master) {
            return master.AddOrder(read.Unit, read.Function, read.Address, read.Count, OrderOneShot, nullptr);
        },
        [count = read.Count](TDeviceReply& reply, TModbusMaster* master) {
            reply.Raw.resize(count);
            master->GetReplyData(std::span<uint16_t>(reply.Raw));
        },
        std::move(done));
}

void WriteDeviceCoil(TModuleClient& client, uint8_t unit, uint16_t address, bool on, TDeviceDone done)
{
    if (!ValidUnit(unit)) {
        Send(client, Refused, {}, std::move(done));
        return;
    }
    const TRawFrame frame = RawRequest(unit, FunctionWriteSingleCoil, address, on ? CoilOn : 0);
    Send(
        client, [&](TModbusMaster& master) { return QueueRawFrame(master, frame, RawRequestLength); },
        [frame](TDeviceReply& reply, TModbusMaster* master) {
            // A coil write's answer repeats its request; anything else did not do what was asked.
            const auto echo = master->GetReplyFrame();
            if (echo.size() != frame.size() || !std::equal(frame.begin(), frame.end(), echo.begin()))
                reply.Result = {StatusWrongLength, StatusText(StatusWrongLength, 0), 0};
        },
        std::move(done));
}

void WriteDeviceRegisters(TModuleClient& client, uint8_t unit, uint16_t address, std::span<const uint16_t> registers,
                          TDeviceDone done)
{
    if (!ValidUnit(unit) || registers.empty() || registers.size() > MaxWriteRegisters) {
        Send(client, Refused, {}, std::move(done));
        return;
    }
    Send(
        client,
        [&](TModbusMaster& master) {
            if (registers.size() == 1)
                return master.AddOrder(unit, FunctionWriteSingleRegister, address, 1, OrderOneShot, registers.data());
            return master.WriteMultipleRegisters(unit, address, registers);
        },
        {}, std::move(done));
}
